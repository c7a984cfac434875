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
    // A UTF-8 byte-order mark at the start is not part of the first line; lines may end in CR LF
    // or LF. A key's value is the text after the first "=", without surrounding white space.
    void Load(const String& path, bool mustExist);
    // Writes the file (an empty path means the file last loaded): every line already there is kept
    // byte for byte with its line ending and the byte-order mark, keys with defaults that the file
    // lacks are added to their sections with the file's line ending. The file is replaced
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
        std::string ending; // "\r\n", "\n", or empty for a last line without one
    };
    struct Default {
        std::string section, key, value;
    };
    const Line* Find(const std::string& section, const std::string& key) const;

    // The line ending that added lines get: the file's first one, else the system's.
    std::string LineEnding() const;

    std::string _byteOrderMark; // as the file began, or empty
    std::vector<Line> _lines;
    std::vector<Default> _defaults;
    std::string _path;
};

} // namespace Tamo
