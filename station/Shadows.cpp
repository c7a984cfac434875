#include "Shadows.h"

#include "Gloss.h"
#include "HorizonSweep.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace zeb::station {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr float None = -std::numeric_limits<float>::infinity();
constexpr double Infinite = std::numeric_limits<double>::infinity();
constexpr size_t PrefetchAhead = 8; // points found by the sweep, some hundred nanoseconds of work

// Where, going up in elevation along one azimuth, the dome's hit point crosses the plane of one axis
// (x = 0 or y = 0): the tan of that elevation, and the sign of the coordinate below and above it.
struct Crossing {
    double tan = Infinite;
    int below = 1, above = 1;
};

// `position` is the point's coordinate on that axis, `direction` the azimuth's component along it
// and `inverse` its inverse; `other` and `otherDirection` the same for the other horizontal axis.
[[gnu::always_inline]] inline Crossing CrossingOf(double radius, double z, double position, double direction,
                                                  double inverse, double other, double otherDirection,
                                                  double rimDistance) {
    Crossing crossing;
    const int away = direction > 0 ? 1 : -1;
    if (direction == 0) {
        crossing.below = crossing.above = position < 0 ? -1 : 1;
        return crossing;
    }
    const double distance = -position * inverse; // horizontal distance to the plane
    if (distance <= 0) {
        crossing.below = crossing.above = away; // moving away from the plane: never crossed
        return crossing;
    }
    if (distance >= rimDistance) {
        crossing.tan = -Infinite; // the plane lies beyond the rim: every hit is on the near side
        crossing.below = crossing.above = -away;
        return crossing;
    }
    const double across = other + distance * otherDirection;
    crossing.tan = (std::sqrt(std::max(0.0, radius * radius - across * across)) - z) / distance;
    crossing.below = away; // far hits, low on the dome, lie beyond the plane
    crossing.above = -away;
    return crossing;
}

int QuadrantOf(int xSign, int ySign) {
    return ySign > 0 ? (xSign > 0 ? 1 : 0) : (xSign > 0 ? 3 : 2);
}

void Transpose(const float* from, int32_t width, int32_t height, float* to) {
    constexpr int32_t Block = 32;
    for (int32_t r0 = 0; r0 < height; r0 += Block)
        for (int32_t c0 = 0; c0 < width; c0 += Block)
            for (int32_t r = r0; r < std::min(height, r0 + Block); ++r)
                for (int32_t c = c0; c < std::min(width, c0 + Block); ++c)
                    to[static_cast<size_t>(c) * static_cast<size_t>(height) + static_cast<size_t>(r)] =
                        from[static_cast<size_t>(r) * static_cast<size_t>(width) + static_cast<size_t>(c)];
}

} // namespace

DomeShape::DomeShape(const Dome& dome)
    : radius(dome.Radius()), opening(Dome::OpeningShare * dome.Radius()),
      openingHeight(dome.Radius() * std::sqrt(1 - Dome::OpeningShare * Dome::OpeningShare)),
      reference(dome.Reference()) {}

namespace {

// The grid points off the plane at height `plane`.
std::vector<uint32_t> ReliefOf(const float* z, size_t cells, float plane) {
    std::vector<uint32_t> relief;
    for (size_t at = 0; at < cells; ++at)
        if (z[at] != plane)
            relief.push_back(static_cast<uint32_t>(at));
    return relief;
}

} // namespace

namespace {

// A number that grows with a direction's azimuth from 0 at +x to 4 at a full turn, without an arc
// tangent: the share of the way round the unit diamond |x| + |y| = 1.
double DiamondAngle(double x, double y) {
    if (y >= 0)
        return x >= 0 ? y / (x + y) : 1 - x / (y - x);
    return x < 0 ? 2 - y / (-x - y) : 3 + x / (x - y);
}

} // namespace

