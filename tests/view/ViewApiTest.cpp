// The JSON API of zeb view over HTTP: channels, features with their units and meaning, commands,
// profiles, the answers to requests that are wrong, and the routes as the API's documentation lists
// them. One server for the whole file, with the built-in station, and one started with settings on
// its command line.
#include "FeatureNames.h"
#include "ViewServer.h"
#include "view/ViewerApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <ostream>
#include <regex>
#include <tuple>

namespace zeb::test {

class ViewApi : public ViewSuite {
protected:
    static void SetUpTestSuite() { StartServer(); }
};

TEST_F(ViewApi, ListsTheChannelsWithTheirWiredCamerasAndNoImageSetYet) {
    const HttpAnswer answer = Client().Get("/api/channels");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.Header("content-type"), "application/json");
    const auto channels = answer.Json();
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels[0]["index"], 0);
    EXPECT_EQ(channels[0]["name"], "BRELAN: Morvane (#0)");
    EXPECT_EQ(channels[0]["scanType"], "Areascan");
    EXPECT_EQ(channels[0]["camera"], "GigE 00:11:1c:00:00:01");
    EXPECT_EQ(channels[1]["scanType"], "Linescan");
    EXPECT_EQ(channels[1]["camera"], "Grabber 0 Port A");
    EXPECT_EQ(channels[1]["acquiring"], false);
    // Nothing acquires in this file's server: there is no image set yet.
    const HttpAnswer image = Client().Get("/api/channels/0/image.png");
    EXPECT_EQ(image.status, 404);
    EXPECT_EQ(image.body, "channel 0 has no image set yet");
    EXPECT_EQ(Client().Post("/api/channels/1/save").status, 404);
    const auto status = Client().Get("/api/channels/1/status").Json();
    EXPECT_TRUE(status["imageSet"].is_null());
    EXPECT_EQ(status["mode"], "idle");
}

TEST_F(ViewApi, DescribesEveryFeatureWithItsGroup) {
    const HttpAnswer answer = Client().Get("/api/channels/1/features");
    ASSERT_EQ(answer.status, 200) << answer.body;
    const auto features = answer.Json();
    ASSERT_EQ(features.size(), std::size(FeatureNames));
    for (size_t i = 0; i < features.size(); ++i)
        EXPECT_EQ(features[i]["name"], FeatureNames[i]);
    auto find = [&](const std::string& name) {
        for (const auto& feature : features)
            if (feature["name"] == name)
                return feature;
        return nlohmann::json();
    };
    const auto exposure = find("ExposureTime");
    EXPECT_EQ(exposure["type"], "Float");
    EXPECT_EQ(exposure["group"], "Acquisition");
    EXPECT_EQ(exposure["readable"], true);
    EXPECT_EQ(exposure["writable"], true);
    EXPECT_EQ(exposure["common"], true);
    EXPECT_TRUE(exposure["value"].is_string());
    const auto orientation = find("LightingOrientation");
    EXPECT_EQ(orientation["value"], "270 deg"); // line scan
    EXPECT_EQ(orientation["choices"], (nlohmann::json{"0 deg", "90 deg", "180 deg", "270 deg"}));
    EXPECT_EQ(find("DialogSelector")["choices"].size(), 5u);
    const auto detect = find("DeviceImageSourceDetect");
    EXPECT_EQ(detect["type"], "Command");
    EXPECT_TRUE(detect["value"].is_null());
    EXPECT_EQ(find("DeviceScanType")["writable"], false);
    EXPECT_EQ(find("GevSCPD")["group"], "Transport");

    // Units beside the values, a meaning for every feature, and the limits the channel applies.
    EXPECT_EQ(exposure["unit"], "us");
    EXPECT_EQ(find("Gain")["unit"], "dB");
    EXPECT_EQ(orientation["unit"], "");
    EXPECT_NE(exposure["limits"].get<std::string>().find("65000"), std::string::npos);
    for (const auto& feature : features)
        EXPECT_FALSE(feature["description"].get<std::string>().empty()) << feature["name"];
    EXPECT_NE(find("EncoderResolution")["limits"].get<std::string>().find("steps of 4"), std::string::npos);
    // The image region and its mirroring are what a streaming camera refuses to change; nothing else.
    std::vector<std::string> fixed;
    for (const auto& feature : features)
        if (feature["fixedWhileAcquiring"] == true)
            fixed.push_back(feature["name"]);
    EXPECT_EQ(fixed, (std::vector<std::string>{"Width", "Height", "OffsetX", "OffsetY", "ReverseXY"}));
}

