// A small HTTP/1.1 server for zeb view: it reads requests (bounded in size and time), hands each to
// one handler on a pool of threads and writes the answer. Malformed requests are answered with a 4xx
// or 501 status and a text by the server itself; the handler only sees well-formed ones. An answer
// that waits for an event (a long poll) waits without a thread. A screen may refuse a request as
// soon as its head is read, before its body (and before "100 Continue"); a refused request (the
// screen's answer, or any 403) closes its connection, which then no longer counts. Under pressure
// long polls are answered early and then the connections that keep the server waiting longest make
// room for new ones (ServerState::MakeRoom).
//
// The server (this file) listens and accepts; each connection (Connection.h) reads its requests
// (RequestReader.h) and writes their answers; what they share is ServerState.h.
#pragma once

#include "view/http/HttpMessage.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zeb::view {

struct ServerState;

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    // Looks at a request's head (no body yet) on the server's own threads, so it must be quick: an
    // answer refuses the request and closes the connection; none lets it through to the handler.
    using Screen = std::function<std::optional<HttpResponse>(const HttpRequest& head)>;

    struct Limits {
        size_t connections = 64;                 // beyond: a slow one makes room, or 503
        size_t handlerThreads = 8;               // requests handled at the same time
        size_t headerBytes = 8 * 1024;           // request line and headers
        size_t bodyBytes = 64 * 1024;            // request body
        std::chrono::seconds readTimeout{30};    // for a whole request, and for an idle connection
        std::chrono::seconds writeTimeout{30};   // for a whole answer
        std::chrono::seconds handlerTimeout{70}; // longest wait at Stop for the handlers under way
    };

    // What the server holds now.
    struct Statistics {
        size_t connections = 0; // counted against Limits::connections
        size_t refused = 0;     // refused and closing, not counted
        size_t waiting = 0;     // long polls waiting for their event
        size_t underWay = 0;    // requests read and not yet answered (the long polls included)
        uint64_t received = 0;  // requests read so far, answered or not
        uint64_t answered = 0;  // requests answered so far
    };

    HttpServer(Handler handler, Limits limits, Screen screen = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds to the address and port (0: a free port) and starts serving. Returns the port.
    // Throws std::runtime_error saying why it cannot.
    uint16_t Start(const std::string& address, uint16_t port);
    // Stops accepting, ends the waits, answers every request read so far (later ones 503), closes
    // every connection. Idempotent.
    void Stop();

    // Requests answered so far, and malformed ones among them.
    uint64_t Answered() const;
    uint64_t Malformed() const;
    Statistics Now() const;

private:
    std::unique_ptr<ServerState> _state;
};

} // namespace zeb::view
