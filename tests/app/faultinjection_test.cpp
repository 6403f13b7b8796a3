// Cards with unreadable sectors, end to end: the raw scan, the folder route
// (deleted files and the lost-cluster hunt) and the lost-drive search run on
// a card whose photo, allocation table, directories or boot sector cannot be
// read. Every photo that can still be read must come back byte for byte, the
// damaged one as the engine fills it, the errors must be counted, and the
// card must never be opened for writing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/ffatscan.h"
#include "app/rawscan.h"
#include "devices/device.h"
#include "diskio/drivetable.h"
#include "diskio/enginecontext.h"
#include "fat/fatdrive.h"
#include "fat/fatdrivelist.h"
#include "fat/fatread_testcard.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella::test {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kSector = 512;

Bytes Photo(const std::string& name) { return ReadFileBytes(DataPhoto(name)); }

// The four photos of the card: two deleted from the root, two deleted from
// DCIM. Names differ after their first letter, which deletion destroys.
struct CardPhoto {
  std::string onCard;  // path on the card
  std::string corpus;  // the original
};
const std::vector<CardPhoto> kPhotos = {
    {"PA.JPG", "Nikon_D70.jpg"},
    {"PB.JPG", "Pentax_K10D.jpg"},
    {"DCIM/PC.JPG", "Canon_PowerShot_S40.jpg"},
    {"DCIM/PD.JPG", "Panasonic_DMC-FZ30.jpg"},
};

uint32_t Le16(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8); }

// Where things lie on the card, read from its boot sector and directories.
struct Layout {
  uint32_t fatStart = 0, sectorsPerFat = 0, fatCount = 0;
  uint32_t rootStart = 0, dataStart = 0, sectorsPerCluster = 0;
  uint32_t dcimSector = 0;
  std::map<std::string, uint32_t> photoSector;  // corpus name -> first sector
};

Layout Measure(const fs::path& image) {
  const Bytes img = ReadFileBytes(image);
  Layout l;
  l.fatStart = Le16(img, 14);
  l.fatCount = img[16];
  l.sectorsPerFat = Le16(img, 22);
  l.sectorsPerCluster = img[13];
  l.rootStart = l.fatStart + l.fatCount * l.sectorsPerFat;
  l.dataStart = l.rootStart + (Le16(img, 17) * 32 + kSector - 1) / kSector;
  for (size_t at = size_t{l.rootStart} * kSector; at < size_t{l.dataStart} * kSector; at += 32) {
    if (std::memcmp(&img[at], "DCIM       ", 11) == 0)
      l.dcimSector = l.dataStart + (Le16(img, at + 26) - 2) * l.sectorsPerCluster;
  }
  for (const CardPhoto& p : kPhotos) {
    const Bytes photo = Photo(p.corpus);
    for (size_t s = l.dataStart; (s + 1) * kSector <= img.size(); ++s) {
      if (std::equal(photo.begin(), photo.begin() + kSector, img.begin() + static_cast<long>(s * kSector))) {
        l.photoSector[p.corpus] = static_cast<uint32_t>(s);
        break;
      }
    }
  }
  return l;
}

// Files in `folder` (and below) whose contents begin with `bytes`.
std::vector<fs::path> StartingWith(const fs::path& folder, const Bytes& bytes) {
  std::vector<fs::path> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    const Bytes got = ReadFileBytes(e.path());
    if (got.size() >= bytes.size() && std::equal(bytes.begin(), bytes.end(), got.begin()))
      out.push_back(e.path());
  }
  return out;
}

