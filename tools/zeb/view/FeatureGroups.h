// The groups of a channel's features as a person setting up a station thinks of them.
#pragma once

#include <string>
#include <vector>

namespace zeb::view {

// "Device and camera", "Image format", "Acquisition", "Lighting", "Assistants", "Transport", or
// "Other" for a name none of them claims.
std::string FeatureGroup(const std::string& feature);
// The groups in the order the page shows them.
const std::vector<std::string>& FeatureGroupOrder();

} // namespace zeb::view
