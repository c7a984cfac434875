// zeb view's HTTP server on its own, in-process, with a handler of the test's: connections that
// change state from many threads at once, long polls that hold every connection, refused requests
// that must not hold any, and a client that waits for "100 Continue".
#include "view/http/HttpServer.h"
#include "HttpClient.h"

#include <boost/asio.hpp>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace zeb::test {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using view::HttpRequest;
using view::HttpResponse;
using view::HttpServer;
using view::HttpWait;

namespace {

// A server whose handler answers "/poll?wait=MS" after MS (an event that never comes), echoes the
// body of "/echo", refuses "/forbidden" with 403 and answers everything else at once; its screen
// refuses what a page of another site sends, as zeb view's does.
class TestServer {
public:
    explicit TestServer(HttpServer::Limits limits = {})
        : _server(
              [](const HttpRequest& request) {
                  if (request.path == "/poll")
                      return HttpWait::Later(
                          std::chrono::milliseconds(std::stoi(request.Query("wait", "5000"))),
                          [](const HttpWait::Wake&) {}, [] { return HttpResponse::Text(200, "polled"); });
                  if (request.path == "/echo")
                      return HttpResponse::Text(200, request.body);
                  if (request.path == "/forbidden")
                      return HttpResponse::Text(403, "not here");
                  return HttpResponse::Text(200, "plain");
              },
              limits,
              [](const HttpRequest& head) -> std::optional<HttpResponse> {
                  if (head.Header("sec-fetch-site") == "cross-site")
                      return HttpResponse::Text(403, "requests from pages of other sites are refused");
                  return std::nullopt;
              }) {
        _port = _server.Start("127.0.0.1", 0);
    }

    HttpServer& Server() { return _server; }
    HttpClient Client() const { return HttpClient(_port, "page"); }
    uint16_t Port() const { return _port; }

private:
    HttpServer _server;
    uint16_t _port = 0;
};

// A connection of the test's own, read with a guard so that a server that never answers fails.
class RawConnection {
public:
    explicit RawConnection(uint16_t port) : _socket(_io) {
        _socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
    }
    void Send(const std::string& bytes) { net::write(_socket, net::buffer(bytes)); }
    // Reads until `until` is in what was received, the server closes, or the guard passes.
    std::string ReadUntil(const std::string& until, std::chrono::seconds guard = std::chrono::seconds(30)) {
        std::array<char, 4096> chunk{};
        std::function<void()> more = [&] {
            _socket.async_read_some(net::buffer(chunk), [&](boost::system::error_code error, size_t count) {
                _received.append(chunk.data(), count);
                if (!error && _received.find(until) == std::string::npos)
                    more();
            });
        };
        if (_received.find(until) == std::string::npos) {
            more();
            _io.restart();
            _io.run_for(guard);
            if (!_io.stopped()) {
                _socket.cancel();
                _io.restart();
                _io.run();
            }
        }
        return _received;
    }

private:
    net::io_context _io;
    tcp::socket _socket;
    std::string _received;
};

} // namespace

// Connections that come, wait, are answered and go from many threads at once, far more than the
// server takes: it makes room again and again while their states change, and stays up.
TEST(HttpServerConcurrency, AFloodOfConnectionsChangingStateLeavesTheServerAnswering) {
    TestServer server;
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0}, failed{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 200; ++i)
        threads.emplace_back([&, i] {
            const HttpClient client = server.Client();
            while (!stop) {
                try {
                    const HttpAnswer answer = client.Get(i < 80 ? "/poll?wait=5000" : "/plain");
                    ++(answer.status == 200 || answer.status == 503 ? answered : failed);
                } catch (const std::exception&) {
                    ++failed; // closed to make room before its request was read: allowed, counted
                }
            }
        });
    // Well into the flood, still there while the long polls wait; stopping answers them.
    EXPECT_TRUE(WaitUntil([&] { return answered + failed >= 1000; }));
    EXPECT_EQ(server.Client().Get("/plain").body, "plain");
    stop = true;
    server.Server().Stop();
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_GT(answered, 0);
    EXPECT_EQ(server.Server().Now().waiting, 0u);
    EXPECT_EQ(server.Server().Now().connections, 0u);
}

