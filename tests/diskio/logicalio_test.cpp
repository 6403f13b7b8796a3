// Sector access by drive letter through the main window's access (the
// engine's diskutils) and the one each device keeps of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "diskiotest.h"

namespace kestrella::test {
namespace {

struct ModuleUnderTest {
  const char* name;
  bool window;  // the engine's own (main window's) access, else a device's
  uint32_t chunkSectors;
  uint16_t longRead;  // sectors of a read that takes three calls
  bool writeThrough;
  bool asksOpticalSize;
};

const ModuleUnderTest kDiskutils{"diskutils", true, 1000, 2500, false, true};
const ModuleUnderTest kLdiskio{"ldiskio", false, 4096, 9000, true, false};

void PrintTo(const ModuleUnderTest& m, std::ostream* os) { *os << m.name; }

class LogicalIoTest : public DiskioTest, public ::testing::WithParamInterface<ModuleUnderTest> {
 protected:
  const ModuleUnderTest& M() const { return GetParam(); }
  LogicalSectorAccess& Access() { return M().window ? engine.context.diskutils() : deviceAccess; }

  bool Read(uint8_t drive, uint32_t sector, uint16_t count, std::vector<uint8_t>& buf) {
    buf.assign(static_cast<size_t>(count) * kSector, 0xEE);
    return Access().ReadLogicalSectors(drive, sector, count, buf.data());
  }

