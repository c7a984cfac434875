// Recording through zeb view's API: by count and by time, on a stopped and on a live channel, ended
// early, recordings the folder cannot hold, the surface saved and recorded beside the image sets,
// the image region while the camera streams. One server for the file.
#include "ViewServer.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace zeb::test {

class ApiRecording : public ViewSuite {
protected:
    static void SetUpTestSuite() {
        environment = new TestEnvironment();
        server = new ViewServer(*environment, {"--out", SavedFolder().string()});
    }
    static std::filesystem::path SavedFolder() { return environment->Folder() / "saved"; }
    void TearDown() override { StopBoth(); }

    static nlohmann::json LiveWithImageSets(int channel, int64_t count) {
        const HttpAnswer start =
            Client().Post("/api/channels/" + std::to_string(channel) + "/acquisition/start");
        EXPECT_EQ(start.status, 200) << start.body;
        return WaitForImageSets(channel, count);
    }
    static bool RecordingEnded(const nlohmann::json& s) { return s["recording"]["active"] == false; }
    static size_t FilesEndingIn(const std::string& end) {
        size_t count = 0;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(SavedFolder(), ignored))
            count += entry.path().filename().string().ends_with(end);
        return count;
    }
    static std::string Name(const nlohmann::json& file) {
        return std::filesystem::path(file.get<std::string>()).filename().string();
    }
};

TEST_F(ApiRecording, ARecordingWritesTheNextImageSetsLeavingTheAcquisitionAsItWasOrIsRefusedIfTooLarge) {
    // On a stopped channel the acquisition starts for the recording and stops after it.
    ASSERT_EQ(Status(1)["mode"], "idle");
    const size_t before = FilesEndingIn("-stack.png");
    const HttpAnswer start = Client().Post("/api/channels/1/recording/start?count=3");
    ASSERT_EQ(start.status, 200) << start.body;
    EXPECT_EQ(start.Json()["active"], true);
    nlohmann::json status =
        WaitForStatus(1, [](const nlohmann::json& s) { return RecordingEnded(s) && s["mode"] == "idle"; });
    EXPECT_EQ(status["recording"]["written"], 3);
    EXPECT_EQ(status["recording"]["ended"], "");
    EXPECT_EQ(status["error"], "");
    EXPECT_EQ(FilesEndingIn("-stack.png"), before + 3);
    // The files of the last image set written (a line-scan set has its directions' too), its stack
    // first, named as zeb acquire names them.
    const nlohmann::json files = status["recording"]["files"];
    ASSERT_EQ(files.size(), 7u);
    for (const auto& file : files)
        EXPECT_TRUE(std::filesystem::exists(file.get<std::string>())) << file;
    EXPECT_TRUE(Name(files[0]).starts_with("zeb-channel1-") && Name(files[0]).ends_with("-stack.png"))
        << files;

    // Started for a recording, then by a person too: the acquisition outlasts the recording.
    ASSERT_EQ(Client().Post("/api/channels/1/recording/start?count=300").status, 200);
    ASSERT_EQ(Client().Post("/api/channels/1/acquisition/start").status, 200);
    const HttpAnswer stop = Client().Post("/api/channels/1/recording/stop");
    ASSERT_EQ(stop.status, 200) << stop.body;
    EXPECT_EQ(stop.Json()["active"], false);
    const int64_t sets = Status(1)["statistics"]["imageSets"];
    status =
        WaitForStatus(1, [&](const nlohmann::json& s) { return s["statistics"]["imageSets"] > sets + 2; });
    EXPECT_EQ(status["mode"], "live");

    // By time on a live channel: it ends by itself once the time is over, the acquisition going on.
    ASSERT_EQ(Client().Post("/api/channels/1/recording/start?seconds=1").status, 200);
    status = WaitForStatus(1, RecordingEnded);
    EXPECT_GE(status["recording"]["written"].get<int>(), 1);
    EXPECT_EQ(status["recording"]["ended"], "");
    EXPECT_EQ(status["mode"], "live");

    // Stopping the acquisition ends a recording early and says so.
    ASSERT_EQ(Client().Post("/api/channels/1/recording/start?count=300").status, 200);
    WaitForStatus(1, [](const nlohmann::json& s) { return s["recording"]["written"].get<int>() >= 1; });
    ASSERT_EQ(Client().Post("/api/channels/1/acquisition/stop").status, 200);
    status = Status(1);
    EXPECT_EQ(status["recording"]["active"], false);
    EXPECT_THAT(status["recording"]["ended"].get<std::string>(), HasSubstr("the acquisition ended"))
        << status["recording"];
    // A million image sets of 640 x 480 would take terabytes.
    const size_t pngs = FilesEndingIn(".png");
    HttpAnswer refused = Client().Post("/api/channels/0/recording/start?count=1000000");
    EXPECT_EQ(refused.status, 507) << refused.body;
    EXPECT_THAT(refused.body, HasSubstr("recording 1000000 image sets needs about "));
    EXPECT_THAT(refused.body, HasSubstr(" free ("));
    // Nothing started, nothing written.
    EXPECT_EQ(Status(0)["mode"], "idle");
    EXPECT_EQ(Status(0)["recording"]["active"], false);
    EXPECT_EQ(FilesEndingIn(".png"), pngs);

    // By time on a live channel: the time at the rate it delivers now. A recording under way goes on.
    LiveWithImageSets(0, 10);
    ASSERT_EQ(Client().Post("/api/channels/0/recording/start?count=300").status, 200);
    refused = Client().Post("/api/channels/0/recording/start?seconds=86400");
    EXPECT_EQ(refused.status, 507) << refused.body;
    EXPECT_THAT(refused.body, HasSubstr("recording 86400 s at "));
    status = Status(0);
    EXPECT_EQ(status["recording"]["active"], true);
    EXPECT_EQ(status["recording"]["count"], 300);
}

