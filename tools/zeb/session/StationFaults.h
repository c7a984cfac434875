// The faults a station file injects, so that a failed run can say that a fault may be the cause.
#pragma once

#include <string>
#include <vector>

namespace zeb::cli {

class StationFaults {
public:
    // Reads the station file that ZEB_STATION names; no station file or an unreadable one has none.
    static StationFaults FromEnvironment();
    static StationFaults FromFile(const std::string& path);

    bool Any() const { return !_faults.empty(); }
    const std::string& File() const { return _file; }
    // One text per fault, e.g. "controller 3: offline after the 1st set of Sequencer.LightMode".
    const std::vector<std::string>& Faults() const { return _faults; }
    // The note for a failed run, or empty when the station injects no faults.
    std::string Note() const;

private:
    std::string _file;
    std::vector<std::string> _faults;
};

} // namespace zeb::cli