// A photo with sector `k` of it as the engine leaves it: zeros (folder route)
// or left out (raw scan).
Bytes ZeroedSector(Bytes photo, uint32_t k) {
  std::fill_n(photo.begin() + static_cast<long>(k) * kSector, kSector, uint8_t{0});
  return photo;
}
class FaultInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = std::make_unique<FatCard>(16, 8192, 2);
    card_->MakeDir("DCIM");
    for (const CardPhoto& p : kPhotos) card_->Copy(DataPhoto(p.corpus), p.onCard);
    for (const CardPhoto& p : kPhotos) card_->Delete(p.onCard);
    layout_ = Measure(card_->image());
    ASSERT_EQ(layout_.photoSector.size(), kPhotos.size());
    ASSERT_NE(layout_.dcimSector, 0u);
    ui_.temp = dir_ / "tmp";
    ui_.tickStep = 1;
    fs::create_directories(ui_.temp);
    drive_ = context_.drives().AddImage(card_->image().string());
    ASSERT_NE(drive_, 0);
    source_ = context_.drives().Find(drive_)->source.path;
    sources_.Watch(source_);
    imageMd5_ = Md5Of(card_->image());
  }
  void TearDown() override {
    // The card is only ever read, whatever went wrong.
    const FaultySources::Counters c = sources_.Get(source_);
    EXPECT_EQ(c.opensForWrite, 0u);
    EXPECT_EQ(c.writes, 0u);
    if (card_) {
      EXPECT_EQ(Md5Of(card_->image()), imageMd5_);
    }
  }

  uint32_t PhotoSector(const std::string& corpus) { return layout_.photoSector.at(corpus); }
  void MarkUnreadable(std::initializer_list<uint64_t> sectors) { sources_.MarkUnreadable(source_, sectors); }
  void MarkRange(uint32_t first, uint32_t count) {
    sources_.MarkUnreadableRange(source_, uint64_t{first} * kSector, uint64_t{count} * kSector);
  }

  // The raw scan over the card into its own folder.
  fs::path RawScanInto(uint32_t sectorsAtOnce, uint32_t retries, RawScanStatus& status) {
    const fs::path out = dir_ / "raw";
    fs::create_directories(out);
    RawScan scan(context_);
    RawScanSettings s;
    s.drive = drive_;
    s.totalSectors = static_cast<uint32_t>(fs::file_size(card_->image()) / kSector);
    s.sectorsAtOnce = sectorsAtOnce;
    s.retryLimit = retries;
    s.tempFolder = out;
    std::vector<uint32_t> shownErrors;
    scan.OnCountsChanged = [&](const RawScanStatus& st) { shownErrors.push_back(st.readErrors); };
    scan.Run(s);
    status = scan.Status();
    rawProblems_ = scan.Problems();
    EXPECT_EQ(scan.AbortReason(), "");
    EXPECT_EQ(status.currentSector, s.totalSectors);  // ran to the end
    // The read-error label followed every failed attempt.
    EXPECT_EQ(shownErrors.empty() ? 0u : shownErrors.back(), status.readErrors);
    return out;
  }

  // The folder route (deleted files, then the lost-cluster hunt) into its
  // own folder. Returns the folder; `driver` keeps what it reported.
  fs::path FolderRouteInto(TFrmFATScan& driver, std::vector<std::string>& found, bool mounts = true) {
    const fs::path out = dir_ / "folder";
    fs::create_directories(out);
    driver.DestFolder = out.string();
    driver.OnFoundImage = [&](const std::string& p, const FoundOrigin&) { found.push_back(p); };
    driver.ScanDrive(drive_, false, true, true);
    // A route that ran to its end sets the flag; one that found no volume
    // returns before that.
    EXPECT_EQ(driver.StopRequestedFlag, mounts);
    for (const std::string& f : found) EXPECT_TRUE(fs::exists(f)) << f;
    return out;
  }

  void ExpectRecovered(const fs::path& folder, const std::string& corpus) {
    EXPECT_FALSE(StartingWith(folder, Photo(corpus)).empty()) << corpus << " not recovered intact";
  }
  // Recovered as a file of exactly the photo's bytes (the folder route's
  // deleted files keep their size).
  void ExpectExact(const fs::path& folder, const std::string& corpus) {
    const std::string md5 = Md5Of(DataPhoto(corpus));
    bool match = false;
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.is_regular_file() && Md5Of(e.path()) == md5) match = true;
    EXPECT_TRUE(match) << corpus << " has no byte-identical copy in " << folder;
  }

  TempDir dir_;
  TestEngine engine_;
  EngineContext& context_ = engine_.context;
  ScriptedUi& ui_ = engine_.ui;
  FaultySources& sources_ = engine_.sources;
  std::unique_ptr<FatCard> card_;
  Layout layout_;
  uint8_t drive_ = 0;
  std::string source_;
  std::string imageMd5_;
  Report rawProblems_;  // of the last RawScanInto
};

