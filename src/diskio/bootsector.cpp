#include "diskio/bootsector.h"

#include "util/bytes.h"

namespace kestrella {

namespace {
bool PowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }
}  // namespace

bool LooksLikeBootSector(const uint8_t* s, size_t size) {
  if (s == nullptr || size < 512) return false;
  if (s[510] != 0x55 || s[511] != 0xAA) return false;
  if (s[0] != 0xEB && s[0] != 0xE9) return false;
  const uint32_t bytesPerSector = Le16(s + 11);
  return bytesPerSector >= 512 && bytesPerSector <= 4096 && PowerOfTwo(bytesPerSector);
}

std::string ProbeFatBootSector(const uint8_t* s, size_t size) {
  if (!LooksLikeBootSector(s, size)) return "";
  const uint32_t bytesPerSector = Le16(s + 11);
  const uint32_t sectorsPerCluster = s[13];
  const uint32_t reserved = Le16(s + 14);
  const uint32_t fats = s[16];
  const uint32_t rootEntries = Le16(s + 17);
  const uint32_t total = Le16(s + 19) != 0 ? Le16(s + 19) : Le32(s + 32);
  const uint32_t fatSize = Le16(s + 22) != 0 ? Le16(s + 22) : Le32(s + 36);
  if (!PowerOfTwo(sectorsPerCluster) || reserved == 0 || fats == 0 || fats > 4 || fatSize == 0)
    return "";
  const uint64_t rootSectors = (rootEntries * 32ull + bytesPerSector - 1) / bytesPerSector;
  const uint64_t meta = reserved + static_cast<uint64_t>(fats) * fatSize + rootSectors;
  if (total <= meta) return "";
  // The cluster count alone decides the FAT width.
  const uint64_t clusters = (total - meta) / sectorsPerCluster;
  if (clusters < 4085) return "FAT12";
  if (clusters < 65525) return "FAT16";
  return "FAT32";
}

}  // namespace kestrella
