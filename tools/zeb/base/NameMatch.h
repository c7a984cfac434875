// Matching names a person typed against the names a channel offers.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zeb::cli {

// The same text but for the case of ASCII letters.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);
// The candidates closest to `typed` (case-insensitive edit distance, at most a third of the
// name's length, or a candidate that contains what was typed); best first, at most three.
std::vector<std::string> ClosestNames(const std::string& typed, const std::vector<std::string>& candidates);
// "did you mean X?" / "did you mean X or Y?", or empty when nothing is close.
std::string DidYouMean(const std::string& typed, const std::vector<std::string>& candidates);

} // namespace zeb::cli
