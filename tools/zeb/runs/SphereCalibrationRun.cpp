#include "runs/SphereCalibrationRun.h"

#include "base/CommandError.h"
#include "base/FileText.h"
#include "base/Text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zeb::cli {

using namespace photometric;

namespace {

// The image sets that show the sphere whole where the first of them does, averaged (a pixel
// clipped in one of them stays clipped): less noise for the same lights.
host::Image AverageOfSphere(const std::vector<host::Image>& sets, const SphereCalibration& calibration,
                            bool lineScan, int32_t& used) {
    std::string firstError;
    std::vector<const host::Image*> chosen;
    SphereInImage first;
    for (const host::Image& set : sets) {
        try {
            const SphereInImage sphere =
                calibration.FindSphere({set.pixels.data(), set.width, set.height, lineScan});
            if (chosen.empty())
                first = sphere;
            if (std::hypot(sphere.x - first.x, sphere.y - first.y) <= 1)
                chosen.push_back(&set);
        } catch (const CalibrationError& error) {
            if (firstError.empty())
                firstError = error.what();
        }
    }
    if (chosen.empty())
        throw CommandError(firstError.empty() ? "no image set to find the sphere in" : firstError);
    used = static_cast<int32_t>(chosen.size());
    host::Image average = *chosen.front();
    for (size_t i = 0; i < average.pixels.size(); ++i) {
        uint32_t sum = 0;
        bool clipped = false;
        for (const host::Image* set : chosen) {
            sum += set->pixels[i];
            clipped |= set->pixels[i] == 255;
        }
        average.pixels[i] = clipped ? 255 : static_cast<uint8_t>((sum + chosen.size() / 2) / chosen.size());
    }
    return average;
}

// The finder takes a bright region that reaches the image's edge for a sphere cut by it when a
// circle fits the region's boundary. A circle whose centre lies more than the sphere's radius
// inside every edge is cut by none of them: the region is something else (a part, a card).
bool CutByNoEdge(const std::string& message, const host::Image& image, const LightingModel& model,
                 double radiusMm) {
    double x = 0, y = 0;
    const size_t at = message.find("(centre at ");
    if (!message.starts_with("the sphere is cut by the image's edge") || at == std::string::npos ||
        std::sscanf(message.c_str() + at, "(centre at %lf, %lf)", &x, &y) != 2)
        return false;
    const double columns = radiusMm / model.camera.PixelSize(), rows = radiusMm / model.camera.RowPitch();
    const double width = image.width, height = image.height / 4.0;
    return x - columns > 0 && x + columns < width && y - rows > 0 && y + rows < height;
}

std::string Orientation(int32_t degrees) {
    return std::to_string(degrees) + " deg";
}

} // namespace

nlohmann::ordered_json SphereCalibrationRun::Figures() const {
    nlohmann::ordered_json lights = nlohmann::ordered_json::array();
    for (const LightDirection& light : result.lights)
        lights.push_back(
            {{"azimuthDegrees", light.azimuthDegrees}, {"elevationDegrees", light.elevationDegrees}});
    const int32_t detected = result.verdict.detectedOrientation;
    return {{"sphere", {{"x", result.sphere.x}, {"y", result.sphere.y}, {"radius", result.sphere.radius}}},
            {"meanErrorDegrees", result.errors.meanDegrees},
            {"p95ErrorDegrees", result.errors.p95Degrees},
            {"nominalMeanErrorDegrees", result.nominalErrors.meanDegrees},
            {"lights", lights},
            {"orientation",
             {{"set", record.lightingOrientation},
              {"detected", detected < 0 ? nlohmann::ordered_json(nullptr)
                                        : nlohmann::ordered_json(Orientation(detected))}}}};
}

nlohmann::ordered_json SphereCalibrationRun::FiguresAndVerdict() const {
    nlohmann::ordered_json answer = Figures();
    const std::string suggested = SuggestedOrientation();
    answer["agrees"] = result.verdict.agrees;
    answer["advice"] = result.verdict.advice;
    answer["suggestedOrientation"] =
        suggested.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(suggested);
    return answer;
}

std::string SphereCalibrationRun::SuggestedOrientation() const {
    const int32_t detected = result.verdict.detectedOrientation;
    if (detected < 0 || detected == std::atoi(record.lightingOrientation.c_str()))
        return {};
    return Orientation(detected);
}

SphereCalibrationRun CalibrateOnSphere(const std::vector<host::Image>& sets, const ChannelLighting& lighting,
                                       const ImageSetDescription& description, const SphereSettings& sphere) {
    SphereCalibrationRun run;
    const SphereCalibration calibration(lighting.nominal, lighting.region, sphere);
    host::Image image;
    try {
        image = AverageOfSphere(sets, calibration, description.LineScan(), run.setsUsed);
    } catch (const CommandError& error) {
        const std::string what = error.what();
        if (!sets.empty() && CutByNoEdge(what, sets.front(), lighting.model, sphere.radius)) {
            char text[200];
            std::snprintf(
                text, sizeof text,
                "no sphere found: the bright region reaches the image's edge, but no sphere of %.1f mm "
                "radius cut by the edge fits it",
                sphere.radius);
            throw CommandError(text);
        }
        // A taller line-scan image takes longer: the advice says where the plug-in's wait stops it.
        if (what.find("make the image taller") == std::string::npos || !description.lineTiming ||
            description.lineTiming->TallestImage().empty())
            throw;
        throw CommandError(what + " (" + description.lineTiming->TallestImage() + ")");
    }
    try {
        run.result =
            calibration.Calibrate({image.pixels.data(), image.width, image.height, description.LineScan()});
    } catch (const CalibrationError& error) {
        throw CommandError(error.what());
    }
    const CalibrationResult& result = run.result;
    CalibrationRecord& record = run.record;
    record.model = result.calibrated;
    record.date = IsoTime(std::chrono::system_clock::now());
    record.channel = description.channel;
    record.camera = description.camera + " (" + description.cameraModel + ")";
    record.domeModel = lighting.domeModel;
    record.lightingOrientation = description.lightingOrientation;
    record.lightingSequence = description.lightingSequence;
    record.exposureTime = std::strtod(description.exposureTime.c_str(), nullptr);
    record.gain = std::strtod(description.gain.c_str(), nullptr);
    record.sphereX = result.sphere.x;
    record.sphereY = result.sphere.y;
    record.sphereRadius = result.sphere.radius;
    record.sphereRadiusMm = result.sphere.radius * result.calibrated.camera.PixelSize();
    record.sphereAlbedo = sphere.albedo;
    record.meanErrorDegrees = result.errors.meanDegrees;
    record.p95ErrorDegrees = result.errors.p95Degrees;
    record.nominalMeanErrorDegrees = result.nominalErrors.meanDegrees;
    return run;
}

void WriteCalibrationFile(const std::filesystem::path& file, const CalibrationRecord& record) {
    // Its folder is made as the image sets' folder is (zeb view's --out may not exist yet).
    std::error_code error;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), error);
    if (error)
        throw CommandError("cannot create the folder " + file.parent_path().string() + ": " +
                           error.message());
    WriteWholeFile(file, CalibrationToJson(record), "calibration file");
}

bool IsCalibrationText(const std::string& text) {
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    return json.is_object() && json.contains("version") && json.contains("steps") && json.contains("sphere");
}

void CheckCalibrationTarget(const std::filesystem::path& file) {
    RefuseToReplace(file, "calibration file", "a calibration file", IsCalibrationText);
}

} // namespace zeb::cli
