#include "session/PluginFiles.h"

#include "base/CommandError.h"
#include "base/NameMatch.h"
#include "base/Text.h"
#include "hostkit/Plugin.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zeb::cli {

namespace fs = std::filesystem;

namespace {

// The settings file's text; empty when it is missing or cannot be read (the plug-in then starts
// with its defaults or says why). A folder in its place would fail every read: it is named.
std::string ReadSettingsText(const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(path, error))
        throw CommandError("the settings file " + path.string() + " is a folder, not a file")
            .Hint("remove the folder or move it away: the plug-in then writes a new settings file");
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#if !defined(_WIN32)
fs::path DriveFolder(char letter) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    if (lower == 'c')
        if (const char* drive = std::getenv("ZEB_DRIVE_C"); drive && *drive)
            return drive;
    return UserDataFolder() / (std::string("drive_") + lower);
}
#endif

// A value of the settings file: section and key without regard to case; the last one counts.
std::optional<std::string> SettingsValue(const std::string& text, const std::string& section,
                                         const std::string& key) {
    std::istringstream in(text);
    std::string line, current;
    std::optional<std::string> value;
    while (std::getline(in, line)) {
        const std::string trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            current = Trim(trimmed.substr(1, trimmed.size() - 2));
        } else if (!trimmed.empty() && trimmed[0] != ';' && trimmed[0] != '#') {
            const size_t equals = trimmed.find('=');
            if (equals != std::string::npos && EqualsIgnoringCase(current, section) &&
                EqualsIgnoringCase(Trim(trimmed.substr(0, equals)), key))
                value = Trim(trimmed.substr(equals + 1));
        }
    }
    return value;
}

#if defined(_WIN32)
// The drivers folder the installer recorded, if Zeb is installed.
std::optional<fs::path> InstalledDriversFolder() {
    wchar_t folder[MAX_PATH];
    DWORD size = sizeof folder;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zeb",
                     L"DriversFolder", RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, folder,
                     &size) != ERROR_SUCCESS ||
        folder[0] == L'\0')
        return std::nullopt;
    return fs::path(folder);
}
#endif

} // namespace

#if !defined(_WIN32)
fs::path UserDataFolder() {
    fs::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        data = fs::path(home) / ".local" / "share";
    else
        data = "/tmp";
    return data / "zeb";
}
#endif

fs::path NativePath(const std::string& windowsPath) {
#if defined(_WIN32)
    return fs::path(windowsPath).lexically_normal(); // "C:\\ProgramData" is "C:\ProgramData"
#else
    const bool drive = windowsPath.size() >= 2 && std::isalpha(static_cast<unsigned char>(windowsPath[0])) &&
                       windowsPath[1] == ':';
    std::string rest;
    for (size_t i = drive ? 2 : 0; i < windowsPath.size(); ++i) {
        const char c = windowsPath[i] == '\\' ? '/' : windowsPath[i];
        if (drive && c == '/' && (rest.empty() || rest.back() == '/'))
            continue;
        rest += c;
    }
    if (!drive)
        return fs::path(rest);
    return rest.empty() ? DriveFolder(windowsPath[0]) : DriveFolder(windowsPath[0]) / rest;
#endif
}

fs::path SettingsFolder() {
    return NativePath(SettingsFolderName);
}

fs::path SettingsFile() {
    return SettingsFolder() / "Config.conf";
}

std::optional<std::string> SettingsFolderProblem() {
    const fs::path folder = SettingsFolder();
    std::error_code error;
    if (fs::is_directory(folder, error))
        return std::nullopt;
    // The nearest part of the path that exists decides: a file there blocks the folder.
    for (fs::path part = folder; !part.empty() && part != part.parent_path(); part = part.parent_path()) {
        if (fs::exists(part, error)) {
            if (!fs::is_directory(part, error))
                return part.string() + " is a file, not a folder";
            break;
        }
    }
    fs::create_directories(folder, error);
    if (error)
        return error.message();
    return std::nullopt;
}

std::optional<std::string> SettingsEntry(const std::string& section, const std::string& key) {
    return SettingsValue(ReadSettingsText(SettingsFile()), section, key);
}

std::optional<fs::path> LogFile() {
    if (SettingsEntry("Log", "LogEnabled").value_or("") != "True")
        return std::nullopt;
    const std::string logPath = SettingsEntry("Log", "LogPath").value_or("");
    if (logPath.empty())
        return NativePath("C:\\ProgramData\\Tamo\\Log\\Tamo.log");
    // The plug-in's rules: a missing name is "Tamo.Morvane.Zeb", a missing extension ".log".
    const size_t separator = logPath.find_last_of("\\/");
    const size_t nameStart =
        separator == std::string::npos ? (logPath.size() >= 2 && logPath[1] == ':' ? 2 : 0) : separator + 1;
    std::string folder = logPath.substr(0, nameStart), name = logPath.substr(nameStart);
    if (name.empty())
        name = "Tamo.Morvane.Zeb";
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name == "..")
        name += ".log";
    return NativePath(folder + name);
}

bool LogWritable(const fs::path& log) {
    std::error_code error;
    if (fs::exists(log, error)) {
        if (!fs::is_regular_file(log, error))
            return false;
        const std::ofstream out(log, std::ios::binary | std::ios::app); // appends nothing
        return out.is_open();
    }
    // Not made yet (nothing logged so far, or it cannot be): the nearest part of its path that
    // exists must be a folder this process may write into; the plug-in makes the folders below it.
    for (fs::path part = log.parent_path(); !part.empty(); part = part.parent_path()) {
        if (fs::exists(part, error)) {
            if (!fs::is_directory(part, error))
                return false;
#if defined(_WIN32)
            return true;
#else
            return access(part.c_str(), W_OK) == 0;
#endif
        }
        if (part == part.parent_path())
            break;
    }
    return false;
}

std::optional<std::string> DomeModelInLog(const std::string& logText) {
    const std::string marker = "LightingModel = ";
    const size_t at = logText.rfind(marker);
    if (at == std::string::npos)
        return std::nullopt;
    const size_t end = logText.find_first_of("\r\n", at);
    return Trim(logText.substr(at + marker.size(),
                               end == std::string::npos ? std::string::npos : end - at - marker.size()));
}

fs::path DefaultPluginFile() {
    return DefaultPluginFile(fs::path(host::Plugin::DefaultPath()).parent_path());
}

fs::path DefaultPluginFile(const fs::path& folder) {
    if (const char* named = std::getenv("ZEB_PLUGIN"); named && *named)
        return named;
    const fs::path name = fs::path(host::Plugin::DefaultPath()).filename();
    const fs::path beside = folder / name;
    std::error_code error;
    if (fs::exists(beside, error))
        return beside;
#if defined(_WIN32)
    // The installer may have put the plug-in into the vision application's drivers folder instead,
    // which it records with its entry in "Apps & features".
    if (const auto drivers = InstalledDriversFolder()) {
        const fs::path installed = *drivers / name;
        if (fs::exists(installed, error))
            return installed;
    }
#else
    // An installed zeb (/usr/bin/zeb) keeps the plug-in in a folder of its own beside the libraries
    // (/usr/lib/zeb), as the Debian package lays them out.
    const fs::path installed = folder.parent_path() / "lib" / "zeb" / name;
    if (fs::exists(installed, error))
        return installed;
#endif
    return beside;
}

} // namespace zeb::cli