TEST_F(ViewApi, AProfileIsReadAndAppliedLineByLine) {
    const HttpClient client = Client();
    ASSERT_EQ(client.Put("/api/channels/0/features/ExposureTime", "90").status, 200);
    HttpAnswer answer = client.Get("/api/channels/0/profile");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.Header("content-type"), "text/plain; charset=utf-8");
    const std::string saved = answer.body;
    // The writable settings in the channel's order, the camera first; no commands, assistant
    // controls, read-only values or "AcquisitionMode".
    EXPECT_EQ(saved.rfind("# zeb profile of BRELAN: Morvane (#0)", 0), 0u) << saved;
    EXPECT_LT(saved.find("\nDeviceImageSource=GigE 00:11:1c:00:00:01\n"), saved.find("\nWidth="));
    EXPECT_NE(saved.find("\nExposureTime=90\n"), std::string::npos) << saved;
    for (const char* absent :
         {"DeviceScanType=", "DialogSelector=", "AcquisitionMode=", "DeviceImageSourceDetect"})
        EXPECT_EQ(saved.find(absent), std::string::npos) << absent;

    // Applied in order, each line answered with what the channel holds or its error; any line not
    // held as written makes it 422, and the lines after it are applied all the same.
    answer =
        client.Put("/api/channels/0/profile",
                   "# bring-up\nExposureTime=70000\nExposureTim=3\nLightingOrientation=45 deg\nGain=2\n");
    EXPECT_EQ(answer.status, 422);
    const std::string lines = answer.body;
    EXPECT_EQ(lines.substr(0, lines.find('\n')),
              "ExposureTime: wrote \"70000\", the channel holds \"65000\"");
    EXPECT_NE(
        lines.find("\nExposureTim: Feature ExposureTim does not exist. (did you mean \"ExposureTime\"?)\n"),
        std::string::npos)
        << lines;
    EXPECT_NE(lines.find("\nLightingOrientation: "), std::string::npos) << lines;
    EXPECT_EQ(lines.substr(lines.rfind('\n') + 1), "Gain: holds \"2\"");
    EXPECT_EQ(client.Get("/api/channels/0/features/Gain").body, "2");

    // The saved profile brings everything back, and every line is held.
    answer = client.Put("/api/channels/0/profile", saved);
    EXPECT_EQ(answer.status, 200) << answer.body;
    EXPECT_NE(answer.body.find("ExposureTime: holds \"90\""), std::string::npos) << answer.body;
    EXPECT_EQ(client.Get("/api/channels/0/profile").body, saved);

    // A line that is no NAME=VALUE refuses the whole profile before anything is written.
    answer = client.Put("/api/channels/0/profile", "ExposureTime=40\nno assignment here\n");
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, "profile:2: \"no assignment here\" is not NAME=VALUE");
    EXPECT_EQ(client.Get("/api/channels/0/features/ExposureTime").body, "90");
    EXPECT_EQ(client.Put("/api/channels/0/profile", std::string("A=1\0", 4)).status, 400);
    EXPECT_EQ(client.Post("/api/channels/0/profile").status, 405);
    ASSERT_EQ(client.Put("/api/channels/0/features/Gain", "0").status, 200);
}

