// Parts of one's own for the station's tests: height and albedo maps written as PNG files into a
// folder of the test's own, and area-scan stations that put them under the camera.
#pragma once

#include "StationRig.h"
#include "TestPng.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace zeb::station::test {

using zeb::test::TestPng;

// A folder removed with the test.
class TestFolder {
public:
    TestFolder() {
        std::random_device random;
        _path = std::filesystem::temp_directory_path() /
                ("zeb-station-" + std::to_string(random()) + "-" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(_path);
    }
    ~TestFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(_path, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    const std::filesystem::path& Path() const { return _path; }
    std::filesystem::path operator/(const std::string& name) const { return _path / name; }
    // The station file's name in this folder, the one its relative file names start from.
    std::string StationFile() const { return (_path / "station.json").string(); }

private:
    std::filesystem::path _path;
};

// A map of `columns` x `rows` levels, `level(x, y)` given the map pixel's centre in millimetres on the
// object plane (x to the right, y up), at `pixelSize` millimetres per map pixel.
inline std::vector<uint16_t> MapLevels(int32_t columns, int32_t rows, double pixelSize,
                                       const std::function<double(double, double)>& level) {
    std::vector<uint16_t> levels(static_cast<size_t>(columns) * static_cast<size_t>(rows));
    for (int32_t row = 0; row < rows; ++row)
        for (int32_t column = 0; column < columns; ++column) {
            const double x = (column + 0.5 - columns / 2.0) * pixelSize,
                         y = (rows / 2.0 - row - 0.5) * pixelSize;
            levels[static_cast<size_t>(row) * columns + column] =
                static_cast<uint16_t>(std::clamp(std::lround(level(x, y)), 0L, 65535L));
        }
    return levels;
}

// Writes a 16-bit height map of `height(x, y)` millimetres at `heightScale` millimetres per level.
inline void WriteHeightMap(const std::filesystem::path& path, int32_t columns, int32_t rows, double pixelSize,
                           double heightScale, const std::function<double(double, double)>& height) {
    TestPng::Write(
        path, TestPng::Grey(columns, rows, 16, MapLevels(columns, rows, pixelSize, [&](double x, double y) {
                                return height(x, y) / heightScale;
                            })));
}

// Writes an albedo map of `bits` of `albedo(x, y)`.
inline void WriteAlbedoMap(const std::filesystem::path& path, int32_t columns, int32_t rows, double pixelSize,
                           int32_t bits, const std::function<double(double, double)>& albedo) {
    const double full = bits == 16 ? 65535 : 255;
    TestPng::Write(path, TestPng::Grey(columns, rows, bits,
                                       MapLevels(columns, rows, pixelSize,
                                                 [&](double x, double y) { return albedo(x, y) * full; })));
}

// The area-scan test station with `object` (a JSON object of a height map) under a `width` x `height`
// camera with exact pixels over `fieldOfView` millimetres, `workingDistance` below an unturned Dome M.
inline Json OwnObjectStation(const Json& object, int32_t width, int32_t height, double fieldOfView = 64,
                             double workingDistance = 10) {
    Json station = zeb::test::AreaSceneStation("card", width, height, zeb::test::ExactSensor());
    station["cameras"][0]["scene"] = {
        {"object", object}, {"fieldOfView", fieldOfView}, {"workingDistance", workingDistance}};
    return station;
}

// A rig on a station file in `folder`, so that the maps' names are relative to it.
inline StationRig RigIn(const TestFolder& folder, const Json& station) {
    return StationRig(station, folder.StationFile());
}

} // namespace zeb::station::test
