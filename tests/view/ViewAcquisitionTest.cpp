// Acquiring through zeb view: image sets in every form, saving, recording, the setup assistants as the
// page runs them, a failed set. The tests share a server in order: the first finds no saved set.
#include "Stations.h"
#include "ViewFlows.h"
#include "ViewServer.h"
#include "ZebTest.h"

#include <gtest/gtest.h>

#include <numeric>
#include <ranges>

namespace zeb::test {

class ViewAcquisition : public ViewSuite {
protected:
    static void SetUpTestSuite() {
        environment = new TestEnvironment();
        server = new ViewServer(*environment, {"--out", Saved().string(), "--page-timeout", "1"});
    }
    void TearDown() override {
        for (const char* channel : {"0", "1"})
            Client().Post(std::string("/api/channels/") + channel + "/assistant/stop");
        StopBoth();
    }
    static std::filesystem::path Saved() { return environment->Folder() / "saved"; }
    static bool Idle(const Json& status) { return status["mode"] == "idle"; }
    static bool Ended(const Json& s) { return s["recording"]["active"] == false; }
    // Starts the channel's acquisition and waits until it has delivered `count` image sets.
    static void LiveWithImageSets(int channel, int64_t count) {
        ASSERT_EQ(Client().Post("/api/channels/" + std::to_string(channel) + "/acquisition/start").status,
                  200);
        WaitForStatus(channel, [&](const Json& s) { return s["statistics"]["imageSets"] >= count; });
    }
    // The PNG image of a form of the channel's latest image set, and the image set's number.
    static std::pair<host::Image, std::string> Form(const std::string& query) {
        const HttpAnswer answer = Client().Get("/api/channels/0/image.png?" + query);
        EXPECT_EQ(answer.status, 200) << answer.body;
        EXPECT_EQ(answer.Header("content-type"), "image/png");
        host::Image image;
        image.pixels = ReadPngGrey(answer.body, image.width, image.height);
        return {image, answer.Header("x-zeb-image-set")};
    }
    static Json Histogram(const host::Image& image) {
        std::vector<uint64_t> counts(256, 0);
        for (const uint8_t pixel : image.pixels)
            ++counts[pixel];
        return counts;
    }
    static double Mean(const host::Image& image) {
        const double sum = std::accumulate(image.pixels.begin(), image.pixels.end(), 0.0);
        return image.pixels.empty() ? 0 : sum / static_cast<double>(image.pixels.size());
    }
    // Until `done` holds for the assistant's view on the server `client` talks to.
    static Json WaitForAssistant(int channel, const std::function<bool(const Json&)>& done,
                                 const HttpClient& client = Client()) {
        Json view;
        EXPECT_TRUE(WaitUntil([&] {
            return done(view = client.Get("/api/channels/" + std::to_string(channel) + "/assistant").Json());
        })) << view.dump();
        return view;
    }
    static std::function<bool(const Json&)> Result(const std::string& result) {
        return [result](const Json& view) { return view["result"] == result; };
    }
};

TEST_F(ViewAcquisition, AnAcquisitionDeliversImageSetsInEveryFormSavedAsZebAcquireSavesThem) {
    const HttpAnswer start = Client().Post("/api/channels/0/acquisition/start");
    ASSERT_EQ(start.status, 200) << start.body;
    EXPECT_THAT(start.Json(), HasFields(Json{{"mode", "live"}, {"kept", true}})); // kept: no page started it
    WaitForImageSets(0, 3);
    ASSERT_EQ(Client().Post("/api/channels/0/acquisition/stop").status, 200);
    const auto status = Status(0);
    EXPECT_TRUE(Idle(status));
    EXPECT_GE(status["statistics"]["imageSets"].get<int64_t>(), 3);
    EXPECT_THAT(status["statistics"], HasFields(Json{{"lost", 0}, {"failed", 0}}));
    const auto set = status["imageSet"];
    EXPECT_THAT(set, HasFields(Json{{"lineScan", false}, {"averaged", false}}));
    EXPECT_EQ(set["litFrom"].size(), 4u);
    const std::string number = std::to_string(set["number"].get<int64_t>());
    // Each form is of the set shown; direction k is the stack's k-th frame, its statistics its own.
    const auto [stack, stackNumber] = Form("form=stack");
    EXPECT_EQ(stackNumber, number);
    ASSERT_EQ(stack.width, set["width"].get<int32_t>());
    ASSERT_EQ(stack.height, 4 * set["directionHeight"].get<int32_t>());
    const int32_t width = stack.width, height = stack.height / 4;
    ASSERT_EQ(set["directions"].size(), 4u);
    EXPECT_EQ(set["histogram"], Histogram(stack));
    for (int k = 0; k < 4; ++k) {
        const auto [direction, directionNumber] = Form("form=direction" + std::to_string(k));
        EXPECT_EQ(directionNumber, number);
        ASSERT_EQ(direction.pixels.size(), static_cast<size_t>(width) * static_cast<size_t>(height));
        EXPECT_TRUE(std::equal(direction.pixels.begin(), direction.pixels.end(),
                               stack.pixels.begin() + static_cast<ptrdiff_t>(k) * width * height))
            << "direction " << k;
        const auto& facts = set["directions"][static_cast<size_t>(k)];
        EXPECT_EQ(facts["histogram"], Histogram(direction)) << k;
        EXPECT_NEAR(facts["mean"].get<double>(), Mean(direction), 1e-9) << k;
    }
    const host::Image average = Form("form=average").first;
    EXPECT_EQ(average.width * 4 * average.height, stack.width * stack.height);
    const host::Image preview = Form("form=direction1&scale=3").first;
    EXPECT_EQ(std::pair(preview.width, preview.height), std::pair((width + 2) / 3, (height + 2) / 3));
    EXPECT_EQ(Form("").first.pixels, stack.pixels); // without a form: the image set as delivered

    // Saved: the live view's number stays, the files' numbers on; with the files and texts of zeb acquire.
    const auto folder = Saved();
    HttpAnswer saved = Client().Post("/api/channels/0/save");
    EXPECT_THAT(saved.Json(), HasFields(Json{{"imageSet", set["number"]}, {"savedNumber", 1}})) << saved.body;
    EXPECT_THAT(ExistingFileNames(saved.Json()["files"]),
                UnorderedElementsAre("zeb-channel0-0001-stack.png", "zeb-channel0-0001-average.png",
                                     "zeb-channel0-0001-directions.png"));
    const PngContents file = ReadPngFile(folder / "zeb-channel0-0001-stack.png");
    EXPECT_EQ(file.image.pixels, stack.pixels);
    EXPECT_EQ(file.texts.at("Exposure time"), set["exposureTime"].get<std::string>() + " us");
    EXPECT_EQ(file.texts.at("Channel"), "BRELAN: Morvane (#0)");
    saved = Client().Post("/api/channels/0/save");
    EXPECT_THAT(saved.Json(), HasFields(Json{{"imageSet", set["number"]}, {"savedNumber", 2}})) << saved.body;
    EXPECT_TRUE(std::filesystem::exists(folder / "zeb-channel0-0002-directions.png"));
    const auto acquired = environment->Folder() / "acquired";
    const Outcome acquire =
        ZebProcess::Run(environment->Folder(),
                        {"acquire", "--channel", "0", "--setup-mode", "Off", "--out", acquired.string()});
    ASSERT_EQ(acquire.status, 0) << acquire.err;
    for (const std::string form : {"stack", "average", "directions"}) {
        const PngContents ours = ReadPngFile(folder / ("zeb-channel0-0001-" + form + ".png"));
        const PngContents theirs = ReadPngFile(acquired / ("zeb-channel0-0001-" + form + ".png"));
        EXPECT_TRUE(std::ranges::equal(std::views::keys(ours.texts), std::views::keys(theirs.texts))) << form;
        EXPECT_EQ(ours.texts.at("Image"), theirs.texts.at("Image")) << form;
        EXPECT_EQ(std::pair(ours.image.width, ours.image.height),
                  std::pair(theirs.image.width, theirs.image.height));
    }
}

TEST_F(ViewAcquisition, RaisingTheExposureBrightensTheLiveImage) {
    const HttpClient client = Client();
    const std::string before = client.Get("/api/channels/0/features/ExposureTime").body;
    // The sets shown a little after the first one taken with the exposure.
    auto takenWith = [](const std::string& exposure) {
        const auto first = WaitForStatus(0, [&](const Json& s) {
            return !s["imageSet"].is_null() && s["imageSet"]["exposureTime"] == exposure;
        });
        return WaitForImageSets(0, first["imageSet"]["number"].get<int64_t>() + 5);
    };
    ASSERT_EQ(client.Put("/api/channels/0/features/ExposureTime", "20").status, 200);
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/start").status, 200);
    const auto dim = takenWith("20");
    ASSERT_EQ(client.Put("/api/channels/0/features/ExposureTime", "40").body, "40");
    const auto bright = takenWith("40");
    const double dimMean = dim["imageSet"]["mean"], brightMean = bright["imageSet"]["mean"];
    EXPECT_GT(dimMean, 5);
    EXPECT_LT(brightMean, 200); // far from saturation, so twice the light shows
    EXPECT_GT(brightMean, 1.6 * dimMean) << dimMean << " then " << brightMean;
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/stop").status, 200);
    EXPECT_NEAR(Mean(Form("form=stack").first), Status(0)["imageSet"]["mean"].get<double>(), 0.01);
    client.Put("/api/channels/0/features/ExposureTime", before);
}

TEST_F(ViewAcquisition, AveragedSetsSingleFramesAndRefusedStarts) {
    const HttpClient client = Client();
    ASSERT_EQ(client.Put("/api/channels/0/features/SetupMode", "On").status, 200);
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/start").status, 200);
    const auto status = WaitForStatus(
        0, [](const Json& s) { return !s["imageSet"].is_null() && s["imageSet"]["averaged"] == true; });
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/stop").status, 200);
    EXPECT_EQ(status["imageSet"]["forms"], Json{"average"});
    EXPECT_EQ(status["imageSet"]["height"], status["imageSet"]["directionHeight"]);
    ExpectAnswers(client,
                  {{"GET", "/api/channels/0/image.png?form=direction0", "", 404, HasSubstr("averaged")}});
    EXPECT_EQ(Form("").first.height, status["imageSet"]["height"].get<int32_t>());
    EXPECT_EQ(client.Put("/api/channels/0/features/SetupMode", "Off").status, 200);

    // Single frames give one image set per start, numbered on; it is always shown.
    ASSERT_EQ(client.Put("/api/channels/0/features/AcquisitionMode", "SingleFrame").status, 200);
    const int64_t before = Status(0)["imageSet"]["number"];
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/start").status, 200);
    const auto single = WaitForStatus(0, Idle);
    EXPECT_EQ(single["statistics"]["imageSets"], 1);
    EXPECT_EQ(single["error"], "");
    EXPECT_GT(single["imageSet"]["number"].get<int64_t>(), before);
    EXPECT_EQ(client.Put("/api/channels/0/features/AcquisitionMode", "Continuous").status, 200);

    // A refused start; a command finds the wired camera again.
    ASSERT_EQ(client.Put("/api/channels/0/features/DeviceImageSource", "None").body, "None");
    ExpectAnswers(client, {{"POST", "/api/channels/0/acquisition/start", "", 422}});
    EXPECT_TRUE(Idle(Status(0)));
    ASSERT_EQ(client.Post("/api/channels/0/commands/DeviceImageSourceDetect").status, 200);
    EXPECT_EQ(client.Get("/api/channels/0/features/DeviceImageSource").body, "GigE 00:11:1c:00:00:01");
}

TEST_F(ViewAcquisition, BrightnessRunsToItsResultOnImagesItAcquires) {
    // None runs yet: the view reads as idle.
    const auto idle = Client().Get("/api/channels/0/assistant").Json();
    EXPECT_THAT(idle, HasFields(Json{{"selector", "Brightness detection"},
                                     {"running", false},
                                     {"active", false},
                                     {"history", Json::array()}}));
    EXPECT_EQ(idle["choices"].size(), 4u);

    // It pauses the acquisition under way, which goes on after it.
    ASSERT_EQ(Client().Post("/api/channels/0/acquisition/start").status, 200);
    const HttpAnswer start = Client().Post("/api/channels/0/assistant/start", "brightness");
    ASSERT_EQ(start.status, 200) << start.body;
    EXPECT_EQ(start.Json()["name"], "Brightness detection");
    const auto view = WaitForAssistant(0, [](const Json& v) {
        return v["images"].get<int>() >= 2 && (v["result"] == "Success" || v["result"] == "Warning");
    });
    EXPECT_THAT(view, HasFields(Json{{"active", true},
                                     {"running", true},
                                     {"instruction",
                                      "Place a representative part in the field of view of the camera."}}));
    ASSERT_EQ(view["arguments"].size(), 3u);
    // The message has its placeholders filled with the arguments.
    EXPECT_THAT(view["message"].get<std::string>(),
                AllOf(Not(HasSubstr("{")), HasSubstr(view["arguments"][0].get<std::string>())));
    EXPECT_EQ(view["history"].size(), view["images"].get<size_t>());
    // The image sets it judges are averaged, and they are the live view meanwhile.
    const auto status = Status(0);
    EXPECT_EQ(status["mode"], "assistant");
    EXPECT_EQ(status["imageSet"]["averaged"], true);
    EXPECT_EQ(Client().Get("/api/channels/0/image.png?form=average").status, 200);

    // While it runs, neither an acquisition nor another assistant can start.
    EXPECT_EQ(Client().Post("/api/channels/0/acquisition/start").status, 409);
    EXPECT_EQ(Client().Post("/api/channels/0/assistant/start", "focus").status, 409);
    // The profile holds the channel's own image form, not the averaging the assistant borrows; the
    // form is written only once the assistant stops, though its own value is held.
    EXPECT_THAT(Client().Get("/api/channels/0/profile").body, HasSubstr("\nSetupMode=Off\n"));
    ExpectAnswers(Client(),
                  {{"PUT", "/api/channels/0/features/SetupMode", "On", 409,
                    HasSubstr("stop the assistant to apply \"On\"")},
                   {"PUT", "/api/channels/0/profile", "SetupMode=Off\n", 200, "SetupMode: holds \"Off\""}});

    const HttpAnswer stop = Client().Post("/api/channels/0/assistant/stop");
    // The result stays to be read, and the channel's image form is as before.
    EXPECT_THAT(stop.Json(),
                HasFields(Json{{"running", false}, {"active", false}, {"result", view["result"]}}))
        << stop.body;
    EXPECT_EQ(Client().Get("/api/channels/0/features/SetupMode").body, "Off");
    EXPECT_TRUE(WaitUntil([&] { return Status(0)["mode"] == "live"; }));
}

TEST_F(ViewAcquisition, FocusGraphsItsValueAndTheMaximumAndAWiringCheckWaitsForThePerson) {
    ASSERT_EQ(Client().Post("/api/channels/0/assistant/start", "Focus detection").status, 200);
    auto view = WaitForAssistant(0, Result("Success"));
    // The first step needs no image.
    EXPECT_THAT(view,
                HasFields(Json{{"message", "Representative part should be placed by now."}, {"images", 0}}));
    ASSERT_EQ(Client().Post("/api/channels/0/assistant/next").status, 200);
    view = WaitForAssistant(0, [](const Json& v) { return v["history"].size() >= 3; });
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
    EXPECT_THAT(start.Json(), HasFields(Json{{"result", "Success"}, {"message", "Initialization done."}}))
        << start.body;
    EXPECT_THAT(start.Json()["instruction"].get<std::string>(), HasSubstr("Turn the encoder"));
    // The built-in station's encoder turns: the next step finds it moved.
    view = Client().Post("/api/channels/1/assistant/next").Json();
    EXPECT_THAT(view, HasFields(Json{{"result", "Success"}, {"images", 0}}));
    EXPECT_THAT(view["message"].get<std::string>(), HasSubstr("degrees")) << view["message"];
    // A last "Next" ends it; its result stays to be read.
    EXPECT_EQ(Client().Post("/api/channels/1/assistant/next").status, 200);
    view = WaitForAssistant(1, [](const Json& v) { return v["active"] == false; });
    EXPECT_THAT(view, HasFields(Json{{"running", false}, {"result", "Success"}}));
}

// What a page alone started, an assistant or an acquisition, stops once it closes (before the
// recordings: channel 1 starts for the first time here, slowly, and its release waits for that).
TEST_F(ViewAcquisition, WhatAGonePageStartedStops) {
    ASSERT_EQ(Client("assistantPage").Post("/api/channels/0/assistant/start", "brightness").status, 200);
    const HttpAnswer start = Client("assistantPage").Post("/api/channels/1/acquisition/start");
    EXPECT_THAT(start.Json(), HasFields(Json{{"pages", 1}, {"kept", false}})) << start.body;
    ASSERT_EQ(Client().Post("/api/clients/assistantPage/close").status, 200);
    EXPECT_EQ(WaitForStatus(1, [](const Json& s) { return s["mode"] == "idle"; })["error"], "");
    EXPECT_EQ(WaitForAssistant(0, [](const Json& v) { return v["active"] == false; })["running"], false);
    EXPECT_EQ(Status(0)["mode"], "idle");
    EXPECT_EQ(Client().Get("/api/channels/0/features/DialogStatus").body, "False");
}

TEST_F(ViewAcquisition, ARecordingWritesTheNextImageSetsLeavingTheAcquisitionAsItWasOrIsRefusedIfTooLarge) {
    // On a stopped channel the acquisition starts for the recording and stops after it.
    const size_t stacks = FilesEndingIn(Saved(), "-stack.png");
    const HttpAnswer start = Client().Post("/api/channels/1/recording/start?count=3");
    ASSERT_EQ(start.status, 200) << start.body;
    EXPECT_EQ(start.Json()["active"], true);
    Json status = WaitForStatus(1, [](const Json& s) { return Ended(s) && s["mode"] == "idle"; });
    EXPECT_THAT(status["recording"], HasFields(Json{{"written", 3}, {"ended", ""}}));
    EXPECT_EQ(status["error"], "");
    EXPECT_EQ(FilesEndingIn(Saved(), "-stack.png"), stacks + 3);
    // The last set's files (a line-scan set has its directions' too), its stack first.
    const std::vector<std::string> names = ExistingFileNames(status["recording"]["files"]);
    ASSERT_EQ(names.size(), 7u);
    EXPECT_THAT(names[0], AllOf(StartsWith("zeb-channel1-"), EndsWith("-stack.png")));

    // Started for a recording, then by a person too: the acquisition outlasts the recording.
    ASSERT_EQ(Client().Post("/api/channels/1/recording/start?count=300").status, 200);
    ASSERT_EQ(Client().Post("/api/channels/1/acquisition/start").status, 200);
    const HttpAnswer stop = Client().Post("/api/channels/1/recording/stop");
    ASSERT_EQ(stop.status, 200) << stop.body;
    EXPECT_EQ(stop.Json()["active"], false);
    const int64_t sets = Status(1)["statistics"]["imageSets"];
    status = WaitForStatus(1, [&](const Json& s) { return s["statistics"]["imageSets"] > sets + 2; });
    EXPECT_EQ(status["mode"], "live");
    // By time on a live channel: it ends by itself once the time is over, the acquisition going on.
    ASSERT_EQ(Client().Post("/api/channels/1/recording/start?seconds=1").status, 200);
    status = WaitForStatus(1, Ended);
    EXPECT_GE(status["recording"]["written"].get<int>(), 1);
    EXPECT_EQ(status["recording"]["ended"], "");
    EXPECT_EQ(status["mode"], "live");
    // Stopping the acquisition ends a recording early and says so.
    ASSERT_EQ(Client().Post("/api/channels/1/recording/start?count=300").status, 200);
    WaitForStatus(1, [](const Json& s) { return s["recording"]["written"].get<int>() >= 1; });
    ASSERT_EQ(Client().Post("/api/channels/1/acquisition/stop").status, 200);
    status = Status(1)["recording"];
    EXPECT_EQ(status["active"], false);
    EXPECT_THAT(status["ended"].get<std::string>(), HasSubstr("the acquisition ended")) << status;

    // A folder that cannot be made is said so, as a save says it, and nothing starts.
    const std::filesystem::path aside = Saved().string() + "-aside";
    std::filesystem::rename(Saved(), aside);
    TestEnvironment::WriteFile(Saved(), "a file where the folder should be");
    ExpectAnswers(Client(), {{"POST", "/api/channels/1/recording/start?count=3", "", 500,
                              StartsWith("cannot create the folder " + Saved().string())}});
    EXPECT_TRUE(Idle(Status(1)));
    std::filesystem::remove(Saved());
    std::filesystem::rename(aside, Saved());

    // A million image sets of 640 x 480 would take terabytes: nothing starts, nothing is written.
    const size_t pngs = FilesEndingIn(Saved(), ".png");
    ExpectAnswers(Client(),
                  {{"POST", "/api/channels/0/recording/start?count=1000000", "", 507,
                    AllOf(HasSubstr("recording 1000000 image sets needs about "), HasSubstr(" free ("))}});
    EXPECT_TRUE(Idle(Status(0)));
    EXPECT_EQ(Status(0)["recording"]["active"], false);
    EXPECT_EQ(FilesEndingIn(Saved(), ".png"), pngs);
    // By time on a live channel: the time at the rate it delivers now. A recording under way goes on.
    LiveWithImageSets(0, 10);
    ASSERT_EQ(Client().Post("/api/channels/0/recording/start?count=300").status, 200);
    ExpectAnswers(Client(), {{"POST", "/api/channels/0/recording/start?seconds=86400", "", 507,
                              HasSubstr("recording 86400 s at ")}});
    EXPECT_THAT(Status(0)["recording"], HasFields(Json{{"active", true}, {"count", 300}}));
}

TEST_F(ViewAcquisition, AnUnchangedImageRegionIsHeldWhileLiveAndAChangedOneWaitsForAStop) {
    const HttpClient client = Client();
    const std::string width = client.Get("/api/channels/0/features/Width").body;
    const std::string narrower = std::to_string(std::stoi(width) - 64);
    const std::string saved = client.Get("/api/channels/0/profile").body;
    LiveWithImageSets(0, 1);
    // The profile saved a moment ago loads while live: every image-region line is held.
    HttpAnswer answer = client.Put("/api/channels/0/profile", saved);
    EXPECT_EQ(answer.status, 200) << answer.body;
    EXPECT_THAT(answer.body,
                AllOf(HasSubstr("Width: holds \"" + width + "\""), HasSubstr("ReverseXY: holds \"False\"")));
    // A changed region says to stop; the lines after it are applied all the same.
    answer = client.Put("/api/channels/0/profile", "Width=" + narrower + "\nGain=1\n");
    EXPECT_EQ(answer.status, 422);
    EXPECT_EQ(answer.body, "Width: stop the acquisition to apply \"" + narrower +
                               "\": the camera takes its image region only while it does not stream (it "
                               "holds \"" +
                               width + "\")\nGain: holds \"1\"");
    // One feature at a time alike: held, or 409 until stopped.
    answer = client.Put("/api/channels/0/features/Width", width);
    EXPECT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.Header("x-zeb-written"), "held");
    EXPECT_EQ(client.Put("/api/channels/0/features/ReverseXY", "True").status, 409);
    EXPECT_EQ(client.Put("/api/channels/0/features/Width", narrower).status, 409);
    EXPECT_EQ(client.Get("/api/channels/0/features/Width").body, width);
    // Stopped, the camera takes it.
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/stop").status, 200);
    EXPECT_EQ(client.Put("/api/channels/0/features/Width", narrower).body, narrower);
    EXPECT_EQ(client.Put("/api/channels/0/profile", saved).status, 200);
    EXPECT_EQ(client.Put("/api/channels/0/features/Gain", "0").status, 200);
}

