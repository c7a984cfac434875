#include "files/SurfaceWriter.h"

#include "base/CommandError.h"
#include "photometric/SurfaceImages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zeb::cli {

namespace fs = std::filesystem;

photometric::SurfaceOptions SurfaceWriter::SolverOptions() {
    photometric::SurfaceOptions options;
    options.recoverHeight = true;
    return options;
}

SurfaceWriter::SurfaceWriter(ChannelLighting lighting, ImageSetWriter& sets)
    : _lighting(std::move(lighting)), _sets(sets), _forms(sets.SurfaceFiles()),
      _solver(_lighting.model, _lighting.region, SolverOptions()) {
    if (_forms.empty())
        _forms = SurfaceFileNames();
}

std::unique_ptr<SurfaceWriter> SurfaceWriter::ForAcquisition(host::HostChannel& channel, Session& session,
                                                             int32_t channelIndex,
                                                             const SurfaceModelOptions& options,
                                                             ImageSetWriter* sets) {
    if (!sets)
        throw CommandError("--surface writes files: give the folder with --out");
    if (sets->Description().Averaged())
        throw CommandError("the surface needs the four directions, and the channel averages them")
            .Hint("acquire with --setup-mode Off");
    return std::make_unique<SurfaceWriter>(ReadChannelLighting(channel, session, channelIndex, options),
                                           *sets);
}

std::vector<fs::path> SurfaceWriter::Write(const host::Image& image,
                                           std::chrono::system_clock::time_point taken) {
    const bool lineScan = _sets.Description().LineScan();
    _solver.Solve({image.pixels.data(), image.width, image.height, lineScan}, _surface);
    const int32_t width = _surface.width, height = _surface.height;
    const std::vector<uint16_t> normals = photometric::NormalSamples(_surface);
    const std::vector<uint16_t> albedo = photometric::AlbedoSamples(_surface);
    const std::vector<uint8_t> curvature = photometric::CurvatureSamples(_surface);
    std::vector<uint16_t> heights = photometric::HeightSamples(_surface);
    if (heights.empty())
        heights.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);

    char scale[128];
    std::snprintf(scale, sizeof scale, "one grey level is %g per millimetre of mean curvature; 128 is flat",
                  photometric::DefaultCurvatureScale);
    const double lowest = photometric::LowestHeight(_surface);
    char zero[160];
    if (std::isnan(lowest))
        std::snprintf(zero, sizeof zero, "none: no pixel has a height");
    else
        std::snprintf(zero, sizeof zero,
                      "the lowest point of the recovered surface, %.3f mm above the object plane", lowest);

    std::vector<ExtraFile> files;
    auto add = [&](const std::string& kind, const imagefiles::Picture& picture, const std::string& what,
                   std::vector<imagefiles::PngText> more) {
        if (std::find(_forms.begin(), _forms.end(), kind) == _forms.end())
            return;
        files.push_back({kind, picture, [this, what, more, taken](int64_t number) {
                             std::vector<imagefiles::PngText> texts =
                                 _sets.Texts(number, what, "the surface from the four directions", taken);
                             texts.push_back({"Lighting model", _lighting.ModelText()});
                             texts.push_back({"Calibration", _lighting.CalibrationText()});
                             texts.insert(texts.end(), more.begin(), more.end());
                             return texts;
                         }});
    };
    add("normals", {width, height, 3, {}, normals}, "the surface normals",
        {{"Encoding",
          "16-bit R, G, B: each of x (to the image's right), y (to its top), z (toward the camera) "
          "as (n + 1) / 2 x 65535; 0, 0, 0 where no normal is reliable"}});
    add("albedo", {width, height, 1, {}, albedo}, "the albedo",
        {{"Encoding", "16-bit grey: albedo x 65535 (1 is a white Lambertian surface); 0 where no normal is "
                      "reliable"}});
    add("curvature", {width, height, 1, curvature, {}}, "the mean curvature",
        {{"Encoding", "8-bit grey: 128 + mean curvature / scale, brighter where convex"},
         {"Curvature scale", scale}});
    add("height", {width, height, 1, {}, heights}, "the height",
        {{"Encoding",
          "16-bit grey: micrometres above the height zero, clipped at 65535; 0 where no height is "
          "known"},
         {"Height zero", zero}});
    return _sets.Write(image, taken, files);
}

} // namespace zeb::cli
