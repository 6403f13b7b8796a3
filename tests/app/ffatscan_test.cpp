// The scan driver as the service of the searches: progress timing and events,
// the options it switches on, and the hand-over of found files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "app/ffatscan.h"
#include "devices/device.h"
#include "diskio/enginecontext.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"
#include "fat/fatread_testcard.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Ints = std::vector<int64_t>;
using StartArgs = std::tuple<int64_t, int64_t, int64_t, int32_t>;

class FATScanTest : public ::testing::Test {
 protected:
  FATScanTest() {
    ui.tick = 10000;
    scan.OnStartScanData = [this](int64_t t, int64_t s, int64_t e, int32_t b) {
      started.emplace_back(t, s, e, b);
    };
    scan.OnStartScanClustor = [this](int64_t t, int64_t s, int64_t e, int32_t b) {
      started.emplace_back(t, s, e, b);
    };
    scan.OnScanProgress = [this](int64_t p) { progress.push_back(p); };
  }
  test::TestEngine engine;
  test::ScriptedUi& ui = engine.ui;
  TFrmFATScan scan{engine.context};
  std::vector<StartArgs> started;
  Ints progress;
};

TEST_F(FATScanTest, LostDataSearchCoversTwoPassesAndAReserve) {
  scan.LastUpdateTick = scan.TimeMark = 1234;
  scan.OnStartScanLostData(1000, 2, 1001, 4096);
  EXPECT_EQ(std::tie(scan.Max, scan.Position, scan.Step, scan.Interval),
            std::make_tuple(2020, 0, 1, 500));
  EXPECT_EQ(std::tie(scan.LastUpdateTick, scan.TimeMark), std::make_tuple(0u, 0u));
  EXPECT_TRUE(scan.UpdatePending && scan.MeasureTime);
  scan.OnStartScanLostDataClustor(1000, 2, 1001, 4096);
  EXPECT_EQ(scan.Position, 1000);
  EXPECT_EQ(progress, Ints{1000});
  EXPECT_EQ(started, std::vector<StartArgs>(2, StartArgs(1000, 2, 1001, 4096)));

  for (auto [end, max] : {std::pair{26u, 50}, {76u, 152}, {126u, 252}, {27u, 53}}) {
    scan.OnStartScanLostData(0, 2, end, 512);  // the 1 % rounds halves to even
    EXPECT_EQ(scan.Max, max) << end;
  }
  scan.OnStartScanLostData(0xFFFFFFF0u, 0x80000000u, 0x80000001u, 32768);
  EXPECT_EQ(started.back(), StartArgs(4294967280LL, 2147483648LL, 2147483649LL, 32768));
}

TEST_F(FATScanTest, StepsReportOncePerIntervalAndUserUpdatesFollow) {
  scan.SetProgressRange(100, 3, 500);
  scan.ProgressStepIt();  // nothing reported yet: due
  ui.tick += 100;
  scan.ProgressStepIt();
  ui.tick += 400;  // exactly the interval: not yet
  scan.ProgressStepIt();
  EXPECT_EQ(scan.Position, 9);
  EXPECT_EQ(progress, Ints{3});
  EXPECT_EQ(ui.processCalls, 3u);

  ui.tickStep = 1;  // every look at the clock moves it on
  const uint32_t before = ui.tick;
  EXPECT_TRUE(scan.TimeForUserUpdate());  // the report is still pending
  EXPECT_EQ(ui.tick, before);
  EXPECT_FALSE(scan.TimeForUserUpdate());
  ui.tick = scan.LastUpdateTick + 501;
  EXPECT_TRUE(scan.TimeForUserUpdate());
  EXPECT_FALSE(scan.TimeForUserUpdate());
  ui.tick += 600;
  scan.ProgressStepIt();
  EXPECT_EQ(progress, (Ints{3, 12}));
}

TEST_F(FATScanTest, ElapsedTimeGrowsInSlicesOfOverFiveSeconds) {
  scan.SetStatus("", "", "", "", "", false, true);
  scan.SetProgressRange(1000, 1, 500);
  for (uint32_t t : {1000u, 5000u, 6500u, 13000u}) {  // slices 5.5 s and 6.5 s
    ui.tick = t;
    scan.ProgressStepIt();
  }
  EXPECT_EQ(scan.ElapsedSeconds, 12);
  EXPECT_EQ(scan.TimeMark, 13000u);
  scan.ProgressStopTime();  // the time of a question to the user is left out
  ui.tick = 60000;
  scan.ProgressStepIt();
  EXPECT_EQ(scan.ElapsedSeconds, 12);

  scan.SetStatus("", "", "", "", "", false, false);
  ui.tick = 90000;
  scan.ProgressStepIt();
  EXPECT_EQ(scan.TimeMark, 0u);
  EXPECT_EQ(scan.ElapsedSeconds, 12);
  EXPECT_EQ(progress.size(), 6u);
}

