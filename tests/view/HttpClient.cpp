#include "HttpClient.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <stdexcept>
#include <thread>

namespace zeb::test {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

std::string HttpAnswer::Header(const std::string& lowerCaseName) const {
    const auto found = headers.find(lowerCaseName);
    return found == headers.end() ? std::string() : found->second;
}

nlohmann::json HttpAnswer::Json() const {
    return nlohmann::json::parse(body);
}

HttpClient::HttpClient(uint16_t port, std::string page, std::string address)
    : _port(port), _page(std::move(page)), _address(std::move(address)) {}

HttpClient HttpClient::Unmarked() const {
    HttpClient client(_port, {}, _address);
    client._marked = false;
    return client;
}

std::string HttpClient::Host() const {
    const bool v6 = _address.find(':') != std::string::npos;
    return (v6 ? "[" + _address + "]" : _address) + ":" + std::to_string(_port);
}

HttpAnswer HttpClient::Send(const std::string& method, const std::string& target, const std::string& body,
                            const Headers& headers) const {
    net::io_context io;
    beast::tcp_stream stream(io);
    http::request<http::string_body> request;
    request.method_string(method);
    request.target(target);
    request.version(11);
    request.set(http::field::host, Host());
    request.set(http::field::connection, "close");
    if (!_page.empty())
        request.set("X-Zeb-Client", _page);
    else if (_marked)
        request.set("X-Zeb-Script", "1");
    for (const auto& [name, value] : headers)
        request.set(name, value);
    request.body() = body;
    if (method != "GET" || !body.empty())
        request.prepare_payload();
    http::response_parser<http::string_body> parser;
    parser.body_limit(256 * 1024 * 1024);
    beast::flat_buffer buffer;
    beast::error_code failure;
    std::string step = "connect";
    stream.expires_after(Guard);
    stream.async_connect(tcp::endpoint(net::ip::make_address(_address), _port), [&](beast::error_code error) {
        if (error)
            return void(failure = error);
        step = "send";
        http::async_write(stream, request, [&](beast::error_code writeError, size_t) {
            if (writeError)
                return void(failure = writeError);
            step = "receive";
            http::async_read(stream, buffer, parser,
                             [&](beast::error_code readError, size_t) { failure = readError; });
        });
    });
    io.run();
    if (failure)
        throw std::runtime_error(method + " " + target + ": cannot " + step + ": " + failure.message());
    const auto& response = parser.get();
    HttpAnswer answer;
    answer.status = static_cast<int>(response.result_int());
    answer.body = response.body();
    for (const auto& field : response) {
        std::string name(field.name_string());
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        answer.headers[name] = std::string(field.value());
    }
    return answer;
}

std::string HttpClient::Raw(const std::string& bytes, bool closeAfterSending) const {
    net::io_context io;
    beast::tcp_stream stream(io);
    std::string received;
    std::array<char, 4096> chunk{};
    beast::error_code failure;
    std::function<void()> readMore = [&] {
        stream.async_read_some(net::buffer(chunk), [&](beast::error_code error, size_t count) {
            received.append(chunk.data(), count);
            if (!error)
                readMore();
            else if (error != net::error::eof && error != net::error::connection_reset)
                failure = error;
        });
    };
    stream.expires_after(Guard);
    stream.async_connect(tcp::endpoint(net::ip::make_address(_address), _port), [&](beast::error_code error) {
        if (error)
            return void(failure = error);
        net::async_write(stream, net::buffer(bytes), [&](beast::error_code writeError, size_t) {
            if (closeAfterSending) {
                stream.close();
                return;
            }
            if (writeError && writeError != net::error::connection_reset &&
                writeError != net::error::broken_pipe)
                return void(failure = writeError);
            readMore();
        });
    });
    io.run();
    if (failure == beast::error::timeout)
        throw std::runtime_error("the server neither answered nor closed the connection within the guard");
    return received;
}

struct IdleConnections::Sockets {
    net::io_context io;
    std::vector<tcp::socket> sockets;
};

IdleConnections::IdleConnections(uint16_t port, int count, const std::string& start)
    : _sockets(std::make_unique<Sockets>()) {
    for (int i = 0; i < count; ++i) {
        tcp::socket& socket = _sockets->sockets.emplace_back(_sockets->io);
        socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
        if (!start.empty())
            net::write(socket, net::buffer(start));
    }
}

IdleConnections::~IdleConnections() {
    for (tcp::socket& socket : _sockets->sockets) {
        beast::error_code ignored;
        socket.close(ignored);
    }
}

int IdleConnections::Closed() {
    int closed = 0;
    for (tcp::socket& socket : _sockets->sockets) {
        // A closed connection is readable: its end of file (after the server's answer, if any).
        beast::error_code error;
        socket.non_blocking(true);
        std::array<char, 1024> chunk{};
        while (true) {
            socket.read_some(net::buffer(chunk), error);
            if (error)
                break;
        }
        if (error != net::error::would_block && error != net::error::try_again)
            ++closed;
    }
    return closed;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds guard) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int RawStatus(const std::string& answer) {
    if (!answer.starts_with("HTTP/1.") || answer.size() < 12)
        return 0;
    return std::atoi(answer.substr(9, 3).c_str());
}

} // namespace zeb::test
