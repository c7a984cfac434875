#include "Output.h"

namespace zeb::cli {

std::string Count(int64_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

} // namespace zeb::cli
