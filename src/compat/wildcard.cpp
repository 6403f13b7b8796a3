#include "compat/wildcard.h"

namespace kestrella {

namespace {

// Upper-cases only a-z: file names on FAT media are compared byte-wise, so
// locale rules must not fold any other byte.
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool MatchWildCard(std::string_view source, std::string_view mask, char anyChar, char multiChar,
                   bool caseSensitive) {
  if (mask.empty()) return source.empty();
  std::size_t s = 0;
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const char m = mask[i];
    if (m == multiChar) {
      const std::string_view rest = mask.substr(i + 1);
      if (rest.empty()) return true;
      // The rest is tried only against non-empty tails, which is why "a**"
      // does not match "a": the inner star never gets a position to start at.
      for (std::size_t k = s; k < source.size(); ++k) {
        if (MatchWildCard(source.substr(k), rest, anyChar, multiChar, caseSensitive)) return true;
      }
      return false;
    }
    if (s >= source.size()) return false;
    const char c = source[s];
    const bool same = (caseSensitive && m == c) || m == anyChar ||
                      (!caseSensitive && AsciiUpper(m) == AsciiUpper(c));
    if (!same) return false;
    ++s;
  }
  return s == source.size();
}

}  // namespace kestrella
