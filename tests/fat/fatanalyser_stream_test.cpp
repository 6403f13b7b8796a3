// The analyser on whole devices: its drive tests on a mounted card, and the
// sector stream that rebuilds a volume whose boot sector is gone, on cards
// made by mkfs.fat and mtools and on images whose sectors are placed by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "detect/filedet.h"
#include "devices/scanhost.h"
#include "diskio/bootsector.h"
#include "fat/fatanalyser.h"
#include "fatdir_support.h"

namespace kestrella::test {
namespace {

using Sector = std::vector<uint8_t>;

// Feeds every sector of an image, in order, through the sector stream.
class StreamTest : public ::testing::Test {
 protected:
  int Feed(const fs::path& image) {
    volume_.Mount(image);  // fails without a boot sector; the device is set up
    TDevice& device = volume_.device();
    analyser_.AnalyseSecStart(device);
    Sector buffer(512);
    int rebuilt = 0;
    for (uint32_t i = 0; i < device.TotalSectors; ++i) {
      if (!device.ReadSec(i, 1, buffer.data(), false)) {
        ADD_FAILURE() << "sector " << i << " unreadable";
        break;
      }
      if (analyser_.AnalyseSec(device, i, buffer.data(), 512)) ++rebuilt;
    }
    analyser_.AnalyseSecStop();
    return rebuilt;
  }
  TFATDirectory& Root(TFATdrive& d) { return static_cast<TFATDirectory&>(*d.RootItem); }

