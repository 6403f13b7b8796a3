// Devices: line size measurement, the shared four-line sector cache, and
// reads and writes that pass it by.
#include <gtest/gtest.h>

#include <random>

#include "devices/device.h"
#include "devices/stampedimages.h"

namespace kestrella::test {
namespace {

using sectorcache::Line;

std::vector<uint8_t> Buffer(uint32_t sectors) { return std::vector<uint8_t>(sectors * kSector); }

// Owner, score and range of a line in one comparable text.
std::string Describe(int line, const TDevice* expectedOwner) {
  const auto l = Line(line);
  if (l.Owner == nullptr) return "free score " + std::to_string(l.Score);
  return std::string(l.Owner == expectedOwner ? "own " : "other ") + std::to_string(l.FirstSector) +
         ".." + std::to_string(l.LastSector) + " score " + std::to_string(l.Score);
}

// --- Line size measurement -------------------------------------------------

using LineSizeTest = DeviceTest;

TEST_F(LineSizeTest, SmallDevicesAreNeverCachedAndNotEvenRead) {
  ScriptedUi clock;
  clock.tickStep = 100;  // every measurement ends at once
  UiScope scope(clock);
  const uint8_t small = AddStampedImage("small.img", 2047, 1);
  const uint8_t big = AddStampedImage("big.img", 2048, 2);
  Watch(small);
  Watch(big);

  auto s = LogicalDevice(small, 2047, 77);
  s->DetectCacheLineSize();
  EXPECT_EQ(s->CacheLineSize, 0u);
  EXPECT_EQ(Reads(small), 0u);

  auto b = LogicalDevice(big, 2048, 77);
  b->DetectCacheLineSize();
  EXPECT_EQ(b->CacheLineSize, 1u);  // no read inside the 100 ms
  EXPECT_EQ(Reads(big), 1u);        // sector 0 only
  EXPECT_FALSE(b->CacheActive);
}

TEST_F(LineSizeTest, TenTimesTheReadsOfOneTenthOfASecond) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 1);
  Watch(drive);
  struct Case {
    uint32_t reads, lineSize;
  } cases[] = {{0, 1}, {1, 1}, {2, 20}, {50, 500}, {409, 4090}, {410, 4096}, {1000, 4096}};
  for (const Case& c : cases) {
    SCOPED_TRACE("reads " + std::to_string(c.reads));
    ClockScript clock = ClockScript::Managing(c.reads);
    UiScope scope(clock);
    const uint64_t before = Reads(drive);
    auto d = LogicalDevice(drive, 3000, 0);
    d->DetectCacheLineSize();
    EXPECT_EQ(d->CacheLineSize, c.lineSize);
    EXPECT_EQ(Reads(drive) - before, c.reads + 1u);
    EXPECT_FALSE(d->CacheActive);
  }
}

TEST_F(LineSizeTest, LargerSectorsGetFewerPerLine) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 1);
  ClockScript clock = ClockScript::Managing(200);
  UiScope scope(clock);
  auto d = LogicalDevice(drive, 3000, 0);
  d->BytesPerSector = 2048;
  d->DetectCacheLineSize();
  EXPECT_EQ(d->CacheLineSize, 1024u);  // 2 MiB of 2048-byte sectors
}

TEST_F(LineSizeTest, MeasurementSurvivesTheTickCounterWrapping) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 1);
  Watch(drive);
  // Starts 16 ms before the wrap; three reads inside, the fourth answer is
  // exactly 100 ms after the start.
  ClockScript clock({0xFFFFFFF0u, 0xFFFFFFF8u, 10, 60, 84});
  UiScope scope(clock);
  auto d = LogicalDevice(drive, 3000, 0);
  d->DetectCacheLineSize();
  EXPECT_EQ(d->CacheLineSize, 30u);
}

TEST_F(LineSizeTest, AnyFailedReadMeansNoCache) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 1);
  {
    ClockScript clock = ClockScript::Managing(50);
    UiScope scope(clock);
    MarkUnreadable(drive, {30});
    auto d = LogicalDevice(drive, 3000, 99);
    d->DetectCacheLineSize();
    EXPECT_EQ(d->CacheLineSize, 0u);
  }
  {
    ScriptedUi clock;
    clock.tickStep = 100;
    UiScope scope(clock);
    MarkUnreadable(drive, {0});
    auto d = LogicalDevice(drive, 3000, 99);
    d->DetectCacheLineSize();
    EXPECT_EQ(d->CacheLineSize, 0u);
  }
  {
    // A clock that never moves: the reads run past the last sector and fail.
    ScriptedUi clock;
    const uint8_t exact = AddStampedImage("exact.img", 2048, 2);
    UiScope scope(clock);
    auto d = LogicalDevice(exact, 2048, 99);
    d->DetectCacheLineSize();
    EXPECT_EQ(d->CacheLineSize, 0u);
  }
  {
    auto d = LogicalDevice(drive, 3000, 99);
    d->Kind = 7;  // reads nothing
    ScriptedUi clock;
    clock.tickStep = 100;
    UiScope scope(clock);
    d->DetectCacheLineSize();
    EXPECT_EQ(d->CacheLineSize, 0u);
  }
}

