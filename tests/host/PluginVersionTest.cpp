// The plug-in's version: one text set by the build, logged at start-up and carried in the file
// (an ELF note on Linux, the version resource on Windows), where tools read it without loading it.
#include "PluginVersion.h"
#include "HostTest.h"

#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zeb::test {

namespace {

// The reason a version read fails, or "" when it succeeds.
template <typename Read> std::string Failure(Read read) {
    try {
        read();
        return "";
    } catch (const std::runtime_error& error) {
        return error.what();
    }
}

void Put(std::string& bytes, size_t at, int size, uint64_t value) {
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
}

std::string Word(uint32_t value) {
    std::string bytes(4, '\0');
    Put(bytes, 0, 4, value);
    return bytes;
}

std::string Padded(std::string bytes, size_t alignment) {
    bytes.resize((bytes.size() + alignment - 1) / alignment * alignment, '\0');
    return bytes;
}

// One note as a linker lays it out: sizes, type and owner; the text and the next note start at
// the alignment.
std::string Note(std::string_view owner, uint32_t type, std::string_view text, size_t alignment = 4) {
    const std::string head = Word(static_cast<uint32_t>(owner.size())) +
                             Word(static_cast<uint32_t>(text.size())) + Word(type) + std::string(owner);
    return Padded(Padded(head, alignment) + std::string(text), alignment);
}

const std::string Owner("Zeb\0", 4);
const std::string Text("26.1.0.564\0", 11);

struct Segment {
    uint32_t type = 4; // a note segment
    std::string bytes;
    uint64_t alignment = 4;
};

// A 64-bit little-endian ELF file whose program headers name the segments, laid out after them.
std::string Elf(const std::vector<Segment>& segments) {
    std::string header(64, '\0');
    header.replace(0, 4,
                   "\x7F"
                   "ELF");
    header[4] = 2; // 64-bit
    header[5] = 1; // little-endian
    header[6] = 1;
    Put(header, 32, 8, 64);
    Put(header, 54, 2, 56);
    Put(header, 56, 2, segments.size());
    std::string table, contents;
    const size_t contentsAt = 64 + 56 * segments.size();
    for (const Segment& segment : segments) {
        std::string entry(56, '\0');
        Put(entry, 0, 4, segment.type);
        Put(entry, 8, 8, contentsAt + contents.size());
        Put(entry, 32, 8, segment.bytes.size());
        Put(entry, 48, 8, segment.alignment);
        table += entry;
        contents += segment.bytes;
    }
    return header + table + contents;
}

} // namespace

class PluginVersion : public HostTest {};

TEST_F(PluginVersion, TheBuiltPlugInCarriesAndLogsTheBuildsVersion) {
    EXPECT_EQ(host::PluginVersion(host::Plugin::DefaultPath()), ZEB_PLUGIN_VERSION);
    LoadDefaultStation();
    Channel();
    EXPECT_TRUE(environment.Logged("Morvane ZEB version: " ZEB_PLUGIN_VERSION));
}

#if defined(_WIN32)
// What Explorer's file properties and a host's driver list show.
TEST_F(PluginVersion, TheDllsVersionResourceIsComplete) {
    const std::string path = host::Plugin::DefaultPath();
    for (const char* key : {"FileVersion", "ProductVersion"})
        EXPECT_EQ(host::VersionResourceText(path, key), ZEB_PLUGIN_VERSION) << key;
    EXPECT_EQ(host::VersionResourceText(path, "OriginalFilename"), "Tamo.Morvane.Zeb.dll");
    EXPECT_EQ(host::VersionResourceText(path, "InternalName"), "Tamo.Morvane.Zeb");
    for (const char* key : {"CompanyName", "FileDescription", "ProductName", "LegalCopyright"})
        EXPECT_FALSE(host::VersionResourceText(path, key).value_or("").empty()) << key;
    EXPECT_EQ(host::VersionResourceText(path, "NoSuchText"), std::nullopt);

    const std::wstring file(path.begin(), path.end());
    DWORD ignored = 0;
    std::vector<char> resource(GetFileVersionInfoSizeW(file.c_str(), &ignored));
    ASSERT_FALSE(resource.empty());
    ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(resource.size()), resource.data()));
    VS_FIXEDFILEINFO* numbers = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(resource.data(), L"\\", reinterpret_cast<void**>(&numbers), &size));
    const std::string fileVersion = std::to_string(HIWORD(numbers->dwFileVersionMS)) + "." +
                                    std::to_string(LOWORD(numbers->dwFileVersionMS)) + "." +
                                    std::to_string(HIWORD(numbers->dwFileVersionLS)) + "." +
                                    std::to_string(LOWORD(numbers->dwFileVersionLS));
    EXPECT_EQ(fileVersion, ZEB_PLUGIN_VERSION);
    EXPECT_EQ(numbers->dwProductVersionMS, numbers->dwFileVersionMS);
    EXPECT_EQ(numbers->dwProductVersionLS, numbers->dwFileVersionLS);
    EXPECT_EQ(numbers->dwFileType, static_cast<DWORD>(VFT_DLL));
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(resource.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &size));
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);
}

