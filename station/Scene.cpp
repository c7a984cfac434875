#include "Scene.h"

#include <algorithm>
#include <cmath>

namespace zeb::station {

namespace {

constexpr size_t MaxShadings = 2;
constexpr size_t MaxImageBytes = 192u << 20;
constexpr double FieldSpacing = 2.5; // millimetres between the nodes of the irradiance field

// Deterministic surface texture in [-1, 1] per sensor pixel.
double Texture(int32_t x, int32_t y) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFF) / 32767.5 - 1.0;
}

// A height field and its slope, summed over the features of a target.
struct Relief {
    double height = 0, dx = 0, dy = 0;
};

// A spherical cap rising from the plane: base circle of radius `base` around (cx, cy), `top` high.
void AddCap(Relief& relief, double x, double y, double cx, double cy, double base, double top) {
    const double sphere = (base * base + top * top) / (2 * top);
    const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
    if (r2 >= base * base)
        return;
    const double z = std::sqrt(sphere * sphere - r2);
    relief.height += z - (sphere - top);
    relief.dx -= (x - cx) / z;
    relief.dy -= (y - cy) / z;
}

// A rectangular pad `top` high with bevelled edges `bevel` wide.
void AddPad(Relief& relief, double x, double y, double cx, double cy, double halfWidth, double halfHeight,
            double top, double bevel) {
    const double inX = halfWidth - std::fabs(x - cx), inY = halfHeight - std::fabs(y - cy);
    const double inside = std::min(inX, inY);
    if (inside <= 0)
        return;
    if (inside >= bevel) {
        relief.height += top;
        return;
    }
    relief.height += top * inside / bevel;
    if (inX < inY)
        relief.dx -= std::copysign(top / bevel, x - cx);
    else
        relief.dy -= std::copysign(top / bevel, y - cy);
}

// A groove of parabolic section along a circle of radius `radius` around (cx, cy).
void AddRingGroove(Relief& relief, double x, double y, double cx, double cy, double radius, double halfWidth,
                   double depth) {
    const double r = std::hypot(x - cx, y - cy);
    const double off = r - radius;
    if (std::fabs(off) >= halfWidth || r <= 0)
        return;
    relief.height -= depth * (1 - (off / halfWidth) * (off / halfWidth));
    const double slope = 2 * depth * off / (halfWidth * halfWidth); // d height / d r
    relief.dx += slope * (x - cx) / r;
    relief.dy += slope * (y - cy) / r;
}

// A V-groove along the segment from (ax, ay) to (bx, by).
void AddScratch(Relief& relief, double x, double y, double ax, double ay, double bx, double by,
                double halfWidth, double depth) {
    const double t = std::clamp(((x - ax) * (bx - ax) + (y - ay) * (by - ay)) /
                                    ((bx - ax) * (bx - ax) + (by - ay) * (by - ay)),
                                0.0, 1.0);
    const double qx = ax + t * (bx - ax), qy = ay + t * (by - ay);
    const double d = std::hypot(x - qx, y - qy);
    if (d >= halfWidth)
        return;
    relief.height -= depth * (1 - d / halfWidth);
    if (d > 0) {
        relief.dx += depth / halfWidth * (x - qx) / d;
        relief.dy += depth / halfWidth * (y - qy) / d;
    }
}

Vector3 NormalOf(const Relief& relief) {
    const double norm = std::sqrt(relief.dx * relief.dx + relief.dy * relief.dy + 1);
    return {-relief.dx / norm, -relief.dy / norm, 1 / norm};
}

// The part: a machined plate with two spherical domes, a raised pad, an engraved ring and a scratch.
SurfacePoint Part(double x, double y, double texture) {
    Relief relief;
    AddCap(relief, x, y, -12.8, 7.7, 6.0, 2.5); // meets the plate at 45 degrees
    AddCap(relief, x, y, 13.8, -6.1, 4.6, 2.6); // meets the plate at 59 degrees
    AddPad(relief, x, y, -2.6, -14.3, 7.2, 3.1, 1.0, 1.0);
    AddRingGroove(relief, x, y, 11.3, 11.3, 3.6, 0.6, 0.4);
    AddScratch(relief, x, y, -21.5, -19.5, 6.1, -1.0, 0.2, 0.15);
    SurfacePoint point;
    point.height = relief.height;
    point.normal = NormalOf(relief);
    point.albedo = 0.6 * (1 + 0.08 * texture);
    if (relief.height < -0.05)
        point.albedo *= 0.75; // engravings are rougher and darker
    return point;
}

