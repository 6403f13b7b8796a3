// Finding the drives of a device: whole cards, partition tables with their
// extended chains, and lost volumes found by their boot sectors. The disks
// are crafted image files holding small mkfs.fat volumes whose labels tell
// which one a drive has read.
#include <gtest/gtest.h>

#include <map>

#include "devices/scanhost.h"
#include "diskio/drivetable.h"
#include "fat/fatdrivelist.h"
#include "fatdir_support.h"

namespace kestrella::test {
namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kVolumeSectors = 2048;  // a 1 MiB FAT12 volume

struct Entry {
  uint8_t type;
  uint32_t first, count;
};

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A disk of `sectors` zero sectors that tests fill with tables and volumes.
class CraftedDisk {
 public:
  CraftedDisk(const fs::path& dir, uint32_t sectors) : dir_(dir), bytes_(size_t{sectors} * kSector) {}

  void Table(uint32_t sector, std::initializer_list<Entry> entries) {
    const size_t base = size_t{sector} * kSector;
    int i = 0;
    for (const Entry& e : entries) {
      const size_t at = base + 446 + 16 * i++;
      bytes_[at + 4] = e.type;
      Put32(bytes_, at + 8, e.first);
      Put32(bytes_, at + 12, e.count);
    }
    bytes_[base + 510] = 0x55;
    bytes_[base + 511] = 0xAA;
  }

  // A FAT12 volume labelled `label` from `sector` on.
  void Volume(uint32_t sector, const std::string& label) {
    const fs::path v = dir_ / ("vol-" + label + ".img");
    ASSERT_TRUE(MakeCard(v, "-F 12 -n " + label, kVolumeSectors / 2));
    Place(sector, ReadFileBytes(v));
  }

  void Place(uint32_t sector, const std::vector<uint8_t>& bytes) {
    ASSERT_LE(size_t{sector} * kSector + bytes.size(), bytes_.size());
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(sector) * kSector);
  }

  fs::path Write(const std::string& name) const {
    WriteFileBytes(dir_ / name, bytes_);
    return dir_ / name;
  }

 private:
  fs::path dir_;
  std::vector<uint8_t> bytes_;
};

// A drive's name as mounting gives it: the 11 bytes of the volume label.
std::string Label(const std::string& text) { return text + std::string(11 - text.size(), ' '); }

// The start, size and label of every drive, in list order (labels without
// their padding).
struct Seen {
  uint32_t boot, start, count;
  std::string name;
  bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Seen& s) {
  return o << "{" << s.boot << ", " << s.start << ", " << s.count << ", \"" << s.name << "\"}";
}
std::vector<Seen> Drives(const TDriveList& list) {
  std::vector<Seen> out;
  for (int i = 0; i < list.count(); ++i) {
    const TCustomDrive* d = list.GetDrive(i);
    std::string name = d->Name;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    out.push_back({d->BootSector, d->StartSector, d->SectorCount, name});
  }
  return out;
}

class DriveListTest : public ::testing::Test {
 protected:

  // The image as a partitioned hard disk, read by its BIOS number.
  void AsDisk(const fs::path& image) {
    ASSERT_NE(engine.context.drives().AddImage(image.string()), 0);
    device.Kind = kDevicePhysical;
    device.DriveNumber = 0x80;
    ASSERT_EQ(engine.context.drives().PhysicalDiskPath(0x80), image.string());
    device.BytesPerSector = kSector;
    device.TotalSectors = static_cast<uint32_t>(fs::file_size(image) / kSector);
    device.Partitioned = 1;
  }

  // The image as a card in a reader, read by its drive letter.
  void AsCard(const fs::path& image) {
    device.Kind = kDeviceLogical;
    device.DriveNumber = engine.context.drives().AddImage(image.string());
    ASSERT_NE(device.DriveNumber, 0);
    device.BytesPerSector = kSector;
    device.TotalSectors = static_cast<uint32_t>(fs::file_size(image) / kSector);
    device.Removable = 1;
    device.Partitioned = 0;
  }

