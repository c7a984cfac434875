#include "SphereFinder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

namespace zeb::photometric {

std::string FormatText(const char* format, double a, double b, double c) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

namespace {

// The average signal of the four directions above the dark level.
std::vector<float> AverageSignal(const ImageSetView& images, double darkLevel) {
    const int32_t width = images.width, height = images.DirectionHeight();
    std::vector<float> average(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            double sum = 0;
            for (int32_t k = 0; k < 4; ++k)
                sum += images.Row(k, y)[x];
            average[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                static_cast<float>(sum / 4 - darkLevel);
        }
    return average;
}

// Otsu's threshold: the level that best splits the values into two classes.
double OtsuThreshold(const std::vector<float>& values) {
    std::array<double, 256> histogram{};
    for (float v : values)
        histogram[static_cast<size_t>(std::clamp(std::lround(v), 0L, 255L))] += 1;
    const double total = static_cast<double>(values.size());
    double sumAll = 0;
    for (size_t i = 0; i < 256; ++i)
        sumAll += static_cast<double>(i) * histogram[i];
    double below = 0, sumBelow = 0, best = -1, threshold = 0;
    for (size_t i = 0; i < 255; ++i) {
        below += histogram[i];
        sumBelow += static_cast<double>(i) * histogram[i];
        const double above = total - below;
        if (below == 0 || above == 0)
            continue;
        const double meanBelow = sumBelow / below, meanAbove = (sumAll - sumBelow) / above;
        const double between = below * above * (meanBelow - meanAbove) * (meanBelow - meanAbove);
        if (between > best) {
            best = between;
            threshold = static_cast<double>(i) + 0.5;
        }
    }
    return threshold;
}

double Median(std::vector<float> values) {
    if (values.empty())
        return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// A bright region: its centre, the radius of a disc of its area (pixels across), its size.
struct Region {
    double x = 0, y = 0, radius = 0;
    bool touchesEdge = false;
    size_t pixels = 0;
};
// The pixels at or above `level` within `within` pixels of the centre of `around`.
Region RegionAbove(const std::vector<float>& average, int32_t width, int32_t height, double aspect,
                   float level, const Region& around, double within) {
    Region region;
    double sumX = 0, sumY = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            if (average[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] < level)
                continue;
            if (std::hypot(x - around.x, (y - around.y) * aspect) > within)
                continue;
            sumX += x;
            sumY += y;
            ++region.pixels;
            region.touchesEdge |= x == 0 || y == 0 || x == width - 1 || y == height - 1;
        }
    if (region.pixels == 0)
        return region;
    region.x = sumX / static_cast<double>(region.pixels);
    region.y = sumY / static_cast<double>(region.pixels);
    region.radius = std::sqrt(static_cast<double>(region.pixels) * aspect / Pi);
    return region;
}

// The largest connected region at or above `level`: the sphere, where a line camera's image set
// also shows parts of the objects before and after it.
Region LargestRegionAbove(const std::vector<float>& average, int32_t width, int32_t height, double aspect,
                          float level) {
    std::vector<uint8_t> seen(average.size(), 0);
    std::vector<size_t> stack;
    Region best;
    for (size_t start = 0; start < average.size(); ++start) {
        if (seen[start] || average[start] < level)
            continue;
        Region region;
        double sumX = 0, sumY = 0;
        seen[start] = 1;
        stack.push_back(start);
        while (!stack.empty()) {
            const size_t at = stack.back();
            stack.pop_back();
            const int32_t x = static_cast<int32_t>(at % static_cast<size_t>(width));
            const int32_t y = static_cast<int32_t>(at / static_cast<size_t>(width));
            sumX += x;
            sumY += y;
            ++region.pixels;
            region.touchesEdge |= x == 0 || y == 0 || x == width - 1 || y == height - 1;
            const std::array<std::pair<int32_t, int32_t>, 4> neighbours = {
                std::pair{x - 1, y}, std::pair{x + 1, y}, std::pair{x, y - 1}, std::pair{x, y + 1}};
            for (const auto& [nx, ny] : neighbours) {
                if (nx < 0 || ny < 0 || nx >= width || ny >= height)
                    continue;
                const size_t next =
                    static_cast<size_t>(ny) * static_cast<size_t>(width) + static_cast<size_t>(nx);
                if (!seen[next] && average[next] >= level) {
                    seen[next] = 1;
                    stack.push_back(next);
                }
            }
        }
        if (region.pixels > best.pixels) {
            region.x = sumX / static_cast<double>(region.pixels);
            region.y = sumY / static_cast<double>(region.pixels);
            region.radius = std::sqrt(static_cast<double>(region.pixels) * aspect / Pi);
            best = region;
        }
    }
    return best;
}

// Whether the region at or above `level` within `within` pixels of `around` (one that reaches the
// image's edge) is a sphere of `expected` pixels radius cut by it: its boundary away from the
// image's edge lies on a circle of about that radius (an algebraic least-squares circle), whose
// centre is returned. All of the boundary, not on the whole: a lit plate cut by the shadows of what
// stands on it has a boundary whose fitted circle can have any radius, but few of its points on it.
bool CutSphere(const std::vector<float>& average, int32_t width, int32_t height, double aspect, float level,
               const Region& around, double within, double expected, double& centreX, double& centreY) {
    auto inside = [&](int32_t x, int32_t y) {
        return average[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] >=
                   level &&
               std::hypot(x - around.x, (y - around.y) * aspect) <= within;
    };
    // Sums for the circle x^2 + y^2 + d x + e y + f = 0 through the boundary's points (y in
    // millimetres of the rows, as x).
    double m[3][3] = {}, v[3] = {};
    size_t points = 0;
    std::vector<std::pair<double, double>> boundary;
    for (int32_t y = 1; y + 1 < height; ++y)
        for (int32_t x = 1; x + 1 < width; ++x) {
            if (!inside(x, y) ||
                (inside(x - 1, y) && inside(x + 1, y) && inside(x, y - 1) && inside(x, y + 1)))
                continue;
            const double row[3] = {static_cast<double>(x), y * aspect, 1};
            const double target = -(x * x + y * aspect * y * aspect);
            for (size_t i = 0; i < 3; ++i) {
                for (size_t j = 0; j < 3; ++j)
                    m[i][j] += row[i] * row[j];
                v[i] += row[i] * target;
            }
            ++points;
            boundary.emplace_back(x, y * aspect);
        }
    if (points < 20)
        return false;
    auto determinant = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double whole = determinant(m);
    if (!(std::fabs(whole) > 0))
        return false;
    double solution[3];
    for (size_t c = 0; c < 3; ++c) {
        double replaced[3][3];
        for (size_t i = 0; i < 3; ++i)
            for (size_t j = 0; j < 3; ++j)
                replaced[i][j] = j == c ? v[i] : m[i][j];
        solution[c] = determinant(replaced) / whole;
    }
    centreX = -solution[0] / 2;
    const double centreRow = -solution[1] / 2; // millimetres of rows, as x
    const double radius = std::sqrt(std::max(0.0, centreX * centreX + centreRow * centreRow - solution[2]));
    centreY = centreRow / aspect;
    if (!(std::fabs(radius - expected) <= 0.15 * expected))
        return false;
    // The boundary's pixels lie within a pixel and a half of the circle (their centres stand up to
    // a pixel inside the edge, and noise roughens it), bar a few.
    size_t off = 0;
    for (const auto& [x, row] : boundary)
        off += std::fabs(std::hypot(x - centreX, row - centreRow) - radius) > 1.5 + 0.02 * radius ? 1 : 0;
    return off * 10 <= boundary.size();
}

// The radius of the sphere's edge to a fraction of a pixel. The sphere grows darker toward its rim,
// so a fixed level cuts it short; along the mean profile over rings a quarter pixel wide, the edge
// is where the profile falls to half way between the sphere a pixel and a half inside and the plate.
double EdgeRadius(const std::vector<float>& average, int32_t width, int32_t height, double aspect,
                  const Region& disc, double plateLevel) {
    constexpr double Bin = 0.25;
    const double inner = 0.8 * disc.radius, outer = 1.2 * disc.radius;
    const size_t bins = static_cast<size_t>(std::ceil((outer - inner) / Bin)) + 1;
    std::vector<double> sums(bins, 0), counts(bins, 0);
    const int32_t rows = static_cast<int32_t>(std::ceil(outer / aspect));
    for (int32_t y = std::max(0, static_cast<int32_t>(disc.y) - rows);
         y <= std::min(height - 1, static_cast<int32_t>(disc.y) + rows); ++y)
        for (int32_t x = std::max(0, static_cast<int32_t>(disc.x - outer));
             x <= std::min(width - 1, static_cast<int32_t>(disc.x + outer)); ++x) {
            const double reach = std::hypot(x - disc.x, (y - disc.y) * aspect);
            if (reach < inner || reach >= outer)
                continue;
            const size_t bin = static_cast<size_t>((reach - inner) / Bin);
            sums[bin] +=
                average[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
            counts[bin] += 1;
        }
    auto profile = [&](size_t bin) { return counts[bin] > 0 ? sums[bin] / counts[bin] : plateLevel; };
    const size_t inside = static_cast<size_t>(1.5 / Bin);
    // Outward from inside the sphere to the first fall below half way.
    for (size_t bin = static_cast<size_t>(0.1 * disc.radius / Bin) + inside; bin < bins; ++bin) {
        const double half = (plateLevel + profile(bin - inside)) / 2;
        if (profile(bin - 1) >= half && profile(bin) < half) {
            // Between the centres of the two bins, where the profile crosses half way.
            const double a = profile(bin - 1), b = profile(bin);
            return inner + (static_cast<double>(bin) - 0.5 + (a - half) / (a - b)) * Bin;
        }
    }
    return disc.radius;
}

} // namespace

SphereInImage FindSphereIn(const ImageSetView& images, const CameraGeometry& camera, double darkLevel,
                           double radiusMm) {
    const int32_t width = images.width, height = images.DirectionHeight();
    const double aspect = camera.RowPitch() / camera.PixelSize();
    // A set clipped over much of the image shows no sphere, whatever lies under the camera.
    size_t clipped = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t k = 0; k < 4; ++k)
                if (images.Row(k, y)[x] == 255) {
                    ++clipped;
                    break;
                }
    const double clippedShare = static_cast<double>(clipped) / (static_cast<double>(width) * height);
    if (clippedShare > 0.25)
        throw CalibrationError(
            FormatText("the image set is clipped over %.0f %% of its pixels: lower the exposure "
                       "or the gain",
                       100 * clippedShare));
    const std::vector<float> average = AverageSignal(images, darkLevel);
    // The bright sphere against its darker plate; then its edge at half way between the plate and
    // the sphere's own rim, so that the whole disc counts.
    const double threshold = OtsuThreshold(average);
    std::vector<float> plate;
    for (float v : average)
        if (v < threshold)
            plate.push_back(v);
    const Region first = LargestRegionAbove(average, width, height, aspect, static_cast<float>(threshold));
    if (first.pixels < 20 || plate.empty())
        throw CalibrationError("no sphere found: the image set shows no bright disc on a darker plate");
    std::vector<float> rim;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const double reach = std::hypot(x - first.x, (y - first.y) * aspect) / first.radius;
            if (reach > 0.90 && reach < 0.97)
                rim.push_back(
                    average[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]);
        }
    const double plateLevel = Median(plate), rimLevel = std::max(Median(rim), static_cast<double>(threshold));
    const float edge = static_cast<float>((plateLevel + rimLevel) / 2);
    const Region disc = RegionAbove(average, width, height, aspect, edge, first, 1.3 * first.radius);