int32_t ShadowSectorOf(double x, double y) {
    // The sectors' first edges on the same scale, and for each 64th of that scale the last sector
    // whose first edge lies at or below its start: no sector is narrower than a 64th, so the search
    // from there takes a step or two.
    constexpr int32_t Steps = 64;
    struct Edges {
        std::array<double, ShadowSectors> at{};
        std::array<int8_t, 4 * Steps + 1> from{};
    };
    static const Edges edges = [] {
        Edges e;
        for (int32_t k = 0; k < ShadowSectors; ++k) {
            const double azimuth = 2 * Pi * k / ShadowSectors;
            e.at[static_cast<size_t>(k)] = k == 0 ? 0.0 : DiamondAngle(std::cos(azimuth), std::sin(azimuth));
        }
        for (int32_t m = 0; m <= 4 * Steps; ++m)
            e.from[static_cast<size_t>(m)] = static_cast<int8_t>(
                std::upper_bound(e.at.begin(), e.at.end(), static_cast<double>(m) / Steps) - e.at.begin() -
                1);
        return e;
    }();
    const double angle = DiamondAngle(x, y);
    if (!(angle >= 0 && angle <= 4))
        return static_cast<int32_t>(std::upper_bound(edges.at.begin(), edges.at.end(), angle) -
                                    edges.at.begin()) -
               1;
    int32_t k = edges.from[static_cast<size_t>(angle * Steps)];
    while (k + 1 < ShadowSectors && edges.at[static_cast<size_t>(k + 1)] <= angle)
        ++k;
    return k;
}

void SweepHorizons(const float* z, int32_t width, int32_t height, double pitchX, double pitchY, double along,
                   double across, float plane, float* horizon) {
    const size_t cells = static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0));
    std::fill(horizon, horizon + cells, None);
    const std::vector<float> everything(cells, -std::numeric_limits<float>::infinity());
    SweepLines(z, everything.data(), ReliefOf(z, cells, plane), width, height, pitchX, pitchY, along, across,
               false, [&](int, size_t at, float h) { horizon[at] = h; });
}

namespace {

// One azimuth direction: its unit vector and the inverses of its components.
struct Direction {
    double x = 1, y = 0, inverseX = 1, inverseY = Infinite;
    explicit Direction(double azimuth) : x(std::cos(azimuth)), y(std::sin(azimuth)) {
        inverseX = x != 0 ? 1 / x : Infinite;
        inverseY = y != 0 ? 1 / y : Infinite;
    }
};

// One azimuth sector: its middle direction, the directions of its edges, and of the equal parts it is
// split into where a quadrant's edge runs through it; and what its width and chord (and a part's)
// contribute to the hidden light, over the dome's reference irradiance.
struct Sector {
    static constexpr int Parts = 4;
    Direction middle;
    double flatScale = 0, sideScale = 0, partFlatScale = 0, partSideScale = 0;
    double fromX = 1, fromY = 0, toX = 1, toY = 0;
    // The points where the quadrants' edges meet the rim, (0, r), (0, -r), (r, 0) and (-r, 0), as
    // the cross products of the sector's first edge with them and of them with its last edge.
    std::array<double, 4> rimFrom{}, rimTo{};
    std::vector<Direction> parts;

