// Acquiring through zeb view: starting and stopping, the forms of the latest image set and the
// statistics of each direction, saving, and why an image set failed. One server for the whole file,
// and one with a faulty station for that last.
#include "Stations.h"
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
        server = new ViewServer(*environment,
                                {"--out", (environment->Folder() / "saved").string(), "--page-timeout", "1"});
    }
    // Every test starts from stopped channels.
    void TearDown() override { StopBoth(); }

    static bool Idle(const nlohmann::json& status) { return status["mode"] == "idle"; }
    // The PNG image of a form of the channel's latest image set, and the image set's number.
    static std::pair<host::Image, std::string> Form(int channel, const std::string& query) {
        const HttpAnswer answer =
            Client().Get("/api/channels/" + std::to_string(channel) + "/image.png?" + query);
        EXPECT_EQ(answer.status, 200) << answer.body;
        EXPECT_EQ(answer.Header("content-type"), "image/png");
        const auto file = environment->Folder() / "form.png";
        TestEnvironment::WriteFile(file, answer.body);
        return {ReadPngFile(file).image, answer.Header("x-zeb-image-set")};
    }
    static double Mean(const host::Image& image) {
        const double sum = std::accumulate(image.pixels.begin(), image.pixels.end(), 0.0);
        return image.pixels.empty() ? 0 : sum / static_cast<double>(image.pixels.size());
    }
};

TEST_F(ViewAcquisition, AnAcquisitionDeliversImageSetsInEveryFormUntilStoppedAndBrightensWithTheExposure) {
    const HttpAnswer start = Client().Post("/api/channels/0/acquisition/start");
    ASSERT_EQ(start.status, 200) << start.body;
    EXPECT_EQ(start.Json()["mode"], "live");
    EXPECT_EQ(start.Json()["kept"], true); // started without a page id
    WaitForImageSets(0, 3);
    ASSERT_EQ(Client().Post("/api/channels/0/acquisition/stop").status, 200);
    const auto status = Status(0);
    EXPECT_TRUE(Idle(status));
    EXPECT_GE(status["statistics"]["imageSets"].get<int64_t>(), 3);
    EXPECT_EQ(status["statistics"]["lost"], 0);
    EXPECT_EQ(status["statistics"]["failed"], 0);
    const auto set = status["imageSet"];
    EXPECT_EQ(set["lineScan"], false);
    EXPECT_EQ(set["averaged"], false);
    EXPECT_EQ(set["litFrom"].size(), 4u);
    const std::string number = std::to_string(set["number"].get<int64_t>());

    // Each form is of the image set shown (their pixel arithmetic is the parts' tests'): direction k
    // is the k-th frame of the stack, and its statistics in the status are of its own pixels.
    const auto [stack, stackNumber] = Form(0, "form=stack");
    EXPECT_EQ(stackNumber, number);
    ASSERT_EQ(stack.width, set["width"].get<int32_t>());
    ASSERT_EQ(stack.height, 4 * set["directionHeight"].get<int32_t>());
    const int32_t width = stack.width, height = stack.height / 4;
    ASSERT_EQ(set["directions"].size(), 4u);
    std::vector<uint64_t> whole(256, 0);
    for (int k = 0; k < 4; ++k) {
        const auto [direction, directionNumber] = Form(0, "form=direction" + std::to_string(k));
        EXPECT_EQ(directionNumber, number);
        ASSERT_EQ(direction.pixels.size(), static_cast<size_t>(width) * static_cast<size_t>(height));
        EXPECT_TRUE(std::equal(direction.pixels.begin(), direction.pixels.end(),
                               stack.pixels.begin() + static_cast<ptrdiff_t>(k) * width * height))
            << "direction " << k;
        const auto& facts = set["directions"][static_cast<size_t>(k)];
        const auto histogram = facts["histogram"].get<std::vector<uint64_t>>();
        std::transform(whole.begin(), whole.end(), histogram.begin(), whole.begin(), std::plus<>());
        EXPECT_EQ(std::accumulate(histogram.begin(), histogram.end(), uint64_t{0}), direction.pixels.size())
            << k;
        EXPECT_NEAR(facts["mean"].get<double>(), Mean(direction), 1e-9) << k;
    }
    EXPECT_EQ(set["histogram"], nlohmann::json(whole)); // together they are the image set's
    const host::Image average = Form(0, "form=average").first;
    EXPECT_EQ(average.width * 4 * average.height, stack.width * stack.height);
    const auto [preview, previewNumber] = Form(0, "form=direction1&scale=3");
    EXPECT_EQ(preview.width, (width + 2) / 3);
    EXPECT_EQ(preview.height, (height + 2) / 3);
    // Without a form: the image set as delivered.
    EXPECT_EQ(Form(0, "").first.pixels, stack.pixels);

    // Raising the exposure brightens the live image.
    const HttpClient client = Client();
    const std::string before = client.Get("/api/channels/0/features/ExposureTime").body;
    // The image sets shown a little after the first one taken with an exposure.
    auto takenWith = [](const std::string& exposure) {
        const auto first = WaitForStatus(0, [&](const nlohmann::json& s) {
            return !s["imageSet"].is_null() && s["imageSet"]["exposureTime"] == exposure;
        });
        return WaitForImageSets(0, first["imageSet"]["number"].get<int64_t>() + 5);
    };
    ASSERT_EQ(client.Put("/api/channels/0/features/ExposureTime", "20").status, 200);
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/start").status, 200);
    const auto dim = takenWith("20");
    // Written while the acquisition runs, as a person turns the exposure up in the page.
    const HttpAnswer raised = client.Put("/api/channels/0/features/ExposureTime", "40");
    ASSERT_EQ(raised.status, 200) << raised.body;
    const auto bright = takenWith("40");
    const double dimMean = dim["imageSet"]["mean"], brightMean = bright["imageSet"]["mean"];
    EXPECT_GT(dimMean, 5);
    EXPECT_LT(brightMean, 200); // far from saturation, so twice the light shows
    EXPECT_GT(brightMean, 1.6 * dimMean) << dimMean << " then " << brightMean;
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/stop").status, 200);
    // The picture says the same as the statistics.
    EXPECT_NEAR(Mean(Form(0, "form=stack").first), Status(0)["imageSet"]["mean"].get<double>(), 0.01);
    client.Put("/api/channels/0/features/ExposureTime", before);
}

