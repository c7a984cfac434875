// The setup assistants end to end: the host drives them through features while the station plays
// the part, the lens, the trigger input and the encoder (the orientation assistant on every mounting
// is the continuous-acquisition tests' part).
#include "ChannelTest.h"

namespace zeb::test {

class Assistant : public ChannelTest {
protected:
    // Switches to averaged images and starts the named assistant.
    static void Begin(host::HostChannel& channel, const std::string& assistant) {
        ASSERT_TRUE(Write(channel, {{"SetupMode", "On"}, {"DialogSelector", assistant}}));
        ASSERT_TRUE(channel.Execute("DialogStart")) << channel.Error();
    }
    std::string Arguments(host::HostChannel& channel) {
        return Read(channel, "DialogResultMessageArguments");
    }
};

TEST_F(Assistant, BrightnessFollowsExposureWarnsWhenOverexposedAndEndsOnSuccess) {
    host::HostChannel channel = Ready(AreaStation());
    Begin(channel, "Brightness detection");
    EXPECT_EQ(Read(channel, "DialogInstruction"),
              "Place a representative part in the field of view of the camera.");
    // Stacked images are not measured.
    ASSERT_TRUE(Write(channel, {{"SetupMode", "Off"}}));
    ASSERT_TRUE(Acquires(channel));
    EXPECT_EQ(Values(channel, {"DialogResult", "DialogAcquisitionRequest"}), (Strings{"Undefined", "True"}));
    ASSERT_TRUE(Write(channel, {{"SetupMode", "On"}}));
    EXPECT_EQ(Evaluate(channel), "Success") << Arguments(channel);
    EXPECT_EQ(Read(channel, "DialogResultMessage"), "The mean of the intensity image is {0}, {1}% of the "
                                                    "pixels are underexposed and {2}% are overexposed.");
    const double shortMean = std::stod(Arguments(channel));
    ASSERT_TRUE(Write(channel, {{"ExposureTime", "80"}}));
    ASSERT_TRUE(Acquires(channel));
    Read(channel, "DialogResult");
    EXPECT_GT(std::stod(Arguments(channel)), shortMean * 1.3);
    ASSERT_TRUE(Write(channel, {{"ExposureTime", "400"}}));
    ASSERT_TRUE(Acquires(channel));
    EXPECT_EQ(Read(channel, "DialogResult"), "Warning");
    ASSERT_TRUE(channel.Execute("DialogNext"));
    EXPECT_TRUE(environment.Logged("Result was not on success, next step not possible."));
    EXPECT_EQ(Read(channel, "DialogStatus"), "True");
    // A success again; "Next" then ends the assistant and restores the controller's factory set.
    ASSERT_TRUE(Write(channel, {{"ExposureTime", "50"}}));
    ASSERT_TRUE(Acquires(channel));
    ASSERT_EQ(Read(channel, "DialogResult"), "Success");
    ClearTrace();
    ASSERT_TRUE(channel.Execute("DialogNext"));
    EXPECT_EQ(Read(channel, "DialogStatus"), "False");
    EXPECT_THAT(Trace("controller:0"), Contains("factory"));
}

TEST_F(Assistant, FocusPeaksWhereTheLensIsSharpAndIsOnlyRoundingOnAUniformSurface) {
    Json station = WiredChannels(4);
    const double defocus[] = {3, 0, 1.4};
    for (int id = 0; id < 3; ++id) {
        SizeCamera(station["cameras"][id], 160, 120);
        station["cameras"][id]["scene"] = {{"defocus", defocus[id]}};
    }
    station["cameras"][3]["scene"] = {{"object", "grey"}};
    Load(station);
    int values[4];
    for (int id = 0; id < 4; ++id) {
        SCOPED_TRACE(id);
        host::HostChannel channel = Select(id, CameraOf(id));
        Begin(channel, "Focus detection");
        EXPECT_EQ(Values(channel, {"DialogResult", "DialogAcquisitionRequest"}),
                  (Strings{"Success", "False"}))
            << "step 0 needs no image";
        ASSERT_TRUE(channel.Execute("DialogNext"));
        EXPECT_EQ(Read(channel, "DialogInstruction"),
                  "Change the focus of the lens until the focus value is maximum.");
        ASSERT_EQ(Evaluate(channel), "Success");
        const std::string arguments = Arguments(channel);
        values[id] = std::stoi(arguments);
        EXPECT_EQ(arguments, std::to_string(values[id]) + ";" + std::to_string(values[id]));
        if (id < 3) {
            ASSERT_TRUE(Acquires(channel));
            EXPECT_EQ(Values(channel, {"DialogResult", "DialogResultMessageArguments"}),
                      (Strings{"Success", arguments}))
                << "the same image again";
        }
    }
    EXPECT_GT(values[1], values[2]);
    EXPECT_GT(values[2], values[0]);
    // No detail: the averaged image steps by one grey level at most as the dome's light drifts.
    EXPECT_LE(values[3], 50);
}

TEST_F(Assistant, FrameTriggerInputPulsingAndUnwired) {
    Json station = AreaStation();
    station["controllers"].push_back(AreaController(1));
    station["controllers"][1].erase("triggerInput");
    Load(station);
    for (int id = 0; id < 2; ++id) {
        host::HostChannel channel = Channel(id);
        ASSERT_TRUE(Write(channel, {{"DialogSelector", "Frame trigger input detection"}}));
        ASSERT_TRUE(channel.Execute("DialogStart"));
        EXPECT_EQ(
            Values(channel, {"DialogResult", "DialogResultMessage", "DialogInstruction"}),
            (Strings{"Success", "Initialization done.",
                     "Toggle the input trigger multiple times. The dome light will indicate the current "
                     "state. To proceed press \"Next\"."}));
        std::this_thread::sleep_for(std::chrono::milliseconds(60)); // the station's input pulses every 20 ms
        ASSERT_TRUE(channel.Execute("DialogNext"));
        if (id == 0) {
            EXPECT_EQ(Values(channel, {"DialogResult", "DialogResultMessage"}),
                      (Strings{"Success", "The trigger input could be detected. The dome light did show the "
                                          "polarity."}));
            ASSERT_TRUE(channel.Execute("DialogNext"));
            EXPECT_EQ(Read(channel, "DialogStatus"), "False");
        } else {
            EXPECT_EQ(Values(channel, {"DialogResult", "DialogResultMessage", "DialogInstruction"}),
                      (Strings{"Error", "The trigger input could not be detected.",
                               "Check the wiring and start the dialog again."}));
        }
    }
}

TEST_F(Assistant, EncoderCheckJudgesTheMovementSinceTheReset) {
    const struct {
        Json encoder;
        const char *result, *arguments;
    } cases[] = {{{{"speed", -100.0}, {"travel", -1.0}}, "Success", "-360.0"},
                 {{{"speed", 100.0}, {"travel", 6.0 / 3600}}, "Success", "0.6"},
                 {{{"speed", 100.0}, {"travel", 5.0 / 3600}}, "Error", ""},
                 {{{"speed", 0.0}}, "Error", ""},
                 {{{"connected", false}}, "Error", "No encoder connected."}};
    Json station = {{"controllers", Json::array()}};
    for (int id = 0; id < 5; ++id) {
        station["controllers"].push_back(LineController(id));
        station["controllers"][id]["encoder"] = cases[id].encoder;
    }
    Load(station);
    for (int id = 0; id < 5; ++id) {
        SCOPED_TRACE(cases[id].encoder.dump());
        host::HostChannel channel = Channel(id);
        ASSERT_TRUE(Write(channel, {{"DialogSelector", "Encoder movement detection"}}));
        ClearTrace();
        ASSERT_TRUE(channel.Execute("DialogStart"));
        if (id == 4) {
            EXPECT_EQ(Values(channel, {"DialogResult", "DialogResultMessage"}),
                      (Strings{cases[id].result, cases[id].arguments}));
            EXPECT_THAT(Trace("controller:4"), Not(Contains(StartsWith("set\t"))))
                << "nothing set without an encoder";
            continue;
        }
        EXPECT_EQ(Read(channel, "DialogResult"), "Success");
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_TRUE(channel.Execute("DialogNext"));
        EXPECT_EQ(Values(channel, {"DialogResult", "DialogResultMessageArguments"}),
                  (Strings{cases[id].result, cases[id].arguments}));
    }
}

} // namespace zeb::test
