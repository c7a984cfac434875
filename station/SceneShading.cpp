// Shading a scene once per configuration: each pixel's surface point under the dome's quadrants,
// unshadowed (the vector irradiance field, or the emitters one by one for steep facets), the glossy
// lobe, and then the cast shadows swept over the relief around the image.
#include "Gloss.h"
#include "Scene.h"
#include "Shadows.h"
#include "Targets.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace zeb::station {

namespace {

constexpr double FieldSpacing = 2.5; // millimetres between the nodes of the irradiance field
// The relief swept for shadows extends the image by at most this many times its larger side.
constexpr double LargestMargin = 1.0;

// Deterministic surface texture in [-1, 1] per sensor pixel.
double Texture(int32_t x, int32_t y) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFF) / 32767.5 - 1.0;
}

// What lies under the camera, a built-in target or a part of one's own, as the shading asks for it.
class Object {
public:
    explicit Object(const SceneSettings& scene) : _own(scene.ownObject.get()), _name(scene.object) {}

    SurfacePoint At(double x, double y, double texture) const {
        return _own ? _own->At(x, y) : TargetSurface(_name, x, y, texture);
    }
    double Height(double x, double y) const {
        return _own ? _own->Height(x, y) : TargetSurface(_name, x, y, 0).height;
    }
    std::pair<double, double> Heights() const {
        return _own ? std::pair{_own->Lowest(), _own->Highest()} : TargetHeights(_name);
    }
    PlaneBox Relief() const {
        if (!_own)
            return TargetRelief(_name);
        if (!(_own->Highest() > _own->Lowest()))
            return {};
        return {-_own->HalfWidth(), -_own->HalfHeight(), _own->HalfWidth(), _own->HalfHeight()};
    }
    Material Surface() const { return _own ? _own->Description().material : Material{}; }
    bool OnRim() const { return !_own && _name == "sheet"; }

private:
    const HeightMapObject* _own;
    const std::string& _name;
};

// Where the image lies on the object plane.
struct Placement {
    double pixel = 0, along = 0; // millimetres per column, per row
    double left = 0, top = 0;    // the first pixel's centre
    double base = 0;             // the object plane's height in the dome's frame
};

// The height most of the grid stands at (the plate of a part, or the object plane around it), from
// a sample of its points: the sweep passes lightly over what is flat at that height.
float MostCommonHeight(const std::vector<float>& z) {
    std::unordered_map<float, int32_t> counts;
    const size_t step = std::max<size_t>(1, z.size() / 4096);
    for (size_t at = 0; at < z.size(); at += step)
        ++counts[z[at]];
    std::pair<float, int32_t> most{z.empty() ? 0.0f : z.front(), 0};
    for (const auto& [height, count] : counts)
        if (count > most.second || (count == most.second && height < most.first))
            most = {height, count};
    return most.first;
}

