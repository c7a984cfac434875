#include "Tamo/Path.h"

#include <cctype>
#include <cstdlib>

namespace Tamo::Path {

#if defined(_WIN32)

std::filesystem::path DriveFolder(char) {
    return {};
}

std::filesystem::path Native(const String& path) {
    return std::filesystem::path(path.Std());
}

#else

std::filesystem::path DriveFolder(char letter) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    const std::string name = std::string("drive_") + lower;
    if (const char* drive = std::getenv("ZEB_DRIVE_C"); drive && *drive) {
        if (lower == 'c')
            return std::filesystem::path(drive);
        // The other drives live beside drive C, so that a chosen drive C keeps them all together.
        std::filesystem::path driveC = std::filesystem::path(drive).lexically_normal();
        if (!driveC.has_filename())
            driveC = driveC.parent_path();
        return driveC.parent_path() / name;
    }
    std::filesystem::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        data = std::filesystem::path(home) / ".local" / "share";
    else
        data = "/tmp";
    return data / "zeb" / name;
}

std::filesystem::path Native(const String& path) {
    const std::string& text = path.Std();
    const bool drive =
        text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':';
    if (!drive) {
        std::string converted = text;
        for (char& c : converted)
            if (c == '\\')
                c = '/';
        return std::filesystem::path(converted);
    }
    // Rest of the path below the drive folder; repeated separators collapse.
    std::string rest;
    for (size_t i = 2; i < text.size(); ++i) {
        const char c = text[i] == '\\' ? '/' : text[i];
        if (c == '/' && (rest.empty() || rest.back() == '/'))
            continue;
        rest += c;
    }
    std::filesystem::path result = DriveFolder(text[0]);
    if (!rest.empty())
        result /= rest;
    else if (text.size() > 2)
        result += "/";
    return result;
}

#endif

} // namespace Tamo::Path
