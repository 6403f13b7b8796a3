// The device list: display texts, devices for FAT drive letters, and the
// detection of every disk and FAT drive.
#include <gtest/gtest.h>

#include <algorithm>

#include "devices/devicelist.h"
#include "devices/scanhost.h"
#include "devices/stampedimages.h"

namespace kestrella::test {
namespace {

// Remembers the status lines it is given and counts pending-event calls.
class RecordingHost : public ScanHost {
 public:
  bool StopRequested() const override { return false; }
  void ProcessMessages() override { ++processCalls; }
  void SetStatus(const std::string& l1, const std::string& l2, const std::string& l3,
                 const std::string&, const std::string&, bool, bool) override {
    titles.push_back(l1 + "|" + l2 + "|" + l3);
  }
  void UpdateStatus(const std::string& l1, const std::string& l2, const std::string& l3,
                    const std::string&, const std::string&) override {
    lines.push_back(l2);
    ASSERT_EQ(l1, "Scanning drives");
    ASSERT_EQ(l3, "Please wait...");
  }
  void ProgressStepIt() override {}
  bool TimeForUserUpdate() override { return false; }
  void ProgressStopTime() override {}
  void UpdateCurrentClustorProgress(int64_t) override {}
  void OnStartScanLostData(uint32_t, uint32_t, uint32_t, uint32_t) override {}
  void OnStartScanLostDataClustor(uint32_t, uint32_t, uint32_t, uint32_t) override {}
  void SetProgressRange(int32_t, int32_t, int32_t) override {}
  TDriveList* DriveList() override { return nullptr; }
  void SetTotals(int32_t, int32_t) override {}
  void AddRecoverFile(TFATFile&) override {}

  std::vector<std::string> titles, lines;
  int processCalls = 0;
};

class HostScope {
 public:
  explicit HostScope(ScanHost& h) { SetHost(&h); }
  ~HostScope() { SetHost(nullptr); }
};

class DeviceListTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    clock_.tickStep = 100;  // every line size measurement ends at once
  }

  // A real FAT file system of 8 MiB (16384 sectors), registered as a drive.
  uint8_t AddFatImage(const std::string& name) {
    const CommandResult made = test::Run("mkfs.fat -C " + Quote((dir_ / name).string()) + " 8192");
    EXPECT_EQ(made.exitCode, 0) << made.output;
    return Register(name);
  }

  TDevice& Add(TDeviceList& list, uint8_t kind, uint8_t mediaType, uint8_t drive, uint32_t total) {
    list.DeviceItems.push_back(std::make_unique<TDevice>());
    TDevice& d = *list.DeviceItems.back();
    d.Kind = kind;
    d.MediaType = mediaType;
    d.DriveNumber = drive;
    d.TotalSectors = total;
    d.BytesPerSector = kSector;
    return d;
  }

  ScriptedUi clock_;
  UiScope uiScope_{clock_};
};

TEST_F(DeviceListTest, DeviceTexts) {
  TDeviceList list;
  Add(list, kDevicePhysical, 1, 0, 2880);
  Add(list, kDevicePhysical, 2, 0x80, 125440);
  Add(list, kDevicePhysical, 3, 0x81, 2048000);
  Add(list, kDevicePhysical, 5, 0x82, 2047999);
  Add(list, kDevicePhysical, 4, 0x83, 0);
  Add(list, kDeviceLogical, 2, 5, 4096000);
  Add(list, 3, 2, 6, 4096000);

  EXPECT_EQ(list.GetDeviceText(0, false), "floppy disk #1");
  EXPECT_EQ(list.GetDeviceText(0, true), "floppy disk #1   (1.41 MB)");
  EXPECT_EQ(list.GetDeviceText(1, true), "removable disk #2   (61.25 MB)");
  EXPECT_EQ(list.GetDeviceText(2, true), "fixed disk #3   (0.98 GB)");  // 1000 MB
  EXPECT_EQ(list.GetDeviceText(3, true), "CD-ROM #4   (1000.00 MB)");   // just below
  EXPECT_EQ(list.GetDeviceText(4, true), "unknown disk #5   (0.00 MB)");
  EXPECT_EQ(list.GetDeviceText(5, true), "Windows drive E:   (1.95 GB)");
  EXPECT_EQ(list.GetDeviceText(5, false), "Windows drive E:");
  EXPECT_EQ(list.GetDeviceText(6, true), "");
}

TEST_F(DeviceListTest, IndexOfClearAndFreedLines) {
  const uint8_t drive = AddStampedImage("card.img", 3000, 3);
  TDeviceList list;
  TDevice& a = Add(list, kDeviceLogical, 2, drive, 3000);
  TDevice& b = Add(list, kDeviceLogical, 2, drive, 3000);
  TDevice stranger;
  EXPECT_EQ(list.count(), 2);
  EXPECT_EQ(list.IndexOf(&a), 0);
  EXPECT_EQ(list.IndexOf(&b), 1);
  EXPECT_EQ(list.IndexOf(&stranger), -1);
  EXPECT_EQ(list.IndexOf(nullptr), -1);

  b.CacheLineSize = 100;
  b.UseCache(true);
  std::vector<uint8_t> buf(kSector);
  ASSERT_TRUE(b.ReadSec(0, 1, buf.data(), false));
  ASSERT_EQ(sectorcache::Line(0).Owner, &b);
  list.clear();
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(sectorcache::Line(0).Owner, nullptr);
}

