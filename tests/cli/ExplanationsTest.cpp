// What zeb adds to what the plug-in says, computed in-process: why a line-scan frame ends in
// "camera overtriggered" and what fixes it, the choices of an enumeration with a guess, the fix a
// brightness warning implies, and names made safe for a terminal.
#include "base/Text.h"
#include "runs/AssistantFix.h"
#include "session/FeatureReport.h"
#include "session/FrameTiming.h"

#include <gmock/gmock.h>

namespace zeb::cli {
namespace {

using ::testing::HasSubstr;

LineScanTiming Timing(int64_t height, double rate, bool clocked = true) {
    LineScanTiming timing;
    timing.height = height;
    timing.lineRate = rate;
    timing.clocked = clocked;
    return timing;
}

TEST(FrameTiming, ALineScanFrameLongerThanThePluginsWaitIsExplained) {
    const LineScanTiming tall = Timing(2048, 10000);
    EXPECT_NEAR(tall.FrameMs(), 819.2, 1e-9);
    EXPECT_TRUE(tall.TooLong());
    EXPECT_EQ(tall.LargestHeight(), 1125);     // 4 x 1125 lines in 450 ms, 90 % of the wait
    EXPECT_EQ(tall.SmallestLineRate(), 18205); // 8192 lines in at most 450 ms
    EXPECT_EQ(
        tall.Explanation(),
        "a line-scan frame of 4 x 2048 = 8192 lines takes 819 ms at \"AcquisitionLineRate\" 10000 lines/s, "
        "longer than the 500 ms the plug-in waits for it: set \"Height\" to at most 1125 or "
        "\"AcquisitionLineRate\" to at least 18205");
    // What it suggests fits, with room to spare.
    EXPECT_FALSE(Timing(tall.LargestHeight(), 10000).TooLong());
    EXPECT_FALSE(Timing(2048, static_cast<double>(tall.SmallestLineRate())).TooLong());
    EXPECT_LE(Timing(2048, static_cast<double>(tall.SmallestLineRate())).FrameMs(), 450.0);

    // The boundary: exactly the wait is not longer than it.
    EXPECT_FALSE(Timing(1250, 10000).TooLong());
    EXPECT_EQ(Timing(1250, 10000).Explanation(), "");
    EXPECT_TRUE(Timing(1251, 10000).TooLong());
    // Lines from the encoder: the line rate says nothing of the frame's time.
    EXPECT_FALSE(Timing(2048, 10000, false).TooLong());
    EXPECT_EQ(Timing(2048, 10000, false).TallestImage(), "");
    EXPECT_EQ(tall.TallestImage(),
              "\"Height\" at most 1125 at \"AcquisitionLineRate\" 10000 lines/s, so that a "
              "frame stays within the plug-in's 500 ms wait; raise \"AcquisitionLineRate\" "
              "to go taller");
}

TEST(FeatureChoices, AValueAnEnumerationDoesNotOfferGetsItsChoicesAndAGuess) {
    const std::vector<std::string> orientations = {"0 deg", "90 deg", "180 deg", "270 deg"};
    EXPECT_EQ(ChoicesHint("90", orientations),
              "the choices are \"0 deg\", \"90 deg\", \"180 deg\", \"270 deg\"; did you mean \"90 deg\"?");
    EXPECT_EQ(ChoicesHint("0", orientations),
              "the choices are \"0 deg\", \"90 deg\", \"180 deg\", \"270 deg\"; did you mean \"0 deg\"?");
    EXPECT_EQ(ChoicesHint("90 deg", orientations), "");
    EXPECT_THAT(ChoicesHint("of", {"Off", "On"}), HasSubstr("the choices are \"Off\", \"On\"; did you mean"));
    EXPECT_EQ(ChoicesHint("45", orientations),
              "the choices are \"0 deg\", \"90 deg\", \"180 deg\", \"270 deg\"");
    EXPECT_EQ(ChoicesHint("anything", {}), "") << "not an enumeration";
}

AssistantState Brightness(const std::string& arguments, const std::string& exposure, const std::string& gain,
                          const std::string& result = "Warning") {
    AssistantState state;
    state.result = result;
    state.arguments = SplitArguments(arguments);
    state.exposureTime = exposure;
    state.gain = gain;
    return state;
}

TEST(AssistantFixes, ABrightnessWarningSuggestsAnExposureOrAGain) {
    const std::string name = "Brightness detection";
    // Clipped: shorter, toward the middle grey, at least by a quarter.
    auto fix = ImpliedFix(name, Brightness("200.00;0.0000;2.5000", "20000", "0"));
    ASSERT_TRUE(fix);
    EXPECT_EQ(fix->name, "ExposureTime");
    EXPECT_EQ(fix->value, "12800");
    EXPECT_EQ(fix->why, "2.5000 % of the pixels are overexposed");
    fix = ImpliedFix(name, Brightness("120.00;0.0000;0.5000", "20000", "0"));
    ASSERT_TRUE(fix);
    EXPECT_EQ(fix->value, "15000");
    // Dark: longer.
    fix = ImpliedFix(name, Brightness("32.00;5.0000;0.0000", "10000", "0"));
    ASSERT_TRUE(fix);
    EXPECT_EQ(fix->name, "ExposureTime");
    EXPECT_EQ(fix->value, "40000");
    EXPECT_EQ(fix->why, "5.0000 % of the pixels are underexposed");
    // Beyond the longest exposure: the longest first, then gain.
    fix = ImpliedFix(name, Brightness("32.00;5.0000;0.0000", "40000", "0"));
    ASSERT_TRUE(fix);
    EXPECT_EQ(fix->name, "ExposureTime");
    EXPECT_EQ(fix->value, "65000");
    fix = ImpliedFix(name, Brightness("32.00;5.0000;0.0000", "65000", "2"));
    ASSERT_TRUE(fix);
    EXPECT_EQ(fix->name, "Gain");
    EXPECT_EQ(fix->value, "14.0"); // 2 dB + 20 log10(4)
    // No one exposure helps both, and success needs nothing.
    EXPECT_FALSE(ImpliedFix(name, Brightness("128.00;1.0000;1.0000", "20000", "0")));
    EXPECT_FALSE(ImpliedFix(name, Brightness("128.00;0.0000;0.0500", "20000", "0", "Success")));
    EXPECT_FALSE(ImpliedFix(name, Brightness("128.00;0.0000;2.0000", "", "0"))) << "no exposure read";
    EXPECT_FALSE(ImpliedFix(name, Brightness("nonsense", "20000", "0")));

    AssistantState orientation;
    orientation.result = "Warning";
    orientation.arguments = {"0 deg", "90 deg", "High", "reason"};
    fix = ImpliedFix("Orientation detection", orientation);
    ASSERT_TRUE(fix);
    EXPECT_EQ(fix->name, "LightingOrientation");
    EXPECT_EQ(fix->value, "90 deg");
    EXPECT_EQ(fix->why, "the dome is mounted at 90 deg");
}

TEST(PrintableText, ControlBytesAreWrittenAsEscapes) {
    EXPECT_EQ(Printable("Cam \x1b[2J\nzeb view: serving"), "Cam \\x1b[2J\\x0azeb view: serving");
    EXPECT_EQ(Printable(std::string("a\0b\x7f\t", 5)), "a\\x00b\\x7f\\x09");
    EXPECT_EQ(Printable("Kamera \xc3\xa4"), "Kamera \xc3\xa4") << "UTF-8 stays";
}

} // namespace
} // namespace zeb::cli
