// The JSON API of zeb view over HTTP: channels, features with their units and meaning, commands,
// profiles, the answers to requests that are wrong, and the routes as the API's documentation lists
// them. One server for the whole file, with the built-in station.
#include "FeatureNames.h"
#include "ViewServer.h"
#include "view/ViewerApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <regex>

namespace zeb::test {

class ViewApi : public ViewSuite {
protected:
    static void SetUpTestSuite() { StartServer(); }
};

TEST_F(ViewApi, ListsTheChannelsAndDescribesEveryFeatureWithItsGroup) {
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
    EXPECT_TRUE(Status(1)["imageSet"].is_null());

    const HttpAnswer described = Client().Get("/api/channels/1/features");
    ASSERT_EQ(described.status, 200) << described.body;
    const auto features = described.Json();
    ASSERT_EQ(features.size(), std::size(FeatureNames));
    // By name, in the channel's order, each with its meaning; the image region and its mirroring are
    // what a streaming camera refuses to change, nothing else.
    std::map<std::string, nlohmann::json> named;
    std::vector<std::string> fixed;
    for (size_t i = 0; i < features.size(); ++i) {
        EXPECT_EQ(features[i]["name"], FeatureNames[i]);
        named[FeatureNames[i]] = features[i];
        EXPECT_FALSE(features[i]["description"].get<std::string>().empty()) << FeatureNames[i];
        if (features[i]["fixedWhileAcquiring"] == true)
            fixed.push_back(FeatureNames[i]);
    }
    EXPECT_EQ(fixed, (std::vector<std::string>{"Width", "Height", "OffsetX", "OffsetY", "ReverseXY"}));
    const auto exposure = named["ExposureTime"];
    const nlohmann::json expected = {{"type", "Float"},  {"group", "Acquisition"}, {"readable", true},
                                     {"writable", true}, {"common", true},         {"unit", "us"}};
    for (const auto& [key, value] : expected.items())
        EXPECT_EQ(exposure[key], value) << key;
    EXPECT_TRUE(exposure["value"].is_string());
    const auto orientation = named["LightingOrientation"];
    EXPECT_EQ(orientation["value"], "270 deg"); // line scan
    EXPECT_EQ(orientation["choices"], (nlohmann::json{"0 deg", "90 deg", "180 deg", "270 deg"}));
    EXPECT_EQ(named["DialogSelector"]["choices"].size(), 5u);
    const auto detect = named["DeviceImageSourceDetect"];
    EXPECT_EQ(detect["type"], "Command");
    EXPECT_TRUE(detect["value"].is_null());
    EXPECT_EQ(named["DeviceScanType"]["writable"], false);
    EXPECT_EQ(named["GevSCPD"]["group"], "Transport");

    // Units beside the values, and the limits the channel applies.
    EXPECT_EQ(named["Gain"]["unit"], "dB");
    EXPECT_EQ(orientation["unit"], "");
    EXPECT_THAT(exposure["limits"].get<std::string>(), HasSubstr("65000"));
    EXPECT_THAT(named["EncoderResolution"]["limits"].get<std::string>(), HasSubstr("steps of 4"));
}

TEST_F(ViewApi, AProfileIsReadAndAppliedLineByLineAndAWriteAnswersWithTheValueHeld) {
    const HttpClient client = Client();
    ASSERT_EQ(client.Put("/api/channels/0/features/ExposureTime", "90").status, 200);
    HttpAnswer answer = client.Get("/api/channels/0/profile");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.Header("content-type"), "text/plain; charset=utf-8");
    const std::string saved = answer.body;
    // The writable settings in the channel's order, the camera first; no commands, assistant
    // controls, read-only values or "AcquisitionMode".
    EXPECT_THAT(saved, StartsWith("# zeb profile of BRELAN: Morvane (#0)"));
    EXPECT_LT(saved.find("\nDeviceImageSource=GigE 00:11:1c:00:00:01\n"), saved.find("\nWidth="));
    EXPECT_THAT(saved, HasSubstr("\nExposureTime=90\n"));
    for (const char* absent :
         {"DeviceScanType=", "DialogSelector=", "AcquisitionMode=", "DeviceImageSourceDetect"})
        EXPECT_THAT(saved, Not(HasSubstr(absent))) << absent;

    // Applied in order, each line answered with what the channel holds or its error; any line not
    // held as written makes it 422, and the lines after it are applied all the same.
    answer =
        client.Put("/api/channels/0/profile",
                   "# bring-up\nExposureTime=70000\nExposureTim=3\nLightingOrientation=45 deg\nGain=2\n");
    EXPECT_EQ(answer.status, 422);
    const std::string lines = answer.body;
    EXPECT_EQ(lines.substr(0, lines.find('\n')),
              "ExposureTime: wrote \"70000\", the channel holds \"65000\"");
    EXPECT_THAT(
        lines,
        HasSubstr("\nExposureTim: Feature ExposureTim does not exist. (did you mean \"ExposureTime\"?)\n"));
    EXPECT_THAT(lines, HasSubstr("\nLightingOrientation: "));
    EXPECT_EQ(lines.substr(lines.rfind('\n') + 1), "Gain: holds \"2\"");
    EXPECT_EQ(client.Get("/api/channels/0/features/Gain").body, "2");

