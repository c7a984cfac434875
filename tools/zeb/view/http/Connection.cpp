#include "view/http/Connection.h"

#include <boost/beast/http.hpp>

namespace zeb::view {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = ServerState::Clock;

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

} // namespace

bool WaitsOnClient(Phase phase) {
    return phase != Phase::Handling && phase != Phase::Waiting;
}

int GiveWayOrder(Phase phase) {
    switch (phase) {
    case Phase::Waiting:
        return 0;
    case Phase::Idle:
    case Phase::Lingering:
    case Phase::Reading:
    case Phase::Writing:
        return 1;
    case Phase::Fresh:
        return 2;
    case Phase::Handling:
        break;
    }
    return -1;
}

Connection::Connection(tcp::socket socket, ServerState& state)
    : _stream(std::move(socket)), _state(state), _reader(state.limits.headerBytes, state.limits.bodyBytes),
      _waitTimer(_stream.get_executor()) {
    beast::error_code error;
    const tcp::endpoint peer = _stream.socket().remote_endpoint(error);
    if (!error)
        _client = peer.address().to_string();
    Mark(Phase::Fresh);
}

Connection::~Connection() {
    _state.Gone(this, _uncounted);
}

void Connection::Start() {
    net::dispatch(_stream.get_executor(), [self = shared_from_this()] { self->ReadNext(); });
}

void Connection::Refuse() {
    net::dispatch(_stream.get_executor(), [self = shared_from_this()] {
        self->_state.Begin();
        self->Uncount();
        self->Write(HttpResponse::Text(503, "too many connections; try again later"), 11, false);
    });
}

void Connection::GiveWay() {
    net::dispatch(_stream.get_executor(), [self = shared_from_this()] {
        self->_closeAfter = true;
        const Phase phase = self->_phase;
        if (phase == Phase::Waiting)
            self->EndWait();
        else if (WaitsOnClient(phase))
            self->Close();
        self->_claimed = false;
    });
}

void Connection::Finish() {
    net::dispatch(_stream.get_executor(), [self = shared_from_this()] {
        self->_closeAfter = true;
        if (self->_phase == Phase::Waiting)
            self->EndWait();
        else if ((self->_phase == Phase::Fresh || self->_phase == Phase::Idle ||
                  self->_phase == Phase::Reading) &&
                 !self->Arriving())
            self->Close();
    });
}

void Connection::Abort() {
    Close();
}

bool Connection::Arriving() {
    beast::error_code error;
    return _partial || !_received.empty() || _stream.socket().available(error) > 0;
}

void Connection::Mark(Phase phase) {
    _phase = phase;
    _since = Clock::now().time_since_epoch().count();
}

void Connection::ReadNext() {
    Mark(_answered ? Phase::Idle : Phase::Fresh);
    _partial = false;
    _stream.expires_after(_state.limits.readTimeout);
    Parse();
}

void Connection::Parse() {
    size_t used = 0;
    const RequestReader::Step step = _reader.Feed(_received, used);
    _received.erase(0, used);
    if (used > 0 && !_partial)
        Mark(Phase::Reading);
    _partial = _partial || used > 0;
    switch (step) {
    case RequestReader::Step::NeedMore:
        if (_closeAfter && !_partial)
            return Close();
        return ReceiveMore();
    case RequestReader::Step::Head:
        return Screen();
    case RequestReader::Step::Malformed:
        ++_state.malformed;
        _state.Begin();
        return Write(_reader.Refusal(), 11, false);
    case RequestReader::Step::Request:
        return Dispatch();
    }
}

void Connection::ReceiveMore() {
    _stream.async_read_some(net::buffer(_chunk),
                            [self = shared_from_this()](beast::error_code error, size_t count) {
                                if (error) // the client went away or took too long: nothing to answer
                                    return self->Close();
                                self->_received.append(self->_chunk.data(), count);
                                self->Parse();
                            });
}

