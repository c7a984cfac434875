// The lighting controller against the station: open, programming and cabling detection, checked
// through the device trace and the log.
#include "../host/Lines.h"
#include "DeviceTest.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace Zeb = Tamo::Morvane::Zeb;
using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::Not;
using ::testing::StartsWith;
using zeb::test::Json;
using zeb::test::Strings;

namespace {

class ControllerTest : public zeb::test::DeviceTest {
protected:
    // Writes the station, starts the log and opens controller 0.
    void Open(const Json& station) {
        UseStation(station);
        OpenController();
    }
    Strings Writes() const {
        Strings writes;
        for (const std::string& line : environment.TraceLines())
            if (line.starts_with("controller:0\tset\t"))
                writes.push_back(line.substr(17));
        return writes;
    }
    void ClearTrace() const { zeb::test::TestEnvironment::WriteFile(environment.TraceFile(), ""); }
};

} // namespace

TEST_F(ControllerTest, AccessorsBeforeCablingDetection) {
    Zeb::Controller fresh;
    EXPECT_EQ(fresh.Trigger(), "");
    EXPECT_EQ(fresh.TriggerPort(), nullptr);
    EXPECT_EQ(fresh.LineTriggerPort(), nullptr);
    EXPECT_FALSE(fresh.Areascan());
    EXPECT_FALSE(fresh.Linescan());
    EXPECT_EQ(fresh._lightingModel, "Unknown");
    EXPECT_EQ(fresh._sequenceRepeatCount, 10000);
    fresh._deviceScanType = "Multilinescan";
    EXPECT_FALSE(fresh.Areascan() || fresh.Linescan());
    EXPECT_TRUE(fresh.CablingValid());
}

TEST_F(ControllerTest, LightModelFollowsTheLargestCurrent) {
    const struct {
        Json light;
        const char* model;
        bool trainingFailed;
    } cases[] = {{"Dome S", "Dome S", false},
                 {"Dome L", "Dome L", false},
                 {Json::array({2800, 2800, 0, 2800}), "Dome M", true},
                 {Json::array({1050.5, 0, 0, 0}), "Unknown", true},
                 {"None", "None", true}};
    Json station = {{"controllers", Json::array()}};
    for (int id = 0; id < 5; ++id) {
        station["controllers"].push_back(zeb::test::AreaController(id));
        station["controllers"][id]["light"] = cases[id].light;
    }
    UseStation(station);
    for (int id = 0; id < 5; ++id) {
        SCOPED_TRACE(cases[id].model);
        Zeb::Controller opened;
        opened.Bind(id);
        opened.Open();
        EXPECT_EQ(opened._lightingModel, cases[id].model);
        EXPECT_EQ(opened._lightingTrainingFailed, cases[id].trainingFailed);
        EXPECT_TRUE(environment.Logged(std::string("LightingModel = ") + cases[id].model));
        EXPECT_EQ(opened._clockDeadTime, "100");
    }
    EXPECT_TRUE(environment.Logged("DeviceScanType = Areascan"));
    EXPECT_TRUE(environment.Logged("HardwareVersion = 2"));
}

