// What the assistants need before they evaluate: the lighting controller in every step.
#include "Controller.h"
#include "Dialog.h"
#include "Tamo.h"

#include <gtest/gtest.h>

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