TEST_F(ApiRecording, TheSurfaceIsSavedAndRecordedBesideTheImageSet) {
    LiveWithImageSets(0, 1);
    EXPECT_EQ(Client().Post("/api/channels/0/save?surface=maybe").status, 400);
    const HttpAnswer saved = Client().Post("/api/channels/0/save?surface=1");
    ASSERT_EQ(saved.status, 200) << saved.body;
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "zeb-channel0-%04lld-",
                  static_cast<long long>(saved.Json()["savedNumber"].get<int64_t>()));
    std::vector<std::string> names;
    const nlohmann::json files = saved.Json()["files"]; // a copy: the answer is a temporary
    for (const auto& file : files) {
        names.push_back(Name(file));
        EXPECT_TRUE(std::filesystem::exists(file.get<std::string>())) << file;
    }
    EXPECT_THAT(names,
                IsSupersetOf({std::string(prefix) + "stack.png", std::string(prefix) + "average.png",
                              std::string(prefix) + "directions.png", std::string(prefix) + "normals.png",
                              std::string(prefix) + "albedo.png", std::string(prefix) + "curvature.png"}));
    EXPECT_THAT(names, Each(StartsWith(prefix)));

    // A recording with its surfaces: each set's normals beside its stack.
    const size_t normals = FilesEndingIn("-normals.png"), stacks = FilesEndingIn("-stack.png");
    ASSERT_EQ(Client().Post("/api/channels/0/recording/start?count=2&surface=1").status, 200);
    // Each surface with heights takes tens of seconds under the sanitizers.
    const nlohmann::json status = WaitForStatus(0, RecordingEnded, std::chrono::minutes(5));
    EXPECT_EQ(status["recording"]["written"], 2);
    EXPECT_EQ(status["recording"]["ended"], "");
    EXPECT_EQ(FilesEndingIn("-normals.png"), normals + 2);
    EXPECT_EQ(FilesEndingIn("-stack.png"), stacks + 2);
}

TEST_F(ApiRecording, AnUnchangedImageRegionIsHeldWhileLiveAndAChangedOneWaitsForAStop) {
    const HttpClient client = Client();
    const std::string width = client.Get("/api/channels/0/features/Width").body;
    const std::string narrower = std::to_string(std::stoi(width) - 64);
    const std::string saved = client.Get("/api/channels/0/profile").body;
    LiveWithImageSets(0, 1);

    // The profile saved a moment ago loads while live: every image-region line is held.
    HttpAnswer answer = client.Put("/api/channels/0/profile", saved);
    EXPECT_EQ(answer.status, 200) << answer.body;
    EXPECT_THAT(answer.body, HasSubstr("Width: holds \"" + width + "\""));
    EXPECT_THAT(answer.body, HasSubstr("ReverseXY: holds \"False\""));
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
    answer = client.Put("/api/channels/0/features/Width", narrower);
    EXPECT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(answer.body, narrower);
    EXPECT_EQ(client.Put("/api/channels/0/profile", saved).status, 200);
    EXPECT_EQ(client.Put("/api/channels/0/features/Gain", "0").status, 200);
}

} // namespace zeb::test
