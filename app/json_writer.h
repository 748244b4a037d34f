// corvane's own JSON text form: pretty-printed with two-blank indentation,
// " : " between key and value, slashes escaped, non-ASCII written as UTF-8.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Objects keep their members in the order they were added.
using JsonValue = nlohmann::ordered_json;

// Receives the text in pieces, in order.
using TextSink = std::function<void(std::string_view piece)>;

// Writes the text of `value`, without a final line feed, to `sink` in pieces
// of some tens of kilobytes, so that a large answer is never held whole.
// False, with nothing written, when it cannot be written (a text that is
// not valid UTF-8, a number that is not finite). Once the first piece is
// out, writing allocates no memory but for a fractional number's text (no
// envelope holds one), so an answer is not cut off halfway.
bool writePrettyJson(const JsonValue& value, const TextSink& sink);

// The same text whole; absent when it cannot be written.
std::optional<std::string> writePrettyJson(const JsonValue& value);

}  // namespace corvane
