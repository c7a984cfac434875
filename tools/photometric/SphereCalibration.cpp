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
            FormatText("the steps follow neither sequence in any orientation (lit from %.0f, %.0f",
                       azimuths[0], azimuths[1]) +
            FormatText(", %.0f and %.0f degrees): check the cables between the controller and the dome",
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
    return FindSphereIn(images, _nominal.camera, _nominal.darkLevel, _sphere.radius);
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
