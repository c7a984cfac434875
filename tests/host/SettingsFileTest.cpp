// The settings file as people write it: saved by a Windows editor, pasted from the manual, with a
// log on another drive.
#include "ChannelTest.h"

namespace zeb::test {

namespace {

const std::string IntegratingPage = std::string(ZEB_DOCS) + "/integrating.md";

// The settings example of the manual's page on integrating, as it stands there.
std::string DocumentedSettingsExample() {
    const std::string page = TestEnvironment::ReadSourceFile(IntegratingPage);
    const std::string fence = "```ini\n";
    const size_t begin = page.find(fence);
    const size_t end = page.find("```", begin == std::string::npos ? 0 : begin + fence.size());
    if (begin == std::string::npos || end == std::string::npos)
        return "";
    return page.substr(begin + fence.size(), end - begin - fence.size());
}

} // namespace

// The plug-in reads its settings once, when it starts: each test unloads it at its end, so that the
// next one in the same process starts it afresh instead of finding it started with this one's.
class SettingsFile : public ChannelTest {
protected:
    void TearDown() override {
        if (plugin)
            plugin->Unload();
    }
    // Starts the plug-in on the area station with this settings file and initialises channel 0.
    void Start(const std::string& settings) {
        host::HostChannel channel = StartWith(settings);
        Read(channel, "Width");
    }
    std::string Settings() const { return TestEnvironment::ReadFile(environment.SettingsFile()); }
};

TEST_F(SettingsFile, ByteOrderMarkAndCrLfOfAWindowsEditor) {
    const std::string user =
        "\xEF\xBB\xBF[Log]\r\nLogEnabled=True\r\nLogLevel=Dump\r\nLogPath=" + environment.LogFile().string() +
        "\r\n; mine\r\n";
    Start(user);
    EXPECT_NE(TestEnvironment::ReadFile(environment.LogFile()).find("\tDump\t"), std::string::npos)
        << "the log runs at level Dump";
    EXPECT_EQ(Settings(), user + "\r\n[Exceptions]\r\nLightingDetection=True\r\n");
    // The next start finds nothing to add.
    plugin->Unload();
    plugin = std::make_unique<host::Plugin>();
    Channel();
    EXPECT_EQ(Settings(), user + "\r\n[Exceptions]\r\nLightingDetection=True\r\n");
}

TEST_F(SettingsFile, TheDocumentedExampleWorksAsItStands) {
    const std::string example = DocumentedSettingsExample();
    ASSERT_NE(example.find("LogEnabled=True"), std::string::npos)
        << "no settings example in " << IntegratingPage;
    // The log file the example names: C:\ProgramData\Brelan\Logs\zeb.log.
#if defined(_WIN32)
    const std::filesystem::path logs = "C:\\ProgramData\\Brelan\\Logs";
    std::error_code ignored;
    std::filesystem::remove_all(logs, ignored);
#else
    const std::filesystem::path logs = environment.Folder() / "drive_c" / "ProgramData" / "Brelan" / "Logs";
#endif
    Start(example);
    const std::string log = TestEnvironment::ReadFile(logs / "zeb.log");
    EXPECT_NE(log.find("\tDump\t"), std::string::npos) << "the log runs at level Dump";
    EXPECT_NE(log.find("Tamo.Morvane.Zeb initialization done."), std::string::npos);
    EXPECT_EQ(Settings(), example) << "the example sets every key";
}

#if !defined(_WIN32)
TEST_F(SettingsFile, LogOnAnotherDriveLivesBesideDriveC) {
    TestEnvironment::SetVariable("XDG_DATA_HOME", (environment.Folder() / "data").string());
    Start("[Log]\nLogEnabled=True\nLogPath=D:\\Logs\\zeb\n");
    EXPECT_TRUE(std::filesystem::exists(environment.Folder() / "drive_d" / "Logs" / "zeb.log"));
    EXPECT_FALSE(std::filesystem::exists(environment.Folder() / "data"));
}
#endif

} // namespace zeb::test
