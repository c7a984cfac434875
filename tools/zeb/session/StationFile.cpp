#include "session/StationFile.h"

#include "Station.h"
#include "base/CommandError.h"
#include "base/FileText.h"

namespace zeb::cli {

std::unique_ptr<station::Station> ReadStationFile(const std::string& path) {
    const std::string text = ReadBoundedFile(path, "station file");
    try {
        return station::Station::FromJson(text, path);
    } catch (const std::exception& error) {
        throw CommandError(error.what());
    }
}

void CheckStationFile(const std::string& path) {
    if (!path.empty())
        ReadStationFile(path);
}

} // namespace zeb::cli
