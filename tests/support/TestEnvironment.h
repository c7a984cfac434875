// A private world for one test process: a temporary folder, drive C, the settings file, the log,
// the station file and the device trace.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zeb::test {

class TestEnvironment {
public:
    // Makes the folder and points drive C and the trace into it; settings are left to the test.
    TestEnvironment();
    ~TestEnvironment();

    const std::filesystem::path& Folder() const { return _folder; }
    // Native path of the plug-in's settings folder and file.
    std::filesystem::path SettingsFolder() const;
    std::filesystem::path SettingsFile() const { return SettingsFolder() / "Config.conf"; }
    std::filesystem::path LogFile() const { return _folder / "zeb.log"; }
    std::filesystem::path TraceFile() const { return _folder / "trace.txt"; }

    // Writes a settings file that logs everything to LogFile().
    void EnableLogging(const std::string& level = "Dump");
    void WriteSettings(const std::string& text);
    // Writes a station file and points ZEB_STATION at it.
    void UseStation(const std::string& json);

    std::vector<std::string> LogLines() const;
    // Log messages (the last field of each line).
    std::vector<std::string> LogMessages() const;
    bool Logged(const std::string& message) const;
    std::vector<std::string> TraceLines() const;

    static void SetVariable(const std::string& name, const std::string& value);
    static std::string ReadFile(const std::filesystem::path& path);
    // A source-tree file or folder named by its build machine's path, as this program opens it (the
    // Unix root is Wine's drive Z:).
    static std::filesystem::path SourcePath(const std::string& path);
    static std::string ReadSourceFile(const std::string& path) { return ReadFile(SourcePath(path)); }
    static void WriteFile(const std::filesystem::path& path, const std::string& text);
    // The folder of the running test program, where the programs it starts are built.
    static std::filesystem::path ProgramFolder();

private:
    std::filesystem::path _folder;
};

} // namespace zeb::test
