// Whole-disk sector access by BIOS number, with its Abort/Retry/Ignore box.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <string>
#include <vector>

#include "diskiotest.h"

namespace kestrella::test {
namespace {

class PdiskioTest : public DiskioTest {
 protected:
  bool Read(uint8_t drive, uint32_t sector, uint16_t count, std::vector<uint8_t>& buf,
            bool showErrors) {
    buf.assign(static_cast<size_t>(count) * kSector, 0xEE);
    return physical.ReadPhysicalSectors(drive, sector, count, buf.data(), showErrors);
  }
  std::string DiskPath(uint8_t bios) { return Drives().PhysicalDiskPath(bios).value_or(""); }

  uint64_t ReadsUntilFailure(uint8_t drive, uint32_t sector, uint16_t count, uint64_t marked) {
    physical.CloseDrive();
    engine.sources.Reset();
    engine.sources.MarkUnreadable(DiskPath(drive), {marked});
    std::vector<uint8_t> buf;
    EXPECT_FALSE(Read(drive, sector, count, buf, false)) << "sector " << marked;
    return engine.sources.Get(DiskPath(drive)).reads;
  }
};

TEST_F(PdiskioTest, ReadsInChunksOf128SectorsFromTheRightDisk) {
  AddImage("first.img", 400);
  AddImage("second.img", 400, 0, 10000);
  engine.sources.Watch(DiskPath(0x81));
  std::vector<uint8_t> buf;
  ASSERT_TRUE(Read(0x81, 50, 300, buf, false));
  EXPECT_TRUE(buf == Stamped(10050, 300));
  EXPECT_EQ(engine.sources.Get(DiskPath(0x81)).reads, 3u);
  EXPECT_EQ(OpenFlagsOf(DiskPath(0x81)).at(0) & O_ACCMODE, O_RDONLY);

  EXPECT_EQ(ReadsUntilFailure(0x81, 50, 300, 50 + 127), 1u);
  EXPECT_EQ(ReadsUntilFailure(0x81, 50, 300, 50 + 128), 2u);
  EXPECT_EQ(ReadsUntilFailure(0x81, 50, 300, 50 + 255), 2u);
  EXPECT_EQ(ReadsUntilFailure(0x81, 50, 300, 50 + 256), 3u);
  EXPECT_EQ(ReadsUntilFailure(0x81, 50, 300, 50 + 299), 3u);

  ASSERT_TRUE(Read(0x80, 399, 1, buf, false));
  EXPECT_EQ(buf, Stamped(399, 1));
  EXPECT_FALSE(Read(0x80, 399, 2, buf, false));
  EXPECT_FALSE(Read(0x82, 0, 1, buf, false));
}

TEST_F(PdiskioTest, ADiskNumberThatNowNamesAnotherImageReadsThatImage) {
  AddImage("first.img", 8);
  std::vector<uint8_t> buf;
  ASSERT_TRUE(Read(0x80, 0, 1, buf, false));
  EXPECT_EQ(buf, Stamped(0, 1));
  Drives().Clear();
  AddImage("second.img", 8, 0, 5000);
  ASSERT_TRUE(Read(0x80, 0, 1, buf, false));
  EXPECT_EQ(buf, Stamped(5000, 1));
}

TEST_F(PdiskioTest, WithoutErrorsShownAFailureEndsTheCallAtOnce) {
  ScriptedUi& ui = engine.ui;
  ui.defaultAnswer = MsgResult::Ignore;
  AddImage("bad.img", 400);
  engine.sources.MarkUnreadable(DiskPath(0x80), {130});
  std::vector<uint8_t> buf;
  EXPECT_FALSE(Read(0x80, 0, 300, buf, false));
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_EQ(engine.sources.Get(DiskPath(0x80)).reads, 2u);
}

TEST_F(PdiskioTest, RetryRepeatsTheChunkAndAbortFailsTheCall) {
  ScriptedUi& ui = engine.ui;
  ui.answers = {MsgResult::Retry, MsgResult::Abort};
  AddImage("a.img", 400);
  AddImage("b.img", 400);
  engine.sources.MarkUnreadable(DiskPath(0x81), {200});
  std::vector<uint8_t> buf;
  EXPECT_FALSE(Read(0x81, 10, 300, buf, true));
  ASSERT_EQ(ui.shown.size(), 2u);
  for (const auto& box : ui.shown) {
    EXPECT_EQ(box.caption, "NT_read error");
    EXPECT_EQ(box.text, "error no.5\r\ndrv:129 LBA:10 blocks:300\r\n\r\nAbort, Retry or Ignore?");
    EXPECT_EQ(box.icon, MsgIcon::Warning);
    EXPECT_EQ(box.buttons, MsgButtons::AbortRetryIgnore);
  }
  const auto c = engine.sources.Get(DiskPath(0x81));
  EXPECT_EQ(c.reads, 3u);  // the first chunk, then the second twice
  EXPECT_EQ(c.failedReads, 2u);
}

// Ignore gives zeros for the part that failed, never what the buffer held,
// and says so once.
TEST_F(PdiskioTest, IgnoreGivesZerosForTheChunkAndReadsTheRestInPlace) {
  ScriptedUi& ui = engine.ui;
  ui.answers = {MsgResult::Ignore};
  AddImage("a.img", 400);
  engine.sources.MarkUnreadable(DiskPath(0x80), {0});
  std::vector<uint8_t> buf;
  EXPECT_TRUE(Read(0x80, 0, 300, buf, true));
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].text, "error no.5\r\ndrv:128 LBA:0 blocks:300\r\n\r\nAbort, Retry or Ignore?");
  const std::vector<uint8_t> skipped(128 * kSector, 0);
  EXPECT_TRUE(std::equal(skipped.begin(), skipped.end(), buf.begin()));
  EXPECT_TRUE(physical.TakeIgnoredRead());
  EXPECT_FALSE(physical.TakeIgnoredRead());
  const std::vector<uint8_t> rest = Stamped(128, 172);
  EXPECT_TRUE(std::equal(rest.begin(), rest.end(), buf.begin() + 128 * kSector));
}

