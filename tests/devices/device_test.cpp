// Devices and the device list: the line size measurement, each device's
// sector cache, device texts and the finding of FAT drives. The media are image
// files whose every sector names itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <random>

#include "devices/devicelist.h"
#include "devices/scanhost.h"
#include "diskio/drivetable.h"
#include "diskio/enginecontext.h"
#include "diskio/logicalio.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella::test {
namespace {

constexpr uint32_t kSector = 512;

// Sector `s` of image `tag`: its number, the tag, then bytes unique to both.
std::vector<uint8_t> Stamp(uint32_t tag, uint32_t s) {
  std::vector<uint8_t> b(kSector);
  for (uint32_t k = 0; k < kSector; ++k)
    b[k] = static_cast<uint8_t>(k < 4   ? s >> (8 * k)
                                : k < 8 ? tag >> (8 * (k - 4))
                                        : s * 31 + k * 7 + tag);
  return b;
}

::testing::AssertionResult Holds(const std::vector<uint8_t>& buf, uint32_t tag, uint32_t first,
                                 uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (!std::equal(buf.begin() + i * kSector, buf.begin() + (i + 1) * kSector,
                    Stamp(tag, first + i).begin()))
      return ::testing::AssertionFailure()
             << "sector " << first + i << " of image " << tag << " differs";
  return ::testing::AssertionSuccess();
}

// "own 10..109 score 15" or "free score 0", of a line of the device's cache.
std::string Describe(const TDevice& device, int line) {
  const auto l = device.Cache().Line(line);
  return (l.Used
              ? "own " + std::to_string(l.FirstSector) + ".." + std::to_string(l.LastSector) + " "
              : std::string("free ")) +
         "score " + std::to_string(l.Score);
}

std::string Scores(const TDevice& device) {
  std::string s;
  for (int l = 0; l < SectorCache::kLines; ++l)
    s += std::to_string(device.Cache().Line(l).Score) + " ";
  return s;
}

// A clock answering from a script, then staying at its last answer; with no
// script, the scripted user's own clock.
class ClockScript : public ScriptedUi {
 public:
  uint32_t TickCount() override {
    if (script.empty()) return ScriptedUi::TickCount();
    const uint32_t t = script.front();
    if (script.size() > 1) script.pop_front();
    return t;
  }
  std::deque<uint32_t> script;
};

// The start of a measurement, `reads` answers within its 100 ms, its end.
std::deque<uint32_t> Managing(uint32_t reads) {
  std::deque<uint32_t> s(reads + 1, 5050);
  s.front() = 5000;
  s.push_back(5100);
  return s;
}

// Records the status lines of the device detection.
class RecordingHost : public QuietScanHost {
 public:
  void ProcessMessages() override { ++processCalls; }
  void SetStatus(const std::string& a, const std::string& b, const std::string& c,
                 const std::string&, const std::string&, bool, bool) override {
    lines.push_back("set " + a + "|" + b + "|" + c);
  }
  void UpdateStatus(const std::string& a, const std::string& b, const std::string& c,
                    const std::string&, const std::string&) override {
    lines.push_back(a + "|" + b + "|" + c);
  }
  std::vector<std::string> lines;
  int processCalls = 0;
};

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_.options.optCacheEnabled = true;
    ui_.tickStep = 100;  // measurements end at once unless a test scripts the clock
  }

  uint8_t Image(const std::string& name, uint32_t sectors, uint32_t tag) {
    WriteStamped(dir_ / name, sectors, tag);
    return Register(name);
  }
  void WriteStamped(const std::filesystem::path& path, uint32_t sectors, uint32_t tag) {
    std::vector<uint8_t> bytes;
    for (uint32_t s = 0; s < sectors; ++s) {
      auto one = Stamp(tag, s);
      bytes.insert(bytes.end(), one.begin(), one.end());
    }
    WriteFileBytes(path, bytes);
  }
  uint8_t FatImage(const std::string& name) {  // 8 MiB, 16384 sectors
    EXPECT_EQ(test::Run("mkfs.fat -C " + Quote((dir_ / name).string()) + " 8192").exitCode, 0);
    return Register(name);
  }
  uint8_t Register(const std::string& name) {
    const uint8_t drive = Drives().AddImage((dir_ / name).string());
    sources_.Watch(Drives().Find(drive)->source.path);
    return drive;
  }
  // Handles opened before see the marks too: the marks live in the watched
  // path's entry, which every handle of the path shares.
  void MarkUnreadable(uint8_t drive, std::initializer_list<uint64_t> sectors) {
    sources_.MarkUnreadable(Drives().Find(drive)->source.path, sectors);
  }
  uint64_t Reads(uint8_t drive) { return sources_.Get(Drives().Find(drive)->source.path).reads; }
  DriveTable& Drives() { return context_.drives(); }

  std::unique_ptr<TDevice> Logical(uint8_t drive, uint64_t total, uint32_t lineSize) {
    auto d = std::make_unique<TDevice>(context_);
    d->Kind = kDeviceLogical;
    d->DriveNumber = drive;
    d->TotalSectors = total;
    d->BytesPerSector = kSector;
    d->CacheLineSize = lineSize;
    d->UseCache(true);
    return d;
  }

  TempDir dir_;
  ClockScript ui_;
  FaultySources sources_;
  EngineContext context_{ui_, &sources_};
  std::vector<uint8_t> buf_ = std::vector<uint8_t>(100 * kSector);
};