TEST_F(FATScanTest, ATickCountWrapDoesNotFreezeProgress) {
  scan.SetProgressRange(1000, 1, 500);
  scan.MeasureTime = true;
  scan.LastUpdateTick = 0xFFFFFE00u;
  scan.TimeMark = 0xFFFFE000u;
  ui.tick = 0xFFFFFF00u;  // 256 ms later
  scan.ProgressStepIt();
  EXPECT_TRUE(progress.empty());
  ui.tick = 0x100;  // 768 ms later
  scan.ProgressStepIt();
  EXPECT_EQ(progress, Ints{2});
  EXPECT_EQ(scan.ElapsedSeconds, 8);  // 8.448 s
}

TEST_F(FATScanTest, RemainingTimeScalesTheElapsedTime) {
  std::tie(scan.Max, scan.Position, scan.ElapsedSeconds) = std::make_tuple(2020, 1010, 30);
  EXPECT_EQ(scan.ProgressUpdateTime(), 30);
  std::tie(scan.Max, scan.Position, scan.ElapsedSeconds) = std::make_tuple(5, 2, 1);
  EXPECT_EQ(scan.ProgressUpdateTime(), 1);  // 2.5 -> 2
  scan.Max = 7;
  EXPECT_EQ(scan.ProgressUpdateTime(), 3);  // 3.5 -> 4
  scan.Position = 0;
  EXPECT_EQ(scan.ProgressUpdateTime(), 0);
}

TEST_F(FATScanTest, LowerLayersReachTheDriverThroughTheHost) {
  // The searches are handed the driver as their host, and the drives its
  // list takes report to it.
  ASSERT_NE(scan.DeviceList, nullptr);
  ASSERT_NE(scan.DriveListItems, nullptr);
  EXPECT_EQ(scan.DriveListItems->Host(), &scan);
  EXPECT_EQ(&scan.Context(), &engine.context);
  ScanHost& host = scan;
  EXPECT_EQ(host.DriveList(), scan.DriveListItems.get());
  Ints clusters;
  scan.OnScanClustorProgress = [&](int64_t c) { clusters.push_back(c); };
  host.UpdateCurrentClustorProgress(0x123456789LL);
  EXPECT_EQ(clusters, Ints{0x123456789LL});
  EXPECT_FALSE(host.StopRequested());
  scan.StopScan();
  EXPECT_TRUE(host.StopRequested());
}

TEST(FATScanLifetime, SwitchesOptionsOnAndEachDriverHostsOnlyItsOwnLists) {
  test::TestEngine engine;
  EngineOptions& o = engine.context.options;
  LegacyDiskSwitches& legacy = o.legacy;
  legacy.optUseINT25 = legacy.OptUseINT13 = legacy.OptUseINT13EXT = o.optCacheEnabled = false;
  auto first = std::make_unique<TFrmFATScan>(engine.context);
  EXPECT_TRUE(legacy.optUseINT25 && legacy.OptUseINT13 && legacy.OptUseINT13EXT &&
              o.optCacheEnabled);
  EXPECT_TRUE(first->SkipOption);
  // A second driver on the same engine takes nothing from the first, and
  // the first going away leaves the second's lists answering to it.
  auto second = std::make_unique<TFrmFATScan>(engine.context);
  EXPECT_EQ(first->DriveListItems->Host(), first.get());
  EXPECT_EQ(second->DriveListItems->Host(), second.get());
  first.reset();
  EXPECT_EQ(second->DriveListItems->Host(), second.get());
  EXPECT_EQ(static_cast<ScanHost&>(*second).DriveList(), second->DriveListItems.get());
  second.reset();
  // Options are the engine's and outlive the drivers.
  EXPECT_TRUE(o.optCacheEnabled);
}

// Output files that fail in a way no file system does: creating the file of
// one chosen name throws.
class ThrowingFiles : public OutputFiles {
 public:
  int Open(const std::string& path, int flags, mode_t mode) override {
    if (fs::path(path).filename() == throwOn) throw std::runtime_error("card removed");
    return OutputFiles::Open(path, flags, mode);
  }
  std::string throwOn;
};

// Found files handed over from a real card: every content a test uses is a
// one-byte file on it, and a found file of any name can be made over it.
class HandOverTest : public ::testing::Test {
 protected:
  static constexpr uint8_t kContents[] = {9, 0xA1, 0xB2, 0xC3, 0x66, 0x77, 0x88};

