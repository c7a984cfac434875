// The channel base through the host entry points, on a small channel of the test's own.
#include "VideoChannel.h"
#include "../host/Lines.h"
#include "DeviceTest.h"
#include "Main.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace Zeb = Tamo::Morvane::Zeb;
using ::testing::IsSupersetOf;
using zeb::test::Strings;

namespace {

class TestChannel : public Zeb::VideoChannel {
public:
    int initializations = 0;
    bool failInitialize = false;
    std::string replaceWith;

protected:
    void OnInitialize() override {
        ++initializations;
        if (failInitialize)
            throw Tamo::Exception("not today", "Test::OnInitialize");
        _features.clear();
        _features.emplace_back("Mode", Zeb::FeatureType::Enum);
        _features.back()._enumValues = {"Off", "On"};
        _features.back().SetValue("Off");
        _features.emplace_back("Secret", Zeb::FeatureType::String);
        _features.back()._readable = false;
        _features.emplace_back("Fixed", Zeb::FeatureType::Int);
        _features.back()._writable = false;
        _features.emplace_back("Go", Zeb::FeatureType::Command);
        _features.emplace_back("Mode", Zeb::FeatureType::String); // a second "Mode": never found
    }
    void OnReadValue(const Tamo::String& name) override {
        if (name == "Fixed")
            Features(name).SetValue("7");
    }
    void OnWriteValue(const Tamo::String&, const Tamo::String&, Tamo::String& newValue) override {
        if (!replaceWith.empty())
            newValue = replaceWith.c_str();
    }
};

class ChannelBase : public ::testing::Test {
protected:
    void SetUp() override {
        environment.EnableLogging();
        zeb::test::DeviceTest::StartLog(environment);
        channel = new TestChannel();
        Zeb::Main::Instance().Channels().Add(Tamo::Var(channel), Tamo::List::End);
        handle = reinterpret_cast<qrZEB_Handle>(channel);
        std::memset(error, '#', sizeof error);
    }
    std::string Error() const { return std::string(error, strnlen(error, sizeof error)); }

    zeb::test::TestEnvironment environment;
    TestChannel* channel = nullptr;
    qrZEB_Handle handle = 0;
    char error[256];
    char value[256] = {};
};

} // namespace

TEST_F(ChannelBase, InitialisesOnFirstUseWhateverTheCallAndRetriesAFailure) {
    channel->failInitialize = true;
    EXPECT_EQ(Zeb::Main::ReadValue(error, handle, "Mode", value), 1);
    EXPECT_EQ(Error(), "Test::OnInitialize: not today") << "the base HandleError: source, \": \", text";
    channel->failInitialize = false;
    EXPECT_EQ(Zeb::Main::GetFeatureName(error, handle, 0, value), 0);
    EXPECT_STREQ(value, "Mode");
    EXPECT_EQ(Zeb::Main::ReadValue(error, handle, "Mode", value), 0);
    EXPECT_EQ(channel->initializations, 2) << "the failed one and one more";
    const Strings messages = environment.LogMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Intializing."), 2);
    EXPECT_THAT(messages, IsSupersetOf({"Intializing done.", "Tamo::Morvane::Zeb::Scanner::ReadValue()",
                                        "    Feature = Mode", "    Index = 0"}));
}