  TempDir dir;
  TestEngine engine;
  ScriptedUi& ui = engine.ui;
  TDevice device{engine.context};
  TDriveList list;
};

// ---- partition tables ------------------------------------------------------

TEST_F(DriveListTest, MasterTableEntryAt63GivesOneMountedDrive) {
  CraftedDisk disk(dir.path(), 4096);
  disk.Table(0, {{0x06, 63, kVolumeSectors}});
  disk.Volume(63, "ALPHA");
  AsDisk(disk.Write("disk.img"));

  DetectPartitions(list, device, 0, 0);
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(Drives(list), (std::vector<Seen>{{63, 63, kVolumeSectors, "ALPHA"}}));
  const TCustomDrive* d = list.GetDrive(0);
  // Mounting adds only its empty-table mark (a fresh volume has no chains).
  EXPECT_EQ(d->StateFlags, kDriveTableEmpty);
  EXPECT_EQ(d->Device, &device);
  EXPECT_NE(d->RootItem, nullptr);  // mounted: the start items exist
}

// Volumes of an extended table are relative to that table; links are
// relative to the first extended partition. The extended entry comes first
// in the master table, yet primaries are listed before the chain.
TEST_F(DriveListTest, ExtendedChainFollowsLinksRelativeToTheFirstExtendedPartition) {
  CraftedDisk disk(dir.path(), 9000);
  disk.Table(0, {{0x05, 1000, 8000}, {0x06, 63, 900}});
  disk.Volume(63, "PRIMARY");
  disk.Table(1000, {{0x01, 63, kVolumeSectors}, {0x05, 5000, 2500}});
  disk.Volume(1063, "FIRST");
  // The second logical table at 6000 links to 1000 + 2500, not 6000 + 2500.
  disk.Table(6000, {{0x0C, 63, kVolumeSectors}, {0x05, 2500, 2200}});
  disk.Volume(6063, "SECOND");
  disk.Table(3500, {{0x04, 63, kVolumeSectors}});
  disk.Volume(3563, "THIRD");
  AsDisk(disk.Write("disk.img"));

  DetectPartitions(list, device, 0, 0);
  EXPECT_EQ(Drives(list), (std::vector<Seen>{{63, 63, 900, "PRIMARY"},
                                             {1063, 1063, kVolumeSectors, "FIRST"},
                                             {6063, 6063, kVolumeSectors, "SECOND"},
                                             {3563, 3563, kVolumeSectors, "THIRD"}}));
}

TEST_F(DriveListTest, OnlyFatTypesBecomeDrivesAndBothExtendedTypesAreFollowed) {
  CraftedDisk disk(dir.path(), 9000);
  // A volume behind type 07h (NTFS and exFAT) stays unlisted even though it
  // holds FAT; a link past the end of the disk ends its branch quietly.
  disk.Table(0, {{0x07, 63, kVolumeSectors}, {0x0C, 2200, kVolumeSectors},
                 {0x0F, 4400, 2500}, {0x05, 90000, 100}});
  disk.Volume(63, "HIDDEN");
  disk.Volume(2200, "LBA32");
  disk.Table(4400, {{0x0E, 63, kVolumeSectors}, {0x0B, 2200, kVolumeSectors}});
  disk.Volume(4463, "LBA16");
  disk.Volume(6600, "FAT32CHS");
  AsDisk(disk.Write("disk.img"));

  DetectPartitions(list, device, 0, 0);
  EXPECT_EQ(Drives(list), (std::vector<Seen>{{2200, 2200, kVolumeSectors, "LBA32"},
                                             {4463, 4463, kVolumeSectors, "LBA16"},
                                             {6600, 6600, kVolumeSectors, "FAT32CHS"}}));
  EXPECT_EQ(ui.shown.size(), 0u) << "a missing table must not be reported";
}

