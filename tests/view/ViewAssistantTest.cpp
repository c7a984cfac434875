// The setup assistants through zeb view: started, followed, advanced and stopped as the page's dialog
// does, with the image sets they judge in the live view. One server for the whole file.
#include "Stations.h"
#include "ViewServer.h"

#include <gtest/gtest.h>

namespace zeb::test {

class ViewAssistant : public ViewSuite {
protected:
    static void SetUpTestSuite() { StartServer({"--page-timeout", "1"}); }
    void TearDown() override {
        for (const char* channel : {"0", "1"})
            Client().Post(std::string("/api/channels/") + channel + "/assistant/stop");
        StopBoth();
    }
    static nlohmann::json Assistant(int channel, const HttpClient& client = Client()) {
        const HttpAnswer answer = client.Get("/api/channels/" + std::to_string(channel) + "/assistant");
        EXPECT_EQ(answer.status, 200) << answer.body;
        return answer.Json();
    }
    // Until `done` holds for the assistant's view on the server `client` talks to.
    static nlohmann::json WaitForAssistant(int channel,
                                           const std::function<bool(const nlohmann::json&)>& done,
                                           const HttpClient& client = Client()) {
        nlohmann::json view;
        EXPECT_TRUE(WaitUntil([&] {
            view = Assistant(channel, client);
            return done(view);
        })) << view.dump();
        return view;
    }
    static std::function<bool(const nlohmann::json&)> Result(const std::string& result) {
        return [result](const nlohmann::json& view) { return view["result"] == result; };
    }
};

TEST_F(ViewAssistant, BrightnessRunsToItsResultOnImagesItAcquires) {
    // None runs yet: the view reads as idle.
    const auto idle = Assistant(0);
    EXPECT_EQ(idle["selector"], "Brightness detection");
    EXPECT_EQ(idle["choices"].size(), 4u);
    EXPECT_EQ(idle["running"], false);
    EXPECT_EQ(idle["active"], false);
    EXPECT_EQ(idle["history"].size(), 0u);

    // It pauses the acquisition under way, which goes on after it.
    ASSERT_EQ(Client().Post("/api/channels/0/acquisition/start").status, 200);
    const HttpAnswer start = Client().Post("/api/channels/0/assistant/start", "brightness");
    ASSERT_EQ(start.status, 200) << start.body;
    EXPECT_EQ(start.Json()["name"], "Brightness detection");
    const auto view = WaitForAssistant(0, [](const nlohmann::json& v) {
        return v["images"].get<int>() >= 2 && (v["result"] == "Success" || v["result"] == "Warning");
    });
    EXPECT_EQ(view["active"], true);
    EXPECT_EQ(view["running"], true);
    EXPECT_EQ(view["instruction"], "Place a representative part in the field of view of the camera.");
    ASSERT_EQ(view["arguments"].size(), 3u);
    // The message has its placeholders filled with the arguments.
    EXPECT_THAT(view["message"].get<std::string>(), Not(HasSubstr("{"))) << view["message"];
    EXPECT_THAT(view["message"].get<std::string>(), HasSubstr(view["arguments"][0].get<std::string>()));
    EXPECT_EQ(view["history"].size(), view["images"].get<size_t>());
    // The image sets it judges are averaged, and they are the live view meanwhile.
    const auto status = Status(0);
    EXPECT_EQ(status["mode"], "assistant");
    EXPECT_EQ(status["imageSet"]["averaged"], true);
    EXPECT_EQ(Client().Get("/api/channels/0/image.png?form=average").status, 200);

    // While it runs, neither an acquisition nor another assistant can start.
    EXPECT_EQ(Client().Post("/api/channels/0/acquisition/start").status, 409);
    EXPECT_EQ(Client().Post("/api/channels/0/assistant/start", "focus").status, 409);

    const HttpAnswer stop = Client().Post("/api/channels/0/assistant/stop");
    ASSERT_EQ(stop.status, 200) << stop.body;
    EXPECT_EQ(stop.Json()["running"], false);
    EXPECT_EQ(stop.Json()["active"], false);
    // The result stays to be read, and the channel's image form is as before.
    EXPECT_EQ(stop.Json()["result"], view["result"]);
    EXPECT_EQ(Client().Get("/api/channels/0/features/SetupMode").body, "Off");
    EXPECT_TRUE(WaitUntil([&] { return Status(0)["mode"] == "live"; }));
}

TEST_F(ViewAssistant, FocusGraphsItsValueAndTheMaximumAndAWiringCheckWaitsForThePerson) {
    ASSERT_EQ(Client().Post("/api/channels/0/assistant/start", "Focus detection").status, 200);
    auto view = WaitForAssistant(0, Result("Success"));
    EXPECT_EQ(view["message"], "Representative part should be placed by now.");
    EXPECT_EQ(view["images"], 0); // the first step needs no image
    ASSERT_EQ(Client().Post("/api/channels/0/assistant/next").status, 200);
    view = WaitForAssistant(0, [](const nlohmann::json& v) { return v["history"].size() >= 3; });
    EXPECT_EQ(view["instruction"], "Change the focus of the lens until the focus value is maximum.");
    int64_t maximum = 0;
    for (const auto& arguments : view["history"]) {
        ASSERT_EQ(arguments.size(), 2u);
        const int64_t value = std::stoll(arguments[0].get<std::string>());
        maximum = std::max(maximum, value);
        EXPECT_EQ(std::stoll(arguments[1].get<std::string>()), maximum);
    }
    EXPECT_GT(maximum, 0);

    // Meanwhile on channel 1, a wiring check waits for the person between steps.
    const HttpAnswer start = Client().Post("/api/channels/1/assistant/start", "Encoder movement detection");
    ASSERT_EQ(start.status, 200) << start.body;
    view = start.Json();
    EXPECT_EQ(view["result"], "Success");
    EXPECT_EQ(view["message"], "Initialization done.");
    EXPECT_THAT(view["instruction"].get<std::string>(), HasSubstr("Turn the encoder"));
    // The built-in station's encoder turns: the next step finds it moved.
    const HttpAnswer next = Client().Post("/api/channels/1/assistant/next");
    ASSERT_EQ(next.status, 200) << next.body;
    view = next.Json();
    EXPECT_EQ(view["result"], "Success") << view.dump();
    EXPECT_THAT(view["message"].get<std::string>(), HasSubstr("degrees")) << view["message"];
    EXPECT_EQ(view["images"], 0);
    // A last "Next" ends it; its result stays to be read.
    view = Client().Post("/api/channels/1/assistant/next").Json();
    view = WaitForAssistant(1, [](const nlohmann::json& v) { return v["active"] == false; });
    EXPECT_EQ(view["running"], false);
    EXPECT_EQ(view["result"], "Success");
}

// What a page alone started, an assistant or an acquisition, stops once it closes.
TEST_F(ViewAssistant, WhatAGonePageStartedStops) {
    ASSERT_EQ(Client("assistantPage").Post("/api/channels/0/assistant/start", "brightness").status, 200);
    const HttpAnswer start = Client("assistantPage").Post("/api/channels/1/acquisition/start");
    ASSERT_EQ(start.status, 200) << start.body;
    EXPECT_EQ(start.Json()["pages"], 1);
    EXPECT_EQ(start.Json()["kept"], false);
    ASSERT_EQ(Client().Post("/api/clients/assistantPage/close").status, 200);
    EXPECT_EQ(WaitForStatus(1, [](const nlohmann::json& s) { return s["mode"] == "idle"; })["error"], "");
    const auto view = WaitForAssistant(0, [](const nlohmann::json& v) { return v["active"] == false; });
    EXPECT_EQ(view["running"], false);
    EXPECT_EQ(Status(0)["mode"], "idle");
    EXPECT_EQ(Client().Get("/api/channels/0/features/DialogStatus").body, "False");
}

// A dome mounted turned by 90 degrees: the orientation assistant warns, offers the setting that
// matches the mounting, and once that is applied while it runs, it judges the station right.
TEST_F(ViewAssistant, AnOrientationWarningOffersItsFixAndItHolds) {
    Json station = AreaStation();
    station["controllers"][0]["domeRotation"] = 90;
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    environment->UseStation(station.dump());
    ViewServer turned(*environment);
    const HttpClient client = turned.Client();
    ASSERT_EQ(client.Post("/api/channels/0/assistant/start", "orientation").status, 200);
    nlohmann::json view = WaitForAssistant(0, Result("Warning"), client);
    ASSERT_TRUE(view["fix"].is_object()) << view.dump();
    EXPECT_EQ(view["fix"]["name"], "LightingOrientation");
    EXPECT_EQ(view["fix"]["value"], "90 deg");
    // The page applies it as any other write, while the assistant goes on judging.
    ASSERT_EQ(client.Put("/api/channels/0/features/LightingOrientation", "90 deg").status, 200);
    EXPECT_TRUE(WaitForAssistant(0, Result("Success"), client)["fix"].is_null());
    EXPECT_EQ(client.Post("/api/channels/0/assistant/stop").status, 200);
}

} // namespace zeb::test
