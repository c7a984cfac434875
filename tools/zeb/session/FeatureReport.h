// What a channel's features are and hold, and what a write left in the channel.
#pragma once

#include "base/CommandError.h"
#include "hostkit/HostChannel.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace zeb::cli {

struct FeatureInfo {
    std::string name;
    int32_t type = 0;
    bool readable = false, writable = false, common = false;
    std::optional<std::string> value; // none for commands and when the read failed
    std::string error;                // why the read failed
    std::vector<std::string> choices;

    const char* TypeName() const { return host::FeatureTypeName(type); }
    // "RW-": R readable, W writable, C common parameter.
    std::string Flags() const;
    nlohmann::json Json() const;
};

// Everything the host interface tells about one feature; throws CommandError for an unknown name.
FeatureInfo DescribeFeature(host::HostChannel& channel, const std::string& name);
std::vector<FeatureInfo> DescribeFeatures(host::HostChannel& channel);

// Whether the plug-in's error text says that the feature `name` does not exist.
bool FeatureMissing(const std::string& error, const std::string& name);
// The plug-in's error for a feature operation, with "did you mean" when the name is unknown.
CommandError FeatureError(host::HostChannel& channel, const std::string& name);

struct WriteOutcome {
    enum class Kind { Held, Normalised, Adjusted };
    std::string name, written, holds;
    Kind kind = Kind::Held;
    // `ExposureTime: wrote "abc", the channel holds "0"`; empty when held as written.
    std::string Describe() const;
};

// Compares what was written with what the channel holds: the same text, the same number in
// another form (normalised), or another value (clamped, aligned, refused as not a number).
WriteOutcome::Kind CompareWritten(const std::string& written, const std::string& holds);

// For a value an enumeration does not offer: "the choices are "0 deg", "90 deg"; did you mean "90
// deg"?"; empty when there are no choices or the value is one of them.
std::string ChoicesHint(const std::string& value, const std::vector<std::string>& choices);

// Writes the feature and reads it back. Throws CommandError with the plug-in's text on failure.
WriteOutcome WriteFeature(host::HostChannel& channel, const std::string& name, const std::string& value);

} // namespace zeb::cli
