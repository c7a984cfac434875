// zeb view under bad and heavy use: malformed HTTP, clients that vanish, more slow clients than it
// takes, long polls, thousands of mixed requests while both channels acquire; and every way to stop it.
#include "ViewFlows.h"
#include "ViewServer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <regex>
#include <tuple>

namespace zeb::test {

class ViewRobustness : public ViewSuite {
protected:
    static void SetUpTestSuite() { StartServer(); }
    static bool Serving() {
        try {
            return Client().Get("/api/channels/0/status").status == 200;
        } catch (const std::exception&) {
            return false;
        }
    }
};

TEST_F(ViewRobustness, MalformedRequestsVanishingAndSlowClientsLeaveThePageServed) {
    const std::string end = "\r\n\r\n", put = "PUT /api/channels/0/features/Gain HTTP/1.1\r\n";
    const std::vector<RawExchange> cases = {
        {"bytes that are no request", std::string("\x01\x02\x03 hello") + end, 400},
        {"zero bytes", std::string(100, '\0') + end, 400},
        {"no version", "GET /" + end, 400},
        {"an unknown version", "GET / HTTP/2.0" + end, 400},
        {"a blank in the target", "GET /a b HTTP/1.1" + end, 400},
        {"a header without a colon", "GET / HTTP/1.1\r\nHost 127.0.0.1" + end, 400},
        {"a header line too long", "GET / HTTP/1.1\r\nX-Long: " + std::string(10000, 'a') + end, 431},
        {"a body too long", put + "Content-Length: 100000000" + end + std::string(70000, '1'), 413},
        {"a length that is no number", put + "Content-Length: abc" + end, 400},
        {"two different lengths", put + "Content-Length: 1\r\nContent-Length: 2" + end + "12", 400},
        // With the script's mark: without it the head alone is refused (403) before any body is read.
        {"a broken chunk", put + "X-Zeb-Script: 1\r\nTransfer-Encoding: chunked" + end + "ZZ\r\n", 400},
        {"a malformed escape", "GET /api/channels/0/features/%zz HTTP/1.1" + end, 400},
        {"a CONNECT", "CONNECT 127.0.0.1:80 HTTP/1.1" + end, 400},
    };
    const HttpClient client = Client();
    const std::string gain = client.Get("/api/channels/0/features/Gain").body;
    ExpectRawAnswers(client, cases);
    EXPECT_EQ(client.Get("/api/channels/0/features/Gain").body, gain);

    // Clients that vanish mid-request leave nothing behind.
    const std::vector<std::string> halves = {
        "G", "GET /api/chan", "GET /api/channels HTTP/1.1\r\nHost: 127.0",
        "PUT /api/channels/0/features/Gain HTTP/1.1\r\nContent-Length: 10\r\n\r\n12",
        "GET /api/channels/0/image.png HTTP/1.1\r\n\r\n"};
    for (int round = 0; round < 20; ++round)
        for (const std::string& half : halves)
            client.Raw(half, true);
    EXPECT_EQ(
        RawStatus(client.Raw("GET /api/channels HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")),
        200);
    EXPECT_TRUE(WaitUntil(Serving));

    // More slow clients than the server takes, each stalled mid-request: the slowest make room.
    {
        IdleConnections slow(server->Port(), 70, "GET /api/channels HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        constexpr int PageRequests = 20;
        for (int i = 0; i < PageRequests; ++i) {
            const HttpAnswer answer = Client("page").Get("/api/channels/0/status");
            ASSERT_EQ(answer.status, 200) << i << ": " << answer.body;
        }
        EXPECT_TRUE(WaitUntil([&] { return slow.Closed() >= 70 - 64 + PageRequests; }));
    }
    EXPECT_TRUE(WaitUntil(Serving));
}

TEST_F(ViewRobustness, LongPollsHoldNoThreadAndThousandsOfMixedRequestsAreAnsweredWhileAcquiring) {
    const HttpClient client = Client("poller");
    const int64_t revision = Status(1)["revision"];
    const std::string since = "/api/channels/1/status?since=" + std::to_string(revision);
    // Far more long polls than the server has handler threads, on a channel where nothing happens.
    constexpr int Polls = 24;
    std::vector<std::future<HttpAnswer>> polls;
    for (int i = 0; i < Polls; ++i)
        polls.push_back(std::async(std::launch::async, [&] { return client.Get(since + "&wait=5000"); }));
    // They reach the server and wait there, as its count says, while every other request is answered.
    const auto waiting = [&] { return client.Get("/api/server").Json()["waiting"].get<int>(); };
    const bool arrived = WaitUntil([&] { return waiting() == Polls; });
    EXPECT_TRUE(arrived) << client.Get("/api/server").body;
    for (int i = 0; i < 8 && arrived; ++i) {
        EXPECT_EQ(client.Get("/api/channels/0/features/ExposureTime").status, 200);
        EXPECT_EQ(client.Get("/api/channels").status, 200);
    }
    EXPECT_EQ(waiting(), Polls) << "the long polls ended before the other requests were answered";
    for (auto& poll : polls)
        EXPECT_EQ(poll.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    // Nothing happens on a stopped channel: a short wait ends with the same revision.
    EXPECT_EQ(client.Get(since + "&wait=50").Json()["revision"], revision);
    // A change of the channel answers them all.
    EXPECT_EQ(client.Post("/api/channels/1/acquisition/start").status, 200);
    for (auto& poll : polls) {
        const HttpAnswer answer = poll.get();
        ASSERT_EQ(answer.status, 200) << answer.body;
        EXPECT_GT(answer.Json()["revision"].get<int64_t>(), revision);
    }
    EXPECT_EQ(client.Post("/api/channels/1/acquisition/stop").status, 200);

    // Thousands of mixed requests, now and then a malformed one, while both channels acquire.
    for (const int channel : {0, 1}) {
        ASSERT_EQ(Client().Post("/api/channels/" + std::to_string(channel) + "/acquisition/start").status,
                  200);
        WaitForImageSets(channel, 1); // before its images are asked for
    }
    const std::vector<Exchange> kinds = {
        {"GET", "/api/channels/0/status", "", 200},
        {"GET", "/api/channels/1/status?since=0&wait=10", "", 200},
        {"GET", "/api/channels", "", 200},
        {"GET", "/api/channels/1/features", "", 200},
        {"GET", "/api/channels/0/features/ExposureTime", "", 200},
        {"PUT", "/api/channels/0/features/Gain", "1", 200},
        {"PUT", "/api/channels/1/features/LightingOrientation", "sideways", 422},
        {"GET", "/api/channels/0/image.png?form=direction2&scale=8", "", 200},
        {"GET", "/api/channels/1/image.png?form=average&scale=16", "", 200},
        {"GET", "/api/channels/0/assistant", "", 200},
        {"POST", "/api/channels/0/commands/Gain", "", 422},
        {"GET", "/api/channels/7/status", "", 404},
        {"GET", "/viewer.css", "", 200},
        {"GET", "/%zz", "", 400},
    };
#if defined(_WIN32)
    // Under Wine each request of this test program costs tens of milliseconds on its own side.
    constexpr int Threads = 4, PerThread = 250;
#else
    constexpr int Threads = 4, PerThread = 750;
#endif
    std::vector<std::future<void>> loads;
    for (size_t t = 0; t < Threads; ++t)
        loads.push_back(std::async(std::launch::async, [&, t] {
            std::vector<Exchange> mixed;
            for (size_t i = 0; i < PerThread; ++i)
                mixed.push_back(kinds[(i * 7 + t) % kinds.size()]);
            ExpectAnswers(Client("load" + std::to_string(t)), mixed);
        }));
    for (auto& load : loads)
        load.get();
    // Both acquisitions still deliver (a set dropped on a machine this busy restarts one: not an error).
    for (const int channel : {0, 1}) {
        const auto after = Status(channel);
        EXPECT_THAT(after, HasFields(Json{{"mode", "live"}, {"error", ""}})) << channel;
        WaitForStatus(channel, [&](const Json& s) {
            return s["statistics"]["imageSets"] > after["statistics"]["imageSets"];
        });
    }
    StopBoth();
}

#if !defined(_WIN32)
// Under Wine no signal reaches zeb.exe: there the console control handler is tried by hand.

// zeb view's last lines: the channels released (channel 0's recording cut short as `cut` says).
std::regex LastLines(const std::string& cut = "") {
    return std::regex(
        "\nzeb view: stopping\n"
        "zeb view: channel 0 \\(BRELAN: Morvane \\(#0\\)\\): released" +
        (cut.empty() ? "" : "; its recording of " + cut + " was cut short with [0-9]+ written") +
        "\nzeb view: channel 1 \\(BRELAN: Morvane \\(#1\\)\\): released\n"
        "zeb view: stopped after [0-9]+ requests?\n$");
}

// Each stop says which recording it cut short (by count, by time, none); each camera ends stopped
// after its last start, and closed. The recordings' sets are small and slow (about 30 KB, 4 a
// second), so that they fit on any disk: one that would not is refused once its first sets show its rate.
TEST(ViewShutdown, CtrlCSigtermAndSighupStopTheAcquisitionsAndReleaseTheChannels) {
    for (const auto& [signal, recording, cut] :
         {std::tuple{SIGINT, "count=300", "300 image sets"}, std::tuple{SIGTERM, "seconds=600", "600 s"},
          std::tuple{SIGHUP, "", ""}}) {
        SCOPED_TRACE("signal " + std::to_string(signal));
        TestEnvironment environment;
        ViewServer server(environment, {"--out", (environment.Folder() / "saved").string()});
        const HttpClient client = server.Client();
        for (const auto& [feature, value] :
             {std::pair{"Width", "128"}, {"Height", "128"}, {"ExposureTime", "65000"}})
            ASSERT_EQ(client.Put(std::string("/api/channels/0/features/") + feature, value).body, value);
        const std::string start = *cut ? std::string("recording/start?") + recording : "acquisition/start";
        ASSERT_EQ(client.Post("/api/channels/0/" + start).status, 200);
        ASSERT_EQ(client.Post("/api/channels/1/assistant/start", "brightness").status, 200);
        ASSERT_TRUE(WaitUntil([&] {
            const auto status = client.Get("/api/channels/0/status").Json();
            return client.Get("/api/channels/1/assistant").Json()["images"].get<int>() > 0 &&
                   status["statistics"]["imageSets"].get<int>() > 0 &&
                   (!*cut || status["recording"]["written"].get<int>() > 0);
        }));
        const Outcome outcome = server.Stop(signal);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_TRUE(std::regex_search(outcome.out, LastLines(cut))) << outcome.out;
        for (const std::string camera : {"camera:GigE 00:11:1c:00:00:01", "camera:Grabber 0 Port A"}) {
            std::string operations = "\n"; // the camera's, each on a line
            for (const std::string& line : environment.TraceLines())
                if (line.starts_with(camera + "\t"))
                    operations += line.substr(camera.size() + 1) + "\n";
            EXPECT_NE(operations.find("\nstop\n", operations.rfind("\nstart\n")), std::string::npos)
                << camera;
            EXPECT_TRUE(operations.ends_with("\nclose\n")) << camera;
        }
    }
}

TEST(ViewShutdown, EveryRequestUnderWayIsAnsweredAndNoneForgesALine) {
    TestEnvironment environment;
    ViewServer server(environment);
    const HttpClient client = server.Client("page");
    // Texts a request carries that would forge lines of zeb view's output if printed as they are.
    const std::string forged = "%0d%0azeb%20view:%20stopped%20after%200%20requests%0a";
    EXPECT_EQ(client.Get("/api/channels/0/features/Gain" + forged).status, 404);
    EXPECT_EQ(client.Get("/api/channels/9" + forged).status, 404);
    EXPECT_EQ(client.Put("/api/channels/0/features/LightingOrientation", "x\nzeb view: stopping\n").status,
              422);
    const std::string since =
        "/api/channels/1/status?since=" +
        std::to_string(client.Get("/api/channels/1/status").Json()["revision"].get<int64_t>());
    const auto received = [&] { return client.Get("/api/server").Json()["received"].get<int64_t>(); };
    const int64_t before = received();
    // Long polls, and requests that keep the channel busy, under way as Ctrl-C comes: each is answered.
    std::vector<std::future<int>> requests;
    for (size_t i = 0; i < 16; ++i)
        requests.push_back(std::async(std::launch::async, [&, i] {
            return client.Get(i % 2 ? since + "&wait=5000" : "/api/channels/0/features").status;
        }));
    // Every one has reached the server (not counting the reports of `received` meanwhile).
    int64_t reports = 0;
    EXPECT_TRUE(WaitUntil([&] { return received() - before - ++reports >= int64_t(requests.size()); }));
    const Outcome outcome = server.Stop();
    for (auto& request : requests)
        EXPECT_THAT(request.get(), AnyOf(200, 503));
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_THAT(outcome.out, Not(HasSubstr("stopped after 0")));
    EXPECT_TRUE(std::regex_search(outcome.out, LastLines())) << outcome.out;
}
#endif

} // namespace zeb::test
