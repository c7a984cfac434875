// The Scanner's mapping of failures to the texts a person reads, and the fault flags.
#include "Scanner.h"

#include <gtest/gtest.h>

namespace Zeb = Tamo::Morvane::Zeb;

namespace {
struct Row {
    const char* source;
    const char* error;
    const char* result;
    bool controllerFault;
    bool cameraFault;
};

const Row Rows[] = {
    {"Dervo::Morvane::Controller::SetRegisterValue", "gone",
     "Accessing controller failed. Check that the controller is powered on and properly connected.", true,
     false},
    {"Tamo::Acquisition::ImageSource::Open", "gone",
     "Accessing camera failed. Check that the camera is compatible, powered on and properly connected.",
     false, true},
    {"Tamo::Acquisition::ImageSource::SetFeature", "Feature Gain refused the value.",
     "Feature Gain refused the value.", false, true},
    {"Dervo::Morvane::Processor::Run", "x", "Error processing image.", false, false},
    {"Tamo::Acquisition::ImageSource::GetFrame", "bufferResult failed. (frame 3)",
     "Image was not transfered correctly. (frame 3)", false, true},
    {"Tamo::Acquisition::ImageSource::GetFrame", "bufferResult failed.",
     "Image was not transfered correctly.", false, true},
    {"Tamo::Acquisition::ImageSource::Start", "Fg_AcquireEx failed",
     "Memory could not be allocated. (Image size to large)", false, true},
    {"Tamo::Morvane::Zeb::WriteValue", "Trigger lines not connected. Please check controller cabling.",
     "Trigger lines not connected. Please check controller cabling.", false, false},
    {"Tamo::Morvane::Zeb::GetFeatureName", "", "", false, false},
};
} // namespace

TEST(ErrorMapping, EveryRowOfTheTable) {
    for (const Row& row : Rows) {
        SCOPED_TRACE(row.source + std::string(" / ") + row.error);
        Zeb::Scanner scanner;
        EXPECT_EQ(scanner.HandleError(Tamo::Exception(row.error, row.source)), row.result);
        EXPECT_EQ(scanner.ControllerFault(), row.controllerFault);
        EXPECT_EQ(scanner.CameraFault(), row.cameraFault);
    }
}

TEST(ErrorMapping, OrientationFlip) {
    EXPECT_EQ(Zeb::Scanner::FlipLightingOrientation("0 deg"), "180 deg");
    EXPECT_EQ(Zeb::Scanner::FlipLightingOrientation("90 deg"), "270 deg");
    EXPECT_EQ(Zeb::Scanner::FlipLightingOrientation("180 deg"), "0 deg");
    EXPECT_EQ(Zeb::Scanner::FlipLightingOrientation("270 deg"), "90 deg");
    EXPECT_EQ(Zeb::Scanner::FlipLightingOrientation("45 deg"), "");
}

TEST(Alignment, IntegerTruncatesTowardZeroFloatFloors) {
    Zeb::Scanner scanner;
    int32_t value = -6;
    scanner.AlignInteger("X", value, 8, 4000, 4);
    EXPECT_EQ(value, 8);
    value = 1001;
    scanner.AlignInteger("X", value, 8, 4000, 4);
    EXPECT_EQ(value, 1000);
    value = 50;
    scanner.AlignInteger("X", value, 100, 20, 1);
    EXPECT_EQ(value, 20) << "the maximum is applied last";
    float real = -1.0f;
    scanner.AlignFloat("Y", real, -10.0f, 10.0f, 2.5f);
    EXPECT_EQ(real, -2.5f);
    real = 5.0f;
    scanner.AlignFloat("Y", real, 10.0f, 1000000.0f, 0.0f);
    EXPECT_EQ(real, 10.0f);
}
