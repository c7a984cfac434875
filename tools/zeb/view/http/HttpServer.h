// A small HTTP/1.1 server for zeb view: it reads requests (bounded in size and time), hands each to
// one handler on a pool of threads and writes the answer. Malformed requests are answered with a 4xx
// or 501 status and a text by the server itself; the handler only sees well-formed ones. An answer
// that waits for an event (a long poll) waits without a thread. Under pressure the connections that
// keep the server waiting longest, from the client that holds most of them, make room for new ones.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeb::view {

struct HttpRequest {
    std::string method;                         // "GET", "PUT", ...
    std::string path;                           // percent-decoded, without the query
    std::map<std::string, std::string> query;   // percent-decoded; a repeated name keeps the last value
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    // The header's value, or empty.
    std::string Header(const std::string& lowerCaseName) const;
    // The query parameter's value, or `otherwise`.
    std::string Query(const std::string& name, const std::string& otherwise = {}) const;
};

struct HttpWait;

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // Set when the answer waits for an event: the server makes it later (see HttpWait), and the
    // other fields are not used.
    std::shared_ptr<const HttpWait> wait;

    static HttpResponse Text(int status, std::string text);
    static HttpResponse Json(int status, const std::string& json);
};

// An answer that waits for an event without holding a thread.
struct HttpWait {
    using Wake = std::shared_ptr<const std::function<void()>>;

    std::chrono::milliseconds longest{0};
    // Called once with the function that ends the wait early. The watcher holds it weakly (the
    // server keeps it alive while it waits) and may call it at once, later, more than once and from
    // any thread.
    std::function<void(const Wake& wake)> watch;
    // Makes the answer once the wait has ended: woken, after `longest`, or because the server stops.
    std::function<HttpResponse()> answer;

    // A response that waits so.
    static HttpResponse Later(std::chrono::milliseconds longest, std::function<void(const Wake&)> watch,
                              std::function<HttpResponse()> answer);
};

// Splits a request target into its decoded path and query; false when an escape is malformed or a
// decoded path would contain a NUL byte.
bool ParseTarget(const std::string& target, std::string& path, std::map<std::string, std::string>& query);

// Reads requests from the bytes a connection receives: Beast's parser within the limits, and the
// checks it leaves to us (transfer codings, repeated Host, the target). The server and its fuzzer
// read through it alike.
class RequestReader {
public:
    enum class Step {
        NeedMore,  // every byte given is used; a request is not complete yet
        Request,   // Request() is the next request; bytes after it were not used
        Malformed, // Refusal() is the answer; the connection is closed after it
    };

    RequestReader(size_t headerBytes, size_t bodyBytes);
    ~RequestReader();
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    // Reads from `bytes`; `used` says how many it took (what follows belongs to the next request).
    // After Request or Malformed the reader starts afresh with the next byte.
    Step Feed(std::string_view bytes, size_t& used);
    // After Request: the request, its HTTP version (10 or 11) and whether the connection stays open.
    HttpRequest& Request() { return _request; }
    unsigned Version() const { return _version; }
    bool KeepAlive() const { return _keepAlive; }
    // After Malformed.
    const HttpResponse& Refusal() const { return _refusal; }

private:
    Step Refuse(int status, std::string text);
    Step Complete();

    struct Parser;
    std::unique_ptr<Parser> _parser;
    size_t _headerBytes, _bodyBytes;
    HttpRequest _request;
    unsigned _version = 11;
    bool _keepAlive = false;
    HttpResponse _refusal;
};

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    struct Limits {
        size_t connections = 64;                 // beyond: a slow one makes room, or 503
        size_t handlerThreads = 8;               // requests handled at the same time
        size_t headerBytes = 8 * 1024;           // request line and headers
        size_t bodyBytes = 64 * 1024;            // request body
        std::chrono::seconds readTimeout{30};    // for a whole request, and for an idle connection
        std::chrono::seconds writeTimeout{30};   // for a whole answer
        std::chrono::seconds handlerTimeout{70}; // longest wait at Stop for the handlers under way
    };

    HttpServer(Handler handler, Limits limits);
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

    struct State; // the connections' shared state, inside HttpServer.cpp

private:
    std::unique_ptr<State> _state;
};

} // namespace zeb::view