  // Reads with sector `marked` unreadable and tells how many reads reached
  // the image before the call gave up.
  uint64_t ReadsUntilFailure(uint8_t drive, uint32_t sector, uint16_t count, uint64_t marked) {
    Access().NT_CloseDrive();
    engine.sources.Reset();
    engine.sources.MarkUnreadable(PathOf(drive), {marked});
    std::vector<uint8_t> buf;
    EXPECT_FALSE(Read(drive, sector, count, buf)) << "sector " << marked;
    const auto c = engine.sources.Get(PathOf(drive));
    EXPECT_EQ(c.failedReads, 1u);
    return c.reads;
  }
};

TEST_P(LogicalIoTest, KeepsOneHandleUntilDriveOrModeChanges) {
  const uint8_t d = AddImage("d.img", 16);
  const uint8_t e = AddImage("e.img", 16);
  engine.sources.Watch(PathOf(d));
  engine.sources.Watch(PathOf(e));
  std::vector<uint8_t> buf;

  ASSERT_TRUE(Read(d, 0, 1, buf));
  ASSERT_TRUE(Read(e, 1, 1, buf));
  EXPECT_TRUE(OpenFlagsOf(PathOf(d)).empty()) << "D: still held after reading E:";
  ASSERT_TRUE(Read(e, 2, 1, buf));
  EXPECT_EQ(buf, Stamped(2, 1));
  auto c = engine.sources.Get(PathOf(e));
  EXPECT_EQ(c.opensForRead, 1u);
  EXPECT_EQ(c.reads, 2u);

  ASSERT_TRUE(Access().WriteLogicalSectors(e, 3, 1, buf.data()));
  c = engine.sources.Get(PathOf(e));
  EXPECT_EQ(c.opensForWrite, 1u);
  auto flags = OpenFlagsOf(PathOf(e));
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_EQ(flags[0] & O_ACCMODE, O_WRONLY);
  EXPECT_EQ((flags[0] & O_DSYNC) != 0, M().writeThrough);

  ASSERT_TRUE(Read(e, 3, 1, buf));
  EXPECT_EQ(buf, Stamped(2, 1));  // what was written
  c = engine.sources.Get(PathOf(e));
  EXPECT_EQ(c.opensForRead, 2u);
  EXPECT_EQ(c.opensForWrite, 1u);
  flags = OpenFlagsOf(PathOf(e));
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_EQ(flags[0] & O_ACCMODE, O_RDONLY);

  ASSERT_TRUE(Access().NT_CloseDrive());
  EXPECT_TRUE(OpenFlagsOf(PathOf(e)).empty());
  ASSERT_TRUE(Read(e, 4, 1, buf));
  EXPECT_EQ(engine.sources.Get(PathOf(e)).opensForRead, 3u);
}

TEST_P(LogicalIoTest, ALetterThatNowNamesAnotherImageReadsThatImage) {
  const uint8_t d = AddImage("first.img", 8);
  std::vector<uint8_t> buf;
  ASSERT_TRUE(Read(d, 0, 1, buf));
  EXPECT_EQ(buf, Stamped(0, 1));

  // The table is rebuilt (a rescan, another image) while the handle is open.
  Drives().Clear();
  ASSERT_EQ(AddImage("second.img", 8, 0, 5000), d);
  ASSERT_TRUE(Read(d, 0, 1, buf));
  EXPECT_EQ(buf, Stamped(5000, 1));
}

TEST_P(LogicalIoTest, SplitsLongReadsIntoChunksAndPlacesEachOne) {
  const uint32_t chunk = M().chunkSectors;
  const uint16_t count = M().longRead;
  const uint8_t d = AddImage("big.img", count + 20);
  engine.sources.Watch(PathOf(d));
  std::vector<uint8_t> buf;
  ASSERT_TRUE(Read(d, 7, count, buf));
  EXPECT_TRUE(buf == Stamped(7, count));
  const auto c = engine.sources.Get(PathOf(d));
  EXPECT_EQ(c.reads, 3u);
  EXPECT_EQ(c.bytesRead, uint64_t{count} * kSector);

  // Where the calls split: a bad sector fails the chunk that holds it.
  EXPECT_EQ(ReadsUntilFailure(d, 7, count, 7 + chunk - 1), 1u);
  EXPECT_EQ(ReadsUntilFailure(d, 7, count, 7 + chunk), 2u);
  EXPECT_EQ(ReadsUntilFailure(d, 7, count, 7 + 2 * chunk - 1), 2u);
  EXPECT_EQ(ReadsUntilFailure(d, 7, count, 7 + 2 * chunk), 3u);
  EXPECT_EQ(ReadsUntilFailure(d, 7, count, 7 + count - 1), 3u);
}

TEST_P(LogicalIoTest, APartialLastSectorCountsAndAReadPastItFailsWholly) {
  // 1100 whole sectors and a partial one, sector 1100: its 100 bytes, then
  // zeros.
  const uint8_t d = AddImage("short.img", 1100, 100);
  std::vector<uint8_t> last(kSector, 0);
  std::fill_n(last.begin(), 100, uint8_t{0xAB});
  std::vector<uint8_t> buf;
  ASSERT_TRUE(Read(d, 1099, 2, buf));
  EXPECT_TRUE(std::equal(last.begin(), last.end(), buf.begin() + kSector));
  ASSERT_TRUE(Read(d, 0, 1101, buf));  // the last of several chunks
  EXPECT_TRUE(std::equal(last.begin(), last.end(), buf.begin() + 1100 * kSector));
  EXPECT_FALSE(Read(d, 1100, 2, buf));
  EXPECT_FALSE(Read(d, 1101, 1, buf));
  EXPECT_FALSE(Read(d, 5000, 1, buf));
  EXPECT_FALSE(Read(d, 0, 1102, buf));
}

TEST_P(LogicalIoTest, AnUnreadableSectorFailsTheReadWithoutAMessage) {
  const ScriptedUi& ui = engine.ui;
  const uint8_t d = AddImage("bad.img", 64);
  engine.sources.MarkUnreadable(PathOf(d), {40});
  std::vector<uint8_t> buf;
  EXPECT_FALSE(Read(d, 32, 16, buf));
  EXPECT_TRUE(Read(d, 41, 16, buf));
  EXPECT_EQ(buf, Stamped(41, 16));
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_EQ(engine.sources.Get(PathOf(d)).failedReads, 1u);
}

TEST_P(LogicalIoTest, ReadsLeaveAWriteProtectedImageAsItWas) {
  const uint8_t d = AddImage("ro.img", 64);
  const fs::path image = PathOf(d);
  ASSERT_EQ(::chmod(image.c_str(), 0444), 0);
  const std::string md5 = Md5Of(image);
  engine.sources.Watch(image);

  std::vector<uint8_t> buf;
  ASSERT_TRUE(Read(d, 0, 64, buf));
  EXPECT_TRUE(buf == Stamped(0, 64));
  const auto flags = OpenFlagsOf(image);
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_EQ(flags[0] & O_ACCMODE, O_RDONLY);
  EXPECT_EQ(engine.sources.Get(image).opensForRead, 1u);
  EXPECT_EQ(engine.sources.Get(image).opensForWrite, 0u);

  if (::geteuid() != 0) {
    // Permissions hold for everybody but root.
    EXPECT_FALSE(Access().WriteLogicalSectors(d, 0, 1, buf.data()));
  }
  EXPECT_EQ(Md5Of(image), md5);
}

TEST_P(LogicalIoTest, WritesChangeExactlyTheSectorsWritten) {
  const uint8_t d = AddImage("w.img", 64, 100);
  const fs::path image = PathOf(d);
  std::vector<uint8_t> expected = ReadFileBytes(image);
  const std::vector<uint8_t> data = Stamped(900, 3);
  ASSERT_TRUE(Access().WriteLogicalSectors(d, 10, 3, data.data()));
  std::copy(data.begin(), data.end(), expected.begin() + 10 * kSector);
  EXPECT_TRUE(ReadFileBytes(image) == expected);

  std::vector<uint8_t> buf;
  ASSERT_TRUE(Read(d, 9, 5, buf));
  std::vector<uint8_t> around(expected.begin() + 9 * kSector, expected.begin() + 14 * kSector);
  EXPECT_TRUE(buf == around);
}

TEST_P(LogicalIoTest, AWritePastTheEndOfAnImageFailsAndKeepsItsSize) {
  const uint8_t d = AddImage("end.img", 16);
  const fs::path image = PathOf(d);
  const std::string md5 = Md5Of(image);
  const std::vector<uint8_t> data = Stamped(700, 2);
  EXPECT_FALSE(Access().WriteLogicalSectors(d, 15, 2, data.data()));
  EXPECT_FALSE(Access().WriteLogicalSectors(d, 16, 1, data.data()));
  EXPECT_EQ(fs::file_size(image), 16 * kSector);
  EXPECT_EQ(Md5Of(image), md5);
  EXPECT_TRUE(Access().WriteLogicalSectors(d, 15, 1, data.data()));
}

void ExpectRecord(const TLogDriveParams& p, DriveKind type, int16_t removable, uint32_t cylinders,
                  uint32_t heads, uint32_t perTrack, uint32_t bytesPerSector, uint64_t total) {
  EXPECT_EQ(p.DriveType, type);
  EXPECT_EQ(p.Removable, removable);
  EXPECT_EQ(p.Cylinders, cylinders);
  EXPECT_EQ(p.Heads, heads);
  EXPECT_EQ(p.SectorsPerTrack, perTrack);
  EXPECT_EQ(p.BytesPerSector, bytesPerSector);
  EXPECT_EQ(p.TotalSectors, total);
}

// A drive type no drive has: a field left alone keeps it.
constexpr DriveKind kSentinelType = static_cast<DriveKind>(77);

TLogDriveParams Sentinel() {
  TLogDriveParams p;
  p.DriveType = kSentinelType;
  p.Removable = 7;
  p.Cylinders = 11;
  p.Heads = 12;
  p.SectorsPerTrack = 13;
  p.BytesPerSector = 14;
  p.TotalSectors = 15;
  return p;
}

TEST_P(LogicalIoTest, DriveParamsOfImages) {
  TLogDriveParams p;
  const uint8_t card = AddImage("card.img", 1000, 100);
  ASSERT_TRUE(Access().GetLogDriveParams(card, p));
  ExpectRecord(p, DriveKind::Removable, 1, 0, 255, 63, 512, 1001);  // the partial one counts
  EXPECT_EQ(p.TotalBytes, 1000 * kSector + 100);

  const uint8_t floppy = AddImage("floppy.img", 2880);
  ASSERT_TRUE(Access().GetLogDriveParams(floppy, p));
  ExpectRecord(p, DriveKind::Removable, 1, 80, 2, 18, 512, 2880);

  // Beyond two whole cylinders: every sector counts.
  const fs::path big = dir / "big.img";
  std::ofstream(big).close();
  fs::resize_file(big, (2ull * 255 * 63 + 7) * kSector);
  const uint8_t b = Drives().AddImage(big);
  ASSERT_TRUE(Access().GetLogDriveParams(b, p));
  ExpectRecord(p, DriveKind::Removable, 1, 2, 255, 63, 512, 2 * 255 * 63 + 7);

  // Gone since it was named, or never named: the record stays as it was.
  fs::remove(dir / "card.img");
  p = Sentinel();
  EXPECT_FALSE(Access().GetLogDriveParams(card, p));
  ExpectRecord(p, kSentinelType, 7, 11, 12, 13, 14, 15);
  EXPECT_FALSE(Access().GetLogDriveParams(20, p));
  ExpectRecord(p, kSentinelType, 7, 11, 12, 13, 14, 15);
  std::vector<uint8_t> buf;
  EXPECT_FALSE(Read(card, 0, 1, buf));
}

// Devices of a made-up system whose /dev entries are plain files.
class LogicalIoDeviceTest : public LogicalIoTest {
 protected:
  fs::path Device(const std::string& name, uint64_t sectors, int removable, uint64_t fileBytes) {
    const fs::path d = dir / "sys" / name;
    fs::create_directories(d);
    std::ofstream(d / "size") << sectors << "\n";
    std::ofstream(d / "removable") << removable << "\n";
    std::ofstream(d / "dev") << "9:" << devCount_++ << "\n";
    fs::create_directories(dir / "dev");
    std::ofstream(dir / "dev" / name).close();
    fs::resize_file(dir / "dev" / name, fileBytes);
    return dir / "dev" / name;
  }
  void Scan() {
    SystemRoots roots;
    roots.sysClassBlock = (dir / "sys").string();
    roots.devDir = (dir / "dev").string();
    roots.rootDevice = "9:999";
    Drives().ScanSystem(roots);
  }
  int devCount_ = 0;
};

TEST_P(LogicalIoDeviceTest, DriveParamsFollowTheKindOfDevice) {
  Device("fd0", 2880, 1, 2880 * kSector);
  Device("sda", 4096, 0, 4096 * kSector);
  Device("sdc", 0, 1, 0);  // card reader without a card
  Device("sr0", 0, 1, 0);  // optical drive without a disc
  Scan();
  ASSERT_EQ(Drives().Find(4)->source.name, "sda");
  ASSERT_EQ(Drives().Find(6)->source.name, "sr0");

  TLogDriveParams p;
  ASSERT_TRUE(Access().GetLogDriveParams(1, p));
  ExpectRecord(p, DriveKind::Floppy, 1, 80, 2, 18, 512, 2880);
  ASSERT_TRUE(Access().GetLogDriveParams(4, p));
  ExpectRecord(p, DriveKind::Fixed, 0, 0, 255, 63, 512, 4096);

  p = Sentinel();
  EXPECT_FALSE(Access().GetLogDriveParams(5, p));
  ExpectRecord(p, kSentinelType, 7, 11, 12, 13, 14, 15);

  p = Sentinel();
  if (M().asksOpticalSize) {
    EXPECT_FALSE(Access().GetLogDriveParams(6, p));
    ExpectRecord(p, DriveKind::CDROM, 1, 0, 0, 0, 2048, 358400);
  } else {
    EXPECT_TRUE(Access().GetLogDriveParams(6, p));
    ExpectRecord(p, DriveKind::CDROM, 1, 0, 0, 0, 2048, 0);
  }
}

using LogicalIoModules = DiskioTest;

TEST_F(LogicalIoModules, EachModuleKeepsItsOwnHandle) {
  const uint8_t d = AddImage("d.img", 8);
  const uint8_t e = AddImage("e.img", 8);
  const std::string path = PathOf(d);
  engine.sources.Watch(path);
  std::vector<uint8_t> buf(kSector);

  LogicalSectorAccess& window = engine.context.diskutils();
  ASSERT_TRUE(window.ReadLogicalSectors(d, 0, 1, buf.data()));
  ASSERT_TRUE(deviceAccess.ReadLogicalSectors(d, 1, 1, buf.data()));
  EXPECT_EQ(OpenFlagsOf(path).size(), 2u);
  ASSERT_TRUE(deviceAccess.ReadLogicalSectors(e, 0, 1, buf.data()));
  EXPECT_EQ(OpenFlagsOf(path).size(), 1u);  // the window's handle is still open
  ASSERT_TRUE(window.ReadLogicalSectors(d, 2, 1, buf.data()));
  EXPECT_EQ(buf, Stamped(2, 1));
  EXPECT_EQ(engine.sources.Get(path).opensForRead, 2u);
}

INSTANTIATE_TEST_SUITE_P(Modules, LogicalIoTest, ::testing::Values(kDiskutils, kLdiskio),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Modules, LogicalIoDeviceTest, ::testing::Values(kDiskutils, kLdiskio),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrella::test
