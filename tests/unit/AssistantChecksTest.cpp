// What the assistants need before they evaluate: the lighting controller in every step, and the
// camera whose failure, not a misleading result, reaches the host.
#include "Controller.h"
#include "Dialog.h"
#include "Scanner.h"
#include "Stations.h"
#include "Tamo.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace Zeb = Tamo::Morvane::Zeb;
using Dervo::Imaging::Bitmap;

TEST(AssistantChecks, EveryStepThatUsesTheControllerRefusesToRunWithoutOne) {
    for (const char* assistant : {"Brightness detection", "Orientation detection",
                                  "Frame trigger input detection", "Encoder movement detection"}) {
        SCOPED_TRACE(assistant);
        Zeb::Dialog dialog;
        dialog.Start(assistant);
        dialog.SetBitmaps(Bitmap(8, 32), Bitmap(8, 8)); // an image set waiting to be evaluated
        try {
            dialog.Update();
            ADD_FAILURE() << "ran without a controller";
        } catch (const Tamo::Exception& exception) {
            EXPECT_EQ(std::string(exception.Error().CStr()),
                      "No lighting controller is assigned to the assistant.");
            EXPECT_EQ(std::string(exception.Function().CStr()), "Tamo::Morvane::Zeb::Dialog::Update");
        }
        EXPECT_TRUE(dialog.Status()) << "the assistant keeps its state";
        EXPECT_EQ(std::string(dialog.Result().CStr()), "Undefined");
    }
}

TEST(AssistantChecks, FocusNeedsNoController) {
    Zeb::Dialog dialog;
    dialog.Start("Focus detection");
    dialog.Update();
    EXPECT_EQ(std::string(dialog.Result().CStr()), "Success");
}

TEST(AssistantChecks, OrientationWithoutACameraReportsTheCamerasFailure) {
    zeb::test::TestEnvironment environment;
    environment.UseStation(zeb::test::AreaStation().dump());
    Tamo::Acquisition::Main::Instance().Load("Tamo.Acquisition.Pleora");
    Zeb::Scanner scanner;
    Tamo::String ignored;
    scanner.ReadValue("LightingOrientation", ignored); // initialises the channel
    Zeb::Controller controller;
    controller.Bind(0);
    controller.Open();
    Zeb::Dialog dialog;
    dialog.SetController(&controller);
    dialog.SetScanner(&scanner);
    dialog.Start("Orientation detection");
    dialog.Update();
    Bitmap stack(64, 4 * 48);
    for (int32_t y = 0; y < stack.Height(); ++y)
        std::fill(stack.UInt8RowPtr(y), stack.UInt8RowPtr(y) + stack.Width(), uint8_t{180});
    dialog.SetBitmaps(stack, Bitmap(64, 48));
    try {
        dialog.Update();
        ADD_FAILURE() << "evaluated without a camera: " << dialog.Result().CStr() << ", "
                      << dialog.ResultMessage().CStr();
    } catch (const Tamo::Exception& exception) {
        EXPECT_EQ(std::string(scanner.HandleError(exception).CStr()),
                  "Accessing camera failed. Check that the camera is compatible, powered on and properly "
                  "connected.");
        EXPECT_TRUE(scanner.CameraFault()) << "marked for recovery at the next start";
    }
    EXPECT_EQ(std::string(dialog.Result().CStr()), "Undefined");
}