// --- Reads through the cache -----------------------------------------------

using CacheTest = DeviceTest;

TEST_F(CacheTest, WithoutOptionActiveFlagOrLineSizeEveryReadGoesToTheDevice) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  Watch(drive);
  auto optionOff = LogicalDevice(drive, 3000, 100);
  auto inactive = LogicalDevice(drive, 3000, 100);
  inactive->UseCache(false);
  auto noLines = LogicalDevice(drive, 3000, 0);
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    TDevice& d = variant == 0 ? *optionOff : variant == 1 ? *inactive : *noLines;
    optCacheEnabled = variant != 0;
    const uint64_t before = Reads(drive);
    auto buf = Buffer(4);
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(d.ReadSec(100, 4, buf.data(), false));
      EXPECT_TRUE(HoldsSectors(buf, 4, 100, 4));
    }
    EXPECT_EQ(Reads(drive) - before, 3u);
    for (int l = 0; l < sectorcache::kLines; ++l) EXPECT_EQ(Line(l).Owner, nullptr);
  }
}

TEST_F(CacheTest, MissFillsALineAndLaterHitsCostNoDeviceRead) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  Watch(drive);
  auto d = LogicalDevice(drive, 3000, 100);
  auto buf = Buffer(20);

  ASSERT_TRUE(d->ReadSec(10, 5, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 10, 5));
  EXPECT_EQ(Describe(0, d.get()), "own 10..109 score 15");
  EXPECT_EQ(Reads(drive), 1u);

  for (uint32_t at : {10u, 50u, 90u, 109u}) {
    const uint16_t n = static_cast<uint16_t>(std::min<uint32_t>(20, 110 - at));
    ASSERT_TRUE(d->ReadSec(at, n, buf.data(), false));
    EXPECT_TRUE(HoldsSectors(buf, 4, at, n));
  }
  EXPECT_EQ(Reads(drive), 1u);
  EXPECT_EQ(Describe(0, d.get()), "own 10..109 score 15");
  for (int l = 1; l < sectorcache::kLines; ++l) EXPECT_EQ(Describe(l, d.get()), "free score 0");
}

TEST_F(CacheTest, NearTheEndOnlyTheSectorsUpToTheLastAreLoaded) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  auto d = LogicalDevice(drive, 3000, 100);
  auto buf = Buffer(10);
  ASSERT_TRUE(d->ReadSec(2950, 10, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 2950, 10));
  EXPECT_EQ(Describe(0, d.get()), "own 2950..2999 score 15");

  ASSERT_TRUE(d->ReadSec(2999, 1, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 2999, 1));
  // Served up to the last sector, the rest is asked of the device, which
  // has nothing there.
  EXPECT_FALSE(d->ReadSec(2995, 10, buf.data(), false));
}

TEST_F(CacheTest, RequestsFromBeyondTheEndBypassTheCache) {
  // The device claims fewer sectors than its medium holds.
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  Watch(drive);
  auto d = LogicalDevice(drive, 2500, 100);
  auto buf = Buffer(4);
  ASSERT_TRUE(d->ReadSec(2600, 4, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 2600, 4));
  ASSERT_TRUE(d->ReadSec(2500, 4, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 2500, 4));
  for (int l = 0; l < sectorcache::kLines; ++l) EXPECT_EQ(Line(l).Owner, nullptr);
  EXPECT_EQ(Reads(drive), 2u);

  ASSERT_TRUE(d->ReadSec(2499, 1, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 2499, 1));
  EXPECT_EQ(Describe(0, d.get()), "own 2499..2499 score 15");
}