  TempDir dir_;
  ImageVolume volume_;
  ScriptedUi& ui_ = volume_.engine.ui;  // the user of the volume's engine
  TFATAnalyser analyser_;  // destroyed before the device its drives read
};

// ---- cards made with mkfs.fat and mtools -----------------------------------------

// A card with a label, three folders (one holding only a deleted file), a
// 100 KB file whose chain fills the table's first sector, and enough
// pictures that the root's first sector holds 16 live entries.
class CardTest : public StreamTest {
 protected:
  void Build(const std::string& mkfsOptions, uint32_t sizeKb) {
    ASSERT_TRUE(MakeCard(img_, mkfsOptions + " -n KESTRELLA", sizeKb));
    const fs::path src = dir_ / "src";
    fs::create_directories(src);
    ASSERT_TRUE(Mtools("mmd", img_, "::/DCIM ::/MUSIC ::/EMPTY"));
    ASSERT_TRUE(Mtools("mcopy", img_, Quote(MakeFile(src, "BIG.BIN", 100 * 1024).string()) + " ::/"));
    std::string pictures;
    for (int i = 1; i <= 14; ++i)
      pictures += Quote(MakeFile(src, "PIC" + std::to_string(10 + i) + ".JPG", 700).string()) + " ";
    ASSERT_TRUE(Mtools("mcopy", img_, pictures + "::/"));
    Sector jpeg = ReadFileBytes(MakeFile(src, "PHOTO1.JPG", 3000));
    const uint8_t header[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    std::copy(std::begin(header), std::end(header), jpeg.begin());
    WriteFileBytes(src / "PHOTO1.JPG", jpeg);
    ASSERT_TRUE(Mtools("mcopy", img_, Quote((src / "PHOTO1.JPG").string()) + " ::/DCIM/"));
    ASSERT_TRUE(Mtools("mcopy", img_, Quote(MakeFile(src, "SONG.TXT", 900).string()) + " ::/MUSIC/"));
    ASSERT_TRUE(Mtools("mcopy", img_, Quote(MakeFile(src, "GONE.TXT", 900).string()) + " ::/EMPTY/"));
    ASSERT_TRUE(Mtools("mdel", img_, "::/EMPTY/GONE.TXT"));
    original_ = ReadFileBytes(img_);
  }

  // Zeroes the boot sector (and the FAT32 backup), feeds the card and checks
  // the one rebuilt drive against the card's own geometry and tree.
  TFATdrive* RebuildAndCheck(uint8_t fatType, bool zeroBackup) {
    Sector bytes = original_;
    const Layout l(original_);
    EXPECT_TRUE(LooksLikeBootSector(bytes.data(), 512));
    std::fill_n(bytes.begin(), 512, 0);
    if (zeroBackup) {
      EXPECT_TRUE(LooksLikeBootSector(bytes.data() + 6 * 512, 512));
      std::fill_n(bytes.begin() + 6 * 512, 512, 0);
    }
    WriteFileBytes(img_, bytes);
    EXPECT_EQ(Feed(img_), 1);
    TFATdrive* d = analyser_.LastRebuilt;
    if (d == nullptr) return nullptr;
    EXPECT_EQ(d->StateFlags & kDriveRebuilt, kDriveRebuilt);
    EXPECT_EQ(d->Device, &volume_.device());
    EXPECT_EQ(d->StartSector, l.reserved - 1);
    EXPECT_EQ(d->BootSector, l.reserved - 1);
    EXPECT_EQ(d->StartSector + d->FirstDataSector(), l.firstData);
    EXPECT_EQ(d->BootRec().SectorsPerCluster(), l.perCluster);
    EXPECT_EQ(d->BootRec().NumberOfFATs(), l.fats);
    EXPECT_EQ(static_cast<uint32_t>(d->SectorsPerFAT()), l.sectorsPerFat);
    EXPECT_EQ(d->FATType(), fatType);
    EXPECT_EQ(d->BootRec().RootEntries(), Le16(&original_[17]));
    EXPECT_EQ(d->RootCluster(), l.rootCluster);
    EXPECT_EQ(d->Name, "DRIVE (without BootSec)");
    EXPECT_EQ(d->BootRec().MediaDescriptor(), 0xF8) << "a fixed medium";
    EXPECT_EQ(d->SectorCount, static_cast<uint32_t>(d->TotalSectors()));
    // The rebuilt volume reaches every cluster of the card.
    const uint32_t total = Le16(&original_[19]) != 0 ? Le16(&original_[19]) : Le32(&original_[32]);
    EXPECT_GE(d->ClusterCount(), (total - l.firstData) / l.perCluster);

    const std::vector<Listed> listed = Walk(Root(*d), false, false, true);
    const std::vector<std::string> paths = Paths(listed);
    for (const char* p : {"DCIM\\", "MUSIC\\", "EMPTY\\", "DCIM\\PHOTO1.JPG", "MUSIC\\SONG.TXT",
                          "BIG.BIN", "PIC11.JPG", "PIC24.JPG"}) {
      EXPECT_NE(std::find(paths.begin(), paths.end(), p), paths.end()) << p;
    }
    EXPECT_EQ(listed.size(), 20u);
    if (const Listed* photo = Find(listed, "DCIM\\PHOTO1.JPG")) {
      std::string kind;
      uint8_t startKind = 0;
      EXPECT_TRUE(d->Analyser->IsFileC(photo->cluster, kind, startKind));
      EXPECT_EQ(kind, "JPG");
    }
    EXPECT_TRUE(ui_.shown.empty()) << ui_.shown.front().text;
    return d;
  }

  fs::path img_ = dir_ / "card.img";
  Sector original_;
};

TEST_F(CardTest, AnalyserDriveTestsOnAMountedCard) {
  Build("-F 16 -s 4", 32768);
  ImageVolume v;
  ASSERT_TRUE(v.Mount(img_));
  const std::vector<Listed> all = Walk(v.Root(), true, false, true);
  const Listed* dcim = Find(all, "DCIM\\");
  const Listed* empty = Find(all, "EMPTY\\");
  const Listed* big = Find(all, "BIG.BIN");
  const Listed* photo = Find(all, "DCIM\\PHOTO1.JPG");
  ASSERT_TRUE(dcim && empty && big && photo);
  TFATAnalyser& a = *v.drive.Analyser;
  const uint32_t root = static_cast<uint32_t>(v.drive.RootDirStart());

  EXPECT_TRUE(a.IsDirC(dcim->cluster));
  EXPECT_TRUE(a.IsDirC(dcim->cluster, 0));
  EXPECT_FALSE(a.IsDirC(big->cluster));
  EXPECT_FALSE(a.IsDirC(0, root));

  EXPECT_TRUE(a.IsDirEmptyC(empty->cluster, 0)) << "only a deleted entry after . and ..";
  EXPECT_FALSE(a.IsDirEmptyC(dcim->cluster, 0));

  EXPECT_TRUE(a.DirEntriesValidC(0, root));
  EXPECT_FALSE(a.DirEntriesValidC(dcim->cluster, 0)) << "\".\" is no name of a live entry";
  EXPECT_TRUE(a.IsRootC(0, root));
  EXPECT_FALSE(a.IsRootC(dcim->cluster, 0));

  std::string kind = "none";
  uint8_t startKind = 0;
  EXPECT_TRUE(a.IsFileC(photo->cluster, kind, startKind));
  EXPECT_EQ(kind, "JPG");
  EXPECT_EQ(startKind, kStartNewFile);
  kind = "none";
  EXPECT_FALSE(a.IsFileC(dcim->cluster, kind, startKind));
  EXPECT_FALSE(a.IsFileC(1, kind, startKind));
  EXPECT_FALSE(a.IsFileC(v.drive.ClusterCount() + 2, kind, startKind));
  EXPECT_EQ(kind, "none");

  TFATAnalyser driveless;
  EXPECT_FALSE(driveless.IsDirC(dcim->cluster));
  EXPECT_FALSE(driveless.IsFileC(photo->cluster, kind, startKind));
}

TEST_F(CardTest, AnalyserRebuildsAFat12CardWithoutBootSector) {
  Build("-F 12 -s 2", 4096);
  RebuildAndCheck(kFat12, false);
  EXPECT_EQ(analyser_.Rebuilt.size(), 1u);
}

TEST_F(CardTest, AnalyserRebuildsAFat16CardWithoutBootSector) {
  Build("-F 16 -s 4", 32768);
  TFATdrive* d = RebuildAndCheck(kFat16, false);
  ASSERT_NE(d, nullptr);
  // Deleted files are found by the same walks as on a mounted card (the
  // deleted marker shows as "_").
  const std::vector<std::string> deleted = Paths(Walk(Root(*d), true, true, true));
  EXPECT_NE(std::find(deleted.begin(), deleted.end(), "EMPTY\\_ONE.TXT"), deleted.end())
      << ::testing::PrintToString(deleted);
}

TEST_F(CardTest, AnalyserRebuildsACardWithASingleTable) {
  // Without a second copy the table ends where the fixed root region begins.
  Build("-F 16 -s 4 -f 1", 32768);
  RebuildAndCheck(kFat16, false);
}

// A scan driver with a drive list: rebuilt drives go there.
class ListHost : public QuietScanHost {
 public:
  TDriveList* DriveList() override { return &list; }
  TDriveList list;
};

TEST_F(CardTest, AnalyserRebuildsAFat32CardIntoTheDriversList) {
  Build("-F 32 -s 1", 40960);
  ListHost host;
  analyser_.Host = &host;
  TFATdrive* d = RebuildAndCheck(kFat32, true);
  ASSERT_EQ(host.list.count(), 1);
  EXPECT_EQ(host.list.GetDrive(0), d);
  EXPECT_TRUE(analyser_.Rebuilt.empty());
}

// ---- images whose sectors are placed by hand ------------------------------------------

class PlacedTest : public StreamTest {
 protected:
  static constexpr uint32_t kTotal = 40000;

