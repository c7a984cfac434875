#include "base/FileText.h"

#include "base/CommandError.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace zeb::cli {

std::string ReadBoundedFile(const std::filesystem::path& file, const std::string& what, uint64_t limit) {
    std::error_code error;
    if (std::filesystem::is_directory(file, error))
        throw CommandError("cannot read the " + what + " " + file.string() + ": it is a folder");
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw CommandError("cannot read the " + what + " " + file.string() + ": " + std::strerror(errno));
    std::string bytes;
    char buffer[64 * 1024];
    while (in) {
        in.read(buffer, sizeof buffer);
        bytes.append(buffer, static_cast<size_t>(in.gcount()));
        if (bytes.size() > limit)
            throw CommandError("the " + what + " " + file.string() + " is larger than " +
                               std::to_string(limit >> 20) + " MiB: it cannot be a " + what);
    }
    if (in.bad())
        throw CommandError("cannot read the " + what + " " + file.string());
    return bytes;
}

} // namespace zeb::cli
