// Text from outside corvane (arguments, file contents, directory names) is
// repaired here so that every text it prints is valid UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

bool isValidUtf8(std::string_view bytes);

// The bytes with every invalid sequence replaced by U+FFFD.
std::string repairUtf8(std::string_view bytes);

// The text with A to Z made lower case; corvane's command words and
// choice words are ASCII, so nothing else needs folding.
std::string lowercasedAscii(std::string text);

}  // namespace corvane
