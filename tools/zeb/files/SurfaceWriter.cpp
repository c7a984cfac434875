#include "files/SurfaceWriter.h"

#include "base/CommandError.h"
#include "photometric/SurfaceImages.h"

#include <cstdio>

namespace zeb::cli {

namespace fs = std::filesystem;

SurfaceWriter::SurfaceWriter(ChannelLighting lighting, const ImageSetWriter& sets)
    : _lighting(std::move(lighting)), _sets(sets), _solver(_lighting.model, _lighting.region) {}

std::unique_ptr<SurfaceWriter> SurfaceWriter::ForAcquisition(host::HostChannel& channel, Session& session,
                                                             int32_t channelIndex,
                                                             const SurfaceModelOptions& options,
                                                             const ImageSetWriter* sets) {
    if (!sets)
        throw CommandError("--surface writes files: give the folder with --out");
    if (sets->Description().Averaged())
        throw CommandError("the surface needs the four directions, and the channel averages them")
            .Hint("acquire with --setup-mode Off");
    return std::make_unique<SurfaceWriter>(ReadChannelLighting(channel, session, channelIndex, options),
                                           *sets);
}

std::vector<fs::path> SurfaceWriter::Write(const host::Image& image, int64_t number,
                                           std::chrono::system_clock::time_point taken) {
    const bool lineScan = _sets.Description().LineScan();
    _solver.Solve({image.pixels.data(), image.width, image.height, lineScan}, _surface);
    char scale[128];
    std::snprintf(scale, sizeof scale, "one grey level is %g per millimetre of mean curvature; 128 is flat",
                  photometric::DefaultCurvatureScale);
    std::vector<fs::path> files;
    auto write = [&](const std::string& kind, const imagefiles::Picture& picture, const std::string& what,
                     const std::vector<imagefiles::PngText>& more) {
        std::vector<imagefiles::PngText> texts =
            _sets.Texts(number, what, "the surface from the four directions", taken);
        texts.push_back({"Lighting model", _lighting.ModelText()});
        texts.push_back({"Calibration", _lighting.CalibrationText()});
        texts.insert(texts.end(), more.begin(), more.end());
        const fs::path path = _sets.BasePath(number).string() + "-" + kind + ".png";
        imagefiles::WritePng(path, picture, texts);
        files.push_back(path);
    };
    const int32_t width = _surface.width, height = _surface.height;
    const std::vector<uint16_t> normals = photometric::NormalSamples(_surface);
    write("normals", {width, height, 3, {}, normals}, "the surface normals",
          {{"Encoding",
            "16-bit R, G, B: each of x (to the image's right), y (to its top), z (toward the camera) "
            "as (n + 1) / 2 x 65535; 0, 0, 0 where no normal is reliable"}});
    const std::vector<uint16_t> albedo = photometric::AlbedoSamples(_surface);
    write("albedo", {width, height, 1, {}, albedo}, "the albedo",
          {{"Encoding", "16-bit grey: albedo x 65535 (1 is a white Lambertian surface); 0 where no normal is "
                        "reliable"}});
    const std::vector<uint8_t> curvature = photometric::CurvatureSamples(_surface);
    write("curvature", {width, height, 1, curvature, {}}, "the mean curvature",
          {{"Encoding", "8-bit grey: 128 + mean curvature / scale, brighter where convex"},
           {"Curvature scale", scale}});
    return files;
}

} // namespace zeb::cli