// While long polls hold every connection, a client that opens several connections before it sends
// anything (as a browser loading a page does) gets each one's first request served: the long polls
// are answered early, as at the end of their wait.
TEST(HttpServer, LongPollsGiveWayToNewConnections) {
    TestServer server;
    const HttpServer::Limits limits;
    const size_t polls = limits.connections + 6;
    std::vector<std::thread> pollers;
    std::vector<HttpAnswer> pollAnswers(polls);
    const auto poll = [&](size_t i) {
        pollers.emplace_back([&, i] {
            try {
                pollAnswers[i] = server.Client().Get("/poll?wait=60000");
            } catch (const std::exception& error) {
                pollAnswers[i].body = error.what();
            }
        });
    };
    // As many long polls as the server takes (arriving all at once, some may still be handled when
    // the next comes, and every connection busy being answered is a 503), then more, which make the
    // first ones give way.
    for (size_t i = 0; i < limits.connections; ++i)
        poll(i);
    bool held = WaitUntil([&] { return server.Server().Now().waiting == limits.connections; });
    for (size_t i = limits.connections; i < polls; ++i)
        poll(i);
    held = held && WaitUntil([&] {
               const HttpServer::Statistics now = server.Server().Now();
               return now.received == polls && now.waiting == limits.connections;
           });
    EXPECT_TRUE(held);
    std::vector<std::unique_ptr<RawConnection>> page;
    for (int i = 0; i < 8 && held; ++i)
        page.push_back(std::make_unique<RawConnection>(server.Port()));
    for (auto& connection : page)
        connection->Send("GET /plain HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    for (auto& connection : page) {
        const std::string answer = connection->ReadUntil("plain");
        EXPECT_EQ(RawStatus(answer), 200) << answer;
    }
    // Each poll, those that gave way and those that stopping ends, is answered as a poll that ends.
    server.Server().Stop();
    for (std::thread& poller : pollers)
        poller.join();
    for (const HttpAnswer& answer : pollAnswers) {
        EXPECT_EQ(answer.status, 200) << answer.body;
        EXPECT_EQ(answer.body, "polled");
    }
}

// A refused request closes its connection at once (the client holds it open), and refused
// connections count against nothing: hundreds of them leave every connection to the page.
TEST(HttpServer, RefusedRequestsCloseTheirConnectionAndCountAgainstNothing) {
    TestServer server;
    constexpr int Refused = 300;
    // Refused by the screen on their head, and by the handler's 403.
    IdleConnections foreign(server.Port(), Refused,
                            "GET /plain HTTP/1.1\r\nHost: 127.0.0.1\r\nSec-Fetch-Site: cross-site\r\n\r\n");
    IdleConnections forbidden(server.Port(), 20, "GET /forbidden HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    // At once: well within the time an idle connection is kept.
    EXPECT_TRUE(WaitUntil([&] { return foreign.Closed() == Refused && forbidden.Closed() == 20; },
                          std::chrono::seconds(10)))
        << foreign.Closed() << " and " << forbidden.Closed() << " closed";
    EXPECT_EQ(server.Server().Now().connections, 0u);
    // Closed by the server (a client's Raw returns only then).
    const std::string answer = server.Client().Raw("GET /forbidden HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(RawStatus(answer), 403);
    EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos) << answer;
    // The page's connections, all at once, are each served.
    std::vector<std::unique_ptr<RawConnection>> page;
    for (size_t i = 0; i < HttpServer::Limits{}.connections; ++i)
        page.push_back(std::make_unique<RawConnection>(server.Port()));
    for (auto& connection : page)
        connection->Send("GET /plain HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    for (auto& connection : page)
        EXPECT_EQ(RawStatus(connection->ReadUntil("plain")), 200);
}

// "Expect: 100-continue": the client sends the body only once told to; a request that will be
// refused gets its final answer at once instead.
TEST(HttpServer, AClientExpectingContinueIsToldToSendOrRefusedAtOnce) {
    TestServer server;
    {
        RawConnection connection(server.Port());
        connection.Send("PUT /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n"
                        "Expect: 100-continue\r\n\r\n");
        const std::string interim = connection.ReadUntil("\r\n\r\n");
        EXPECT_EQ(interim, "HTTP/1.1 100 Continue\r\n\r\n");
        connection.Send("hello");
        const std::string answer = connection.ReadUntil("hello");
        EXPECT_EQ(RawStatus(answer.substr(interim.size())), 200) << answer;
    }
    // Refused by the screen, and too large to take.
    for (const auto& [head, status] :
         {std::pair{std::string("Sec-Fetch-Site: cross-site\r\nContent-Length: 5\r\n"), 403},
          std::pair{std::string("Content-Length: 100000000\r\n"), 413}}) {
        const std::string answer = server.Client().Raw("PUT /echo HTTP/1.1\r\nHost: 127.0.0.1\r\n" + head +
                                                       "Expect: 100-continue\r\n\r\n");
        EXPECT_EQ(RawStatus(answer), status) << answer;
        EXPECT_EQ(answer.find("100 Continue"), std::string::npos) << answer;
        EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos) << answer;
    }
    // HTTP/1.0 knows no expectation, and a body sent at once needs no invitation.
    const std::string answer =
        server.Client().Raw("PUT /echo HTTP/1.0\r\nContent-Length: 2\r\nExpect: 100-continue\r\n\r\nhi");
    EXPECT_EQ(RawStatus(answer), 200) << answer;
    EXPECT_EQ(answer.find("100 Continue"), std::string::npos) << answer;
}

} // namespace zeb::test
