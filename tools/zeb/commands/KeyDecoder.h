// The characters of the bytes a terminal sends, as the line editor reads them one key at a time.
// They are decoded in the locale's multibyte encoding (UTF-8, as zeb sets it for editing) by
// std::mbrtowc: a byte that can neither start nor continue a character is dropped, and the bytes
// after it are read afresh, so that a stray byte never becomes a key of its own (0x83 is no Ctrl-C).
#pragma once

#include <cwchar>
#include <optional>

namespace zeb::cli {

class KeyDecoder {
public:
    // The character that `byte` completes; none while a character is incomplete, or when the byte
    // was dropped.
    std::optional<wchar_t> Feed(unsigned char byte);

private:
    std::mbstate_t _state{};
    bool _pending = false; // bytes of an incomplete character were fed
};

} // namespace zeb::cli
