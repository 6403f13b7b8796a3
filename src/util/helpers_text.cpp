// Names from wide characters, and characters replaced.
#include <string>

#include "util/helpers.h"

namespace kestrella {

std::string Unicode2ASCII(const uint8_t* chars, uint8_t maxLen) {
  std::string text;
  // maxLen is a byte, so the result can never pass the short-string limit.
  for (uint8_t i = 0; i < maxLen; ++i) {
    const uint8_t low = chars[2 * i];
    const uint8_t high = chars[2 * i + 1];
    if (low == 0 && high == 0) break;
    text.push_back(static_cast<char>(low));
  }
  return text;
}

std::string replace(std::string_view s, char from, char to) {
  std::string out(s);
  for (char& c : out) {
    if (c == from) c = to;
  }
  return out;
}

std::string NumberedName(const std::string& name, int n) {
  if (n == 1) return name;
  const size_t dot = name.rfind('.');
  const bool hasExt = dot != std::string::npos && dot > 0;
  const std::string stem = hasExt ? name.substr(0, dot) : name;
  const std::string ext = hasExt ? name.substr(dot) : std::string();
  return stem + " (" + std::to_string(n) + ")" + ext;
}

}  // namespace kestrella