    Sector(double azimuth, double width, const DomeShape& dome)
        : middle(azimuth), flatScale(width / 2 / dome.reference),
          sideScale(2 * std::sin(width / 2) / 2 / dome.reference),
          partFlatScale(width / Parts / 2 / dome.reference),
          partSideScale(2 * std::sin(width / Parts / 2) / 2 / dome.reference),
          fromX(std::cos(azimuth - width / 2)), fromY(std::sin(azimuth - width / 2)),
          toX(std::cos(azimuth + width / 2)), toY(std::sin(azimuth + width / 2)) {
        const double r = dome.radius;
        rimFrom = {fromX * r, -fromX * r, -fromY * r, fromY * r};
        rimTo = {-toX * r, toX * r, toY * r, -toY * r};
        for (int k = 0; k < Parts; ++k)
            parts.emplace_back(azimuth - width / 2 + (k + 0.5) * width / Parts);
    }
    // Whether the sector holds the direction from (x, y) to a point where a quadrant's edge meets the
    // rim: for the direction d = e - p, from x d > 0 and d x to > 0, that is from x e > from x p and
    // e x to > p x to.
    bool HoldsRimEdge(double x, double y) const {
        const double from = fromX * y - fromY * x, to = x * toY - y * toX;
        // Without branches: the four tests are cheap and rarely decide early.
        int holds = 0;
        for (size_t k = 0; k < 4; ++k)
            holds |= static_cast<int>(rimFrom[k] > from) & static_cast<int>(rimTo[k] > to);
        return holds != 0;
    }
};

// A pixel's surface point as its shadows need it, in 32 bytes.
struct Facet {
    float x = 0, y = 0, z = 0;    // in the dome's frame
    float nx = 0, ny = 0, nz = 1; // unit normal
    float openingTan = 0;         // below this elevation (tan) no azimuth reaches the camera's opening
    float diffuse = 0;            // albedo times the share reflected diffusely
};

Facet FacetOf(const DomeShape& dome, const Vector3& p, const Vector3& n, double diffuse) {
    const double openingTan = (dome.openingHeight - p.z) / (std::sqrt(p.x * p.x + p.y * p.y) + dome.opening);
    return {static_cast<float>(p.x),        static_cast<float>(p.y),    static_cast<float>(p.z),
            static_cast<float>(n.x),        static_cast<float>(n.y),    static_cast<float>(n.z),
            static_cast<float>(openingTan), static_cast<float>(diffuse)};
}

// The dome seen along one azimuth from a point: the lowest elevation (tan) the facet receives light
// from (the rim, or its own plane), where the hit point crosses the planes x = 0 and y = 0, and where
// the camera's opening lies.
struct Sky {
    double low = 0;
    Crossing x, y;
    double openLow = Infinite, openHigh = Infinite;
    // Whether a quadrant's edge runs through the elevations from `low` up to `horizon`.
    bool Crosses(double horizon) const {
        return (x.tan > low && x.tan < horizon) || (y.tan > low && y.tan < horizon);
    }
};

// False when nothing of the sky along `u` lies between the facet's lowest elevation and the horizon:
// the point outside the rim, or the horizon below the rim or the facet's own plane (`ownTan`).
[[gnu::always_inline]] inline bool SkyAlong(const DomeShape& dome, const Facet& f, double ownTan,
                                            const Direction& u, double horizon, Sky& sky) {
    const double inside = dome.radius * dome.radius - double{f.x} * f.x - double{f.y} * f.y;
    if (!(inside > 0))
        return false;
    const double b = f.x * u.x + f.y * u.y;
    const double rimDistance = -b + std::sqrt(b * b + inside);
    sky.low = std::max(-f.z / rimDistance, ownTan);
    if (!(horizon > sky.low))
        return false;
    sky.x = CrossingOf(dome.radius, f.z, f.x, u.x, u.inverseX, f.y, u.y, rimDistance);
    sky.y = CrossingOf(dome.radius, f.z, f.y, u.y, u.inverseY, f.x, u.x, rimDistance);
    sky.openLow = sky.openHigh = Infinite;
    if (horizon > f.openingTan) {
        const double d = b * b + inside - dome.radius * dome.radius + dome.opening * dome.opening;
        if (d > 0) {
            const double root = std::sqrt(d), far = -b + root, near = -b - root;
            if (far > 0) {
                sky.openLow = (dome.openingHeight - f.z) / far;
                sky.openHigh = near > 0 ? (dome.openingHeight - f.z) / near : Infinite;
            }
        }
    }
    return true;
}

// The hidden light of the sky between its lowest elevation and the horizon along one direction, for
// all of an azimuth width: n_z sin^2 / 2 over the width, and the normal's part along the direction
// (`facing`) times (elevation + sin cos) / 2 over the chord, split into the quadrants at the edges.
// `flatScale` is the width and `sideScale` the chord, each over twice the reference irradiance.
[[gnu::always_inline]] inline void AddSectorLight(const Sky& sky, double nz, double facing, double flatScale,
                                                  double sideScale, double horizon,
                                                  std::array<double, 4>& hidden) {
    const bool tilted = facing != 0;
    const double flat = flatScale * nz, side = sideScale * facing;
    auto integral = [&](double t) {
        const double sin2 = t * t / (1 + t * t);
        return tilted ? flat * sin2 + side * (std::atan(t) + t / (1 + t * t)) : flat * sin2;
    };
    const auto inBand = [&](double at) { return at > sky.low && at < horizon; };
    if (!inBand(sky.x.tan) && !inBand(sky.y.tan) && !inBand(sky.openLow) && !inBand(sky.openHigh)) {
        // One stretch of one quadrant's sky, the most common case.
        const double middle = (sky.low + horizon) / 2;
        if (!(middle > sky.openLow && middle < sky.openHigh)) {
            const int q = QuadrantOf(middle < sky.x.tan ? sky.x.below : sky.x.above,
                                     middle < sky.y.tan ? sky.y.below : sky.y.above);
            // The difference of the two elevations as one arc tangent, where the identity holds.
            const double h = horizon, l = sky.low, across = 1 + h * l;
            if (tilted && across > 0) {
                const double sin2 = h * h / (1 + h * h) - l * l / (1 + l * l);
                const double rise = std::atan((h - l) / across) + h / (1 + h * h) - l / (1 + l * l);
                hidden[static_cast<size_t>(q)] += flat * sin2 + side * rise;
            } else {
                hidden[static_cast<size_t>(q)] += integral(horizon) - integral(sky.low);
            }
        }
        return;
    }
    double breaks[7] = {sky.low, horizon};
    int count = 2;
    for (const double at : {sky.x.tan, sky.y.tan, sky.openLow, sky.openHigh})
        if (at > sky.low && at < horizon)
            breaks[count++] = at;
    for (int i = 3; i < count; ++i) // the low end and the horizon bound the others: sort those between
        for (int j = i; j > 2 && breaks[j] < breaks[j - 1]; --j)
            std::swap(breaks[j], breaks[j - 1]);
    breaks[count] = breaks[1]; // the horizon last
    for (int i = 1; i < count; ++i)
        breaks[i] = breaks[i + 1];
    double previous = integral(breaks[0]);
    for (int i = 1; i < count; ++i) {
        const double next = integral(breaks[i]);
        const double middle = (breaks[i - 1] + breaks[i]) / 2;
        if (!(middle > sky.openLow && middle < sky.openHigh)) {
            const int q = QuadrantOf(middle < sky.x.tan ? sky.x.below : sky.x.above,
                                     middle < sky.y.tan ? sky.y.below : sky.y.above);
            hidden[static_cast<size_t>(q)] += next - previous;
        }
        previous = next;
    }
}

[[gnu::always_inline]] inline std::array<double, 4> Hidden(const DomeShape& dome, const Sector& sector,
                                                           const Facet& f, double horizon) {
    std::array<double, 4> hidden{0, 0, 0, 0};
    if (!(f.nz > 0))
        return hidden; // a facet facing down
    const double facing = f.nx * sector.middle.x + f.ny * sector.middle.y;
    const double ownTan = facing != 0 ? -facing / f.nz : 0.0;
    Sky sky;
    if (!(horizon > ownTan) || !SkyAlong(dome, f, ownTan, sector.middle, horizon, sky))
        return hidden;
    // A quadrant's edge seen from the point turns in azimuth as it rises: where one runs through the
    // hidden sky at the sector's middle, or the sector holds the direction in which a quadrant's edge
    // meets the rim, the sector is split so that each part takes its own share of either side.
    if (!sky.Crosses(horizon) && !sector.HoldsRimEdge(f.x, f.y)) {
        AddSectorLight(sky, f.nz, facing, sector.flatScale, sector.sideScale, horizon, hidden);
        return hidden;
    }
    for (const Direction& u : sector.parts) {
        const double partFacing = f.nx * u.x + f.ny * u.y;
        if (SkyAlong(dome, f, partFacing != 0 ? -partFacing / f.nz : 0.0, u, horizon, sky))
            AddSectorLight(sky, f.nz, partFacing, sector.partFlatScale, sector.partSideScale, horizon,
                           hidden);
    }
    return hidden;
}

} // namespace

