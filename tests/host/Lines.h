// Searching the lines of a device trace or the messages of a log: gmock's container matchers.
#pragma once

#include <gmock/gmock.h>

#include <string>
#include <vector>

namespace zeb::test {

using Strings = std::vector<std::string>;
using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::Not;
using ::testing::StartsWith;

} // namespace zeb::test
