// Recorded image sets played back as a camera's frames: the "-stack.png" files of a folder (as zeb
// acquire, zeb view and the Python package write them), in the order of their names with numbers
// compared as numbers, looping. An area-scan stack holds the four directions one below the other,
// a line-scan stack the rows of one frame with the directions interleaved.
//
// When the station file is read, every file's header is checked: a PNG, 8-bit grey, the size of the
// folder's first set, four directions high, recorded by a camera of this scan type (its "Scan type"
// text, when it has one). The pixels are decoded when a frame needs them, then kept (up to a budget)
// so that a loop over a few sets decodes each once.
#pragma once

#include "StationFiles.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace zeb::station {

class Recording {
public:
    // Lists and checks the folder's image sets (`folder` as the station file gives it, relative to
    // `stationFile`). Throws std::runtime_error naming the folder or file and the reason.
    static std::shared_ptr<Recording> Open(const std::string& folder, const std::string& stationFile,
                                           const std::string& scanType,
                                           std::shared_ptr<const FileSource> files);

    size_t Count() const { return _sets.size(); }
    int32_t Width() const { return _width; }
    int32_t Rows() const { return _rows; } // a stack's rows: four directions, or a line frame's rows
    const std::string& FirstFile() const { return _sets.front(); }

    // Why a camera whose frames are `width` x `rows` cannot play the sets back; empty when it can.
    std::string Mismatch(int32_t width, int32_t rows, bool lineScan) const;

    // The stack of set `index` (taken modulo the count), row after row. Throws std::runtime_error
    // naming the file when it can no longer be read or decoded.
    const std::vector<uint8_t>& Stack(int64_t index);
    const std::string& File(int64_t index) const;

private:
    Recording() = default;

    std::shared_ptr<const FileSource> _files;
    std::vector<std::string> _sets; // paths
    int32_t _width = 0, _rows = 0;
    bool _lineScan = false;
    struct Decoded {
        size_t set = 0;
        std::vector<uint8_t> pixels;
    };
    std::list<Decoded> _decoded; // most recent first
    size_t _decodedBytes = 0;
};

} // namespace zeb::station
