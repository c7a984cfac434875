// The Scanner's 39 features as a host lists them, for both scan types.
#include "FeatureNames.h"
#include "HostTest.h"

#include <map>
#include <set>

namespace zeb::test {

namespace {
const std::vector<std::string> Names(std::begin(FeatureNames), std::end(FeatureNames));
const std::vector<int32_t> Types = {1, 1, 4, 6, 6, 6, 2, 2, 2, 2, 5, 1, 1, 1, 3, 5, 3, 3, 1, 1,
                                    3, 3, 2, 1, 1, 1, 1, 5, 4, 4, 4, 6, 1, 6, 6, 5, 2, 2, 2};
const std::set<std::string> ReadOnly = {"DeviceScanType",
                                        "DeviceImageSourceVendor",
                                        "DeviceImageSourceModel",
                                        "DeviceImageSourceSerial",
                                        "AcquisitionLineRateMaximum",
                                        "AcquisitionLineRateCurrentMaximum",
                                        "DialogStatus",
                                        "DialogInstruction",
                                        "DialogResult",
                                        "DialogResultMessage",
                                        "DialogResultMessageArguments"};
const std::set<std::string> Common = {
    "Width",        "Height", "OffsetX", "OffsetY", "AcquisitionMode", "TriggerMode", "TriggerActivation",
    "ExposureTime", "Gain"};
} // namespace

class FeatureTable : public HostTest {};

TEST_F(FeatureTable, AreaScanChannel) {
    Json station = AreaStation();
    station["cameras"].push_back(AreaCamera("Cam B"));
    station["cameras"].push_back(LineCamera("Line Z"));
    Load(station);
    host::HostChannel channel = Channel();
    ASSERT_EQ(channel.FeatureNames(), Names);
    for (size_t i = 0; i < Names.size(); ++i) {
        SCOPED_TRACE(Names[i]);
        EXPECT_EQ(channel.Type(Names[i]), Types[i]);
        EXPECT_EQ(channel.Attribute(Names[i], 2), "True");
        EXPECT_EQ(channel.Attribute(Names[i], 3), ReadOnly.count(Names[i]) ? "False" : "True");
        EXPECT_EQ(channel.Attribute(Names[i], 4), Common.count(Names[i]) ? "True" : "False");
    }
    EXPECT_EQ(channel.Choices("DeviceImageSource"), (std::vector<std::string>{"None", "Cam A", "Cam B"}));
    EXPECT_EQ(channel.Choices("LightingOrientation"),
              (std::vector<std::string>{"0 deg", "90 deg", "180 deg", "270 deg"}));
    EXPECT_EQ(channel.Choices("DialogResult"),
              (std::vector<std::string>{"Undefined", "Success", "Error", "Warning"}));
    EXPECT_EQ(channel.Choices("DialogSelector"),
              (std::vector<std::string>{"Brightness detection", "Focus detection", "Orientation detection",
                                        "Frame trigger input detection"}));
    const std::map<std::string, std::string> initial = {{"DeviceScanType", "Areascan"},
                                                        {"DeviceImageSource", "None"},
                                                        {"DeviceImageSourceVendor", "None"},
                                                        {"Width", "0"},
                                                        {"ReverseXY", "False"},
                                                        {"AcquisitionMode", "SingleFrame"},
                                                        {"AcquisitionLineRate", "10000"},
                                                        {"AcquisitionLineRateEnable", "True"},
                                                        {"TriggerActivation", "RisingEdge"},
                                                        {"ExposureTime", "0"},
                                                        {"EncoderResolution", "10000"},
                                                        {"LightingSequenceType", "Diagonal"},
                                                        {"LightingOrientation", "180 deg"},
                                                        {"SetupMode", "Off"},
                                                        {"DialogSelector", "Brightness detection"},
                                                        {"DialogStatus", "False"},
                                                        {"DialogResult", "Undefined"},
                                                        {"DialogAcquisitionRequest", "False"},
                                                        {"GevRequestTimeout", "5000"}};
    for (const auto& [name, value] : initial)
        EXPECT_EQ(Read(channel, name), value) << name;
}

TEST_F(FeatureTable, LineScanChannel) {
    Load(LineStation());
    host::HostChannel channel = Channel();
    EXPECT_EQ(Read(channel, "DeviceScanType"), "Linescan");
    EXPECT_EQ(Read(channel, "LightingOrientation"), "270 deg");
    EXPECT_EQ(channel.Choices("DialogSelector").size(), 5u);
    EXPECT_EQ(channel.Choices("DialogSelector").back(), "Encoder movement detection");
    EXPECT_EQ(channel.Choices("DeviceImageSource"), (std::vector<std::string>{"None", "Line A"}));
}

class ScanTypeFromRegisters : public HostTest,
                              public ::testing::WithParamInterface<std::tuple<Json, std::string>> {};

TEST_P(ScanTypeFromRegisters, ChannelScanType) {
    Json station = AreaStation();
    station["controllers"][0]["registers"] = std::get<0>(GetParam());
    Load(station);
    host::HostChannel channel = Channel();
    const std::string expected = std::get<1>(GetParam());
    const auto value = channel.Read("DeviceScanType");
    if (expected == "Areascan" || expected == "Linescan") {
        EXPECT_EQ(value, expected) << channel.Error();
    } else {
        // "Multilinescan" and an empty scan type fail initialisation on every attempt.
        EXPECT_FALSE(value);
        EXPECT_EQ(channel.Error(), "Enum value not valid. (Name = DeviceScanType, Value = " + expected + ")");
        EXPECT_FALSE(channel.Read("Width"));
        EXPECT_EQ(channel.Error(), "Enum value not valid. (Name = DeviceScanType, Value = " + expected + ")");
    }
}

INSTANTIATE_TEST_SUITE_P(
    FeatureTable, ScanTypeFromRegisters,
    ::testing::Values(
        std::make_tuple(Json{{"Info.ScanType", "Linescan"}, {"Info.DeviceMode", "Surface"}}, "Linescan"),
        std::make_tuple(Json{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Surface"}}, "Areascan"),
        std::make_tuple(Json{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Cylinder"}}, "Linescan"),
        std::make_tuple(
            Json{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Surface"}, {"Info.DeviceConfig", "2"}},
            "Areascan"),
        std::make_tuple(
            Json{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Cylinder"}, {"Info.DeviceConfig", "1"}},
            "Areascan"),
        std::make_tuple(
            Json{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Multiline"}, {"Info.DeviceConfig", "2"}},
            "Linescan"),
        std::make_tuple(Json{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Multiline"}}, "Multilinescan"),
        std::make_tuple(
            Json{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Cylinder"}, {"Info.DeviceConfig", "3"}},
            "Multilinescan"),
        std::make_tuple(Json{{"Info.ScanType", nullptr}, {"Info.DeviceMode", "Sphere"}}, "")));

} // namespace zeb::test
