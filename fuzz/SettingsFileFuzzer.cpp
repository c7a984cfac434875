// Fuzzes the settings file: arbitrary bytes as Config.conf, loaded, saved with the plug-in's
// defaults and loaded again. A byte-order mark in front and CR LF line endings read alike; every
// line of the user's file stays byte for byte and in order; the only new lines are the missing
// defaults (with a blank line and a section header where the section is new); every default reads
// back from the saved file; values do not change; a second save leaves the file alone. Anything
// else, a crash or a sanitizer report is a finding.
#include "Tamo.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Default {
    const char* section;
    const char* key;
    const char* value;
};

// The plug-in's own defaults, and one whose section files rarely have.
const Default Defaults[] = {{"Log", "LogEnabled", "False"},
                            {"Log", "LogLevel", "Debug"},
                            {"Exceptions", "LightingDetection", "True"},
                            {"Extra Section", "Key With Spaces", "a = b ; c"}};

std::filesystem::path File;
const std::string ByteOrderMark = "\xEF\xBB\xBF";

void Fail(const std::string& what) {
    std::fprintf(stderr, "settings file: %s\n", what.c_str());
    std::abort();
}

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The file's lines, each with its line ending; a leading byte-order mark is a line of its own.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    if (text.starts_with(ByteOrderMark)) {
        lines.push_back(ByteOrderMark);
        at = ByteOrderMark.size();
    }
    while (at < text.size()) {
        const size_t newline = text.find('\n', at);
        const size_t end = newline == std::string::npos ? text.size() : newline + 1;
        lines.push_back(text.substr(at, end - at));
        at = end;
    }
    return lines;
}

std::string WithoutEnding(std::string line) {
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// The user's last line, without a line ending, followed by one.
bool GainedEnding(const std::string& user, const std::string& saved, bool last) {
    if (!last || user.back() == '\n' || !saved.starts_with(user))
        return false;
    const std::string ending = saved.substr(user.size());
    return ending == "\n" || ending == "\r\n";
}

// A line the save may add: blank, a default's section header or a default's "key=value".
bool Added(const std::string& line) {
    const std::string text = WithoutEnding(line);
    if (text.empty())
        return true;
    for (const Default& entry : Defaults)
        if (text == std::string("[") + entry.section + "]" ||
            text == std::string(entry.key) + "=" + entry.value)
            return true;
    return false;
}

// Every line of the user's file is in the saved file, in order and byte for byte (a last line
// without ending may have gained one); every other saved line is one the save may add.
void CheckUserLinesKept(const std::string& before, const std::string& after) {
    const std::vector<std::string> user = Lines(before), saved = Lines(after);
    size_t next = 0;
    for (const std::string& line : saved) {
        if (next < user.size() &&
            (line == user[next] || GainedEnding(user[next], line, next + 1 == user.size()))) {
            ++next;
        } else if (!Added(line)) {
            Fail("a line that is neither the user's nor a default: \"" + line + "\"");
        }
    }
    if (next != user.size())
        Fail("a line of the user's is lost: \"" + user[next] + "\"");
}

Tamo::IniFile LoadWithDefaults() {
    Tamo::IniFile settings;
    for (const Default& entry : Defaults)
        settings.AddValue(entry.section, entry.key, entry.value);
    settings.Load(File.string().c_str(), false);
    return settings;
}

std::vector<std::string> Values(const Tamo::IniFile& settings) {
    std::vector<std::string> values;
    for (const Default& entry : Defaults)
        values.push_back(settings.EntryValue(entry.section, entry.key).Std());
    return values;
}

// The values a file of this text gives.
std::vector<std::string> ValuesOf(const std::string& text) {
    Write(File, text);
    return Values(LoadWithDefaults());
}

// A Windows editor's copy of the text: a byte-order mark in front, CR LF line endings.
void CheckWindowsCopiesReadAlike(const std::string& user, const std::vector<std::string>& values) {
    if (!user.starts_with(ByteOrderMark) && ValuesOf(ByteOrderMark + user) != values)
        Fail("a byte-order mark changes what the file says");
    std::string crlf;
    for (char c : user)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    if (ValuesOf(crlf) != values)
        Fail("CR LF line endings change what the file says");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const auto folder = std::filesystem::temp_directory_path() / "zeb-fuzz-settings";
    std::filesystem::create_directories(folder);
    File = folder / "Config.conf";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string user(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> values = ValuesOf(user);
    CheckWindowsCopiesReadAlike(user, values);
    Write(File, user);
    Tamo::IniFile first = LoadWithDefaults();
    // A look-up of any name, the input's first line split at its first "/".
    const std::string name = user.substr(0, user.find('\n'));
    first.EntryValue(name.substr(0, name.find('/')).c_str(),
                     name.find('/') == std::string::npos ? "" : name.substr(name.find('/') + 1).c_str());
    first.Save("");
    const std::string saved = Read(File);
    CheckUserLinesKept(user, saved);

    // The saved file gives the same values, with and without the defaults registered, and holds
    // every default.
    Tamo::IniFile again = LoadWithDefaults();
    Tamo::IniFile bare;
    bare.Load(File.string().c_str(), true);
    for (size_t i = 0; i < values.size(); ++i) {
        const Default& entry = Defaults[i];
        if (again.EntryValue(entry.section, entry.key).Std() != values[i] ||
            bare.EntryValue(entry.section, entry.key).Std() != values[i])
            Fail(std::string("the value of ") + entry.section + "/" + entry.key + " changed from \"" +
                 values[i] + "\"");
    }
    again.Save("");
    if (Read(File) != saved)
        Fail("a second save changed the file");
    return 0;
}
