// Checks shared by the suites that acquire, record and save through zeb view.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace zeb::test {

using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::EndsWith;
using Json = nlohmann::json;

// A JSON object that has each of the fields `fields` names, with its value there.
MATCHER_P(HasFields, fields, "has the fields " + fields.dump()) {
    for (const auto& [name, value] : fields.items())
        if (!arg.is_object() || !arg.contains(name) || arg[name] != value)
            return false;
    return true;
}

// How many files in the folder have names ending in `end`.
inline size_t FilesEndingIn(const std::filesystem::path& folder, const std::string& end) {
    size_t count = 0;
    std::error_code none; // a folder not made yet holds none
    for (const auto& entry : std::filesystem::directory_iterator(folder, none))
        count += entry.path().filename().string().ends_with(end);
    return count;
}

// The names of the files a JSON list of paths gives, each of which must exist.
inline std::vector<std::string> ExistingFileNames(const Json& files) {
    std::vector<std::string> names;
    for (const auto& file : files) {
        EXPECT_TRUE(std::filesystem::exists(file.get<std::string>())) << file;
        names.push_back(std::filesystem::path(file.get<std::string>()).filename().string());
    }
    return names;
}

} // namespace zeb::test
