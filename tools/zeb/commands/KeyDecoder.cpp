#include "commands/KeyDecoder.h"

#include <utility>

namespace zeb::cli {

std::optional<wchar_t> KeyDecoder::Feed(unsigned char byte) {
    const char text = static_cast<char>(byte);
    wchar_t character = 0;
    const size_t used = std::mbrtowc(&character, &text, 1, &_state);
    if (used == static_cast<size_t>(-2)) {
        _pending = true;
        return std::nullopt;
    }
    if (used == static_cast<size_t>(-1)) {
        _state = {};
        // A character cut short: this byte may start the next one.
        if (std::exchange(_pending, false))
            return Feed(byte);
        return std::nullopt;
    }
    _pending = false;
    return character;
}

} // namespace zeb::cli
