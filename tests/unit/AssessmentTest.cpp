// The brightness and focus assessments on images built here.
#include "Controller.h"
#include "Dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace Zeb = Tamo::Morvane::Zeb;
using Dervo::Imaging::Bitmap;

namespace {

// A running assistant with the given images handed over, evaluated once by Update.
class Assessment : public ::testing::Test {
protected:
    void Run(const std::string& assistant, const Bitmap& directions, const Bitmap& intensity,
             const std::string& scanType = "Areascan") {
        controller._deviceScanType = scanType.c_str();
        dialog.SetController(&controller);
        if (!dialog.Status() || assistant != current) {
            dialog.Start(assistant.c_str());
            current = assistant;
            dialog.Update();
            if (assistant == "Focus detection") {
                dialog.Next(); // step 0 reports "Success" without an image
                dialog.Update();
            }
        }
        dialog.SetBitmaps(directions, intensity);
        dialog.Update();
    }
    static Bitmap Filled(int32_t width, int32_t height, uint8_t value) {
        Bitmap image(width, height);
        for (int32_t y = 0; y < height; ++y)
            std::fill(image.UInt8RowPtr(y), image.UInt8RowPtr(y) + width, value);
        return image;
    }
    std::string Arguments() const { return dialog.ResultMessageArguments().CStr(); }

    Zeb::Controller controller;
    Zeb::Dialog dialog;
    std::string current;
};

} // namespace

TEST_F(Assessment, UnderexposureNeedsAllFourDirectionsDark) {
    Bitmap stack = Filled(100, 400, 100);
    // Nine positions dark in all four frames (under), one position with a 10 in the last frame (not under).
    for (int32_t i = 0; i < 9; ++i)
        for (int32_t k = 0; k < 4; ++k)
            stack.UInt8RowPtr(k * 100 + i)[0] = 9;
    for (int32_t k = 0; k < 4; ++k)
        stack.UInt8RowPtr(k * 100 + 50)[50] = k == 3 ? 10 : 9;
    Run("Brightness detection", stack, Filled(100, 100, 127));
    EXPECT_EQ(dialog.Result(), "Success");
    EXPECT_EQ(Arguments(), "127.00;0.0900;0.0000");
    stack.UInt8RowPtr(3 * 100 + 50)[50] = 9; // ten under-exposed positions: 0.1 in single precision
    Run("Brightness detection", stack, Filled(100, 100, 127));
    EXPECT_EQ(dialog.Result(), "Warning");
    EXPECT_EQ(Arguments(), "127.00;0.1000;0.0000");
}

TEST_F(Assessment, OneSaturatedDirectionIsOverexposed) {
    Bitmap stack = Filled(100, 400, 5);
    for (int32_t i = 0; i < 10; ++i)
        stack.UInt8RowPtr(200 + i)[7] = 255;
    Run("Brightness detection", stack, Filled(100, 100, 64));
    EXPECT_EQ(dialog.Result(), "Warning");
    EXPECT_EQ(Arguments(), "64.00;99.9000;0.1000");
}

TEST_F(Assessment, MeanWithTwoDecimals) {
    Bitmap intensity = Filled(1000, 1, 127);
    for (int32_t x = 0; x < 456; ++x)
        intensity.UInt8RowPtr(0)[x] = 128; // mean 127.456
    Run("Brightness detection", Filled(1000, 4, 127), intensity);
    EXPECT_EQ(Arguments(), "127.46;0.0000;0.0000");
    EXPECT_EQ(dialog.Result(), "Success");
    EXPECT_TRUE(dialog.AcquisitionRequest()) << "the assistant keeps asking for images";
}

TEST_F(Assessment, LineScanGroupsFourConsecutiveRows) {
    Bitmap stack = Filled(2048, 1002, 100);
    for (int32_t k = 0; k < 4; ++k)
        stack.UInt8RowPtr(k)[0] = 3;  // group 0, column 0: dark in every direction
    stack.UInt8RowPtr(1000)[1] = 255; // beyond the last group: ignored
    Run("Brightness detection", stack, Filled(2048, 250, 100), "Linescan");
    // 1 of 2048 x 250 positions under-exposed, none over-exposed.
    EXPECT_EQ(Arguments(), "100.00;0.0002;0.0000");
}

