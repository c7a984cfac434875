// Host calls as a vision host makes them: fetching an image without a buffer, the source line
// that every log line of the channel operations carries, and log lines that stay whole whatever
// text the host passes.
#include "ChannelTest.h"

#include <algorithm>
#include <map>
#include <set>

namespace zeb::test {

class GetImage : public ChannelTest {};

TEST_F(GetImage, WithoutABufferItOnlyTellsThatAnImageIsReadyAndWithoutAStatusVariableItIsRefused) {
    host::HostChannel channel = Ready(AreaStation());
    ASSERT_TRUE(channel.Start()) << channel.Error(); // single frame: one image set per start
    const auto& d = channel.Descriptor();
    char error[256] = {};
    std::vector<char> buffer(64 * 4 * 48, 0);
    for (char* image : {static_cast<char*>(nullptr), buffer.data()}) {
        EXPECT_EQ(d.GetImage(error, d.handle, image, nullptr), 1);
        EXPECT_STREQ(error, "Invalid argument: status is null.");
    }
    qrZEB_Long status = -1;
    for (int call = 0; call < 100000 && status != 0; ++call) {
        ASSERT_EQ(d.GetImage(error, d.handle, nullptr, &status), 0) << error;
        ASSERT_TRUE(status == 0 || status == 4096) << status;
    }
    ASSERT_EQ(status, 0);
    // Nothing was taken: asking again still finds it, and a buffer receives it.
    status = -1;
    ASSERT_EQ(d.GetImage(error, d.handle, nullptr, &status), 0) << error;
    EXPECT_EQ(status, 0);
    status = -1;
    ASSERT_EQ(d.GetImage(error, d.handle, buffer.data(), &status), 0) << error;
    EXPECT_EQ(status, 0);
    EXPECT_LT(std::count(buffer.begin(), buffer.end(), 0), static_cast<long>(buffer.size() / 2))
        << "the four frames were copied";
    // That was the only image set of this start.
    status = -1;
    ASSERT_EQ(d.GetImage(error, d.handle, nullptr, &status), 0) << error;
    EXPECT_EQ(status, 4096);
    status = -1;
    ASSERT_EQ(d.GetImage(error, d.handle, buffer.data(), &status), 0) << error;
    EXPECT_EQ(status, 4096);
}

class LogLines : public HostTest {
protected:
    struct Line {
        std::string file;
        int line = 0;
        std::string function;
        std::string message;
    };
    // The tab-separated fields of a line, empty ones included.
    static std::vector<std::string> Fields(const std::string& line) {
        std::vector<std::string> fields(1);
        for (const char c : line)
            if (c == '\t')
                fields.emplace_back();
            else
                fields.back() += c;
        return fields;
    }
    // Log lines: time, level, source file, line, function, message, separated by tabs.
    std::vector<Line> Parsed() const {
        std::vector<Line> lines;
        for (const std::string& text : environment.LogLines()) {
            const std::vector<std::string> fields = Fields(text);
            if (fields.size() < 6)
                continue;
            std::string message = fields[5];
            for (size_t i = 6; i < fields.size(); ++i)
                message += "\t" + fields[i];
            lines.push_back({fields[2], std::stoi(fields[3]), fields[4], message});
        }
        return lines;
    }
};

TEST_F(LogLines, EachTraceLineOfTheChannelOperationsCarriesItsOwnSourceLine) {
    Load(AreaStation());
    host::HostChannel channel = Channel();
    ASSERT_TRUE(channel.Read("Width")) << channel.Error();
    ASSERT_TRUE(channel.Write("ExposureTime", "60")) << channel.Error();
    ASSERT_FALSE(channel.Start()); // no camera: still traced before and not after
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A")) << channel.Error();
    ASSERT_TRUE(channel.Start()) << channel.Error();
    ASSERT_TRUE(channel.Stop()) << channel.Error();
    EXPECT_FALSE(channel.FeatureNames().empty());
    EXPECT_TRUE(channel.Type("Width"));
    EXPECT_FALSE(channel.Choices("SetupMode").empty());
    EXPECT_TRUE(channel.Attribute("Width", 1));
    EXPECT_TRUE(channel.Execute("DialogStop")) << channel.Error();
    EXPECT_TRUE(channel.Wait());
    EXPECT_TRUE(channel.Release()) << channel.Error();

    // The same call always writes from the same line; different calls from different lines.
    std::map<std::string, std::set<int>> linesOfCall;
    std::map<int, std::set<std::string>> callsOfLine;
    for (const Line& line : Parsed()) {
        EXPECT_GT(line.line, 0) << line.function << ": " << line.message;
        if (line.file != "VideoChannel" || line.function == "Tamo::Morvane::Zeb::VideoChannel::Initialize")
            continue;
        std::string call = line.function + " " + line.message;
        if (line.message.starts_with("    ")) // parameter lines: one call per parameter name
            call = line.function + " " + line.message.substr(0, line.message.find('='));
        linesOfCall[call].insert(line.line);
        callsOfLine[line.line].insert(call);
    }
    const char* const expected[] = {
        "Tamo::Morvane::Zeb::VideoChannel::ReadValue Tamo::Morvane::Zeb::Scanner::ReadValue()",
        "Tamo::Morvane::Zeb::VideoChannel::ReadValue     Feature ",
        "Tamo::Morvane::Zeb::VideoChannel::WriteValue Tamo::Morvane::Zeb::Scanner::WriteValue()",
        "Tamo::Morvane::Zeb::VideoChannel::WriteValue     Feature ",
        "Tamo::Morvane::Zeb::VideoChannel::WriteValue     Value ",
        "Tamo::Morvane::Zeb::VideoChannel::StartAcquisition Tamo::Morvane::Zeb::Scanner::StartAcquisition()",
        "Tamo::Morvane::Zeb::VideoChannel::StartAcquisition Tamo::Morvane::Zeb::Scanner::StartAcquisition() "
        "done.",
        "Tamo::Morvane::Zeb::VideoChannel::StopAcquisition Tamo::Morvane::Zeb::Scanner::StopAcquisition()",
        "Tamo::Morvane::Zeb::VideoChannel::GetFeatureName Tamo::Morvane::Zeb::VideoChannel::GetFeatureName()",
        "Tamo::Morvane::Zeb::VideoChannel::GetFeatureName     Index ",
        "Tamo::Morvane::Zeb::VideoChannel::GetFeatureType Tamo::Morvane::Zeb::VideoChannel::GetFeatureType()",
        "Tamo::Morvane::Zeb::VideoChannel::GetValidEnum     Index ",
        "Tamo::Morvane::Zeb::VideoChannel::GetFeatureAttr     Feature ",
        "Tamo::Morvane::Zeb::VideoChannel::ExecuteCommand Tamo::Morvane::Zeb::VideoChannel::ExecuteCommand()",
        "Tamo::Morvane::Zeb::VideoChannel::WaitForIntegration "
        "Tamo::Morvane::Zeb::Scanner::WaitForIntegration()",
        "Tamo::Morvane::Zeb::VideoChannel::Release Tamo::Morvane::Zeb::Scanner::Release()",
    };
    for (const char* call : expected)
        EXPECT_EQ(linesOfCall.count(call), 1u) << "not logged: " << call;
    for (const auto& [call, lines] : linesOfCall)
        EXPECT_EQ(lines.size(), 1u) << call << " is written from " << lines.size() << " lines";
    for (const auto& [line, calls] : callsOfLine)
        EXPECT_EQ(calls.size(), 1u) << "line " << line << " writes " << calls.size()
                                    << " different trace lines";
    EXPECT_GE(callsOfLine.size(), std::size(expected));
}

TEST_F(LogLines, TextsFromTheHostCannotSplitALineOrForgeOne) {
    // The framework's own log file, which the settings' "LogPath" replaces.
#if defined(_WIN32)
    const std::filesystem::path frameworkLog = "C:\\ProgramData\\Tamo\\Log\\Tamo.log";
    std::error_code ignored;
    std::filesystem::remove(frameworkLog, ignored);
#else
    const std::filesystem::path frameworkLog = environment.Folder() / "drive_c/ProgramData/Tamo/Log/Tamo.log";
#endif
    Load(AreaStation());
    host::HostChannel channel = Channel();
    const std::string forged = "Foo\n2026-01-01 00:00:00.000\tCritical\tMain\t1\tMain::Main\tforged\r\x01";
    EXPECT_FALSE(channel.Write(forged, "a\tb\r\nc"));
    EXPECT_FALSE(channel.Read(forged));
    ASSERT_TRUE(channel.Write("DeviceImageSource", "Cam A")) << channel.Error();
    EXPECT_FALSE(channel.Write("TestPattern", "x\ty"));

    const std::string escaped =
        "Foo\\n2026-01-01 00:00:00.000\\tCritical\\tMain\\t1\\tMain::Main\\tforged\\r\\x01";
    int withForgedText = 0;
    for (const std::string& line : environment.LogLines()) {
        const std::vector<std::string> fields = Fields(line);
        ASSERT_EQ(fields.size(), 6u) << line;
        EXPECT_NE(fields[1], "Critical") << line;
        withForgedText += fields[5].find(escaped) != std::string::npos;
    }
    EXPECT_GE(withForgedText, 2) << "the write and the read name the feature as the host passed it";
    EXPECT_TRUE(environment.Logged("    Value = a\\tb\\r\\nc"));
    EXPECT_FALSE(std::filesystem::exists(frameworkLog)) << "the log went to LogPath only";
}

} // namespace zeb::test