TEST_F(ViewAcquisition, SavingWritesTheFilesAndMetadataOfZebAcquire) {
    ASSERT_EQ(Client().Post("/api/channels/0/acquisition/start").status, 200);
    WaitForImageSets(0, 1);
    ASSERT_EQ(Client().Post("/api/channels/0/acquisition/stop").status, 200);
    const auto set = Status(0)["imageSet"];
    HttpAnswer saved = Client().Post("/api/channels/0/save");
    ASSERT_EQ(saved.status, 200) << saved.body;
    EXPECT_EQ(saved.Json()["imageSet"], set["number"]); // the live view's number
    EXPECT_EQ(saved.Json()["savedNumber"], 1);          // the number its files carry
    const auto folder = environment->Folder() / "saved";
    std::vector<std::string> names;
    const nlohmann::json files = saved.Json()["files"]; // a copy: the answer is a temporary
    for (const auto& file : files)
        names.push_back(std::filesystem::path(file.get<std::string>()).filename().string());
    EXPECT_THAT(names, UnorderedElementsAre("zeb-channel0-0001-stack.png", "zeb-channel0-0001-average.png",
                                            "zeb-channel0-0001-directions.png"));
    const PngContents stack = ReadPngFile(folder / "zeb-channel0-0001-stack.png");
    EXPECT_EQ(stack.image.pixels, Form(0, "form=stack").first.pixels);
    EXPECT_EQ(stack.texts.at("Exposure time"), set["exposureTime"].get<std::string>() + " us");
    EXPECT_EQ(stack.texts.at("Channel"), "BRELAN: Morvane (#0)");
    // The next save of the same set numbers on; the live number stays.
    saved = Client().Post("/api/channels/0/save");
    ASSERT_EQ(saved.status, 200) << saved.body;
    EXPECT_EQ(saved.Json()["savedNumber"], 2);
    EXPECT_EQ(saved.Json()["imageSet"], set["number"]);
    EXPECT_TRUE(std::filesystem::exists(folder / "zeb-channel0-0002-directions.png"));

    // zeb acquire writes the same files with the same text keys.
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
        EXPECT_EQ(ours.image.width, theirs.image.width) << form;
        EXPECT_EQ(ours.image.height, theirs.image.height) << form;
    }
}

