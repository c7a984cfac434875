#include "HttpServer.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace zeb::view {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

std::string HttpRequest::Header(const std::string& lowerCaseName) const {
    const auto found = headers.find(lowerCaseName);
    return found == headers.end() ? std::string() : found->second;
}

std::string HttpRequest::Query(const std::string& name, const std::string& otherwise) const {
    const auto found = query.find(name);
    return found == query.end() ? otherwise : found->second;
}

HttpResponse HttpResponse::Text(int status, std::string text) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(text);
    return response;
}

HttpResponse HttpResponse::Json(int status, const std::string& json) {
    HttpResponse response;
    response.status = status;
    response.contentType = "application/json";
    response.body = json;
    return response;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent-decodes `text`; in a query '+' stands for a blank. False for a malformed escape or a NUL.
bool Decode(const std::string& text, bool query, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return false;
            const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && query) {
            c = ' ';
        }
        if (c == '\0')
            return false;
        out += c;
    }
    return true;
}

} // namespace

bool ParseTarget(const std::string& target, std::string& path, std::map<std::string, std::string>& query) {
    query.clear();
    if (target.empty() || target[0] != '/')
        return false;
    const size_t mark = target.find('?');
    if (!Decode(target.substr(0, mark), false, path))
        return false;
    if (mark == std::string::npos)
        return true;
    const std::string text = target.substr(mark + 1);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            std::string name, value;
            if (!Decode(pair.substr(0, equals), true, name) ||
                !Decode(equals == std::string::npos ? std::string() : pair.substr(equals + 1), true, value))
                return false;
            query[name] = value;
        }
        start = end + 1;
    }
    return true;
}

struct HttpServer::State {
    State(Handler handler_, Limits limits_)
        : handler(std::move(handler_)), limits(limits_), pool(limits_.handlerThreads) {}
    ~State() { acceptor.reset(); }

    void Accept();
    // Counts a request from reading it to writing its answer, so Stop can wait for the answers.
    void Begin() {
        std::lock_guard<std::mutex> lock(busyMutex);
        ++busy;
    }
    void End() {
        std::lock_guard<std::mutex> lock(busyMutex);
        if (--busy == 0)
            idle.notify_all();
    }

    Handler handler;
    Limits limits;
    net::thread_pool pool;
    std::atomic<bool> stopping{false};
    std::atomic<size_t> connections{0};
    std::atomic<uint64_t> answered{0}, malformed{0};
    std::mutex busyMutex;
    std::condition_variable idle;
    size_t busy = 0;
    std::mutex startStop;
    bool started = false, stopped = false;
    std::vector<std::thread> ioThreads;
    std::optional<tcp::acceptor> acceptor;
    // Last, so that it goes first: destroying it destroys the connections still waiting in it.
    net::io_context io;
};

namespace {

bool IsParseError(const beast::error_code& error) {
    return error.category() == beast::error_code(http::error::bad_method).category() &&
           error != http::error::end_of_stream && error != http::error::partial_message;
}

int StatusOfParseError(const beast::error_code& error) {
    if (error == http::error::body_limit)
        return 413;
    if (error == http::error::header_limit)
        return 431;
    return 400;
}

// One client connection: reads a request, has it handled on the pool, writes the answer, and again
// while the client keeps the connection alive.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, HttpServer::State& state) : _stream(std::move(socket)), _state(state) {
        ++_state.connections;
    }
    ~Connection() { --_state.connections; }

    void Start() {
        net::dispatch(_stream.get_executor(), [self = shared_from_this()] { self->Read(); });
    }

    // Answers 503 at once and closes: the server has as many connections as it takes.
    void Refuse() {
        net::dispatch(_stream.get_executor(), [self = shared_from_this()] {
            self->_state.Begin();
            self->Write(HttpResponse::Text(503, "too many connections; try again later"), 11, false);
        });
    }