    // The saved profile brings everything back, and every line is held.
    answer = client.Put("/api/channels/0/profile", saved);
    EXPECT_EQ(answer.status, 200) << answer.body;
    EXPECT_THAT(answer.body, HasSubstr("ExposureTime: holds \"90\""));
    EXPECT_EQ(client.Get("/api/channels/0/profile").body, saved);

    // A line that is no NAME=VALUE refuses the whole profile before anything is written.
    answer = client.Put("/api/channels/0/profile", "ExposureTime=40\nno assignment here\n");
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, "profile:2: \"no assignment here\" is not NAME=VALUE");
    EXPECT_EQ(client.Get("/api/channels/0/features/ExposureTime").body, "90");
    EXPECT_EQ(client.Put("/api/channels/0/profile", std::string("A=1\0", 4)).status, 400);
    EXPECT_EQ(client.Post("/api/channels/0/profile").status, 405);
    ASSERT_EQ(client.Put("/api/channels/0/features/Gain", "0").status, 200);

    // A write answers with the value the channel holds and how: as written, adjusted to a limit (the
    // line rate is at least 10 lines per second) or normalised. The name is percent-decoded; blanks in
    // a value travel as they are.
    for (const auto& [feature, value, held, how] : std::vector<std::array<std::string, 4>>{
             {"0/features/Gain", "2", "2", "held"},
             {"1/features/AcquisitionLineRate", "5", "10", "adjusted"},
             {"1/features/AcquisitionLineRate", "2000.0", "2000", "normalised"},
             {"0/features/Lighting%4Frientation", "90 deg", "90 deg", "held"}}) {
        answer = client.Put("/api/channels/" + feature, value);
        EXPECT_EQ(answer.status, 200) << feature << ": " << answer.body;
        EXPECT_EQ(answer.body, held) << feature;
        EXPECT_EQ(answer.Header("x-zeb-written"), how) << feature;
    }
    EXPECT_EQ(client.Get("/api/channels/0/features/Gain").body, "2");
    EXPECT_EQ(client.Put("/api/channels/0/features/LightingOrientation", "180 deg").status, 200);
}

namespace {

// A request as its path and its method.
using DocumentedRoute = std::pair<std::string, std::string>;

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
        routes.push_back({path, method});
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
            routes.push_back({path, method});
        }
    }
    return routes;
}

} // namespace

