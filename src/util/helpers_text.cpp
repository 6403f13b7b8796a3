// Wildcard matching, name and path text, and escape handling.
#include <string>

#include "util/helpers.h"

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

std::string ConvertFmtString(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out.push_back(s[i]);
      continue;
    }
    if (i + 1 >= s.size()) break;  // a trailing lone backslash is dropped
    const char next = s[++i];
    if (next == '\\') {
      out.push_back('\\');
    } else if (next == 'n') {
      out.push_back('\r');  // message boxes break lines at CR alone
    }
    // Any other escape is unknown and vanishes together with its backslash.
  }
  return out;
}

std::string ExtractFileNameFaster(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string GetRootPath(std::string_view path) {
  // There is no drive letter to take from an empty path.
  if (path.empty()) return {};
  return std::string(1, path[0]) + ":\\";
}

std::string AbbreviatePath(std::string_view path, int maxLen) {
  const long long len = static_cast<long long>(path.size());
  long long cut = 0;
  long long first = -1;
  long long last = -1;
  // Drop whole folders after the first separator until the result, which is
  // the path less the cut plus "..." and the kept separators, fits maxLen.
  for (long long pos = 0; pos < len - 1 && len - cut + 5 > maxLen; ++pos) {
    if (path[pos] != '\\') continue;
    if (first < 0) {
      first = pos;
    } else {
      last = pos;
      cut = last - first + 1;
    }
  }
  if (cut <= 0) return std::string(path);
  std::string out(path.substr(0, first + 1));
  out += "...";
  out += path.substr(last);
  return out;
}

}  // namespace kestrella
