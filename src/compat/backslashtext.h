// Text written with backslashes: paths with a drive letter and backslash
// separators ("E:\DCIM\P1.JPG"), and the backslash escapes of message
// formats. Nothing on Linux writes paths this way; the routines are kept
// with their exact results for whoever still holds such text.
#pragma once

#include <string>
#include <string_view>

namespace kestrella {

// "\\" becomes a backslash and "\n" a CR; any other escape, and a trailing
// lone backslash, vanish.
std::string ConvertFmtString(std::string_view s);
// The part after the last backslash.
std::string ExtractFileNameFaster(std::string_view path);
// The root of the path's drive letter, "E:\" ("" for an empty path).
std::string GetRootPath(std::string_view path);
// The path with whole folders after the first one replaced by "..." until it
// fits maxLen.
std::string AbbreviatePath(std::string_view path, int maxLen);

}  // namespace kestrella