TEST_F(ControllerTest, AreaScanProgramme) {
    Open(zeb::test::AreaStation());
    OpenCamera("Cam A");
    const auto started = std::chrono::steady_clock::now();
    controller.DetectCabling(camera);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    std::printf(
        "[ figures  ] cabling detection of a wired area-scan station: %lld ms\n",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
    ASSERT_TRUE(controller.CablingValid());
    EXPECT_EQ(controller.Trigger(), "Line0");
    EXPECT_EQ(controller.TriggerReady(), "Line1");
    EXPECT_EQ(controller.SequencerClockSource(), "Camera0Input0");
    EXPECT_EQ(controller.LineTrigger(), "") << "no Aux ports in area scan";
    EXPECT_THAT(environment.LogMessages(),
                IsSupersetOf({"Trigger = Line0 ", "SequencerClockSource = Camera0Input0"}));
    controller._lightingSequenceType = "Axial";
    controller._lightingOrientation = "90 deg";
    controller._pulseWidth = "150";
    controller._triggerMode = "On";
    controller._triggerActivation = "FallingEdge";
    ClearTrace();
    controller.Update();
    EXPECT_EQ(Writes(),
              (Strings{"Sequencer.Enabled\t0", "Sequencer.MorvaneMode\tUser", "Sequencer.SequenceLength\t4",
                       "Sequencer.LightSequence\t0A03050C", "Sequencer.ControlSequence\tFFFFFFFF",
                       "Light.GlobalChannelParameters.Brightness\t200", "Sequencer.Orientation\t90\xC2\xB0",
                       "Sequencer.Clock.DeadTime\t100", "CameraIo0.Output0.InvertPolarity\tFalse",
                       "CameraIo0.Input0.InvertPolarity\tFalse", "Sequencer.Clock.Source\tCamera0Input0",
                       "Sequencer.Clock.LevelSensitive\t1", "Sequencer.LightMode\tPulse",
                       "Light.GlobalChannelParameters.PulseWidth\t150", "Sequencer.SequenceRepeatCount\t1",
                       "Sequencer.PassCount\t1", "Sequencer.Trigger.Enabled\t1",
                       "DigitalIo.Input7.InvertPolarity\t1"}));
    EXPECT_TRUE(environment.Logged("LightingBrightness = 200"));
}

TEST_F(ControllerTest, ProgrammeBeforeCablingDetectionAndTheBrightnessTable) {
    Json station = zeb::test::AreaStation();
    station["controllers"][0]["light"] = "Dome L";
    Open(station);
    controller._lightingSequenceType = "Axial";
    controller._lightingOrientation = "45 deg";
    controller._pulseWidth = "150";
    ClearTrace();
    controller.Update();
    const auto writes = Writes();
    // No orientation for 45 deg, and no clock input found yet.
    EXPECT_THAT(writes, IsSupersetOf({"Light.GlobalChannelParameters.Brightness\t110",
                                      "Sequencer.Orientation\t", "Sequencer.Clock.Source\t"}));
    for (const std::string& write : writes) {
        if (!write.starts_with("DigitalIo.Input7")) {
            EXPECT_EQ(write.find("InvertPolarity"), std::string::npos) << "no port assigned: " << write;
        }
    }
    EXPECT_TRUE(environment.Logged("LightingBrightness = 110"));
    controller._lightingModel = "Unknown";
    controller._lightingSequenceType = "Diagonal";
    ClearTrace();
    controller.Update();
    EXPECT_EQ(Writes()[5], "Light.GlobalChannelParameters.Brightness\t100");
}

TEST_F(ControllerTest, LineScanProgrammeWithEncoderAndGenerator) {
    Json station = zeb::test::LineStation();
    station["controllers"][0]["encoderMaximum"] = 12345;
    Open(station);
    // Open finds the encoder's largest resolution by writing the largest number.
    EXPECT_EQ(controller._deviceScanType, "Linescan");
    EXPECT_EQ(controller._encoderResolutionMaximum, 49380);
    EXPECT_TRUE(environment.Logged("EncoderResolutionMaximum = 49380"));
    EXPECT_EQ(controller._clockDeadTime, "5");
    EXPECT_THAT(Writes(), IsSupersetOf({"PositionEncoder.IncrementsPerRevolution\t4294967295"}));
    OpenCamera("Line A");
    controller.DetectCabling(camera);
    ASSERT_TRUE(controller.CablingValid());
    EXPECT_EQ(controller.LineTrigger(), "Line0");
    EXPECT_EQ(controller.FrameTrigger(), "Line1");
    EXPECT_EQ(controller.Trigger(), "Line0") << "the first assigned output";
    controller._lightingSequenceType = "Diagonal";
    controller._lightingOrientation = "270 deg";
    controller._pulseWidth = "10";
    controller._sequenceRepeatCount = 500;
    controller._triggerMode = "Off";
    controller._triggerActivation = "RisingEdge";
    controller._encoderResolution = 10003;
    controller._acquisitionLineRateEnable = false;
    ClearTrace();
    controller.Update();
    EXPECT_EQ(Writes(), (Strings{"Sequencer.Enabled\t0",
                                 "Sequencer.MorvaneMode\tUser",
                                 "Sequencer.SequenceLength\t4",
                                 "Sequencer.LightSequence\t02010408",
                                 "Sequencer.ControlSequence\tFFFFFFFF",
                                 "Light.GlobalChannelParameters.Brightness\t150",
                                 "Sequencer.Orientation\t270\xC2\xB0",
                                 "Sequencer.Clock.DeadTime\t5",
                                 "AuxIo.Output0.InvertPolarity\tFalse",
                                 "AuxIo.Output1.InvertPolarity\tFalse",
                                 "Sequencer.SequenceRepeatCount\t500",
                                 "Light.GlobalChannelParameters.PulseWidth\t10",
                                 "AuxIo.Output0.Delay\t1",
                                 "Sequencer.Clock.Source\tPositionEncoder",
                                 "PositionEncoder.IncrementsPerRevolution\t2500",
                                 "PositionEncoder.PreProcessing.UseQuarterIncrements\t1",
                                 "PositionEncoder.ClockAdjustment.Direction\tBoth",
                                 "AuxIo.Output1.Source\tSequencerEnabled",
                                 "Sequencer.PassCount\t1",
                                 "Sequencer.Trigger.Enabled\t0",
                                 "DigitalIo.Input7.InvertPolarity\t0"}));
    controller._acquisitionLineRateEnable = true;
    controller._acquisitionLineRate = 10000.0f;
    controller._triggerMode = "On";
    ClearTrace();
    controller.Update();
    const auto writes = Writes();
    EXPECT_THAT(writes,
                IsSupersetOf({"FrequencyGenerator.Period\t100000", "AuxIo.Output1.Source\tSequenceTrigger"}));
    EXPECT_THAT(writes, Not(Contains(StartsWith("PositionEncoder")))) << "the generator clocks the sequencer";
}

TEST_F(ControllerTest, InvertedInputAndTwoWiredInputs) {
    Json station = zeb::test::AreaStation();
    station["cables"] = Json::array({zeb::test::Cable(0, "Camera0Output0", "Cam A", "Line0"),
                                     zeb::test::Cable(0, "Camera1Input1", "Cam A", "Line1", true),
                                     zeb::test::Cable(0, "Camera2Input0", "Cam A", "Line3")});
    station["cameras"][0]["lines"] = Json::array({{{"name", "Line0"}, {"mode", "Input"}},
                                                  {{"name", "Line1"}, {"mode", "Output"}},
                                                  {{"name", "Line3"}, {"mode", "Output"}}});
    Open(station);
    OpenCamera("Cam A");
    ClearTrace();
    controller.DetectCabling(camera);
    EXPECT_EQ(controller.TriggerReady(), "Line1") << "the earlier input in the list";
    ASSERT_NE(controller.TriggerReadyPort(), nullptr);
    EXPECT_EQ(controller.TriggerReadyPort()->_portName, "Camera1Input1");
    EXPECT_TRUE(controller.TriggerReadyPort()->_inverted);
    EXPECT_EQ(controller._inputs[4]._cameraLine, "Line3");
    EXPECT_TRUE(environment.Logged("TriggerReady = Line1 (Inverted)"));
    const auto trace = environment.TraceLines();
    EXPECT_EQ(trace.front(), "controller:0\tfactory");
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "controller:0\tfactory"), 2);
}