TEST_F(DeviceListTest, OnlyReadableFatDrivesHoldFat) {
  const uint8_t fat = AddFatImage("fat.img");
  const uint8_t plain = AddStampedImage("plain.img", 3000, 1);
  const uint8_t broken = AddFatImage("broken.img");
  MarkUnreadable(broken, {0});
  EXPECT_TRUE(DriveHoldsFat(fat));
  EXPECT_FALSE(DriveHoldsFat(plain));
  EXPECT_FALSE(DriveHoldsFat(broken));
  EXPECT_FALSE(DriveHoldsFat(26));  // no such drive
}

TEST_F(DeviceListTest, WindowsDriveOnlyForFatAndNewOnEveryCall) {
  const uint8_t plain = AddStampedImage("plain.img", 3000, 1);
  const uint8_t fat = AddFatImage("fat.img");
  TDeviceList list;
  EXPECT_EQ(list.GetWindowsDrive(plain), nullptr);
  EXPECT_EQ(list.GetWindowsDrive(25), nullptr);
  EXPECT_EQ(list.count(), 0);

  const uint64_t before = clock_.processCalls;
  TDevice* d = list.GetWindowsDrive(fat);
  ASSERT_NE(d, nullptr);
  EXPECT_GT(clock_.processCalls, before);
  EXPECT_EQ(d->Kind, kDeviceLogical);
  EXPECT_EQ(d->DriveNumber, fat);
  EXPECT_EQ(d->TotalSectors, 16384u);
  EXPECT_EQ(d->BytesPerSector, 512u);
  EXPECT_EQ(d->MediaType, 2);  // an image counts as a removable drive
  EXPECT_EQ(d->Removable, 1);
  EXPECT_EQ(d->Partitioned, 0);
  EXPECT_EQ(d->Name, "");
  EXPECT_EQ(d->CacheLineSize, 1u);  // the scripted clock allows no read
  EXPECT_FALSE(d->CacheActive);

  TDevice* again = list.GetWindowsDrive(fat);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, d);
  EXPECT_EQ(list.count(), 2);
  EXPECT_EQ(list.IndexOf(again), 1);
}

TEST_F(DeviceListTest, DetectDevicesListsDisksAndFatDrives) {
  const uint8_t fat = AddFatImage("fat.img");
  const uint8_t plain = AddStampedImage("plain.img", 3000, 1);
  ASSERT_EQ(fat, 4);  // D:
  ASSERT_EQ(plain, 5);
  RecordingHost host;
  HostScope scope(host);
  TDeviceList list;
  list.DetectDevices();

  // Both images are whole disks (80h and 81h); only the FAT one is a drive.
  ASSERT_EQ(list.count(), 3);
  const TDevice& disk1 = *list.GetDevice(0);
  EXPECT_EQ(disk1.Kind, kDevicePhysical);
  EXPECT_EQ(disk1.DriveNumber, 0x80);
  EXPECT_EQ(disk1.TotalSectors, 16384u);
  EXPECT_EQ(disk1.BytesPerSector, 512u);
  EXPECT_EQ(disk1.Partitioned, 1);
  EXPECT_EQ(disk1.MediaType, 2);
  EXPECT_EQ(disk1.Removable, 1);
  EXPECT_EQ(disk1.CacheLineSize, 1u);
  EXPECT_EQ(disk1.Name, "removable disk #1   (8.00 MB)");
  const TDevice& disk2 = *list.GetDevice(1);
  EXPECT_EQ(disk2.DriveNumber, 0x81);
  EXPECT_EQ(disk2.TotalSectors, 3000u);
  EXPECT_EQ(disk2.CacheLineSize, 1u);
  EXPECT_EQ(disk2.Name, "removable disk #2   (1.46 MB)");
  const TDevice& drive = *list.GetDevice(2);
  EXPECT_EQ(drive.Kind, kDeviceLogical);
  EXPECT_EQ(drive.DriveNumber, fat);
  EXPECT_EQ(drive.Partitioned, 0);
  EXPECT_EQ(drive.MediaType, 2);
  EXPECT_EQ(drive.CacheLineSize, 1u);
  EXPECT_EQ(drive.Name, "Windows drive D:   (8.00 MB)");

  ASSERT_EQ(host.titles.size(), 1u);
  EXPECT_EQ(host.titles[0], "Scanning drives||Please wait...");
  ASSERT_EQ(host.lines.size(), 256u + 2u);
  EXPECT_EQ(host.lines[0], "Checking BIOS drive 0");
  EXPECT_EQ(host.lines[128], "Checking BIOS drive 128");
  EXPECT_EQ(host.lines[255], "Checking BIOS drive 255");
  EXPECT_EQ(host.lines[256], "Checking Windows drive D:\\");
  EXPECT_EQ(host.lines[257], "Checking Windows drive E:\\");
  EXPECT_EQ(host.processCalls, 258);
}

}  // namespace
}  // namespace kestrella::test
