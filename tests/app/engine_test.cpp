// The engine as the front ends use it: engines that share nothing, one mount
// of the card per Start, and file reads that go a run of clusters at a time.
#include <gtest/gtest.h>

#include <random>

#include "app/analysis.h"
#include "app/mountedcard.h"
#include "app/recoveryrun.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;

// Bytes that pass for a photo by name; their content only has to come back.
std::vector<uint8_t> PhotoBytes(size_t size, unsigned seed) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 random(seed);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  bytes[0] = 0xFF, bytes[1] = 0xD8, bytes[2] = 0xFF, bytes[3] = 0xE1;
  return bytes;
}

// An 8 MB FAT16 card holding `photos` (name, bytes); those named in
// `deleted` are deleted afterwards.
fs::path MakeCard(const fs::path& dir, const std::string& name,
                  const std::vector<std::pair<std::string, std::vector<uint8_t>>>& photos,
                  const std::vector<std::string>& deleted) {
  const fs::path card = dir / name;
  EXPECT_EQ(test::Run("mkfs.fat -C -F 16 -s 1 " + test::Quote(card) + " 8192").exitCode, 0);
  for (const auto& [file, bytes] : photos) {
    test::WriteFileBytes(dir / file, bytes);
    EXPECT_EQ(test::Run("MTOOLS_SKIP_CHECK=1 mcopy -i " + test::Quote(card) + " " +
                        test::Quote(dir / file) + " ::" + file).exitCode, 0);
  }
  for (const std::string& file : deleted)
    EXPECT_EQ(test::Run("MTOOLS_SKIP_CHECK=1 mdel -i " + test::Quote(card) + " ::" + file).exitCode, 0);
  return card;
}

TEST(EngineTest, TwoEnginesRecoverTwoCardsSideBySide) {
  test::TempDir dir;
  const auto a = PhotoBytes(40000, 1), b = PhotoBytes(70000, 2);
  const fs::path cardA = MakeCard(dir.path(), "a.img", {{"A.JPG", a}}, {"A.JPG"});
  const fs::path cardB = MakeCard(dir.path(), "b.img", {{"B1.JPG", b}, {"B2.JPG", a}}, {"B1.JPG"});

  test::TestEngine one, two;
  one.ui.temp = dir / "t1";
  two.ui.temp = dir / "t2";
  fs::create_directories(one.ui.temp);
  fs::create_directories(two.ui.temp);
  // Each engine has a drive table of its own: both cards get the same letter.
  const uint8_t driveA = one.context.drives().AddImage(cardA.string());
  const uint8_t driveB = two.context.drives().AddImage(cardB.string());
  EXPECT_EQ(driveA, driveB);

  TFrmFATScan driverA(one.context), driverB(two.context);
  RawScan scanA(one.context), scanB(two.context);
  // The counts of one run between the other's analysis and its route.
  const TRouteProposal pa = AnalyzeDrive(driverA, driveA);
  const TRouteProposal pb = AnalyzeDrive(driverB, driveB);
  EXPECT_EQ(pa.Files, 1);
  EXPECT_EQ(pb.Files, 1);
  FoundFileList foundA(one.context.files()), foundB(two.context.files());
  TRecoveryRun runB(driverB, scanB, foundB);
  runB.Run({true, true, false}, RawScanSettings{driveB});
  TRecoveryRun runA(driverA, scanA, foundA);
  runA.Run({true, true, false}, RawScanSettings{driveA});

  ASSERT_EQ(runA.Found().ImageCount(), 1u);
  ASSERT_EQ(runB.Found().ImageCount(), 1u);
  EXPECT_EQ(test::ReadFileBytes(runA.Found().Image(1).path), a);
  EXPECT_EQ(test::ReadFileBytes(runB.Found().Image(1).path), b);
  // Each in its run's own folder inside its engine's temporary folder.
  EXPECT_EQ(fs::path(runA.Found().Image(1).path).parent_path().parent_path(), one.ui.temp);
  EXPECT_EQ(fs::path(runB.Found().Image(1).path).parent_path().parent_path(), two.ui.temp);
}

TEST(EngineTest, AStartMountsTheCardOnceAndLetsGoOfItAtTheEnd) {
  test::TempDir dir;
  const fs::path card =
      MakeCard(dir.path(), "card.img", {{"P1.JPG", PhotoBytes(30000, 3)}, {"P2.JPG", PhotoBytes(50000, 4)}},
               {"P1.JPG", "P2.JPG"});
  test::TestEngine engine;
  engine.ui.temp = dir / "tmp";
  fs::create_directories(engine.ui.temp);
  const uint8_t drive = engine.context.drives().AddImage(card.string());
  engine.sources.Watch(card.string());

  TFrmFATScan driver(engine.context);
  RawScan scan(engine.context);
  const TRouteProposal p = AnalyzeDrive(driver, drive);
  ASSERT_TRUE(p.FolderMethod);
  FoundFileList found(engine.context.files());
  TRecoveryRun run(driver, scan, found);
  run.Run({true, true, true}, RawScanSettings{drive});

  EXPECT_EQ(run.Found().ImageCount(), 2u);
  // Both counts, the deleted files and the lost-cluster hunt read one mount.
  EXPECT_EQ(engine.sources.Get(card.string()).opensForRead, 1u);
  EXPECT_EQ(driver.DeviceList->count(), 0);
  EXPECT_EQ(driver.Drive, nullptr);
}

TEST(EngineTest, SavingAOneMegabytePhotoReadsTheCardInClusterRuns) {
  test::TempDir dir;
  const auto photo = PhotoBytes(1 << 20, 5);
  const fs::path card = MakeCard(dir.path(), "card.img", {{"BIG.JPG", photo}}, {});
  test::ScriptedUi ui;
  test::FaultySources sources;
  sources.Watch(card.string());
  Engine engine(ui, &sources);
  MountedCard mounted(engine, OpenSource(engine, card.string()));
  engine.Context().options.optCacheEnabled = false;  // every read reaches the card
  fs::create_directories(dir / "out");

  const uint64_t before = sources.Get(card.string()).reads;
  const TreeSave saved = mounted.SaveTree(dir / "out", false, true);
  ASSERT_TRUE(saved.completed);
  EXPECT_TRUE(saved.problems.Clean());
  EXPECT_EQ(test::ReadFileBytes(dir / "out" / "Root" / "BIG.JPG"), photo);
  // 2,048 sectors of data in one run of clusters arrive in one read, with
  // one or two for the folder and the table: not one per sector, nor one
  // per 64 KiB.
  const uint64_t reads = sources.Get(card.string()).reads - before;
  EXPECT_GE(reads, 1u);
  EXPECT_LE(reads, 4u);
}

}  // namespace
}  // namespace kestrella