TEST_F(ViewApi, AWriteAnswersWithTheValueTheChannelHolds) {
    const HttpClient client = Client();
    HttpAnswer answer = client.Put("/api/channels/0/features/Gain", "2");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.Header("x-zeb-written"), "held");
    EXPECT_EQ(client.Get("/api/channels/0/features/Gain").body, answer.body);

    // The line rate is limited to at least 10 lines per second: the answer is what the channel holds.
    answer = client.Put("/api/channels/1/features/AcquisitionLineRate", "5");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.body, "10");
    EXPECT_EQ(answer.Header("x-zeb-written"), "adjusted");
    answer = client.Put("/api/channels/1/features/AcquisitionLineRate", "2000.0");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.body, "2000");
    EXPECT_EQ(answer.Header("x-zeb-written"), "normalised");

    // The name is percent-decoded; blanks in a value travel as they are.
    answer = client.Put("/api/channels/0/features/Lighting%4Frientation", "90 deg");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.body, "90 deg");
    EXPECT_EQ(client.Put("/api/channels/0/features/LightingOrientation", "180 deg").status, 200);
}

TEST_F(ViewApi, APluginErrorComesVerbatimWith422) {
    const HttpClient client = Client();
    const std::string before = client.Get("/api/channels/0/features/LightingOrientation").body;
    HttpAnswer answer = client.Put("/api/channels/0/features/LightingOrientation", "45 deg");
    EXPECT_EQ(answer.status, 422);
    EXPECT_NE(answer.body.find("45 deg"), std::string::npos) << answer.body;
    EXPECT_EQ(answer.Header("content-type"), "text/plain; charset=utf-8");
    EXPECT_EQ(client.Get("/api/channels/0/features/LightingOrientation").body, before);

    answer = client.Put("/api/channels/0/features/DeviceScanType", "Linescan");
    EXPECT_EQ(answer.status, 422);
    EXPECT_FALSE(answer.body.empty());

    answer = client.Post("/api/channels/0/commands/ExposureTime");
    EXPECT_EQ(answer.status, 422);
    EXPECT_EQ(answer.body, "Feature ExposureTime is not a command.");

    // A value of 1000 characters is the plug-in's to judge; the server stays well.
    answer = client.Put("/api/channels/0/features/LightingSequenceType", std::string(1000, 'x'));
    EXPECT_EQ(answer.status, 422);
    EXPECT_EQ(client.Get("/api/channels").status, 200);
}

TEST_F(ViewApi, AnUnknownFeatureIs404WithThePluginsText) {
    const HttpClient client = Client();
    for (const std::string method : {"GET", "PUT"}) {
        const HttpAnswer answer = client.Send(method, "/api/channels/0/features/Exposure", "1", {});
        EXPECT_EQ(answer.status, 404) << method;
        EXPECT_EQ(answer.body, "Feature Exposure does not exist.") << method;
    }
    EXPECT_EQ(client.Post("/api/channels/0/commands/Detect").status, 404);
    // Whatever the length: the plug-in's text comes cut to the host's 255 bytes.
    for (const size_t length : {230u, 239u, 240u, 247u, 248u, 1000u}) {
        const std::string name(length, 'Q');
        for (const std::string method : {"GET", "PUT"}) {
            const HttpAnswer answer = client.Send(method, "/api/channels/0/features/" + name, "1", {});
            EXPECT_EQ(answer.status, 404) << method << " " << length << ": " << answer.body;
            EXPECT_EQ(answer.body, ("Feature " + name + " does not exist.").substr(0, 255));
        }
        EXPECT_EQ(client.Post("/api/channels/0/commands/" + name).status, 404) << length;
    }
    // A name longer than a request may be is refused as such.
    const HttpAnswer tooLong = client.Get("/api/channels/0/features/" + std::string(9000, 'Q'));
    EXPECT_EQ(tooLong.status, 431);
    EXPECT_EQ(tooLong.body, "the request line and headers are longer than 8192 bytes (a path that long names "
                            "nothing here)");
}

