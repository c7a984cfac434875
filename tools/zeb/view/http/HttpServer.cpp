#include "view/http/HttpServer.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>

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

HttpResponse HttpWait::Later(std::chrono::milliseconds longest, std::function<void(const Wake&)> watch,
                             std::function<HttpResponse()> answer) {
    auto wait = std::make_shared<HttpWait>();
    wait->longest = longest;
    wait->watch = std::move(watch);
    wait->answer = std::move(answer);
    HttpResponse response;
    response.wait = std::move(wait);
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

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

int StatusOfParseError(const beast::error_code& error) {
    if (error == http::error::body_limit)
        return 413;
    if (error == http::error::header_limit)
        return 431;
    return 400;
}

} // namespace

struct RequestReader::Parser {
    http::request_parser<http::string_body> beast;
    bool headerChecked = false;
};

RequestReader::RequestReader(size_t headerBytes, size_t bodyBytes)
    : _headerBytes(headerBytes), _bodyBytes(bodyBytes) {}

RequestReader::~RequestReader() = default;

RequestReader::Step RequestReader::Refuse(int status, std::string text) {
    _parser.reset();
    _refusal = HttpResponse::Text(status, std::move(text));
    return Step::Malformed;
}

RequestReader::Step RequestReader::Feed(std::string_view bytes, size_t& used) {
    used = 0;
    if (!_parser) {
        _parser = std::make_unique<Parser>();
        _parser->beast.header_limit(static_cast<std::uint32_t>(_headerBytes));
        _parser->beast.body_limit(static_cast<std::uint64_t>(_bodyBytes));
    }
    auto& beast = _parser->beast;
    while (true) {
        if (beast.is_header_done() && !_parser->headerChecked) {
            // Beast goes by the last transfer coding alone and lets a body follow a request that
            // has none; a client or proxy that reads the codings otherwise would see another
            // request in that body. Only a lone "chunked" is taken.
            _parser->headerChecked = true;
            const auto& fields = beast.get();
            std::vector<std::string> codings;
            const auto [first, last] = fields.equal_range(http::field::transfer_encoding);
            for (auto field = first; field != last; ++field) {
                const std::string_view value(field->value().data(), field->value().size());
                size_t start = 0;
                while (start <= value.size()) {
                    const size_t end = std::min(value.find(',', start), value.size());
                    codings.push_back(Lower(Trimmed(value.substr(start, end - start))));
                    start = end + 1;
                }
            }
            if (!codings.empty()) {
                if (fields.version() < 11 || codings.back() != "chunked" ||
                    std::count(codings.begin(), codings.end(), "chunked") > 1 ||
                    std::find(codings.begin(), codings.end(), "") != codings.end())
                    return Refuse(400, "malformed request: a body's length must be given by Content-Length "
                                       "or by \"Transfer-Encoding: chunked\" alone (HTTP/1.1)");
                if (codings.size() > 1)
                    return Refuse(501, "transfer coding \"" + codings.front() +
                                           "\" is not supported: send the body as it is, or chunked");
            }
            if (fields.count(http::field::host) > 1)
                return Refuse(400, "malformed request: more than one Host header");
            beast.eager(true);
        }
        if (beast.is_done())
            return Complete();
        if (used == bytes.size())
            return Step::NeedMore;
        beast::error_code error;
        used += beast.put(net::buffer(bytes.data() + used, bytes.size() - used), error);
        if (error == http::error::need_more)
            return Step::NeedMore;
        if (error)
            return Refuse(StatusOfParseError(error), "malformed request: " + error.message());
    }
}

RequestReader::Step RequestReader::Complete() {
    http::request<http::string_body> message = _parser->beast.release();
    _parser.reset();
    _version = message.version();
    _keepAlive = message.keep_alive();
    _request = HttpRequest();
    _request.method = std::string(message.method_string());
    for (const auto& field : message)
        _request.headers[Lower(std::string_view(field.name_string().data(), field.name_string().size()))] =
            std::string(field.value());
    _request.body = std::move(message.body());
    if (!ParseTarget(std::string(message.target()), _request.path, _request.query))
        return Refuse(400,
                      "malformed request target: it must be a path with well-formed %XX escapes and no NUL");
    return Step::Request;
}

