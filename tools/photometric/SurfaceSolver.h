// The surface of image sets under one lighting model. Every pixel is first solved with the whole
// light of each step (one small matrix product, interpolated from the light field's nodes); a pixel
// whose facet tilts so far that part of a step's light lies below its horizon, or that has a
// direction too dark or clipped, is solved again with the light above its horizon until the normal
// settles. The light field is kept for the next image set of the same size.
#pragma once

#include "HeightRecovery.h"
#include "LightField.h"
#include "Surface.h"

#include <memory>

namespace zeb::photometric {

struct SurfaceOptions {
    // Millimetres around each pixel over which the normals are averaged for the curvature.
    double curvatureRadius = 0.2;
    // Tall objects: recover the heights and solve each pixel again at its height (HeightRecovery),
    // in at most `heightRounds` rounds, until the heights settle within `heightSettled` mm.
    bool recoverHeight = false;
    int32_t heightRounds = 8;
    double heightSettled = 0.01;
};

class SurfaceSolver {
public:
    // Throws std::invalid_argument for an unusable model (ModelProblem) or options (a curvature
    // radius or height tolerance that is not a number of 0 or more, rounds below 0).
    explicit SurfaceSolver(LightingModel model, ImageRegion region = {}, SurfaceOptions options = {});
    ~SurfaceSolver();

    const LightingModel& Model() const { return _model; }
    // Solves an image set into `surface` (resized to one direction image). Throws
    // std::invalid_argument for an image set that does not hold four directions.
    void Solve(const ImageSetView& images, Surface& surface);
    Surface Solve(const ImageSetView& images);
    // How many pixels of the last image set needed the light above their horizon (on the plane).
    size_t RefinedPixels() const { return _refined; }
    // With heights: the rounds of the last image set, 0 without.
    int32_t HeightRounds() const { return _heights ? _heights->Rounds() : 0; }

private:
    const LightField& FieldFor(int32_t width, int32_t height);
    void SolveRow(const ImageSetView& images, int32_t row, Surface& surface);
    // Solves the pixels of `row` marked for it again with the light above their facets' horizon.
    void RefineRow(const ImageSetView& images, int32_t row, Surface& surface);

    LightingModel _model;
    ImageRegion _region;
    SurfaceOptions _options;
    std::unique_ptr<LightField> _field;
    std::unique_ptr<HeightRecovery> _heights; // with heights: over the same image size as the field
    // One row's inverse matrices and horizon tilts along it, and its pixels to solve again.
    LightField::RowSegments _segments;
    int32_t _segmentsRow = -1;
    std::vector<float> _cosHorizon;
    std::vector<uint8_t> _refine;
    std::vector<int32_t> _marked; // the columns of a row to solve again
    struct Correction {
        Vector3 shift;    // the settled normal less the first solve's
        int32_t row = -2; // the row it was found in
    };
    std::vector<Correction> _corrections; // two rows: the one being refined and the one above
    size_t _refined = 0;
    CurvatureFilter _curvature;
};

} // namespace zeb::photometric
