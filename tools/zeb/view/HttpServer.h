// A small HTTP/1.1 server for zeb view: it reads requests (bounded in size and time), hands each to
// one handler on a pool of threads and writes the answer. Malformed requests are answered with a 4xx
// status and a text by the server itself; the handler only sees well-formed ones.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
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

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;

    static HttpResponse Text(int status, std::string text);
    static HttpResponse Json(int status, const std::string& json);
};

// Splits a request target into its decoded path and query; false when an escape is malformed or a
// decoded path would contain a NUL byte.
bool ParseTarget(const std::string& target, std::string& path, std::map<std::string, std::string>& query);

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    struct Limits {
        size_t connections = 64;               // more are answered 503 and closed
        size_t handlerThreads = 8;             // requests handled at the same time
        size_t headerBytes = 8 * 1024;         // request line and headers
        size_t bodyBytes = 64 * 1024;          // request body
        std::chrono::seconds readTimeout{30};  // for a whole request, and for an idle connection
        std::chrono::seconds writeTimeout{30}; // for a whole answer
    };

    HttpServer(Handler handler, Limits limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds to the address and port (0: a free port) and starts serving. Returns the port.
    // Throws std::runtime_error saying why it cannot.
    uint16_t Start(const std::string& address, uint16_t port);
    // Stops accepting, lets the requests being handled finish, closes every connection. Idempotent.
    void Stop();

    // Requests answered so far, and malformed ones among them.
    uint64_t Answered() const;
    uint64_t Malformed() const;

    struct State; // the connections' shared state, inside HttpServer.cpp

private:
    std::unique_ptr<State> _state;
};

} // namespace zeb::view
