// The setup assistants end to end: the host drives them through features while the station plays
// the part, the lens, the white sheet, the trigger input and the encoder.
#include "HostTest.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace zeb::test {

class Assistant : public HostTest {
protected:
    // Selects the camera and starts averaged acquisition and the named assistant.
    void Begin(host::HostChannel& channel, const std::string& camera, const std::string& assistant) {
        ASSERT_TRUE(channel.Write("DeviceImageSource", camera)) << channel.Error();
        ASSERT_EQ(Read(channel, "DeviceImageSource"), camera);
        ASSERT_TRUE(channel.Write("SetupMode", "On"));
        ASSERT_TRUE(channel.Write("DialogSelector", assistant)) << channel.Error();
        ASSERT_TRUE(channel.Execute("DialogStart"));
        ASSERT_TRUE(channel.Start()) << channel.Error();
    }
    // Delivers images while the assistant asks for them, until its result is no longer "Undefined".
    // One image set per start, so that each image shows the light as the assistant last set it.
    std::string Evaluate(host::HostChannel& channel, int maxImages = 12) {
        std::string result = "Undefined";
        for (int image = 0; image < maxImages && result == "Undefined"; ++image) {
            EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "True");
            if (image > 0) {
                EXPECT_TRUE(channel.Start()) << channel.Error();
            }
            EXPECT_TRUE(channel.NextImage()) << channel.Error();
            result = Read(channel, "DialogResult");
        }
        return result;
    }
    std::string Arguments(host::HostChannel& channel) {
        return Read(channel, "DialogResultMessageArguments");
    }
};

TEST_F(Assistant, BrightnessFollowsExposureAndWarnsWhenOverexposed) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    Begin(channel, "Cam A", "Brightness detection");
    EXPECT_EQ(Read(channel, "DialogInstruction"),
              "Place a representative part in the field of view of the camera.");
    EXPECT_EQ(Evaluate(channel), "Success") << Arguments(channel);
    EXPECT_EQ(Read(channel, "DialogResultMessage"), "The mean of the intensity image is {0}, {1}% of the "
                                                    "pixels are underexposed and {2}% are overexposed.");
    const double shortMean = std::stod(Arguments(channel));
    ASSERT_TRUE(channel.Write("ExposureTime", "80"));
    ASSERT_TRUE(channel.Start());
    ASSERT_TRUE(channel.NextImage());
    Read(channel, "DialogResult");
    EXPECT_GT(std::stod(Arguments(channel)), shortMean * 1.3);
    ASSERT_TRUE(channel.Write("ExposureTime", "400"));
    ASSERT_TRUE(channel.Start());
    ASSERT_TRUE(channel.NextImage());
    EXPECT_EQ(Read(channel, "DialogResult"), "Warning");
    ASSERT_TRUE(channel.Execute("DialogNext"));
    EXPECT_TRUE(environment.Logged("Result was not on success, next step not possible."));
    EXPECT_EQ(Read(channel, "DialogStatus"), "True");
}

TEST_F(Assistant, BrightnessSuccessThenNextEndsAndRestoresTheFactorySet) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    Begin(channel, "Cam A", "Brightness detection");
    ASSERT_EQ(Evaluate(channel), "Success");
    ClearTrace();
    ASSERT_TRUE(channel.Execute("DialogNext"));
    EXPECT_EQ(Read(channel, "DialogStatus"), "False");
    const auto controller = Trace("controller:0");
    EXPECT_NE(std::find(controller.begin(), controller.end(), "factory"), controller.end());
}

TEST_F(Assistant, FocusPeaksWhereTheLensIsSharp) {
    Json station = {{"controllers", Json::array()}, {"cameras", Json::array()}, {"cables", Json::array()}};
    const double defocus[] = {3, 0, 1.4};
    for (int id = 0; id < 3; ++id) {
        const std::string name = "Cam " + std::to_string(id);
        Json camera = AreaCamera(name);
        camera["features"]["SensorWidth"] = camera["features"]["Width"] = "160";
        camera["features"]["SensorHeight"] = camera["features"]["Height"] = "120";
        camera["scene"] = {{"defocus", defocus[id]}};
        station["controllers"].push_back(AreaController(id));
        station["cameras"].push_back(camera);
        for (const Json& cable : AreaCables(id, name))
            station["cables"].push_back(cable);
    }
    Load(station);
    int values[3];
    for (int id = 0; id < 3; ++id) {
        host::HostChannel channel = Channel(id);
        Begin(channel, "Cam " + std::to_string(id), "Focus detection");
        EXPECT_EQ(Read(channel, "DialogResult"), "Success");
        EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "False") << "step 0 needs no image";
        ASSERT_TRUE(channel.Execute("DialogNext"));
        EXPECT_EQ(Read(channel, "DialogInstruction"),
                  "Change the focus of the lens until the focus value is maximum.");
        ASSERT_EQ(Evaluate(channel), "Success");
        const std::string arguments = Arguments(channel);
        values[id] = std::stoi(arguments);
        EXPECT_EQ(arguments, std::to_string(values[id]) + ";" + std::to_string(values[id]));
        ASSERT_TRUE(channel.Start());
        ASSERT_TRUE(channel.NextImage());
        EXPECT_EQ(Read(channel, "DialogResult"), "Success");
        EXPECT_EQ(Arguments(channel), arguments) << "the same image again";
    }
    EXPECT_GT(values[1], values[2]);
    EXPECT_GT(values[2], values[0]);
}

