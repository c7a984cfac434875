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

using ::testing::AnyOf;

class ViewApi : public ViewSuite {
protected:
    static void SetUpTestSuite() { StartServer(); }
};

TEST_F(ViewApi, ListsTheChannelsAndDescribesEveryFeatureWithItsGroup) {
    const HttpAnswer answer = Client().Get("/api/channels");
    EXPECT_EQ(answer.Header("content-type"), "application/json");
    EXPECT_EQ(answer.Json(), nlohmann::json::parse(R"j([
        {"index": 0, "name": "BRELAN: Morvane (#0)", "serial": "MV-000100", "scanType": "Areascan",
         "camera": "GigE 00:11:1c:00:00:01", "mode": "idle", "acquiring": false},
        {"index": 1, "name": "BRELAN: Morvane (#1)", "serial": "MV-000101", "scanType": "Linescan",
         "camera": "Grabber 0 Port A", "mode": "idle", "acquiring": false}])j"));
    // Nothing acquires in this file's server: there is no image set yet.
    EXPECT_TRUE(Status(1)["imageSet"].is_null());

    // By name in the channel's order, each with its meaning; the image region and its mirroring are
    // what a streaming camera refuses to change, nothing else.
    const auto features = Client().Get("/api/channels/1/features").Json();
    ASSERT_EQ(features.size(), std::size(FeatureNames));
    std::map<std::string, nlohmann::json> named;
    std::vector<std::string> fixed;
    for (size_t i = 0; i < features.size(); ++i) {
        EXPECT_EQ(features[i]["name"], FeatureNames[i]);
        EXPECT_NE(features[i]["description"], "") << FeatureNames[i];
        named[FeatureNames[i]] = features[i];
        named[FeatureNames[i]].erase("description");
        if (features[i]["fixedWhileAcquiring"] == true)
            fixed.push_back(FeatureNames[i]);
    }
    EXPECT_EQ(fixed, (std::vector<std::string>{"Width", "Height", "OffsetX", "OffsetY", "ReverseXY"}));
    // Units beside the values, and the limits the channel applies.
    EXPECT_TRUE(named["ExposureTime"]["value"].is_string());
    named["ExposureTime"].erase("value");
    EXPECT_EQ(named["ExposureTime"], nlohmann::json::parse(R"j({"name": "ExposureTime", "type": "Float",
        "group": "Acquisition", "readable": true, "writable": true, "common": true, "choices": [], "unit": "us",
        "limits": "at most 65000 with a camera (a larger value becomes 65000); the camera's own limits apply too",
        "fixedWhileAcquiring": false})j"));
    EXPECT_EQ(named["LightingOrientation"], nlohmann::json::parse(R"j({"name": "LightingOrientation",
        "type": "Enum", "group": "Lighting", "readable": true, "writable": true, "common": false, "unit": "",
        "choices": ["0 deg", "90 deg", "180 deg", "270 deg"], "value": "270 deg", "limits": "",
        "fixedWhileAcquiring": false})j")); // line scan
    EXPECT_EQ(named["DialogSelector"]["choices"].size(), 5u);
    EXPECT_EQ(named["DeviceImageSourceDetect"]["type"], "Command");
    EXPECT_TRUE(named["DeviceImageSourceDetect"]["value"].is_null());
    EXPECT_EQ(named["DeviceScanType"]["writable"], false);
    EXPECT_EQ(named["GevSCPD"]["group"], "Transport");
    EXPECT_EQ(named["Gain"]["unit"], "dB");
    EXPECT_THAT(named["EncoderResolution"]["limits"].get<std::string>(), HasSubstr("steps of 4"));
}

