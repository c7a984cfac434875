// The calling boundary: descriptor groups, host buffers and the error-text convention.
#include "HostTest.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zeb::test {

namespace {
using Buffer = std::array<char, 256>;
Buffer Marked(char marker = '#') {
    Buffer buffer;
    buffer.fill(marker);
    return buffer;
}
bool AllBytes(const Buffer& buffer, char value, size_t from = 0) {
    return std::all_of(buffer.begin() + from, buffer.end(), [&](char byte) { return byte == value; });
}
std::string Text(const Buffer& buffer) {
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}
} // namespace

class HostBoundary : public HostTest {};

TEST_F(HostBoundary, DescriptorGroupsFollowTheHostsSizeAndOnlyExistingChannelsAreFilled) {
    Load(AreaStation());
    auto getVideoChannel = plugin->GetVideoChannel();
    std::array<uint8_t, 800> raw;
    auto fill = [&](int32_t size) {
        raw.fill(0xAB);
        std::memcpy(raw.data(), &size, sizeof size);
        Buffer error = Marked();
        EXPECT_EQ(getVideoChannel(error.data(), 0, reinterpret_cast<qrZEB_ChannelDescriptor*>(raw.data())),
                  0);
        EXPECT_TRUE(AllBytes(error, '#'));
    };
    auto untouchedFrom = [&](size_t from) {
        return std::all_of(raw.begin() + from, raw.end(), [](uint8_t byte) { return byte == 0xAB; });
    };
    fill(639);
    EXPECT_TRUE(untouchedFrom(4));
    fill(640);
    EXPECT_FALSE(untouchedFrom(8));
    EXPECT_TRUE(untouchedFrom(640));
    EXPECT_TRUE(std::all_of(raw.begin() + 4, raw.begin() + 8, [](uint8_t b) { return b == 0xAB; }))
        << "padding";
    fill(688);
    EXPECT_TRUE(untouchedFrom(688));
    fill(800);
    EXPECT_TRUE(untouchedFrom(688));

    qrZEB_ChannelDescriptor descriptor;
    std::memcpy(&descriptor, raw.data(), sizeof descriptor);
    EXPECT_EQ(std::string(descriptor.name), "BRELAN: Morvane (#0)");
    EXPECT_EQ(std::string(descriptor.serialNumber), "MV-1000");
    uint64_t bits[2];
    std::memcpy(&bits[0], &descriptor.fixedDouble1, 8);
    std::memcpy(&bits[1], &descriptor.fixedDouble2, 8);
    EXPECT_EQ(bits[0], 0x3F0A36E2EB1C432Dull);
    EXPECT_EQ(bits[1], 0x3EB0C6F7A0B5ED8Dull);
    EXPECT_EQ((std::vector<int64_t>{descriptor.fixedInt1, descriptor.fixedInt2, descriptor.fixedZero1,
                                    descriptor.fixedZero2, descriptor.fixedZero3}),
              (std::vector<int64_t>{1000, 1000, 0, 0, 0}));
    EXPECT_NE(descriptor.ReleaseVideoChannel, nullptr);
    // A second call fills the same descriptor.
    std::array<uint8_t, 800> first = raw;
    fill(800);
    EXPECT_EQ(std::memcmp(first.data(), raw.data(), 688), 0);
    // An index out of range writes nothing, not even an error text.
    for (int32_t index : {-1, 1, 1000}) {
        std::memset(&descriptor, 0x5A, sizeof descriptor);
        descriptor.size = sizeof descriptor;
        Buffer error = Marked();
        EXPECT_EQ(getVideoChannel(error.data(), index, &descriptor), 1);
        EXPECT_TRUE(AllBytes(error, '#'));
        EXPECT_EQ(descriptor.name[0], 0x5A);
    }
}