TEST_F(PdiskioTest, AShortReadAsksToo) {
  ScriptedUi& ui = engine.ui;
  AddImage("a.img", 200);
  std::vector<uint8_t> buf;
  EXPECT_FALSE(Read(0x80, 100, 150, buf, true));
  ASSERT_EQ(ui.shown.size(), 1u);  // the default answer is Abort
  EXPECT_EQ(ui.shown[0].text, "error no.5\r\ndrv:128 LBA:100 blocks:150\r\n\r\nAbort, Retry or Ignore?");
}

TEST_F(PdiskioTest, WritesLandInChunksAndFailuresAsk) {
  ScriptedUi& ui = engine.ui;
  AddImage("w.img", 400);
  const std::string path = DiskPath(0x80);
  engine.sources.Watch(path);
  std::vector<uint8_t> expected = ReadFileBytes(path);
  const std::vector<uint8_t> data = Stamped(800, 300);
  ASSERT_TRUE(physical.WritePhysicalSectors(0x80, 40, 300, data.data(), true));
  std::copy(data.begin(), data.end(), expected.begin() + 40 * kSector);
  EXPECT_TRUE(ReadFileBytes(path) == expected);
  EXPECT_EQ(engine.sources.Get(path).writes, 3u);
  EXPECT_EQ(engine.sources.Get(path).opensForWrite, 1u);
  const auto flags = OpenFlagsOf(path);
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_EQ(flags[0] & O_ACCMODE, O_WRONLY);
  EXPECT_NE(flags[0] & O_DSYNC, 0);
  EXPECT_TRUE(ui.shown.empty());

  // The disk ends after 400 sectors: the second chunk does not fit.
  ui.answers = {MsgResult::Ignore, MsgResult::Abort};
  EXPECT_FALSE(physical.WritePhysicalSectors(0x80, 200, 300, data.data(), true));
  ASSERT_EQ(ui.shown.size(), 2u);
  EXPECT_EQ(ui.shown[0].caption, "NT_write error");
  EXPECT_EQ(ui.shown[0].text,
            "error no.28\r\ndrv:128 LBA:200 blocks:300\r\n\r\nAbort, Retry or Ignore?");
  std::copy(data.begin(), data.begin() + 128 * kSector, expected.begin() + 200 * kSector);
  EXPECT_TRUE(ReadFileBytes(path) == expected);
}

TEST_F(PdiskioTest, DriveParamsOfFloppiesDisksAndImages) {
  const fs::path sys = dir / "sys", dev = dir / "dev";
  for (const auto& [name, sectors, removable] :
       {std::tuple{"fd0", 2880, 1}, std::tuple{"sda", 40000, 0}}) {
    fs::create_directories(sys / name);
    std::ofstream(sys / name / "size") << sectors << "\n";
    std::ofstream(sys / name / "removable") << removable << "\n";
    fs::create_directories(dev);
    std::ofstream(dev / name).close();
    fs::resize_file(dev / name, uint64_t(sectors) * kSector);
  }
  SystemRoots roots;
  roots.sysClassBlock = sys.string();
  roots.devDir = dev.string();
  roots.rootDevice = "9:999";
  Drives().ScanSystem(roots);
  AddImage("card.img", 2 * 255 * 63 + 7, 100);

  TPhysDriveParams p;
  ASSERT_TRUE(physical.GetPhysDriveParams(0x00, p));
  EXPECT_EQ(p.DriveType, DriveKind::Floppy);
  EXPECT_EQ(p.Removable, 1);
  EXPECT_EQ(p.Cylinders, 80u);
  EXPECT_EQ(p.Heads, 2u);
  EXPECT_EQ(p.SectorsPerTrack, 18u);
  EXPECT_EQ(p.TotalSectors, 2880u);

  ASSERT_TRUE(physical.GetPhysDriveParams(0x80, p));
  EXPECT_EQ(p.DriveType, DriveKind::Fixed);
  EXPECT_EQ(p.Removable, 0);
  EXPECT_EQ(p.TotalSectors, 40000u);

  ASSERT_TRUE(physical.GetPhysDriveParams(0x81, p));
  EXPECT_EQ(p.DriveType, DriveKind::Removable);
  EXPECT_EQ(p.Removable, 1);
  EXPECT_EQ(p.BytesPerSector, 512u);
  EXPECT_EQ(p.Cylinders, 2u);
  EXPECT_EQ(p.TotalSectors, 2u * 255 * 63 + 8);  // the partial last sector counts

  p.TotalSectors = 99;
  EXPECT_FALSE(physical.GetPhysDriveParams(0x82, p));
  EXPECT_FALSE(physical.GetPhysDriveParams(0x01, p));
  EXPECT_EQ(p.TotalSectors, 99u);
}

}  // namespace
}  // namespace kestrella::test