TEST_F(ViewApi, AProfileIsReadAndAppliedLineByLineAndAWriteAnswersWithTheValueHeld) {
    const HttpClient client = Client();
    const std::string profile = "/api/channels/0/profile";
    ASSERT_EQ(client.Put("/api/channels/0/features/ExposureTime", "90").status, 200);
    HttpAnswer answer = client.Get(profile);
    EXPECT_EQ(answer.Header("content-type"), "text/plain; charset=utf-8");
    const std::string saved = answer.body;
    // The writable settings in the channel's order, the camera first; no commands, assistant
    // controls, read-only values or "AcquisitionMode".
    EXPECT_LT(saved.find("\nDeviceImageSource=GigE 00:11:1c:00:00:01\n"), saved.find("\nWidth="));
    EXPECT_THAT(saved,
                AllOf(StartsWith("# zeb profile of BRELAN: Morvane (#0)"), HasSubstr("\nExposureTime=90\n"),
                      Not(AnyOf(HasSubstr("DeviceScanType="), HasSubstr("DialogSelector="),
                                HasSubstr("AcquisitionMode="), HasSubstr("DeviceImageSourceDetect")))));

    // Applied in order, each line answered with what the channel holds or its error; any line not
    // held as written makes it 422, and the lines after it are applied all the same.
    answer = client.Put(
        profile, "# bring-up\nExposureTime=70000\nExposureTim=3\nLightingOrientation=45 deg\nGain=2\n");
    EXPECT_EQ(answer.status, 422);
    EXPECT_EQ(answer.body,
              "ExposureTime: wrote \"70000\", the channel holds \"65000\"\n"
              "ExposureTim: Feature ExposureTim does not exist. (did you mean \"ExposureTime\"?)\n"
              "LightingOrientation: Enum value not valid. (Name = LightingOrientation, Value = 45 deg) "
              "(the choices are \"0 deg\", \"90 deg\", \"180 deg\", \"270 deg\"; did you mean \"0 deg\" "
              "or \"90 deg\"?)\nGain: holds \"2\"");
    EXPECT_EQ(client.Get("/api/channels/0/features/Gain").body, "2");
    // The saved profile brings everything back, and every line is held.
    answer = client.Put(profile, saved);
    EXPECT_EQ(answer.status, 200) << answer.body;
    EXPECT_THAT(answer.body, HasSubstr("ExposureTime: holds \"90\""));
    EXPECT_EQ(client.Get(profile).body, saved);

    // A write answers with the value the channel holds and how: as written, adjusted to a limit (the
    // line rate is at least 10 lines per second) or normalised. The name is percent-decoded; blanks in
    // a value travel as they are.
    ASSERT_EQ(client.Put("/api/channels/0/features/Gain", "0").status, 200);
    for (const auto& [feature, value, held, how] : std::vector<std::array<std::string, 4>>{
             {"0/features/Gain", "2", "2", "held"},
             {"1/features/AcquisitionLineRate", "5", "10", "adjusted"},
             {"1/features/AcquisitionLineRate", "2000.0", "2000", "normalised"},
             {"0/features/Lighting%4Frientation", "90 deg", "90 deg", "held"}}) {
        answer = client.Put("/api/channels/" + feature, value);
        EXPECT_EQ(std::tuple(answer.status, answer.body, answer.Header("x-zeb-written")),
                  std::tuple(200, held, how))
            << feature;
    }
    EXPECT_EQ(client.Get("/api/channels/0/features/Gain").body, "2");
    EXPECT_EQ(client.Put("/api/channels/0/features/LightingOrientation", "180 deg").status, 200);
}