TEST_F(ViewAcquisition, AveragedSetsSingleFramesAndRefusedStarts) {
    const HttpClient client = Client();
    ASSERT_EQ(client.Put("/api/channels/0/features/SetupMode", "On").status, 200);
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/start").status, 200);
    const auto status = WaitForStatus(0, [](const nlohmann::json& s) {
        return !s["imageSet"].is_null() && s["imageSet"]["averaged"] == true;
    });
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/stop").status, 200);
    EXPECT_EQ(status["imageSet"]["forms"], nlohmann::json{"average"});
    EXPECT_EQ(status["imageSet"]["height"], status["imageSet"]["directionHeight"]);
    const HttpAnswer direction = client.Get("/api/channels/0/image.png?form=direction0");
    EXPECT_EQ(direction.status, 404);
    EXPECT_THAT(direction.body, HasSubstr("averaged"));
    EXPECT_EQ(Form(0, "").first.height, status["imageSet"]["height"].get<int32_t>());
    EXPECT_EQ(client.Put("/api/channels/0/features/SetupMode", "Off").status, 200);

    // Single frames give one image set per start.
    ASSERT_EQ(client.Put("/api/channels/0/features/AcquisitionMode", "SingleFrame").status, 200);
    const int64_t before =
        Status(0)["imageSet"].is_null() ? 0 : Status(0)["imageSet"]["number"].get<int64_t>();
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/start").status, 200);
    const auto single = WaitForStatus(0, Idle);
    EXPECT_EQ(single["statistics"]["imageSets"], 1);
    // Image sets are numbered as delivered; the one of a single frame is always shown.
    EXPECT_GT(single["imageSet"]["number"].get<int64_t>(), before);
    EXPECT_EQ(single["error"], "");
    EXPECT_EQ(client.Put("/api/channels/0/features/AcquisitionMode", "Continuous").status, 200);

    // A start the channel refuses gives the plug-in's text.
    ASSERT_EQ(client.Put("/api/channels/0/features/DeviceImageSource", "None").body, "None");
    const HttpAnswer refused = client.Post("/api/channels/0/acquisition/start");
    EXPECT_EQ(refused.status, 422);
    EXPECT_FALSE(refused.body.empty());
    EXPECT_TRUE(Idle(Status(0)));
    // A command runs on the channel: the detection finds the wired camera again.
    ASSERT_EQ(client.Post("/api/channels/0/commands/DeviceImageSourceDetect").status, 200);
    EXPECT_EQ(client.Get("/api/channels/0/features/DeviceImageSource").body, "GigE 00:11:1c:00:00:01");
}

// A transfer error of one frame: the failed image set is counted, its reason shown, and the
// acquisition goes on.
TEST_F(ViewAcquisition, AFailedImageSetSaysWhy) {
    Json station = AreaStation();
    station["cameras"][0]["faults"] = Json::array(
        {{{"kind", "transferError"}, {"after", {{"operation", "frame"}, {"count", 6}}}, {"count", 1}}});
    environment->UseStation(station.dump());
    ViewServer faulty(*environment);
    const HttpClient client = faulty.Client();
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/start").status, 200);
    nlohmann::json status;
    ASSERT_TRUE(WaitUntil([&] {
        status = client.Get("/api/channels/0/status").Json();
        return status["statistics"]["failed"].get<int>() >= 1 && !status["imageSet"].is_null() &&
               status["imageSet"]["number"].get<int>() >= 3;
    })) << status.dump();
    // The plug-in's text, as the host reads it.
    EXPECT_EQ(status["statistics"]["lastFailure"].get<std::string>().rfind(
                  "Image was not transfered correctly.", 0),
              0u)
        << status["statistics"];
    EXPECT_EQ(status["mode"], "live");
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/stop").status, 200);
    // A new start begins without the old reason.
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/start").status, 200);
    EXPECT_EQ(client.Get("/api/channels/0/status").Json()["statistics"]["lastFailure"], "");
    ASSERT_EQ(client.Post("/api/channels/0/acquisition/stop").status, 200);
}

} // namespace zeb::test
