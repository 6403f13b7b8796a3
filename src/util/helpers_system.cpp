// Free space on the file system that holds a path; data still on its way
// to the drives; who owns a device.
#include <grp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdio>

#include "util/helpers.h"

namespace kestrella {

uint64_t NewDiskFree(const std::string& path) {
  struct statvfs info {};
  if (path.empty() || statvfs(path.c_str(), &info) != 0) return 0;
  // Space an unprivileged process may use, which is what a copy can fill.
  return static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
}

uint64_t UnwrittenBytes() {
  FILE* f = std::fopen("/proc/meminfo", "re");
  if (f == nullptr) return 0;
  uint64_t total = 0;
  char line[128];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    unsigned long long kib = 0;
    if (std::sscanf(line, "Dirty: %llu kB", &kib) == 1 || std::sscanf(line, "Writeback: %llu kB", &kib) == 1)
      total += static_cast<uint64_t>(kib) * 1024;
  }
  std::fclose(f);
  return total;
}

std::string OwningGroupOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "";
  struct group entry {};
  struct group* found = nullptr;
  char buffer[4096];
  if (::getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
    return "";
  return found->gr_name;
}

}  // namespace kestrella
