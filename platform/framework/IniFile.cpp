#include "Tamo/IniFile.h"

#include "Tamo/Exception.h"
#include "Tamo/Path.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace Tamo {

namespace {

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

// Section and key names compare without regard to case, as on Windows.
bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

#if defined(_WIN32)
constexpr const char* NewLine = "\r\n";
#else
constexpr const char* NewLine = "\n";
#endif

std::string Reason() {
    return std::strerror(errno);
}

bool ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
#if defined(_WIN32)
    return MoveFileExW(from.wstring().c_str(), to.wstring().c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

int ProcessId() {
#if defined(_WIN32)
    return static_cast<int>(GetCurrentProcessId());
#else
    return static_cast<int>(getpid());
#endif
}

} // namespace

void IniFile::AddValue(const String& section, const String& key, const String& defaultValue) {
    for (Default& entry : _defaults)
        if (SameName(entry.section, section.Std()) && SameName(entry.key, key.Std())) {
            entry.value = defaultValue.Std();
            return;
        }
    _defaults.push_back({section.Std(), key.Std(), defaultValue.Std()});
}

void IniFile::Load(const String& path, bool mustExist) {
    _path = path.Std();
    _lines.clear();
    _byteOrderMark.clear();
    const auto native = Path::Native(path);
    std::error_code error;
    const auto status = std::filesystem::status(native, error);
    if (!std::filesystem::exists(status)) {
        if (mustExist)
            throw Exception("Settings file " + path + " does not exist.", "Tamo::IniFile::Load");
        return;
    }
    if (std::filesystem::is_directory(status))
        throw Exception("Settings file " + path + " could not be read: it is a folder.",
                        "Tamo::IniFile::Load");
    std::ifstream in(native, std::ios::binary);
    if (!in)
        throw Exception("Settings file " + path + " could not be read: " + Reason() + ".",
                        "Tamo::IniFile::Load");
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    // Windows editors often begin a UTF-8 file with a byte-order mark; it belongs to no line.
    size_t at = text.starts_with(ByteOrderMark) ? ByteOrderMark.size() : 0;
    _byteOrderMark = text.substr(0, at);
    std::string section;
    while (at < text.size()) {
        const size_t newline = text.find('\n', at);
        const size_t end = newline == std::string::npos ? text.size() : newline;
        Line line{text.substr(at, end - at), section, "", "", newline == std::string::npos ? "" : "\n"};
        at = newline == std::string::npos ? text.size() : newline + 1;
        if (!line.text.empty() && line.text.back() == '\r' && !line.ending.empty()) {
            line.text.pop_back();
            line.ending = "\r\n";
        }
        const std::string trimmed = Trim(line.text);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            section = Trim(trimmed.substr(1, trimmed.size() - 2));
            line.section = section;
        } else if (!trimmed.empty() && trimmed[0] != ';' && trimmed[0] != '#') {
            const size_t equals = trimmed.find('=');
            if (equals != std::string::npos) {
                line.key = Trim(trimmed.substr(0, equals));
                line.value = Trim(trimmed.substr(equals + 1));
            }
        }
        _lines.push_back(std::move(line));
    }
}

std::string IniFile::LineEnding() const {
    for (const Line& line : _lines)
        if (!line.ending.empty())
            return line.ending;
    return NewLine;
}

const IniFile::Line* IniFile::Find(const std::string& section, const std::string& key) const {
    for (const Line& line : _lines)
        if (!line.key.empty() && SameName(line.section, section) && SameName(line.key, key))
            return &line;
    return nullptr;
}

String IniFile::EntryValue(const String& section, const String& key) const {
    if (const Line* line = Find(section.Std(), key.Std()))
        return String(line->value);
    for (const Default& entry : _defaults)
        if (SameName(entry.section, section.Std()) && SameName(entry.key, key.Std()))
            return String(entry.value);
    return String();
}

void IniFile::Save(const String& path) {
    const std::string target = path.Length() ? path.Std() : _path;
    const std::string ending = LineEnding();
    // Missing keys go behind the last line of their section, or into a new section at the end.
    std::vector<Line> lines = _lines;
    for (const Default& entry : _defaults) {
        bool present = false;
        for (const Line& line : lines)
            present = present || (!line.key.empty() && SameName(line.section, entry.section) &&
                                  SameName(line.key, entry.key));
        if (present)
            continue;
        Line added{entry.key + "=" + entry.value, entry.section, entry.key, entry.value, ending};
        size_t insertAt = lines.size();
        bool sectionFound = false;
        for (size_t i = 0; i < lines.size(); ++i)
            if (SameName(lines[i].section, entry.section) &&
                (sectionFound || !lines[i].key.empty() || Trim(lines[i].text).starts_with('['))) {
                if (!Trim(lines[i].text).empty())
                    insertAt = i + 1;
                sectionFound = true;
            }
        if (!sectionFound) {
            if (!lines.empty() && !Trim(lines.back().text).empty())
                lines.push_back({"", lines.back().section, "", "", ending});
            lines.push_back({"[" + entry.section + "]", entry.section, "", "", ending});
            insertAt = lines.size();
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), added);
    }

    // A last line without a line ending gets one only when lines were added behind it.
    std::string content = _byteOrderMark;
    for (size_t i = 0; i < lines.size(); ++i)
        content +=
            lines[i].text + (lines[i].ending.empty() && i + 1 < lines.size() ? ending : lines[i].ending);

    const auto native = Path::Native(String(target));
    {
        std::ifstream in(native, std::ios::binary);
        if (in) {
            std::stringstream existing;
            existing << in.rdbuf();
            if (existing.str() == content) {
                _lines = std::move(lines);
                _path = target;
                return;
            }
        }
    }
    auto temporary = native;
    temporary += ".tmp" + std::to_string(ProcessId());
    std::FILE* out = std::fopen(temporary.string().c_str(), "wb");
    if (!out)
        throw Exception("Settings file " + String(target) + " could not be written: " + Reason() + ".",
                        "Tamo::IniFile::Save");
    const bool written = std::fwrite(content.data(), 1, content.size(), out) == content.size();
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed || !ReplaceFile(temporary, native)) {
        const std::string reason = Reason();
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw Exception("Settings file " + String(target) + " could not be written: " + reason + ".",
                        "Tamo::IniFile::Save");
    }
    _lines = std::move(lines);
    _path = target;
}

} // namespace Tamo