// ---- a sector inside a photo ----------------------------------------------

TEST_F(FaultInjectionTest, BadSectorInsideAPhotoRawScan) {
  const std::string damaged = "Canon_PowerShot_S40.jpg";
  const uint32_t bad = PhotoSector(damaged) + 10;
  MarkUnreadable({bad});
  const uint32_t block = 7, retries = 3;
  RawScanStatus st;
  const fs::path out = RawScanInto(block, retries, st);
  // The failed block read counts once, then the sector fails on its own as
  // often as the retry limit allows; a bad sector that begins its block has
  // no separate block failure.
  EXPECT_EQ(st.readErrors, bad % block == 0 ? retries : 1 + retries);
  EXPECT_EQ(sources_.Get(source_).failedReads, st.readErrors);
  EXPECT_EQ(st.imagesFound, 4);
  for (const CardPhoto& p : kPhotos)
    if (p.corpus != damaged) ExpectRecovered(out, p.corpus);
  // The unreadable sector keeps its place as zeros, as on the folder route,
  // and the report names it.
  EXPECT_EQ(StartingWith(out, ZeroedSector(Photo(damaged), 10)).size(), 1u);
  ASSERT_EQ(rawProblems_.Problems().size(), 1u);
  EXPECT_EQ(rawProblems_.Problems()[0].kind, FileProblem::Kind::Damaged);
  EXPECT_EQ(rawProblems_.Problems()[0].reason,
            "sector " + std::to_string(bad) + " could not be read and holds zeros");
}

TEST_F(FaultInjectionTest, BadSectorInsideAPhotoFolderRoute) {
  const std::string damaged = "Canon_PowerShot_S40.jpg";
  MarkUnreadable({PhotoSector(damaged) + 10});
  TFrmFATScan driver(context_);
  std::vector<std::string> found;
  const fs::path out = FolderRouteInto(driver, found);
  EXPECT_EQ(found.size(), 4u);
  for (const CardPhoto& p : kPhotos)
    if (p.corpus != damaged) ExpectExact(out, p.corpus);
  // Saved at its full size with the unreadable sector as zeros, and said so.
  const Bytes expected = ZeroedSector(Photo(damaged), 10);
  const auto copies = StartingWith(out, expected);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(fs::file_size(copies[0]), expected.size());
  ASSERT_EQ(driver.SaveProblems.Problems().size(), 1u);
  EXPECT_EQ(driver.SaveProblems.Problems()[0].kind, FileProblem::Kind::Damaged);
  EXPECT_EQ(driver.SaveProblems.Problems()[0].file, copies[0].string());
  EXPECT_EQ(driver.SaveProblems.Problems()[0].reason, "1 sector could not be read and hold zeros");
  ASSERT_NE(driver.Device, nullptr);
  EXPECT_GE(driver.Device->ReadErrors, 1u);
}

// ---- the allocation table ---------------------------------------------------

TEST_F(FaultInjectionTest, UnreadableFirstTableCopyLosesNoPhoto) {
  MarkRange(layout_.fatStart, layout_.sectorsPerFat);
  TFrmFATScan driver(context_);
  std::vector<std::string> found;
  const fs::path out = FolderRouteInto(driver, found);
  for (const CardPhoto& p : kPhotos) ExpectExact(out, p.corpus);
  for (const FileProblem& p : driver.SaveProblems.Problems()) ADD_FAILURE() << p.file << ": " << p.reason;
  // The table was asked for, and failed.
  EXPECT_GT(sources_.Get(source_).failedReads, 0u);

  RawScanStatus st;
  const fs::path raw = RawScanInto(64, 1, st);
  EXPECT_EQ(st.imagesFound, 4);
  for (const CardPhoto& p : kPhotos) ExpectRecovered(raw, p.corpus);
}

TEST_F(FaultInjectionTest, UnreadableTablesInBothCopiesLoseNoPhoto) {
  MarkRange(layout_.fatStart, layout_.fatCount * layout_.sectorsPerFat);
  TFrmFATScan driver(context_);
  std::vector<std::string> found;
  const fs::path out = FolderRouteInto(driver, found);
  for (const CardPhoto& p : kPhotos) ExpectExact(out, p.corpus);

  RawScanStatus st;
  const fs::path raw = RawScanInto(64, 2, st);
  for (const CardPhoto& p : kPhotos) ExpectRecovered(raw, p.corpus);
  // Every table sector failed on its own, each as often as the retry limit
  // allows, plus the one block read that first met them.
  const uint32_t tableSectors = layout_.fatCount * layout_.sectorsPerFat;
  EXPECT_EQ(st.readErrors, tableSectors * 2 + (layout_.fatStart % 64 == 0 ? 0 : 1));
}

