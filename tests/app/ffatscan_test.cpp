// The scan driver as the service of the searches: progress timing and events,
// the options it switches on, and the hand-over of found files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "app/ffatscan.h"
#include "devices/device.h"
#include "diskio/diskutils.h"
#include "diskio/ldiskio.h"
#include "diskio/pdiskio.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Ints = std::vector<int64_t>;
using StartArgs = std::tuple<int64_t, int64_t, int64_t, int32_t>;

class FATScanTest : public ::testing::Test {
 protected:
  FATScanTest() : scope_(ui) {
    ui.tick = 10000;
    scan.OnStartScanData = [this](int64_t t, int64_t s, int64_t e, int32_t b) {
      started.emplace_back(t, s, e, b);
    };
    scan.OnStartScanClustor = [this](int64_t t, int64_t s, int64_t e, int32_t b) {
      started.emplace_back(t, s, e, b);
    };
    scan.OnScanProgress = [this](int64_t p) { progress.push_back(p); };
  }
  test::ScriptedUi ui;
  test::UiScope scope_;
  TFrmFATScan scan;
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
  ASSERT_EQ(&Host(), &scan);
  ASSERT_NE(scan.DeviceList, nullptr);
  EXPECT_EQ(Host().DriveList(), scan.DriveListItems.get());
  EXPECT_NE(Host().DriveList(), nullptr);
  Ints clusters;
  scan.OnScanClustorProgress = [&](int64_t c) { clusters.push_back(c); };
  Host().UpdateCurrentClustorProgress(0x123456789LL);
  EXPECT_EQ(clusters, Ints{0x123456789LL});
  EXPECT_FALSE(Host().StopRequested());
  scan.StopScan();
  EXPECT_TRUE(Host().StopRequested());
}

TEST(FATScanLifetime, SwitchesOptionsOnAndLeavesOnlyItsOwnHostPlace) {
  diskutils::Module().optUseINT25 = ldiskio::Module().optUseINT25 = false;
  pdiskio::OptUseINT13 = pdiskio::OptUseINT13EXT = optCacheEnabled = false;
  ScanHost* quiet = &Host();
  auto first = std::make_unique<TFrmFATScan>();
  EXPECT_TRUE(diskutils::Module().optUseINT25 && ldiskio::Module().optUseINT25);
  EXPECT_TRUE(pdiskio::OptUseINT13 && pdiskio::OptUseINT13EXT && optCacheEnabled);
  EXPECT_TRUE(first->SkipOption);
  auto second = std::make_unique<TFrmFATScan>();
  first.reset();
  EXPECT_EQ(&Host(), second.get());
  second.reset();
  EXPECT_EQ(&Host(), quiet);
}

// A found file whose data is known bytes instead of clusters of a volume.
class FakeFile : public TFATFile {
 public:
  FakeFile(const std::string& name, Bytes data, TFATdrive* drive) : data_(std::move(data)) {
    Name = Utf8Name = name;
    Drive = drive;
  }
  bool SaveTo(const fs::path& folder, uint8_t useFAT) override {
    ++saves;
    usedFAT = useFAT;
    if (throws) throw std::runtime_error("card removed");
    if (writes) test::WriteFileBytes(folder / OutputName(), data_);
    return writes;
  }
  int saves = 0, usedFAT = -1;
  bool writes = true, throws = false;

 private:
  Bytes data_;
};

class HandOverTest : public ::testing::Test {
 protected:
  HandOverTest() : scope_(ui) {
    drive.UseFAT = 2;
    scan.DestFolder = dest.path().string();
    scan.OnFoundImage = [this](const std::string& p) { found.push_back(p); };
  }
  void Add(const std::string& name, Bytes data, bool writes = true, bool throws = false) {
    FakeFile file(name, std::move(data), &drive);
    file.writes = writes;
    file.throws = throws;
    scan.AddRecoverFile(file);
    EXPECT_EQ(file.HandedOver, 1) << name;
    saves += file.saves;
    if (file.saves > 0) {
      EXPECT_EQ(file.usedFAT, 2) << name;
    }
  }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dest.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string At(const std::string& name) const { return (dest / name).string(); }

  test::ScriptedUi ui;
  test::UiScope scope_;
  test::TempDir dest;
  TFATdrive drive;
  TFrmFATScan scan;
  std::vector<std::string> found;
  int saves = 0;
};

TEST_F(HandOverTest, OnlyRecoverableKindsAreSavedAndReported) {
  for (const char* name : {"cluster 77.MP3", "x.zip", "JPG", "photo.jpg.txt", "y.jpgx"}) {
    Add(name, {9});
  }
  EXPECT_EQ(saves, 0);
  EXPECT_TRUE(found.empty());
  for (const char* ext : {".jpg", ".JPEG", ".crw", ".bmp", ".gif", ".png", ".wav", ".avi", ".riff",
                          ".mov", ".nef", ".mrw", ".dcr", ".raf", ".tif", ".Tiff", ".pcx"}) {
    Add(std::string("a") + ext, {9});
  }
  EXPECT_EQ(saves, 17);
  EXPECT_EQ(found.size(), 17u);
  EXPECT_EQ(found.front(), At("a.jpg"));
  EXPECT_EQ(test::ReadFileBytes(dest / "a.jpg"), Bytes{9});
  EXPECT_EQ(Listing().size(), 17u);  // nothing left behind but the files
}

TEST_F(HandOverTest, SameNameFromAnotherCameraFolderIsKeptBesideTheFirst) {
  Add("IMG_0001.JPG", {0xA1});
  Add("IMG_0001.JPG", {0xB2});
  Add("IMG_0001.JPG", {0xC3});
  EXPECT_EQ(test::ReadFileBytes(dest / "IMG_0001.JPG"), Bytes{0xA1});
  EXPECT_EQ(test::ReadFileBytes(dest / "IMG_0001 (2).JPG"), Bytes{0xB2});
  EXPECT_EQ(test::ReadFileBytes(dest / "IMG_0001 (3).JPG"), Bytes{0xC3});
  EXPECT_EQ(found, (std::vector<std::string>{At("IMG_0001.JPG"), At("IMG_0001 (2).JPG"),
                                             At("IMG_0001 (3).JPG")}));
  EXPECT_TRUE(ui.shown.empty());  // nobody was asked about replacing
}

TEST_F(HandOverTest, NoFileSavedNothingReported) {
  test::WriteFileBytes(dest / "IMG_0002.JPG", {0x55});  // from an earlier run
  Add("IMG_0002.JPG", {0x66}, /*writes=*/false);
  Add("IMG_0003.JPG", {0x77}, /*writes=*/true, /*throws=*/true);
  EXPECT_EQ(saves, 2);
  EXPECT_TRUE(found.empty());
  Add("IMG_0004.JPG", {0x88});  // the next file still goes through
  EXPECT_EQ(found, std::vector<std::string>{At("IMG_0004.JPG")});
  EXPECT_EQ(test::ReadFileBytes(dest / "IMG_0002.JPG"), Bytes{0x55});
  EXPECT_EQ(Listing(), (std::vector<std::string>{"IMG_0002.JPG", "IMG_0004.JPG"}));
}

}  // namespace
}  // namespace kestrella
