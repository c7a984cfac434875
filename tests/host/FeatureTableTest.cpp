// The Scanner's 39 features as a host lists them, for both scan types.
#include "ChannelTest.h"
#include "FeatureNames.h"

#include <set>

namespace zeb::test {

namespace {
const std::vector<std::string> Names(std::begin(FeatureNames), std::end(FeatureNames));
const std::vector<int32_t> Types = {1, 1, 4, 6, 6, 6, 2, 2, 2, 2, 5, 1, 1, 1, 3, 5, 3, 3, 1, 1,
                                    3, 3, 2, 1, 1, 1, 1, 5, 4, 4, 4, 6, 1, 6, 6, 5, 2, 2, 2};
const std::set<std::string> ReadOnly = {
    // What the camera and the controller report.
    "DeviceScanType", "DeviceImageSourceVendor", "DeviceImageSourceModel", "DeviceImageSourceSerial",
    "AcquisitionLineRateMaximum", "AcquisitionLineRateCurrentMaximum",
    // What the running assistant reports.
    "DialogStatus", "DialogInstruction", "DialogResult", "DialogResultMessage",
    "DialogResultMessageArguments"};
const std::set<std::string> Common = {
    "Width",        "Height", "OffsetX", "OffsetY", "AcquisitionMode", "TriggerMode", "TriggerActivation",
    "ExposureTime", "Gain"};

// Channel 0 scans areas with two area cameras and a line camera in the station, channel 1 scans lines,
// and channels 2 to 10 take their scan type from the registers in ScanTypeRegisters.
const std::pair<Json, std::string> ScanTypeRegisters[] = {
    {{{"Info.ScanType", "Linescan"}, {"Info.DeviceMode", "Surface"}}, "Linescan"},
    {{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Surface"}}, "Areascan"},
    {{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Cylinder"}}, "Linescan"},
    {{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Surface"}, {"Info.DeviceConfig", "2"}}, "Areascan"},
    {{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Cylinder"}, {"Info.DeviceConfig", "1"}}, "Areascan"},
    {{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Multiline"}, {"Info.DeviceConfig", "2"}}, "Linescan"},
    {{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Multiline"}}, "Multilinescan"},
    {{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Cylinder"}, {"Info.DeviceConfig", "3"}},
     "Multilinescan"},
    {{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Sphere"}}, ""}};

Json FeatureTableStation() {
    Json station = AreaStation();
    station["cameras"].push_back(AreaCamera("Cam B"));
    station["cameras"].push_back(LineCamera("Line Z"));
    station["controllers"].push_back(LineController(1));
    for (int id = 2; id < 11; ++id) {
        station["controllers"].push_back(AreaController(id));
        station["controllers"][id]["registers"] = ScanTypeRegisters[id - 2].first;
    }
    return station;
}
} // namespace

class FeatureTable : public ChannelTest {};

TEST_F(FeatureTable, AreaScanChannel) {
    Load(FeatureTableStation());
    host::HostChannel channel = Channel();
    ASSERT_EQ(channel.FeatureNames(), Names);
    for (size_t i = 0; i < Names.size(); ++i) {
        SCOPED_TRACE(Names[i]);
        EXPECT_EQ(channel.Type(Names[i]), Types[i]);
        EXPECT_EQ(channel.Attribute(Names[i], 2), "True");
        EXPECT_EQ(channel.Attribute(Names[i], 3), ReadOnly.count(Names[i]) ? "False" : "True");
        EXPECT_EQ(channel.Attribute(Names[i], 4), Common.count(Names[i]) ? "True" : "False");
    }
    EXPECT_EQ(channel.Choices("DeviceImageSource"), (Strings{"None", "Cam A", "Cam B"}));
    EXPECT_EQ(channel.Choices("LightingOrientation"), (Strings{"0 deg", "90 deg", "180 deg", "270 deg"}));
    EXPECT_EQ(channel.Choices("DialogResult"), (Strings{"Undefined", "Success", "Error", "Warning"}));
    EXPECT_EQ(channel.Choices("DialogSelector"),
              (Strings{"Brightness detection", "Focus detection", "Orientation detection",
                       "Frame trigger input detection"}));
    EXPECT_EQ(Refused(channel.Write("DialogSelector", "Encoder movement detection"), channel),
              "Enum value not valid. (Name = DialogSelector, Value = Encoder movement detection)");
    for (const std::string setting :
         {// No camera selected yet.
          "DeviceScanType=Areascan", "DeviceImageSource=None", "DeviceImageSourceVendor=None", "Width=0",
          "ReverseXY=False", "ExposureTime=0",
          // The plug-in's own defaults.
          "AcquisitionMode=SingleFrame", "AcquisitionBurstMode=Off", "AcquisitionLineRate=10000",
          "AcquisitionLineRateEnable=True", "TriggerActivation=RisingEdge", "EncoderResolution=10000",
          "LightingSequenceType=Diagonal", "LightingOrientation=180 deg", "SetupMode=Off",
          "DialogSelector=Brightness detection", "DialogStatus=False", "DialogResult=Undefined",
          "DialogAcquisitionRequest=False", "GevRequestTimeout=5000"}) {
        const size_t equals = setting.find('=');
        EXPECT_EQ(Read(channel, setting.substr(0, equals)), setting.substr(equals + 1)) << setting;
    }
}

TEST_F(FeatureTable, LineScanChannelAndTheScanTypeFromTheRegisters) {
    Load(FeatureTableStation());
    host::HostChannel line = Channel(1);
    EXPECT_EQ(Values(line, {"DeviceScanType", "LightingOrientation"}), (Strings{"Linescan", "270 deg"}));
    EXPECT_EQ(line.Choices("DialogSelector").size(), 5u);
    EXPECT_EQ(line.Choices("DialogSelector").back(), "Encoder movement detection");
    EXPECT_EQ(line.Choices("DeviceImageSource"), (Strings{"None", "Line Z"}));
    for (int id = 2; id < 11; ++id) {
        const auto& [registers, expected] = ScanTypeRegisters[id - 2];
        SCOPED_TRACE(registers.dump());
        host::HostChannel channel = Channel(id);
        const auto value = channel.Read("DeviceScanType");
        if (expected == "Areascan" || expected == "Linescan") {
            EXPECT_EQ(value, expected) << channel.Error();
            continue;
        }
        // "Multilinescan" and an empty scan type fail initialisation on every attempt.
        EXPECT_FALSE(value);
        EXPECT_EQ(channel.Error(), "Enum value not valid. (Name = DeviceScanType, Value = " + expected + ")");
        EXPECT_EQ(Refused(channel.Read("Width"), channel),
                  "Enum value not valid. (Name = DeviceScanType, Value = " + expected + ")");
    }
}

} // namespace zeb::test