// ---- directories -------------------------------------------------------------

TEST_F(FaultInjectionTest, UnreadableRootDirectory) {
  MarkUnreadable({layout_.rootStart});
  TFrmFATScan driver(context_);
  std::vector<std::string> found;
  const fs::path out = FolderRouteInto(driver, found);
  // The root's deleted entries are gone: its photos come back from the hunt
  // for clusters no entry claims, as "cluster N.JPG" files that begin with
  // the photo.
  ExpectRecovered(out, "Nikon_D70.jpg");
  ExpectRecovered(out, "Pentax_K10D.jpg");
  ASSERT_NE(driver.Device, nullptr);
  EXPECT_GE(driver.Device->ReadErrors, 1u);
  // The raw scan does not need the directories at all.
  RawScanStatus st;
  const fs::path raw = RawScanInto(64, 1, st);
  for (const CardPhoto& p : kPhotos) ExpectRecovered(raw, p.corpus);
  EXPECT_EQ(st.readErrors, layout_.rootStart % 64 == 0 ? 1u : 2u);
}

TEST_F(FaultInjectionTest, UnreadableSubfolder) {
  MarkUnreadable({layout_.dcimSector});
  TFrmFATScan driver(context_);
  std::vector<std::string> found;
  const fs::path out = FolderRouteInto(driver, found);
  // The root's deleted photos keep their entries and sizes.
  ExpectExact(out, "Nikon_D70.jpg");
  ExpectExact(out, "Pentax_K10D.jpg");
  // Those of the unreadable folder are found by the cluster hunt.
  ExpectRecovered(out, "Canon_PowerShot_S40.jpg");
  ExpectRecovered(out, "Panasonic_DMC-FZ30.jpg");
  ASSERT_NE(driver.Device, nullptr);
  EXPECT_GE(driver.Device->ReadErrors, 1u);
}

// ---- the boot sector ---------------------------------------------------------

TEST_F(FaultInjectionTest, UnreadableBootSector) {
  MarkUnreadable({0});
  TFrmFATScan driver(context_);
  std::vector<std::string> found;
  int32_t files = -1, folders = -1;
  // No volume can be mounted: the analysis and the folder route end quietly.
  EXPECT_FALSE(driver.AnalyzeTotalFile(drive_, false, true, false, files, folders));
  const fs::path out = FolderRouteInto(driver, found, false);
  EXPECT_TRUE(found.empty());
  EXPECT_TRUE(fs::is_empty(out));
  EXPECT_TRUE(driver.SaveProblems.Problems().empty());

  // The raw scan loses nothing: sector 0 begins the first block, so it
  // fails exactly as often as the retry limit allows.
  RawScanStatus st;
  const fs::path raw = RawScanInto(64, 5, st);
  EXPECT_EQ(st.readErrors, 5u);
  EXPECT_EQ(st.imagesFound, 4);
  for (const CardPhoto& p : kPhotos) ExpectRecovered(raw, p.corpus);
}

// ---- lost drives on a whole disk ---------------------------------------------

// The card's volume as the first partition of a disk, behind a partition
// table, read by its BIOS number the way "partitions" reads it.
class LostDriveFaultTest : public FaultInjectionTest {
 protected:
  static constexpr uint32_t kStart = 2048;

