// The surface of tall objects. The solve on the object plane takes every pixel to lie on it, while
// the top of a 20 mm object is 20 mm nearer the dome, lit from other angles and more brightly. So
// the normals found on the plane are integrated into heights, every pixel is solved again with the
// light at its point at that height, and the new normals are integrated again, until the heights
// settle (each round moves them less: the light changes slowly with height). A tall object also
// hides part of the dome from what lies around it: each round lights every pixel only with the
// emitters above the horizon of the heights found (ReliefHorizon.h).
#pragma once

#include "LightVolume.h"
#include "NormalIntegration.h"
#include "ReliefHorizon.h"
#include "Surface.h"

#include <memory>

namespace zeb::photometric {

class HeightRecovery {
public:
    // `plane`: the light field the surfaces are first solved with, taken as the volume's level 0;
    // it must outlive this object.
    HeightRecovery(const LightingModel& model, const ImageRegion& region, const LightField& plane);
    ~HeightRecovery();

    // From `surface`, solved on the object plane from `images`: heights into surface.heightMap, and the
    // albedo, normals, gradients and status solved again at them. Stops when at most one reliable pixel in a
    // thousand moved more than `settled` millimetres in a round, or after `maxRounds` rounds. The curvature
    // is left to the caller.
    void Recover(const ImageSetView& images, Surface& surface, int32_t maxRounds, double settled);

    // The horizons' grid: blocks of pixels about 0.2 mm wide, larger where an image of `width` x
    // `height` pixels of `pixelSize` millimetres would need more than MostReliefPoints of them (each
    // keeps about half a kilobyte: its horizons and the light they hide).
    static constexpr size_t MostReliefPoints = size_t{1} << 19;
    static int32_t ReliefBlockFor(int32_t width, int32_t height, double pixelSize);

    // The rounds of the last recovery and the largest height change in its last round (mm).
    int32_t Rounds() const { return _rounds; }
    double LastChange() const { return _change; }

private:
    void SolveAtHeights(const ImageSetView& images, Surface& surface);
    // The light the relief of this round's heights hides from each point of the horizons' grid.
    void Shade();
    bool Settled(const Surface& surface, double settled);

    LightingModel _model;
    LightVolume _volume;
    NormalIntegration _integration;
    std::vector<float> _heights, _previous; // integrated, this round's and the last
    std::vector<float> _lit;                // the height each pixel is lit at
    std::vector<float> _solvedAt;           // the height its normal was last solved at
    std::vector<float> _step, _gain;        // per pixel: the last move toward its height, and its share
    // Cast shadows, per point of the horizons' grid: the light hidden from each step (12 values: 4
    // steps x, y, z), the same when its version last changed, and that version; per pixel, the
    // version its normal was last solved with.
    ReliefHorizons _relief;
    std::vector<float> _hidden, _hiddenMark;
    std::vector<float> _hiddenFrom; // per point: the horizons, slopes and height it was found from
    std::vector<uint16_t> _hiddenVersion, _solvedVersion;
    std::vector<uint8_t> _shaded; // per point: some light is hidden
    int32_t _rounds = 0;
    double _change = 0;
};

} // namespace zeb::photometric