namespace {

// On every answer: no page of another site may frame, embed or read what zeb view serves, and the
// page may load nothing but its own files.
const std::pair<const char*, const char*> SafetyHeaders[] = {
    {"Content-Security-Policy",
     "default-src 'self'; img-src 'self' blob: data:; style-src 'self' 'unsafe-inline'; "
     "object-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Frame-Options", "DENY"},
    {"X-Content-Type-Options", "nosniff"},
    {"Cross-Origin-Resource-Policy", "same-origin"},
    {"Referrer-Policy", "no-referrer"},
};

class Connection;

// What a connection is doing; the ones that wait on their client are "slow" and make room first.
enum class Phase { Reading, Handling, Waiting, Writing, Lingering };

bool WaitsOnClient(Phase phase) {
    return phase == Phase::Reading || phase == Phase::Writing || phase == Phase::Lingering;
}

using Clock = std::chrono::steady_clock;

} // namespace

struct HttpServer::State {
    State(Handler handler_, Limits limits_)
        : handler(std::move(handler_)), limits(limits_), pool(limits_.handlerThreads) {}
    ~State() { acceptor.reset(); }

    void Accept();
    // Makes room for a connection from `client`: the connection that has waited longest on its
    // client, among those of the client holding the most such connections, is closed; failing that,
    // the oldest long poll is answered now. False when every connection is busy being answered.
    bool MakeRoom();
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
    void Gone(Connection* connection) {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry.erase(connection);
        if (registry.empty())
            idle.notify_all();
    }
    // Waits until `done` holds (checked under busyMutex whenever a request ends or a connection
    // goes) or `longest` has passed.
    template <class Done> void WaitFor(std::chrono::milliseconds longest, Done done) {
        const auto until = Clock::now() + longest;
        std::unique_lock<std::mutex> lock(busyMutex);
        while (!done() && Clock::now() < until)
            idle.wait_for(lock, std::chrono::milliseconds(20));
    }
    size_t Connections() {
        std::lock_guard<std::mutex> lock(registryMutex);
        return registry.size();
    }
    std::vector<std::shared_ptr<Connection>> Snapshot();

    Handler handler;
    Limits limits;
    net::thread_pool pool;
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> answered{0}, malformed{0};
    std::mutex busyMutex;
    std::condition_variable idle;
    size_t busy = 0;
    std::mutex registryMutex;
    std::unordered_map<Connection*, std::weak_ptr<Connection>> registry;
    std::mutex startStop;
    bool started = false, stopped = false;
    std::vector<std::thread> ioThreads;
    std::optional<tcp::acceptor> acceptor;
    // Last, so that it goes first: destroying it destroys the connections still waiting in it.
    net::io_context io;
    // Keeps the I/O threads running while no operation is pending (a request on the pool).
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
};

namespace {

// One client connection: reads a request, has it handled on the pool (or waits for what its answer
// waits for), writes the answer, and again while the client keeps the connection alive.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, HttpServer::State& state)
        : _stream(std::move(socket)), _state(state),
          _reader(state.limits.headerBytes, state.limits.bodyBytes), _waitTimer(_stream.get_executor()) {
        beast::error_code error;
        const tcp::endpoint peer = _stream.socket().remote_endpoint(error);
        if (!error)
            _client = peer.address().to_string();
        Mark(Phase::Reading);
    }
    ~Connection() { _state.Gone(this); }

    const std::string& Client() const { return _client; }
    Phase CurrentPhase() const { return _phase; }
    Clock::rep Since() const { return _since; }
    // Claims the connection for MakeRoom; false when it is claimed already.
    bool Claim() { return !_claimed.exchange(true); }

    void Start() {
        net::dispatch(_stream.get_executor(), [self = shared_from_this()] { self->ReadNext(); });
    }

    // Answers 503 at once and closes: every connection is busy being answered.
    void Refuse() {
        net::dispatch(_stream.get_executor(), [self = shared_from_this()] {
            self->_state.Begin();
            self->Write(HttpResponse::Text(503, "too many connections; try again later"), 11, false);
        });
    }

    // Makes room: a connection waiting on its client closes, a long poll is answered now and closes.
    void GiveWay() {
        net::dispatch(_stream.get_executor(), [self = shared_from_this()] {
            self->_closeAfter = true;
            if (self->_phase == Phase::Waiting)
                self->EndWait();
            else if (WaitsOnClient(self->_phase))
                self->Close();
            self->_claimed = false;
        });
    }

    // The server stops: an idle connection closes, a long poll is answered now; a request under way
    // is answered, and the connection closes after it.
    void Finish() {
        net::dispatch(_stream.get_executor(), [self = shared_from_this()] {
            self->_closeAfter = true;
            if (self->_phase == Phase::Waiting)
                self->EndWait();
            else if (self->_phase == Phase::Reading && !self->Arriving())
                self->Close();
        });
    }

private:
    // Part of a request has come, or is waiting to be read.
    bool Arriving() {
        beast::error_code error;
        return _partial || !_received.empty() || _stream.socket().available(error) > 0;
    }