TEST_F(Assessment, FocusOfAUniformImageAndTheRunningMaximum) {
    Run("Focus detection", Filled(100, 60, 0), Filled(100, 60, 90));
    EXPECT_EQ(dialog.Result(), "Success");
    EXPECT_EQ(Arguments(), "0;0");
    EXPECT_EQ(dialog.ResultMessage(), "The focus value is {0}. The maximum focus value was {1}.");
    // Vertical stripes: the 3 x 3 gradient is the stripe contrast at every pixel of the crop.
    auto stripes = [](uint8_t contrast) {
        Bitmap image(100, 60);
        for (int32_t y = 0; y < 60; ++y)
            for (int32_t x = 0; x < 100; ++x)
                image.UInt8RowPtr(y)[x] = static_cast<uint8_t>(x % 2 ? contrast : 0);
        return image;
    };
    // Focus value = round(contrast x 50): 0.8, 1.1, 1.0 give 40, 55, 50 only as whole contrasts; use 1, 2, 1.
    Run("Focus detection", Filled(100, 60, 0), stripes(1));
    EXPECT_EQ(Arguments(), "50;50");
    Run("Focus detection", Filled(100, 60, 0), stripes(2));
    EXPECT_EQ(Arguments(), "100;100");
    Run("Focus detection", Filled(100, 60, 0), stripes(1));
    EXPECT_EQ(Arguments(), "50;100");
}

TEST_F(Assessment, FocusRoundsHalvesAwayFromZero) {
    // The 100 x 60 image is cropped to its central 50 x 30 (borders 15 and 25). A horizontal segment
    // of L ones inside the crop gives a 3 x (L + 2) block of gradient ones; segments 4 rows apart
    // do not touch. Five segments of 46 and one of `last` give a gradient mean of (240 + last + 2) x 3 /
    // 1500.
    auto segments = [](int32_t last) {
        Bitmap image(100, 60);
        const int32_t rows[] = {1, 5, 9, 13, 17, 21};
        for (int32_t i = 0; i < 6; ++i) {
            const int32_t length = i < 5 ? 46 : last;
            for (int32_t x = 1; x <= length; ++x)
                image.UInt8RowPtr(15 + rows[i])[25 + x] = 1;
        }
        return image;
    };
    Run("Focus detection", Filled(100, 60, 0), segments(3)); // mean 0.49: 24.5 rounds to 25
    EXPECT_EQ(Arguments(), "25;25");
    Run("Focus detection", Filled(100, 60, 0), segments(13)); // mean 0.51: 25.5 rounds to 26
    EXPECT_EQ(Arguments(), "26;26");
}

TEST(Bitmap, GradientAndStatistics) {
    Bitmap image(5, 5);
    image.UInt8RowPtr(2)[2] = 90;
    Bitmap gradient;
    Bitmap::MorphologicalGradient(image, gradient, 1, 3, 3, -1, -1, -1, -1, 1);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(gradient.UInt8RowPtr(y)[x], (std::abs(x - 2) <= 1 && std::abs(y - 2) <= 1) ? 90 : 0);
    double mean = 0, deviation = 0;
    image.GetMeanStdDev(mean, deviation);
    EXPECT_DOUBLE_EQ(mean, 90.0 / 25);
    unsigned char outside[6] = {1, 2, 3, 4, 5, 6};
    const Bitmap view(3, 2, Bitmap::TypeUInt8, outside);
    const Bitmap copy(view);
    outside[0] = 99;
    EXPECT_EQ(copy.UInt8RowPtr(0)[0], 1) << "a copy owns its pixels";
    EXPECT_EQ(view.UInt8RowPtr(1)[2], 6);
}
