// The object under a camera, rendered under the lit quadrants of the dome: Lambertian shading of a
// height and albedo map with the near-field fall-off of a dome light, and a lens blur. Rendered
// images are cached, so handing out a frame costs a copy, not shading.
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zeb::station {

struct SceneSettings {
    std::string object = "part"; // "part", "sheet" (white paper touching the dome) or "grey"
    double defocus = 0;          // lens blur radius in pixels; 0 is best focus
};

struct RenderRequest {
    SceneSettings scene;
    int32_t width = 0, height = 0;             // image size
    int32_t offsetX = 0, offsetY = 0;          // image position on the sensor
    int32_t sensorWidth = 0, sensorHeight = 0; // sensor size
    bool reverse = false;                      // image turned by 180 degrees
    std::array<float, 4> weights{0, 0, 0, 0};  // grey scale per physical quadrant (0 TL, 1 TR, 2 BL, 3 BR)
};

using Image = std::shared_ptr<const std::vector<uint8_t>>;

class SceneRenderer {
public:
    // The 8-bit image (width x height, rows packed) of the request; cached.
    Image Render(const RenderRequest& request);
    // Angle in degrees (counter-clockwise from the image's right, as seen from the camera) of a quadrant.
    static double QuadrantAngle(int32_t quadrant);

private:
    struct Shading {
        std::string key;
        std::array<std::vector<float>, 4> planes; // shade of each quadrant lit alone, full brightness
    };
    struct Cached {
        std::string key;
        Image image;
    };
    const Shading& ShadingFor(const RenderRequest& request);

    std::list<Shading> _shadings; // most recent first
    std::list<Cached> _images;    // most recent first
    size_t _imageBytes = 0;
};

} // namespace zeb::station
