#include "store/system/unique_bytes.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

namespace corvane {
namespace {

// A step of splitmix64: spreads a counter's few changing bits over all 64.
std::uint64_t mixed(std::uint64_t value) {
  value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
  value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
  return value ^ (value >> 31);
}

}  // namespace

void fillUniqueBytes(std::span<unsigned char> bytes) {
  // Never blocking: early in boot the pool may not be ready, and a name
  // need not wait for it.
  if (::getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK) ==
      static_cast<ssize_t>(bytes.size()))
    return;
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t seed =
      static_cast<std::uint64_t>(
          std::chrono::system_clock::now().time_since_epoch().count()) ^
      (static_cast<std::uint64_t>(::getpid()) << 40) ^ (++counter << 20);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 8 == 0) seed = mixed(seed + i);
    bytes[i] = static_cast<unsigned char>(seed >> (8 * (i % 8)));
  }
}

std::string uniqueHex(std::size_t count) {
  std::vector<unsigned char> bytes(count);
  fillUniqueBytes(bytes);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * count);
  for (unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

}  // namespace corvane
