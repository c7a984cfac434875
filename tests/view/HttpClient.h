// Talking to zeb view over HTTP as a page or a script does, and sending it raw bytes as a broken
// client would. Every exchange is bounded by a guard time, so a hanging server fails the test.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace zeb::test {

struct HttpAnswer {
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers; // names in lower case

    std::string Header(const std::string& lowerCaseName) const;
    nlohmann::json Json() const;
};

class HttpClient {
public:
    using Headers = std::map<std::string, std::string>;

    // `page`: the page id sent as X-Zeb-Client; empty sends none and marks the requests as a
    // script's (X-Zeb-Script). `address`: where the server listens.
    explicit HttpClient(uint16_t port, std::string page = {}, std::string address = "127.0.0.1");

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
    // One request on a connection of its own; throws std::runtime_error when the exchange fails.
    HttpAnswer Send(const std::string& method, const std::string& target, const std::string& body,
                    const Headers& headers) const;

    // Sends the bytes on a fresh connection and returns what the server sends until it closes the
    // connection; `closeAfterSending` closes at once instead, as a client that goes away.
    std::string Raw(const std::string& bytes, bool closeAfterSending = false) const;

    // The same client sending neither mark, as a page of another site or an old browser sends.
    HttpClient Unmarked() const;

    // The Host header this client sends: the address (in brackets for IPv6) and the port.
    std::string Host() const;

    // The longest wait for one answer, against a hang: a first surface with heights takes most of a
    // minute under the sanitizers.
    static constexpr std::chrono::seconds Guard{180};

private:
    uint16_t _port;
    std::string _page;
    std::string _address;
    bool _marked = true;
};

// Connections opened and left idle, as many browser tabs or a slow client hold them.
class IdleConnections {
public:
    // Each connection first sends `start` (nothing when empty), as a slow client sends the start of a
    // request and then waits.
    IdleConnections(uint16_t port, int count, const std::string& start = {});
    ~IdleConnections();
    // How many the server has closed by now (those it turned away).
    int Closed();

private:
    struct Sockets;
    std::unique_ptr<Sockets> _sockets;
};

// Asks `done` again and again (a few milliseconds apart) until it holds; false after the guard.
bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds guard = std::chrono::seconds(60));

// The status line's code of a raw answer ("HTTP/1.1 400 Bad Request" gives 400), 0 when there is none.
int RawStatus(const std::string& answer);

} // namespace zeb::test
