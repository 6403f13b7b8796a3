#include "util/sizetext.h"

#include <cstdio>

namespace kestrella {

std::string FormatByteSize(uint64_t bytes) {
  static const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  double v = static_cast<double>(bytes) / 1000.0;
  int u = 0;
  while (v >= 999.95 && u < 5) {
    v /= 1000.0;
    ++u;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f %s", v, kUnits[u]);
  return buf;
}

}  // namespace kestrella