    void Mark(Phase phase) {
        _phase = phase;
        _since = Clock::now().time_since_epoch().count();
    }

    void ReadNext() {
        Mark(Phase::Reading);
        _partial = false;
        _stream.expires_after(_state.limits.readTimeout);
        Parse();
    }

    void Parse() {
        size_t used = 0;
        const RequestReader::Step step = _reader.Feed(_received, used);
        _received.erase(0, used);
        _partial = _partial || used > 0;
        switch (step) {
        case RequestReader::Step::NeedMore:
            if (_closeAfter && !_partial)
                return Close();
            return ReceiveMore();
        case RequestReader::Step::Malformed:
            ++_state.malformed;
            _state.Begin();
            return Write(_reader.Refusal(), 11, false);
        case RequestReader::Step::Request:
            return Dispatch();
        }
    }

    void ReceiveMore() {
        _stream.async_read_some(net::buffer(_chunk),
                                [self = shared_from_this()](beast::error_code error, size_t count) {
                                    if (error) // the client went away or took too long: nothing to answer
                                        return self->Close();
                                    self->_received.append(self->_chunk.data(), count);
                                    self->Parse();
                                });
    }

    void Dispatch() {
        Mark(Phase::Handling);
        _state.Begin();
        const unsigned version = _reader.Version();
        const bool keepAlive = _reader.KeepAlive();
        if (_state.stopping) {
            Write(HttpResponse::Text(503, "zeb view is stopping"), version, false);
            return;
        }
        auto request = std::make_shared<HttpRequest>(std::move(_reader.Request()));
        net::post(_state.pool, [self = shared_from_this(), request, version, keepAlive] {
            HttpResponse response = self->Handle([&] { return self->_state.handler(*request); });
            net::post(self->_stream.get_executor(),
                      [self, response = std::move(response), version, keepAlive]() mutable {
                          if (response.wait)
                              return self->BeginWait(std::move(response.wait), version, keepAlive);
                          self->Write(response, version, keepAlive);
                      });
        });
    }

    // Runs a handler; what it throws becomes a 500 with its text.
    static HttpResponse Handle(const std::function<HttpResponse()>& handler) {
        try {
            return handler();
        } catch (const std::exception& failure) {
            return HttpResponse::Text(500, std::string("internal error: ") + failure.what());
        } catch (...) {
            return HttpResponse::Text(500, "internal error");
        }
    }

    void BeginWait(std::shared_ptr<const HttpWait> wait, unsigned version, bool keepAlive) {
        Mark(Phase::Waiting);
        _wait = std::move(wait);
        _waitVersion = version;
        _waitKeepAlive = keepAlive;
        std::weak_ptr<Connection> weak = weak_from_this();
        _wake = std::make_shared<const std::function<void()>>([weak] {
            if (const auto self = weak.lock())
                net::post(self->_stream.get_executor(), [self] { self->EndWait(); });
        });
        _waitTimer.expires_after(_wait->longest);
        _waitTimer.async_wait([self = shared_from_this()](beast::error_code) { self->EndWait(); });
        if (_wait->watch)
            _wait->watch(_wake);
        if (_closeAfter || _state.stopping)
            EndWait();
    }

    void EndWait() {
        if (_phase != Phase::Waiting)
            return;
        Mark(Phase::Handling);
        _wake.reset();
        _waitTimer.cancel();
        std::shared_ptr<const HttpWait> wait = std::move(_wait);
        net::post(_state.pool, [self = shared_from_this(), wait] {
            HttpResponse response = Handle([&] {
                return wait->answer ? wait->answer()
                                    : HttpResponse::Text(500, "internal error: nothing answers");
            });
            response.wait.reset(); // an answer does not wait twice
            net::post(self->_stream.get_executor(), [self, response = std::move(response)] {
                self->Write(response, self->_waitVersion, self->_waitKeepAlive);
            });
        });
    }

