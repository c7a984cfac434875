// Heights on a pixel grid from the height differences wanted between neighbouring pixels, in the
// least-squares sense: the heights z minimise
//
//   sum over pixels of  wr (z[x+1, y] - z[x, y] - dr)^2  +  wb (z[x, y+1] - z[x, y] - db)^2
//
// with a weight and a difference toward the right neighbour (wr, dr) and toward the one below (wb,
// db). A weight of 0 leaves a pair free. This is a weighted Poisson equation; it is solved by
// conjugate gradients preconditioned with a multigrid V-cycle whose coarser grids join 2 x 2
// pixels (their weights summed, so that each coarse grid is the same problem seen coarser).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeb::photometric {

struct GridDifferences {
    int32_t width = 0, height = 0;
    // Per pixel, row by row: toward the right neighbour (the last column's is unused) and toward
    // the neighbour below (the last row's is unused).
    std::vector<float> right, rightWeight, below, belowWeight;

    void Resize(int32_t newWidth, int32_t newHeight);
};

class GridPoisson {
public:
    struct Outcome {
        int32_t iterations = 0;
        double residual = 0; // the last residual as a share of the right-hand side
    };

    // Solves into `heights` (its values on entry are the start; resized and zeroed when it does not
    // fit the grid) until the residual falls to `tolerance` of the right-hand side (or of the first
    // residual, where that is larger), or after `maxIterations`. Each connected part is held at its
    // first pixel to that pixel's start: the solution is the least-squares one up to each part's
    // constant, and a pixel without weights keeps its start.
    Outcome Solve(const GridDifferences& differences, std::vector<float>& heights, double tolerance = 1e-6,
                  int32_t maxIterations = 300);

private:
    struct Level {
        int32_t width = 0, height = 0;
        std::vector<float> right, below; // the weights toward the right and lower neighbours
        std::vector<float> shift;        // the weight holding a pixel to its start (one per part)
        std::vector<float> diagonal;     // the sum of each pixel's weights and its shift
        std::vector<float> inverse;      // 1 / diagonal, 0 where that is 0
        std::vector<float> x, b, r;      // working vectors of the V-cycle
    };

    void Build(const GridDifferences& differences);
    static void Multiply(const Level& level, const std::vector<float>& x, std::vector<float>& out);
    static void Sweep(Level& level, bool forward);
    void Cycle(size_t depth);

    struct DirectSolve {
        size_t n = 0;
        std::vector<double> factor; // lower triangle, row-major n x n
        template <typename MatrixAt> void Factorise(size_t size, const MatrixAt& at);
        void Solve(const std::vector<float>& b, std::vector<float>& x) const;
    };

    std::vector<Level> _levels;
    DirectSolve _coarsest;
    std::vector<size_t> _pins; // the pixel holding each connected part
    std::vector<float> _rhs, _residual, _direction, _product, _preconditioned;
};

} // namespace zeb::photometric