// --- Line size -------------------------------------------------------------

TEST_F(DeviceTest, LineSizeIsTenTimesTheSingleSectorReadsOfATenthOfASecond) {
  const uint8_t drive = Image("card.img", 3000, 1);
  struct Row {
    uint32_t total, bytesPerSector;
    std::deque<uint32_t> clock;
    uint32_t lineSize, reads;
  } rows[] = {
      {2047, 512, Managing(50), 0, 0},  // small media are not even measured
      {2048, 512, Managing(0), 1, 1},
      {3000, 512, Managing(1), 1, 2},
      {3000, 512, Managing(2), 20, 3},
      {3000, 512, Managing(50), 500, 51},
      {3000, 512, Managing(409), 4090, 410},
      {3000, 512, Managing(410), 4096, 411},
      {3000, 2048, Managing(200), 1024, 201},  // at most 2 MiB a line
      // The tick counter wraps during the measurement: three reads.
      {3000, 512, {0xFFFFFFF0u, 0xFFFFFFF8u, 10, 60, 84}, 30, 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.total) + " sectors, " + std::to_string(row.clock.size()) +
                 " ticks");
    ui_.script = row.clock;
    auto d = Logical(drive, row.total, 0);
    d->BytesPerSector = row.bytesPerSector;
    const uint64_t before = Reads(drive);
    d->DetectCacheLineSize();
    EXPECT_EQ(d->CacheLineSize, row.lineSize);
    EXPECT_EQ(Reads(drive) - before, row.reads);
    EXPECT_EQ(d->CacheActive, row.total < 2048);  // measuring switches the cache off
  }
}

TEST_F(DeviceTest, ReadsPastSector2To32ThroughTheCache) {
  // A sparse image of 2^32 + 7 sectors and a partial one.
  const uint64_t far = (1ull << 32) + 5;
  const fs::path path = dir_ / "huge.img";
  std::ofstream(path).close();
  fs::resize_file(path, (far + 2) * kSector + 300);
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(far * kSector));
  f.write(reinterpret_cast<const char*>(Stamp(9, 0).data()), kSector).flush();
  const uint8_t drive = Register("huge.img");
  TLogDriveParams p;
  ASSERT_TRUE(LogicalSectorAccess(kLdiskioTraits, context_).GetLogDriveParams(drive, p));
  auto d = Logical(drive, p.TotalSectors, 64);
  ASSERT_TRUE(d->ReadSec(far, 1, buf_.data(), false));
  EXPECT_TRUE(Holds(buf_, 9, 0, 1));
  EXPECT_EQ(Describe(*d, 0), "own 4294967301..4294967303 score 15");  // to the partial sector
  EXPECT_TRUE(d->ReadSec(far + 2, 1, buf_.data(), false));
  EXPECT_FALSE(d->ReadSec(far + 2, 2, buf_.data(), false));
}

