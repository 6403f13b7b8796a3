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
    if (!test::CorpusAvailable()) GTEST_SKIP() << "corpus not found";
    engine_.ui.temp = dir_ / "tmp";
    fs::create_directories(engine_.ui.temp);
    const fs::path card = dir_ / "card.img";
    ASSERT_EQ(test::Run("mkfs.fat -C -F 16 " + test::Quote(card) + " 16384").exitCode, 0);
    const auto photos = test::CorpusPhotos();
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
    driver_.OnFoundImage = [this](const std::string& path) {
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

// Two files saved through the route whose chains both cross a table sector
// that cannot be read: the one leaves its first clusters' sector for it, the
// other starts in it and leaves it for the next. Both are written in one
// piece, so reading on cluster after cluster is the right guess, and each
// is saved whole, yet reported Damaged for the guess.
struct UnreadableTableCase {
  int fatBits;
  int kib;
  uint32_t entriesPerSector;
};

class UnreadableTableSector : public ::testing::TestWithParam<UnreadableTableCase> {};

TEST_P(UnreadableTableSector, ChainsGoOnConsecutivelyAndTheFilesAreReportedDamaged) {
  const UnreadableTableCase c = GetParam();
  test::FatCard card(c.fatBits, c.kib, 1);
  // Each file takes one and a half table sectors' worth of clusters.
  const size_t size = c.entriesPerSector * 512 * 3 / 2;
  std::map<std::string, std::vector<uint8_t>> files;
  for (const char* name : {"A.JPG", "B.JPG"}) {
    std::vector<uint8_t>& bytes = files[name];
    for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>((i * 131 + name[0]) >> 3));
    test::WriteFileBytes(card.dir() / name, bytes);
    card.Copy(card.dir() / name, name);
  }
  const std::vector<uint32_t> a = card.Chain("A.JPG"), b = card.Chain("B.JPG");
  const uint32_t sector = b.front() / c.entriesPerSector;  // of the table
  ASSERT_LT(a.front() / c.entriesPerSector, sector);
  ASSERT_EQ(a.back() / c.entriesPerSector, sector);
  ASSERT_GT(b.back() / c.entriesPerSector, sector);

  test::TestEngine& engine = card.engine();
  engine.ui.temp = card.dir() / "tmp";
  fs::create_directories(engine.ui.temp);
  const uint8_t letter = engine.context.drives().AddImage(card.image().string());
  ASSERT_NE(letter, 0);
  const std::vector<uint8_t> image = test::ReadFileBytes(card.image());
  const uint32_t tableSector = (image[14] | (image[15] << 8)) + sector;
  engine.sources.MarkUnreadable(engine.context.drives().Find(letter)->source.path, {tableSector});

  TFrmFATScan driver(engine.context);
  driver.DestFolder = (card.dir() / "dest").string();
  fs::create_directories(driver.DestFolder);
  driver.ScanDrive(letter, true, false, false);

  for (const auto& [name, bytes] : files)
    EXPECT_EQ(test::ReadFileBytes(fs::path(driver.DestFolder) / name), bytes) << name;
  const auto& problems = driver.SaveProblems.Problems();
  ASSERT_EQ(problems.size(), 2u);
  const std::string reason = "allocation table sector " + std::to_string(tableSector) + " could not be read";
  for (const FileProblem& p : problems) {
    EXPECT_EQ(p.kind, FileProblem::Kind::Damaged) << p.file;
    EXPECT_EQ(p.reason.rfind(reason, 0), 0u) << p.reason;
  }
  EXPECT_NE(problems[0].reason.find("clusters after"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Fat16And32, UnreadableTableSector,
                         ::testing::Values(UnreadableTableCase{16, 8192, 256},
                                           UnreadableTableCase{32, 40000, 128}),
                         [](const auto& info) { return "FAT" + std::to_string(info.param.fatBits); });

}  // namespace
}  // namespace kestrella