// A transfer error of one frame is counted and said, the acquisition going on; a dome turned by 90
// degrees makes the orientation assistant offer the fix, which it judges right once applied.
TEST_F(ViewAcquisition, AFailedImageSetSaysWhyAndAnOrientationWarningOffersItsFix) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array(
        {{{"kind", "transferError"}, {"after", {{"operation", "frame"}, {"count", 6}}}, {"count", 1}}});
    station["controllers"][0]["domeRotation"] = 90;
    station["cameras"][0]["scene"] = {{"object", "sheet"}};
    environment->UseStation(station.dump());
    ViewServer own(*environment);
    const HttpClient client = own.Client();
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/start").status, 200);
    Json status;
    ASSERT_TRUE(WaitUntil([&] {
        status = client.Get("/api/channels/0/status").Json();
        return status["statistics"]["failed"].get<int>() >= 1 && !status["imageSet"].is_null() &&
               status["imageSet"]["number"].get<int>() >= 3;
    })) << status.dump();
    EXPECT_THAT(status["statistics"]["lastFailure"].get<std::string>(),
                StartsWith("Image was not transfered correctly."));
    EXPECT_EQ(status["mode"], "live");
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/stop").status, 200);
    // A new start begins without the old reason.
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/start").status, 200);
    EXPECT_EQ(client.Get("/api/channels/0/status").Json()["statistics"]["lastFailure"], "");
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/stop").status, 200);

    ASSERT_EQ(client.Post("/api/channels/0/assistant/start", "orientation").status, 200);
    const Json view = WaitForAssistant(0, Result("Warning"), client);
    EXPECT_THAT(view["fix"], HasFields(Json{{"name", "LightingOrientation"}, {"value", "90 deg"}}));
    // The page applies it as any other write, while the assistant goes on judging.
    ASSERT_EQ(client.Put("/api/channels/0/features/LightingOrientation", "90 deg").status, 200);
    EXPECT_TRUE(WaitForAssistant(0, Result("Success"), client)["fix"].is_null());
    EXPECT_EQ(client.Post("/api/channels/0/assistant/stop").status, 200);
}

} // namespace zeb::test
