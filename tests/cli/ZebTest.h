// Fixture of the command-line tests: a private environment and station, zeb run as a process, and
// the PNG files it writes read back (pixels and text chunks).
#pragma once

#include "HostTest.h"
#include "PngSamples.h"
#include "ZebProcess.h"

#include <gmock/gmock.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace zeb::test {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::Value;

// Pixels and text chunks of a PNG file.
struct PngContents {
    host::Image image;
    std::map<std::string, std::string> texts;
};
PngContents ReadPngFile(const std::filesystem::path& file);

// How a failed expectation shows a run of zeb.
inline void PrintTo(const Outcome& run, std::ostream* out) {
    *out << "exit status " << run.status << ", standard output:\n"
         << run.out << "standard error:\n"
         << run.err;
}

// A run of zeb that ended with status 1 and a standard error that `err` matches (a text or a matcher).
MATCHER_P(FailsWith, err,
          "exits 1 with a standard error that " + ::testing::DescribeMatcher<std::string>(err)) {
    return arg.status == 1 && ::testing::Matches(::testing::MatcherCast<const std::string&>(err))(arg.err);
}

class ZebTest : public HostTest {
protected:
    // Runs zeb with the test's station (when one was written) in front of the arguments.
    Outcome Zeb(std::vector<std::string> arguments, const std::string& input = "");
    // Writes the station file that later runs use.
    void UseStation(const Json& station);
    std::filesystem::path Path(const std::string& name) const { return environment.Folder() / name; }
    std::vector<std::string> StationArguments() const;

    std::string _station;
};

} // namespace zeb::test