  void SetUp() override {
    FaultInjectionTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const Bytes volume = ReadFileBytes(card_->image());
    Bytes disk(size_t{kStart} * kSector + volume.size(), 0);
    std::copy(volume.begin(), volume.end(), disk.begin() + static_cast<long>(size_t{kStart} * kSector));
    uint8_t* e = &disk[446];
    e[4] = 0x06;
    const uint32_t count = static_cast<uint32_t>(volume.size() / kSector);
    std::memcpy(e + 8, &kStart, 4);
    std::memcpy(e + 12, &count, 4);
    disk[510] = 0x55;
    disk[511] = 0xAA;
    disk_ = dir_ / "disk.img";
    WriteFileBytes(disk_, disk);
    context_.drives().Clear();
    ASSERT_NE(context_.drives().AddImage(disk_.string()), 0);
    sources_.Watch(disk_.string());
    ASSERT_EQ(context_.drives().PhysicalDiskPath(0x80), disk_.string());
    device_ = NewDisk();
  }
  void TearDown() override {
    if (!disk_.empty()) {
      EXPECT_EQ(sources_.Get(disk_.string()).opensForWrite, 0u);
      EXPECT_EQ(sources_.Get(disk_.string()).writes, 0u);
    }
    FaultInjectionTest::TearDown();
  }

  // The disk as a device of its own: its sector access opens the disk
  // afresh, so faults marked since apply.
  std::unique_ptr<TDevice> NewDisk() {
    auto d = std::make_unique<TDevice>(context_);
    d->Kind = kDevicePhysical;
    d->DriveNumber = 0x80;
    d->BytesPerSector = kSector;
    d->TotalSectors = static_cast<uint32_t>(fs::file_size(disk_) / kSector);
    d->Partitioned = 1;
    d->Removable = 1;
    return d;
  }

  fs::path disk_;
  std::unique_ptr<TDevice> device_;
};

TEST_F(LostDriveFaultTest, BadSectorInAPhotoEndsTheSearchThereUnlessIgnored) {
  const uint32_t bad = kStart + PhotoSector("Pentax_K10D.jpg") + 3;
  sources_.MarkUnreadable(disk_.string(), {bad});
  TDevice& device = *device_;
  TFrmFATScan driver(context_);
  TDriveList& list = *driver.DriveList();
  DetectDrives(list, device);
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(list.GetDrive(0)->StartSector, kStart);

  // Abort: the search ends at the bad sector, with nothing new (the
  // volume's boot sector belongs to the listed partition).
  ui_.defaultAnswer = MsgResult::Abort;
  EXPECT_EQ(FindLostDrives(driver, device, driver.DeviceList.get(), 0, device.TotalSectors - 1), 0);
  EXPECT_EQ(list.count(), 1);
  EXPECT_EQ(ui_.shown.size(), 1u);
  EXPECT_FALSE(device.CacheActive);

  // Ignore: the search reads on past it to the end of the disk.
  ui_.shown.clear();
  ui_.defaultAnswer = MsgResult::Ignore;
  const uint64_t readsBefore = sources_.Get(disk_.string()).reads;
  EXPECT_EQ(FindLostDrives(driver, device, driver.DeviceList.get(), 0, device.TotalSectors - 1), 0);
  EXPECT_GE(ui_.shown.size(), 1u);
  EXPECT_GT(sources_.Get(disk_.string()).reads, readsBefore);
}

TEST_F(LostDriveFaultTest, UnreadablePartitionTableOrBootSector) {
  TFrmFATScan driver(context_);
  TDriveList& list = *driver.DriveList();
  sources_.MarkUnreadable(disk_.string(), {0});
  ui_.defaultAnswer = MsgResult::Abort;
  DetectDrives(list, *device_);
  EXPECT_EQ(list.count(), 0);
  // A search that starts after the table finds the volume as a lost drive.
  EXPECT_EQ(FindLostDrives(driver, *device_, driver.DeviceList.get(), 1, kStart + 100), 1);
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(list.GetDrive(0)->StartSector, kStart);

  // With its boot sector unreadable instead, the partition is still listed
  // (mounting fails quietly) and the search stops at that sector. A new
  // device opens the disk with the new faults.
  sources_.Reset();
  sources_.MarkUnreadable(disk_.string(), {kStart});
  const std::unique_ptr<TDevice> disk = NewDisk();
  TFrmFATScan second(context_);
  TDriveList& list2 = *second.DriveList();
  DetectDrives(list2, *disk);
  ASSERT_EQ(list2.count(), 1);
  EXPECT_EQ(FindLostDrives(second, *disk, second.DeviceList.get(), 1, kStart + 100), 0);
  EXPECT_FALSE(disk->CacheActive);
}

}  // namespace
}  // namespace kestrella::test
