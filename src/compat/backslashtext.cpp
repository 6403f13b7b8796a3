#include "compat/backslashtext.h"

#include "compat/drivenumbers.h"

namespace kestrella {

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
  return LetterRootPath(path[0]);
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
