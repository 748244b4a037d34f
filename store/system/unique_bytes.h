// Bytes for names that must not collide with another run's: the system's
// randomness, or, where it has none to give yet, time, process and a count.
// Unique on this machine, not secret; a file made under such a name is
// made exclusively all the same.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace corvane {

// Fills `bytes`.
void fillUniqueBytes(std::span<unsigned char> bytes);

// `count` bytes as 2 * `count` lower-case hexadecimal digits.
std::string uniqueHex(std::size_t count);

}  // namespace corvane
