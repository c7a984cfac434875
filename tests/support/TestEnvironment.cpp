#include "TestEnvironment.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zeb::test {

namespace fs = std::filesystem;

void TestEnvironment::SetVariable(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

std::string TestEnvironment::ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path TestEnvironment::ProgramFolder() {
#if defined(_WIN32)
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return fs::path(std::wstring(buffer, length)).parent_path();
#else
    return fs::read_symlink("/proc/self/exe").parent_path();
#endif
}

fs::path TestEnvironment::SourcePath(const std::string& path) {
#if defined(_WIN32)
    if (path.starts_with('/'))
        return "Z:" + path;
#endif
    return path;
}

void TestEnvironment::WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

TestEnvironment::TestEnvironment() {
    std::random_device random;
    _folder = fs::temp_directory_path() /
              ("zeb-test-" + std::to_string(random()) + "-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(_folder);
#if defined(_WIN32)
    std::error_code ignored;
    fs::remove_all(SettingsFolder(), ignored);
#else
    SetVariable("ZEB_DRIVE_C", (_folder / "drive_c").string());
#endif
    SetVariable("ZEB_STATION_TRACE", TraceFile().string());
    SetVariable("ZEB_STATION", "");
}

TestEnvironment::~TestEnvironment() {
    std::error_code ignored;
    fs::remove_all(_folder, ignored);
}

fs::path TestEnvironment::SettingsFolder() const {
#if defined(_WIN32)
    return fs::path("C:\\ProgramData\\Brelan\\Tamo.Morvane.Zeb");
#else
    return _folder / "drive_c" / "ProgramData" / "Brelan" / "Tamo.Morvane.Zeb";
#endif
}

void TestEnvironment::WriteSettings(const std::string& text) {
    WriteFile(SettingsFile(), text);
}

void TestEnvironment::EnableLogging(const std::string& level) {
    WriteSettings("[Log]\nLogEnabled=True\nLogLevel=" + level + "\nLogPath=" + LogFile().string() + "\n");
}

void TestEnvironment::UseStation(const std::string& json) {
    const fs::path path = _folder / "station.json";
    WriteFile(path, json);
    SetVariable("ZEB_STATION", path.string());
}

std::vector<std::string> TestEnvironment::LogLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(LogFile()));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> TestEnvironment::LogMessages() const {
    std::vector<std::string> messages;
    for (const std::string& line : LogLines()) {
        size_t at = 0;
        for (int field = 0; field < 5 && at != std::string::npos; ++field)
            at = line.find('\t', at == 0 && field == 0 ? 0 : at + 1);
        messages.push_back(at == std::string::npos ? line : line.substr(at + 1));
    }
    return messages;
}

bool TestEnvironment::Logged(const std::string& message) const {
    for (const std::string& line : LogMessages())
        if (line == message)
            return true;
    return false;
}

std::vector<std::string> TestEnvironment::TraceLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(TraceFile()));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace zeb::test
