#include "SphereCalibration.h"

#include "DomeLight.h"
#include "PixelSolve.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace zeb::photometric {

namespace {

// Pixels at most that measure the lights, that search all round the dome, and that judge a model.
constexpr size_t FitPixels = 2500;
constexpr size_t SearchPixels = 400;
constexpr size_t JudgedPixels = 6000;

std::string Format(const char* format, double a, double b = 0, double c = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

double AngleBetween(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180 ? 360 - d : d;
}

int32_t Wrap(int32_t degrees) {
    return ((degrees % 360) + 360) % 360;
}

// A pixel coordinate from a position, kept within [low, high] before it becomes an integer (a
// position that is not a number gives `low`).
int32_t PixelWithin(double position, int32_t low, int32_t high) {
    if (!(position >= low))
        return low;
    return position > high ? high : static_cast<int32_t>(position);
}

// The sphere's surface under a pixel, from its place in the image.
class SphereShape {
public:
    SphereShape(const SphereInImage& sphere, const CameraGeometry& camera)
        : _sphere(sphere), _aspect(camera.RowPitch() / camera.PixelSize()), _pixel(camera.PixelSize()) {}

    // Squared distance from the centre as a share of the radius.
    double Reach(double x, double y) const {
        const double dx = (x - _sphere.x) / _sphere.radius, dy = (y - _sphere.y) * _aspect / _sphere.radius;
        return dx * dx + dy * dy;
    }
    // The unit normal in the image's frame (x right, y up) at a pixel inside the sphere.
    Vector3 Normal(double x, double y) const {
        const double dx = (x - _sphere.x) / _sphere.radius, dy = (y - _sphere.y) * _aspect / _sphere.radius;
        return {dx, -dy, std::sqrt(std::max(0.0, 1 - dx * dx - dy * dy))};
    }
    // Millimetres above the object plane.
    double Height(double x, double y) const { return Normal(x, y).z * _sphere.radius * _pixel; }
    // Rows of the image the sphere spans.
    double RowRadius() const { return _sphere.radius / _aspect; }

private:
    SphereInImage _sphere;
    double _aspect, _pixel;
};

// One pixel of the sphere: where it is, how it faces, what the four steps gave it.
struct SpherePixel {
    int32_t x = 0, y = 0;
    Vector3 point;  // the dome's frame, on the sphere
    Vector3 normal; // the image's frame
    PixelSignal signal;
};

// The sphere's pixels up to `tilt` degrees, every `stride`-th in each direction.
std::vector<SpherePixel> CapPixels(const ImageSetView& images, const SphereInImage& sphere,
                                   const LightingModel& model, const ImageRegion& region, double tilt,
                                   int32_t stride) {
    const SphereShape shape(sphere, model.camera);
    const PixelPlacement placement(model, images.width, images.DirectionHeight(), region);
    const double reach = std::pow(std::sin(Radians(tilt)), 2);
    std::vector<SpherePixel> pixels;
    const int32_t lastRow = images.DirectionHeight() - 1, lastColumn = images.width - 1;
    const int32_t top = PixelWithin(std::floor(sphere.y - shape.RowRadius()), 0, lastRow);
    const int32_t bottom = PixelWithin(std::ceil(sphere.y + shape.RowRadius()), 0, lastRow);
    const int32_t left = PixelWithin(std::floor(sphere.x - sphere.radius), 0, lastColumn);
    const int32_t right = PixelWithin(std::ceil(sphere.x + sphere.radius), 0, lastColumn);
    for (int32_t y = top; y <= bottom; y += stride)
        for (int32_t x = left; x <= right; x += stride) {
            if (shape.Reach(x, y) > reach)
                continue;
            SpherePixel pixel;
            pixel.x = x;
            pixel.y = y;
            pixel.normal = shape.Normal(x, y);
            pixel.point = placement.Point(x, y, shape.Height(x, y));
            std::array<uint8_t, 4> grey;
            for (int32_t k = 0; k < 4; ++k)
                grey[static_cast<size_t>(k)] = images.Row(k, y)[x];
            pixel.signal = ClassifyPixel(grey, model.darkLevel, model.minimumSignal, model.saturation);
            pixels.push_back(pixel);
        }
    return pixels;
}

// Every `stride`-th pixel in each direction keeps about `wanted` of the cap's pixels.
int32_t StrideFor(const SphereInImage& sphere, const CameraGeometry& camera, double tilt, size_t wanted) {
    const double area =
        Pi * std::pow(sphere.radius * std::sin(Radians(tilt)), 2) * camera.PixelSize() / camera.RowPitch();
    return PixelWithin(std::ceil(std::sqrt(area / static_cast<double>(wanted))), 1, 1 << 20);
}

// The light of a model's steps at one point, by every emitter above a facet's horizon.
class PointLights {
public:
    PointLights(const LightingModel& model, const ImageRegion& region)
        : _model(model), _turned(region.reverse && !model.camera.lineScan) {
        for (const DirectionLight& direction : model.directions)
            _lights.emplace_back(model.domeRadius, direction.patch);
    }
    void At(const Vector3& point, const Vector3& normal, std::array<Vector3, 4>& lights) const {
        const Vector3 facing = Turn(normal);
        for (size_t k = 0; k < 4; ++k)
            lights[k] = _model.directions[k].whiteLevel * Turn(_lights[k].Light(point, facing));
    }

private:
    Vector3 Turn(const Vector3& v) const { return _turned ? Vector3{-v.x, -v.y, v.z} : v; }
    const LightingModel& _model;
    bool _turned;
    std::vector<DomeLight> _lights;
};

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
// centre is returned.
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
    return std::fabs(radius - expected) <= 0.15 * expected;
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

// The arc middle and white level of step k that explain the sphere's pixels best: the arc is
// searched all round the dome in steps of 5 degrees on a few pixels, then refined on all of them.
struct StepFit {
    double azimuth = 0, whiteLevel = 0;
};
StepFit FitStep(const std::vector<SpherePixel>& pixels, size_t k, double domeRadius, double width,
                double albedo, bool turned) {
    const auto turn = [&](const Vector3& v) { return turned ? Vector3{-v.x, -v.y, v.z} : v; };
    // Squared misfit at an arc middle, with the best white level for it.
    auto misfit = [&](double azimuth, size_t every, double* whiteLevel) {
        const DomeLight light(domeRadius, {azimuth, width});
        double product = 0, squares = 0, signal = 0;
        for (size_t i = 0; i < pixels.size(); i += every) {
            const SpherePixel& p = pixels[i];
            const Vector3 facing = turn(p.normal);
            const double received = Dot(light.Light(p.point, facing), facing);
            const double measured = p.signal.signal[k] / albedo;
            product += received * measured;
            squares += received * received;
            signal += measured * measured;
        }
        if (!(squares > 0))
            return signal;
        if (whiteLevel)
            *whiteLevel = product / squares;
        return signal - product * product / squares;
    };
    const size_t every = std::max<size_t>(1, pixels.size() / SearchPixels);
    double best = 0, bestMisfit = -1;
    for (int32_t azimuth = 0; azimuth < 360; azimuth += 5) {
        const double m = misfit(azimuth, every, nullptr);
        if (bestMisfit < 0 || m < bestMisfit) {
            bestMisfit = m;
            best = azimuth;
        }
    }
    // Golden-section search around the best coarse step.
    const double ratio = (std::sqrt(5.0) - 1) / 2;
    double low = best - 5, high = best + 5;
    double a = high - ratio * (high - low), b = low + ratio * (high - low);
    double fa = misfit(a, 1, nullptr), fb = misfit(b, 1, nullptr);
    for (int32_t round = 0; round < 16; ++round) {
        if (fa < fb) {
            high = b;
            b = a;
            fb = fa;
            a = high - ratio * (high - low);
            fa = misfit(a, 1, nullptr);
        } else {
            low = a;
            a = b;
            fa = fb;
            b = low + ratio * (high - low);
            fb = misfit(b, 1, nullptr);
        }
    }
    StepFit fit;
    fit.azimuth = std::fmod((low + high) / 2 + 360, 360);
    misfit(fit.azimuth, 1, &fit.whiteLevel);
    return fit;
}

} // namespace

std::array<LightDirection, 4> LightDirections(const LightingModel& model) {
    std::array<LightDirection, 4> directions;
    const Vector3 centre{0, 0, -model.workingDistance};
    for (size_t k = 0; k < 4; ++k) {
        const Vector3 light = DomeLight(model.domeRadius, model.directions[k].patch).VectorLight(centre);
        directions[k] = {AzimuthDegrees(light), ElevationDegrees(light)};
    }
    return directions;
}

LightingVerdict JudgeLights(const std::array<double, 4>& azimuths, const std::string& sequence,
                            int32_t orientation) {
    // Step k of a sequence is lit from its documented side turned by the orientation set less the
    // dome's mounting: find the mounting and sequence that put each step where it was measured.
    LightingVerdict verdict;
    for (double azimuth : azimuths)
        if (!std::isfinite(azimuth)) {
            verdict.agrees = false;
            verdict.advice =
                "the lights could not be measured: check that each step lights its part of the dome";
            return verdict;
        }
    double bestError = 1e9;
    int32_t bestMounting = -1;
    std::string bestSequence;
    for (const char* candidate : {"Diagonal", "Axial"}) {
        const SequenceArcs arcs = ArcsOfSequence(candidate);
        for (int32_t mounting = 0; mounting < 360; mounting += 90) {
            double error = 0;
            for (size_t k = 0; k < 4; ++k)
                error = std::max(error, AngleBetween(azimuths[k], arcs.azimuths[k] + orientation - mounting));
            // The channel's own settings win a tie.
            const bool own = candidate == sequence && mounting == Wrap(orientation);
            if (error < bestError - 1e-9 || (own && error <= bestError + 1e-9)) {
                bestError = error;
                bestMounting = mounting;
                bestSequence = candidate;
            }
        }
    }
    constexpr double Tolerance = 20; // degrees: an arc this far from its place is not where it should be
    if (bestError > Tolerance) {
        verdict.agrees = false;
        verdict.advice =
            Format("the steps follow neither sequence in any orientation (lit from %.0f, %.0f", azimuths[0],
                   azimuths[1]) +
            Format(", %.0f and %.0f degrees): check the cables between the controller and the dome",
                   azimuths[2], azimuths[3]);
        return verdict;
    }
    verdict.detectedOrientation = bestMounting;
    verdict.detectedSequence = bestSequence;
    verdict.agrees = bestSequence == sequence && bestMounting == Wrap(orientation);
    std::vector<std::string> advice;
    if (bestSequence != sequence)
        advice.push_back("the lights look like the \"" + bestSequence +
                         "\" sequence: set LightingSequenceType to \"" + bestSequence + "\"");
    if (bestMounting != Wrap(orientation))
        advice.push_back("the lights look turned by " + std::to_string(Wrap(orientation - bestMounting)) +
                         " degrees: set LightingOrientation to \"" + std::to_string(bestMounting) + " deg\"");
    for (size_t i = 0; i < advice.size(); ++i)
        verdict.advice += (i ? "; " : "") + advice[i];
    return verdict;
}

SphereCalibration::SphereCalibration(NominalSettings nominal, ImageRegion region, SphereSettings sphere)
    : _nominal(std::move(nominal)), _region(region), _sphere(sphere) {
    NominalModel(_nominal); // throws for settings that make no lighting
    auto tilt = [](double degrees) { return std::isfinite(degrees) && degrees > 0 && degrees < 90; };
    if (!(std::isfinite(sphere.radius) && sphere.radius > 0 && std::isfinite(sphere.albedo) &&
          sphere.albedo > 0) ||
        !tilt(sphere.fitTilt) || !tilt(sphere.evaluationTilt))
        throw std::invalid_argument(
            "the sphere needs a radius and an albedo above 0, and caps of 0 to 90 degrees");
}

namespace {

void CheckPlace(const SphereInImage& sphere) {
    if (!(std::isfinite(sphere.x) && std::isfinite(sphere.y) && std::isfinite(sphere.radius) &&
          sphere.radius > 0))
        throw CalibrationError("the sphere's place in the image must be numbers, with a radius above 0");
}

} // namespace

SphereInImage SphereCalibration::FindSphere(const ImageSetView& images) const {
    const CameraGeometry& camera = _nominal.camera;
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
            Format("the image set is clipped over %.0f %% of its pixels: lower the exposure "
                   "or the gain",
                   100 * clippedShare));
    const std::vector<float> average = AverageSignal(images, _nominal.darkLevel);
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
    const double expected = _sphere.radius / camera.PixelSize();
    if (disc.radius > 1.2 * expected)
        throw CalibrationError(Format(
            "no sphere found: the bright region is larger than a sphere of %.1f mm radius", _sphere.radius));
    if (disc.touchesEdge) {
        double centreX = 0, centreY = 0;
        if (!CutSphere(average, width, height, aspect, edge, first, 1.3 * first.radius, expected, centreX,
                       centreY))
            throw CalibrationError("no sphere found: the image set shows no bright disc on a darker plate");
        throw CalibrationError(
            Format("the sphere is cut by the image's edge (centre at %.0f, %.0f): centre it "
                   "under the camera, or make the image taller",
                   centreX, centreY));
    }
    const double radius = EdgeRadius(average, width, height, aspect, disc, plateLevel);
    if (std::fabs(radius - expected) > 0.1 * expected)
        throw CalibrationError(
            Format("no sphere of %.1f mm radius found: the bright disc has %.1f mm (check the "
                   "sphere's radius and the field of view, %.1f mm across the sensor)",
                   _sphere.radius, radius * camera.PixelSize(), camera.fieldOfView));
    // A disc, not some other bright shape: nearly all of it inside the circle found.
    const Region inside = RegionAbove(average, width, height, aspect, edge, disc, disc.radius);
    if (static_cast<double>(inside.pixels) < 0.97 * static_cast<double>(disc.pixels))
        throw CalibrationError("no sphere found: the bright region is not round");
    return {disc.x, disc.y, radius};
}