TEST_F(ViewApi, WrongPathsMethodsAndChannelsAreRefusedWithAText) {
    const HttpClient client = Client();
    struct Case {
        std::string method, target;
        int status;
    };
    for (const Case& c : std::vector<Case>{{"GET", "/api/channels/2/features", 404},
                                           {"GET", "/api/channels/-1/features", 404},
                                           {"GET", "/api/channels/01x/features", 404},
                                           {"GET", "/api/channels/99999999999999999999/features", 404},
                                           {"GET", "/api/nothing", 404},
                                           {"GET", "/api/channels/0/nothing", 404},
                                           {"GET", "/nothing.html", 404},
                                           {"DELETE", "/api/channels", 405},
                                           {"POST", "/api/channels/0/features", 405},
                                           {"POST", "/api/channels/0/features/Gain", 405},
                                           {"GET", "/api/channels/0/commands/DialogStart", 405},
                                           {"GET", "/api/channels/0/acquisition/start", 405},
                                           {"PUT", "/api/channels/0/image.png", 405},
                                           {"BREW", "/", 405},
                                           {"GET", "/api/channels/0/image.png?form=sideways", 400},
                                           {"GET", "/api/channels/0/image.png?scale=0", 400},
                                           {"GET", "/api/channels/0/image.png?scale=17", 400},
                                           {"GET", "/api/channels/0/status?since=x", 400},
                                           {"GET", "/api/channels/0/status?since=0&wait=99999", 400}}) {
        const HttpAnswer answer = client.Send(c.method, c.target, {}, {});
        EXPECT_EQ(answer.status, c.status) << c.method << " " << c.target << ": " << answer.body;
        EXPECT_FALSE(answer.body.empty()) << c.method << " " << c.target;
        if (c.status == 405) {
            EXPECT_FALSE(answer.Header("allow").empty()) << c.target;
        }
    }
    // A NUL in a value, and page ids that are not plain words.
    EXPECT_EQ(client
                  .Put("/api/channels/0/features/Gain", std::string("1\0"
                                                                    "2",
                                                                    3))
                  .status,
              400);
    EXPECT_EQ(client.Get("/api/channels", {{"X-Zeb-Client", "a b"}}).status, 400);
    EXPECT_EQ(client.Get("/api/channels", {{"X-Zeb-Client", std::string(65, 'a')}}).status, 400);
    EXPECT_EQ(client.Post("/api/clients/a%20b/close").status, 400);
}

namespace {

struct DocumentedRoute {
    std::string method, path;
    bool operator<(const DocumentedRoute& other) const {
        return std::tie(path, method) < std::tie(other.path, other.method);
    }
    bool operator==(const DocumentedRoute& other) const = default;
    friend std::ostream& operator<<(std::ostream& out, const DocumentedRoute& route) {
        return out << route.method << " " << route.path;
    }
};

// The path of a target as the API's table writes it: "/api/channels/{i}/status[?since=R&wait=MS]"
// is "/api/channels/{i}/status".
std::string PathOf(const std::string& target) {
    return target.substr(0, target.find_first_of("?["));
}

// The rows of the API's table in its documentation, as "| `METHOD /path` | ...", with the further
// paths a row names for the same method: "`.../stop`" (the last part replaced), "`/viewer.js`".
std::vector<DocumentedRoute> DocumentedRoutes() {
    std::ifstream in(ZEB_API_DOC);
    EXPECT_TRUE(in) << "cannot read " << ZEB_API_DOC;
    const std::regex row("^\\| `(GET|HEAD|PUT|POST|PATCH|DELETE) (/[^`]*)`([^|]*)\\|");
    const std::regex span("`([^`]*)`");
    std::vector<DocumentedRoute> routes;
    std::string line;
    while (std::getline(in, line)) {
        std::smatch match;
        if (!std::regex_search(line, match, row))
            continue;
        const std::string method = match[1];
        std::string path = PathOf(match[2]);
        routes.push_back({method, path});
        const std::string more = match[3];
        for (auto at = std::sregex_iterator(more.begin(), more.end(), span); at != std::sregex_iterator();
             ++at) {
            const std::string text = (*at)[1];
            if (text.starts_with("..."))
                path = path.substr(0, path.rfind('/')) + text.substr(3);
            else if (text.starts_with("/"))
                path = PathOf(text);
            else
                continue; // another query, as "`?seconds=T`"
            routes.push_back({method, path});
        }
    }
    return routes;
}

} // namespace

