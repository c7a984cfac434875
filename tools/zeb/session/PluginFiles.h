// The files the plug-in keeps on this machine, as a host can find them: its settings file, its
// log, and the plug-in file itself.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace zeb::cli {

// The settings folder as the plug-in names it.
inline constexpr const char* SettingsFolderName = "C:\\\\ProgramData\\Brelan\\Tamo.Morvane.Zeb";

// A Windows path as the plug-in opens it here: itself on Windows; on POSIX, drive C is ZEB_DRIVE_C
// (else $XDG_DATA_HOME/zeb/drive_c or ~/.local/share/zeb/drive_c), other letters drive_<letter>
// beside it, backslashes become slashes.
std::filesystem::path NativePath(const std::string& windowsPath);
#if !defined(_WIN32)
// zeb's folder among the user's data: $XDG_DATA_HOME/zeb, else ~/.local/share/zeb.
std::filesystem::path UserDataFolder();
#endif
std::filesystem::path SettingsFolder();
std::filesystem::path SettingsFile();
// Why the settings folder cannot be made, or nothing when it exists or can be made.
std::optional<std::string> SettingsFolderProblem();

// A value of the plug-in's settings file, or nothing when the file or the key is missing. Throws
// CommandError when a folder stands where the file should be.
std::optional<std::string> SettingsEntry(const std::string& section, const std::string& key);

// The log file the settings turn on (LogEnabled exactly "True"); nothing when logging is off.
std::optional<std::filesystem::path> LogFile();
// Whether the plug-in can write the log file: it can be appended to, or, not made yet, the nearest
// existing folder on its path can be written into.
bool LogWritable(const std::filesystem::path& log);

// The last "LightingModel = ..." value in `logText` (the dome model the controller reported).
std::optional<std::string> DomeModelInLog(const std::string& logText);

// The plug-in file zeb loads without --plugin: the one ZEB_PLUGIN names, else the one beside zeb,
// else the installed one (Windows: in the drivers folder the installer recorded; Linux: in
// ../lib/zeb beside zeb's folder); the one beside zeb when there is none.
std::filesystem::path DefaultPluginFile();
// The same for a program or library in `folder` (the C library looks beside itself).
std::filesystem::path DefaultPluginFile(const std::filesystem::path& folder);

} // namespace zeb::cli
