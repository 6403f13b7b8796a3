// The analyser's buffer tests on sectors written by hand: allocation-table
// sectors of each width, directory sectors, roots and boot sectors.
#include <gtest/gtest.h>

#include <vector>

#include "fat/fatanalyser.h"
#include "fatdir_support.h"

namespace kestrella::test {
namespace {

using A = TFATAnalyser;
using Sector = std::vector<uint8_t>;

void Word16(Sector& s, uint32_t index, uint32_t v) {
  s[index * 2] = static_cast<uint8_t>(v);
  s[index * 2 + 1] = static_cast<uint8_t>(v >> 8);
}

// A 16-bit table sector: the chain first .. last at indexes first-1 ..,
// closed by an end mark; `begin` writes the media entries F8 FF FF FF.
Sector Table16(uint32_t first, uint32_t last, bool begin) {
  Sector s(512, 0);
  if (begin) {
    Word16(s, 0, 0xFFF8);
    Word16(s, 1, 0xFFFF);
  }
  for (uint32_t v = first; v <= last; ++v) Word16(s, v - 1, v);
  Word16(s, last, 0xFFFF);
  return s;
}

// Sixteen live short entries, clusters 2 .. 17, dated 15.06.2021 12:34.
std::vector<TDirEntry> LiveEntries() {
  std::vector<TDirEntry> e;
  for (int i = 0; i < 16; ++i) e.push_back(ShortEntry("PIC" + std::to_string(100 + i) + "  JPG", kAttrArchive, 2 + i, 4096));
  return e;
}

Sector Bytes(const std::vector<TDirEntry>& entries, size_t size = 512) {
  Sector s(size, 0);
  for (size_t i = 0; i < entries.size() && (i + 1) * 32 <= size; ++i)
    std::copy(entries[i].raw.begin(), entries[i].raw.end(), s.begin() + static_cast<std::ptrdiff_t>(i * 32));
  return s;
}

bool Valid(const std::vector<TDirEntry>& entries, uint32_t clusters = 100, uint32_t sectors = 1000) {
  const Sector s = Bytes(entries);
  return A::DirEntriesValidB(s.data(), 512, clusters, sectors);
}

// ---- allocation-table sectors ---------------------------------------------------

TEST(AnalyserTableSector, SixteenBitChainWithMediaStartIsTypeTwoAndBegins) {
  const Sector s = Table16(3, 40, true);
  bool begins = false;
  uint8_t type = 0;
  uint32_t highest = 0;
  ASSERT_TRUE(A::IsFATB(s.data(), 512, begins, type, highest));
  EXPECT_EQ(type, kFat16);
  EXPECT_TRUE(begins);
  EXPECT_EQ(highest, 40u);
  EXPECT_FALSE(A::IsFATbeginB(s.data(), 512, kFat32));
  EXPECT_TRUE(A::IsFATbeginB(s.data(), 512, kFat16));

  const Sector middle = Table16(3, 40, false);
  ASSERT_TRUE(A::IsFATB(middle.data(), 512, begins, type, highest));
  EXPECT_EQ(type, kFat16);
  EXPECT_FALSE(begins);
}

TEST(AnalyserTableSector, NeedsMoreThanSixteenLinksThatFollowEachOther) {
  bool begins;
  uint8_t type;
  uint32_t highest;
  // Links 3..19: the 3 follows nothing, 16 follow their predecessor.
  const Sector short16 = Table16(3, 19, true);
  EXPECT_FALSE(A::IsFATB(short16.data(), 512, begins, type, highest));
  const Sector enough = Table16(3, 20, true);
  EXPECT_TRUE(A::IsFATB(enough.data(), 512, begins, type, highest));
}

TEST(AnalyserTableSector, ALinkValueSixTimesIsNoTable) {
  bool begins;
  uint8_t type;
  uint32_t highest;
  Sector s = Table16(3, 40, true);
  for (uint32_t i = 0; i < 5; ++i) Word16(s, 100 + i, 200);
  EXPECT_TRUE(A::IsFATB(s.data(), 512, begins, type, highest)) << "five times is tolerated";
  EXPECT_EQ(highest, 200u);
  Word16(s, 105, 200);
  EXPECT_FALSE(A::IsFATB(s.data(), 512, begins, type, highest));
}

TEST(AnalyserTableSector, TwelveAndThirtyTwoBitTablesAreTheirOwnType) {
  // 12-bit: F8 FF FF, then the chain 3..60 in 1.5-byte entries.
  Sector s12(512, 0);
  s12[0] = 0xF8;
  s12[1] = 0xFF;
  s12[2] = 0xFF;
  auto put12 = [&](uint32_t index, uint32_t v) {
    const uint32_t at = index + index / 2;
    if ((index & 1) != 0) {
      s12[at] = static_cast<uint8_t>((s12[at] & 0x0F) | ((v << 4) & 0xF0));
      s12[at + 1] = static_cast<uint8_t>(v >> 4);
    } else {
      s12[at] = static_cast<uint8_t>(v);
      s12[at + 1] = static_cast<uint8_t>((s12[at + 1] & 0xF0) | ((v >> 8) & 0x0F));
    }
  };
  for (uint32_t v = 3; v <= 60; ++v) put12(v - 1, v);
  put12(60, 0xFFF);
  EXPECT_EQ(A::GetFATB(s12.data(), 512, 2, kFat12), 3u);
  EXPECT_EQ(A::GetFATB(s12.data(), 512, 3, kFat12), 4u);
  EXPECT_EQ(A::GetFATB(s12.data(), 512, 60, kFat12), 0xFFFu);
  EXPECT_EQ(A::GetFATB(s12.data(), 512, 341, kFat12), 0u) << "would need byte 512";
  bool begins = false;
  uint8_t type = 0;
  uint32_t highest = 0;
  ASSERT_TRUE(A::IsFATB(s12.data(), 512, begins, type, highest));
  EXPECT_EQ(type, kFat12);
  EXPECT_TRUE(begins);
  EXPECT_EQ(highest, 60u);

  Sector s32(512, 0);
  auto put32 = [&](uint32_t index, uint32_t v) {
    for (int i = 0; i < 4; ++i) s32[index * 4 + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 0x0FFFFFF8);
  put32(1, 0x0FFFFFFF);
  put32(2, 0x0FFFFFFF);  // the root
  for (uint32_t v = 4; v <= 90; ++v) put32(v - 1, v);
  put32(90, 0x0FFFFFFF);
  ASSERT_TRUE(A::IsFATB(s32.data(), 512, begins, type, highest));
  EXPECT_EQ(type, kFat32);
  EXPECT_TRUE(begins);
  EXPECT_EQ(highest, 90u);
}

// ---- directory sectors -------------------------------------------------------------

TEST(AnalyserDirectorySector, SixteenLiveEntriesPass) {
  EXPECT_TRUE(Valid(LiveEntries()));
  // Long-name runs pass whole, whatever their text bytes.
  std::vector<TDirEntry> e = Named(u"A photo, \"quoted\".jpeg", ShortEntry("APHOTO~1JPE", kAttrArchive, 9, 10));
  const std::vector<TDirEntry> live = LiveEntries();
  e.insert(e.end(), live.begin(), live.end());
  EXPECT_TRUE(Valid(e));
}

TEST(AnalyserDirectorySector, AMonthThirteenOrAnUnusedEntryFails) {
  std::vector<TDirEntry> e = LiveEntries();
  const uint16_t month13 = (41u << 9) | (13u << 5) | 15u;  // 15.13.2021
  e[7].raw[24] = static_cast<uint8_t>(month13);
  e[7].raw[25] = static_cast<uint8_t>(month13 >> 8);
  ASSERT_EQ((e[7].WriteDate() >> 5) & 0x0F, 13);
  EXPECT_FALSE(Valid(e));

  std::vector<TDirEntry> fifteen = LiveEntries();
  fifteen[15] = TDirEntry{};
  EXPECT_FALSE(Valid(fifteen));
  std::vector<TDirEntry> firstUnused = LiveEntries();
  firstUnused[0] = TDirEntry{};
  EXPECT_FALSE(Valid(firstUnused));
}

TEST(AnalyserDirectorySector, TimesDatesAttributesClustersAndSizes) {
  auto with = [](int index, auto change) {
    std::vector<TDirEntry> e = LiveEntries();
    change(e[static_cast<size_t>(index)]);
    return Valid(e);
  };
  EXPECT_FALSE(with(3, [](TDirEntry& x) { x.raw[22] = 30; x.raw[23] = 0; }));        // 60 seconds
  EXPECT_TRUE(with(3, [](TDirEntry& x) { x.raw[22] = 29; x.raw[23] = 0; }));
  EXPECT_FALSE(with(3, [](TDirEntry& x) { x.raw[15] = static_cast<uint8_t>(24 << 3); }));  // created at 24h
  EXPECT_FALSE(with(3, [](TDirEntry& x) { x.raw[18] = 0x20; x.raw[19] = 0; }));     // accessed on day 0
  EXPECT_FALSE(with(3, [](TDirEntry& x) { x.raw[11] |= 0x40; }));
  EXPECT_FALSE(with(3, [](TDirEntry& x) { x.raw[11] |= 0x80; }));
  // Clusters 2 .. limit + 1 (limit 100); a label has none.
  EXPECT_TRUE(with(3, [](TDirEntry& x) { x.raw[26] = 101; }));
  EXPECT_FALSE(with(3, [](TDirEntry& x) { x.raw[26] = 102; }));
  EXPECT_FALSE(with(3, [](TDirEntry& x) { x.raw[26] = 1; }));
  EXPECT_FALSE(with(3, [](TDirEntry& x) { x.raw[26] = 0; }));
  EXPECT_TRUE(with(0, [](TDirEntry& x) { x = ShortEntry("CARD LABEL ", kAttrVolume, 0); }));
  EXPECT_FALSE(with(0, [](TDirEntry& x) { x = ShortEntry("CARD LABEL ", kAttrVolume, 5); }));
  // Sizes up to the sector limit (1000 sectors of 512 bytes).
  EXPECT_TRUE(with(3, [](TDirEntry& x) { x = ShortEntry("BIG     BIN", kAttrArchive, 5, 1000 * 512 + 511); }));
  EXPECT_FALSE(with(3, [](TDirEntry& x) { x = ShortEntry("BIG     BIN", kAttrArchive, 5, 1001 * 512); }));
}

TEST(AnalyserDirectorySector, RefusedNameBytes) {
  const uint8_t refused[] = {0x22, 0x2A, 0x2B, 0x2C, 0x2E, 0x2F, 0x3A, 0x3B,
                             0x3C, 0x3D, 0x3E, 0x3F, 0x5B, 0x5C, 0x5D, 0x7C};
  for (const uint8_t b : refused) {
    for (const int at : {0, 5, 10}) {
      std::vector<TDirEntry> e = LiveEntries();
      e[4].raw[static_cast<size_t>(at)] = b;
      EXPECT_FALSE(Valid(e)) << std::hex << int{b} << " at " << at;
    }
  }
  const uint8_t allowed[] = {0x20, 0x21, 0x23, 0x2D, 0x40, 0x5F, 0x7E, 0x7F, 0x80, 0xE5, 0xFF};
  for (const uint8_t b : allowed) {
    std::vector<TDirEntry> e = LiveEntries();
    e[4].raw[1] = b;
    EXPECT_TRUE(Valid(e)) << std::hex << int{b};
  }
  std::vector<TDirEntry> e = LiveEntries();
  e[4].raw[0] = 0x05;  // a name whose first byte is 0xE5
  EXPECT_TRUE(Valid(e));
  e[4].raw[1] = 0x05;
  EXPECT_FALSE(Valid(e));
  e = LiveEntries();
  e[4].raw[0] = 0x1F;
  EXPECT_FALSE(Valid(e));
}

TEST(AnalyserDirectorySector, DotAndDotDotStartASubdirectory) {
  std::vector<TDirEntry> e = {ShortEntry(".", kAttrDirectory, 0x12345), ShortEntry("..", kAttrDirectory, 0)};
  uint32_t cluster = 0;
  Sector s = Bytes(e);
  ASSERT_TRUE(A::IsDirB(s.data(), 512, cluster));
  EXPECT_EQ(cluster, 0x12345u);
  EXPECT_FALSE(A::IsDirB(s.data(), 32, cluster)) << "the \"..\" entry lies past the buffer";

  uint32_t untouched = 77;
  s = Bytes({ShortEntry(".", kAttrDirectory, 5), ShortEntry("PIC100  JPG", kAttrArchive, 6)});
  EXPECT_FALSE(A::IsDirB(s.data(), 512, untouched));
  EXPECT_EQ(untouched, 77u);
  s = Bytes({ShortEntry(".", kAttrDirectory, 5)});
  EXPECT_FALSE(A::IsDirB(s.data(), 512, untouched));
  s = Bytes({ShortEntry(".", kAttrArchive, 5), ShortEntry("..", kAttrDirectory, 0)});
  EXPECT_FALSE(A::IsDirB(s.data(), 512, untouched));
}

TEST(AnalyserDirectorySector, ARootHoldsExactlyOneLabel) {
  std::vector<TDirEntry> e = LiveEntries();
  e[0] = ShortEntry("KESTRELLA  ", kAttrVolume | kAttrArchive, 0);
  Sector s = Bytes(e);
  EXPECT_TRUE(A::IsRootB(s.data(), 512));
  EXPECT_FALSE(A::IsRootB(s.data(), 0));
  e[9] = ShortEntry("SECOND     ", kAttrVolume, 0);
  s = Bytes(e);
  EXPECT_FALSE(A::IsRootB(s.data(), 512));
  EXPECT_TRUE(A::IsRootB(s.data(), 9 * 32)) << "the second label lies past the size";
  e = LiveEntries();
  e[0] = ShortEntry("2021 CARD  ", kAttrVolume, 0);  // no bit 0x40 in '2'
  s = Bytes(e);
  EXPECT_FALSE(A::IsRootB(s.data(), 512));
  e[0] = ShortEntry("KESTRELLA  ", kAttrVolume, 3);  // a label has no cluster
  s = Bytes(e);
  EXPECT_FALSE(A::IsRootB(s.data(), 512));
  s = Bytes(Named(u"Long name", ShortEntry("LONGNA~1   ", kAttrArchive, 4)));
  s[0] = 0x41;  // a long-name part's first byte with bit 0x40, attribute 0x0F
  EXPECT_FALSE(A::IsRootB(s.data(), 512));
}

// ---- boot sectors -----------------------------------------------------------------------

// Whether a sector is a boot sector at all is told in diskio (its test is
// tests/diskio/bootsector_test.cpp); the analyser compares two of them.
TEST(AnalyserBootSector, GeometryComparisonLeavesOutTheMediaByte) {
  Sector b(512, 0);
  b[0] = 0xEB;
  b[11] = 0x00;
  b[12] = 0x02;
  b[510] = 0x55;
  b[511] = 0xAA;
  Sector other = b;
  other[21] = 0xF0;  // the media byte is no geometry
  EXPECT_TRUE(A::AreBootSecEqualB(b.data(), other.data()));
  for (const size_t at : {13, 16, 24, 28, 35}) {
    other = b;
    other[at] ^= 1;
    EXPECT_FALSE(A::AreBootSecEqualB(b.data(), other.data())) << at;
  }
}

}  // namespace
}  // namespace kestrella::test
