// corvane's own JSON text form: pretty-printed with two-blank indentation,
// " : " between key and value, slashes escaped, non-ASCII written as UTF-8.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace corvane {

// Objects keep their members in the order they were added.
using JsonValue = nlohmann::ordered_json;

// The text of `value`, without a final line feed; absent when it cannot be
// written (a text that is not valid UTF-8, a number that is not finite).
std::optional<std::string> writePrettyJson(const JsonValue& value);

}  // namespace corvane
