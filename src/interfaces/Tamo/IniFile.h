// Tamo::IniFile: the framework's settings file: sections, keys and text values.
#pragma once

#include "Tamo/String.h"

#include <string>
#include <vector>

namespace Tamo {

class IniFile {
public:
    // Registers a key with the value it has when the file does not set it; Save writes it then.
    void AddValue(const String& section, const String& key, const String& defaultValue);
    // Reads the file. A missing file is no error (all keys take their defaults); a file that exists
    // but cannot be read raises a Tamo::Exception. `mustExist` makes a missing file an error.
    void Load(const String& path, bool mustExist);
    // Writes the file (an empty path means the file last loaded): every line already there is kept,
    // keys with defaults that the file lacks are added to their sections. The file is replaced
    // atomically; an unchanged file is not rewritten.
    void Save(const String& path);
    // The file's value of a key, else its registered default, else the empty text.
    String EntryValue(const String& section, const String& key) const;

private:
    struct Line {
        std::string text;    // the line as it stands in the file
        std::string section; // section the line belongs to
        std::string key;     // key of a "key=value" line, else empty
        std::string value;
    };
    struct Default {
        std::string section, key, value;
    };
    const Line* Find(const std::string& section, const std::string& key) const;

    std::vector<Line> _lines;
    std::vector<Default> _defaults;
    std::string _path;
};

} // namespace Tamo
