// The lost-data search on cards made with mkfs.fat and mtools: quick
// formatted, with deleted files, or with clusters and entries written by
// hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "detect/filedet.h"
#include "devices/scanhost.h"
#include "fatdir_support.h"
#include "support/testsupport.h"

namespace kestrella::test {
namespace {

// Watches what the search hands over (through the drive's OnFoundFile) and
// reports; marks handed files the way the scan driver does, unless told not
// to.
struct RecordingHost : QuietScanHost {
  bool StopRequested() const override { return stop; }
  bool TimeForUserUpdate() override { return alwaysUpdate; }
  void UpdateStatus(const std::string&, const std::string& l2, const std::string&, const std::string&,
                    const std::string&) override {
    lines.push_back(l2);
  }
  void SetTotals(int32_t files, int32_t folders) override { totals.push_back({files, folders}); }
  void Found(TFATFile& file) {
    handed.push_back(file.Name);
    cacheOnWhenHanded = cacheOnWhenHanded && file.Drive->Device->CacheActive;
    if (markHanded) file.HandedOver = 1;
    if (stopAfter != 0 && handed.size() == stopAfter) stop = true;
  }
  bool stop = false, alwaysUpdate = false, markHanded = true, cacheOnWhenHanded = true;
  size_t stopAfter = 0;
  std::vector<std::string> handed, lines;
  std::vector<std::pair<int32_t, int32_t>> totals;
};

class LostSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    v_.drive.SetHost(&host_);
    v_.drive.OnFoundFile = [this](TFATFile& file) { host_.Found(file); };
  }

