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

private:
    static constexpr int32_t TableSize = 33;
    struct Node {
        Vector3 point;                              // on the object plane, in the dome's frame
        std::array<float, Coefficients + 1> fast{}; // the inverse matrix, then cosHorizon
    };
    using Table = std::vector<float>; // TableSize^2 normals x 4 steps x 3 components

    const Table& TableOf(size_t node) const;
    Table BuildTable(const Node& node) const;

    LightingModel _model;
    PixelPlacement _placement;
    std::vector<DomeLight> _lights; // one per step
    int32_t _spacing = 1;           // pixels between nodes
    int32_t _nodesX = 1, _nodesY = 1;
    std::vector<Node> _nodes;
    mutable std::vector<std::unique_ptr<Table>> _tables;
    mutable std::unique_ptr<std::once_flag[]> _tableOnce;
};

} // namespace zeb::photometric