TEST_F(DeviceTest, AFailedMeasuringReadMeansNoCache) {
  const uint8_t card = Image("card.img", 3000, 1);
  const uint8_t exact = Image("exact.img", 2048, 2);
  {  // a clock that never moves: the reads stop at the last sector, which
     // measures the medium instead of failing past its end
    ui_.script = {1};
    auto d = Logical(exact, 2048, 99);
    d->DetectCacheLineSize();
    EXPECT_GT(d->CacheLineSize, 0u);
    EXPECT_EQ(d->ReadErrors, 0u);
  }
  ui_.script = Managing(50);
  MarkUnreadable(card, {30});
  auto d = Logical(card, 3000, 99);
  d->DetectCacheLineSize();
  EXPECT_EQ(d->CacheLineSize, 0u);
  MarkUnreadable(card, {0});
  d->CacheLineSize = 99;
  d->DetectCacheLineSize();
  EXPECT_EQ(d->CacheLineSize, 0u);
}

// --- The cache ---------------------------------------------------------------

TEST_F(DeviceTest, WithoutOptionActiveFlagOrLineSizeEveryReadGoesToTheDevice) {
  const uint8_t drive = Image("card.img", 3000, 4);
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    auto d = Logical(drive, 3000, variant == 2 ? 0 : 100);
    context_.options.optCacheEnabled = variant != 0;
    d->UseCache(variant != 1);
    const uint64_t before = Reads(drive);
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(d->ReadSec(100, 4, buf_.data(), false));
      EXPECT_TRUE(Holds(buf_, 4, 100, 4));
    }
    EXPECT_EQ(Reads(drive) - before, 3u);
    EXPECT_EQ(Describe(*d, 0), "free score 0");
  }
}

TEST_F(DeviceTest, LinesServeWhatTheyHoldAndFreshLinesTheRest) {
  const uint8_t drive = Image("card.img", 3000, 4);
  auto d = Logical(drive, 3000, 100);
  ASSERT_TRUE(d->ReadSec(10, 5, buf_.data(), false));
  EXPECT_TRUE(Holds(buf_, 4, 10, 5));
  EXPECT_EQ(Describe(*d, 0), "own 10..109 score 15");
  for (uint32_t at : {10u, 50u, 100u, 109u}) {
    ASSERT_TRUE(d->ReadSec(at, 1, buf_.data(), false));
    EXPECT_TRUE(Holds(buf_, 4, at, 1));
  }
  EXPECT_EQ(Reads(drive), 1u);

  // Past the line's end: the rest is loaded into a fresh line.
  ASSERT_TRUE(d->ReadSec(105, 10, buf_.data(), false));
  EXPECT_TRUE(Holds(buf_, 4, 105, 10));
  EXPECT_EQ(Reads(drive), 2u);
  EXPECT_EQ(Describe(*d, 0), "own 10..109 score 14");
  EXPECT_EQ(Describe(*d, 1), "own 110..209 score 15");

  // What a fresh line cannot hold is read directly.
  d->CacheLineSize = 10;
  std::fill(buf_.begin(), buf_.end(), 0xEE);
  ASSERT_TRUE(d->ReadSec(1000, 25, buf_.data(), false));
  EXPECT_TRUE(Holds(buf_, 4, 1000, 25));
  EXPECT_EQ(buf_[25 * kSector], 0xEE);
  EXPECT_EQ(Reads(drive), 4u);
  EXPECT_EQ(Describe(*d, 2), "own 1000..1009 score 15");
  EXPECT_EQ(Describe(*d, 3), "free score 0");
}