// The API's documentation and zeb view's table of routes list the same requests; a method a path
// does not take is answered 405 with the methods it does take, as documented.
TEST_F(ViewApi, ServesTheDocumentedRoutesAndRefusesWrongRequestsWithATextChangingNothing) {
    const std::vector<DocumentedRoute> documented = DocumentedRoutes();
    ASSERT_GT(documented.size(), 20u);
    std::vector<DocumentedRoute> api, page;
    for (const DocumentedRoute& route : documented)
        (route.first.starts_with("/api/") ? api : page).push_back(route);
    std::vector<DocumentedRoute> routed;
    bool servesThePage = false;
    for (const view::ViewerApi::Route& route : view::ViewerApi::Routes()) {
        if (std::string(route.pattern) == "/*")
            servesThePage = std::string(route.method) == "GET";
        else
            routed.push_back({route.pattern, route.method});
    }
    std::sort(api.begin(), api.end());
    std::sort(routed.begin(), routed.end());
    EXPECT_EQ(api, routed);
    EXPECT_TRUE(servesThePage);

    const HttpClient client = Client();
    for (const auto& [path, method] : page) {
        EXPECT_EQ(method, "GET");
        EXPECT_EQ(client.Get(path).status, 200) << path;
    }
    std::map<std::string, std::string> allowed; // by path, in the documentation's order
    for (const auto& [path, method] : documented)
        allowed[path] += (allowed[path].empty() ? "" : ", ") + method;
    for (const auto& [path, methods] : allowed) {
        const std::string target =
            std::regex_replace(std::regex_replace(std::regex_replace(path, std::regex("\\{i\\}"), "0"),
                                                  std::regex("\\{name\\}"), "ExposureTime"),
                               std::regex("\\{page\\}"), "reader");
        const HttpAnswer answer = client.Send("DELETE", target, {}, {});
        EXPECT_EQ(answer.status, 405) << target;
        EXPECT_EQ(answer.Header("allow"), methods) << target;
    }

    // Wrong paths, methods, channels, queries and values, and the plug-in's refusals (its text verbatim,
    // cut to the host's 255 bytes whatever the name's length): each says why and changes nothing.
    const std::string orientation = client.Get("/api/channels/0/features/LightingOrientation").body;
    const std::string features = "/api/channels/0/features/", nul("1\0002", 3);
    std::vector<Exchange> wrong = {
        {"PUT", features + "LightingOrientation", "45 deg", 422, HasSubstr("45 deg")},
        {"PUT", features + "DeviceScanType", "Linescan", 422},
        {"POST", "/api/channels/0/commands/ExposureTime", "", 422, "Feature ExposureTime is not a command."},
        {"PUT", features + "LightingSequenceType", std::string(1000, 'x'), 422},
        {"POST", "/api/channels/0/commands/Detect", "", 404},
        {"GET", features + std::string(9000, 'Q'), "", 431,
         "the request line and headers are longer than 8192 bytes (a path that long names nothing here)"},
        {"GET", "/api/channels/2/features", "", 404},
        {"GET", "/api/channels/-1/features", "", 404},
        {"GET", "/api/channels/01x/features", "", 404},
        {"GET", "/api/channels/99999999999999999999/features", "", 404},
        {"GET", "/api/nothing", "", 404},
        {"GET", "/api/channels/0/nothing", "", 404},
        {"GET", "/nothing.html", "", 404},
        {"POST", "/api/channels/9/calibrate", "", 404},
        {"DELETE", "/api/channels", "", 405},
        {"POST", "/api/channels/0/features", "", 405},
        {"POST", features + "Gain", "", 405},
        {"GET", "/api/channels/0/commands/DialogStart", "", 405},
        {"GET", "/api/channels/0/acquisition/start", "", 405},
        {"PUT", "/api/channels/0/image.png", "", 405},
        {"POST", "/api/channels/0/surface.png", "", 405},
        {"GET", "/api/channels/0/calibrate", "", 405},
        {"GET", "/api/channels/1/recording/start?count=3", "", 405},
        {"BREW", "/", "", 405},
        {"GET", "/api/channels/0/image.png", "", 404, "channel 0 has no image set yet"},
        {"POST", "/api/channels/1/save", "", 404},
        {"GET", "/api/channels/0/image.png?form=sideways", "", 400},
        {"GET", "/api/channels/0/image.png?form=Direction3", "", 400},
        {"GET", "/api/channels/0/image.png?scale=0", "", 400},
        {"GET", "/api/channels/0/image.png?scale=17", "", 400},
        {"GET", "/api/channels/0/surface.png?form=depth", "", 400,
         "form \"depth\" is none of normals, albedo, curvature, height"},
        {"GET", "/api/channels/0/surface.png?scale=0", "", 400},
        {"GET", "/api/channels/0/surface.png?scale=2.5", "", 400},
        {"POST", "/api/channels/0/calibrate?sphereRadius=big", "", 400},
        {"GET", "/api/channels/0/status?since=x", "", 400},
        {"GET", "/api/channels/0/status?since=0&wait=99999", "", 400},
        {"PUT", features + "Gain", nul, 400},
        {"GET", "/api/channels", "", 400, Not(IsEmpty()), {{"X-Zeb-Client", "a b"}}},
        {"GET", "/api/channels", "", 400, Not(IsEmpty()), {{"X-Zeb-Client", std::string(65, 'a')}}},
        {"POST", "/api/clients/a%20b/close", "", 400},
        {"POST", "/api/channels/1/recording/start?count=2&surface=2", "", 400},
        // No assistant runs, and channel 0 offers no encoder check.
        {"POST", "/api/channels/0/assistant/next", "", 409, "no assistant is running on channel 0"},
        {"POST", "/api/channels/0/assistant/start", "encoder", 422, HasSubstr("Encoder movement detection")},
    };
    // A recording is for a count or a time, one of them.
    for (const char* bad :
         {"", "?count=0", "?count=-1", "?count=2&seconds=1", "?seconds=x", "?count=1000001"})
        wrong.push_back({"POST", std::string("/api/channels/1/recording/start") + bad, "", 400});
    for (const size_t length : {8u, 230u, 239u, 240u, 247u, 248u, 1000u}) {
        const std::string name(length, 'Q');
        for (const std::string method : {"GET", "PUT"})
            wrong.push_back(
                {method, features + name, "1", 404, ("Feature " + name + " does not exist.").substr(0, 255)});
        wrong.push_back({"POST", "/api/channels/0/commands/" + name, "", 404});
    }
    ExpectAnswers(client, wrong);
    EXPECT_EQ(client.Get(features + "LightingOrientation").body, orientation);
    EXPECT_EQ(client.Get("/api/channels/0/assistant").Json()["active"], false);
    EXPECT_EQ(Status(1)["recording"]["active"], false);
}

} // namespace zeb::test
