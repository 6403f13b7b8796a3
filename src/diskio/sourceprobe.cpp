#include "diskio/sourceprobe.h"

#include <map>

namespace kestrella::sourceprobe {

namespace {
std::map<std::string, std::shared_ptr<Entry>>& Registry() {
  static std::map<std::string, std::shared_ptr<Entry>> registry;
  return registry;
}
}  // namespace

void Watch(const std::string& path) { Registry()[path] = std::make_shared<Entry>(); }

void MarkUnreadableRange(const std::string& path, uint64_t firstByte, uint64_t length) {
  auto& e = Registry()[path];
  if (!e) e = std::make_shared<Entry>();
  e->unreadable.emplace_back(firstByte, firstByte + length);
}

void MarkUnreadable(const std::string& path, std::initializer_list<uint64_t> sectors,
                    uint32_t sectorSize) {
  for (uint64_t s : sectors) MarkUnreadableRange(path, s * sectorSize, sectorSize);
}

Counters Get(const std::string& path) {
  auto it = Registry().find(path);
  return it == Registry().end() ? Counters{} : it->second->counters;
}

void Reset() { Registry().clear(); }

std::shared_ptr<Entry> Lookup(const std::string& path) {
  auto& reg = Registry();
  if (reg.empty()) return nullptr;
  auto it = reg.find(path);
  return it == reg.end() ? nullptr : it->second;
}

}  // namespace kestrella::sourceprobe