// The relief the shadows are swept over: the image's pixels, and beyond them, on the same grid, the
// object's relief that lies within reach of casting a shadow into the image. The image's own heights
// are those its pixels were shaded at (`imageZ`, row after row), the same sums at the same points.
ReliefGrid GridFor(const RenderRequest& r, const Object& object, const Placement& at, double domeRadius,
                   const std::vector<float>& imageZ) {
    const int32_t width = std::max(r.width, 0), height = std::max(r.height, 0);
    ReliefGrid grid;
    grid.pitchX = at.pixel;
    grid.pitchY = at.along;
    const PlaneBox relief = object.Relief();
    int32_t margins[4] = {0, 0, 0, 0}; // left, right, above, below, in pixels
    if (!relief.Empty()) {
        // How far a shadow reaches: the relief's height over the tan of the rim's lowest elevation
        // from the lowest point (within the dome: at most its diameter away).
        const auto [lowest, highest] = object.Heights();
        const double below = -(at.base + lowest);
        const double reach = below > 0 ? (highest - lowest) * 2 * domeRadius / below : 4 * domeRadius;
        const double right = at.left + (width - 1) * at.pixel, bottom = at.top - (height - 1) * at.along;
        const double largest = LargestMargin * std::max(width, height);
        auto pixels = [&](double millimetres, double pitch) {
            return static_cast<int32_t>(std::clamp(std::ceil(millimetres / pitch), 0.0, largest));
        };
        margins[0] = pixels(std::min(reach, at.left - relief.left), at.pixel);
        margins[1] = pixels(std::min(reach, relief.right - right), at.pixel);
        if (!r.lineScan) { // a line camera's strip is one object along the transport
            margins[2] = pixels(std::min(reach, relief.top - at.top), at.along);
            margins[3] = pixels(std::min(reach, bottom - relief.bottom), at.along);
        }
    }
    grid.width = width + margins[0] + margins[1];
    grid.height = height + margins[2] + margins[3];
    grid.imageX = margins[0];
    grid.imageY = margins[2];
    grid.z.resize(static_cast<size_t>(grid.width) * static_cast<size_t>(grid.height));
    for (int32_t row = 0; row < grid.height; ++row) {
        const bool imageRow = row >= grid.imageY && row < grid.imageY + height;
        for (int32_t column = 0; column < grid.width; ++column) {
            float& z = grid.z[static_cast<size_t>(row) * grid.width + column];
            if (imageRow && column >= grid.imageX && column < grid.imageX + width)
                z = imageZ[static_cast<size_t>(row - grid.imageY) * width + (column - grid.imageX)];
            else
                z = static_cast<float>(at.base + object.Height(at.left + (column - grid.imageX) * at.pixel,
                                                               at.top - (row - grid.imageY) * at.along));
        }
    }
    grid.plane = MostCommonHeight(grid.z);
    return grid;
}

} // namespace

