#include "ZebTest.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace zeb::test {

namespace {
uint32_t BigEndian(const unsigned char* bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}
} // namespace

PngContents ReadPngFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PngContents png;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    png.image.pixels = ReadPngGrey(bytes, png.image.width, png.image.height);
    // The chunks after the 8-byte signature: length, type, data, CRC.
    for (size_t at = 8; at + 12 <= bytes.size();) {
        const uint32_t length = BigEndian(data + at);
        const std::string type = bytes.substr(at + 4, 4);
        const std::string body = bytes.substr(at + 8, length);
        if (type == "tEXt" || type == "iTXt") {
            const size_t zero = body.find('\0');
            std::string text = body.substr(zero + 1);
            if (type == "iTXt") // compression flag and method, then language and translated keyword
                text = text.substr(text.find('\0', text.find('\0', 2) + 1) + 1);
            png.texts[body.substr(0, zero)] = text;
        }
        at += 12 + length;
    }
    return png;
}

void ZebTest::UseStation(const Json& station) {
    const auto path = Path("station.json");
    TestEnvironment::WriteFile(path, station.dump(2));
    _station = path.string();
}

std::vector<std::string> ZebTest::StationArguments() const {
    if (_station.empty())
        return {};
    return {"--station", _station};
}

Outcome ZebTest::Zeb(std::vector<std::string> arguments, const std::string& input) {
    std::vector<std::string> all = StationArguments();
    all.insert(all.end(), arguments.begin(), arguments.end());
    return ZebProcess::Run(environment.Folder(), all, input);
}

} // namespace zeb::test
