// Searching the lines of a device trace or the messages of a log.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace zeb::test {

using Strings = std::vector<std::string>;

inline bool Contains(const Strings& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline bool HasPrefix(const Strings& lines, const std::string& prefix) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

// The wanted lines that `lines` lacks, in order: empty when every one is there.
inline Strings Missing(const Strings& lines, const Strings& wanted) {
    Strings missing;
    for (const std::string& line : wanted)
        if (!Contains(lines, line))
            missing.push_back(line);
    return missing;
}

} // namespace zeb::test
