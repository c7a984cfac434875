#include "PluginVersion.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#if defined(_WIN32)
#include <vector>
#include <windows.h>
#endif

namespace zeb::host {

namespace {

// Random access to the bytes of a file or of a buffer, checked against its size.
class Bytes {
public:
    using Reader = std::function<void(uint64_t offset, char* to, size_t length)>;
    Bytes(uint64_t size, Reader reader) : _size(size), _reader(std::move(reader)) {}

    // `length` bytes from `offset`; throws when they are not all in the file.
    std::string Get(uint64_t offset, uint64_t length, const char* what) const {
        if (offset > _size || length > _size - offset)
            throw std::runtime_error(std::string(what) + " lies outside the file");
        std::string bytes(static_cast<size_t>(length), '\0');
        _reader(offset, bytes.data(), bytes.size());
        return bytes;
    }

private:
    uint64_t _size;
    Reader _reader;
};

// Little-endian unsigned integer of `size` bytes at `at` in `bytes` (in range by construction).
uint64_t Number(std::string_view bytes, size_t at, int size) {
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

constexpr uint32_t NoteSegment = 4;        // PT_NOTE
constexpr uint64_t HeaderSize = 64;        // Elf64_Ehdr
constexpr uint64_t ProgramHeaderSize = 56; // Elf64_Phdr
constexpr uint64_t NoteHeaderSize = 12;    // Elf64_Nhdr: name size, descriptor size, type
constexpr uint32_t VersionNoteType = 1;
constexpr std::string_view VersionNoteOwner("Zeb\0", 4);
// Note segments hold a few small notes; anything larger is no segment of a real library.
constexpr uint64_t NoteSegmentLimit = 1 << 20;

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The version text among the notes of one note segment, if it is there.
std::optional<std::string> FindVersion(std::string_view notes, uint64_t alignment) {
    uint64_t at = 0;
    while (notes.size() - at >= NoteHeaderSize) {
        const uint64_t nameSize = Number(notes, at, 4);
        const uint64_t textSize = Number(notes, at + 4, 4);
        const uint64_t type = Number(notes, at + 8, 4);
        const uint64_t nameAt = at + NoteHeaderSize;
        if (nameSize > notes.size() - nameAt)
            throw std::runtime_error("a note runs past the end of its segment");
        const uint64_t textAt = AlignUp(nameAt + nameSize, alignment);
        if (textAt > notes.size() || textSize > notes.size() - textAt)
            throw std::runtime_error("a note runs past the end of its segment");
        if (type == VersionNoteType && notes.substr(nameAt, nameSize) == VersionNoteOwner) {
            std::string text(notes.substr(textAt, textSize));
            text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
            if (text.empty())
                throw std::runtime_error("its version note is empty");
            for (const char c : text)
                if (c < 0x20 || c > 0x7E)
                    throw std::runtime_error("its version note holds no text");
            return text;
        }
        at = AlignUp(textAt + textSize, alignment);
    }
    return std::nullopt;
}

std::string VersionFromElf(const Bytes& file) {
    const std::string header = file.Get(0, HeaderSize, "the ELF header");
    if (header.compare(0, 4,
                       "\x7F"
                       "ELF") != 0)
        throw std::runtime_error("not an ELF file");
    if (header[4] != 2 || header[5] != 1)
        throw std::runtime_error("not a 64-bit little-endian ELF file");
    const uint64_t programHeaders = Number(header, 32, 8);
    const uint64_t entrySize = Number(header, 54, 2);
    const uint64_t count = Number(header, 56, 2);
    if (count > 0 && entrySize != ProgramHeaderSize)
        throw std::runtime_error("its program headers are not those of a 64-bit file");
    const std::string table = file.Get(programHeaders, count * entrySize, "the program header table");
    for (uint64_t index = 0; index < count; ++index) {
        const size_t entry = static_cast<size_t>(index * entrySize);
        if (Number(table, entry, 4) != NoteSegment)
            continue;
        const uint64_t offset = Number(table, entry + 8, 8);
        const uint64_t size = Number(table, entry + 32, 8);
        if (size > NoteSegmentLimit)
            throw std::runtime_error("a note segment of " + std::to_string(size) + " bytes is too large");
        const uint64_t alignment = Number(table, entry + 48, 8) == 8 ? 8 : 4;
        if (auto text = FindVersion(file.Get(offset, size, "a note segment"), alignment))
            return *text;
    }
    throw std::runtime_error("it carries no version note");
}

#if defined(_WIN32)
std::wstring Wide(const std::string& text) {
    // The code page that LoadLibraryA reads a path in.
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const wchar_t* text, size_t length) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), narrow.data(), size, nullptr, nullptr);
    return narrow;
}
#endif

} // namespace

std::string ElfNoteVersion(std::string_view file) {
    return VersionFromElf(Bytes(file.size(), [file](uint64_t offset, char* to, size_t length) {
        file.copy(to, length, static_cast<size_t>(offset));
    }));
}

#if defined(_WIN32)

std::optional<std::string> VersionResourceText(const std::string& path, const std::string& key) {
    const std::wstring file = Wide(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return std::nullopt;
    std::vector<char> resource(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, resource.data()))
        return std::nullopt;
    struct Translation {
        WORD language;
        WORD codePage;
    }* translations = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueW(resource.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translations), &bytes) ||
        bytes < sizeof(Translation))
        return std::nullopt;
    wchar_t block[64];
    swprintf(block, 64, L"\\StringFileInfo\\%04X%04X\\", translations->language, translations->codePage);
    const std::wstring query = block + Wide(key);
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(resource.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) || !text)
        return std::nullopt;
    // The length counts the terminating zero, where there is one.
    size_t characters = length;
    while (characters > 0 && text[characters - 1] == L'\0')
        --characters;
    return Utf8(text, characters);
}

std::string PluginVersion(const std::string& path) {
    if (auto text = VersionResourceText(path, "FileVersion"))
        return *text;
    throw std::runtime_error(path + ": it carries no version resource");
}

#else

std::string PluginVersion(const std::string& path) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored))
        throw std::runtime_error(
            path + (std::filesystem::exists(path, ignored) ? ": not a file" : ": no such file"));
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        throw std::runtime_error(path + ": cannot be opened");
    const std::streamoff size = in.tellg();
    try {
        return VersionFromElf(Bytes(size > 0 ? static_cast<uint64_t>(size) : 0,
                                    [&in](uint64_t offset, char* to, size_t length) {
                                        in.seekg(static_cast<std::streamoff>(offset));
                                        in.read(to, static_cast<std::streamsize>(length));
                                        if (in.gcount() != static_cast<std::streamsize>(length))
                                            throw std::runtime_error("the file cannot be read");
                                    }));
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(path + ": " + error.what());
    }
}

#endif

} // namespace zeb::host
