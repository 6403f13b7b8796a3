#include "util/helpers.h"

#include <cstring>

namespace kestrella {

bool IsDataEqual(const uint8_t* data, std::string_view pattern) {
  return pattern.empty() || std::memcmp(data, pattern.data(), pattern.size()) == 0;
}

bool IsFoundDataEqual(const uint8_t* data, uint32_t size, std::string_view pattern) {
  if (pattern.size() > size) return false;
  const uint32_t last = size - static_cast<uint32_t>(pattern.size());
  for (uint32_t i = 0; i <= last; ++i) {
    if (IsDataEqual(data + i, pattern)) return true;
  }
  return false;
}

uint32_t BytesEqual(const uint8_t* a, const uint8_t* b, uint32_t n) {
  uint32_t differing = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) ++differing;
  }
  return differing;
}

std::string GetNextTextLine(const uint8_t*& p, const uint8_t* end) {
  std::string line;
  // A line stops at CR, or at the byte before an LF (which is then lost with
  // the LF: the two-byte step below assumes a CR LF pair).
  while (p < end && *p != 13 && !(p + 1 < end && p[1] == 10)) {
    if (line.size() < kShortStringMax) line.push_back(static_cast<char>(*p));
    ++p;
  }
  if (p < end) p += 2;
  if (p > end) p = end;
  return line;
}

}  // namespace kestrella
