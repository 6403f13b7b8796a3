// Wipe and Format: the refusals, the questions, and what reaches the medium.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/cardtools.h"
#include "diskio/bootsector.h"
#include "diskio/enginecontext.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;

class CardToolsTest : public ::testing::Test {
 protected:
  // A card image of `sectors` sectors and `tail` bytes filled with 0xAB.
  const DriveEntry& Card(uint32_t sectors, size_t tail = 0) {
    path_ = (dir_ / "card.img").string();
    test::WriteFileBytes(path_, std::vector<uint8_t>(static_cast<size_t>(sectors) * 512 + tail, 0xAB));
    DriveTable& drives = engine_.context.drives();
    const uint8_t n = drives.AddImage(path_);
    engine_.sources.Watch(drives.Find(n)->source.path);
    return *drives.Find(n);
  }
  TLogDriveParams Params(const DriveEntry& d) {
    TLogDriveParams p;
    EXPECT_TRUE(engine_.context.diskutils().GetLogDriveParams(d.number, p));
    return p;
  }
  uint64_t Writes() const { return engine_.sources.Get(path_).writes; }

  test::TempDir dir_;
  test::TestEngine engine_;
  EngineContext& context_ = engine_.context;
  test::ScriptedUi& ui_ = engine_.ui;
  std::string path_;
};

TEST_F(CardToolsTest, RefusesFixedRemoteAndOpticalDrivesWithoutAsking) {
  const DriveEntry& card = Card(64);
  const std::string md5 = test::Md5Of(path_);
  struct Case {
    RootKind type;
    const char* wipe;
    const char* format;
    bool readOnly = false;
    const char* name = "";
  };
  const std::string locked = ": it is write-protected (check the card's lock switch).";
  const std::string wipeLocked = "Cannot wipe [D:]" + locked, formatLocked = "Cannot format [D:]" + locked;
  for (const Case& c :
       {Case{RootKind::Fixed, "Cannot wipe fixed drive.", "Can not format fixed drive."},
        Case{RootKind::Remote, "Cannot wipe remote drive.", "Can not format remote drive."},
        Case{RootKind::CDROM, "Cannot wipe cd-rom.", "Can not format cd-rom."},
        Case{RootKind::Removable, wipeLocked.c_str(), formatLocked.c_str(), true},
        Case{RootKind::Removable, "Cannot wipe [D:]: it is compressed memory (zram), not a card.",
             "Cannot format [D:]: it is compressed memory (zram), not a card.", false, "zram0"}}) {
    DriveEntry d = card;
    d.source.rootType = c.type;
    d.source.readOnly = c.readOnly;
    if (*c.name != '\0') {
      d.source.name = c.name;
      d.source.isImage = false;
    }
    ui_.shown.clear();
    TWipe wipe(context_);
    EXPECT_FALSE(wipe.WipeDrive(d, Params(card), 8).ran);
    EXPECT_EQ(FormatDrive(context_, d, {}), -1);
    ASSERT_EQ(ui_.shown.size(), 2u);
    EXPECT_EQ(ui_.shown[0].text, c.wipe);
    EXPECT_EQ(ui_.shown[1].text, c.format);
  }
  EXPECT_EQ(test::Md5Of(path_), md5);
  EXPECT_EQ(Writes(), 0u);
}

// A card that takes the writes into the cache but fails to put them on the
// medium: from the third block on nothing counts as wiped, and the outcome
// names the sectors left, as one range.
TEST_F(CardToolsTest, BlocksTheMediumDidNotTakeAreNotCountedAsWiped) {
  const DriveEntry& card = Card(1000);
  engine_.sources.FailSyncAfter(card.source.path, 2);
  ui_.answers = {MsgResult::Yes};
  TWipe wipe(context_);
  const TWipeResult r = wipe.WipeDrive(card, Params(card), 100);
  EXPECT_EQ(r.sectorsWritten, 200u);
  EXPECT_EQ(r.failedWrites, 8u);
  EXPECT_EQ(WipeOutcome(card, Params(card), r),
            "Some sectors of [D:] could not be written and still hold their old data (200 of 1000 sectors "
            "were wiped). Sectors not wiped: 200-999.");
}

