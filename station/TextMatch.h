// Small text tests the station's tables share.
#pragma once

#include <initializer_list>
#include <string_view>

namespace zeb::station {

inline bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

inline bool OneOf(std::string_view v, std::initializer_list<std::string_view> values) {
    for (const std::string_view candidate : values)
        if (v == candidate)
            return true;
    return false;
}

} // namespace zeb::station
