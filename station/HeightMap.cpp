#include "HeightMap.h"

#include "PngImage.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>

namespace zeb::station {

namespace {

// A map file is read whole; one this large is no map.
constexpr uint64_t LargestMapFile = uint64_t{1} << 30;

std::string Describe(const PngInfo& info) {
    const char* kind = info.colourType == 0   ? "grey"
                       : info.colourType == 4 ? "grey with alpha"
                       : info.colourType == 3 ? "palette"
                                              : "colour";
    return std::to_string(info.width) + " x " + std::to_string(info.height) + ", " +
           std::to_string(info.bitDepth) + "-bit " + kind;
}

struct Map {
    PngInfo info;
    std::vector<uint16_t> levels;
};

// Reads a map, refusing it with "<what> <path>: <reason>" unless it is grey of an accepted depth.
Map ReadMap(const std::string& what, const std::string& stationFile, const std::string& name,
            const FileSource& files, bool eightBits) {
    const std::filesystem::path path = BesideStationFile(stationFile, name);
    try {
        const std::string bytes = files.Read(path, LargestMapFile);
        Map map{ReadPngInfo(bytes, LargestMapSide), {}};
        const bool depth = map.info.bitDepth == 16 || (eightBits && map.info.bitDepth == 8);
        if (!map.info.Grey() || !depth)
            throw std::runtime_error(
                "is " + Describe(map.info) + "; " +
                (eightBits ? "an albedo map is 8- or 16-bit grey" : "a height map is 16-bit grey"));
        map.levels = DecodeGrey16(bytes, map.info);
        return map;
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(what + " " + path.string() + ": " + error.what());
    }
}

} // namespace

std::shared_ptr<const HeightMapObject> HeightMapObject::Load(const HeightMapDescription& description,
                                                             const std::string& stationFile,
                                                             const FileSource& files) {
    static std::atomic<uint64_t> serials{0};
    auto object = std::shared_ptr<HeightMapObject>(new HeightMapObject());
    object->_description = description;
    Map heights = ReadMap("height map", stationFile, description.heightMap, files, false);
    object->_width = heights.info.width;
    object->_height = heights.info.height;
    object->_levels = std::move(heights.levels);
    const auto [low, high] = std::minmax_element(object->_levels.begin(), object->_levels.end());
    object->_lowest = std::min(0.0, *low * description.heightScale);
    object->_highest = std::max(0.0, *high * description.heightScale);
    if (!description.albedoMap.empty()) {
        Map albedo = ReadMap("albedo map", stationFile, description.albedoMap, files, true);
        object->_albedoWidth = albedo.info.width;
        object->_albedoHeight = albedo.info.height;
        object->_albedo = std::move(albedo.levels);
    }
    object->_serial = ++serials;
    return object;
}

double HeightMapObject::Level(int32_t column, int32_t row) const {
    column = std::clamp(column, 0, _width - 1);
    row = std::clamp(row, 0, _height - 1);
    return _levels[static_cast<size_t>(row) * static_cast<size_t>(_width) + static_cast<size_t>(column)] *
           _description.heightScale;
}

namespace {

// Where a point of the object plane lies on a map of `columns` x `rows` pixels centred in the field:
// the map pixel before it and the share of the next one, in each direction.
struct MapPlace {
    int32_t column = 0, row = 0;
    double right = 0, down = 0;
    bool inside = false;
};

MapPlace Place(double x, double y, int32_t columns, int32_t rows, double pixelSize) {
    const double u = x / pixelSize + columns / 2.0 - 0.5, v = rows / 2.0 - 0.5 - y / pixelSize;
    MapPlace place;
    place.inside = u >= -0.5 && u <= columns - 0.5 && v >= -0.5 && v <= rows - 0.5;
    const double cu = std::clamp(u, 0.0, columns - 1.0), cv = std::clamp(v, 0.0, rows - 1.0);
    place.column = std::min(static_cast<int32_t>(cu), std::max(columns - 2, 0));
    place.row = std::min(static_cast<int32_t>(cv), std::max(rows - 2, 0));
    place.right = columns > 1 ? cu - place.column : 0.0;
    place.down = rows > 1 ? cv - place.row : 0.0;
    return place;
}

template <typename Sample> double Bilinear(const MapPlace& p, Sample sample) {
    const double top = sample(p.column, p.row) * (1 - p.right) + sample(p.column + 1, p.row) * p.right;
    const double bottom =
        sample(p.column, p.row + 1) * (1 - p.right) + sample(p.column + 1, p.row + 1) * p.right;
    return top * (1 - p.down) + bottom * p.down;
}

} // namespace

double HeightMapObject::Height(double x, double y) const {
    const MapPlace place = Place(x, y, _width, _height, _description.pixelSize);
    if (!place.inside)
        return 0;
    return Bilinear(place, [this](int32_t c, int32_t r) { return Level(c, r); });
}

double HeightMapObject::Albedo(double x, double y) const {
    if (_albedo.empty())
        return UniformAlbedo;
    const MapPlace place = Place(x, y, _albedoWidth, _albedoHeight, _description.pixelSize);
    const int32_t last = _albedoWidth - 1, bottom = _albedoHeight - 1;
    return Bilinear(
               place,
               [&](int32_t c, int32_t r) {
                   return static_cast<double>(
                       _albedo[static_cast<size_t>(std::min(r, bottom)) * static_cast<size_t>(_albedoWidth) +
                               static_cast<size_t>(std::min(c, last))]);
               }) /
           65535.0;
}

SurfacePoint HeightMapObject::At(double x, double y) const {
    SurfacePoint point;
    point.albedo = Albedo(x, y);
    const MapPlace place = Place(x, y, _width, _height, _description.pixelSize);
    if (!place.inside)
        return point;
    // The heights around the four map pixels the point lies between, fetched once (indices clamped to
    // the map): the four pixels themselves and their neighbours left, right, above and below.
    double level[4][4]; // [row - place.row + 1][column - place.column + 1]
    if (place.column >= 1 && place.column + 2 < _width && place.row >= 1 && place.row + 2 < _height) {
        // Within the map, as almost everywhere: four rows of four, read straight.
        const size_t width = static_cast<size_t>(_width);
        const uint16_t* first = &_levels[static_cast<size_t>(place.row - 1) * width + (place.column - 1)];
        for (size_t j = 0; j < 4; ++j)
            for (size_t i = 0; i < 4; ++i)
                level[j][i] = first[j * width + i] * _description.heightScale;
    } else {
        for (int32_t j = 0; j < 4; ++j)
            for (int32_t i = 0; i < 4; ++i)
                level[j][i] = Level(place.column + i - 1, place.row + j - 1);
    }
    point.height =
        Bilinear(place, [&](int32_t c, int32_t r) { return level[r - place.row + 1][c - place.column + 1]; });
    // Each pixel's slope (d height / d x, d height / d y) from central differences, one-sided at the
    // map's edges.
    double slopes[2][2][2];
    for (int32_t i = 0; i < 2; ++i)
        for (int32_t j = 0; j < 2; ++j) {
            const int32_t column = place.column + i, row = place.row + j;
            const int32_t left = std::max(column - 1, 0), right = std::min(column + 1, _width - 1);
            const int32_t up = std::max(row - 1, 0), down = std::min(row + 1, _height - 1);
            // Clamped to the map, the neighbours' heights are those in the block one step either side.
            slopes[i][j][0] = right > left ? (level[j + 1][i + 2] - level[j + 1][i]) /
                                                 ((right - left) * _description.pixelSize)
                                           : 0.0;
            slopes[i][j][1] =
                down > up ? (level[j][i + 1] - level[j + 2][i + 1]) / ((down - up) * _description.pixelSize)
                          : 0.0;
        }
    const double dx =
        Bilinear(place, [&](int32_t c, int32_t r) { return slopes[c - place.column][r - place.row][0]; });
    const double dy =
        Bilinear(place, [&](int32_t c, int32_t r) { return slopes[c - place.column][r - place.row][1]; });
    const double norm = std::sqrt(dx * dx + dy * dy + 1);
    point.normal = {-dx / norm, -dy / norm, 1 / norm};
    return point;
}

} // namespace zeb::station