namespace {

// The cap's pixels solved with `model` at the sphere's known points.
struct SolvedPixel {
    SpherePixel pixel;
    PixelSolution solution;
};
std::vector<SolvedPixel> SolveCap(const ImageSetView& images, const SphereInImage& sphere,
                                  const LightingModel& model, const ImageRegion& region, double tilt,
                                  int32_t stride) {
    const PointLights lights(model, region);
    std::vector<SolvedPixel> solved;
    for (const SpherePixel& p : CapPixels(images, sphere, model, region, tilt, std::max(stride, 1)))
        solved.push_back(
            {p, RefineNormal([&](const Vector3& normal,
                                 std::array<Vector3, 4>& out) { lights.At(p.point, normal, out); },
                             p.signal, {0, 0, 1})});
    return solved;
}

} // namespace

Surface SphereCalibration::SphereNormals(const ImageSetView& images, const SphereInImage& sphere,
                                         const LightingModel& model, double tilt, int32_t stride) const {
    CheckPlace(sphere);
    Surface surface;
    surface.Resize(images.width, images.DirectionHeight());
    surface.pixelSize = model.camera.PixelSize();
    surface.rowPitch = model.camera.RowPitch();
    std::fill(surface.status.begin(), surface.status.end(), static_cast<uint8_t>(PixelStatus::NoSolution));
    for (const SolvedPixel& s : SolveCap(images, sphere, model, _region, tilt, stride)) {
        const size_t i = surface.Index(s.pixel.x, s.pixel.y);
        surface.status[i] = static_cast<uint8_t>(s.solution.status);
        if (s.solution.status != PixelStatus::Reliable)
            continue;
        surface.albedo[i] = static_cast<float>(s.solution.albedo);
        surface.normalX[i] = static_cast<float>(s.solution.normal.x);
        surface.normalY[i] = static_cast<float>(s.solution.normal.y);
        surface.normalZ[i] = static_cast<float>(s.solution.normal.z);
    }
    return surface;
}

