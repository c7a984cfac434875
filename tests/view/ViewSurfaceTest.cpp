// The surface through zeb view on a small station with the calibration sphere: calibrated, shown
// live with the calibration while the orientation fits it, saved and recorded beside the image sets.
#include "Stations.h"
#include "ViewFlows.h"
#include "ViewServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace zeb::test {

class ViewSurface : public ViewSuite {
protected:
    static void SetUpTestSuite() {
        environment = new TestEnvironment();
        Json station = AreaStation();
        SizeCamera(station["cameras"][0], 160, 128);
        station["cameras"][0]["scene"] = {{"object", "sphere"}};
        station["cameras"][0]["sensor"] = Json::object();
        environment->UseStation(station.dump());
        server = new ViewServer(*environment, {"--out", environment->Folder().string()});
    }
    // The surface of the latest image set after the one numbered `after`.
    static HttpAnswer SurfaceAfter(int64_t after, const std::string& query) {
        HttpAnswer answer;
        WaitUntil([&] {
            answer = Client().Get("/api/channels/0/surface.png?" + query);
            return answer.status != 404 && std::stoll("0" + answer.Header("x-zeb-image-set")) > after;
        });
        return answer;
    }
};

TEST_F(ViewSurface, CalibratesOnTheSphereAndShowsSavesAndRecordsTheLiveSurface) {
    EXPECT_EQ(Client().Get("/api/channels/0/surface.png").status, 404) << "no image set yet";
    // A sphere of another size than the one under the camera is not taken for it.
    EXPECT_EQ(Client().Post("/api/channels/0/calibrate?sphereRadius=5").status, 422);
    const HttpAnswer calibrated = Client().Post("/api/channels/0/calibrate");
    ASSERT_EQ(calibrated.status, 200) << calibrated.body;
    const auto figures = calibrated.Json();
    EXPECT_EQ(figures["agrees"], true);
    EXPECT_EQ(figures["orientation"], Json({{"set", "180 deg"}, {"detected", "180 deg"}}));
    EXPECT_TRUE(figures["suggestedOrientation"].is_null());
    EXPECT_LE(figures["meanErrorDegrees"].get<double>(), 1.5);
    EXPECT_NEAR(figures["sphere"]["radius"].get<double>(), 50, 1);
    EXPECT_EQ(figures["lights"].size(), 4u);
    // The file's text ends up in a header: control bytes in it neither end the header nor add one.
    const std::filesystem::path file = environment->Folder() / "zeb-calibration-channel0.json";
    Json calibration = Json::parse(std::ifstream(file));
    calibration["date"] = "today\r\nX-Forged: yes\r\n\r\n<html>\x01\x7f";
    const auto written = std::filesystem::last_write_time(file);
    std::ofstream(file) << calibration.dump(2);
    std::filesystem::last_write_time(file, written + std::chrono::seconds(2)); // read again for sure

    ASSERT_EQ(Client().Post("/api/channels/0/acquisition/start").status, 200);
    HttpAnswer normals = SurfaceAfter(0, "form=normals&scale=2");
    ASSERT_EQ(normals.status, 200) << normals.body;
    EXPECT_EQ(normals.Header("content-type"), "image/png");
    EXPECT_THAT(normals.Header("x-zeb-lighting-model"), StartsWith("calibrated: dome radius 100.0 mm"));
    const std::string note = normals.Header("x-zeb-calibration");
    EXPECT_THAT(note, HasSubstr("zeb-calibration-channel0.json (made today\\x0D\\x0AX-Forged: "
                                "yes\\x0D\\x0A\\x0D\\x0A<html>\\x01\\x7F)"));
    EXPECT_EQ(note.find_first_of("\r\n\x01\x7f"), std::string::npos);
    EXPECT_EQ(normals.Header("x-forged"), "");
    // The same set's other pictures; the height's says its millimetres at its darkest and brightest.
    const HttpAnswer curvature = Client().Get("/api/channels/0/surface.png?form=curvature");
    ASSERT_EQ(curvature.status, 200);
    EXPECT_GE(std::stoll(curvature.Header("x-zeb-image-set")), std::stoll(normals.Header("x-zeb-image-set")));
    const HttpAnswer height = Client().Get("/api/channels/0/surface.png?form=height&scale=2");
    ASSERT_EQ(height.status, 200) << height.body;
    double low = 0, high = 0;
    ASSERT_EQ(std::sscanf(height.Header("x-zeb-height-range").c_str(), "%lf %lf", &low, &high), 2);
    EXPECT_LT(low, high);

    // Another orientation than the calibration's: the nominal model, and the reason.
    ASSERT_EQ(Client().Put("/api/channels/0/features/LightingOrientation", "90 deg").status, 200);
    const HttpAnswer turned = SurfaceAfter(Status(0)["imageSet"]["number"].get<int64_t>(), "form=albedo");
    ASSERT_EQ(turned.status, 200) << turned.body;
    EXPECT_THAT(turned.Header("x-zeb-lighting-model"), StartsWith("nominal: "));
    EXPECT_THAT(turned.Header("x-zeb-calibration"), HasSubstr("not used: the calibration"));

    EXPECT_EQ(Client().Post("/api/channels/0/save?surface=maybe").status, 400);
    const HttpAnswer saved = Client().Post("/api/channels/0/save?surface=1");
    ASSERT_EQ(saved.status, 200) << saved.body;
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "zeb-channel0-%04d-", saved.Json()["savedNumber"].get<int>());
    const std::vector<std::string> names = ExistingFileNames(saved.Json()["files"]);
    for (const char* form : {"stack", "average", "directions", "normals", "albedo", "curvature"})
        EXPECT_THAT(names, Contains(prefix + std::string(form) + ".png"));
    EXPECT_THAT(names, Each(StartsWith(prefix)));
    const size_t normalsBefore = FilesEndingIn(environment->Folder(), "-normals.png"),
                 stacks = FilesEndingIn(environment->Folder(), "-stack.png");
    ASSERT_EQ(Client().Post("/api/channels/0/recording/start?count=2&surface=1").status, 200);
    // Each surface with heights takes tens of seconds under the sanitizers.
    const Json status = WaitForStatus(
        0, [](const Json& s) { return s["recording"]["active"] == false; }, std::chrono::minutes(5));
    EXPECT_THAT(status["recording"], HasFields(Json{{"written", 2}, {"ended", ""}}));
    EXPECT_EQ(FilesEndingIn(environment->Folder(), "-normals.png"), normalsBefore + 2);
    EXPECT_EQ(FilesEndingIn(environment->Folder(), "-stack.png"), stacks + 2);
    ASSERT_EQ(Client().Post("/api/channels/0/acquisition/stop").status, 200);
}

} // namespace zeb::test
