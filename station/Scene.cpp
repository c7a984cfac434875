#include "Scene.h"

#include <algorithm>
#include <cmath>

namespace zeb::station {

namespace {

constexpr size_t MaxShadings = 2;
constexpr size_t MaxImageBytes = 192u << 20;

std::string Number(double value) {
    return std::to_string(std::llround(value * 1000.0));
}

// What makes a shading differ: the object, the image's place on the sensor, the optics.
std::string GeometryKey(const RenderRequest& r) {
    std::string object = r.scene.object;
    if (const auto& own = r.scene.ownObject) {
        const Material& material = own->Description().material;
        object = "own" + std::to_string(own->Serial()) + "/" + material.type + "/" +
                 Number(material.roughness) + "/" + Number(material.specular) + "/c" +
                 Number(r.scene.cameraHeight);
    }
    return object + "/" + std::to_string(r.width) + "x" + std::to_string(r.height) + "+" +
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

const SceneRenderer::Shading& SceneRenderer::ShadingFor(const RenderRequest& r) {
    const std::string key = GeometryKey(r);
    for (auto it = _shadings.begin(); it != _shadings.end(); ++it)
        if (it->key == key) {
            _shadings.splice(_shadings.begin(), _shadings, it);
            return _shadings.front();
        }
    _shadings.push_front({key, ShadeScene(r)});
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