TEST_F(CardToolsTest, NoToTheQuestionWritesNothing) {
  const DriveEntry& card = Card(64);
  ui_.answers = {MsgResult::No};
  TWipe wipe(context_);
  EXPECT_FALSE(wipe.WipeDrive(card, Params(card), 8).ran);
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].text, "Wipe every sector of " + fs::weakly_canonical(path_).string() +
                                   " (card image, 32.8 KB)? Everything on it will be lost.");
  EXPECT_EQ(Writes(), 0u);
}

TEST_F(CardToolsTest, WipesEverySectorInBlocksWithTheGaugePerSector) {
  const DriveEntry& card = Card(32768, 100);  // 16 MB and a partial last sector
  ui_.answers = {MsgResult::Yes};
  TWipe wipe(context_);
  std::vector<uint64_t> positions;
  wipe.OnProgress = [&](uint64_t pos, uint64_t max) {
    EXPECT_EQ(max, 32769u);
    positions.push_back(pos);
  };
  const TWipeResult r = wipe.WipeDrive(card, Params(card), 327);
  EXPECT_TRUE(r.ran);
  EXPECT_EQ(r.sectorsWritten, 32769u);
  EXPECT_EQ(r.failedWrites, 0u);
  EXPECT_FALSE(r.stopped);
  EXPECT_EQ(WipeOutcome(card, Params(card), r), "");
  EXPECT_EQ(Writes(), 101u);  // 100 of 327 sectors, then 69
  ASSERT_EQ(positions.size(), 32769u + 1);          // one per sector, then back to 0
  EXPECT_EQ(positions[32768], 32768u);
  EXPECT_EQ(positions.back(), 0u);
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path_);
  EXPECT_EQ(bytes.size(), 32768u * 512 + 100);  // the wipe does not grow the image
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(CardToolsTest, AStopEndsTheWipeAfterTheSectorInHand) {
  const DriveEntry& card = Card(1000);
  ui_.answers = {MsgResult::Yes};
  TWipe wipe(context_);
  wipe.OnProgress = [&](uint64_t pos, uint64_t) {
    if (pos == 150) wipe.Stop();
  };
  const TWipeResult r = wipe.WipeDrive(card, Params(card), 100);
  EXPECT_TRUE(r.ran);
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path_);
  EXPECT_EQ(bytes[199 * 512], 0);     // the block in hand was written whole
  EXPECT_EQ(bytes[200 * 512], 0xAB);  // nothing after it
  // How far it got is told, and that the card is now neither wiped nor usable.
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.sectorsReached, 200u);
  EXPECT_EQ(WipeOutcome(card, Params(card), r),
            "The wipe was stopped after 102.4 KB of 512.0 KB: the card is partly wiped and its "
            "file system is damaged. Format it before use.");
}

TEST_F(CardToolsTest, FormatsAnImageWithTheChosenFileSystem) {
  const DriveEntry& card = Card(32768);
  std::string out;
  ASSERT_EQ(FormatDrive(context_, card, {16, "FRESH", 2048}, &out), 0) << out;
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path_);
  EXPECT_EQ(ProbeFatBootSector(bytes.data(), 512), "FAT16");
  EXPECT_EQ(bytes[13], 4);  // 2048-byte clusters of 512-byte sectors
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[43]), 5), "FRESH");
  EXPECT_TRUE(MountPointOf(card.source).empty());
  // A label that a shell would take apart reaches mkfs.fat as typed.
  ASSERT_EQ(FormatDrive(context_, card, {16, "IT'S $(ID)`", 2048}, &out), 0) << out;
  const std::vector<uint8_t> relabelled = test::ReadFileBytes(path_);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&relabelled[43]), 11), "IT'S $(ID)`");
}