// The API's documentation and zeb view's table of routes list the same requests; a method a path
// does not take is answered 405 with the methods it does take, as documented.
TEST_F(ViewApi, ServesTheDocumentedRoutesAndNoOthers) {
    const std::vector<DocumentedRoute> documented = DocumentedRoutes();
    ASSERT_GT(documented.size(), 20u);
    std::vector<DocumentedRoute> api, page;
    for (const DocumentedRoute& route : documented)
        (route.path.starts_with("/api/") ? api : page).push_back(route);
    std::vector<DocumentedRoute> routed;
    bool servesThePage = false;
    for (const view::ViewerApi::Route& route : view::ViewerApi::Routes()) {
        if (std::string(route.pattern) == "/*")
            servesThePage = std::string(route.method) == "GET";
        else
            routed.push_back({route.method, route.pattern});
    }
    std::sort(api.begin(), api.end());
    std::sort(routed.begin(), routed.end());
    EXPECT_EQ(api, routed);
    EXPECT_TRUE(servesThePage);

    const HttpClient client = Client();
    for (const DocumentedRoute& route : page) {
        EXPECT_EQ(route.method, "GET");
        EXPECT_EQ(client.Get(route.path).status, 200) << route.path;
    }
    std::map<std::string, std::string> allowed; // by path, in the documentation's order
    for (const DocumentedRoute& route : documented)
        allowed[route.path] += (allowed[route.path].empty() ? "" : ", ") + route.method;
    for (const auto& [path, methods] : allowed) {
        const std::string target =
            std::regex_replace(std::regex_replace(std::regex_replace(path, std::regex("\\{i\\}"), "0"),
                                                  std::regex("\\{name\\}"), "ExposureTime"),
                               std::regex("\\{page\\}"), "reader");
        const HttpAnswer answer = client.Send("DELETE", target, {}, {});
        EXPECT_EQ(answer.status, 405) << target;
        EXPECT_EQ(answer.Header("allow"), methods) << target;
    }
}

TEST_F(ViewApi, ThePageComesFromZebItself) {
    const HttpClient client = Client();
    HttpAnswer page = client.Get("/");
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(page.Header("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("<title>zeb view</title>"), std::string::npos);
    EXPECT_EQ(client.Get("/index.html").body, page.body);
    // Nothing the page loads comes from elsewhere.
    for (const std::string file : {"/", "/viewer.js", "/viewer.css"}) {
        const HttpAnswer answer = client.Get(file);
        ASSERT_EQ(answer.status, 200) << file;
        EXPECT_EQ(answer.body.find("http://"), std::string::npos) << file;
        EXPECT_EQ(answer.body.find("https://"), std::string::npos) << file;
        EXPECT_EQ(answer.Header("cache-control"), "no-store") << file;
    }
    EXPECT_EQ(client.Get("/viewer.js").Header("content-type"), "text/javascript; charset=utf-8");
}

// zeb view takes --profile and --set as the other commands do, for the channel --channel names.
TEST_F(ViewApi, SettingsOnTheCommandLineReachTheChannelBeforeItIsServed) {
    const auto profile = environment->Folder() / "bring-up.profile";
    TestEnvironment::WriteFile(profile, "ExposureTime=80\nLightingOrientation=90 deg\n");
    ViewServer configured(*environment, {"--channel", "1", "--profile", profile.string(), "--set", "Gain=3"});
    const HttpClient client = configured.Client();
    EXPECT_EQ(client.Get("/api/channels/1/features/ExposureTime").body, "80");
    EXPECT_EQ(client.Get("/api/channels/1/features/LightingOrientation").body, "90 deg");
    EXPECT_EQ(client.Get("/api/channels/1/features/Gain").body, "3");
    EXPECT_EQ(client.Get("/api/channels/1/features/AcquisitionMode").body, "Continuous");
    EXPECT_EQ(client.Get("/api/channels/0/features/LightingOrientation").body, "180 deg");
}

} // namespace zeb::test