std::array<double, 4> HiddenLight(const DomeShape& dome, const Vector3& p, const Vector3& n, double ux,
                                  double uy, double sectorWidth, double horizon) {
    return Hidden(dome, Sector(std::atan2(uy, ux), sectorWidth, dome), FacetOf(dome, p, n, 1), horizon);
}

void CastShadows(const ReliefGrid& grid, const ShadedPixels& pixels, const DomeShape& dome,
                 std::array<std::vector<float>, 4>& planes) {
    const size_t count = static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height);
    if (count == 0 || grid.z.empty())
        return;
    const auto [lowestZ, highestZ] = std::minmax_element(grid.z.begin(), grid.z.end());
    if (*lowestZ == *highestZ)
        return; // a flat surface hides nothing from itself

    // Below this horizon a pixel sees the whole dome: the rim's lowest elevation from its point. Grid
    // points beyond the image need no horizon of their own.
    // Each grid point's pixel, for the points the sweep finds.
    const size_t cells = grid.z.size();
    std::vector<float> threshold(cells, std::numeric_limits<float>::infinity());
    std::vector<uint32_t> pixelAt(cells, 0);
    for (int32_t row = 0; row < pixels.height; ++row)
        for (int32_t column = 0; column < pixels.width; ++column) {
            const size_t i = static_cast<size_t>(row) * static_cast<size_t>(pixels.width) + column;
            const double x = pixels.x[i], y = pixels.y[i], reach = std::sqrt(x * x + y * y), z = pixels.z[i];
            const size_t at = static_cast<size_t>(grid.imageY + row) * grid.width + grid.imageX + column;
            threshold[at] = reach >= dome.radius ? std::numeric_limits<float>::infinity()
                            : z <= 0             ? static_cast<float>(-z / (dome.radius + reach))
                                                 : static_cast<float>(-z / (dome.radius - reach));
            pixelAt[at] = static_cast<uint32_t>(i);
        }
    std::vector<Facet> facets(count);
    for (size_t i = 0; i < count; ++i)
        facets[i] = FacetOf(dome, {pixels.x[i], pixels.y[i], pixels.z[i]},
                            {pixels.nx[i], pixels.ny[i], pixels.nz[i]}, pixels.diffuse[i]);
    // What the relief hides of each quadrant, the four side by side, taken from the planes at the end.
    std::vector<std::array<float, 4>> lost(count, {0, 0, 0, 0});
    const std::vector<uint32_t> relief = ReliefOf(grid.z.data(), cells, grid.plane);
    std::vector<float> turned, turnedThreshold;
    std::vector<uint32_t> turnedPixelAt, turnedRelief;
    const bool glossy = !pixels.mirrorSector.empty();
    const double width = 2 * Pi / ShadowSectors;
    struct Found {
        uint32_t pixel;
        float horizon;
    };
    std::array<std::vector<Found>, 2> found;
    // Each family of lines serves a sector and the one opposite it.
    for (int32_t family = 0; family < ShadowSectors / 2; ++family) {
        const Sector ahead((family + 0.5) * width, width, dome);
        const double ux = ahead.middle.x, uy = ahead.middle.y;
        const bool columns = std::fabs(ux) / grid.pitchX >= std::fabs(uy) / grid.pitchY;
        for (auto& list : found)
            list.clear();
        const std::vector<uint32_t>& pixelOf = columns ? pixelAt : turnedPixelAt;
        const auto keep = [&](int direction, size_t at, float h) {
            found[static_cast<size_t>(direction)].push_back({pixelOf[at], h});
        };
        // Grid rows run toward -y; a sweep steps through columns, so the grid is turned for steeper
        // directions.
        if (columns) {
            SweepLines(grid.z.data(), threshold.data(), relief, grid.width, grid.height, grid.pitchX,
                       grid.pitchY, ux, -uy, true, keep);
        } else {
            if (turned.empty()) {
                turned.resize(cells);
                turnedThreshold.resize(cells);
                Transpose(grid.z.data(), grid.width, grid.height, turned.data());
                Transpose(threshold.data(), grid.width, grid.height, turnedThreshold.data());
                turnedRelief = ReliefOf(turned.data(), cells, grid.plane);
                turnedPixelAt.resize(cells);
                for (int32_t row = 0; row < grid.height; ++row)
                    for (int32_t column = 0; column < grid.width; ++column)
                        turnedPixelAt[static_cast<size_t>(column) * grid.height + row] =
                            pixelAt[static_cast<size_t>(row) * grid.width + column];
            }
            SweepLines(turned.data(), turnedThreshold.data(), turnedRelief, grid.height, grid.width,
                       grid.pitchY, grid.pitchX, -uy, ux, true, keep);
        }
        for (int direction = 0; direction < 2; ++direction) {
            const int32_t index = family + direction * ShadowSectors / 2;
            const Sector sector = direction == 0 ? ahead : Sector((index + 0.5) * width, width, dome);
            const std::vector<Found>& points = found[static_cast<size_t>(direction)];
            for (size_t k = 0; k < points.size(); ++k) {
                // The pixels come in the order of the sweep's lines, across the rows for steep
                // directions: their data is asked for a few points ahead so that it arrives in time.
                if (k + PrefetchAhead < points.size()) {
                    const size_t next = points[k + PrefetchAhead].pixel;
                    __builtin_prefetch(&facets[next]);
                    __builtin_prefetch(&lost[next], 1);
                }
                const size_t i = points[k].pixel;
                const double h = points[k].horizon;
                const Facet& facet = facets[i];
                if (facet.diffuse > 0) {
                    const auto hidden = Hidden(dome, sector, facet, h);
                    for (size_t q = 0; q < 4; ++q)
                        lost[i][q] += static_cast<float>(facet.diffuse * hidden[q]);
                }
                if (glossy && pixels.mirrorSector[i] == index) {
                    const double hiddenShare = 1 - LobeShareBetween(pixels.mirrorTan[i], h, pixels.roughness);
                    for (size_t q = 0; q < 4; ++q)
                        lost[i][q] += static_cast<float>(pixels.specular[q][i] * hiddenShare);
                }
            }
        }
    }
    for (size_t q = 0; q < 4; ++q)
        for (size_t i = 0; i < count; ++i)
            if (lost[i][q] > 0)
                planes[q][i] = std::max(planes[q][i] - lost[i][q], 0.0f);
}

} // namespace zeb::station
