// Saving image sets as numbered PNG files that carry what a person needs to read them: channel,
// camera, scan type, exposure, gain, lighting, direction order and the side each direction is lit
// from, and the time.
#pragma once

#include "hostkit/HostChannel.h"
#include "imagefiles/Png.h"
#include "session/ImageSetDescription.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace zeb::cli {

// The files of an image set as --files names them: "stack" (as delivered), "average", "directions"
// (the 2 x 2 contact sheet) and "direction" (-direction0.png to -direction3.png, one per direction).
const std::vector<std::string>& ImageSetFileNames();
// The surface's files of an image set (files::SurfaceWriter): "normals", "albedo", "curvature" and
// "height".
const std::vector<std::string>& SurfaceFileNames();
// Both lists: what --files takes.
const std::vector<std::string>& FileChoices();

// A file written beside an image set's own, by a writer that knows the set's number only once it is
// claimed (the surface's files): its name's last part, its picture, and its text chunks for a number.
struct ExtraFile {
    std::string suffix;
    imagefiles::Picture picture;
    std::function<std::vector<imagefiles::PngText>(int64_t number)> texts;
};

class ImageSetWriter {
public:
    // Numbering continues after the highest image set of this channel already in `folder`. `files`
    // picks files by the names above; empty: every file of the image set's form (stack, average and
    // contact sheet, for line scan also each direction; an averaged set has its average alone).
    // Throws std::runtime_error when the folder cannot be made or the choice writes nothing.
    ImageSetWriter(std::filesystem::path folder, ImageSetDescription description,
                   std::vector<std::string> files = {});

    // Writes the files of the next image set and returns them in writing order. Its number is
    // claimed by creating every one of its files anew: a number of which any file exists, written
    // by another process or writer meanwhile, is passed over, so writers sharing a folder keep
    // every set whole under a number of its own.
    // `extra` files are claimed and written with the set's own, after them.
    std::vector<std::filesystem::path> Write(const host::Image& image,
                                             std::chrono::system_clock::time_point taken,
                                             const std::vector<ExtraFile>& extra = {});
    // Whether the choice of files names any of the surface's, and which.
    std::vector<std::string> SurfaceFiles() const;
    // The number of the last image set written (0 before the first).
    int64_t LastNumber() const { return _last; }
    const ImageSetDescription& Description() const { return _description; }
    // The files of image set `number` are this path with "-KIND.png" added.
    std::filesystem::path BasePath(int64_t number) const;
    // The text chunks of a file of image set `number` showing `image`.
    std::vector<imagefiles::PngText> Texts(int64_t number, const std::string& image, const std::string& order,
                                           std::chrono::system_clock::time_point taken) const;

private:
    struct Picture;
    std::vector<Picture> Pictures() const;

    std::filesystem::path _folder;
    ImageSetDescription _description;
    std::vector<std::string> _files;
    imagefiles::PngEncoder _encoder;
    host::Image _picture; // the file being written, made from the delivered image
    int64_t _next = 1;
    int64_t _last = 0;
};

} // namespace zeb::cli