    // A bright region larger than the sphere is something else (a part, a card), even where it
    // reaches the image's edge.
    const double expected = radiusMm / camera.PixelSize();
    if (disc.radius > 1.2 * expected)
        throw CalibrationError(FormatText(
            "no sphere found: the bright region is larger than a sphere of %.1f mm radius", radiusMm));
    if (disc.touchesEdge) {
        double centreX = 0, centreY = 0;
        if (!CutSphere(average, width, height, aspect, edge, first, 1.3 * first.radius, expected, centreX,
                       centreY))
            throw CalibrationError("no sphere found: the image set shows no bright disc on a darker plate");
        throw CalibrationError(
            FormatText("the sphere is cut by the image's edge (centre at %.0f, %.0f): centre it "
                       "under the camera, or make the image taller",
                       centreX, centreY));
    }
    const double radius = EdgeRadius(average, width, height, aspect, disc, plateLevel);
    if (std::fabs(radius - expected) > 0.1 * expected)
        throw CalibrationError(
            FormatText("no sphere of %.1f mm radius found: the bright disc has %.1f mm (check the "
                       "sphere's radius and the field of view, %.1f mm across the sensor)",
                       radiusMm, radius * camera.PixelSize(), camera.fieldOfView));
    // A disc, not some other bright shape: nearly all of it inside the circle found.
    const Region inside = RegionAbove(average, width, height, aspect, edge, disc, disc.radius);
    if (static_cast<double>(inside.pixels) < 0.97 * static_cast<double>(disc.pixels))
        throw CalibrationError("no sphere found: the bright region is not round");
    return {disc.x, disc.y, radius};
}

} // namespace zeb::photometric
