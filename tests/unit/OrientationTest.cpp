// Orientation detection on image sets built here, with the controller and camera of a station: what
// it judges, and the camera whose failure, not a misleading result, reaches the host.
#include "DeviceTest.h"
#include "Dialog.h"
#include "Scanner.h"

#include <algorithm>

namespace Zeb = Tamo::Morvane::Zeb;
using Dervo::Imaging::Bitmap;
using zeb::test::Json;

namespace {

class Orientation : public zeb::test::DeviceTest {
protected:
    // A 2000 x 1000 sensor; the camera's region as given; the channel's orientation as given.
    void SetUp() override {
        Json station = zeb::test::AreaStation();
        station["cameras"][0]["features"] = {
            {"SensorWidth", "2000"}, {"SensorHeight", "1000"}, {"Width", "2000"}, {"Height", "1000"}};
        UseStation(station);
        Tamo::String ignored;
        scanner.ReadValue("LightingOrientation", ignored); // initialises the channel
        OpenController();
        OpenCamera("Cam A");
        dialog.SetController(&controller);
        dialog.SetImageSource(&camera);
        dialog.SetScanner(&scanner);
        controller.SetRegisterValue("Light.GlobalChannelParameters.Brightness", "200");
        controller.SetRegisterValue("Light.GlobalChannelParameters.PulseWidth", "150");
        controller.SetRegisterValue("Sequencer.LightSequence", "0A03050C");
    }
    // Four direction images of `width` x `height`: direction k has `level[k]` everywhere, plus a
    // ramp to the right of `slope[k]` grey values per 100 columns.
    static Bitmap Stack(int32_t width, int32_t height, const double (&level)[4],
                        const double (&slope)[4] = {0, 0, 0, 0}) {
        Bitmap stack(width, 4 * height);
        for (int32_t k = 0; k < 4; ++k)
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x)
                    stack.UInt8RowPtr(k * height + y)[x] = static_cast<uint8_t>(
                        std::clamp(level[k] + slope[k] * (x - width / 2) / 100.0, 0.0, 255.0));
        return stack;
    }
    // A fresh assistant evaluating one image set taken under the light as it is now.
    void Evaluate(int32_t width, int32_t height, const double (&level)[4],
                  const double (&slope)[4] = {0, 0, 0, 0}) {
        dialog.Start("Orientation detection");
        dialog.Update();
        dialog.ImageSetStarted();
        dialog.SetBitmaps(Stack(width, height, level, slope), Bitmap(width, height));
        dialog.Update();
    }
    std::vector<std::string> Arguments() const {
        std::vector<std::string> parts;
        std::string text = dialog.ResultMessageArguments().CStr();
        for (size_t at; (at = text.find(';')) != std::string::npos; text.erase(0, at + 1))
            parts.push_back(text.substr(0, at));
        parts.push_back(text);
        return parts;
    }
    // A region of 100 rows in the middle of the sensor.
    void HundredRows() {
        camera.SetFeature("Height", "100");
        camera.SetFeature("OffsetY", "450");
    }
    std::string Register(const char* name) {
        Tamo::String value;
        controller.GetRegisterValue(name, value);
        return value.CStr();
    }

    Zeb::Scanner scanner;
    Zeb::Dialog dialog;
};

} // namespace

TEST_F(Orientation, UsesTheCentralSixtyPercentOfTheSensor) {
    Evaluate(2000, 1000, {180, 180, 180, 180}, {10, 0, -10, 0});
    EXPECT_TRUE(environment.Logged("Used Size = 1200 x 600"));
    EXPECT_TRUE(environment.Logged("Size = 2000 x 1000"));
    EXPECT_EQ(std::string(dialog.Result().CStr()), "Success") << "step 0 lit from the right: as set";
    EXPECT_EQ(Arguments()[0], "180 deg");
    EXPECT_EQ(Arguments()[1], "180 deg");
    Evaluate(2000, 1000, {180, 180, 180, 180}, {-10, 0, 10, 0});
    EXPECT_EQ(std::string(dialog.Result().CStr()), "Warning")
        << "step 2 lit from the right: turned by 180 deg";
    EXPECT_EQ(Arguments()[1], "0 deg");
}

TEST_F(Orientation, RegionOutsideTheCentreAndDarkImages) {
    camera.SetFeature("Width", "200");
    camera.SetFeature("OffsetX", "1700");
    Evaluate(200, 1000, {180, 180, 180, 180});
    EXPECT_EQ(std::string(dialog.Result().CStr()), "Error");
    EXPECT_EQ(
        std::string(dialog.ResultMessage().CStr()),
        "The region of interest is too far away from the middle of the sensor. Increase the size of the "
        "region of interest and try again.");
    EXPECT_EQ(Arguments(), std::vector<std::string>{""});
    EXPECT_EQ(Register("Light0.Channel0.UseGlobalParameters"), "1") << "no light changed";
    camera.SetFeature("OffsetX", "0");
    camera.SetFeature("Width", "2000");
    HundredRows();
    Evaluate(2000, 100, {100, 0, 100, 100});
    EXPECT_EQ(std::string(dialog.ResultMessage().CStr()),
              "Image Brightness to dark. Adjust aperture or exposure time.");
}

