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

void RefuseToReplace(const std::filesystem::path& file, const std::string& what, const std::string& kind,
                     const std::function<bool(const std::string&)>& isKind, uint64_t limit) {
    std::error_code error;
    if (std::filesystem::is_directory(file, error))
        throw CommandError("cannot write the " + what + " " + file.string() + ": it is a folder");
    if (!std::filesystem::exists(file, error))
        return;
    const bool regular = std::filesystem::is_regular_file(file, error);
    const uintmax_t size = regular ? std::filesystem::file_size(file, error) : 0;
    if (regular && !error && size == 0)
        return;
    if (!regular || error || size > limit || !isKind(ReadBoundedFile(file, what, limit)))
        throw CommandError(file.string() + " exists and is not " + kind +
                           ": remove it or choose another name");
}

void WriteWholeFile(const std::filesystem::path& file, const std::string& bytes, const std::string& what) {
    const std::string failure = "cannot write the " + what + " " + file.string() + ": ";
    std::error_code error;
    if (std::filesystem::is_directory(file, error))
        throw CommandError(failure + "it is a folder");
    std::filesystem::path partial = file;
    partial += ".partial";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out)
        throw CommandError(failure + std::strerror(errno));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        const std::string reason = std::strerror(errno);
        std::filesystem::remove(partial, error);
        throw CommandError(failure + reason);
    }
    std::filesystem::rename(partial, file, error);
    if (error) {
        const std::string reason = error.message();
        std::filesystem::remove(partial, error);
        throw CommandError(failure + reason);
    }
}

} // namespace zeb::cli
