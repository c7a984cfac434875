// What zeb_http's handler sees and answers: a request read and checked by the server, and the
// answer, made at once or once an event has happened (a long poll).
#pragma once

#include <chrono>
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

// A header's value as sent: control bytes (CR and LF among them), which would end the header or
// forge another, written as \xNN.
std::string HeaderValue(const std::string& text);

// Splits a request target into its decoded path and query; false when an escape is malformed or a
// decoded path would contain a NUL byte.
bool ParseTarget(const std::string& target, std::string& path, std::map<std::string, std::string>& query);

} // namespace zeb::view