constexpr double SphereRadius = 20;

// A matte grey hemisphere on a dark plate.
SurfacePoint Sphere(double x, double y) {
    SurfacePoint point;
    const double r2 = x * x + y * y;
    if (r2 >= SphereRadius * SphereRadius) {
        point.albedo = 0.2;
        return point;
    }
    point.height = std::sqrt(SphereRadius * SphereRadius - r2);
    point.normal = {x / SphereRadius, y / SphereRadius, point.height / SphereRadius};
    point.albedo = 0.6;
    return point;
}

std::string Number(double value) {
    return std::to_string(std::llround(value * 1000.0));
}

std::string GeometryKey(const RenderRequest& r) {
    return r.scene.object + "/" + std::to_string(r.width) + "x" + std::to_string(r.height) + "+" +
           std::to_string(r.offsetX) + "+" + std::to_string(r.offsetY) + "/" + std::to_string(r.sensorWidth) +
           "x" + std::to_string(r.sensorHeight) + (r.reverse ? "/r" : "") + (r.lineScan ? "/line" : "") +
           "/f" + Number(r.scene.fieldOfView) + "/w" + Number(r.scene.workingDistance) + "/d" +
           Number(r.domeRadius);
}

// Separable box blur of radius r, applied twice (close to a Gaussian).
void Blur(std::vector<float>& image, int32_t width, int32_t height, int32_t radius) {
    if (radius <= 0 || width <= 0 || height <= 0)
        return;
    std::vector<float> line(static_cast<size_t>(std::max(width, height)));
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t y = 0; y < height; ++y) {
            float* row = &image[static_cast<size_t>(y) * width];
            for (int32_t x = 0; x < width; ++x) {
                double sum = 0;
                for (int32_t k = -radius; k <= radius; ++k)
                    sum += row[std::clamp(x + k, 0, width - 1)];
                line[static_cast<size_t>(x)] = static_cast<float>(sum / (2 * radius + 1));
            }
            std::copy(line.begin(), line.begin() + width, row);
        }
        for (int32_t x = 0; x < width; ++x) {
            for (int32_t y = 0; y < height; ++y) {
                double sum = 0;
                for (int32_t k = -radius; k <= radius; ++k)
                    sum += image[static_cast<size_t>(std::clamp(y + k, 0, height - 1)) * width + x];
                line[static_cast<size_t>(y)] = static_cast<float>(sum / (2 * radius + 1));
            }
            for (int32_t y = 0; y < height; ++y)
                image[static_cast<size_t>(y) * width + x] = line[static_cast<size_t>(y)];
        }
    }
}

} // namespace

SurfacePoint TargetSurface(const std::string& object, double x, double y, double texture) {
    if (object == "part")
        return Part(x, y, texture);
    if (object == "sphere")
        return Sphere(x, y);
    SurfacePoint point;
    point.albedo = object == "sheet" ? 0.9 * (1 + 0.02 * texture) : 0.5; // paper fibres; a uniform card
    return point;
}

std::pair<double, double> TargetHeights(const std::string& object) {
    if (object == "part")
        return {-0.4, 2.6};
    if (object == "sphere")
        return {0, SphereRadius};
    return {0, 0};
}