TEST_F(Orientation, BrightnessGateAndRescaling) {
    HundredRows();
    // Mean 100 with the channels below the global brightness: no detection, rescaled to 100 -> 180.
    controller.SetRegisterValue("Light0.Channel0.UseGlobalParameters", "0");
    controller.SetRegisterValue("Light0.Channel0.Brightness", "50");
    Evaluate(2000, 100, {100, 100, 100, 100});
    EXPECT_EQ(std::string(dialog.Result().CStr()), "Undefined");
    EXPECT_EQ(std::string(dialog.ResultMessage().CStr()), "Image Brightness will be optimized, please wait.");
    EXPECT_EQ(Register("Light0.Channel3.Brightness"), "90");
    EXPECT_EQ(Register("Light0.Channel2.PulseWidth"), "150");
    // Mean 250: cut to a fifth.
    Evaluate(2000, 100, {250, 250, 250, 250});
    EXPECT_EQ(Register("Light0.Channel1.Brightness"), "18");
    // Mean 165 detects and still rescales (capped at the global 200).
    controller.SetRegisterValue("Light0.Channel0.Brightness", "110");
    Evaluate(2000, 100, {165, 165, 165, 165});
    EXPECT_NE(std::string(dialog.Result().CStr()), "Undefined");
    EXPECT_EQ(Register("Light0.Channel0.Brightness"),
              Tamo::String::FromFloat(110.0f / 165.0f * 180.0f).CStr());
    // A dark image at full brightness is judged as it is.
    controller.SetRegisterValue("Light0.Channel0.UseGlobalParameters", "1");
    Evaluate(2000, 100, {100, 100, 100, 100});
    EXPECT_NE(std::string(dialog.Result().CStr()), "Undefined");
    EXPECT_EQ(Register("Light0.Channel0.Brightness"), "200");
}

TEST_F(Orientation, TiesKeepTheEarlierIndexAndConfidenceRules) {
    HundredRows();
    scanner.WriteValue("LightingOrientation", "90 deg");
    // d0 = d1: direction 0 brighter right, direction 1 as much brighter right as direction 3 left.
    Evaluate(2000, 100, {180, 180, 180, 180}, {6, 3, -6, -3});
    EXPECT_EQ(Arguments()[1], "90 deg") << "index 0 wins the tie, turned by the set 90 deg";
    EXPECT_EQ(std::string(dialog.Result().CStr()), "Success");
    EXPECT_EQ(Arguments()[2], "high");
    // Small differences.
    Evaluate(2000, 100, {180, 180, 180, 180}, {0.3, 0, -0.3, 0});
    EXPECT_EQ(Arguments()[2], "low");
    EXPECT_EQ(Arguments()[3], "input images deviations are very small");
    // A dark image that cannot be made brighter: medium.
    controller.SetRegisterValue("Light0.Channel0.UseGlobalParameters", "1");
    controller.SetRegisterValue("Light.GlobalChannelParameters.Brightness", "100");
    Evaluate(2000, 100, {40, 40, 40, 40}, {10, 0, -10, 0});
    EXPECT_EQ(Arguments()[2], "medium");
    EXPECT_EQ(Arguments()[3], "image is dark");
}

TEST_F(Orientation, AnImageSetStartedBeforeTheLatestLightAdjustmentIsNotEvaluated) {
    HundredRows();
    Evaluate(2000, 100, {250, 250, 250, 250});
    ASSERT_EQ(std::string(dialog.Result().CStr()), "Undefined");
    ASSERT_EQ(Register("Light0.Channel1.Brightness"), "40") << "too bright: cut to a fifth";
    // This set was under way when the light changed: handed over, but not taken.
    dialog.SetBitmaps(Stack(2000, 100, {250, 250, 250, 250}), Bitmap(2000, 100));
    dialog.Update();
    EXPECT_TRUE(dialog.AcquisitionRequest()) << "still asking for an image";
    EXPECT_EQ(Register("Light0.Channel1.Brightness"), "40") << "not judged again";
    EXPECT_FALSE(environment.Logged("Result = 180 deg, (Current = 180 deg)"));
    // The next set starts under the adjusted light and is evaluated.
    dialog.ImageSetStarted();
    dialog.SetBitmaps(Stack(2000, 100, {180, 180, 180, 180}, {10, 0, -10, 0}), Bitmap(2000, 100));
    dialog.Update();
    EXPECT_EQ(std::string(dialog.Result().CStr()), "Success");
    EXPECT_TRUE(environment.Logged("Result = 180 deg, (Current = 180 deg)"));
}

TEST_F(Orientation, WithoutACameraTheCamerasFailureReachesTheHost) {
    dialog.SetImageSource(nullptr);
    try {
        Evaluate(2000, 1000, {180, 180, 180, 180});
        ADD_FAILURE() << "evaluated without a camera: " << dialog.Result().CStr();
    } catch (const Tamo::Exception& exception) {
        EXPECT_EQ(std::string(scanner.HandleError(exception).CStr()),
                  "Accessing camera failed. Check that the camera is compatible, powered on and properly "
                  "connected.");
        EXPECT_TRUE(scanner.CameraFault()) << "marked for recovery at the next start";
    }
    EXPECT_EQ(std::string(dialog.Result().CStr()), "Undefined");
}