TEST_F(ChannelBase, ChecksTheirTextsAndTheHandlers) {
    EXPECT_EQ(Zeb::Main::ReadValue(error, handle, "Secret", value), 1);
    EXPECT_EQ(Error(), "Tamo::Morvane::Zeb::ReadValue: Feature Secret not readable.");
    EXPECT_EQ(Zeb::Main::WriteValue(error, handle, "Fixed", "3"), 1);
    EXPECT_EQ(Error(), "Tamo::Morvane::Zeb::WriteValue: Feature Fixed not writable.");
    EXPECT_EQ(Zeb::Main::ExecuteCommand(error, handle, "Mode"), 1);
    EXPECT_EQ(Error(), "Tamo::Morvane::Zeb::ExecuteCommand: Feature Mode is not a command.");
    EXPECT_EQ(Zeb::Main::ExecuteCommand(error, handle, "Go"), 0);
    EXPECT_EQ(Zeb::Main::WriteValue(error, handle, "Mode", "Maybe"), 1);
    EXPECT_EQ(Error(),
              "Tamo::Morvane::Zeb::Feature::SetValue: Enum value not valid. (Name = Mode, Value = Maybe)");
    EXPECT_EQ(Zeb::Main::GetFeatureName(error, handle, 5, value), 1);
    EXPECT_EQ(Error(), "Tamo::Morvane::Zeb::GetFeatureName: ");
    EXPECT_EQ(Zeb::Main::GetValidEnum(error, handle, "Mode", 2, value), 1);
    EXPECT_EQ(Error(), "Tamo::Morvane::Zeb::GetValidEnum: ");
    EXPECT_EQ(Zeb::Main::GetValidEnum(error, handle, "Mode", 1, value), 0);
    EXPECT_STREQ(value, "On");
    qrZEB_Long type = 0;
    EXPECT_EQ(Zeb::Main::GetFeatureType(error, handle, "Mode", &type), 0);
    EXPECT_EQ(type, Zeb::FeatureType::Enum) << "the first of two features with the same name";
    EXPECT_EQ(Zeb::Main::GetFeatureAttr(error, handle, "Fixed", 3, value), 0);
    EXPECT_STREQ(value, "False");
    EXPECT_EQ(Zeb::Main::GetFeatureAttr(error, handle, "Fixed", 0, value), 1);
    EXPECT_EQ(Error(), "Tamo::Morvane::Zeb::GetFeatureAttr: Feature attribute for Fixed does not exist.");
    // The read handler may refresh a value and the write handler replace the one written.
    EXPECT_EQ(Zeb::Main::ReadValue(error, handle, "Fixed", value), 0);
    EXPECT_STREQ(value, "7");
    channel->replaceWith = "On";
    EXPECT_EQ(Zeb::Main::WriteValue(error, handle, "Mode", "Off"), 0);
    EXPECT_EQ(Zeb::Main::ReadValue(error, handle, "Mode", value), 0);
    EXPECT_STREQ(value, "On");
}

TEST_F(ChannelBase, UnknownExceptionsAndReleaseAfterUnload) {
    EXPECT_EQ(Zeb::Main::ReleaseVideoChannel(error, handle), 0);
    Zeb::Main::_loaded = false;
    channel->failInitialize = true;
    EXPECT_EQ(Zeb::Main::ReleaseVideoChannel(error, 42), 0) << "after unload nothing is touched";
    Zeb::Main::_loaded = true;
    Zeb::Main::HandleException(*channel, "Tamo::Morvane::Zeb::StartAcquisition", error, nullptr);
    EXPECT_EQ(Error(), "Tamo::Morvane::Zeb::StartAcquisition: Unknown error occurred.");
}

TEST(CopyString, CutsAt255BytesAndZeroFills) {
    char buffer[256];
    std::memset(buffer, '#', sizeof buffer);
    Zeb::Main::CopyString(buffer, std::string(300, 'n'));
    EXPECT_EQ(std::string(buffer, 255), std::string(255, 'n'));
    EXPECT_EQ(buffer[255], 0);
    std::memset(buffer, '#', sizeof buffer);
    Zeb::Main::CopyString(buffer, "ten bytes!");
    for (int i = 10; i < 256; ++i)
        ASSERT_EQ(buffer[i], 0) << i;
    Zeb::Main::CopyString(buffer, std::string("a\xFF\x01z", 4));
    EXPECT_EQ(std::string(buffer, 4), std::string("a\xFF\x01z", 4)) << "bytes copied as they are";
}