TEST_F(HostBoundary, ErrorsCarryTheirTextsAndBadArgumentsFailWithoutCrashing) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    const auto& d = channel.Descriptor();
    Buffer error = Marked(), value = Marked('v');

    EXPECT_EQ(d.ReadValue(error.data(), d.handle, "NoSuchFeature", value.data()), 1);
    EXPECT_EQ(Text(error), "Feature NoSuchFeature does not exist.");
    EXPECT_TRUE(AllBytes(error, 0, Text(error).size())) << "zero-filled to the end";
    EXPECT_TRUE(AllBytes(value, 'v')) << "output buffer untouched on failure";

    EXPECT_EQ(d.ExecuteCommand(error.data(), d.handle, "Width"), 1);
    EXPECT_EQ(Text(error), "Feature Width is not a command.");
    EXPECT_EQ(d.WriteValue(error.data(), d.handle, "DeviceScanType", "Linescan"), 1);
    EXPECT_EQ(Text(error), "Feature DeviceScanType not writable.");
    EXPECT_EQ(d.WriteValue(error.data(), d.handle, "TestPattern", "Maybe"), 1);
    EXPECT_EQ(Text(error), "Enum value not valid. (Name = TestPattern, Value = Maybe)");
    EXPECT_EQ(d.GetFeatureAttr(error.data(), d.handle, "Width", 5, value.data()), 1);
    EXPECT_EQ(Text(error), "Feature attribute for Width does not exist.");
    EXPECT_EQ(d.GetFeatureAttr(error.data(), d.handle, "Nope", 1, value.data()), 1);
    EXPECT_EQ(Text(error), "Feature Nope does not exist.");

    // Index errors carry an empty text: the Scanner hands the host 256 zero bytes.
    error = Marked();
    EXPECT_EQ(d.GetFeatureName(error.data(), d.handle, 39, value.data()), 1);
    EXPECT_TRUE(AllBytes(error, 0));
    error = Marked();
    EXPECT_EQ(d.GetFeatureName(error.data(), d.handle, -1, value.data()), 1);
    EXPECT_TRUE(AllBytes(error, 0));
    error = Marked();
    EXPECT_EQ(d.GetValidEnum(error.data(), d.handle, "Unknown", -1, value.data()), 1);
    EXPECT_TRUE(AllBytes(error, 0));
    EXPECT_EQ(d.GetValidEnum(error.data(), d.handle, "Unknown", 0, value.data()), 1);
    EXPECT_EQ(Text(error), "Feature Unknown does not exist.");

    EXPECT_EQ(d.GetFeatureAttr(error.data(), d.handle, "DialogResult", 1, value.data()), 0);
    EXPECT_EQ(Text(value), "Comment");
    EXPECT_TRUE(AllBytes(value, 0, 7));

    // A long name is cut at 255 bytes in the text that repeats it.
    const std::string name(300, 'x');
    error = Marked();
    EXPECT_EQ(d.ReadValue(error.data(), d.handle, name.c_str(), Marked().data()), 1);
    EXPECT_EQ(std::string(error.data(), 255), ("Feature " + name + " does not exist.").substr(0, 255));
    EXPECT_EQ(error[255], 0);

    // Null pointers and foreign handles fail with a text and leave the channel working.
    EXPECT_EQ(d.ReadValue(error.data(), d.handle, nullptr, value.data()), 1);
    EXPECT_EQ(Text(error), "Invalid argument: feature name is null.");
    EXPECT_EQ(d.ReadValue(error.data(), d.handle, "Width", nullptr), 1);
    EXPECT_EQ(d.WriteValue(nullptr, d.handle, "Width", nullptr), 1);
    EXPECT_EQ(d.GetImage(error.data(), d.handle, nullptr, nullptr), 1);
    EXPECT_EQ(d.WaitForIntegration(error.data(), d.handle, nullptr), 1);
    EXPECT_EQ(d.SetupCommonParams(error.data(), d.handle, nullptr), 1);
    EXPECT_EQ(d.GetFeatureType(error.data(), d.handle, "Width", nullptr), 1);
    EXPECT_EQ(d.ReadValue(error.data(), 12345, "Width", value.data()), 1);
    EXPECT_EQ(Text(error), "Tamo::Morvane::Zeb::ReadValue: Invalid channel handle.");
    EXPECT_EQ(d.StartAcquisition(error.data(), 0), 1);
    EXPECT_EQ(plugin->GetVideoChannel()(error.data(), 0, nullptr), 1);
    EXPECT_EQ(channel.Read("TestPattern"), "Off");
}

} // namespace zeb::test
