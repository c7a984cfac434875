#include "GridPoisson.h"

#include <algorithm>
#include <cmath>

namespace zeb::photometric {

namespace {

// The coarsest grid is solved directly: at most this many pixels.
constexpr size_t DirectPixels = 64;
// How much the coarse grid's correction is enlarged.
constexpr float CoarseGain = 1.6f;

size_t Pixels(int32_t width, int32_t height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

double Dot(const std::vector<float>& a, const std::vector<float>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += static_cast<double>(a[i]) * b[i];
    return sum;
}

} // namespace

// The dense matrix of the coarsest grid, factorised once per problem (Cholesky, with a tiny shift
// so that the constant a free part may take does not make it singular).
template <typename MatrixAt> void GridPoisson::DirectSolve::Factorise(size_t size, const MatrixAt& at) {
    n = size;
    factor.assign(n * n, 0.0);
    double largest = 0;
    for (size_t i = 0; i < n; ++i)
        largest = std::max(largest, at(i, i));
    const double shift = std::max(largest, 1e-30) * 1e-9;
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j <= i; ++j) {
            double sum = at(i, j) + (i == j ? shift : 0.0);
            for (size_t k = 0; k < j; ++k)
                sum -= factor[i * n + k] * factor[j * n + k];
            factor[i * n + j] = i == j ? std::sqrt(std::max(sum, shift)) : sum / factor[j * n + j];
        }
}

void GridPoisson::DirectSolve::Solve(const std::vector<float>& b, std::vector<float>& x) const {
    std::vector<double> y(n);
    for (size_t i = 0; i < n; ++i) {
        double sum = b[i];
        for (size_t k = 0; k < i; ++k)
            sum -= factor[i * n + k] * y[k];
        y[i] = sum / factor[i * n + i];
    }
    for (size_t i = n; i-- > 0;) {
        double sum = y[i];
        for (size_t k = i + 1; k < n; ++k)
            sum -= factor[k * n + i] * y[k];
        y[i] = sum / factor[i * n + i];
    }
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(y[i]);
}

void GridDifferences::Resize(int32_t newWidth, int32_t newHeight) {
    width = std::max(newWidth, 0);
    height = std::max(newHeight, 0);
    const size_t pixels = Pixels(width, height);
    for (auto* plane : {&right, &rightWeight, &below, &belowWeight})
        plane->assign(pixels, 0.0f);
}

void GridPoisson::Build(const GridDifferences& d) {
    _levels.resize(1);
    Level& fine = _levels[0];
    fine.width = d.width;
    fine.height = d.height;
    const size_t pixels = Pixels(d.width, d.height);
    fine.right.assign(pixels, 0.0f);
    fine.below.assign(pixels, 0.0f);
    // Weights that are not numbers, negative or lead off the grid count as none.
    for (int32_t y = 0; y < d.height; ++y)
        for (int32_t x = 0; x < d.width; ++x) {
            const size_t i = Pixels(d.width, y) + static_cast<size_t>(x);
            if (x + 1 < d.width && d.rightWeight[i] > 0 && std::isfinite(d.rightWeight[i]))
                fine.right[i] = d.rightWeight[i];
            if (y + 1 < d.height && d.belowWeight[i] > 0 && std::isfinite(d.belowWeight[i]))
                fine.below[i] = d.belowWeight[i];
        }
    // Each connected part is held at one pixel (its first) to that pixel's start, with the weight of
    // its strongest pair: the solution is then unique, and the same as the free one up to the
    // part's constant.
    fine.shift.assign(pixels, 0.0f);
    std::vector<size_t> parent(pixels);
    for (size_t i = 0; i < pixels; ++i)
        parent[i] = i;
    auto root = [&](size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    auto join = [&](size_t a, size_t b) {
        a = root(a);
        b = root(b);
        if (a != b)
            parent[std::max(a, b)] = std::min(a, b);
    };
    const size_t w = static_cast<size_t>(d.width);
    for (size_t i = 0; i < pixels; ++i) {
        if (fine.right[i] > 0)
            join(i, i + 1);
        if (fine.below[i] > 0)
            join(i, i + w);
    }
    _pins.clear();
    for (size_t i = 0; i < pixels; ++i)
        if (root(i) == i) {
            float strongest = 0;
            for (float weight : {fine.right[i], fine.below[i], i % w > 0 ? fine.right[i - 1] : 0.0f,
                                 i >= w ? fine.below[i - w] : 0.0f})
                strongest = std::max(strongest, weight);
            fine.shift[i] = strongest > 0 ? strongest : 1.0f;
            _pins.push_back(i);
        }
    // Coarser grids: each pixel joins 2 x 2 of the grid above it; the weights between two joined
    // pixels are the sum of the weights that cross between their members.
    while (Pixels(_levels.back().width, _levels.back().height) > DirectPixels) {
        const Level& f = _levels.back();
        Level c;
        c.width = (f.width + 1) / 2;
        c.height = (f.height + 1) / 2;
        c.right.assign(Pixels(c.width, c.height), 0.0f);
        c.below.assign(Pixels(c.width, c.height), 0.0f);
        c.shift.assign(Pixels(c.width, c.height), 0.0f);
        for (int32_t y = 0; y < f.height; ++y)
            for (int32_t x = 0; x < f.width; ++x) {
                const size_t i = Pixels(f.width, y) + static_cast<size_t>(x);
                const size_t at = Pixels(c.width, y / 2) + static_cast<size_t>(x / 2);
                c.shift[at] += f.shift[i];
                if (x % 2 == 1)
                    c.right[at] += f.right[i];
                if (y % 2 == 1)
                    c.below[at] += f.below[i];
            }
        _levels.push_back(std::move(c));
    }
    for (Level& level : _levels) {
        const size_t n = Pixels(level.width, level.height);
        level.diagonal = level.shift;
        const size_t lw = static_cast<size_t>(level.width);
        for (size_t i = 0; i < n; ++i) {
            level.diagonal[i] += level.right[i] + level.below[i];
            if (i % lw + 1 < lw)
                level.diagonal[i + 1] += level.right[i];
            if (i + lw < n)
                level.diagonal[i + lw] += level.below[i];
        }
        // A pixel with no weight at all takes no correction.
        level.inverse.resize(n);
        for (size_t i = 0; i < n; ++i)
            level.inverse[i] = level.diagonal[i] > 0 ? 1 / level.diagonal[i] : 0.0f;
        level.x.assign(n, 0.0f);
        level.b.assign(n, 0.0f);
        level.r.assign(n, 0.0f);
    }
    const Level& last = _levels.back();
    const size_t lw = static_cast<size_t>(last.width);
    _coarsest.Factorise(Pixels(last.width, last.height), [&](size_t i, size_t j) -> double {
        if (i == j)
            return last.diagonal[i];
        const size_t low = std::min(i, j), high = std::max(i, j);
        if (high == low + 1 && low % lw + 1 < lw)
            return -last.right[low];
        if (high == low + lw)
            return -last.below[low];
        return 0.0;
    });
}

void GridPoisson::Multiply(const Level& level, const std::vector<float>& x, std::vector<float>& out) {
    const size_t w = static_cast<size_t>(level.width), n = x.size();
    for (size_t i = 0; i < n; ++i)
        out[i] = level.diagonal[i] * x[i];
    // The last column's weights toward the right are 0, so the rows need no bounds of their own.
    for (size_t i = 0; i + 1 < n; ++i) {
        out[i] -= level.right[i] * x[i + 1];
        out[i + 1] -= level.right[i] * x[i];
    }
    for (size_t i = 0; i + w < n; ++i) {
        out[i] -= level.below[i] * x[i + w];
        out[i + w] -= level.below[i] * x[i];
    }
}

void GridPoisson::Sweep(Level& level, bool forward) {
    const size_t w = static_cast<size_t>(level.width), h = static_cast<size_t>(level.height);
    float* const x = level.x.data();
    const float *const right = level.right.data(), *const below = level.below.data();
    const float *const b = level.b.data(), *const inverse = level.inverse.data();
    // Pixels on the image's edge check for their neighbours; the others run without branches.
    auto edge = [&](size_t column, size_t row) {
        const size_t i = row * w + column;
        float sum = b[i];
        if (column + 1 < w)
            sum += right[i] * x[i + 1];
        if (column > 0)
            sum += right[i - 1] * x[i - 1];
        if (row + 1 < h)
            sum += below[i] * x[i + w];
        if (row > 0)
            sum += below[i - w] * x[i - w];
        x[i] = sum * inverse[i];
    };
    auto inside = [&](size_t i) {
        x[i] = (b[i] + right[i] * x[i + 1] + right[i - 1] * x[i - 1] + below[i] * x[i + w] +
                below[i - w] * x[i - w]) *
               inverse[i];
    };
    auto row = [&](size_t r) {
        if (r == 0 || r + 1 == h || w < 3) {
            if (forward)
                for (size_t column = 0; column < w; ++column)
                    edge(column, r);
            else
                for (size_t column = w; column-- > 0;)
                    edge(column, r);
            return;
        }
        const size_t first = r * w;
        if (forward) {
            edge(0, r);
            for (size_t i = first + 1; i + 1 < first + w; ++i)
                inside(i);
            edge(w - 1, r);
        } else {
            edge(w - 1, r);
            for (size_t i = first + w - 2; i > first; --i)
                inside(i);
            edge(0, r);
        }
    };
    if (forward)
        for (size_t r = 0; r < h; ++r)
            row(r);
    else
        for (size_t r = h; r-- > 0;)
            row(r);
}

void GridPoisson::Cycle(size_t depth) {
    Level& level = _levels[depth];
    if (depth + 1 == _levels.size()) {
        _coarsest.Solve(level.b, level.x);
        return;
    }
    // Smooth, hand the residual to the coarser grid, add its correction, smooth back the other way
    // (so that the cycle is symmetric, as conjugate gradients need).
    std::fill(level.x.begin(), level.x.end(), 0.0f);
    Sweep(level, true);
    Multiply(level, level.x, level.r);
    Level& coarse = _levels[depth + 1];
    std::fill(coarse.b.begin(), coarse.b.end(), 0.0f);
    const size_t w = static_cast<size_t>(level.width), cw = static_cast<size_t>(coarse.width);
    for (size_t y = 0; y < static_cast<size_t>(level.height); ++y) {
        const float* b = &level.b[y * w];
        const float* r = &level.r[y * w];
        float* to = &coarse.b[(y / 2) * cw];
        for (size_t x = 0; x < w; ++x)
            to[x / 2] += b[x] - r[x];
    }
    Cycle(depth + 1);
    // The coarse correction, a little enlarged: a joined pixel moves its members as one, which
    // corrects smooth errors by too little.
    for (size_t y = 0; y < static_cast<size_t>(level.height); ++y) {
        float* x = &level.x[y * w];
        const float* from = &coarse.x[(y / 2) * cw];
        for (size_t c = 0; c < w; ++c)
            x[c] += CoarseGain * from[c / 2];
    }
    Sweep(level, false);
}

GridPoisson::Outcome GridPoisson::Solve(const GridDifferences& d, std::vector<float>& heights,
                                        double tolerance, int32_t maxIterations) {
    Outcome outcome;
    const size_t n = Pixels(d.width, d.height);
    if (heights.size() != n)
        heights.assign(n, 0.0f);
    for (float& h : heights)
        if (!std::isfinite(h))
            h = 0;
    if (n == 0)
        return outcome;
    Build(d);
    Level& fine = _levels[0];
    // The right-hand side: each pair pulls its two pixels apart by its difference.
    std::vector<float>& b = _rhs;
    b.assign(n, 0.0f);
    const size_t w = static_cast<size_t>(d.width);
    for (size_t i : _pins)
        b[i] += fine.shift[i] * heights[i];
    for (size_t i = 0; i < n; ++i) {
        if (fine.right[i] > 0 && std::isfinite(d.right[i])) {
            b[i + 1] += fine.right[i] * d.right[i];
            b[i] -= fine.right[i] * d.right[i];
        }
        if (fine.below[i] > 0 && std::isfinite(d.below[i])) {
            b[i + w] += fine.below[i] * d.below[i];
            b[i] -= fine.below[i] * d.below[i];
        }
    }
    const std::vector<float>& rhs = b;
    _residual.resize(n);
    _direction.resize(n);
    _product.resize(n);
    _preconditioned.resize(n);
    Multiply(fine, heights, _product);
    for (size_t i = 0; i < n; ++i)
        _residual[i] = rhs[i] - _product[i];
    const double first = std::sqrt(Dot(_residual, _residual));
    const double reference = std::max(std::sqrt(Dot(rhs, rhs)), first);
    if (!(reference > 0))
        return outcome;
    auto precondition = [&] {
        fine.b = _residual;
        Cycle(0);
        _preconditioned = fine.x;
    };
    precondition();
    _direction = _preconditioned;
    double rz = Dot(_residual, _preconditioned);
    double residual = first / reference;
    while (residual > tolerance && outcome.iterations < maxIterations && rz > 0) {
        Multiply(fine, _direction, _product);
        const double curvature = Dot(_direction, _product);
        if (!(curvature > 0))
            break;
        const float step = static_cast<float>(rz / curvature);
        for (size_t i = 0; i < n; ++i) {
            heights[i] += step * _direction[i];
            _residual[i] -= step * _product[i];
        }
        ++outcome.iterations;
        residual = std::sqrt(Dot(_residual, _residual)) / reference;
        precondition();
        const double next = Dot(_residual, _preconditioned);
        const float keep = static_cast<float>(next / rz);
        rz = next;
        for (size_t i = 0; i < n; ++i)
            _direction[i] = _preconditioned[i] + keep * _direction[i];
    }
    outcome.residual = residual;
    return outcome;
}

} // namespace zeb::photometric