    // Writes the answer; then reads the next request, or closes.
    void Write(const HttpResponse& response, unsigned version, bool keepAlive) {
        Mark(Phase::Writing);
        keepAlive = keepAlive && !_closeAfter && !_state.stopping;
        auto message = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(response.status), version);
        message->set(http::field::server, "zeb view");
        message->set(http::field::content_type, response.contentType);
        message->set(http::field::cache_control, "no-store");
        for (const auto& [name, value] : SafetyHeaders)
            message->set(name, value);
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
                              if (keepAlive && !self->_closeAfter)
                                  return self->ReadNext();
                              self->Linger();
                          });
    }

    // After the last answer: stops sending and reads what the client still sends until it closes
    // (bounded), so that closing does not reset the connection before the client has the answer.
    void Linger() {
        Mark(Phase::Lingering);
        beast::error_code ignored;
        _stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        _stream.expires_after(std::chrono::seconds(2));
        _stream.async_read_some(net::buffer(_chunk),
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
    RequestReader _reader;
    std::string _client;   // the client's address
    std::string _received; // bytes received and not yet read as a request
    std::array<char, 4096> _chunk{};
    bool _partial = false;    // part of a request has been read
    bool _closeAfter = false; // the connection closes after the answer under way
    int _drained = 0;
    std::atomic<Phase> _phase{Phase::Reading};
    std::atomic<Clock::rep> _since{0};
    std::atomic<bool> _claimed{false};
    // The long poll under way.
    net::steady_timer _waitTimer;
    std::shared_ptr<const HttpWait> _wait;
    HttpWait::Wake _wake;
    unsigned _waitVersion = 11;
    bool _waitKeepAlive = false;
};

} // namespace

std::vector<std::shared_ptr<Connection>> HttpServer::State::Snapshot() {
    std::lock_guard<std::mutex> lock(registryMutex);
    std::vector<std::shared_ptr<Connection>> connections;
    for (const auto& [raw, weak] : registry)
        if (auto connection = weak.lock())
            connections.push_back(std::move(connection));
    return connections;
}

bool HttpServer::State::MakeRoom() {
    const std::vector<std::shared_ptr<Connection>> connections = Snapshot();
    std::map<std::string, size_t> slowByClient;
    for (const auto& connection : connections)
        if (WaitsOnClient(connection->CurrentPhase()))
            ++slowByClient[connection->Client()];
    const auto hog = std::max_element(slowByClient.begin(), slowByClient.end(),
                                      [](const auto& a, const auto& b) { return a.second < b.second; });
    // The candidates in the order they give way: the hog's slow connections, then long polls; the
    // one that has waited longest first.
    auto rank = [&](const Connection& connection) {
        const Phase phase = connection.CurrentPhase();
        if (WaitsOnClient(phase) && hog != slowByClient.end() && connection.Client() == hog->first)
            return 0;
        return phase == Phase::Waiting ? 1 : 2;
    };
    std::vector<std::shared_ptr<Connection>> candidates;
    for (const auto& connection : connections)
        if (rank(*connection) < 2)
            candidates.push_back(connection);
    std::sort(candidates.begin(), candidates.end(), [&](const auto& a, const auto& b) {
        return std::make_pair(rank(*a), a->Since()) < std::make_pair(rank(*b), b->Since());
    });
    for (const auto& candidate : candidates)
        if (candidate->Claim()) {
            candidate->GiveWay();
            return true;
        }
    return false;
}

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
        const bool room = Connections() < limits.connections || MakeRoom();
        {
            std::lock_guard<std::mutex> lock(registryMutex);
            registry.emplace(connection.get(), connection);
        }
        if (room)
            connection->Start();
        else
            connection->Refuse();
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
    _state->work.emplace(_state->io.get_executor());
    _state->Accept();
    for (int i = 0; i < 2; ++i)
        _state->ioThreads.emplace_back([state = _state.get()] { state->io.run(); });
    return bound;
}

void HttpServer::Stop() {
    std::lock_guard<std::mutex> lock(_state->startStop);
    if (!_state->started || _state->stopped)
        return;
    State& state = *_state;
    state.stopped = true;
    state.stopping = true;
    net::post(state.io, [&state] {
        beast::error_code ignored;
        state.acceptor->close(ignored);
    });
    for (const auto& connection : state.Snapshot())
        connection->Finish();
    // Every request read so far is answered; a request that was arriving gets a moment to arrive
    // (and is answered 503); then what is left is closed with the I/O threads.
    state.WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(state.limits.handlerTimeout),
                  [&] { return state.busy == 0; });
    state.WaitFor(std::chrono::seconds(3), [&] { return state.busy == 0 && state.Connections() == 0; });
    state.work.reset();
    state.io.stop();
    for (std::thread& thread : state.ioThreads)
        thread.join();
    state.ioThreads.clear();
    state.pool.join();
}

uint64_t HttpServer::Answered() const {
    return _state->answered;
}

uint64_t HttpServer::Malformed() const {
    return _state->malformed;
}

} // namespace zeb::view