  void Card(const std::string& options, uint32_t kb) { ASSERT_TRUE(MakeCard(image_, options, kb)); }
  void Copy(const fs::path& from, const std::string& to) {
    ASSERT_TRUE(Mtools("mcopy", image_, Quote(from.string()) + " ::" + to));
  }
  // A quick format: new boot sector, tables and root; the data stays.
  void QuickFormat(const std::string& options) {
    ASSERT_TRUE(Sh("mkfs.fat " + options + " " + Quote(image_.string()) + " >/dev/null"));
  }
  void Patch(const std::function<void(std::vector<uint8_t>&, const Layout&)>& edit) {
    std::vector<uint8_t> bytes = ReadFileBytes(image_);
    edit(bytes, Layout(bytes));
    WriteFileBytes(image_, bytes);
  }
  // First cluster of a short-named root entry of a FAT12/16 card.
  uint32_t FirstCluster(const std::string& name11) {
    const std::vector<uint8_t> b = ReadFileBytes(image_);
    const Layout l(b);
    for (uint64_t at = l.RootOffset(); at < uint64_t{l.firstData} * 512; at += 32)
      if (std::memcmp(name11.data(), &b[at], 11) == 0) return Le16(&b[at + 26]);
    ADD_FAILURE() << name11 << " not in the root";
    return 0;
  }
  void Find() {
    ASSERT_TRUE(v_.Mount(image_));
    v_.drive.FindLostData();
  }
  std::vector<std::string> Lost() {
    std::vector<std::string> names;
    for (const auto& node : *v_.drive.LostItem->Nodes) {
      if (auto* d = dynamic_cast<TFATDirectory*>(node.get())) names.push_back(d->Name + "\\");
      if (auto* f = dynamic_cast<TFATFile*>(node.get())) names.push_back(f->Name);
    }
    return names;
  }
  // A file of `size` bytes that starts as a JPEG does.
  fs::path JpegFile(size_t size) {
    std::vector<uint8_t> bytes(size, 0x5A);
    const uint8_t soi[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    std::copy(std::begin(soi), std::end(soi), bytes.begin());
    WriteFileBytes(dir_ / "photo.jpg", bytes);
    return dir_ / "photo.jpg";
  }
  static TFATFile& node_cast(TCustomNode& node) { return dynamic_cast<TFATFile&>(node); }
  TFATFile* LostFile(const std::string& name) {
    for (const auto& node : *v_.drive.LostItem->Nodes)
      if (auto* f = dynamic_cast<TFATFile*>(node.get()); f != nullptr && f->Name == name) return f;
    return nullptr;
  }

  TempDir dir_;
  fs::path image_ = dir_ / "card.img";
  RecordingHost host_;
  ImageVolume v_;
};

using Strings = std::vector<std::string>;
std::string ClusterName(uint32_t c, const char* kind) { return "cluster " + std::to_string(c) + "." + kind; }

// Bytes that IsFile names JPG, and an MPEG-1 Layer III stream (128 kbit/s,
// 44.1 kHz: 417-byte frames) over `bytes` bytes.
void PutJpegStart(std::vector<uint8_t>& b, uint64_t at) {
  const uint8_t soi[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
  std::copy(std::begin(soi), std::end(soi), b.begin() + static_cast<std::ptrdiff_t>(at));
}
void PutMp3Stream(std::vector<uint8_t>& b, uint64_t at, uint64_t bytes) {
  for (uint64_t pos = 0; pos + 4 <= bytes; pos += 417) {
    b[at + pos] = 0xFF;
    b[at + pos + 1] = 0xFB;
    b[at + pos + 2] = 0x90;
    b[at + pos + 3] = 0x00;
  }
}

TEST_F(LostSearch, FormattedCardGivesItsPhotosBackAsLostFilesOfTheFixedSize) {
  const auto photos = DataPhotos();
  ASSERT_GE(photos.size(), 3u);
  Card("-F 16 -s 1", 4096);
  Strings expected;
  for (int k = 0; k < 3; ++k) {
    const std::string name = Numbered("P", k, ".JPG");
    Copy(photos[static_cast<size_t>(k)], name);
    expected.push_back(ClusterName(FirstCluster(Numbered("P", k, "      JPG")), "JPG"));
  }
  QuickFormat("-F 16 -s 1");
  Find();
  EXPECT_EQ(host_.handed, expected);
  EXPECT_EQ(Lost(), expected);
  EXPECT_TRUE(host_.cacheOnWhenHanded);  // clusters are scanned through the cache
  EXPECT_FALSE(v_.device().CacheActive);   // and it is off once the search ends
  for (const std::string& name : expected) {
    const TFATFile* f = LostFile(name);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Size, 1474560u);
    EXPECT_EQ(f->Flags, kNodeLost);
    EXPECT_EQ(f->Attributes, 0x20);
    EXPECT_EQ(f->HandedOver, 1);
    EXPECT_EQ(f->Parent, v_.drive.LostItem.get());
  }
  // The table is empty after the format: the save reads on cluster by
  // cluster, so the photo comes back whole at the start of the file.
  TFATFile* first = LostFile(expected[0]);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(first->SaveTo(dir_.path(), v_.drive.UseFAT()));
  const std::vector<uint8_t> saved = ReadFileBytes(dir_ / expected[0]);
  const std::vector<uint8_t> photo = ReadFileBytes(photos[0]);
  ASSERT_EQ(saved.size(), 1474560u);
  EXPECT_TRUE(std::equal(photo.begin(), photo.end(), saved.begin()));
}

TEST_F(LostSearch, FilesWithEntriesLiveOrDeletedAreNotLost) {
  Card("-F 16 -s 1", 4096);
  Copy(DataPhotos()[0], "KEEP.JPG");
  ASSERT_TRUE(Mtools("mmd", image_, "::/DCIM"));
  Copy(DataPhotos()[1], "DCIM/GONE.JPG");
  ASSERT_TRUE(Mtools("mdel", image_, "::/DCIM/GONE.JPG"));
  Find();
  EXPECT_EQ(Lost(), Strings{});
  EXPECT_EQ(host_.handed, Strings{});
}

TEST_F(LostSearch, StreamClustersMakeOneFileAndEachJpegClusterStartsOne) {
  Card("-F 16 -s 1", 4096);
  uint32_t clusters = 0;
  Patch([&](std::vector<uint8_t>& b, const Layout& l) {
    clusters = static_cast<uint32_t>(b.size() / 512 - l.firstData);
    PutMp3Stream(b, l.ClusterOffset(40), 3 * 512);
    PutJpegStart(b, l.ClusterOffset(60));
    PutJpegStart(b, l.ClusterOffset(61));
    PutJpegStart(b, l.ClusterOffset(clusters + 1));  // the last cluster
    // The premise: each stream cluster alone reads as MP3 that may continue.
    for (uint32_t c = 40; c < 43; ++c) {
      std::string kind;
      uint8_t start = 0;
      ASSERT_TRUE(IsFile(&b[l.ClusterOffset(c)], 512, kind, start)) << c;
      EXPECT_EQ(kind + std::to_string(start), "MP32") << c;
    }
  });
  Find();
  ASSERT_EQ(v_.drive.ClusterCount(), clusters);
  const Strings expected = {ClusterName(40, "MP3"), ClusterName(60, "JPG"), ClusterName(61, "JPG"),
                            ClusterName(clusters + 1, "JPG")};
  EXPECT_EQ(Lost(), expected);
  ASSERT_NE(LostFile(expected[1]), nullptr);
  EXPECT_EQ(LostFile(expected[1])->Size, 1474560u);
  // A file at the end of the volume is only as long as what is left of it.
  ASSERT_NE(LostFile(expected[3]), nullptr);
  EXPECT_EQ(LostFile(expected[3])->Size, 512u);
}

// Directory clusters written by hand on a blank card.
void PutDir(std::vector<uint8_t>& b, const Layout& l, uint32_t cluster, std::vector<TDirEntry> entries) {
  entries.insert(entries.begin(),
                 {ShortEntry(".", kAttrDirectory, cluster), ShortEntry("..", kAttrDirectory, 0)});
  Put(b, l.ClusterOffset(cluster), entries);
}

TEST_F(LostSearch, LostDirectoriesAccountForTheClustersTheirEntriesName) {
  Card("-F 16 -s 1", 4096);
  Patch([](std::vector<uint8_t>& b, const Layout& l) {
    PutJpegStart(b, l.ClusterOffset(50));
    PutJpegStart(b, l.ClusterOffset(62));
    PutDir(b, l, 60, {ShortEntry("INNER   JPG", kAttrArchive, 62, 100)});
    // Only a deleted entry: an empty directory, not listed.
    TDirEntry gone = ShortEntry("GONE    JPG", kAttrArchive, 81, 100);
    gone.raw[0] = kDeletedMarker;
    PutDir(b, l, 80, {gone});
    PutDir(b, l, 100,
           {ShortEntry("PHOTO   JPG", kAttrArchive, 50, 9000), ShortEntry("SUB", kAttrDirectory, 60)});
    // A directory that holds itself, and one that leads back to it.
    PutDir(b, l, 120, {ShortEntry("SELF", kAttrDirectory, 120), ShortEntry("DOWN", kAttrDirectory, 121)});
    PutDir(b, l, 121, {ShortEntry("BACK", kAttrDirectory, 120)});
  });
  Find();
  // cluster 50 was handed over before cluster 100 explained it; cluster 60
  // stays listed as the lost directory it was found as; 62 is INNER's.
  EXPECT_EQ(host_.handed, Strings{ClusterName(50, "JPG")});
  EXPECT_EQ(Lost(), (Strings{"cluster 60\\", "cluster 100\\", "cluster 120\\"}));
  const auto& dir = dynamic_cast<TFATDirectory&>(*v_.drive.LostItem->Nodes->front());
  EXPECT_EQ(dir.Flags, kNodeLost);
  EXPECT_EQ(dir.FirstCluster, 60u);
  EXPECT_FALSE(dir.Nodes);
}

TEST_F(LostSearch, NestedLostDirectoriesAreFollowedTo256Levels) {
  Card("-F 16 -s 1", 4096);
  Patch([](std::vector<uint8_t>& b, const Layout& l) {
    for (uint32_t c = 200; c < 500; ++c)
      PutDir(b, l, c,
             c + 1 < 500 ? std::vector<TDirEntry>{ShortEntry("NEXT", kAttrDirectory, c + 1)}
                         : std::vector<TDirEntry>{});
  });
  Find();
  // The walk from 200 stops 255 levels down; the rest is found on its own.
  EXPECT_EQ(Lost(), (Strings{"cluster 200\\", "cluster 456\\"}));
}

TEST_F(LostSearch, BadClustersArePassedOverOnlyWithTheSkipOption) {
  Card("-F 16 -s 1", 4096);
  Copy(MakeFile(dir_.path(), "a.txt", 2000), "A.TXT");  // a used table: chains are followed
  Patch([](std::vector<uint8_t>& b, const Layout& l) {
    PutJpegStart(b, l.ClusterOffset(70));
    SetFat(b, l, 16, 70, 0xFFF7);
  });
  for (const uint8_t skip : {0, 1}) {
    host_.handed.clear();
    ASSERT_TRUE(v_.Mount(image_));
    ASSERT_EQ(v_.drive.UseFAT(), 1);
    v_.drive.SetSkipOption(skip);
    v_.drive.FindLostData();
    EXPECT_EQ(host_.handed, skip != 0 ? Strings{} : Strings{ClusterName(70, "JPG")});
  }
}

TEST_F(LostSearch, OnlyFixedRootRegionsAreSearchedSectorBySector) {
  host_.alwaysUpdate = true;
  auto scanned = [&](const char* what) {
    return std::count_if(host_.lines.begin(), host_.lines.end(),
                         [&](const std::string& l) { return l.rfind(what, 0) == 0; });
  };
  Card("-F 16 -s 1", 4096);
  Find();
  // From the first root sector up to and including the first data sector.
  EXPECT_EQ(host_.lines.front(), "Scanning sector " + std::to_string(v_.drive.RootDirStart()));
  EXPECT_EQ(scanned("Scanning sector "),
            static_cast<long>(v_.drive.FirstDataSector()) - v_.drive.RootDirStart() + 1);
  EXPECT_EQ(scanned("Scanning cluster "), static_cast<long>(v_.drive.ClusterCount()));
  host_.lines.clear();
  Card("-F 32 -s 1", 40000);
  Find();
  ASSERT_EQ(v_.drive.FATType(), kFat32);
  EXPECT_EQ(scanned("Scanning sector "), 0);
  EXPECT_EQ(scanned("Scanning cluster "), static_cast<long>(v_.drive.ClusterCount()));
}

TEST_F(LostSearch, StoppingKeepsWhatWasFound) {
  Card("-F 16 -s 1", 4096);
  Patch([](std::vector<uint8_t>& b, const Layout& l) {
    for (uint32_t c : {30, 31, 90}) PutJpegStart(b, l.ClusterOffset(c));
  });
  host_.stopAfter = 2;
  Find();
  EXPECT_EQ(Lost(), (Strings{ClusterName(30, "JPG"), ClusterName(31, "JPG")}));
  EXPECT_FALSE(v_.device().CacheActive);
}

// A healthy card: live photos in the root (more than a root sector holds)
// and in a folder, and deleted ones, each starting as a JPEG does, so that
// live clusters left unaccounted would come back as lost files too.
class HealthyCard : public LostSearch, public ::testing::WithParamInterface<std::pair<const char*, uint32_t>> {};

TEST_P(HealthyCard, OffersNoneOfItsLiveFilesAsLost) {
  Card(GetParam().first, GetParam().second);
  const fs::path photo = JpegFile(3000);
  ASSERT_TRUE(Mtools("mmd", image_, "::/DCIM"));
  for (int k = 0; k < 26; ++k) Copy(photo, (k < 20 ? "IMG_" : k < 23 ? "DCIM/IMG_" : "GONE") + std::to_string(k) + ".JPG");
  for (int k = 23; k < 26; ++k) ASSERT_TRUE(Mtools("mdel", image_, "::/GONE" + std::to_string(k) + ".JPG"));
  Find();
  EXPECT_EQ(Lost(), Strings{});
  ASSERT_TRUE(v_.drive.FindFiles(false, false, true));
  EXPECT_EQ(v_.drive.SearchedItem->Nodes->size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Fat16AndFat12, HealthyCard,
                         ::testing::Values(std::pair{"-F 16 -s 1", 4096u}, std::pair{"-F 12 -s 1", 1440u}));

// A quick-formatted card whose old DCIM/100CANON remains in the data area,
// with entries added that cannot describe a file of the volume: they are
// neither offered nor saved, and account for no cluster.
TEST_F(LostSearch, EntriesThatCannotBeOnTheVolumeArePassedOver) {
  Card("-F 16 -s 1", 4096);
  const fs::path photo = JpegFile(5000);
  ASSERT_TRUE(Mtools("mmd", image_, "::/DCIM ::/DCIM/100CANON"));
  for (int k = 1; k <= 3; ++k) Copy(photo, "DCIM/100CANON/IMG_000" + std::to_string(k) + ".JPG");
  const CommandResult shown = test::Run("MTOOLS_SKIP_CHECK=1 mshowfat -i " + Quote(image_.string()) + " ::/DCIM/100CANON");
  const uint32_t folder = static_cast<uint32_t>(std::stoul(shown.output.substr(shown.output.find('<') + 1)));
  QuickFormat("-F 16 -s 1");
  const uint32_t marked = 3000;  // a JPEG start that an oversized entry names
  Patch([&](std::vector<uint8_t>& b, const Layout& l) {
    const uint32_t clusters = static_cast<uint32_t>(b.size() / 512 - l.firstData);
    PutJpegStart(b, l.ClusterOffset(marked));
    TDirEntry date = ShortEntry("BADDATE JPG", kAttrArchive, 100, 10);
    date.raw[24] = date.raw[25] = 0xFF;  // month 15
    Put(b, l.ClusterOffset(folder) + 5 * 32,  // after ".", ".." and the photos
        {ShortEntry("PASTEND JPG", kAttrArchive, clusters + 2, 10), ShortEntry("ONE     JPG", kAttrArchive, 1, 10),
         ShortEntry("NOCLUST JPG", kAttrArchive, 0, 10), ShortEntry("TOOBIG  JPG", kAttrArchive, marked, (clusters + 2 - marked) * 512 + 1),
         ShortEntry("\x01\x02GARB  JPG", kAttrArchive, 100, 10), ShortEntry("ATTRIB  JPG", 0xE0, 100, 10), date,
         ShortEntry("FITS    JPG", kAttrArchive, clusters + 1, 512)});  // the volume's last cluster
  });
  Find();
  EXPECT_EQ(host_.handed, Strings{ClusterName(marked, "JPG")});
  ASSERT_TRUE(v_.drive.FindFiles(false, false, true));
  Strings offered;
  for (const auto& node : *v_.drive.SearchedItem->Nodes) {
    offered.push_back(node_cast(*node).Name);
    EXPECT_TRUE(node_cast(*node).SaveTo(dir_.path(), v_.drive.UseFAT()));
  }
  std::sort(offered.begin(), offered.end());
  EXPECT_EQ(offered, (Strings{"FITS.JPG", "IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG"}));
  EXPECT_TRUE(v_.drive.SaveProblems.Clean());
  EXPECT_EQ(ReadFileBytes(dir_ / "IMG_0001.JPG"), ReadFileBytes(photo));
}

// ---- picking the pictures out of the trees ----------------------------------

class PictureSearch : public LostSearch {
 protected:
  // Live KEEP.JPG, NOTE.TXT, Mixed.Jpeg and DCIM/D1.JPG, a deleted GONE.JPG,
  // and a lost picture at cluster 3000.
  void SetUp() override {
    LostSearch::SetUp();
    const auto photos = DataPhotos();
    Card("-F 16 -s 1", 4096);
    Copy(photos[0], "KEEP.JPG");
    Copy(MakeFile(dir_.path(), "note.txt", 700), "NOTE.TXT");
    Copy(photos[1], "GONE.JPG");
    Copy(photos[2], "Mixed.Jpeg");
    ASSERT_TRUE(Mtools("mmd", image_, "::/DCIM"));
    Copy(photos[3], "DCIM/D1.JPG");
    ASSERT_TRUE(Mtools("mdel", image_, "::/GONE.JPG"));
    Patch([](std::vector<uint8_t>& b, const Layout& l) { PutJpegStart(b, l.ClusterOffset(3000)); });
    host_.markHanded = false;
    Find();
    ASSERT_EQ(Lost(), Strings{ClusterName(3000, "JPG")});
  }
  Strings Searched() {
    Strings names;
    for (const auto& node : *v_.drive.SearchedItem->Nodes) {
      const auto& f = dynamic_cast<const TFATFile&>(*node);
      EXPECT_EQ(f.Parent, v_.drive.SearchedItem.get()) << f.Name;
      names.push_back(ReplaceDeletedChar(f.Name));
    }
    return names;
  }
};

TEST_F(PictureSearch, CopiesThePicturesOfTheChosenTreesDeletedThenLostThenRoot) {
  EXPECT_TRUE(v_.drive.FindFiles(true, true, true));
  EXPECT_EQ(Searched(), (Strings{"_ONE.JPG", ClusterName(3000, "JPG"), "KEEP.JPG", "Mixed.Jpeg", "D1.JPG"}));
  const auto& gone = dynamic_cast<const TFATFile&>(*v_.drive.SearchedItem->Nodes->front());
  EXPECT_EQ(gone.Flags, kNodeDeleted);
  EXPECT_EQ(gone.FirstCluster, FirstCluster("\xE5ONE    JPG"));
  EXPECT_EQ(gone.Size, ReadFileBytes(DataPhotos()[1]).size());
  EXPECT_FALSE(v_.drive.RootItem->Nodes);  // the walked trees are disposed again

  EXPECT_TRUE(v_.drive.FindFiles(true, false, false));
  EXPECT_EQ(Searched(), (Strings{"KEEP.JPG", "Mixed.Jpeg", "D1.JPG"}));
  EXPECT_TRUE(v_.drive.FindFiles(false, true, false));
  EXPECT_EQ(Searched(), Strings{"_ONE.JPG"});
  // What the scan driver already has is not searched for again.
  EXPECT_TRUE(v_.drive.FindFiles(false, false, true));
  EXPECT_EQ(Searched(), Strings{ClusterName(3000, "JPG")});
  LostFile(ClusterName(3000, "JPG"))->HandedOver = 1;
  EXPECT_TRUE(v_.drive.FindFiles(false, false, true));
  EXPECT_EQ(Searched(), Strings{});
}

// The copies FindFiles hands over know the folders they were found in and
// how the search came by them, though those folders are gone after it.
TEST_F(PictureSearch, CopiesKnowTheirFoldersAndHowTheyWereFound) {
  ASSERT_TRUE(Mtools("mmd", image_, "\"::/Summer trip\""));
  Copy(DataPhotos()[4], "\"Summer trip/Beach day.jpg\"");
  ASSERT_TRUE(Mtools("mdeltree", image_, "\"::/Summer trip\""));
  uint32_t rootSector = 0;
  Patch([&](std::vector<uint8_t>& b, const Layout& l) {
    PutDir(b, l, 3200, {ShortEntry("TOP     JPG", kAttrArchive, 3210, 100), ShortEntry("SUB", kAttrDirectory, 3201)});
    PutDir(b, l, 3201, {ShortEntry("IN      JPG", kAttrArchive, 3220, 100)});
    // The remains of an older root, past the end of the live one.
    rootSector = l.rootStart + 8;
    std::vector<TDirEntry> old;
    for (int k = 0; k < 16; ++k) old.push_back(ShortEntry("OLD" + std::to_string(10 + k) + "   JPG", kAttrArchive, 3300 + k, 100));
    Put(b, uint64_t{rootSector} * 512, old);
  });
  Find();
  ASSERT_TRUE(v_.drive.FindFiles(true, true, true));
  using Way = LostOrigin::Way;
  struct Expected {
    std::vector<std::string> folders;
    LostOrigin origin;
  };
  const std::map<std::string, Expected> expected = {
      {"_ONE.JPG", {{}, {}}},
      {"KEEP.JPG", {{}, {}}},
      {"D1.JPG", {{"DCIM"}, {}}},
      {"Beach day.jpg", {{"Summer trip"}, {}}},
      {ClusterName(3000, "JPG"), {{}, {Way::BySignature, 0, 0, "JPG"}}},
      {"TOP.JPG", {{}, {Way::InLostDirectory, 3200, 0, ""}}},
      {"IN.JPG", {{"SUB"}, {Way::InLostDirectory, 3200, 0, ""}}},
      {"OLD10.JPG", {{}, {Way::InLostDirectory, 0, rootSector, ""}}},
  };
  size_t met = 0;
  for (const auto& node : *v_.drive.SearchedItem->Nodes) {
    const auto& f = dynamic_cast<const TFATFile&>(*node);
    EXPECT_EQ(f.Parent, v_.drive.SearchedItem.get());
    const auto it = expected.find(f.OutputName());
    if (it == expected.end()) continue;
    ++met;
    EXPECT_EQ(f.FolderNames(), it->second.folders) << it->first;
    EXPECT_EQ(f.Origin(), it->second.origin) << it->first;
    EXPECT_EQ(f.IsLost(), it->second.origin.way != Way::NotLost) << it->first;
  }
  EXPECT_EQ(met, expected.size());
}

TEST_F(PictureSearch, CountsPicturesAndDirectoriesOfTheChosenTrees) {
  LostFile(ClusterName(3000, "JPG"))->HandedOver = 1;  // counted all the same
  int32_t files = -1, dirs = -1;
  EXPECT_TRUE(v_.drive.AnalyzeTotalFile(true, true, true, files, dirs));
  EXPECT_EQ(files, 5);
  // DCIM is live: the deleted tree lists it on the way but does not count it.
  EXPECT_EQ(dirs, 1);
  EXPECT_TRUE(v_.drive.AnalyzeTotalFile(true, false, false, files, dirs));
  EXPECT_EQ(files, 3);
  EXPECT_EQ(dirs, 1);
  using Totals = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(host_.totals, (Totals{{0, 0}, {5, 1}, {0, 0}, {3, 1}}));
  EXPECT_EQ(v_.drive.SearchedItem->Nodes->size(), 0u);  // counting copies nothing
}

}  // namespace
}  // namespace kestrella::test
