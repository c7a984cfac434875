// How long image delivery waits for missing frames once the sequencer has run through, before it
// gives up with "Acquisition aborted because of camera overtriggered.".
#pragma once

#include "Tamo/String.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace Tamo::Morvane::Zeb {

// The allowed wait in line scan, and the least an area-scan camera without a frame rate gets.
constexpr int32_t OvertriggerWaitMs = 500;

// Area scan: eight frame periods plus one exposure time, in whole milliseconds, from the camera's
// "AcquisitionFrameRate" text (frames per second) and the exposure time in microseconds. A camera
// that reports no usable frame rate (0, negative or not a number) would make that wait endless;
// it gets the line-scan wait instead, or nine exposure times (eight frames of at least one
// exposure each, plus one) when that is longer. The wait never exceeds the largest 32-bit value.
inline int32_t AreaScanOvertriggerWaitMs(const Tamo::String& frameRate, double exposureMicroseconds) {
    const double rate = frameRate.ToDouble();
    const double wait = std::isfinite(rate) && rate > 0.0 ? 8000.0 / rate + exposureMicroseconds / 1000.0
                                                          : std::max(static_cast<double>(OvertriggerWaitMs),
                                                                     9.0 * exposureMicroseconds / 1000.0);
    if (std::isnan(wait))
        return OvertriggerWaitMs;
    if (wait >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (wait <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(wait);
}

} // namespace Tamo::Morvane::Zeb
