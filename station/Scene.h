// The object under a camera and its image before the sensor's noise. The object is one of the
// built-in targets (Targets.h) or a part of one's own from a height map (HeightMap.h). The camera
// sees a field of view of given width in millimetres centred under the dome; the object plane lies
// the working distance below the dome's rim (the sheet lies on it). Each pixel is shaded by the
// dome's quadrants as its point and normal receive them (see Dome.h), less what the object's own
// relief hides of them (Shadows.h), scaled by the albedo; a glossy surface adds its lobe (Gloss.h);
// the lens blurs; a dark offset is added and the grey values are clipped to 8 bits. A line camera sees one
// line across the middle of the dome while the transport carries the object under it, so its image is a strip
// of the object along the transport, lit everywhere as the line is.
//
// Rendered images are cached, so handing out a frame costs a copy, not shading.
#pragma once

#include "Dome.h"
#include "HeightMap.h"

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace zeb::station {

// Field of view across the sensor's width when the station file gives none, millimetres.
constexpr double DefaultAreaFieldOfView = 64;
constexpr double DefaultLineFieldOfView = 102.4;
// Distance from one object to the next on a line camera's transport, millimetres.
constexpr double ObjectPitch = 51.2;

struct SceneSettings {
    std::string object = "part"; // a built-in target: "part", "sphere", "card" (or "grey"), "sheet"
    // A part of one's own; when set, `object` is not used.
    std::shared_ptr<const HeightMapObject> ownObject;
    // A folder of recorded image sets that the camera plays back instead of a scene; empty: none.
    std::string replay;
    double defocus = 0;          // lens blur radius in pixels; 0 is best focus
    double fieldOfView = 0;      // millimetres across the sensor's width; 0: the default of the scan type
    double workingDistance = 10; // millimetres from the dome's rim down to the object plane
    // Millimetres from the rim's plane up to the lens's entrance pupil on the dome's axis, toward which
    // glossy surfaces reflect; 0: at the dome's top (its radius).
    double cameraHeight = 0;
};

struct RenderRequest {
    SceneSettings scene;
    int32_t width = 0, height = 0;             // image size
    int32_t offsetX = 0, offsetY = 0;          // image position on the sensor
    int32_t sensorWidth = 0, sensorHeight = 0; // sensor size
    bool reverse = false;                      // image turned by 180 degrees
    // A line camera's strip: `height` rows over one object pitch along the transport, every row lit
    // as the line across the dome's middle is.
    bool lineScan = false;
    // Share of the full grey scale per unit of relative irradiance and albedo, per physical quadrant
    // (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right).
    std::array<float, 4> weights{0, 0, 0, 0};
    double domeRadius = DefaultDomeRadius;
    double darkOffset = 0; // grey levels added before the 8-bit conversion
};

using Image = std::shared_ptr<const std::vector<uint8_t>>;

// The light of each quadrant at each pixel of the request: relative irradiance times the albedo of
// the diffuse part, plus a glossy surface's lobe, less what the relief hides; row after row as the
// image shows them. A weight of 1 makes one full grey scale of 1. Computed anew at each call.
std::array<std::vector<float>, 4> ShadeScene(const RenderRequest& request);

class SceneRenderer {
public:
    // The 8-bit image (width x height, rows packed) of the request; cached.
    Image Render(const RenderRequest& request);

private:
    struct Shading {
        std::string key;
        std::array<std::vector<float>, 4> planes; // relative irradiance times albedo of each quadrant
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
