// JSON as text, for zeb's --json output and zeb view's answers.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace zeb::cli {

// JSON text of `value`, indented by `indent` spaces (-1: one line). Texts that came from outside (a
// name the plug-in or the station gives, one typed or sent, a file's bytes) may be no UTF-8: such
// bytes become U+FFFD rather than end the program. A library that knows nothing of zeb makes the same
// call of nlohmann/json itself: dump with error_handler_t::replace.
std::string JsonText(const nlohmann::json& value, int indent = -1);
// The same with the keys in the order they were added.
std::string JsonText(const nlohmann::ordered_json& value, int indent = -1);

} // namespace zeb::cli