NormalErrors SphereCalibration::Errors(const ImageSetView& images, const SphereInImage& sphere,
                                       const LightingModel& model) const {
    CheckPlace(sphere);
    const int32_t stride = StrideFor(sphere, model.camera, _sphere.evaluationTilt, JudgedPixels);
    std::vector<double> errors;
    for (const SolvedPixel& s : SolveCap(images, sphere, model, _region, _sphere.evaluationTilt, stride)) {
        // Clipped or dark pixels say nothing about the model; one it cannot solve counts as wholly wrong.
        if (s.solution.status == PixelStatus::Saturated || s.solution.status == PixelStatus::Dark)
            continue;
        errors.push_back(s.solution.status == PixelStatus::Reliable
                             ? AngleDegrees(s.solution.normal, s.pixel.normal)
                             : 90.0);
    }
    NormalErrors result;
    result.pixels = errors.size();
    if (errors.empty())
        return result;
    double sum = 0;
    for (double e : errors)
        sum += e;
    result.meanDegrees = sum / static_cast<double>(errors.size());
    const auto p95 =
        errors.begin() + static_cast<std::ptrdiff_t>(0.95 * static_cast<double>(errors.size() - 1));
    std::nth_element(errors.begin(), p95, errors.end());
    result.p95Degrees = *p95;
    return result;
}