TEST_F(DriveListTest, ChainThatLoopsBackEndsAfterEachTableOnce) {
  CraftedDisk disk(dir.path(), 6000);
  disk.Table(0, {{0x05, 1000, 4000}});
  // 1000 -> 3000 -> 1000 again, and 3000 also names itself.
  disk.Table(1000, {{0x04, 63, kVolumeSectors}, {0x05, 2000, 2000}});
  disk.Volume(1063, "ONE");
  disk.Table(3000, {{0x04, 63, kVolumeSectors}, {0x05, 0, 2000}, {0x0F, 2000, 2000}});
  disk.Volume(3063, "TWO");
  AsDisk(disk.Write("disk.img"));

  DetectPartitions(list, device, 0, 0);
  EXPECT_EQ(Drives(list), (std::vector<Seen>{{1063, 1063, kVolumeSectors, "ONE"},
                                             {3063, 3063, kVolumeSectors, "TWO"}}));
  // A second run reads the tables afresh.
  DetectPartitions(list, device, 0, 0);
  EXPECT_EQ(list.count(), 4);
}

TEST_F(DriveListTest, MasterTableLinkingToItselfEnds) {
  CraftedDisk disk(dir.path(), 3000);
  disk.Table(0, {{0x06, 63, kVolumeSectors}, {0x05, 0, 3000}});
  disk.Volume(63, "SELF");
  AsDisk(disk.Write("disk.img"));
  DetectPartitions(list, device, 0, 0);
  EXPECT_EQ(Drives(list), (std::vector<Seen>{{63, 63, kVolumeSectors, "SELF"}}));
}

// ---- whole devices -----------------------------------------------------------

TEST_F(DriveListTest, CardWithoutTableIsOneDriveOverTheWholeDevice) {
  const fs::path card = dir / "card.img";
  ASSERT_TRUE(MakeCard(card, "-F 12 -n CARD", 1536));
  AsCard(card);
  ASSERT_EQ(device.TotalSectors, 3072u);

  TFATdrive* drive = GetFATDrive(list, device);
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(drive, list.GetDrive(0));
  EXPECT_EQ(Drives(list), (std::vector<Seen>{{0, 0, 3072, "CARD"}}));
  EXPECT_EQ(drive->StateFlags, kDriveTableEmpty);

  DetectDrives(list, device);
  EXPECT_EQ(list.count(), 2);
}

TEST_F(DriveListTest, PartitionedDeviceListsItsPartitionsAndReturnsNone) {
  CraftedDisk disk(dir.path(), 4300);
  disk.Table(0, {{0x06, 63, kVolumeSectors}, {0x01, 2200, kVolumeSectors}});
  disk.Volume(63, "P1");
  disk.Volume(2200, "P2");
  AsDisk(disk.Write("disk.img"));

  EXPECT_EQ(GetFATDrive(list, device), nullptr);
  EXPECT_EQ(Drives(list), (std::vector<Seen>{{63, 63, kVolumeSectors, "P1"},
                                             {2200, 2200, kVolumeSectors, "P2"}}));
}

TEST_F(DriveListTest, UnreadableFirstSectorAddsNothingAndAsksNothingOfARemovableDisk) {
  CraftedDisk disk(dir.path(), 4096);
  disk.Table(0, {{0x06, 63, kVolumeSectors}});
  disk.Volume(63, "REMOVED");
  const fs::path image = disk.Write("disk.img");
  AsDisk(image);
  device.Removable = 1;
  engine.sources.MarkUnreadable(image.string(), {0});

  EXPECT_EQ(GetFATDrive(list, device), nullptr);
  DetectDrives(list, device);
  EXPECT_EQ(list.count(), 0);
  EXPECT_TRUE(ui.shown.empty());
}

