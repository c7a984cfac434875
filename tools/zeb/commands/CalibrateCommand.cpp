// zeb calibrate: the lights measured on a matte sphere under the camera, kept in a calibration file,
// with the figures that say whether the station's images make a good surface and whether the
// lights are where the channel's orientation and sequence put them.
#include "base/JsonText.h"
#include "commands/Commands.h"

#include "base/CommandError.h"
#include "base/Text.h"
#include "commands/Interrupt.h"
#include "runs/AcquisitionLoop.h"
#include "runs/SphereCalibrationRun.h"
#include "session/FrameTiming.h"

#include <cstdio>

namespace zeb::cli {

namespace fs = std::filesystem;
using namespace photometric;

void CalibrateCommand::Define(CLI::App& parent) {
    _app = parent.add_subcommand(
        "calibrate", "measure the lights on a matte sphere under the camera (the station's \"sphere\" "
                     "target), write them to a calibration file and say how well they explain it");
    AddChannelOptions(*_app, _channel);
    _app->add_option("--out,-o", _out, "the calibration file (default: zeb-calibration-channelN.json)");
    _app->add_option("--sphere-radius", _sphereRadius, "the sphere's radius, millimetres")
        ->check(NumberIn(1, 1000));
    _app->add_option("--sphere-albedo", _sphereAlbedo, "the albedo of the sphere's matte surface")
        ->check(NumberIn(0.01, 1));
    _app->add_option("--count,-n", _count,
                     "image sets to acquire and average (those that show the sphere where the first does)")
        ->check(NumberIn(1, 100, true));
    _app->add_option("--timeout", _timeoutSeconds, "longest wait for one image set, in seconds")
        ->check(NumberIn(0.01, 3600));
    AddSurfaceModelOptions(*_app, _model, false);
    _app->add_flag("--json", _json, "print the figures as JSON");
}

int CalibrateCommand::Run(Session& session) {
    const std::string file =
        _out.empty() ? "zeb-calibration-channel" + std::to_string(_channel.channel) + ".json" : _out;
    CheckCalibrationTarget(fs::u8path(file)); // before anything is acquired
    const std::vector<Assignment> extra = {
        {"SetupMode", "Off", "calibrate"},
        {"AcquisitionMode", _count > 1 ? "Continuous" : "SingleFrame", "calibrate"}};
    host::HostChannel& channel = PrepareChannel(session, _channel, CameraNeed::Required, extra);
    const ImageSetDescription description = ImageSetDescription::Read(channel, _channel.channel);
    const ChannelLighting lighting = ReadChannelLighting(channel, session, _channel.channel, _model);

    AcquisitionLoop::Options options;
    options.count = _count;
    options.timeoutMs = static_cast<int32_t>(_timeoutSeconds * 1000);
    AcquisitionLoop loop(channel, options);
    std::vector<host::Image> sets;
    AcquisitionLoop::End end;
    try {
        end = loop.Run([&](const host::Image& image, int64_t) { sets.push_back(image); }, Interrupted);
    } catch (const std::exception& error) {
        throw CommandError(error.what());
    }
    if (end == AcquisitionLoop::End::Stopped) {
        std::fprintf(stderr, "interrupted after %zu of %d image sets\n", sets.size(), _count);
        return InterruptedStatus;
    }
    if (end == AcquisitionLoop::End::Failed) {
        CommandError error = loop.Statistics().lost > 0 && loop.Statistics().failed == 0
                                 ? CommandError(loop.Error())
                                 : PluginError(loop.Error());
        throw error.Hint(ExplainFailure(channel, loop.Error()));
    }

    SphereSettings sphere;
    sphere.radius = _sphereRadius;
    sphere.albedo = _sphereAlbedo;
    const SphereCalibrationRun run = CalibrateOnSphere(sets, lighting, description, sphere);
    const CalibrationResult& result = run.result;
    WriteCalibrationFile(fs::u8path(file), run.record);

    const LightingVerdict& verdict = result.verdict;
    if (_json) {
        nlohmann::ordered_json json = run.FiguresAndVerdict();
        json["imageSets"] = sets.size();
        json["imageSetsUsed"] = run.setsUsed;
        json["file"] = file;
        std::printf("%s\n", JsonText(json, 2).c_str());
    } else {
        std::printf("sphere: centre %.1f, %.1f, radius %.1f pixels (%.2f mm), from %d image set%s\n",
                    result.sphere.x, result.sphere.y, result.sphere.radius, run.record.sphereRadiusMm,
                    run.setsUsed, run.setsUsed == 1 ? "" : "s");
        std::printf("normals over the sphere's cap to %.0f degrees against its true normals: with the "
                    "calibration mean "
                    "%.2f, 95th percentile %.2f degrees; with the nominal model mean %.2f degrees\n",
                    sphere.evaluationTilt, result.errors.meanDegrees, result.errors.p95Degrees,
                    result.nominalErrors.meanDegrees);
        const std::array<LightDirection, 4> documented = LightDirections(NominalModel(lighting.nominal));
        for (size_t k = 0; k < 4; ++k)
            std::printf("step %zu: light from azimuth %.1f, elevation %.1f degrees (nominal %.1f, %.1f)\n", k,
                        result.lights[k].azimuthDegrees, result.lights[k].elevationDegrees,
                        documented[k].azimuthDegrees, documented[k].elevationDegrees);
        std::printf("LightingOrientation \"%s\", LightingSequenceType \"%s\": %s\n",
                    Printable(description.lightingOrientation).c_str(),
                    Printable(description.lightingSequence).c_str(),
                    verdict.agrees ? "the lights agree" : "the lights disagree");
        std::printf("wrote the calibration to %s\n", file.c_str());
    }
    if (static_cast<size_t>(run.setsUsed) < sets.size())
        std::fprintf(
            stderr, "zeb: %d of %zu image sets show the sphere where the first does and were averaged%s\n",
            run.setsUsed, sets.size(),
            description.LineScan() ? " (in line scan the sphere moves with the encoder from one image "
                                     "set to the next: --count adds nothing while it moves)"
                                   : "");
    if (verdict.agrees)
        return 0;
    std::fprintf(stderr, "zeb: %s\n", Printable(verdict.advice).c_str());
    if (const std::string suggested = run.SuggestedOrientation(); !suggested.empty())
        std::fprintf(stderr,
                     "zeb: apply it with --set \"LightingOrientation=%s\", in a profile, or with set "
                     "LightingOrientation \"%s\" in zeb shell; then calibrate again\n",
                     suggested.c_str(), suggested.c_str());
    return 2;
}

} // namespace zeb::cli