CalibrationResult SphereCalibration::Calibrate(const ImageSetView& images) const {
    if (!images.pixels || images.width <= 0 || images.height < 4 || images.height % 4 != 0)
        throw CalibrationError("the image set does not hold four directions");
    const LightingModel nominal = NominalModel(_nominal);
    CalibrationResult result;
    result.sphere = FindSphere(images);
    const int32_t stride = StrideFor(result.sphere, nominal.camera, _sphere.fitTilt, FitPixels);
    std::vector<SpherePixel> pixels;
    for (const SpherePixel& p : CapPixels(images, result.sphere, nominal, _region, _sphere.fitTilt, stride))
        if (p.signal.UsableCount() == 4)
            pixels.push_back(p);
    if (pixels.size() < 50)
        throw CalibrationError(
            "the sphere is too dark or too bright to measure the lights: check the exposure");

    result.calibrated = nominal;
    result.calibrated.source = "calibrated";
    std::array<double, 4> azimuths{};
    const bool turned = _region.reverse && !nominal.camera.lineScan;
    for (size_t k = 0; k < 4; ++k) {
        const StepFit fit = FitStep(pixels, k, nominal.domeRadius, nominal.directions[k].patch.widthDegrees,
                                    _sphere.albedo, turned);
        if (!(std::isfinite(fit.whiteLevel) && fit.whiteLevel > 0))
            throw CalibrationError(
                "step " + std::to_string(k) +
                " gives the sphere no light that an arc of the dome explains: check that it "
                "lights its part of the dome");
        result.calibrated.directions[k].patch.azimuthDegrees = fit.azimuth;
        result.calibrated.directions[k].whiteLevel = fit.whiteLevel;
        azimuths[k] = fit.azimuth;
    }
    result.errors = Errors(images, result.sphere, result.calibrated);
    result.nominalErrors = Errors(images, result.sphere, nominal);
    result.lights = LightDirections(result.calibrated);
    result.verdict = JudgeLights(azimuths, _nominal.sequence, _nominal.orientation);
    return result;
}

} // namespace zeb::photometric
