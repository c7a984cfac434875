// The lighting model laid over one image size, for solving every pixel of many image sets. The
// light of the four steps varies slowly across the field, so it is computed exactly at nodes a few
// millimetres apart and interpolated between them:
// - at each node, the 3 x 4 matrix that turns the four signals of a facet seeing every emitter into
//   albedo times normal (the least-squares inverse of the four light vectors), and the largest tilt
//   at which a facet still sees every emitter;
// - for facets tilted further, at each node a table of the light of the emitters above the facet's
//   horizon over a grid of normals (stereographic, 33 x 33), made the first time a pixel needs it.
// Vectors are in the image's frame (x right, y top, z toward the camera) and include each step's
// white level, so the solve gives the albedo directly.
#pragma once

#include "LightingModel.h"

#include <array>
#include <memory>
#include <mutex>
#include <vector>

namespace zeb::photometric {

class LightField {
public:
    // Coefficients of the inverse matrix, row-major: coefficient 4 r + k multiplies the signal of
    // step k into component r (x, y, z) of albedo times normal.
    static constexpr int32_t Coefficients = 12;

    LightField(const LightingModel& model, int32_t width, int32_t height, const ImageRegion& region);
    ~LightField();
    LightField(const LightField&) = delete;
    LightField& operator=(const LightField&) = delete;

    int32_t Width() const { return _placement.Width(); }
    int32_t Height() const { return _placement.Height(); }
    const LightingModel& Model() const { return _model; }
    // True when every row sees the same light (a line camera): the segments of row 0 serve all.
    bool RowsAlike() const { return _nodesY == 1; }
    // Per pixel, the inverse matrix (values 0 to 11) and the cosine of the largest tilt at which a
    // facet sees every emitter (value 12), along one row: linear between node columns. Segment i
    // covers the pixels from i x spacing up to the next node; value c at pixel x of it is
    // start[i * Values + c] + (x - i x spacing) x slope[i * Values + c].
    static constexpr int32_t Values = Coefficients + 1;
    struct RowSegments {
        int32_t spacing = 1, count = 0;
        std::vector<float> start, slope;
    };
    void RowSegmentsOf(int32_t row, RowSegments& segments) const;
    // The same values at one pixel.
    void ValuesAt(int32_t column, int32_t row, float* values) const;
    // The light at one pixel for facets of any normal: the tables of the nodes around it with their
    // shares, found once for the rounds of a pixel's solve.
    class Probe {
    public:
        // The light vectors of the four steps on a facet with unit `normal`, with only the emitters
        // above its horizon.
        void Lights(const Vector3& normal, std::array<Vector3, 4>& lights) const;

    private:
        friend class LightField;
        std::array<const float*, 4> _tables{};
        std::array<float, 4> _shares{};
    };
    Probe ProbeAt(int32_t column, int32_t row) const;

    // Cast shadows. Adds `weight` times the light of each step that relief around pixel (column,
    // row) hides from it (hidden[3 k + c]: component c of step k) to `hidden`: per sector of
    // ReliefHorizon.h, the light of the emitters below `horizon` and above `tangent` (the tan of
    // the elevations of the relief's horizon and of the pixel's tangent plane, whose own horizon
    // Probe::Lights takes), with the emitters as the nearest node sees them. A row of emitters
    // partly hidden counts by the share of its elevations hidden.
    void AddHidden(double column, double row, const float* horizon, const float* tangent, float weight,
                   float* hidden) const;
    // The tan of the lowest elevation at which any point of the field may see an emitter: relief
    // lower than this around a point hides nothing.
    float LowestTan() const { return _lowestTan; }

private:
    static constexpr int32_t TableSize = 33;
    struct Node {
        Vector3 point;                              // on the object plane, in the dome's frame
        std::array<float, Coefficients + 1> fast{}; // the inverse matrix, then cosHorizon
    };
    using Table = std::vector<float>; // TableSize^2 normals x 4 steps x 3 components
    // Each step's emitters as a node sees them, for cast shadows: column after column, each from the
    // rim up, with the tan of the elevations their row spans and the horizon sector they lie in.
    struct SkyEmitter {
        float x = 0, y = 0, z = 0;  // the light vector (image frame, white level included)
        float ux = 0, uy = 0;       // its horizontal direction (unit)
        float lower = 0, upper = 0; // tan of the elevation of the row's edges at its azimuth
        int32_t sector = 0;         // of HorizonSectors
    };
    struct Sky {
        std::array<int32_t, 4> columns{};
        std::vector<SkyEmitter> emitters; // step after step
    };

    const Table& TableOf(size_t node) const;
    // The node at grid column `x`, row `y`, clamped to the last one (cells at the far edge).
    size_t NodeAt(int32_t x, int32_t y) const;
    Table BuildTable(const Node& node) const;
    const Sky& SkyOf(size_t node) const;
    Sky BuildSky(const Node& node) const;

    LightingModel _model;
    PixelPlacement _placement;
    std::vector<DomeLight> _lights; // one per step
    int32_t _spacing = 1;           // pixels between nodes
    int32_t _nodesX = 1, _nodesY = 1;
    std::vector<Node> _nodes;
    mutable std::vector<std::unique_ptr<Table>> _tables;
    mutable std::unique_ptr<std::once_flag[]> _tableOnce;
    mutable std::vector<std::unique_ptr<Sky>> _skies;
    mutable std::unique_ptr<std::once_flag[]> _skyOnce;
    float _lowestTan = 0;
};

} // namespace zeb::photometric