const SceneRenderer::Shading& SceneRenderer::ShadingFor(const RenderRequest& r) {
    const std::string key = GeometryKey(r);
    for (auto it = _shadings.begin(); it != _shadings.end(); ++it)
        if (it->key == key) {
            _shadings.splice(_shadings.begin(), _shadings, it);
            return _shadings.front();
        }
    Shading shading;
    shading.key = key;
    const int32_t width = std::max(r.width, 0), height = std::max(r.height, 0);
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (auto& plane : shading.planes)
        plane.assign(pixels, 0.0f);

    // Where the pixels lie on the object plane, and how far below the dome's rim that is.
    const double fieldOfView = r.scene.fieldOfView > 0 ? r.scene.fieldOfView
                               : r.lineScan            ? DefaultLineFieldOfView
                                                       : DefaultAreaFieldOfView;
    const double pixel = fieldOfView / std::max(1, r.sensorWidth);
    const double along = r.lineScan ? ObjectPitch / std::max(1, height) : pixel; // row pitch on the object
    const double rowsAbove = r.lineScan ? height / 2.0 : r.sensorHeight / 2.0 - r.offsetY;
    const double base = r.scene.object == "sheet" ? 0.0 : -std::max(0.0, r.scene.workingDistance);
    const auto [lowest, highest] = TargetHeights(r.scene.object);
    const double left = (r.offsetX + 0.5 - r.sensorWidth / 2.0) * pixel;
    const double top = (rowsAbove - 0.5) * along;
    const Vector3 low{left, r.lineScan ? 0.0 : top - (height - 1) * along, base + lowest};
    const Vector3 high{left + (width - 1) * pixel, r.lineScan ? 0.0 : top, base + highest};
    const Dome dome(r.domeRadius > 0 ? r.domeRadius : DefaultDomeRadius);
    const IrradianceField field(dome, low, high, FieldSpacing);
    // A facet tilted less than this sees every emitter above its horizon (with a margin for the
    // field's nodes): its irradiance is its normal times the vector irradiance.
    const double unshadowed = std::cos(std::max(0.0, field.LowestElevation() - 0.02));

    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t column = r.reverse ? width - 1 - x : x;
            const int32_t row = r.reverse ? height - 1 - y : y;
            const double objectX = left + column * pixel;
            const double objectY = top - row * along;
            const int32_t textureRow = r.lineScan ? row : r.offsetY + row;
            const SurfacePoint surface =
                TargetSurface(r.scene.object, objectX, objectY, Texture(r.offsetX + column, textureRow));
            const Vector3 point{objectX, r.lineScan ? 0.0 : objectY, base + surface.height};
            const size_t at = static_cast<size_t>(y) * width + x;
            if (surface.normal.z >= unshadowed) {
                const std::array<Vector3, 4> light = field.At(point);
                for (size_t q = 0; q < 4; ++q)
                    shading.planes[q][at] =
                        static_cast<float>(surface.albedo * std::max(0.0, Dot(surface.normal, light[q])));
            } else {
                for (int32_t q = 0; q < 4; ++q)
                    shading.planes[static_cast<size_t>(q)][at] =
                        static_cast<float>(surface.albedo * dome.Irradiance(q, point, surface.normal));
            }
        }
    }
    _shadings.push_front(std::move(shading));
    if (_shadings.size() > MaxShadings)
        _shadings.pop_back();
    return _shadings.front();
}

Image SceneRenderer::Render(const RenderRequest& r) {
    std::string key =
        GeometryKey(r) + "/b" + std::to_string(std::lround(r.scene.defocus)) + "/o" + Number(r.darkOffset);
    for (float w : r.weights)
        key += "/" + Number(w);
    for (auto it = _images.begin(); it != _images.end(); ++it)
        if (it->key == key) {
            _images.splice(_images.begin(), _images, it);
            return it->image;
        }

    const Shading& shading = ShadingFor(r);
    const size_t pixels = shading.planes[0].size();
    std::vector<float> radiance(pixels, 0.0f);
    for (int32_t q = 0; q < 4; ++q) {
        const float weight = r.weights[static_cast<size_t>(q)] * 255.0f;
        if (weight == 0)
            continue;
        const float* plane = shading.planes[static_cast<size_t>(q)].data();
        for (size_t i = 0; i < pixels; ++i)
            radiance[i] += weight * plane[i];
    }
    Blur(radiance, std::max(r.width, 0), std::max(r.height, 0),
         static_cast<int32_t>(std::lround(r.scene.defocus)));
    auto image = std::make_shared<std::vector<uint8_t>>(pixels);
    const float offset = static_cast<float>(r.darkOffset) + 0.5f;
    for (size_t i = 0; i < pixels; ++i) {
        const float grey = radiance[i] + offset;
        (*image)[i] = grey >= 255.0f ? 255 : grey > 0.0f ? static_cast<uint8_t>(grey) : 0; // NaN gives 0
    }

    _images.push_front({key, image});
    _imageBytes += pixels;
    while (_imageBytes > MaxImageBytes && _images.size() > 1) {
        _imageBytes -= _images.back().image->size();
        _images.pop_back();
    }
    return image;
}

} // namespace zeb::station
