#include "store/utf8.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace corvane {

bool isValidUtf8(std::string_view bytes) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) return false;
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  int32_t length = static_cast<int32_t>(bytes.size());
  for (int32_t i = 0; i < length;) {
    if (s[i] < 0x80) {
      ++i;
      continue;
    }
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::string repairUtf8(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  std::string repaired;
  repaired.reserve(bytes.size() + 8);
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  // U8_NEXT takes 32-bit lengths; texts beyond that are repaired in pieces.
  size_t offset = 0;
  while (offset < bytes.size()) {
    int32_t length =
        static_cast<int32_t>(std::min<size_t>(bytes.size() - offset, 1 << 30));
    const uint8_t* piece = s + offset;
    int32_t i = 0;
    while (i < length) {
      int32_t start = i;
      UChar32 c;
      U8_NEXT(piece, i, length, c);
      if (c < 0)
        repaired += "\xEF\xBF\xBD";
      else
        repaired.append(reinterpret_cast<const char*>(piece + start),
                        i - start);
    }
    offset += length;
  }
  return repaired;
}

std::string lowercasedAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace corvane
