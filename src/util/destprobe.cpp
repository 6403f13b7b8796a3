#include "util/destprobe.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>

namespace kestrella::destprobe {

namespace {

struct Entry {
  int createError = 0;
  uint64_t byteLimit = std::numeric_limits<uint64_t>::max();
  Counters counters;
};

std::map<std::string, Entry>& Registry() {
  static std::map<std::string, Entry> registry;
  return registry;
}

// The scan route writes on a thread of its own while its files are created
// on the scan's thread: both may count against one folder at once.
std::mutex& Guard() {
  static std::mutex m;
  return m;
}

std::string Normal(const std::string& path) {
  std::string p = std::filesystem::path(path).lexically_normal().string();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

Entry& Folder(const std::string& folder) { return Registry()[Normal(folder)]; }

// The entry of the deepest watched folder holding `path`, or null.
Entry* Lookup(const std::string& path) {
  auto& reg = Registry();
  if (reg.empty()) return nullptr;
  const std::string p = Normal(path);
  Entry* best = nullptr;
  size_t bestLength = 0;
  for (auto& [folder, entry] : reg) {
    const bool inside = p.size() > folder.size() && p.compare(0, folder.size(), folder) == 0 &&
                        (folder == "/" || p[folder.size()] == '/');
    if (inside && folder.size() >= bestLength) {
      best = &entry;
      bestLength = folder.size();
    }
  }
  return best;
}

}  // namespace

void FailCreate(const std::string& folder, int err) { Folder(folder).createError = err; }

void LimitBytes(const std::string& folder, uint64_t bytes) { Folder(folder).byteLimit = bytes; }

Counters Get(const std::string& folder) {
  std::lock_guard<std::mutex> lock(Guard());
  auto it = Registry().find(Normal(folder));
  return it == Registry().end() ? Counters{} : it->second.counters;
}

void Reset() { Registry().clear(); }

int CreateError(const std::string& path) {
  if (Registry().empty()) return 0;
  std::lock_guard<std::mutex> lock(Guard());
  Entry* e = Lookup(path);
  if (e == nullptr) return 0;
  if (e->createError != 0) {
    ++e->counters.failedCreates;
    return e->createError;
  }
  ++e->counters.creates;
  return 0;
}

size_t WriteRoom(const std::string& path, size_t length) {
  if (Registry().empty()) return length;
  std::lock_guard<std::mutex> lock(Guard());
  Entry* e = Lookup(path);
  if (e == nullptr) return length;
  const uint64_t left = e->byteLimit - std::min(e->byteLimit, e->counters.bytesWritten);
  const size_t room = static_cast<size_t>(std::min<uint64_t>(left, length));
  if (room < length) ++e->counters.failedWrites;
  e->counters.bytesWritten += room;
  return room;
}

}  // namespace kestrella::destprobe