TEST_F(DriveListTest, UnreadableMasterTableOfAFixedDiskAsksAboutTheError) {
  CraftedDisk disk(dir.path(), 4096);
  disk.Table(0, {{0x06, 63, kVolumeSectors}});
  disk.Volume(63, "FIXED");
  const fs::path image = disk.Write("disk.img");
  AsDisk(image);
  device.Removable = 0;
  engine.sources.MarkUnreadable(image.string(), {0});
  ui.defaultAnswer = MsgResult::Abort;

  EXPECT_EQ(GetFATDrive(list, device), nullptr);
  EXPECT_EQ(list.count(), 0);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].buttons, MsgButtons::AbortRetryIgnore);
}

// ---- lost drives -------------------------------------------------------------

TEST_F(DriveListTest, VirtualDriveIsMountedSilentlyAndMarkedLost) {
  CraftedDisk disk(dir.path(), 4096);
  disk.Volume(100, "GONE");
  AsDisk(disk.Write("disk.img"));

  TFATdrive* d = AddVirtualDrive(list, device, 100, 100, 0, true);
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(d, list.GetDrive(0));
  EXPECT_EQ(d->Name, Label("GONE") + " (lost)");
  EXPECT_EQ(Drives(list), (std::vector<Seen>{{100, 100, 0, Label("GONE") + " (lost)"}}));
  EXPECT_EQ(d->StateFlags, kDriveFromSearch | kDriveTableEmpty);
  EXPECT_EQ(d->FATType(), kFat12);
}

// A scan driver stand-in: its own drive list, a stop flag raised after a
// number of sectors, and a record of the status lines.
class LostSearchHost : public QuietScanHost {
 public:
  bool StopRequested() const override { return stopAfterChecks >= 0 && checks++ >= stopAfterChecks; }
  TDriveList* DriveList() override { return &drives; }
  bool TimeForUserUpdate() override { return true; }
  void SetStatus(const std::string& l1, const std::string&, const std::string&, const std::string&,
                 const std::string&, bool, bool) override {
    title = l1;
  }
  void UpdateStatus(const std::string& l1, const std::string& l2, const std::string& l3,
                    const std::string&, const std::string&) override {
    updates.push_back(l1 + "|" + l2 + "|" + l3);
    if (watched != nullptr && !watched->CacheActive) ++uncachedUpdates;
  }
  void SetProgressRange(int32_t max, int32_t step, int32_t interval) override {
    range = {max, step, interval};
  }
  void UpdateCurrentClustorProgress(int64_t sector) override { progress.push_back(sector); }

  TDriveList drives;
  int stopAfterChecks = -1;  // -1: never
  mutable int checks = 0;
  std::string title;
  std::vector<std::string> updates;
  std::vector<int32_t> range;
  std::vector<int64_t> progress;  // the sectors the search said it was at
  const TDevice* watched = nullptr;  // whose cache must be on while searching
  int uncachedUpdates = 0;
};

class LostDriveTest : public DriveListTest {
 protected:
  LostSearchHost host;
};

