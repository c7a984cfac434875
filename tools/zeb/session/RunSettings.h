// Settings for a run: NAME=VALUE assignments from --set and from profiles, and profile files.
#pragma once

#include "hostkit/HostChannel.h"
#include "session/FeatureReport.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zeb::cli {

struct Assignment {
    Assignment() = default;
    Assignment(std::string name_, std::string value_, std::string origin_, std::string profileOf_ = {})
        : name(std::move(name_)), value(std::move(value_)), origin(std::move(origin_)),
          profileOf(std::move(profileOf_)) {}
    std::string name, value;
    std::string origin;    // "--set" or "FILE:LINE", for messages
    std::string profileOf; // from a profile zeb saved: the channel it was saved from
};

// "NAME=VALUE": the name and value trimmed of blanks; throws CommandError when there is no name.
Assignment ParseAssignment(const std::string& text, const std::string& origin);

// A profile: one NAME=VALUE a line; blank lines and lines starting with '#' are comments.
std::vector<Assignment> LoadProfile(const std::filesystem::path& file);
// The same from a profile's text; `origin` names it in messages ("FILE" gives "FILE:LINE"). A
// profile zeb saved names its channel in its first line; each assignment carries that name.
std::vector<Assignment> ParseProfile(const std::string& text, const std::string& origin);

// Whether a profile keeps the feature: writable values only. Commands are actions, the assistant
// controls steer a running assistant, and "AcquisitionMode" is chosen by zeb acquire.
bool BelongsInProfile(const FeatureInfo& feature);
// The channel's profile features as they are now, as a profile's text, and how many.
std::string ProfileText(host::HostChannel& channel, size_t* count = nullptr);
// Whether the text is a profile zeb saved: its first line names the channel it was saved from.
bool IsSavedProfile(const std::string& text);
// Refuses a file that a saved profile must not replace: a folder, or a file that holds something
// else than a profile zeb saved (an earlier one is replaced, an empty file too).
void CheckProfileTarget(const std::filesystem::path& file);
// Writes ProfileText to the file, whole or not at all, after CheckProfileTarget; returns how many
// features it holds.
size_t SaveProfile(host::HostChannel& channel, const std::filesystem::path& file);

// One assignment applied: what the channel then holds, or the plug-in's error.
struct AppliedSetting {
    Assignment assignment;
    std::optional<WriteOutcome> outcome; // none when the write failed
    std::string error;
    // Held, or the same number in another form.
    bool AsWritten() const { return outcome && outcome->kind != WriteOutcome::Kind::Adjusted; }
    // `ExposureTime: holds "80"`, `ExposureTime: wrote "70000", the channel holds "65000"` or
    // `ExposureTime: ` and the plug-in's error.
    std::string Line() const;
};
// Applies every assignment in order, going on after one that fails.
std::vector<AppliedSetting> ApplyEach(host::HostChannel& channel, const std::vector<Assignment>& assignments);

} // namespace zeb::cli
