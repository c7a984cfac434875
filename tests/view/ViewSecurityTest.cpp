// zeb view beside a browser: a page of another site or origin is refused, a change needs the mark of
// zeb view's page or a script, nothing served may be framed, a body is taken by its length or a lone
// chunked coding only, and loopback is told by the address.
#include "Stations.h"
#include "ViewServer.h"

#include <gtest/gtest.h>

#include <map>

namespace zeb::test {

class ViewSecurity : public ViewSuite {
protected:
    static void SetUpTestSuite() { StartServer(); }
    static std::string Exposure() { return Client().Get("/api/channels/0/features/ExposureTime").body; }
};

TEST_F(ViewSecurity, PagesOfOtherSitesAndOriginsChangeNothingAndReadNothing) {
    const std::string held = Exposure(), exposure = "/api/channels/0/features/ExposureTime";
    const ::testing::Matcher<const std::string&> why = Not(IsEmpty());
    // A sandboxed frame, another origin; then navigation, long poll, form, no-cors fetch and a write
    // with a page id from a page elsewhere (another port of this machine is "same-site").
    std::vector<Exchange> refused = {
        {"POST", "/api/channels/0/acquisition/start", "", 403, why, {{"Origin", "null"}}},
        {"PUT", exposure, "77", 403, why, {{"Origin", "http://127.0.0.1:9"}}},
    };
    for (const std::string site : {"cross-site", "same-site"}) {
        const auto from = [&](HttpClient::Headers headers) {
            headers["Sec-Fetch-Site"] = site;
            return headers;
        };
        refused.insert(refused.end(),
                       {{"GET", "/", "", 403, why, from({})},
                        {"GET", "/api/channels/0/status?since=0&wait=5000", "", 403, why,
                         from({{"Sec-Fetch-Mode", "no-cors"}})},
                        {"POST", "/api/channels/0/acquisition/start", "", 403, why,
                         from({{"Origin", "http://localhost:9"}})},
                        {"POST", "/api/channels/0/commands/AcquisitionStart", "", 403, why, from({})},
                        {"PUT", exposure, "77", 403, why, from({{"X-Zeb-Client", "intruder"}})}});
    }
    ExpectAnswers(Client(), refused);
    // A simple form of an old browser that names no site: it cannot send the marks.
    const HttpClient unmarked = Client().Unmarked();
    ExpectAnswers(unmarked, {{"POST", "/api/channels/0/acquisition/start", "", 403},
                             {"PUT", exposure, "77", 403, HasSubstr("X-Zeb-Script")}});
    EXPECT_EQ(Exposure(), held);
    EXPECT_EQ(Status(0)["acquiring"], false);

    // An address typed in the browser, the page itself (its id, or the browser's word that it is the
    // same origin), a script; the names of this machine, whatever the port they carry.
    EXPECT_EQ(unmarked.Get("/", {{"Sec-Fetch-Site", "none"}}).status, 200);
    EXPECT_EQ(unmarked.Put(exposure, "61", {{"Sec-Fetch-Site", "same-origin"}}).body, "61");
    EXPECT_EQ(Client("page").Put(exposure, "62", {{"Origin", "http://" + unmarked.Host()}}).body, "62");
    EXPECT_EQ(Client().Put(exposure, held).body, held);
    for (const std::string host : {"localhost:1", "127.0.0.1", "[::1]:8177"})
        EXPECT_EQ(Client().Get("/api/channels", {{"Host", host}}).status, 200) << host;
}

// Nothing served may be framed or read elsewhere, and nothing the page loads comes from elsewhere.
TEST_F(ViewSecurity, NothingServedMayBeFramedOrReadOrLoadedElsewhereAndBodiesAreNotSmuggled) {
    const HttpClient client = Client();
    // The page's files first.
    const std::vector<std::tuple<std::string, HttpAnswer, int>> answers = {
        {"/", client.Get("/"), 200},
        {"/index.html", client.Get("/index.html"), 200},
        {"/viewer.js", client.Get("/viewer.js"), 200},
        {"/viewer.css", client.Get("/viewer.css"), 200},
        {"the API", client.Get("/api/channels"), 200},
        {"a path that does not exist", client.Get("/nothing"), 404},
        {"the server's own answer to a malformed target", client.Get("/%zz"), 400},
        {"a rebound DNS name", client.Get("/", {{"Host", "evil.example"}}), 403},
        {"a preflight",
         client.Send("OPTIONS", "/api/channels/0/features/Gain", "",
                     {{"Origin", "http://evil.example"},
                      {"Access-Control-Request-Method", "PUT"},
                      {"Access-Control-Request-Headers", "x-zeb-client"}}),
         403},
    };
    for (size_t i = 0; i < answers.size(); ++i) {
        const auto& [what, answer, status] = answers[i];
        EXPECT_EQ(answer.status, status) << what;
        EXPECT_THAT(answer.Header("content-security-policy"), HasSubstr("frame-ancestors 'none'")) << what;
        EXPECT_EQ(std::tuple(answer.Header("x-frame-options"), answer.Header("x-content-type-options"),
                             answer.Header("access-control-allow-origin")),
                  std::tuple("DENY", "nosniff", ""))
            << what;
        if (i < 4) {
            EXPECT_THAT(answer.body, AllOf(Not(HasSubstr("http://")), Not(HasSubstr("https://")))) << what;
            EXPECT_EQ(answer.Header("cache-control"), "no-store") << what;
        }
    }
    const HttpAnswer& page = std::get<1>(answers[0]);
    EXPECT_EQ(page.Header("content-type"), "text/html; charset=utf-8");
    EXPECT_THAT(page.body, HasSubstr("<title>zeb view</title>"));
    EXPECT_EQ(std::get<1>(answers[1]).body, page.body);
    EXPECT_EQ(std::get<1>(answers[2]).Header("content-type"), "text/javascript; charset=utf-8");
    // The page may run its own script only.
    EXPECT_THAT(page.Header("content-security-policy"), HasSubstr("default-src 'self'"));

    // A body is taken by its length or a lone chunked coding only.
    const std::string exposure = Exposure();
    // Read as a request of its own, this body would set the exposure.
    const std::string smuggled = "PUT /api/channels/0/features/ExposureTime HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                 "X-Zeb-Script: 1\r\nContent-Length: 2\r\n\r\n77";
    auto chunk = [](const std::string& data) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", data.size());
        return size + data + "\r\n0\r\n\r\n";
    };
    const std::string head = "GET /api/channels HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const auto coded = [&](const std::string& codings) {
        return head + "Transfer-Encoding: " + codings + "\r\n\r\n";
    };
    ExpectRawAnswers(
        client,
        {
            {"chunked, then identity", coded("chunked, identity") + smuggled, 400},
            {"gzip alone", coded("gzip") + smuggled, 400},
            {"gzip, then chunked", coded("gzip, chunked") + chunk(smuggled), 501},
            {"chunked twice in one header", coded("chunked, chunked") + chunk(smuggled), 400},
            {"chunked in two headers", coded("chunked\r\nTransfer-Encoding: chunked") + chunk(smuggled), 400},
            {"an empty coding", coded(",chunked") + chunk(smuggled), 400},
            {"chunked and a length", coded("chunked\r\nContent-Length: 10") + chunk(smuggled), 400},
            {"chunked in HTTP/1.0",
             "GET /api/channels HTTP/1.0\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n" +
                 chunk(smuggled),
             400},
            {"two hosts", head + "Host: evil.example\r\n\r\n", 400},
        });
    EXPECT_EQ(Exposure(), exposure);
    // A lone chunked coding is read as such.
    const std::string put =
        Client().Raw("PUT /api/channels/0/features/ExposureTime HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                     "X-Zeb-Script: 1\r\nConnection: close\r\nTransfer-Encoding: Chunked\r\n\r\n" +
                     chunk("63"));
    EXPECT_EQ(RawStatus(put), 200) << put;
    EXPECT_EQ(Exposure(), "63");
    EXPECT_EQ(Client().Put("/api/channels/0/features/ExposureTime", exposure).body, exposure);
}

