#include "base/NameMatch.h"

#include "base/Text.h"

#include <algorithm>

namespace zeb::cli {

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return Lowercase(a) == Lowercase(b);
}

namespace {
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}
} // namespace

std::vector<std::string> ClosestNames(const std::string& typed, const std::vector<std::string>& candidates) {
    const std::string wanted = Lowercase(typed);
    if (wanted.empty())
        return {};
    std::vector<std::pair<size_t, std::string>> ranked;
    for (const std::string& candidate : candidates) {
        const std::string name = Lowercase(candidate);
        const size_t distance = EditDistance(wanted, name);
        const size_t limit = std::max<size_t>(2, std::max(wanted.size(), name.size()) / 3);
        if (distance <= limit)
            ranked.emplace_back(distance, candidate);
        else if (wanted.size() >= 3 && name.find(wanted) != std::string::npos)
            ranked.emplace_back(limit + 1, candidate);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (size_t i = 0; i < ranked.size() && i < 3; ++i)
        names.push_back(ranked[i].second);
    return names;
}

std::string DidYouMean(const std::string& typed, const std::vector<std::string>& candidates) {
    const auto names = ClosestNames(typed, candidates);
    if (names.empty())
        return {};
    std::string text = "did you mean ";
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + ("\"" + names[i] + "\"");
    return text + "?";
}

} // namespace zeb::cli
