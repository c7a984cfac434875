#include "HttpClient.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <sstream>
#include <stdexcept>
#include <thread>

namespace zeb::test {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

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
    http::request<http::string_body> request;
    request.method_string(method);
    request.target(target);
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
    std::ostringstream bytes;
    bytes << request;
    // The server closes the connection after its answer: all it sent is the answer.
    const std::string received = Raw(bytes.str());
    http::response_parser<http::string_body> parser;
    parser.body_limit(256 * 1024 * 1024);
    parser.eager(true);
    beast::error_code failure;
    parser.put(net::buffer(received), failure);
    if (!failure && !parser.is_done())
        parser.put_eof(failure);
    if (failure || !parser.is_done())
        throw std::runtime_error(method + " " + target + ": no whole answer (" + failure.message() +
                                 "): " + received.substr(0, 200));
    HttpAnswer answer{static_cast<int>(parser.get().result_int()), parser.get().body(), {}};
    for (const auto& field : parser.get()) {
        std::string name(field.name_string());
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        answer.headers[name] = std::string(field.value());
    }
    return answer;
}

std::string HttpClient::Raw(const std::string& bytes, bool closeAfterSending) const {
    IdleConnections connection(_port, 1, bytes, _address);
    return closeAfterSending ? std::string() : connection.Read({}, Guard)[0];
}

struct IdleConnections::Sockets {
    net::io_context io;
    std::vector<tcp::socket> sockets;
    std::vector<std::string> received;
};

IdleConnections::IdleConnections(uint16_t port, int count, const std::string& start,
                                 const std::string& address)
    : _sockets(std::make_unique<Sockets>()) {
    for (int i = 0; i < count; ++i) {
        tcp::socket& socket = _sockets->sockets.emplace_back(_sockets->io);
        socket.connect(tcp::endpoint(net::ip::make_address(address), port));
        beast::error_code closed; // by a server that answers before it has read it all
        net::write(socket, net::buffer(start), closed);
    }
}

IdleConnections::~IdleConnections() = default;

int IdleConnections::Closed() {
    int closed = 0;
    for (tcp::socket& socket : _sockets->sockets) {
        // A closed connection reads its end of file (after the server's answer, if any).
        beast::error_code error;
        socket.non_blocking(true);
        std::array<char, 1024> chunk{};
        while (!error)
            socket.read_some(net::buffer(chunk), error);
        closed += error != net::error::would_block && error != net::error::try_again;
    }
    return closed;
}

void IdleConnections::Send(const std::string& bytes) {
    for (tcp::socket& socket : _sockets->sockets)
        net::write(socket, net::buffer(bytes));
}

std::vector<std::string> IdleConnections::Read(const std::string& until, std::chrono::seconds guard) {
    Sockets& s = *_sockets;
    s.received.resize(s.sockets.size());
    std::vector<std::array<char, 16384>> chunks(s.sockets.size());
    size_t reading = 0;
    std::function<void(size_t)> more = [&](size_t i) {
        if (!until.empty() && s.received[i].find(until) != std::string::npos)
            return;
        ++reading;
        s.sockets[i].async_read_some(net::buffer(chunks[i]), [&, i](beast::error_code error, size_t count) {
            --reading;
            s.received[i].append(chunks[i].data(), count);
            if (!error)
                more(i);
        });
    };
    for (size_t i = 0; i < s.sockets.size(); ++i)
        more(i);
    s.io.restart();
    s.io.run_for(guard);
    if (reading == 0)
        return s.received;
    for (tcp::socket& socket : s.sockets)
        socket.cancel();
    s.io.restart();
    s.io.run();
    throw std::runtime_error("the server neither answered nor closed the connection within the guard");
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
    return answer.starts_with("HTTP/1.") && answer.size() >= 12 ? std::atoi(answer.substr(9, 3).c_str()) : 0;
}

} // namespace zeb::test