TEST_F(CacheTest, ARequestRunningPastALineIsFinishedFromAFreshLine) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  Watch(drive);
  auto d = LogicalDevice(drive, 3000, 100);
  auto buf = Buffer(10);
  ASSERT_TRUE(d->ReadSec(0, 1, buf.data(), false));
  ASSERT_EQ(Reads(drive), 1u);

  ASSERT_TRUE(d->ReadSec(95, 10, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 95, 10));
  EXPECT_EQ(Reads(drive), 2u);  // only the new line was read
  EXPECT_EQ(Describe(0, d.get()), "own 0..99 score 14");
  EXPECT_EQ(Describe(1, d.get()), "own 100..199 score 15");
}

TEST_F(CacheTest, WhatAFreshLineCannotHoldIsReadDirectly) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  Watch(drive);
  auto d = LogicalDevice(drive, 3000, 10);
  auto buf = Buffer(25);
  ASSERT_TRUE(d->ReadSec(0, 25, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 0, 25));
  EXPECT_EQ(Reads(drive), 2u);  // the line fill and the other 15 sectors
  EXPECT_EQ(Describe(0, d.get()), "own 0..9 score 15");
  EXPECT_EQ(Line(1).Owner, nullptr);
}

TEST_F(CacheTest, LinesAgeWhenUnusedAndTheLowestScoreIsReplaced) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  auto d = LogicalDevice(drive, 3000, 100);
  auto buf = Buffer(1);
  auto read = [&](uint32_t sector) {
    ASSERT_TRUE(d->ReadSec(sector, 1, buf.data(), false));
    EXPECT_TRUE(HoldsSectors(buf, 4, sector, 1));
  };
  auto scores = [] {
    std::string s;
    for (int l = 0; l < sectorcache::kLines; ++l) s += std::to_string(Line(l).Score) + " ";
    return s;
  };
  // Every miss ages the other lines twice: before and after the fill.
  read(0);
  read(1000);
  read(2000);
  read(2500);
  EXPECT_EQ(scores(), "9 11 13 15 ");
  read(10);  // a hit raises its line and ages the others
  EXPECT_EQ(scores(), "10 10 12 14 ");
  read(500);  // lines 0 and 1 tie at 9: the lower one goes
  EXPECT_EQ(scores(), "15 8 10 12 ");
  EXPECT_EQ(Describe(0, d.get()), "own 500..599 score 15");
  EXPECT_EQ(Describe(1, d.get()), "own 1000..1099 score 8");
  read(700);  // line 1 is lowest
  EXPECT_EQ(scores(), "13 15 8 10 ");
  EXPECT_EQ(Describe(1, d.get()), "own 700..799 score 15");
  read(900);  // line 2 is lowest, not the first line
  EXPECT_EQ(scores(), "11 13 15 8 ");
  EXPECT_EQ(Describe(2, d.get()), "own 900..999 score 15");
  EXPECT_EQ(Describe(3, d.get()), "own 2500..2599 score 8");
  // A hit on a line at the top keeps it there.
  read(950);
  EXPECT_EQ(scores(), "10 12 15 7 ");
}

TEST_F(CacheTest, WhenAllLinesScoreAlikeTheFirstLineIsReplaced) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  auto d = LogicalDevice(drive, 3000, 100);
  auto buf = Buffer(1);
  for (uint32_t s : {0u, 1000u, 2000u, 2500u, 1u, 2001u, 2u, 1001u, 3u, 1002u}) {
    ASSERT_TRUE(d->ReadSec(s, 1, buf.data(), false));
    EXPECT_TRUE(HoldsSectors(buf, 4, s, 1));
  }
  for (int l = 0; l < sectorcache::kLines; ++l) ASSERT_EQ(Line(l).Score, 9) << l;
  // Line 1 was used last and line 3 filled last, yet line 0 goes.
  ASSERT_TRUE(d->ReadSec(1500, 1, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 1500, 1));
  EXPECT_EQ(Describe(0, d.get()), "own 1500..1599 score 15");
  EXPECT_EQ(Describe(1, d.get()), "own 1000..1099 score 7");
  EXPECT_EQ(Describe(2, d.get()), "own 2000..2099 score 7");
  EXPECT_EQ(Describe(3, d.get()), "own 2500..2599 score 7");
}

