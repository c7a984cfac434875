// A small text test the station's tables share.
#pragma once

#include <initializer_list>
#include <string_view>

namespace zeb::station {

inline bool OneOf(std::string_view v, std::initializer_list<std::string_view> values) {
    for (const std::string_view candidate : values)
        if (v == candidate)
            return true;
    return false;
}

} // namespace zeb::station