TEST_F(DeviceTest, TheEndOfTheDeviceBoundsLinesAndRequestsBeyondItBypassTheCache) {
  const uint8_t drive = Image("card.img", 3000, 4);
  auto d = Logical(drive, 2500, 100);  // claims less than its medium holds
  ASSERT_TRUE(d->ReadSec(2450, 10, buf_.data(), false));
  EXPECT_TRUE(Holds(buf_, 4, 2450, 10));
  EXPECT_EQ(Describe(*d, 0), "own 2450..2499 score 15");
  for (uint32_t beyond : {2500u, 2600u}) {  // lines neither serve nor age
    ASSERT_TRUE(d->ReadSec(beyond, 4, buf_.data(), false));
    EXPECT_TRUE(Holds(buf_, 4, beyond, 4));
    EXPECT_EQ(Describe(*d, 0), "own 2450..2499 score 15");
  }
  ASSERT_TRUE(d->ReadSec(2495, 10, buf_.data(), false));  // served, then the medium
  EXPECT_TRUE(Holds(buf_, 4, 2495, 10));
  EXPECT_EQ(Describe(*d, 0), "own 2450..2499 score 15");
  EXPECT_EQ(Describe(*d, 1), "free score 0");
  EXPECT_EQ(Reads(drive), 4u);

  d->TotalSectors = 3000;
  ASSERT_TRUE(d->ReadSec(2990, 10, buf_.data(), false));
  EXPECT_FALSE(d->ReadSec(2995, 10, buf_.data(), false));  // beyond the medium
}

TEST_F(DeviceTest, UnusedLinesAgeAndTheLowestScoreIsReplacedTiesGoingToTheFirst) {
  const uint8_t drive = Image("card.img", 3000, 4);
  auto d = Logical(drive, 3000, 100);
  auto read = [&](uint32_t s) {
    ASSERT_TRUE(d->ReadSec(s, 1, buf_.data(), false));
    ASSERT_TRUE(Holds(buf_, 4, s, 1));
  };
  // A miss ages the other lines twice, before and after the fill.
  for (uint32_t s : {0u, 1000u, 2000u, 2500u}) read(s);
  EXPECT_EQ(Scores(*d), "9 11 13 15 ");
  read(10);
  EXPECT_EQ(Scores(*d), "10 10 12 14 ");
  for (uint32_t s : {2001u, 2u, 1001u, 3u, 1002u}) read(s);
  EXPECT_EQ(Scores(*d), "9 9 9 9 ");
  read(1500);  // all alike: the first line goes, not the last used or filled
  EXPECT_EQ(Describe(*d, 0), "own 1500..1599 score 15");
  EXPECT_EQ(Scores(*d), "15 7 7 7 ");
  read(20);
  EXPECT_EQ(Describe(*d, 1), "own 20..119 score 15");
  EXPECT_EQ(Scores(*d), "13 15 5 5 ");
  read(1550);  // a hit keeps a line at the top
  read(1560);
  EXPECT_EQ(Scores(*d), "15 13 3 3 ");
  read(700);
  EXPECT_EQ(Describe(*d, 2), "own 700..799 score 15");
  read(900);
  EXPECT_EQ(Scores(*d), "11 9 13 15 ");
  read(950);
  read(960);
  read(400);  // the lowest line, which is not the first
  EXPECT_EQ(Describe(*d, 1), "own 400..499 score 15");
  EXPECT_EQ(Scores(*d), "7 15 9 13 ");
}