TEST_F(CacheTest, OfOverlappingLinesTheFirstServesAndTheOtherAges) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  Watch(drive);
  auto d = LogicalDevice(drive, 3000, 100);
  auto buf = Buffer(10);
  ASSERT_TRUE(d->ReadSec(10, 1, buf.data(), false));
  ASSERT_TRUE(d->ReadSec(5, 10, buf.data(), false));  // 5 is not in line 0
  EXPECT_TRUE(HoldsSectors(buf, 4, 5, 10));
  EXPECT_EQ(Describe(0, d.get()), "own 10..109 score 13");
  EXPECT_EQ(Describe(1, d.get()), "own 5..104 score 15");

  ASSERT_TRUE(d->ReadSec(50, 10, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 50, 10));
  EXPECT_EQ(Describe(0, d.get()), "own 10..109 score 14");
  EXPECT_EQ(Describe(1, d.get()), "own 5..104 score 14");
  EXPECT_EQ(Reads(drive), 2u);
}

TEST_F(CacheTest, DevicesNeverSeeEachOthersLines) {
  const uint8_t a = AddStampedImage("a.img", 3000, 1);
  const uint8_t b = AddStampedImage("b.img", 3000, 2);
  Watch(a);
  Watch(b);
  auto da = LogicalDevice(a, 3000, 100);
  auto db = LogicalDevice(b, 3000, 100);
  auto buf = Buffer(5);
  ASSERT_TRUE(da->ReadSec(10, 5, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 1, 10, 5));
  ASSERT_TRUE(db->ReadSec(10, 5, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 2, 10, 5));
  EXPECT_EQ(Reads(b), 1u);
  EXPECT_EQ(Line(0).Owner, da.get());
  EXPECT_EQ(Line(1).Owner, db.get());
  ASSERT_TRUE(da->ReadSec(12, 2, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 1, 12, 2));
  EXPECT_EQ(Reads(a), 1u);
}

TEST_F(CacheTest, FreeingADeviceReleasesItsLinesOnly) {
  const uint8_t a = AddStampedImage("a.img", 3000, 1);
  const uint8_t b = AddStampedImage("b.img", 3000, 2);
  Watch(a);
  auto da = LogicalDevice(a, 3000, 100);
  auto db = LogicalDevice(b, 3000, 100);
  auto buf = Buffer(1);
  ASSERT_TRUE(da->ReadSec(0, 1, buf.data(), false));
  ASSERT_TRUE(db->ReadSec(0, 1, buf.data(), false));
  ASSERT_TRUE(da->ReadSec(500, 1, buf.data(), false));
  ASSERT_EQ(Line(0).Owner, da.get());
  ASSERT_EQ(Line(2).Owner, da.get());

  da.reset();
  EXPECT_EQ(Describe(0, nullptr), "free score 0");
  EXPECT_EQ(Describe(2, nullptr), "free score 0");
  EXPECT_EQ(Describe(1, db.get()), "own 0..99 score 13");

  // A new device over the same drive starts with nothing cached.
  auto again = LogicalDevice(a, 3000, 100);
  const uint64_t before = Reads(a);
  ASSERT_TRUE(again->ReadSec(0, 1, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 1, 0, 1));
  EXPECT_EQ(Reads(a), before + 1);
  EXPECT_EQ(Describe(0, again.get()), "own 0..99 score 15");
  EXPECT_EQ(Describe(1, db.get()), "own 0..99 score 11");

  db->InvalidateCache();
  EXPECT_EQ(Describe(1, nullptr), "free score 0");
  EXPECT_EQ(Line(0).Owner, again.get());
}

TEST_F(CacheTest, AFailedFillIsNoErrorTheDeviceIsAskedDirectly) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  MarkUnreadable(drive, {50});
  auto d = LogicalDevice(drive, 3000, 100);
  auto buf = Buffer(10);
  ASSERT_TRUE(d->ReadSec(0, 10, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 0, 10));
  EXPECT_EQ(Line(0).Owner, nullptr);
  EXPECT_FALSE(d->ReadSec(45, 10, buf.data(), false));
  ASSERT_TRUE(d->ReadSec(51, 10, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 4, 51, 10));
  EXPECT_EQ(Describe(0, d.get()), "own 51..150 score 15");
}