TEST_F(PluginVersion, AFileWithoutAResourceSaysSo) {
    const auto path = environment.Folder() / "plain.dll";
    TestEnvironment::WriteFile(path, "MZ");
    EXPECT_EQ(Failure([&] { host::PluginVersion(path.string()); }),
              path.string() + ": it carries no version resource");
}
#else
TEST_F(PluginVersion, FilesThatAreNoPlugInSaySo) {
    const auto missing = environment.Folder() / "missing.so";
    EXPECT_EQ(Failure([&] { host::PluginVersion(missing.string()); }), missing.string() + ": no such file");
    const auto text = environment.Folder() / "text.so";
    TestEnvironment::WriteFile(text,
                               "not a library, and long enough to hold an ELF header of sixty-four bytes");
    EXPECT_EQ(Failure([&] { host::PluginVersion(text.string()); }), text.string() + ": not an ELF file");
    EXPECT_EQ(Failure([&] { host::PluginVersion(environment.Folder().string()); }),
              environment.Folder().string() + ": not a file");
    EXPECT_EQ(Failure([] { host::PluginVersion("/dev/zero"); }), "/dev/zero: not a file");
    const auto empty = environment.Folder() / "empty.so";
    TestEnvironment::WriteFile(empty, "");
    EXPECT_EQ(Failure([&] { host::PluginVersion(empty.string()); }),
              empty.string() + ": the ELF header lies outside the file");
}
#endif

// The note reader walks the file's note segments as the linker laid them out, and bytes that are no
// such file, or lie about their sizes, give a reason instead of a crash or a read beyond the end.
TEST(ElfNoteVersion, FindsTheNoteAmongOthers) {
    EXPECT_EQ(host::ElfNoteVersion(Elf({{.bytes = Note(Owner, 1, Text)}})), "26.1.0.564");
    // Other owners and types first, another segment before.
    const std::string others = Note(std::string("GNU\0", 4), 3, std::string(20, 'x')) +
                               Note(Owner, 2, "other") + Note(std::string("Zebra\0", 6), 1, "5.0");
    EXPECT_EQ(
        host::ElfNoteVersion(Elf({{.type = 1, .bytes = "code"}, {.bytes = others + Note(Owner, 1, Text)}})),
        "26.1.0.564");
    // A segment of 8-byte alignment, where owners and texts end at other places than at 4.
    const std::string aligned = Note(std::string("GNU\0", 4), 5, std::string(20, 'x'), 8) +
                                Note(std::string("Zebra\0", 6), 1, "5.0", 8) + Note(Owner, 1, Text, 8);
    EXPECT_EQ(host::ElfNoteVersion(Elf({{.bytes = others}, {.bytes = aligned, .alignment = 8}})),
              "26.1.0.564");
    // A text without its terminating zero is the whole descriptor.
    EXPECT_EQ(host::ElfNoteVersion(Elf({{.bytes = Note(Owner, 1, "1.2.3.4")}})), "1.2.3.4");
}

TEST(ElfNoteVersion, BytesThatAreNoSuchFileGiveTheReason) {
    const auto reason = [](const std::string& bytes) {
        return Failure([&] { host::ElfNoteVersion(bytes); });
    };
    const std::string good = Elf({{.bytes = Note(Owner, 1, Text)}});
    EXPECT_EQ(reason(""), "the ELF header lies outside the file");
    EXPECT_EQ(reason(good.substr(0, 63)), "the ELF header lies outside the file");
    EXPECT_EQ(reason("MZ" + good.substr(2)), "not an ELF file");
    std::string other = good;
    other[4] = 1;
    EXPECT_EQ(reason(other), "not a 64-bit little-endian ELF file");
    other = good;
    other[5] = 2;
    EXPECT_EQ(reason(other), "not a 64-bit little-endian ELF file");

    EXPECT_EQ(reason(Elf({})), "it carries no version note");
    EXPECT_EQ(reason(Elf({{.type = 1, .bytes = Note(Owner, 1, Text)}})), "it carries no version note");
    EXPECT_EQ(reason(good.substr(0, 64 + 55)), "the program header table lies outside the file");
    other = good;
    Put(other, 32, 8, ~uint64_t{0} - 8); // the table's offset wraps around
    EXPECT_EQ(reason(other), "the program header table lies outside the file");
    other = good;
    Put(other, 54, 2, 32);
    EXPECT_EQ(reason(other), "its program headers are not those of a 64-bit file");
    other = good;
    Put(other, 64 + 32, 8, ~uint64_t{0}); // the segment's size
    EXPECT_EQ(reason(other), "a note segment of 18446744073709551615 bytes is too large");
    other = good;
    Put(other, 64 + 8, 8, good.size() - 4); // the segment runs past the end
    EXPECT_EQ(reason(other), "a note segment lies outside the file");

    const std::string note = Note(Owner, 1, Text);
    std::string lying = note;
    Put(lying, 0, 4, 0xFFFFFFFF); // owner size
    EXPECT_EQ(reason(Elf({{.bytes = lying}})), "a note runs past the end of its segment");
    lying = note;
    Put(lying, 4, 4, 0xFFFFFFFF); // text size
    EXPECT_EQ(reason(Elf({{.bytes = lying}})), "a note runs past the end of its segment");
    EXPECT_EQ(reason(Elf({{.bytes = note.substr(0, note.size() - 4)}})),
              "a note runs past the end of its segment");
    // A segment too short for one more note header ends the walk.
    EXPECT_EQ(reason(Elf({{.bytes = Note(Owner, 2, "x") + "tail"}})), "it carries no version note");

    EXPECT_EQ(reason(Elf({{.bytes = Note(Owner, 1, std::string("\0", 1))}})), "its version note is empty");
    EXPECT_EQ(reason(Elf({{.bytes = Note(Owner, 1, "26.1\x1B[2J")}})), "its version note holds no text");
}

} // namespace zeb::test