  void SetUp() override {
    for (uint8_t c : kContents) {
      const std::string name = "D" + std::to_string(c) + ".BIN";
      test::WriteFileBytes(hostFiles / name, {c});
      card.Copy(hostFiles / name, name);
    }
    for (uint8_t c : kContents) {
      const std::vector<uint32_t> chain = card.Chain("D" + std::to_string(c) + ".BIN");
      ASSERT_EQ(chain.size(), 1u);
      cluster[c] = chain[0];
    }
    card.Mount();
    card.drive().SetUseFAT(2);
    scan.DestFolder = dest.path().string();
    scan.OnFoundImage = [this](const std::string& p, const FoundOrigin&) { found.push_back(p); };
  }
  // Hands over a found file of `name` holding `content`.
  void Add(const std::string& name, uint8_t content) { Add(*card.File(name, cluster.at(content), 1)); }
  void Add(TFATFile& file) {
    const size_t before = Listing().size();
    scan.AddRecoverFile(file);
    EXPECT_EQ(file.HandedOver, 1) << file.Name;
    saves += static_cast<int>(Listing().size() - before);
  }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dest.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string At(const std::string& name) const { return (dest / name).string(); }
  // Links `from` to `to` in the second copy of the card's table only.
  void PokeSecondTable(uint32_t from, uint16_t to) {
    Bytes all = test::ReadFileBytes(card.image());
    const uint32_t reserved = all[14] | (all[15] << 8);
    const uint32_t perFat = all[22] | (all[23] << 8);
    const size_t at = static_cast<size_t>(reserved + perFat) * 512 + from * 2;
    all[at] = static_cast<uint8_t>(to & 0xFF);
    all[at + 1] = static_cast<uint8_t>(to >> 8);
    test::WriteFileBytes(card.image(), all);
  }

  test::FatCard card{16, 8192, 2};
  test::TempDir hostFiles, dest;
  std::map<uint8_t, uint32_t> cluster;  // content -> the cluster holding it
  test::ScriptedUi ui;
  ThrowingFiles files;
  EngineContext context{ui, nullptr, &files};
  TFrmFATScan scan{context};
  std::vector<std::string> found;
  int saves = 0;
};

TEST_F(HandOverTest, OnlyRecoverableKindsAreSavedAndReported) {
  for (const char* name : {"cluster 77.MP3", "x.zip", "JPG", "photo.jpg.txt", "y.jpgx"}) {
    Add(name, 9);
  }
  EXPECT_EQ(saves, 0);
  EXPECT_TRUE(found.empty());
  for (const char* ext : {".jpg", ".JPEG", ".crw", ".bmp", ".gif", ".png", ".wav", ".avi", ".riff",
                          ".mov", ".nef", ".mrw", ".dcr", ".raf", ".tif", ".Tiff", ".pcx"}) {
    Add(std::string("a") + ext, 9);
  }
  EXPECT_EQ(saves, 17);
  ASSERT_EQ(found.size(), 17u);
  EXPECT_EQ(found.front(), At("a.jpg"));
  EXPECT_EQ(test::ReadFileBytes(dest / "a.jpg"), Bytes{9});
  EXPECT_EQ(Listing().size(), 17u);  // nothing left behind but the files
}

TEST_F(HandOverTest, SameNameFromAnotherCameraFolderIsKeptBesideTheFirst) {
  Add("IMG_0001.JPG", 0xA1);
  Add("IMG_0001.JPG", 0xB2);
  Add("IMG_0001.JPG", 0xC3);
  EXPECT_EQ(test::ReadFileBytes(dest / "IMG_0001.JPG"), Bytes{0xA1});
  EXPECT_EQ(test::ReadFileBytes(dest / "IMG_0001 (2).JPG"), Bytes{0xB2});
  EXPECT_EQ(test::ReadFileBytes(dest / "IMG_0001 (3).JPG"), Bytes{0xC3});
  EXPECT_EQ(found, (std::vector<std::string>{At("IMG_0001.JPG"), At("IMG_0001 (2).JPG"),
                                             At("IMG_0001 (3).JPG")}));
  // Nobody was asked about replacing: not the scan's user, not the card's.
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_TRUE(card.engine().ui.shown.empty());
}

TEST_F(HandOverTest, NoFileSavedNothingReported) {
  test::WriteFileBytes(dest / "IMG_0002.JPG", {0x55});  // from an earlier run
  // Data that cannot be read: its cluster lies past the end of the volume.
  const auto unreadable = card.File("IMG_0002.JPG", 0xFFF0, 1);
  Add(*unreadable);
  files.throwOn = "IMG_0003.JPG";
  Add("IMG_0003.JPG", 0x77);
  EXPECT_EQ(saves, 0);
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(scan.SaveProblems.Problems().size(), 2u);
  // The next file still goes through, read along the table copy the drive
  // was told to use: its second cluster is linked in the second copy only
  // (the first ends the chain, the next cluster on the card holds another
  // file).
  const uint32_t first = cluster.at(9), second = cluster.at(0x88);
  ASSERT_NE(second, first + 1);
  PokeSecondTable(first, static_cast<uint16_t>(second));
  card.Mount();
  card.drive().SetUseFAT(2);
  const uint32_t clusterBytes = card.drive().BytesPerCluster();
  const auto twoClusters = card.File("IMG_0004.JPG", first, clusterBytes + 1);
  Add(*twoClusters);
  EXPECT_EQ(found, std::vector<std::string>{At("IMG_0004.JPG")});
  EXPECT_EQ(test::ReadFileBytes(dest / "IMG_0004.JPG"),
            card.ClusterBytes({first, second}, clusterBytes + 1));
  EXPECT_EQ(test::ReadFileBytes(dest / "IMG_0002.JPG"), Bytes{0x55});
  EXPECT_EQ(Listing(), (std::vector<std::string>{"IMG_0002.JPG", "IMG_0004.JPG"}));
}

}  // namespace
}  // namespace kestrella