TEST_F(CardToolsTest, FormatAllowedWarnsAboutTheDrivesFormatRefuses) {
  const DriveEntry& card = Card(64);
  EXPECT_TRUE(FormatAllowed(context_, card));
  EXPECT_TRUE(ui_.shown.empty());
  DriveEntry fixed = card;
  fixed.source.rootType = RootKind::Fixed;
  EXPECT_FALSE(FormatAllowed(context_, fixed));
  DriveEntry partition = card;
  partition.source.partition = 1;
  EXPECT_FALSE(FormatAllowed(context_, partition));
  DriveEntry unknown = card;
  unknown.source.rootType = RootKind::Unknown;
  EXPECT_FALSE(FormatAllowed(context_, unknown));  // refused without a word
  ASSERT_EQ(ui_.shown.size(), 2u);
  EXPECT_EQ(ui_.shown[0].text, "Can not format fixed drive.");
  EXPECT_EQ(ui_.shown[1].text, "Cannot format a partition inside a disk image.");
  EXPECT_EQ(Writes(), 0u);
}

TEST_F(CardToolsTest, AFat32TooSmallToBeReadAsFat32IsAFailure) {
  // mkfs.fat writes it with a warning and exit status 0; every reader takes
  // a FAT of 8,000 clusters for FAT16.
  const DriveEntry& card = Card(8192);
  std::string out;
  EXPECT_EQ(FormatDrive(context_, card, {32, "", 0}, &out), 1);
  EXPECT_NE(out.find("too few clusters for FAT32: it reads as FAT16"), std::string::npos) << out;
  // The choice that fits goes through.
  EXPECT_EQ(FormatDrive(context_, card, {12, "", 0}, &out), 0) << out;
}

TEST_F(CardToolsTest, FormatFindsMkfsOutsideAnOrdinaryUsersPath) {
  // Debian gives ordinary users no /usr/sbin in PATH, where mkfs.fat lives.
  const DriveEntry& card = Card(32768);
  const char* old = std::getenv("PATH");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("PATH", "/usr/bin:/bin", 1);
  std::string out;
  const int status = FormatDrive(context_, card, {12, "", 0}, &out);
  ::setenv("PATH", saved.c_str(), 1);
  ASSERT_EQ(status, 0) << out;
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path_);
  EXPECT_EQ(ProbeFatBootSector(bytes.data(), 512), "FAT12");
}

}  // namespace
}  // namespace kestrella

namespace kestrella {
namespace {

TEST(MountCheck, FindsTheCardOrAnyPartitionOfItAmongTheMounts) {
  test::TempDir dir;
  // A card reader's disk 8:16 with its partition 8:17, as /sys/dev/block has them.
  const fs::path disk = dir / "devices/sdb", part = disk / "sdb1";
  fs::create_directories(part);
  test::WriteFileBytes(disk / "dev", {'8', ':', '1', '6', '\n'});
  test::WriteFileBytes(part / "dev", {'8', ':', '1', '7', '\n'});
  test::WriteFileBytes(part / "partition", {'1', '\n'});
  fs::create_directories(dir / "block");
  fs::create_symlink(disk, dir / "block/8:16");
  fs::create_symlink(part, dir / "block/8:17");
  const fs::path info = dir / "mountinfo";
  const std::string line = "36 25 8:17 / /media/my\\040card rw,relatime - vfat /dev/sdb1 rw\n";
  test::WriteFileBytes(info, std::vector<uint8_t>(line.begin(), line.end()));

  EXPECT_EQ(MountPointOfDevice("8:16", info.string(), (dir / "block").string()), "/media/my card");
  EXPECT_EQ(MountPointOfDevice("8:17", info.string(), (dir / "block").string()), "/media/my card");
  EXPECT_EQ(MountPointOfDevice("8:32", info.string(), (dir / "block").string()), "");
}

}  // namespace
}  // namespace kestrella