TEST_F(DeviceTest, EachDeviceHasLinesOfItsOwnAndOfOverlappingOnesTheFirstServes) {
  const uint8_t a = Image("a.img", 3000, 1);
  const uint8_t b = Image("b.img", 3000, 2);
  auto da = Logical(a, 3000, 100);
  auto db = Logical(b, 3000, 100);
  ASSERT_TRUE(da->ReadSec(10, 1, buf_.data(), false));
  ASSERT_TRUE(da->ReadSec(5, 10, buf_.data(), false));  // 5 is not in line 0
  EXPECT_TRUE(Holds(buf_, 1, 5, 10));
  EXPECT_EQ(Scores(*da), "13 15 0 0 ");
  ASSERT_TRUE(da->ReadSec(50, 10, buf_.data(), false));
  EXPECT_EQ(Scores(*da), "14 14 0 0 ");
  // Another device fills a line of its own and leaves the first one's alone.
  ASSERT_TRUE(db->ReadSec(50, 10, buf_.data(), false));
  EXPECT_TRUE(Holds(buf_, 2, 50, 10));
  EXPECT_EQ(Describe(*db, 0), "own 50..149 score 15");
  EXPECT_EQ(Scores(*db), "15 0 0 0 ");
  EXPECT_EQ(Scores(*da), "14 14 0 0 ");
  EXPECT_EQ(Reads(a), 2u);
  EXPECT_EQ(Reads(b), 1u);

  // A new device of the same drive starts with no line, whatever the freed
  // one held.
  da.reset();
  auto again = Logical(a, 3000, 100);
  EXPECT_EQ(Describe(*again, 0) + ", " + Describe(*again, 1), "free score 0, free score 0");
  ASSERT_TRUE(again->ReadSec(50, 1, buf_.data(), false));
  EXPECT_TRUE(Holds(buf_, 1, 50, 1));
  EXPECT_EQ(Reads(a), 3u);
  EXPECT_EQ(Describe(*again, 0), "own 50..149 score 15");
  // Emptying one device's cache leaves the other's lines as they were.
  db->InvalidateCache();
  EXPECT_EQ(Describe(*db, 0), "free score 0");
  EXPECT_EQ(Describe(*again, 0), "own 50..149 score 15");
}

TEST_F(DeviceTest, AFailedFillFallsBackToTheDeviceWhichShowsItsErrors) {
  const uint8_t drive = Image("disk.img", 3000, 9);
  MarkUnreadable(drive, {50});
  for (uint8_t kind : {kDeviceLogical, kDevicePhysical}) {
    SCOPED_TRACE(static_cast<int>(kind));
    auto d = Logical(kind == kDeviceLogical ? drive : 0x80, 3000, 100);
    d->Kind = kind;
    ASSERT_TRUE(d->ReadSec(0, 10, buf_.data(), true));
    EXPECT_TRUE(Holds(buf_, 9, 0, 10));
    EXPECT_EQ(Describe(*d, 0), "free score 0");
    ui_.shown.clear();
    EXPECT_FALSE(d->ReadSec(45, 10, buf_.data(), true));
    // Whole disks ask Abort, Retry or Ignore: for the fill, then the request.
    EXPECT_EQ(ui_.shown.size(), kind == kDevicePhysical ? 2u : 0u);
    ASSERT_TRUE(d->ReadSec(51, 10, buf_.data(), false));
    EXPECT_TRUE(Holds(buf_, 9, 51, 10));
    EXPECT_EQ(Describe(*d, 0), "own 51..150 score 15");
  }
}

