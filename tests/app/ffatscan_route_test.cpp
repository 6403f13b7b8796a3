// The scan driver's folder route on real cards: what it hands over, when it
// reports its end, and how a stop ends it.
#include <gtest/gtest.h>

#include <map>

#include "app/ffatscan.h"
#include "diskio/drivetable.h"
#include "fat/fatread_testcard.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;

class FolderRouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_.ui.temp = dir_ / "tmp";
    fs::create_directories(engine_.ui.temp);
    const fs::path card = dir_ / "card.img";
    ASSERT_EQ(test::Run("mkfs.fat -C -F 16 " + test::Quote(card) + " 16384").exitCode, 0);
    const auto photos = test::DataPhotos();
    for (int i = 0; i < 3; ++i) {
      const std::string to = "::P" + std::to_string(i) + ".JPG";
      ASSERT_EQ(test::Run("MTOOLS_SKIP_CHECK=1 mcopy -i " + test::Quote(card) + " " +
                          test::Quote(photos[static_cast<size_t>(i)]) + " " + to).exitCode, 0);
    }
    ASSERT_EQ(test::Run("MTOOLS_SKIP_CHECK=1 mdel -i " + test::Quote(card) + " ::P0.JPG ::P1.JPG ::P2.JPG").exitCode, 0);
    drive_ = engine_.context.drives().AddImage(card.string());
    ASSERT_NE(drive_, 0);
    driver_.DestFolder = (dir_ / "dest").string();
    fs::create_directories(driver_.DestFolder);
    driver_.OnScanProgress = [this](int64_t p) { progress_.push_back(p); };
    driver_.OnFoundImage = [this](const std::string& path, const FoundOrigin&) {
      found_.push_back(path);
      if (stopAfter_ != 0 && found_.size() == stopAfter_) driver_.StopScan();
    };
  }
  test::TempDir dir_;
  test::TestEngine engine_;
  TFrmFATScan driver_{engine_.context};
  uint8_t drive_ = 0;
  std::vector<int64_t> progress_;
  std::vector<std::string> found_;
  size_t stopAfter_ = 0;
};

TEST_F(FolderRouteTest, HandsOverTheDeletedPhotosAndReportsItsEnd) {
  int32_t files = -1, folders = -1;
  EXPECT_TRUE(driver_.AnalyzeTotalFile(drive_, false, true, false, files, folders));
  EXPECT_EQ(files, 3);
  EXPECT_TRUE(driver_.StopRequestedFlag);

  driver_.ScanDrive(drive_, false, true, false);
  ASSERT_EQ(found_.size(), 3u);
  for (const std::string& f : found_) EXPECT_TRUE(fs::exists(f)) << f;
  ASSERT_FALSE(progress_.empty());
  EXPECT_EQ(progress_.back(), driver_.Max);
  EXPECT_TRUE(driver_.StopRequestedFlag);
}

TEST_F(FolderRouteTest, AStopDuringTheHandOverEndsTheRouteWithoutItsFinalReport) {
  stopAfter_ = 1;
  driver_.ScanDrive(drive_, false, true, true);
  EXPECT_EQ(found_.size(), 1u);
  // Neither the lost-data search (which would report its start) nor the
  // final progress event ran.
  EXPECT_TRUE(progress_.empty());
}

TEST_F(FolderRouteTest, ADriveWithoutFatCountsNothing) {
  test::WriteFileBytes(dir_ / "blank.img", std::vector<uint8_t>(1 << 20, 0));
  const uint8_t blank = engine_.context.drives().AddImage((dir_ / "blank.img").string());
  int32_t files = -1, folders = -1;
  EXPECT_FALSE(driver_.AnalyzeTotalFile(blank, true, true, false, files, folders));
  EXPECT_EQ(files, 0);
  EXPECT_EQ(folders, 0);
  driver_.ScanDrive(blank, false, true, true);
  EXPECT_TRUE(found_.empty());
  EXPECT_TRUE(progress_.empty());
}

// Two files whose chains both cross a table sector that cannot be read, one
// leaving it, one entering it: written in one piece, both come back whole
// by reading on cluster after cluster, and both are reported Damaged.
class UnreadableTableSector : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(UnreadableTableSector, ChainsGoOnConsecutivelyAndTheFilesAreReportedDamaged) {
  const auto [fatBits, kib] = GetParam();
  const uint32_t perSector = 512 * 8 / static_cast<uint32_t>(fatBits);  // table entries
  test::FatCard card(fatBits, kib, 1);
  std::map<std::string, std::vector<uint8_t>> files;
  for (const char* name : {"A.JPG", "B.JPG"}) {
    for (size_t i = 0; i < perSector * 512 * 3 / 2; ++i) files[name].push_back(static_cast<uint8_t>((i * 131 + name[0]) >> 3));
    test::WriteFileBytes(card.dir() / name, files[name]);
    card.Copy(card.dir() / name, name);
  }
  const std::vector<uint32_t> a = card.Chain("A.JPG"), b = card.Chain("B.JPG");
  const uint32_t sector = b.front() / perSector;
  ASSERT_TRUE(a.front() / perSector < sector && a.back() / perSector == sector && b.back() / perSector > sector);
  test::TestEngine& engine = card.engine();
  engine.ui.temp = card.dir() / "tmp";
  fs::create_directories(engine.ui.temp);
  const uint8_t letter = engine.context.drives().AddImage(card.image().string());
  const std::vector<uint8_t> image = test::ReadFileBytes(card.image());
  const uint32_t tableSector = (image[14] | (image[15] << 8)) + sector;
  engine.sources.MarkUnreadable(engine.context.drives().Find(letter)->source.path, {tableSector});

  TFrmFATScan driver(engine.context);
  driver.DestFolder = (card.dir() / "dest").string();
  fs::create_directories(driver.DestFolder);
  driver.ScanDrive(letter, true, false, false);
  for (const auto& [name, bytes] : files) EXPECT_EQ(test::ReadFileBytes(fs::path(driver.DestFolder) / name), bytes) << name;
  ASSERT_EQ(driver.SaveProblems.Problems().size(), 2u);
  for (const FileProblem& p : driver.SaveProblems.Problems()) {
    EXPECT_EQ(p.kind, FileProblem::Kind::Damaged) << p.file;
    EXPECT_EQ(p.reason.rfind("allocation table sector " + std::to_string(tableSector) + " could not be read: clusters after ", 0), 0u) << p.reason;
  }
}

INSTANTIATE_TEST_SUITE_P(Fat16And32, UnreadableTableSector, ::testing::Values(std::pair{16, 8192}, std::pair{32, 40000}));

}  // namespace
}  // namespace kestrella
