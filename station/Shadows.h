// Cast shadows: a surface point is lit only by the parts of each quadrant that it sees past the
// object's own relief. The dome seen from a point is a sky of even radiance: in each azimuth the
// quadrant spans the elevations from the rim up to the camera's opening, cut where the hit point on
// the dome crosses into the neighbouring quadrant. The relief hides what lies below its horizon.
//
// The horizon is found for `Sectors` azimuths, each over the whole grid in one linear-time sweep:
// along each line of grid points in that direction, from the far end back, the upper convex hull of
// the points already passed gives the highest elevation under which a point sees the relief ahead.
// For each point and azimuth sector, the light hidden between the lowest elevation it could receive
// (the rim, or its own tangent plane) and that horizon is integrated in closed form over elevation,
// quadrant by quadrant, and taken from what the point receives unshadowed:
//   integral of (n . w) cos(elevation) d elevation d azimuth over the hidden part of the sky.
// Points whose horizon lies below the rim everywhere (a flat plate, the top of a dome) cost one
// comparison per sector.
#pragma once

#include "Dome.h"

#include <array>
#include <cstdint>
#include <vector>

namespace zeb::station {

// Azimuth sectors of the horizon: 360 / 44 = 8.2 degrees each, centred so that the diagonals toward
// the quadrants' middles are sector middles (44 is four times an odd number).
constexpr int32_t ShadowSectors = 44;

// The sector (0 to ShadowSectors - 1, counting from azimuth 0 toward +y) that holds the horizontal
// direction (x, y), which must not be 0.
int32_t ShadowSectorOf(double x, double y);

// The heights the horizons are swept over: the object's surface on the camera's pixel grid, extended
// beyond the image where relief outside it can shade it.
struct ReliefGrid {
    int32_t width = 0, height = 0;
    double pitchX = 0, pitchY = 0;  // millimetres per column (toward +x) and per row (toward -y)
    std::vector<float> z;           // surface height in the dome's frame, millimetres, row after row
    float plane = 0;                // the height of the flat plane around the object's relief
    int32_t imageX = 0, imageY = 0; // grid position of the image's first pixel
};

// What each image pixel (in object order, row after row) needs for its shadows.
struct ShadedPixels {
    int32_t width = 0, height = 0;
    std::vector<float> x, y, z;    // the point in the dome's frame where it receives light
    std::vector<float> nx, ny, nz; // its unit normal
    std::vector<float> diffuse;    // albedo times the share reflected diffusely
    // Glossy surfaces: the specular light each quadrant gives (added to the planes already), the
    // azimuth sector and the tan of the elevation of the mirror direction (sector -1: none).
    std::array<std::vector<float>, 4> specular;
    std::vector<int16_t> mirrorSector;
    std::vector<float> mirrorTan;
    double roughness = 0;
};

// The dome as a continuous surface for the shadows: radius, opening, and the reference irradiance
// that relative values are divided by.
struct DomeShape {
    double radius = DefaultDomeRadius;
    double opening = 0;       // radius of the camera's opening
    double openingHeight = 0; // height of its edge above the rim's plane
    double reference = 1;
    explicit DomeShape(const Dome& dome);
};

// Takes from each quadrant's plane (relative irradiance times albedo, and the specular light) what
// the relief hides of that quadrant; planes are left at 0 or above.
void CastShadows(const ReliefGrid& grid, const ShadedPixels& pixels, const DomeShape& dome,
                 std::array<std::vector<float>, 4>& planes);

// The horizon (tan of its elevation) of every point of a grid of heights in one direction, seen
// looking that way along the line of that direction passing nearest to the point in its column, with
// heights interpolated between rows; -infinity where nothing lies ahead, and where a point of the flat
// plane at height `plane` sees nothing but that plane ahead. `along` and `across` are the direction's
// millimetres per millimetre along the grid's columns and rows; the direction must step through
// columns at least as fast as through rows (|along| / pitchX >= |across| / pitchY).
void SweepHorizons(const float* z, int32_t width, int32_t height, double pitchX, double pitchY, double along,
                   double across, float plane, float* horizon);

// The light a facet at `point` with unit `normal` does not receive of each quadrant (relative
// irradiance) because the relief rises to `horizon` (tan of elevation) over the azimuth sector of
// width `sectorWidth` (radians) around the horizontal unit direction (ux, uy).
std::array<double, 4> HiddenLight(const DomeShape& dome, const Vector3& point, const Vector3& normal,
                                  double ux, double uy, double sectorWidth, double horizon);

} // namespace zeb::station