// Ignore on a whole disk gives zeros for the bad part, and those zeros are
// never kept as a line: the next read of that part asks the medium again.
TEST_F(DeviceTest, IgnoredSectorsAreZerosOnceAndNeverACacheLine) {
  MarkUnreadable(Image("disk.img", 3000, 9), {50});
  auto d = Logical(0x80, 3000, 100);
  d->Kind = kDevicePhysical;
  ui_.answers = {MsgResult::Ignore, MsgResult::Ignore};
  std::fill(buf_.begin(), buf_.end(), 0xEE);
  ASSERT_TRUE(d->ReadSec(45, 10, buf_.data(), true));
  // The fill's one transfer failed: the whole request is the zeros of it.
  EXPECT_TRUE(std::all_of(buf_.begin(), buf_.begin() + 10 * kSector, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(Describe(*d, 0), "free score 0");
  EXPECT_EQ(d->ReadErrors, 1u);
  ASSERT_TRUE(d->ReadSec(45, 10, buf_.data(), true));
  EXPECT_EQ(ui_.shown.size(), 2u);  // asked again: nothing of it was cached
}

TEST_F(DeviceTest, EveryCachedReadMatchesTheMedium) {
  std::unique_ptr<TDevice> d[2] = {Logical(Image("a.img", 3000, 1), 3000, 37),
                                   Logical(Image("b.img", 2600, 2), 2600, 64)};
  std::mt19937 random(20240611);
  for (int i = 0; i < 3000; ++i) {
    const uint32_t which = random() & 1;
    // Around a few hot spots, so that lines hit, miss and overlap.
    const uint32_t sector = (random() % 5) * 500 + random() % 200;
    const uint32_t count = std::min<uint32_t>(1 + random() % 90, d[which]->TotalSectors - sector);
    std::fill(buf_.begin(), buf_.end(), 0xEE);
    ASSERT_TRUE(d[which]->ReadSec(sector, static_cast<uint16_t>(count), buf_.data(), false)) << i;
    ASSERT_TRUE(Holds(buf_, which + 1, sector, count)) << "read " << i;
    ASSERT_EQ(buf_[count * kSector], 0xEE) << "read " << i << " wrote past its end";
  }
}

TEST_F(DeviceTest, WritesPassTheCacheByAndTestCacheReadsEverySectorTwice) {
  const uint8_t drive = Image("card.img", 3000, 4);
  auto d = Logical(drive, 3000, 100);
  ASSERT_TRUE(d->ReadSec(5, 1, buf_.data(), false));
  const std::vector<uint8_t> other = Stamp(77, 5);
  ASSERT_TRUE(d->WriteSec(5, 1, other.data(), false));
  ASSERT_TRUE(d->ReadSec(5, 1, buf_.data(), false));
  EXPECT_TRUE(Holds(buf_, 4, 5, 1));  // the line keeps what it held
  d->UseCache(false);
  ASSERT_TRUE(d->ReadSec(5, 1, buf_.data(), false));
  EXPECT_TRUE(Holds(buf_, 77, 5, 1));
  d->Kind = kDevicePhysical;
  d->DriveNumber = 0x80;
  ASSERT_TRUE(d->WriteSec(6, 1, other.data(), false));
  d->Kind = 2;
  EXPECT_FALSE(d->WriteSec(7, 1, other.data(), false));
  EXPECT_FALSE(d->ReadSec(7, 1, buf_.data(), false));
  const auto bytes = ReadFileBytes(Drives().Find(drive)->source.path);
  EXPECT_EQ(bytes[6 * kSector + 4], 77);
  EXPECT_EQ(bytes[7 * kSector + 4], 4);

  auto t = Logical(drive, 3000, 100);  // with lines of its own, all free
  const uint64_t before = Reads(drive);
  t->TestCache();
  EXPECT_EQ(Reads(drive) - before, 11u + 1001u);  // line fills for 0..1000, each sector directly
  EXPECT_FALSE(t->CacheActive);
}

TEST_F(DeviceTest, AnImageReplacedUnderItsPathIsReadAnewButNotWrittenThroughTheOldHandle) {
  const uint8_t drive = Image("card.img", 3000, 1);
  const std::string path = Drives().Find(drive)->source.path;
  // A new file renamed over the old path, as a card swapped in its reader.
  auto replace = [&](uint32_t sectors, uint32_t tag) {
    WriteStamped(dir_ / "new.img", sectors, tag);
    std::filesystem::rename(dir_ / "new.img", path);
  };
  for (auto [kind, number, tag] : {std::tuple{kDeviceLogical, drive, 10u}, {kDevicePhysical, uint8_t{0x80}, 20u}}) {
    SCOPED_TRACE(int{kind});
    replace(3000, tag);
    auto d = Logical(number, 3000, 100);
    d->Kind = kind;
    ASSERT_TRUE(d->ReadSec(10, 1, buf_.data(), false));
    replace(4000, tag + 1);
    ASSERT_TRUE(d->ReadSec(10, 2, buf_.data(), false));  // once a cache hit
    EXPECT_TRUE(Holds(buf_, tag + 1, 10, 2));
    ASSERT_TRUE(d->ReadSec(3990, 10, buf_.data(), false));  // only the new one is that large
    EXPECT_TRUE(Holds(buf_, tag + 1, 3990, 10));

    const std::vector<uint8_t> zeros(kSector);
    ASSERT_TRUE(d->WriteSec(0, 1, zeros.data(), false));
    replace(4000, tag + 2);
    errno = 0;
    EXPECT_FALSE(d->WriteSec(1, 1, zeros.data(), false));
    EXPECT_EQ(errno, ENOMEDIUM);
    EXPECT_TRUE(Holds(ReadFileBytes(path), tag + 2, 0, 2));
  }
}

// --- The device list -----------------------------------------------------------

TEST_F(DeviceTest, DeviceTexts) {
  TDeviceList list(context_);
  const std::tuple<uint8_t, MediaKind, uint8_t, uint32_t> devices[] = {
      {kDevicePhysical, MediaKind::Floppy, 0, 2880},
      {kDevicePhysical, MediaKind::Removable, 0x80, 125440},
      {kDevicePhysical, MediaKind::Fixed, 0x81, 2048000},
      {kDevicePhysical, MediaKind::CDROM, 0x82, 2047999},
      {kDevicePhysical, MediaKind::Remote, 0x83, 0},
      {kDeviceLogical, MediaKind::Removable, 5, 4096000},
      {3, MediaKind::Removable, 6, 4096000}};
  for (auto [kind, media, number, total] : devices) {
    list.DeviceItems.push_back(Logical(number, total, 0));
    list.DeviceItems.back()->Kind = kind;
    list.DeviceItems.back()->MediaType = media;
  }
  EXPECT_EQ(list.GetDeviceText(0, false), "floppy disk #1");
  EXPECT_EQ(list.GetDeviceText(0, true), "floppy disk #1   (1.41 MB)");
  EXPECT_EQ(list.GetDeviceText(1, true), "removable disk #2   (61.25 MB)");
  EXPECT_EQ(list.GetDeviceText(2, true), "fixed disk #3   (0.98 GB)");  // 1000 MB
  EXPECT_EQ(list.GetDeviceText(3, true), "CD-ROM #4   (1000.00 MB)");   // just below
  EXPECT_EQ(list.GetDeviceText(4, true), "unknown disk #5   (0.00 MB)");
  EXPECT_EQ(list.GetDeviceText(5, true), "Windows drive E:   (1.95 GB)");
  EXPECT_EQ(list.GetDeviceText(6, true), "");
  // The same count of larger sectors holds four or eight times the bytes.
  for (auto [bytesPerSector, shown] : {std::pair{2048u, "(7.81 GB)"}, {4096u, "(15.62 GB)"}}) {
    list.GetDevice(5)->BytesPerSector = bytesPerSector;
    EXPECT_EQ(list.GetDeviceText(5, true), std::string("Windows drive E:   ") + shown);
  }
  EXPECT_EQ(list.IndexOf(list.GetDevice(4)), 4);
  EXPECT_EQ(list.IndexOf(nullptr), -1);
}

TEST_F(DeviceTest, WindowsDrivesOnlyForReadableFatAndANewDeviceOnEveryCall) {
  const uint8_t plain = Image("plain.img", 3000, 1);
  const uint8_t fat = FatImage("fat.img");
  const uint8_t broken = FatImage("broken.img");
  MarkUnreadable(broken, {0});
  EXPECT_TRUE(DriveHoldsFat(context_, fat));
  RecordingHost host;
  TDeviceList list(context_, &host);
  for (uint8_t none : {plain, broken, uint8_t{26}}) {
    EXPECT_FALSE(DriveHoldsFat(context_, none));
    EXPECT_EQ(list.GetWindowsDrive(none), nullptr);
  }
  EXPECT_EQ(list.count(), 0);

  host.processCalls = 0;
  TDevice* d = list.GetWindowsDrive(fat);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(host.processCalls, 1);
  EXPECT_EQ(std::make_tuple(d->Kind, d->DriveNumber, d->TotalSectors, d->BytesPerSector),
            std::make_tuple(kDeviceLogical, fat, 16384u, 512u));
  EXPECT_EQ(std::make_tuple(d->MediaType, d->Removable, d->Partitioned),
            std::make_tuple(MediaKind::Removable, 1, 0));
  EXPECT_EQ(d->CacheLineSize, 1u);  // the test clock allows no read
  EXPECT_TRUE(d->Name.empty());
  TDevice* again = list.GetWindowsDrive(fat);
  EXPECT_NE(again, d);
  EXPECT_EQ(list.IndexOf(again), 1);

  d->UseCache(true);
  ASSERT_TRUE(d->ReadSec(0, 1, buf_.data(), false));
  // The line filled is the reading device's own.
  EXPECT_EQ(Describe(*d, 0), "own 0..0 score 15");
  EXPECT_EQ(Describe(*again, 0), "free score 0");
  list.clear();
  EXPECT_EQ(list.count(), 0);
}

TEST_F(DeviceTest, DetectDevicesListsEveryDiskAndEveryFatDrive) {
  ASSERT_EQ(FatImage("fat.img"), 4);  // D:, and whole disk 80h
  ASSERT_EQ(Image("plain.img", 3000, 1), 5);
  RecordingHost host;
  TDeviceList list(context_, &host);
  list.DetectDevices();

  ASSERT_EQ(list.count(), 3);
  std::vector<std::string> seen;
  for (int i = 0; i < 3; ++i) {
    const TDevice& d = *list.GetDevice(i);
    seen.push_back(d.Name + " kind " + std::to_string(d.Kind) + " number " +
                   std::to_string(d.DriveNumber) + " size " + std::to_string(d.TotalSectors) + "x" +
                   std::to_string(d.BytesPerSector) + " media " +
                   std::to_string(static_cast<int>(d.MediaType)) + " removable " +
                   std::to_string(d.Removable) + " partitioned " + std::to_string(d.Partitioned) +
                   " line " + std::to_string(d.CacheLineSize));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"removable disk #1   (8.00 MB) kind 0 number 128 size "
                                            "16384x512 media 2 removable 1 partitioned 1 line 1",
                                            "removable disk #2   (1.46 MB) kind 0 number 129 size "
                                            "3000x512 media 2 removable 1 partitioned 1 line 1",
                                            "Windows drive D:   (8.00 MB) kind 1 number 4 size "
                                            "16384x512 media 2 removable 1 partitioned 0 line 1"}));

  ASSERT_EQ(host.lines.size(), 1u + 256u + 2u);
  EXPECT_EQ(host.lines[0], "set Scanning drives||Please wait...");
  EXPECT_EQ(host.lines[1], "Scanning drives|Checking BIOS drive 0|Please wait...");
  EXPECT_EQ(host.lines[256], "Scanning drives|Checking BIOS drive 255|Please wait...");
  EXPECT_EQ(host.lines[257], "Scanning drives|Checking Windows drive D:\\|Please wait...");
  EXPECT_EQ(host.lines[258], "Scanning drives|Checking Windows drive E:\\|Please wait...");
  EXPECT_EQ(host.processCalls, 258);
}

}  // namespace
}  // namespace kestrella::test
