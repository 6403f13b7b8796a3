// The one boot-sector rule of the engine: the drive table (card or partition
// table in sector 0), the lost-drive search (a volume starts here) and every
// "is this drive FAT" question ask it. Sectors are written by hand around a
// plausible FAT16 parameter block, then one field at a time is spoilt.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "diskio/bootsector.h"

namespace kestrella::test {
namespace {

using Sector = std::vector<uint8_t>;

void Put16(Sector& s, size_t at, uint32_t v) {
  s[at] = static_cast<uint8_t>(v);
  s[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Sector& s, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) s[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// 512-byte sectors, 4 per cluster, 1 reserved, 2 tables of `fatSize`
// sectors, 512 root entries (32 sectors), `total` sectors.
Sector Boot(uint32_t total, uint32_t fatSize = 64) {
  Sector s(512, 0);
  s[0] = 0xEB;
  s[1] = 0x3C;
  s[2] = 0x90;
  Put16(s, 11, 512);
  s[13] = 4;
  Put16(s, 14, 1);
  s[16] = 2;
  Put16(s, 17, 512);
  if (total <= 0xFFFF)
    Put16(s, 19, total);
  else
    Put32(s, 32, total);
  Put16(s, 22, fatSize);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

// Sectors before the first cluster of Boot(): 1 + 2 * 64 + 32.
constexpr uint32_t kMeta = 161;

struct Case {
  const char* what;
  size_t at;       // the byte changed; 0xFFFF: none
  uint32_t value;  // written as one byte, or as 16 bits at 11, 14 and 22
  bool shape;      // LooksLikeBootSector
  const char* fat; // ProbeFatBootSector
};

TEST(BootSector, ShapeAndParameterBlockCaseByCase) {
  const Case cases[] = {
      {"as written", 0xFFFF, 0, true, "FAT16"},
      {"near jump", 0, 0xE9, true, "FAT16"},
      {"no jump", 0, 0x33, false, ""},
      {"far jump", 0, 0xEA, false, ""},
      {"no signature", 511, 0x00, false, ""},
      {"signature half there", 510, 0x00, false, ""},
      {"1024-byte sectors", 11, 1024, true, "FAT16"},
      {"2048-byte sectors", 11, 2048, true, "FAT16"},
      {"4096-byte sectors", 11, 4096, true, "FAT16"},
      {"8192-byte sectors: no FAT sector size", 11, 8192, false, ""},
      {"256-byte sectors", 11, 256, false, ""},
      {"768-byte sectors", 11, 768, false, ""},
      {"no sector size: boot code that starts with a jump", 11, 0, false, ""},
      {"3 sectors per cluster", 13, 3, true, ""},
      {"no sectors per cluster", 13, 0, true, ""},
      {"no reserved sector", 14, 0, true, ""},
      {"no table", 16, 0, true, ""},
      {"five tables", 16, 5, true, ""},
      {"four tables", 16, 4, true, "FAT16"},
      {"no table size", 22, 0, true, ""},
  };
  for (const Case& c : cases) {
    Sector s = Boot(kMeta + 4 * 5000);
    if (c.at == 11 || c.at == 14 || c.at == 22)
      Put16(s, c.at, c.value);
    else if (c.at != 0xFFFF)
      s[c.at] = static_cast<uint8_t>(c.value);
    EXPECT_EQ(LooksLikeBootSector(s.data(), s.size()), c.shape) << c.what;
    EXPECT_EQ(ProbeFatBootSector(s.data(), s.size()), c.fat) << c.what;
  }
}

TEST(BootSector, ShortBuffersAreNoBootSectors) {
  const Sector s = Boot(kMeta + 4 * 5000);
  EXPECT_FALSE(LooksLikeBootSector(s.data(), 511));
  EXPECT_EQ(ProbeFatBootSector(s.data(), 511), "");
  EXPECT_FALSE(LooksLikeBootSector(nullptr, 512));
  EXPECT_EQ(ProbeFatBootSector(nullptr, 512), "");
}

// The width follows from the cluster count alone, at the limits every FAT
// reader uses; a volume that ends inside its tables and root is none.
TEST(BootSector, ClusterCountDecidesTheWidth) {
  const struct {
    uint32_t clusters;
    const char* fat;
  } cases[] = {{1, "FAT12"}, {4084, "FAT12"}, {4085, "FAT16"}, {65524, "FAT16"}, {65525, "FAT32"}};
  for (const auto& c : cases) {
    // A spare sector short of one more cluster does not count.
    EXPECT_EQ(ProbeFatBootSector(Boot(kMeta + 4 * c.clusters + 3).data(), 512), c.fat) << c.clusters;
  }
  EXPECT_EQ(ProbeFatBootSector(Boot(kMeta).data(), 512), "");
  // The 32-bit table size counts when the 16-bit one is 0.
  Sector fat32 = Boot(kMeta + 4 * 70000, 0);
  Put32(fat32, 36, 64);
  EXPECT_EQ(ProbeFatBootSector(fat32.data(), 512), "FAT32");
}

}  // namespace
}  // namespace kestrella::test