namespace {

using DocumentedRoute = std::pair<std::string, std::string>;

// "/api/channels/{i}/status[?since=R&wait=MS]" is "/api/channels/{i}/status".
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
    std::vector<DocumentedRoute> api = {{"/*", "GET"}}, page, routed; // "/*": the page's files
    for (const DocumentedRoute& route : documented)
        (route.first.starts_with("/api/") ? api : page).push_back(route);
    for (const view::ViewerApi::Route& route : view::ViewerApi::Routes())
        routed.push_back({route.pattern, route.method});
    std::ranges::sort(api);
    std::ranges::sort(routed);
    EXPECT_EQ(api, routed);

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
        EXPECT_EQ(std::pair(answer.status, answer.Header("allow")), std::pair(405, methods)) << target;
    }

    // Wrong paths, methods, channels, queries, values and profiles, and the plug-in's refusals (its text
    // verbatim, cut to the host's 255 bytes whatever the name's length): each says why, changes nothing.
    const nlohmann::json before = client.Get("/api/channels/0/features").Json();
    const std::string features = "/api/channels/0/features/", nul("1\0002", 3);
    std::vector<Exchange> wrong = {
        // A line that is no NAME=VALUE refuses the whole profile before anything is written.
        {"PUT", "/api/channels/0/profile", "ExposureTime=40\nno assignment here\n", 400,
         "profile:2: \"no assignment here\" is not NAME=VALUE"},
        {"PUT", "/api/channels/0/profile", std::string("A=1\0", 4), 400},
        {"PUT", features + "LightingOrientation", "45 deg", 422, HasSubstr("45 deg")},
        {"PUT", features + "DeviceScanType", "Linescan", 422},
        {"POST", "/api/channels/0/commands/ExposureTime", "", 422, "Feature ExposureTime is not a command."},
        {"PUT", features + "LightingSequenceType", std::string(1000, 'x'), 422},
        {"POST", "/api/channels/0/commands/Detect", "", 404},
        {"GET", features + std::string(9000, 'Q'), "", 431,
         "the request line and headers are longer than 8192 bytes (a path that long names nothing here)"},
        {"GET", "/api/nothing", "", 404},
        {"GET", "/api/channels/0/nothing", "", 404},
        {"GET", "/nothing.html", "", 404},
        {"POST", "/api/channels/9/calibrate", "", 404},
        // No GET changes anything; an unknown method is no method of any path.
        {"GET", "/api/channels/0/commands/DialogStart", "", 405},
        {"GET", "/api/channels/0/acquisition/start", "", 405},
        {"GET", "/api/channels/0/calibrate", "", 405},
        {"GET", "/api/channels/1/recording/start?count=3", "", 405},
        {"BREW", "/", "", 405},
        {"GET", "/api/channels/0/image.png", "", 404, "channel 0 has no image set yet"},
        {"POST", "/api/channels/1/save", "", 404},
        {"GET", "/api/channels/0/surface.png?form=depth", "", 400,
         "form \"depth\" is none of normals, albedo, curvature, height"},
        {"POST", "/api/channels/0/calibrate?sphereRadius=big", "", 400},
        {"PUT", features + "Gain", nul, 400},
        {"GET", "/api/channels", "", 400, Not(IsEmpty()), {{"X-Zeb-Client", "a b"}}},
        {"GET", "/api/channels", "", 400, Not(IsEmpty()), {{"X-Zeb-Client", std::string(65, 'a')}}},
        {"POST", "/api/clients/a%20b/close", "", 400},
        {"POST", "/api/channels/1/recording/start?count=2&surface=2", "", 400},
        // No assistant runs, and channel 0 offers no encoder check.
        {"POST", "/api/channels/0/assistant/next", "", 409, "no assistant is running on channel 0"},
        {"POST", "/api/channels/0/assistant/start", "encoder", 422, HasSubstr("Encoder movement detection")},
        // A misspelt name: the plug-in's text first, then what was probably meant.
        {"POST", "/api/channels/0/assistant/start", "brightnes", 422,
         AllOf(StartsWith("Enum value not valid. (Name = DialogSelector, Value = brightnes)"),
               HasSubstr("did you mean \"brightness\""), HasSubstr("\"Focus detection\""))},
        {"PUT", features + "ExposreTime", "90", 404,
         "Feature ExposreTime does not exist. (did you mean \"ExposureTime\"?)"},
        {"GET", features + "ExposreTime", "", 404,
         "Feature ExposreTime does not exist. (did you mean \"ExposureTime\"?)"},
        {"POST", "/api/channels/0/commands/DialogStrat", "", 404,
         StartsWith("Feature DialogStrat does not exist. (did you mean \"DialogStart\", ")},
    };
    for (const char* channel : {"2", "-1", "01x", "99999999999999999999"})
        wrong.push_back({"GET", "/api/channels/" + std::string(channel) + "/features", "", 404});
    // Queries out of their ranges.
    for (const char* bad :
         {"image.png?form=sideways", "image.png?form=Direction3", "image.png?scale=0", "image.png?scale=17",
          "surface.png?scale=0", "surface.png?scale=2.5", "status?since=x", "status?since=0&wait=99999"})
        wrong.push_back({"GET", "/api/channels/0/" + std::string(bad), "", 400});
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
    EXPECT_EQ(client.Get("/api/channels/0/features").Json(), before);
    EXPECT_EQ(client.Get("/api/channels/0/assistant").Json()["active"], false);
    EXPECT_EQ(Status(1)["recording"]["active"], false);
}

} // namespace zeb::test
