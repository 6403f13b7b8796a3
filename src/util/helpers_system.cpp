// Free space on the file system that holds a path.
#include <sys/statvfs.h>

#include "util/helpers.h"

namespace kestrella {

uint64_t NewDiskFree(const std::string& path) {
  struct statvfs info {};
  if (path.empty() || statvfs(path.c_str(), &info) != 0) return 0;
  // Space an unprivileged process may use, which is what a copy can fill.
  return static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
}

}  // namespace kestrella