private:
    void Read() {
        _parser.emplace();
        _parser->header_limit(static_cast<std::uint32_t>(_state.limits.headerBytes));
        _parser->body_limit(static_cast<std::uint64_t>(_state.limits.bodyBytes));
        _stream.expires_after(_state.limits.readTimeout);
        http::async_read(
            _stream, _buffer, *_parser,
            [self = shared_from_this()](beast::error_code error, size_t) { self->OnRead(error); });
    }

    void OnRead(beast::error_code error) {
        if (error) {
            if (IsParseError(error)) {
                ++_state.malformed;
                _state.Begin();
                Write(HttpResponse::Text(StatusOfParseError(error), "malformed request: " + error.message()),
                      11, false);
            } else {
                Close();
            }
            return;
        }
        http::request<http::string_body> message = _parser->release();
        const unsigned version = message.version();
        const bool keepAlive = message.keep_alive();
        _state.Begin();
        if (_state.stopping) {
            Write(HttpResponse::Text(503, "zeb view is stopping"), version, false);
            return;
        }
        auto request = std::make_shared<HttpRequest>();
        request->method = std::string(message.method_string());
        request->body = std::move(message.body());
        for (const auto& field : message) {
            std::string name(field.name_string());
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            request->headers[name] = std::string(field.value());
        }
        if (!ParseTarget(std::string(message.target()), request->path, request->query)) {
            ++_state.malformed;
            Write(HttpResponse::Text(400, "malformed request target: it must be a path with well-formed "
                                          "%XX escapes and no NUL"),
                  version, false);
            return;
        }
        net::post(_state.pool, [self = shared_from_this(), request, version, keepAlive] {
            HttpResponse response;
            try {
                response = self->_state.handler(*request);
            } catch (const std::exception& failure) {
                response = HttpResponse::Text(500, std::string("internal error: ") + failure.what());
            } catch (...) {
                response = HttpResponse::Text(500, "internal error");
            }
            net::post(self->_stream.get_executor(),
                      [self, response = std::move(response), version, keepAlive] {
                          self->Write(response, version, keepAlive && !self->_state.stopping);
                      });
        });
    }

    // Writes the answer; then reads the next request, or closes.
    void Write(const HttpResponse& response, unsigned version, bool keepAlive) {
        auto message = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(response.status), version);
        message->set(http::field::server, "zeb view");
        message->set(http::field::content_type, response.contentType);
        message->set(http::field::cache_control, "no-store");
        for (const auto& [name, value] : response.headers)
            message->set(name, value);
        message->keep_alive(keepAlive);
        message->body() = response.body;
        message->prepare_payload();
        _stream.expires_after(_state.limits.writeTimeout);
        http::async_write(_stream, *message,
                          [self = shared_from_this(), message, keepAlive](beast::error_code error, size_t) {
                              ++self->_state.answered;
                              self->_state.End();
                              if (error)
                                  return self->Close();
                              if (keepAlive)
                                  return self->Read();
                              self->Linger();
                          });
    }

    // After the last answer: stops sending and reads what the client still sends until it closes
    // (bounded), so that closing does not reset the connection before the client has the answer.
    void Linger() {
        beast::error_code ignored;
        _stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        _stream.expires_after(std::chrono::seconds(2));
        _stream.async_read_some(net::buffer(_drain),
                                [self = shared_from_this()](beast::error_code error, size_t) {
                                    if (error || ++self->_drained > 64)
                                        return self->Close();
                                    self->Linger();
                                });
    }

    void Close() {
        beast::error_code ignored;
        _stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        _stream.close();
    }

    beast::tcp_stream _stream;
    HttpServer::State& _state;
    beast::flat_buffer _buffer;
    std::optional<http::request_parser<http::string_body>> _parser;
    char _drain[1024];
    int _drained = 0;
};

} // namespace

void HttpServer::State::Accept() {
    acceptor->async_accept(net::make_strand(io), [this](beast::error_code error, tcp::socket socket) {
        if (error == net::error::operation_aborted || stopping)
            return;
        if (error) {
            // Out of descriptors or similar: wait a little instead of spinning.
            auto timer = std::make_shared<net::steady_timer>(io, std::chrono::milliseconds(100));
            timer->async_wait([this, timer](beast::error_code) { Accept(); });
            return;
        }
        auto connection = std::make_shared<Connection>(std::move(socket), *this);
        if (connections > limits.connections)
            connection->Refuse();
        else
            connection->Start();
        Accept();
    });
}

HttpServer::HttpServer(Handler handler, Limits limits)
    : _state(std::make_unique<State>(std::move(handler), limits)) {}

HttpServer::~HttpServer() {
    Stop();
}

uint16_t HttpServer::Start(const std::string& address, uint16_t port) {
    std::lock_guard<std::mutex> lock(_state->startStop);
    if (_state->started)
        throw std::logic_error("the server is already started");
    beast::error_code error;
    const net::ip::address ip = net::ip::make_address(address, error);
    if (error)
        throw std::runtime_error("\"" + address + "\" is not an IP address");
    const tcp::endpoint endpoint(ip, port);
    tcp::acceptor& acceptor = _state->acceptor.emplace(_state->io);
    auto fail = [&](const std::string& what) {
        _state->acceptor.reset();
        throw std::runtime_error("cannot " + what + " " + address + " port " + std::to_string(port) + ": " +
                                 error.message());
    };
    acceptor.open(endpoint.protocol(), error);
    if (error)
        fail("listen on");
#if !defined(_WIN32)
    // A restarted server may take its port again at once (on Windows this option would let two
    // servers share the port).
    acceptor.set_option(net::socket_base::reuse_address(true), error);
#endif
    acceptor.bind(endpoint, error);
    if (error)
        fail("bind to");
    acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error)
        fail("listen on");
    const uint16_t bound = acceptor.local_endpoint().port();
    _state->started = true;
    _state->Accept();
    for (int i = 0; i < 2; ++i)
        _state->ioThreads.emplace_back([state = _state.get()] { state->io.run(); });
    return bound;
}

void HttpServer::Stop() {
    std::lock_guard<std::mutex> lock(_state->startStop);
    if (!_state->started || _state->stopped)
        return;
    _state->stopped = true;
    _state->stopping = true;
    net::post(_state->io, [state = _state.get()] {
        beast::error_code ignored;
        state->acceptor->close(ignored);
    });
    // The requests being handled are answered; then the connections go with the I/O threads.
    _state->pool.join();
    {
        std::unique_lock<std::mutex> busy(_state->busyMutex);
        _state->idle.wait_for(busy, std::chrono::seconds(5), [&] { return _state->busy == 0; });
    }
    _state->io.stop();
    for (std::thread& thread : _state->ioThreads)
        thread.join();
    _state->ioThreads.clear();
}

uint64_t HttpServer::Answered() const {
    return _state->answered;
}

uint64_t HttpServer::Malformed() const {
    return _state->malformed;
}

} // namespace zeb::view