TEST_F(ControllerTest, HardwareVersionOneAndACameraWithoutOutputs) {
    Json station = zeb::test::AreaStation();
    station["controllers"][0]["registers"]["Info.HardwareVersion"] = "1";
    station["cameras"][0]["lines"] = Json::array({{{"name", "Line0"}, {"mode", "Input"}}});
    station["cables"] = Json::array({zeb::test::Cable(0, "Camera0Output0", "Cam A", "Line0")});
    Open(station);
    OpenCamera("Cam A");
    controller.DetectCabling(camera);
    ASSERT_EQ(controller._outputs.size(), 3u);
    EXPECT_EQ(controller._outputs[2]._portName, "Camera2Output0");
    EXPECT_EQ(controller.Trigger(), "Line0");
    EXPECT_EQ(controller.TriggerReady(), "");
    EXPECT_FALSE(controller.CablingValid());
}

TEST_F(ControllerTest, LineScanWithOnlyTheLineTriggerWired) {
    Json station = zeb::test::LineStation();
    station["cables"] = Json::array({zeb::test::Cable(0, "AuxOutput0", "Line A", "Line0")});
    Open(station);
    OpenCamera("Line A");
    controller.DetectCabling(camera);
    EXPECT_EQ(controller.LineTrigger(), "Line0");
    EXPECT_EQ(controller.FrameTrigger(), "");
    ASSERT_NE(controller.FrameTriggerPort(), nullptr) << "the port exists even when unassigned";
    EXPECT_FALSE(controller.CablingValid());
}

TEST_F(ControllerTest, AFailingOutputPortIsSkippedAndRegistersAreLookedUpInTheList) {
    Json station = zeb::test::AreaStation();
    station["controllers"][0]["registers"]["CameraIo0.Output0.InvertPolarity"] = nullptr;
    station["controllers"][0]["registers"]["Info.DeviceConfig"] = "7";
    station["cables"] = Json::array({zeb::test::Cable(0, "Camera1Output0", "Cam A", "Line0"),
                                     zeb::test::Cable(0, "Camera0Input0", "Cam A", "Line1")});
    Open(station);
    OpenCamera("Cam A");
    controller.DetectCabling(camera);
    EXPECT_EQ(controller._outputs[0]._cameraLine, "");
    EXPECT_EQ(controller._outputs[1]._cameraLine, "Line0");
    EXPECT_TRUE(controller.CablingValid());
    EXPECT_TRUE(controller.RegisterPresent("Info.DeviceConfig"));
    EXPECT_FALSE(controller.RegisterPresent("Info.Nothing"));
}