// zeb view takes --profile and --set as the other commands do, for the channel --channel names.
TEST(ViewLoopback, IsToldByTheAddressHoweverItIsWrittenAndSettingsReachTheChannelBeforeItIsServed) {
    for (const std::string bind : {"::ffff:127.0.0.1", "0:0:0:0:0:0:0:1"}) {
        TestEnvironment environment;
        const auto profile = environment.Folder() / "bring-up.profile";
        TestEnvironment::WriteFile(profile, "ExposureTime=80\nLightingOrientation=90 deg\n");
        ViewServer server(environment, {"--bind", bind, "--channel", "1", "--profile", profile.string(),
                                        "--set", "Gain=3"});
        const HttpClient client = server.Client();
        EXPECT_EQ(client.Get("/api/channels", {{"Host", "evil.example:8177"}}).status, 403) << bind;
        // The address it prints reaches it.
        EXPECT_EQ(client.Get("/api/channels").status, 200) << bind << " " << client.Host();
        EXPECT_THAT(server.Output(), Not(HasSubstr("anyone who reaches"))) << bind;
        for (const auto& [name, value] :
             std::map<std::string, std::string>{{"ExposureTime", "80"},
                                                {"LightingOrientation", "90 deg"},
                                                {"Gain", "3"},
                                                {"AcquisitionMode", "Continuous"}})
            EXPECT_EQ(client.Get("/api/channels/1/features/" + name).body, value) << name;
        EXPECT_EQ(client.Get("/api/channels/0/features/LightingOrientation").body, "180 deg");
    }
    // A channel without a wired camera says what its wiring lacks when zeb view starts, and again
    // after the plug-in's text when a start is refused.
    {
        TestEnvironment unwired;
        Json station = AreaStation();
        station["cables"] = Json::array();
        unwired.UseStation(station.dump());
        ViewServer server(unwired);
        const std::string lacks =
            "nothing carries the frame trigger: connect Camera0Output0 to Line0 of \"Cam A\"";
        EXPECT_THAT(server.Output(), HasSubstr(lacks));
        ExpectAnswers(server.Client(),
                      {{"POST", "/api/channels/0/acquisition/start", "", 422,
                        AllOf(StartsWith("No valid DeviceImageSource selected. ("), HasSubstr(lacks))}});
    }
    // A name for --bind is refused before any channel is opened.
    TestEnvironment environment;
    const Outcome named =
        ZebProcess::Run(environment.Folder(), {"view", "--port", "0", "--bind", "localhost"});
    EXPECT_NE(named.status, 0);
    EXPECT_THAT(named.err, HasSubstr("\"localhost\" is not an IP address"));
    EXPECT_THAT(named.out, Not(HasSubstr("channel 0")));
}

} // namespace zeb::test
