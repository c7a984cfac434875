// Talking to zeb view over HTTP as a page or a script does, and sending it raw bytes as a broken
// client would. Every exchange has a guard time, so a hanging server fails the test.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zeb::test {

struct HttpAnswer {
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers; // names in lower case

    std::string Header(const std::string& lowerCaseName) const {
        return headers.contains(lowerCaseName) ? headers.at(lowerCaseName) : std::string();
    }
    nlohmann::json Json() const { return nlohmann::json::parse(body); }
};

class HttpClient {
public:
    using Headers = std::map<std::string, std::string>;

    // `page`: the page id sent as X-Zeb-Client; empty marks the requests as a script's (X-Zeb-Script).
    explicit HttpClient(uint16_t port, std::string page = {}, std::string address = "127.0.0.1")
        : _port(port), _page(std::move(page)), _address(std::move(address)) {}

    HttpAnswer Get(const std::string& target, const Headers& headers = {}) const {
        return Send("GET", target, {}, headers);
    }
    HttpAnswer Put(const std::string& target, const std::string& body, const Headers& headers = {}) const {
        return Send("PUT", target, body, headers);
    }
    HttpAnswer Post(const std::string& target, const std::string& body = {},
                    const Headers& headers = {}) const {
        return Send("POST", target, body, headers);
    }
    // One request on a connection of its own; throws std::runtime_error without a whole answer.
    HttpAnswer Send(const std::string& method, const std::string& target, const std::string& body,
                    const Headers& headers) const;
    // What the server sends to the bytes on a fresh connection until it closes it; `closeAfterSending`
    // closes at once instead, as a client that goes away.
    std::string Raw(const std::string& bytes, bool closeAfterSending = false) const;
    // The same client sending neither mark, as a page of another site or an old browser.
    HttpClient Unmarked() const;
    // The Host header it sends: the address (in brackets for IPv6) and the port.
    std::string Host() const;

    // The longest wait for one answer: a first surface with heights takes a minute under the sanitizers.
    static constexpr std::chrono::seconds Guard{180};

private:
    uint16_t _port;
    std::string _page;
    std::string _address;
    bool _marked = true;
};

// Connections opened at once and left idle (as browser tabs or slow clients hold them) or driven
// step by step.
class IdleConnections {
public:
    // Each first sends `start` (nothing when empty), as a slow client sends the start of a request.
    IdleConnections(uint16_t port, int count, const std::string& start = {},
                    const std::string& address = "127.0.0.1");
    ~IdleConnections();
    // How many the server has closed by now (those it turned away).
    int Closed();
    // Sends the bytes on each connection.
    void Send(const std::string& bytes);
    // All each one received so far, once it holds `until` (when empty: once the server closed it);
    // throws std::runtime_error when the guard passes first.
    std::vector<std::string> Read(const std::string& until,
                                  std::chrono::seconds guard = std::chrono::seconds(30));

private:
    struct Sockets;
    std::unique_ptr<Sockets> _sockets;
};

// Asks `done` again and again (a few milliseconds apart) until it holds; false after the guard.
bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds guard = std::chrono::seconds(60));

// The status line's code of a raw answer ("HTTP/1.1 400 Bad Request" gives 400), 0 when there is none.
int RawStatus(const std::string& answer);

} // namespace zeb::test
