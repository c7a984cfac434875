#include "Scene.h"

#include <algorithm>
#include <cmath>

namespace zeb::station {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Elevation = 40.0 * Pi / 180.0;
constexpr size_t MaxShadings = 2;
constexpr size_t MaxImageBytes = 192u << 20;

// Deterministic surface texture in [-1, 1] per sensor pixel.
double Texture(int32_t x, int32_t y) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFF) / 32767.5 - 1.0;
}

double Clamp01(double v) {
    return v < 0 ? 0 : v > 1 ? 1 : v;
}

// Height of the inspected part in units of the sensor's shorter side; positive is raised.
double PartHeight(double px, double py) {
    double h = 0;
    auto bump = [&](double cx, double cy, double radius, double height) {
        const double r2 = ((px - cx) * (px - cx) + (py - cy) * (py - cy)) / (radius * radius);
        if (r2 < 1)
            h += height * (1 - r2) * (1 - r2);
    };
    bump(-0.25, -0.15, 0.12, 0.05);
    bump(0.27, 0.12, 0.09, 0.04);
    // Raised plate with bevelled edges.
    const double edge = std::min(0.14 - std::fabs(px + 0.05), 0.06 - std::fabs(py - 0.28));
    if (edge > 0)
        h += 0.02 * Clamp01(edge / 0.02);
    // Engraved ring.
    const double ring = std::fabs(std::hypot(px - 0.22, py + 0.22) - 0.07);
    if (ring < 0.012)
        h -= 0.012 * (1 - (ring / 0.012) * (ring / 0.012));
    // Scratch: a thin V-groove.
    const double ax = -0.42, ay = 0.38, bx = 0.12, by = 0.02;
    const double t = Clamp01(((px - ax) * (bx - ax) + (py - ay) * (by - ay)) /
                             ((bx - ax) * (bx - ax) + (by - ay) * (by - ay)));
    const double d = std::hypot(px - (ax + t * (bx - ax)), py - (ay + t * (by - ay)));
    if (d < 0.004)
        h -= 0.004 * (1 - d / 0.004);
    return h;
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

std::string GeometryKey(const RenderRequest& r) {
    return r.scene.object + "/" + std::to_string(r.width) + "x" + std::to_string(r.height) + "+" +
           std::to_string(r.offsetX) + "+" + std::to_string(r.offsetY) + "/" + std::to_string(r.sensorWidth) +
           "x" + std::to_string(r.sensorHeight) + (r.reverse ? "/r" : "");
}

} // namespace

double SceneRenderer::QuadrantAngle(int32_t quadrant) {
    static const double angles[4] = {135, 45, 225, 315};
    return angles[quadrant & 3];
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
    const size_t pixels =
        static_cast<size_t>(std::max(r.width, 0)) * static_cast<size_t>(std::max(r.height, 0));
    for (auto& plane : shading.planes)
        plane.assign(pixels, 0.0f);

    const bool part = r.scene.object == "part";
    const bool sheet = r.scene.object == "sheet";
    const double albedoBase = sheet ? 0.9 : part ? 0.6 : 0.5;
    const double falloff = sheet ? 0.5 : part ? 0.15 : 0.0;
    const double texture = sheet ? 0.02 : part ? 0.08 : 0.0;
    const double scale = std::max(1, std::min(r.sensorWidth, r.sensorHeight));
    double lx[4], ly[4];
    for (int q = 0; q < 4; ++q) {
        const double angle = QuadrantAngle(q) * Pi / 180.0;
        lx[q] = std::cos(angle);
        ly[q] = -std::sin(angle); // image rows grow downward
    }
    for (int32_t y = 0; y < r.height; ++y) {
        for (int32_t x = 0; x < r.width; ++x) {
            const int32_t sx = r.offsetX + (r.reverse ? r.width - 1 - x : x);
            const int32_t sy = r.offsetY + (r.reverse ? r.height - 1 - y : y);
            const double px = (sx - r.sensorWidth / 2.0) / scale;
            const double py = (sy - r.sensorHeight / 2.0) / scale;
            double nx = 0, ny = 0, nz = 1;
            double albedo = albedoBase * (1 + texture * Texture(sx, sy));
            if (part) {
                const double d = 1.0 / scale;
                const double hx = (PartHeight(px + d, py) - PartHeight(px - d, py)) / (2 * d);
                const double hy = (PartHeight(px, py + d) - PartHeight(px, py - d)) / (2 * d);
                const double norm = std::sqrt(hx * hx + hy * hy + 1);
                nx = -hx / norm, ny = -hy / norm, nz = 1 / norm;
                if (PartHeight(px, py) < -0.001)
                    albedo *= 0.75; // engravings are rougher and darker
            }
            // Position across the field, -1 .. 1, for the fall-off toward the lit side.
            const double u = 2.0 * sx / std::max(1, r.sensorWidth) - 1.0;
            const double v = 2.0 * sy / std::max(1, r.sensorHeight) - 1.0;
            const size_t at = static_cast<size_t>(y) * r.width + x;
            for (int q = 0; q < 4; ++q) {
                const double lambert =
                    std::max(0.0, nx * lx[q] * std::cos(Elevation) + ny * ly[q] * std::cos(Elevation) +
                                      nz * std::sin(Elevation));
                const double near = 1 + falloff * (u * lx[q] + v * ly[q]) / 2;
                shading.planes[static_cast<size_t>(q)][at] = static_cast<float>(albedo * lambert * near);
            }
        }
    }
    _shadings.push_front(std::move(shading));
    if (_shadings.size() > MaxShadings)
        _shadings.pop_back();
    return _shadings.front();
}

Image SceneRenderer::Render(const RenderRequest& r) {
    std::string key = GeometryKey(r) + "/d" + std::to_string(std::lround(r.scene.defocus));
    for (float w : r.weights)
        key += "/" + std::to_string(std::lround(w * 1000.0));
    for (auto it = _images.begin(); it != _images.end(); ++it)
        if (it->key == key) {
            _images.splice(_images.begin(), _images, it);
            return it->image;
        }

    const Shading& shading = ShadingFor(r);
    const size_t pixels = shading.planes[0].size();
    std::vector<float> radiance(pixels, 0.0f);
    for (int q = 0; q < 4; ++q) {
        const float weight = r.weights[static_cast<size_t>(q)] * 255.0f;
        if (weight == 0)
            continue;
        const float* plane = shading.planes[static_cast<size_t>(q)].data();
        for (size_t i = 0; i < pixels; ++i)
            radiance[i] += weight * plane[i];
    }
    Blur(radiance, r.width, r.height, static_cast<int32_t>(std::lround(r.scene.defocus)));
    auto image = std::make_shared<std::vector<uint8_t>>(pixels);
    for (size_t i = 0; i < pixels; ++i)
        (*image)[i] = static_cast<uint8_t>(std::clamp(std::lround(radiance[i]), 0L, 255L));

    _images.push_front({key, image});
    _imageBytes += pixels;
    while (_imageBytes > MaxImageBytes && _images.size() > 1) {
        _imageBytes -= _images.back().image->size();
        _images.pop_back();
    }
    return image;
}

} // namespace zeb::station