TEST_F(CacheTest, EveryCachedReadMatchesTheMedium) {
  const uint8_t a = AddStampedImage("a.img", 3000, 1);
  const uint8_t b = AddStampedImage("b.img", 2600, 2);
  auto da = LogicalDevice(a, 3000, 37);
  auto db = LogicalDevice(b, 2600, 64);
  std::mt19937 random(20240611);
  auto buf = Buffer(90);
  for (int i = 0; i < 3000; ++i) {
    const bool first = (random() & 1) != 0;
    TDevice& d = first ? *da : *db;
    const uint32_t tag = first ? 1 : 2;
    // Mostly near a few hot spots, so that lines hit, miss and overlap.
    const uint32_t spot = static_cast<uint32_t>(random() % 5) * 500;
    const uint32_t sector = std::min<uint32_t>(spot + random() % 200, d.TotalSectors - 1);
    const uint32_t count =
        std::min<uint32_t>(1 + static_cast<uint32_t>(random() % 90), d.TotalSectors - sector);
    std::fill(buf.begin(), buf.end(), 0xEE);
    ASSERT_TRUE(d.ReadSec(sector, static_cast<uint16_t>(count), buf.data(), false)) << i;
    ASSERT_TRUE(HoldsSectors(buf, tag, sector, count)) << "read " << i;
    // Nothing is written past the request.
    if (count < 90) {
      ASSERT_EQ(buf[count * kSector], 0xEE) << "read " << i;
    }
  }
}

TEST_F(CacheTest, PhysicalDevicesAreCachedAndShowTheirErrors) {
  const uint8_t drive = AddStampedImage("disk.img", 3000, 9);
  MarkUnreadable(drive, {50});
  ScriptedUi ui;  // answers Abort
  UiScope scope(ui);
  TDevice d;
  d.Kind = kDevicePhysical;
  d.DriveNumber = 0x80;  // the first whole disk: the only image
  d.TotalSectors = 3000;
  d.BytesPerSector = kSector;
  d.CacheLineSize = 100;
  d.UseCache(true);
  auto buf = Buffer(10);
  ASSERT_TRUE(d.ReadSec(200, 10, buf.data(), true));
  EXPECT_TRUE(HoldsSectors(buf, 9, 200, 10));
  EXPECT_EQ(Describe(0, &d), "own 200..299 score 15");
  EXPECT_TRUE(ui.shown.empty());

  // The fill over the bad sector asks, then the direct read asks again.
  EXPECT_FALSE(d.ReadSec(45, 10, buf.data(), true));
  EXPECT_EQ(ui.shown.size(), 2u);
  EXPECT_FALSE(d.ReadSec(45, 10, buf.data(), false));
  EXPECT_EQ(ui.shown.size(), 2u);
}

TEST_F(CacheTest, WritesGoToTheDeviceAndLeaveTheCacheAlone) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  auto d = LogicalDevice(drive, 3000, 100);
  auto buf = Buffer(1);
  ASSERT_TRUE(d->ReadSec(5, 1, buf.data(), false));
  const std::vector<uint8_t> other = StampedSector(77, 5);
  ASSERT_TRUE(d->WriteSec(5, 1, other.data(), false));
  EXPECT_EQ(ReadFileBytes(PathOf(drive))[5 * kSector + 4], 77);

  ASSERT_TRUE(d->ReadSec(5, 1, buf.data(), false));  // the line still holds the old sector
  EXPECT_TRUE(HoldsSectors(buf, 4, 5, 1));
  d->UseCache(false);
  ASSERT_TRUE(d->ReadSec(5, 1, buf.data(), false));
  EXPECT_TRUE(HoldsSectors(buf, 77, 5, 1));

  TDevice physical;
  physical.Kind = kDevicePhysical;
  physical.DriveNumber = 0x80;
  ASSERT_TRUE(physical.WriteSec(6, 1, other.data(), false));
  EXPECT_EQ(ReadFileBytes(PathOf(drive))[6 * kSector + 4], 77);

  TDevice strange;
  strange.Kind = 2;
  strange.DriveNumber = drive;
  strange.TotalSectors = 3000;
  strange.BytesPerSector = kSector;
  EXPECT_FALSE(strange.WriteSec(7, 1, other.data(), false));
  EXPECT_FALSE(strange.ReadSec(7, 1, buf.data(), false));
  EXPECT_EQ(ReadFileBytes(PathOf(drive))[7 * kSector + 4], 4);
}

TEST_F(CacheTest, TestCacheReadsTheFirstSectorsTwiceAndSwitchesTheCacheOff) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 4);
  Watch(drive);
  auto d = LogicalDevice(drive, 3000, 100);
  d->TestCache();
  // 11 line fills for sectors 0..1000, and every sector once directly.
  EXPECT_EQ(Reads(drive), 11u + 1001u);
  EXPECT_FALSE(d->CacheActive);
  int holdingTheLast = 0;
  for (int l = 0; l < sectorcache::kLines; ++l)
    if (Describe(l, d.get()) == "own 1000..1099 score 15") ++holdingTheLast;
  EXPECT_EQ(holdingTheLast, 1);
}

}  // namespace
}  // namespace kestrella::test