// The volume's own boot sector is where a listed drive starts; its backup
// copy (sector 6 of a FAT32 volume) is not, and becomes a lost drive.
TEST_F(LostDriveTest, BootSectorOfAListedDriveAddsNothingItsBackupIsLost) {
  const fs::path vol = dir / "vol.img";
  ASSERT_TRUE(MakeCard(vol, "-F 32 -s 1 -n BACKED", 34 * 1024));
  CraftedDisk disk(dir.path(), 70000);
  disk.Table(0, {{0x0C, 64, 68 * 1024}});
  disk.Place(64, ReadFileBytes(vol));
  const fs::path image = disk.Write("disk.img");
  AsDisk(image);
  DetectPartitions(host.drives, device, 0, 0);
  ASSERT_EQ(host.drives.count(), 1);
  host.watched = &device;

  EXPECT_EQ(FindLostDrives(host, device, nullptr, 60, 80), 1);
  ASSERT_EQ(host.drives.count(), 2);
  const TCustomDrive* lost = host.drives.GetDrive(1);
  EXPECT_EQ(lost->BootSector, 70u);
  EXPECT_EQ(lost->StartSector, 70u);
  EXPECT_EQ(lost->SectorCount, 0u);
  EXPECT_EQ(lost->StateFlags & kDriveRebuilt, kDriveFromSearch);
  EXPECT_EQ(lost->Name, Label("BACKED") + " (lost)");
  EXPECT_EQ(host.title, "Find logical drives - Please wait...");
  EXPECT_EQ(host.range, (std::vector<int32_t>{21, 1, 500}));
  ASSERT_FALSE(host.updates.empty());
  EXPECT_EQ(host.updates.front(),
            "Find logical drives - Please wait...|Physical sector 60 of 80|Lost drives found: 0");
  EXPECT_EQ(host.updates.back(),
            "Find logical drives - Please wait...|Physical sector 80 of 80|Lost drives found: 1");
  EXPECT_EQ(host.updates.size(), 21u);
  ASSERT_EQ(host.progress.size(), 21u);
  EXPECT_EQ(host.progress.front(), 60);
  EXPECT_EQ(host.progress.back(), 80);
  EXPECT_EQ(host.uncachedUpdates, 0);
  EXPECT_FALSE(device.CacheActive);

  // Found once, a lost drive counts as listed in the next search.
  EXPECT_EQ(FindLostDrives(host, device, nullptr, 60, 80), 0);
  EXPECT_EQ(host.drives.count(), 2);
}

TEST_F(LostDriveTest, RebuiltDriveAtTheSameStartDoesNotHideABootSector) {
  CraftedDisk disk(dir.path(), 4096);
  disk.Volume(200, "AGAIN");
  AsDisk(disk.Write("disk.img"));
  TFATdrive* rebuilt = AddVirtualDrive(host.drives, device, 200, 200, 0, true);
  rebuilt->StateFlags = kDriveRebuilt;

  EXPECT_EQ(FindLostDrives(host, device, nullptr, 195, 205), 1);
  ASSERT_EQ(host.drives.count(), 2);
  EXPECT_EQ(host.drives.GetDrive(1)->StartSector, 200u);
}

TEST_F(LostDriveTest, StopEndsTheSearchAfterTheSectorInHand) {
  CraftedDisk disk(dir.path(), 8192);
  disk.Volume(10, "FIRST");
  disk.Volume(11 + kVolumeSectors, "LATER");
  AsDisk(disk.Write("disk.img"));
  host.stopAfterChecks = 0;  // raised before the first sector is done

  EXPECT_EQ(FindLostDrives(host, device, nullptr, 10, 8000), 1);
  ASSERT_EQ(host.drives.count(), 1);
  EXPECT_EQ(host.drives.GetDrive(0)->StartSector, 10u);
  EXPECT_EQ(host.checks, 1);
  EXPECT_FALSE(device.CacheActive);
}

TEST_F(LostDriveTest, UnreadableSectorEndsTheSearchAndTheCacheIsOff) {
  CraftedDisk disk(dir.path(), 4200);
  disk.Volume(10, "BEFORE");
  disk.Volume(20 + kVolumeSectors, "AFTER");
  const fs::path image = disk.Write("disk.img");
  AsDisk(image);
  device.Removable = 1;
  engine.sources.MarkUnreadable(image.string(), {15});
  ui.defaultAnswer = MsgResult::Abort;

  EXPECT_EQ(FindLostDrives(host, device, nullptr, 5, 4000), 1);
  ASSERT_EQ(host.drives.count(), 1);
  EXPECT_EQ(host.drives.GetDrive(0)->StartSector, 10u);
  EXPECT_EQ(ui.shown.size(), 1u);  // the one Abort, Retry or Ignore
  EXPECT_FALSE(device.CacheActive);
}

}  // namespace
}  // namespace kestrella::test