void Connection::Screen() {
    std::optional<HttpResponse> refusal;
    try {
        if (_state.screen)
            refusal = _state.screen(_reader.Request());
    } catch (const std::exception& failure) {
        refusal = HttpResponse::Text(500, std::string("internal error: ") + failure.what());
    }
    if (!refusal && _reader.ExpectsContinue() && _state.stopping)
        refusal = HttpResponse::Text(503, "zeb view is stopping");
    if (refusal) {
        refusal->wait.reset();
        Mark(Phase::Handling);
        _state.Begin();
        Uncount();
        return Write(*refusal, _reader.Version(), false);
    }
    if (!_reader.ExpectsContinue())
        return Parse();
    static const std::string Continue = "HTTP/1.1 100 Continue\r\n\r\n";
    net::async_write(_stream, net::buffer(Continue),
                     [self = shared_from_this()](beast::error_code error, size_t) {
                         if (error)
                             return self->Close();
                         self->Parse();
                     });
}

void Connection::Uncount() {
    _closeAfter = true;
    if (!_uncounted.exchange(true))
        _state.Uncount();
}

void Connection::Dispatch() {
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

HttpResponse Connection::Handle(const std::function<HttpResponse()>& handler) {
    try {
        return handler();
    } catch (const std::exception& failure) {
        return HttpResponse::Text(500, std::string("internal error: ") + failure.what());
    } catch (...) {
        return HttpResponse::Text(500, "internal error");
    }
}

void Connection::BeginWait(std::shared_ptr<const HttpWait> wait, unsigned version, bool keepAlive) {
    Mark(Phase::Waiting);
    ++_state.waiting;
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

void Connection::EndWait() {
    if (_phase != Phase::Waiting)
        return;
    Mark(Phase::Handling);
    --_state.waiting;
    _wake.reset();
    _waitTimer.cancel();
    std::shared_ptr<const HttpWait> wait = std::move(_wait);
    net::post(_state.pool, [self = shared_from_this(), wait] {
        HttpResponse response = Handle([&] {
            return wait->answer ? wait->answer() : HttpResponse::Text(500, "internal error: nothing answers");
        });
        response.wait.reset(); // an answer does not wait twice
        net::post(self->_stream.get_executor(), [self, response = std::move(response)] {
            self->Write(response, self->_waitVersion, self->_waitKeepAlive);
        });
    });
}

void Connection::Write(const HttpResponse& response, unsigned version, bool keepAlive) {
    Mark(Phase::Writing);
    if (response.status == 403) // a refused request: its client has nothing more to ask here
        Uncount();
    keepAlive = keepAlive && !_closeAfter && !_state.stopping;
    auto message = std::make_shared<http::response<http::string_body>>(
        static_cast<http::status>(response.status), version);
    message->set(http::field::server, "zeb view");
    message->set(http::field::content_type, HeaderValue(response.contentType));
    message->set(http::field::cache_control, "no-store");
    for (const auto& [name, value] : SafetyHeaders)
        message->set(name, value);
    // Values may hold text of files and of the plug-in: none may end its header or forge another.
    for (const auto& [name, value] : response.headers)
        message->set(name, HeaderValue(value));
    message->keep_alive(keepAlive);
    message->body() = response.body;
    message->prepare_payload();
    _stream.expires_after(_state.limits.writeTimeout);
    http::async_write(_stream, *message,
                      [self = shared_from_this(), message, keepAlive](beast::error_code error, size_t) {
                          ++self->_state.answered;
                          self->_answered = true;
                          self->_state.End();
                          if (error)
                              return self->Close();
                          if (keepAlive && !self->_closeAfter)
                              return self->ReadNext();
                          self->Linger();
                      });
}

void Connection::Linger() {
    Mark(Phase::Lingering);
    beast::error_code ignored;
    _stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    // Refused connections count against nothing; so many of them that they would hold the server's
    // descriptors close at once.
    if (_uncounted && _state.Uncounted() > 4 * _state.limits.connections)
        return Close();
    _stream.expires_after(std::chrono::seconds(2));
    _stream.async_read_some(net::buffer(_chunk),
                            [self = shared_from_this()](beast::error_code error, size_t) {
                                if (error || ++self->_drained > 64)
                                    return self->Close();
                                self->Linger();
                            });
}

void Connection::Close() {
    beast::error_code ignored;
    _stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    _stream.close();
}

} // namespace zeb::view
