// How long a line-scan frame takes against how long the plug-in waits for it. A frame (four
// directions of "Height" lines each) that outlasts the wait ends the acquisition with the plug-in's
// "Acquisition aborted because of camera overtriggered."; this says why and what to set instead.
#pragma once

#include "hostkit/HostChannel.h"

#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>

namespace zeb::cli {

// The plug-in's wait for the frames of a line-scan image set once its sequencer has run through.
constexpr double LineScanFrameWaitMs = 500;
// The share of that wait a frame may take in what zeb suggests: room for the host's scheduling.
constexpr double LineScanFrameMargin = 0.9;

struct LineScanTiming {
    int64_t height = 0;  // "Height": lines per direction
    double lineRate = 0; // "AcquisitionLineRate", lines per second
    bool clocked = true; // "AcquisitionLineRateEnable": the controller clocks the lines
    double FrameMs() const { return lineRate > 0 ? 4000.0 * static_cast<double>(height) / lineRate : 0; }
    bool TooLong() const { return clocked && FrameMs() > LineScanFrameWaitMs; }
    // The tallest "Height" whose frame fits the wait with its margin at this line rate.
    int64_t LargestHeight() const;
    // The slowest "AcquisitionLineRate" at which this "Height" fits the wait with its margin.
    int64_t SmallestLineRate() const;
    // "a line-scan frame of 4 x 2048 = 8192 lines takes 819 ms at "AcquisitionLineRate" 10000
    // lines/s, longer than the 500 ms the plug-in waits for it: set "Height" to at most 1125 or
    // "AcquisitionLineRate" to at least 18205". Empty when the frame fits.
    std::string Explanation() const;
    // Where a taller image must stop: "\"Height\" at most 1125 at \"AcquisitionLineRate\" 10000
    // lines/s, so that a frame stays within the plug-in's 500 ms wait; raise \"AcquisitionLineRate\"
    // to go taller". Empty when the lines are not clocked by the controller.
    std::string TallestImage() const;
};

// The channel's timing now; nothing for an area-scan channel or when the features cannot be read.
std::optional<LineScanTiming> ReadLineScanTiming(host::HostChannel& channel);

// What follows the plug-in's error text when a line-scan frame outlasts the wait: the explanation
// above, or empty when `error` is no overtrigger or the frame fits (then it has another cause).
std::string ExplainFailure(host::HostChannel& channel, const std::string& error);

// For a host that shows the failure as one text (zeb view): each of `texts` that is an overtrigger
// not yet explained gets the explanation after the plug-in's text, as a sentence of its own. The
// channel is read only for such a text, without `guard` held; `guard` guards the texts. True when a
// text changed.
bool ExplainFailures(host::HostChannel& channel, std::mutex& guard,
                     std::initializer_list<std::string*> texts);

} // namespace zeb::cli