std::array<std::vector<float>, 4> ShadeScene(const RenderRequest& r) {
    std::array<std::vector<float>, 4> planes;
    const int32_t width = std::max(r.width, 0), height = std::max(r.height, 0);
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (auto& plane : planes)
        plane.assign(pixels, 0.0f);

    // Where the pixels lie on the object plane, and how far below the dome's rim that is.
    const Object object(r.scene);
    const double fieldOfView = r.scene.fieldOfView > 0 ? r.scene.fieldOfView
                               : r.lineScan            ? DefaultLineFieldOfView
                                                       : DefaultAreaFieldOfView;
    Placement at;
    at.pixel = fieldOfView / std::max(1, r.sensorWidth);
    at.along = r.lineScan ? ObjectPitch / std::max(1, height) : at.pixel; // row pitch on the object
    const double rowsAbove = r.lineScan ? height / 2.0 : r.sensorHeight / 2.0 - r.offsetY;
    at.base = object.OnRim() ? 0.0 : -std::max(0.0, r.scene.workingDistance);
    const auto [lowest, highest] = object.Heights();
    at.left = (r.offsetX + 0.5 - r.sensorWidth / 2.0) * at.pixel;
    at.top = (rowsAbove - 0.5) * at.along;
    const Vector3 low{at.left, r.lineScan ? 0.0 : at.top - (height - 1) * at.along, at.base + lowest};
    const Vector3 high{at.left + (width - 1) * at.pixel, r.lineScan ? 0.0 : at.top, at.base + highest};
    const Dome dome(r.domeRadius > 0 ? r.domeRadius : DefaultDomeRadius);
    const DomeShape shape(dome);
    const IrradianceField field(dome, low, high, FieldSpacing);
    // A facet tilted less than this sees every emitter above its horizon (with a margin for the
    // field's nodes): its irradiance is its normal times the vector irradiance.
    const double unshadowed = std::cos(std::max(0.0, field.LowestElevation() - 0.02));

    const Material material = object.Surface();
    const bool glossy = material.Glossy();
    const double share = material.SpecularShare();
    const Vector3 camera{0, 0, r.scene.cameraHeight > 0 ? r.scene.cameraHeight : dome.Radius()};
    const bool relief = !object.Relief().Empty();
    ShadedPixels shaded;
    shaded.width = width;
    shaded.height = height;
    if (relief)
        for (auto* values :
             {&shaded.x, &shaded.y, &shaded.z, &shaded.nx, &shaded.ny, &shaded.nz, &shaded.diffuse})
            values->resize(pixels);
    if (relief && glossy) {
        for (auto& values : shaded.specular)
            values.resize(pixels);
        shaded.mirrorSector.resize(pixels);
        shaded.mirrorTan.resize(pixels);
        shaded.roughness = material.roughness;
    }

    // The planes written per pixel, as plain pointers: the calls per pixel would have the vectors'
    // storage looked up again at each use.
    const std::array<float*, 4> lit{planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()};
    const std::array<float*, 4> specular{shaded.specular[0].data(), shaded.specular[1].data(),
                                         shaded.specular[2].data(), shaded.specular[3].data()};
    float *const shadedX = shaded.x.data(), *const shadedY = shaded.y.data(),
                 *const shadedZ = shaded.z.data();
    float *const shadedNx = shaded.nx.data(), *const shadedNy = shaded.ny.data(),
                 *const shadedNz = shaded.nz.data();
    float* const shadedDiffuse = shaded.diffuse.data();
    int16_t* const mirrorSector = shaded.mirrorSector.data();
    float* const mirrorTan = shaded.mirrorTan.data();
    for (int32_t row = 0; row < height; ++row) {
        for (int32_t column = 0; column < width; ++column) {
            const double objectX = at.left + column * at.pixel;
            const double objectY = at.top - row * at.along;
            const int32_t textureRow = r.lineScan ? row : r.offsetY + row;
            const SurfacePoint surface = object.At(objectX, objectY, Texture(r.offsetX + column, textureRow));
            const Vector3 point{objectX, r.lineScan ? 0.0 : objectY, at.base + surface.height};
            const size_t i = static_cast<size_t>(row) * width + column;
            const double diffuse = glossy ? surface.albedo * (1 - share) : surface.albedo;
            if (surface.normal.z >= unshadowed) {
                const std::array<Vector3, 4> light = field.At(point);
                for (size_t q = 0; q < 4; ++q)
                    lit[q][i] = static_cast<float>(diffuse * std::max(0.0, Dot(surface.normal, light[q])));
            } else {
                for (int32_t q = 0; q < 4; ++q)
                    lit[static_cast<size_t>(q)][i] =
                        static_cast<float>(diffuse * dome.Irradiance(q, point, surface.normal));
            }
            MirrorLight mirror;
            if (glossy) {
                mirror = SpecularLight(shape, point, surface.normal, camera, material.roughness);
                for (size_t q = 0; q < 4; ++q)
                    lit[q][i] += static_cast<float>(share * mirror.quadrant[q]);
            }
            if (!relief)
                continue;
            shadedX[i] = static_cast<float>(point.x);
            shadedY[i] = static_cast<float>(point.y);
            shadedZ[i] = static_cast<float>(point.z);
            shadedNx[i] = static_cast<float>(surface.normal.x);
            shadedNy[i] = static_cast<float>(surface.normal.y);
            shadedNz[i] = static_cast<float>(surface.normal.z);
            shadedDiffuse[i] = static_cast<float>(diffuse);
            if (glossy) {
                for (size_t q = 0; q < 4; ++q)
                    specular[q][i] = static_cast<float>(share * mirror.quadrant[q]);
                const double across =
                    std::sqrt(mirror.mirror.x * mirror.mirror.x + mirror.mirror.y * mirror.mirror.y);
                mirrorSector[i] = -1;
                if (across > 1e-9) {
                    mirrorSector[i] = static_cast<int16_t>(ShadowSectorOf(mirror.mirror.x, mirror.mirror.y));
                    mirrorTan[i] = static_cast<float>(mirror.mirror.z / across);
                }
            }
        }
    }
    if (relief)
        CastShadows(GridFor(r, object, at, dome.Radius(), shaded.z), shaded, shape, planes);
    if (r.reverse)
        for (auto& plane : planes)
            std::reverse(plane.begin(), plane.end());
    return planes;
}

} // namespace zeb::station
