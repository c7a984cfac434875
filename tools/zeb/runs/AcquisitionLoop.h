// Acquiring image sets from a prepared channel, with the statistics a person watches: image sets
// per second, lost and failed sets, the start-up apart from the time per set.
#pragma once

#include "hostkit/HostChannel.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace zeb::cli {

struct AcquisitionStatistics {
    int64_t sets = 0;          // image sets received
    int64_t lost = 0;          // waits that ended without an image set (then the acquisition restarts)
    int64_t failed = 0;        // image sets the plug-in reported an error for (then the acquisition restarts)
    std::string lastFailure;   // why the last lost or failed image set was: the plug-in's error text
    double startupSeconds = 0; // from the start of the acquisition to the first image set
    double acquiringSeconds = 0; // waiting for and fetching the image sets after the first
    double handlingSeconds = 0;  // what was done with the image sets (writing files)
    std::chrono::steady_clock::time_point firstSet{};

    // Time per image set without the start-up, in milliseconds (0 with fewer than two sets).
    double MillisecondsPerSet() const;
    // Image sets per second since the first one, handling included.
    double SetsPerSecond(std::chrono::steady_clock::time_point now) const;
};

class AcquisitionLoop {
public:
    struct Options {
        int64_t count = 1;         // image sets to acquire; 0: until stopped
        bool keepGoing = false;    // a lost or failed image set restarts the acquisition instead of ending it
        int32_t timeoutMs = 20000; // longest wait for one image set
    };
    enum class End { Completed, Stopped, Failed };
    // Called with each image set and its number from 1; it may take the image's pixels.
    using Handler = std::function<void(host::Image&, int64_t number)>;
    using Progress = std::function<void(const AcquisitionStatistics&)>;

    AcquisitionLoop(host::HostChannel& channel, Options options);

    // Starts the acquisition (the channel's settings as they are), acquires, stops. A failure
    // ends the run (unless keepGoing) with Error() saying why; `stop` is asked between waits.
    End Run(const Handler& handle, const std::function<bool()>& stop, const Progress& progress = {});

    const AcquisitionStatistics& Statistics() const { return _statistics; }
    const std::string& Error() const { return _error; }
    // Why the last lost or failed image set of this run was, also when the run went on after it:
    // the plug-in's error text (for example "camera overtriggered"); empty while none was.
    const std::string& LastFailure() const { return _statistics.lastFailure; }

private:
    bool Start();

    host::HostChannel& _channel;
    Options _options;
    AcquisitionStatistics _statistics;
    std::string _error;
};

} // namespace zeb::cli