  int FeedPlaced() {
    const fs::path image = dir_ / "placed.img";
    { std::ofstream create(image, std::ios::binary); }
    fs::resize_file(image, uint64_t{kTotal} * 512);
    std::fstream out(image, std::ios::binary | std::ios::in | std::ios::out);
    for (const auto& [sector, bytes] : sectors_) {
      out.seekp(static_cast<std::streamoff>(uint64_t{sector} * 512));
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    out.close();
    return Feed(image);
  }

  static Sector Entries(const std::vector<TDirEntry>& entries) {
    Sector s(512, 0);
    for (size_t i = 0; i < entries.size() && i < 16; ++i)
      std::copy(entries[i].raw.begin(), entries[i].raw.end(), s.begin() + static_cast<std::ptrdiff_t>(i * 32));
    return s;
  }
  static std::vector<TDirEntry> Live(bool label) {
    std::vector<TDirEntry> e;
    if (label) e.push_back(ShortEntry("KESTRELLA  ", kAttrVolume, 0));
    while (e.size() < 16) e.push_back(ShortEntry("PIC" + std::to_string(100 + e.size()) + "  JPG", kAttrArchive, 20 + static_cast<uint32_t>(e.size()), 700));
    return e;
  }
  void Dir(uint32_t sector, uint32_t cluster) {
    sectors_[sector] = Entries({ShortEntry(".", kAttrDirectory, cluster), ShortEntry("..", kAttrDirectory, 0)});
  }
  // Two copies of a table of `size` sectors at `start`, the chain 3..60 in
  // the first sector of each.
  void Tables(uint32_t start, uint32_t size, int bits) {
    Sector s(512, 0);
    auto put = [&](uint32_t index, uint32_t v) {
      for (int i = 0; i < bits / 8; ++i) s[index * (bits / 8) + static_cast<uint32_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    const uint32_t end = bits == 16 ? 0xFFFF : 0x0FFFFFFF;
    put(0, end - 7);
    put(1, end);
    put(2, end);
    for (uint32_t v = 4; v <= 60; ++v) put(v - 1, v);
    put(60, end);
    sectors_[start] = s;
    sectors_[start + size] = s;
  }

  std::map<uint32_t, Sector> sectors_;
};

TEST_F(PlacedTest, AnalyserTwoDirectoriesFixTheClusterSizeAndDataStart) {
  Tables(100, 430, 16);                // tables end at 960
  sectors_[960] = Entries(Live(true));  // a fixed root of 16 sectors
  Dir(1000, 5);
  Dir(1016, 7);
  ASSERT_EQ(FeedPlaced(), 1);
  TFATdrive& d = *analyser_.LastRebuilt;
  EXPECT_EQ(d.BootRec().SectorsPerCluster(), 8);
  EXPECT_EQ(d.StartSector, 99u);
  EXPECT_EQ(d.StartSector + d.FirstDataSector(), 976u);
  EXPECT_EQ(d.BootRec().RootEntries(), 256);
  EXPECT_EQ(d.BootRec().NumberOfFATs(), 2);
  EXPECT_EQ(d.BootRec().SectorsPerFAT16(), 430);
  EXPECT_EQ(d.FATType(), kFat16);
  EXPECT_EQ(d.Cluster2Sec(5) + d.StartSector, 1000u);
  const std::vector<std::string> paths = Paths(Walk(Root(d), false, false, true));
  EXPECT_EQ(paths.size(), 15u);
  EXPECT_NE(std::find(paths.begin(), paths.end(), "PIC101.JPG"), paths.end());
}

TEST_F(PlacedTest, AnalyserADirectoryAtOrBeforeTheFirstClusterTellsNothing) {
  Tables(100, 430, 16);
  sectors_[960] = Entries(Live(true));
  Dir(1000, 5);
  Dir(1008, 5);  // the same cluster again
  Dir(1016, 3);  // a smaller one
  EXPECT_EQ(FeedPlaced(), 0);
  EXPECT_EQ(analyser_.LastRebuilt, nullptr);
}

// FAT32: the data starts at 1000 right after the tables, 8 sectors per
// cluster; the root candidate at 1005 lies inside the root's cluster.
TEST_F(PlacedTest, AnalyserARootCandidateInsideAClusterNeedsItsRun) {
  auto place = [this](uint32_t firstValid) {
    sectors_.clear();
    Tables(100, 450, 32);
    for (uint32_t s = firstValid; s < 1005; ++s) sectors_[s] = Entries(Live(false));
    sectors_[1005] = Entries(Live(true));
    Dir(1024, 5);
    Dir(1040, 7);
  };
  place(1001);  // a run of 5 at 1005: back to the cluster's start
  ASSERT_EQ(FeedPlaced(), 1);
  EXPECT_EQ(analyser_.LastRebuilt->FATType(), kFat32);
  EXPECT_EQ(analyser_.LastRebuilt->RootCluster(), 2u);
  EXPECT_EQ(analyser_.LastRebuilt->StartSector + analyser_.LastRebuilt->FirstDataSector(), 1000u);

  place(1002);  // a run of 4 only
  EXPECT_EQ(FeedPlaced(), 0);
  EXPECT_EQ(analyser_.Rebuilt.size(), 1u);
}

}  // namespace
}  // namespace kestrella::test
