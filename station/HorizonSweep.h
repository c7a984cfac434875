// The horizon sweep: one family of parallel lines across a grid of heights, each swept from its far
// end back with the upper convex hull of the points passed, which gives each point the highest
// elevation under which it sees the relief ahead: linear time in the grid's points.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace zeb::station {

// Sweeps one family of parallel lines, one row apart, each stepping one column at a time while its
// row moves `rowsPerStep`: every grid point belongs to the line that passes nearest to it in its
// column, and takes its horizon. The line's heights are interpolated between the rows it passes, so
// that the point and the relief ahead of it are seen along one straight line. Looking along the lines
// (direction 0) and, with `both`, against them (direction 1), each point whose horizon rises above
// its `threshold` is handed to found(direction, point index, horizon).
//
// `relief` lists the grid points that do not lie on the flat plane around the object. A line that
// meets none of them is a flat line and has no horizon worth reporting; on the others, the plane's
// points ahead of all relief stand in a straight line, whose ends alone can be the hull's.
template <typename Found>
void SweepLines(const float* z, const float* threshold, const std::vector<uint32_t>& relief, int32_t width,
                int32_t height, double pitchX, double pitchY, double along, double across, bool both,
                Found found) {
    if (width <= 0 || height <= 0)
        return;
    const bool forward = along >= 0;
    const double rowsPerStep = std::fabs(along) > 0 ? (across / pitchY) / (std::fabs(along) / pitchX) : 0.0;
    const size_t steps = static_cast<size_t>(width);
    std::vector<int32_t> nearest(steps), below(steps);
    std::vector<double> share(steps);
    for (size_t s = 0; s < steps; ++s) {
        const double offset = rowsPerStep * static_cast<double>(s);
        nearest[s] = static_cast<int32_t>(std::lround(offset));
        below[s] = static_cast<int32_t>(std::floor(offset));
        share[s] = offset - std::floor(offset);
    }
    const bool rising = rowsPerStep >= 0;
    const auto [least, most] = std::minmax_element(nearest.begin(), nearest.end());
    // What does not vary from line to line, per step, side by side so that a line reads one stream:
    // the share of the row above in the line's height, the distance along the direction (without the
    // line's own offset), the row below the line and the grid indices of that row and of the nearest
    // row for the line through row 0, and the column.
    struct Step {
        double share, t;
        ptrdiff_t belowAt, nearestAt;
        int32_t below, column;
    };
    const double stepX = pitchX * along, stepY = pitchY * across; // millimetres ahead per column, per row
    std::vector<Step> stepOf(steps);
    const auto rowStart = [steps](int32_t row) {
        return static_cast<ptrdiff_t>(row) * static_cast<ptrdiff_t>(steps);
    };
    for (size_t s = 0; s < steps; ++s) {
        const size_t column = forward ? s : steps - 1 - s;
        stepOf[s] = {share[s],
                     static_cast<double>(column) * stepX + rowsPerStep * static_cast<double>(s) * stepY,
                     rowStart(below[s]) + static_cast<ptrdiff_t>(column),
                     rowStart(nearest[s]) + static_cast<ptrdiff_t>(column),
                     below[s],
                     static_cast<int32_t>(column)};
    }
    // The points of the line being swept, per step: distance along it, height, the grid point that
    // takes its horizon and that point's threshold.
    struct LinePoint {
        float t, z, threshold;
        uint32_t at;
    };
    std::vector<LinePoint> linePoints(steps);
    LinePoint* const line0 = linePoints.data();
    // The upper convex hull of the points passed so far, nearest last, each with the slope up to the
    // hull point beyond it.
    struct HullPoint {
        float t, z, slope;
    };
    std::vector<HullPoint> hull(steps);
    HullPoint* const hull0 = hull.data();
    const auto rowOf = [height](int32_t row) { return static_cast<size_t>(std::clamp(row, 0, height - 1)); };
    // A point looks ahead at the hull: hull points no higher, seen from it, than the line on to the
    // next hull point are hidden for it and for every point behind it. The slope to what remains is
    // its horizon. The farthest hull point has no slope (NaN), so no comparison takes it away and
    // the loop needs no count of what is left. `end` points past the hull's nearest point.
    const auto look = [&](int direction, const LinePoint& point, float t, HullPoint*& end) {
        const float h = point.z;
        if (end == hull0) {
            *end++ = {t, h, std::numeric_limits<float>::quiet_NaN()};
            return;
        }
        HullPoint* ahead = end - 1;
        while (ahead->z - h <= ahead->slope * (ahead->t - t))
            --ahead;
        const float horizon = (ahead->z - h) / (ahead->t - t);
        if (horizon > point.threshold)
            found(direction, size_t{point.at}, horizon);
        ahead[1] = {t, h, horizon};
        end = ahead + 2;
    };
    // The first and last step of each line at which its heights take a point of relief.
    const int32_t lines = height + *most - *least;
    std::vector<int32_t> reliefFirst(static_cast<size_t>(lines), width),
        reliefLast(static_cast<size_t>(lines), -1);
    for (const uint32_t at : relief) {
        const int32_t row = static_cast<int32_t>(at / steps), column = static_cast<int32_t>(at % steps);
        const int32_t s = forward ? column : width - 1 - column;
        for (int32_t line = row - below[static_cast<size_t>(s)] - 1;
             line <= row - below[static_cast<size_t>(s)]; ++line) {
            const int32_t k = line + *most;
            if (k < 0 || k >= lines)
                continue;
            reliefFirst[static_cast<size_t>(k)] = std::min(reliefFirst[static_cast<size_t>(k)], s);
            reliefLast[static_cast<size_t>(k)] = std::max(reliefLast[static_cast<size_t>(k)], s);
        }
    }
    for (int32_t line = -*most; line <= height - 1 - *least; ++line) {
        const int32_t k = line + *most;
        if (reliefLast[static_cast<size_t>(k)] < 0)
            continue; // a flat line
        // The steps whose nearest row lies in the grid: the offsets run one way.
        size_t first = 0, last = steps;
        if (rising) {
            first = static_cast<size_t>(std::lower_bound(nearest.begin(), nearest.end(), -line) -
                                        nearest.begin());
            last = static_cast<size_t>(std::upper_bound(nearest.begin(), nearest.end(), height - 1 - line) -
                                       nearest.begin());
        } else {
            first = static_cast<size_t>(
                std::lower_bound(nearest.begin(), nearest.end(), height - 1 - line, std::greater<>()) -
                nearest.begin());
            last = static_cast<size_t>(
                std::upper_bound(nearest.begin(), nearest.end(), -line, std::greater<>()) - nearest.begin());
        }
        if (first >= last)
            continue;
        const ptrdiff_t lineStart = rowStart(line);
        const double lineT0 = line * stepY;
        const auto take = [&](size_t s) -> const LinePoint& {
            const Step& step = stepOf[s];
            const int32_t under = line + step.below;
            const double f = step.share;
            double low = 0, high = 0; // the heights of the rows below and above the line
            if (under >= 0 && under < height - 1) {
                const float* at = z + (lineStart + step.belowAt);
                low = at[0];
                high = at[steps];
            } else { // beyond the grid's first or last row, its heights continue
                low = z[rowOf(under) * steps + static_cast<size_t>(step.column)];
                high = z[rowOf(under + 1) * steps + static_cast<size_t>(step.column)];
            }
            LinePoint& point = line0[s];
            point.z = static_cast<float>((1 - f) * low + f * high);
            point.t = static_cast<float>(lineT0 + step.t);
            point.at = static_cast<uint32_t>(lineStart + step.nearestAt);
            point.threshold = threshold[point.at];
            return point;
        };
        // The plane beyond the relief, one step clear of it: its ends, and the steps between them.
        const size_t reliefEnd =
            std::clamp<size_t>(static_cast<size_t>(reliefLast[static_cast<size_t>(k)]) + 2, first, last);
        const size_t reliefStart = std::clamp<size_t>(
            static_cast<size_t>(std::max(reliefFirst[static_cast<size_t>(k)] - 1, 0)), first, last);
        // From the far end back, each point looking ahead.
        HullPoint* top = hull0;
        if (reliefEnd < last) {
            const LinePoint& point = take(last - 1);
            look(0, point, point.t, top);
        }
        for (size_t s = reliefEnd; s-- > first;) {
            const LinePoint& point = take(s);
            look(0, point, point.t, top);
        }
        if (both) { // and the other way, the plane's steps before the relief not taken yet
            for (size_t s = reliefEnd; s < last - 1; ++s)
                take(s);
            top = hull0;
            if (reliefStart > first)
                look(1, line0[first], -line0[first].t, top);
            for (size_t s = reliefStart; s < last; ++s)
                look(1, line0[s], -line0[s].t, top);
        }
    }
}

} // namespace zeb::station
