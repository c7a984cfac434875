// Settings for a run: NAME=VALUE assignments from --set and from profiles, and profile files.
#pragma once

#include "FeatureReport.h"
#include "HostChannel.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zeb::cli {

struct Assignment {
    std::string name, value;
    std::string origin; // "--set" or "FILE:LINE", for messages
};

// "NAME=VALUE": the name and value trimmed of blanks; throws CommandError when there is no name.
Assignment ParseAssignment(const std::string& text, const std::string& origin);

// A profile: one NAME=VALUE a line; blank lines and lines starting with '#' are comments.
std::vector<Assignment> LoadProfile(const std::filesystem::path& file);

// Whether a profile keeps the feature: writable values only. Commands are actions, the assistant
// controls steer a running assistant, and "AcquisitionMode" is chosen by zeb acquire.
bool BelongsInProfile(const FeatureInfo& feature);
// Writes the channel's profile features as they are now; returns how many.
size_t SaveProfile(host::HostChannel& channel, const std::filesystem::path& file);

} // namespace zeb::cli
