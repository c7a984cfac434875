// The surface of each image set beside its files: zeb-channelN-NNNN-normals.png (16-bit RGB, each
// of x, y, z as (n + 1) / 2 x 65535; x to the image's right, y to its top, z toward the camera;
// 0, 0, 0 where no normal is reliable), -albedo.png (16-bit grey, albedo x 65535, 1 a white
// Lambertian surface), -curvature.png (8-bit, 128 flat, brighter convex, its scale in a text
// chunk) and -height.png (16-bit grey, micrometres above the lowest point of the recovered surface,
// 0 where no height is known; where that zero lies in a text chunk). The surface is solved with
// its heights: each pixel lit at its own height, so that tall objects come out right. Each file
// names the lighting model and the calibration in its text chunks.
#pragma once

#include "files/ImageSetWriter.h"
#include "photometric/SurfaceSolver.h"
#include "session/ChannelLighting.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace zeb::cli {

class SurfaceWriter {
public:
    // `sets` names the files, gives their common text chunks and writes the image set's own files
    // with the surface's; it outlives the writer. The surface's files are those of SurfaceFileNames()
    // that the files chosen for `sets` name; every one of them when it names none.
    SurfaceWriter(ChannelLighting lighting, ImageSetWriter& sets);
    // For zeb acquire --surface: the channel's lighting now, beside the files of `sets`. Throws
    // CommandError when there are no files (`sets` null) or no four directions (averaged sets).
    static std::unique_ptr<SurfaceWriter> ForAcquisition(host::HostChannel& channel, Session& session,
                                                         int32_t channelIndex,
                                                         const SurfaceModelOptions& options,
                                                         ImageSetWriter* sets);

    // Computes the surface of an image set (the four directions as delivered) and writes the set's
    // files with the surface's under the next number; returns them in writing order. Throws
    // std::runtime_error when a file cannot be written.
    std::vector<std::filesystem::path> Write(const host::Image& image,
                                             std::chrono::system_clock::time_point taken);
    const photometric::Surface& LastSurface() const { return _surface; }
    // How the files' surface is solved (with its heights); whoever promises the same surface as
    // zeb acquire --surface solves with these.
    static photometric::SurfaceOptions SolverOptions();

private:
    ChannelLighting _lighting;
    ImageSetWriter& _sets;
    std::vector<std::string> _forms;
    photometric::SurfaceSolver _solver;
    photometric::Surface _surface;
};

} // namespace zeb::cli