TEST_F(Assistant, FocusOfAUniformSurfaceIsOnlyItsRounding) {
    Json station = AreaStation();
    station["cameras"][0]["scene"] = {{"object", "grey"}};
    Load(station);
    host::HostChannel channel = Channel();
    Begin(channel, "Cam A", "Focus detection");
    ASSERT_TRUE(channel.Execute("DialogNext"));
    EXPECT_EQ(Evaluate(channel), "Success");
    // No detail: the averaged image steps by one grey level at most as the dome's light drifts.
    const std::string arguments = Arguments(channel);
    EXPECT_EQ(arguments, std::to_string(std::stoi(arguments)) + ";" + std::to_string(std::stoi(arguments)));
    EXPECT_LE(std::stoi(arguments), 50);
}

class Orientation : public Assistant, public ::testing::WithParamInterface<const char*> {};

TEST_P(Orientation, DetectsHowTheDomeIsMounted) {
    const char* texts[] = {"0 deg", "90 deg", "180 deg", "270 deg"};
    Json station = {{"controllers", Json::array()}, {"cameras", Json::array()}, {"cables", Json::array()}};
    for (int id = 0; id < 4; ++id) {
        const std::string name = "Cam " + std::to_string(id);
        Json controller = AreaController(id);
        controller["domeRotation"] = 90 * id;
        Json camera = AreaCamera(name);
        camera["features"]["SensorWidth"] = camera["features"]["Width"] = "320";
        camera["features"]["SensorHeight"] = camera["features"]["Height"] = "240";
        camera["scene"] = {{"object", "sheet"}};
        station["controllers"].push_back(controller);
        station["cameras"].push_back(camera);
        for (const Json& cable : AreaCables(id, name))
            station["cables"].push_back(cable);
    }
    Load(station);
    for (int mounted = 0; mounted < 4; ++mounted) {
        host::HostChannel channel = Channel(mounted);
        ASSERT_TRUE(channel.Write("LightingSequenceType", GetParam()));
        for (int set = 0; set < 4; ++set) {
            SCOPED_TRACE(std::string("mounted ") + texts[mounted] + ", set " + texts[set]);
            ASSERT_TRUE(channel.Write("LightingOrientation", texts[set]));
            Begin(channel, "Cam " + std::to_string(mounted), "Orientation detection");
            const std::string result = Evaluate(channel);
            EXPECT_EQ(result, set == mounted ? "Success" : "Warning");
            const std::string arguments = Arguments(channel);
            EXPECT_EQ(arguments.substr(0, arguments.find(';', arguments.find(';') + 1)),
                      std::string(texts[set]) + ";" + texts[mounted]);
            ASSERT_TRUE(channel.Execute("DialogStop"));
            ASSERT_TRUE(channel.Stop());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Assistant, Orientation, ::testing::Values("Diagonal", "Axial"));

TEST_F(Assistant, OrientationRegionOutsideTheSensorCentre) {
    Json station = AreaStation();
    station["cameras"][0]["features"]["SensorWidth"] = "2000";
    station["cameras"][0]["features"]["Width"] = "200";
    station["cameras"][0]["features"]["OffsetX"] = "1700";
    Load(station);
    host::HostChannel channel = Channel();
    Begin(channel, "Cam A", "Orientation detection");
    EXPECT_EQ(Evaluate(channel), "Error");
    EXPECT_EQ(Read(channel, "DialogResultMessage"), "The region of interest is too far away from the middle "
                                                    "of the sensor. Increase the size of the region "
                                                    "of interest and try again.");
}

TEST_F(Assistant, OrientationOfADarkImage) {
    Json station = AreaStation();
    station["controllers"][0]["light"] = "None";
    environment.WriteSettings(
        "[Exceptions]\nLightingDetection=False\n[Log]\nLogEnabled=True\nLogLevel=Dump\nLogPath=" +
        environment.LogFile().string() + "\n");
    Load(station, false);
    host::HostChannel channel = Channel();
    Begin(channel, "Cam A", "Orientation detection");
    EXPECT_EQ(Evaluate(channel), "Error");
    EXPECT_EQ(Read(channel, "DialogResultMessage"),
              "Image Brightness to dark. Adjust aperture or exposure time.");
}

TEST_F(Assistant, FrameTriggerInputPulsingAndUnwired) {
    Json station = AreaStation();
    station["controllers"].push_back(AreaController(1));
    station["controllers"][1].erase("triggerInput");
    Load(station);
    for (int id = 0; id < 2; ++id) {
        host::HostChannel channel = Channel(id);
        ASSERT_TRUE(channel.Write("DialogSelector", "Frame trigger input detection"));
        ASSERT_TRUE(channel.Execute("DialogStart"));
        EXPECT_EQ(Read(channel, "DialogResult"), "Success");
        EXPECT_EQ(Read(channel, "DialogResultMessage"), "Initialization done.");
        EXPECT_EQ(Read(channel, "DialogInstruction"), "Toggle the input trigger multiple times. The dome "
                                                      "light will indicate the current state. To proceed "
                                                      "press \"Next\".");
        std::this_thread::sleep_for(std::chrono::milliseconds(60)); // the station's input pulses every 20 ms
        ASSERT_TRUE(channel.Execute("DialogNext"));
        if (id == 0) {
            EXPECT_EQ(Read(channel, "DialogResult"), "Success");
            EXPECT_EQ(Read(channel, "DialogResultMessage"),
                      "The trigger input could be detected. The dome light did show the polarity.");
            ASSERT_TRUE(channel.Execute("DialogNext"));
            EXPECT_EQ(Read(channel, "DialogStatus"), "False");
        } else {
            EXPECT_EQ(Read(channel, "DialogResult"), "Error");
            EXPECT_EQ(Read(channel, "DialogResultMessage"), "The trigger input could not be detected.");
            EXPECT_EQ(Read(channel, "DialogInstruction"), "Check the wiring and start the dialog again.");
        }
    }
}

class EncoderCheck : public Assistant,
                     public ::testing::WithParamInterface<std::tuple<Json, std::string, std::string>> {};

TEST_P(EncoderCheck, JudgesTheMovementSinceTheReset) {
    const auto& [encoder, result, arguments] = GetParam();
    Json station = LineStation();
    station["controllers"][0]["encoder"] = encoder;
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Write("DialogSelector", "Encoder movement detection"));
    ClearTrace();
    ASSERT_TRUE(channel.Execute("DialogStart"));
    if (result == "No encoder") {
        EXPECT_EQ(Read(channel, "DialogResult"), "Error");
        EXPECT_EQ(Read(channel, "DialogResultMessage"), "No encoder connected.");
        for (const std::string& line : Trace("controller:0"))
            EXPECT_NE(line.rfind("set\t", 0), 0u) << line;
        return;
    }
    EXPECT_EQ(Read(channel, "DialogResult"), "Success");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(channel.Execute("DialogNext"));
    EXPECT_EQ(Read(channel, "DialogResult"), result);
    EXPECT_EQ(Arguments(channel), arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Assistant, EncoderCheck,
    ::testing::Values(std::make_tuple(Json{{"speed", -100.0}, {"travel", -1.0}}, "Success", "-360.0"),
                      std::make_tuple(Json{{"speed", 100.0}, {"travel", 6.0 / 3600}}, "Success", "0.6"),
                      std::make_tuple(Json{{"speed", 100.0}, {"travel", 5.0 / 3600}}, "Error", ""),
                      std::make_tuple(Json{{"speed", 0.0}}, "Error", ""),
                      std::make_tuple(Json{{"connected", false}}, "No encoder", "")));

TEST_F(Assistant, EncoderCheckOnlyOnLineScan) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    EXPECT_FALSE(channel.Write("DialogSelector", "Encoder movement detection"));
    EXPECT_EQ(channel.Error(),
              "Enum value not valid. (Name = DialogSelector, Value = Encoder movement detection)");
}

TEST_F(Assistant, MeasurementWithStackedImagesGetsNothing) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    Begin(channel, "Cam A", "Brightness detection");
    ASSERT_TRUE(channel.Write("SetupMode", "Off"));
    ASSERT_TRUE(channel.Start());
    ASSERT_TRUE(channel.NextImage());
    EXPECT_EQ(Read(channel, "DialogResult"), "Undefined");
    EXPECT_EQ(Read(channel, "DialogAcquisitionRequest"), "True");
}

} // namespace zeb::test
