// Directory walks over entries written by hand: long names (live, deleted,
// interrupted, non-ASCII), short names, the end of the fixed root region and
// of cluster chains, chains that loop, and deleted folders.
#include <gtest/gtest.h>

#include "fat/fatanalyser.h"
#include "fat/names.h"
#include "fatdir_support.h"
#include "support/testsupport.h"

namespace kestrella::test {
namespace {

// A blank 8 MiB FAT16 card, one-sector clusters, a root of 32 entries.
class HandWritten : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeCard(img_, "-F 16 -s 1 -r 32", 8192));
    bytes_ = ReadFileBytes(img_);
  }
  void Root(const std::vector<TDirEntry>& e, uint32_t at = 0) { Put(bytes_, l_().RootOffset() + at * 32, e); }
  void Cluster(uint32_t c, const std::vector<TDirEntry>& e) { Put(bytes_, l_().ClusterOffset(c), e); }
  // `files` short entries "A100.JPG", ... in `cluster`, after "." and ".."
  // when it starts a directory.
  void Folder(uint32_t cluster, int files, char letter, bool dots = false) {
    std::vector<TDirEntry> e;
    if (dots) e = {ShortEntry(".", kAttrDirectory, cluster), ShortEntry("..", kAttrDirectory, 0)};
    for (int i = 0; i < files; ++i) e.push_back(ShortEntry(letter + std::to_string(100 + i) + "    JPG", kAttrArchive, 50, 1));
    Cluster(cluster, e);
  }
  bool Mount() {
    WriteFileBytes(img_, bytes_);
    return v_.Mount(img_);
  }
  // Every (name, entry) FindNextEntry gives, and the UTF-8 names.
  std::vector<std::pair<std::string, TDirEntry>> Entries(uint32_t cluster, bool deleted,
                                                         std::vector<std::string>* utf8 = nullptr) {
    TDirWalk walk{cluster, cluster == 0 ? static_cast<uint32_t>(v_.drive.RootDirStart()) : 0, 0, 0};
    std::vector<std::pair<std::string, TDirEntry>> out;
    std::string name, text;
    TDirEntry e;
    while (out.size() < 100000 && v_.drive.FindNextEntry(walk, deleted, name, e, &text)) {
      out.emplace_back(name, e);
      if (utf8) utf8->push_back(text);
    }
    return out;
  }
  Layout l_() const { return Layout(bytes_); }

  TempDir dir_;
  fs::path img_ = dir_ / "card.img";
  std::vector<uint8_t> bytes_;
  ImageVolume v_;
};

TEST_F(HandWritten, LongNamesWholeDeletedAndInterrupted) {
  Root(Named(u"ABCDEFGHIJKLM", ShortEntry("ABCDEF~1", kAttrArchive, 5, 13)));  // fills its entry: no 0 unit
  std::vector<TDirEntry> deleted = Named(u"Holiday at the sea, day 2 - 001.jpg", ShortEntry("HOLIDA~1JPG", kAttrArchive, 9, 4321));
  ASSERT_EQ(deleted.size(), 4u);
  for (TDirEntry& e : deleted) e.raw[0] = kDeletedMarker;
  Root(deleted, 2);
  // A run that lost its first part, followed by another file's run.
  std::vector<TDirEntry> cut = Named(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abc", ShortEntry("ABCDEF~2TXT", kAttrArchive, 6));
  cut.resize(2);
  const std::vector<TDirEntry> other = Named(u"Other file.txt", ShortEntry("OTHER   TXT", kAttrArchive, 7, 2));
  cut.insert(cut.end(), other.begin(), other.end());
  Root(cut, 6);
  // A run with no short entry after it, at the end of the directory.
  std::vector<TDirEntry> orphan = Named(u"orphan", ShortEntry("ORPHAN", kAttrArchive, 8));
  orphan.pop_back();
  Root(orphan, 11);
  ASSERT_TRUE(Mount());

  const auto all = Entries(0, true);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].first, "ABCDEFGHIJKLM");
  EXPECT_EQ(all[1].first, "Holiday at the sea, day 2 - 001.jpg");
  EXPECT_TRUE(all[1].second.IsDeleted());
  EXPECT_EQ(all[1].second.FileSize(), 4321u);
  // The cut run names nothing; the run after it names its own entry.
  EXPECT_EQ(all[2].first, "Other file.txt");
  EXPECT_EQ(all[2].second.FileSize(), 2u);

  EXPECT_EQ(Entries(0, false).size(), 2u);
  EXPECT_EQ(Paths(Walk(v_.Root(), true, false)),
            (std::vector<std::string>{"ABCDEFGHIJKLM", "Holiday at the sea, day 2 - 001.jpg", "Other file.txt"}));
}

// A run belongs to the short entry after it only when the short name's
// checksum says so. A deleted short name lost its first byte: the run is
// taken when the one first byte that gives its checksum is the long name's
// first character as a short name has it.
TEST_F(HandWritten, ARunNamesOnlyTheShortEntryItsChecksumFits) {
  const struct {
    std::u16string longName;
    std::string madeFor, written;  // the short name of the checksum; the short entry after the run
    bool runDeleted, shortDeleted;
    const char* expected;
  } cases[] = {
      {u"IMG_0001.JPG", "IMG_0001JPG", "IMG_0001JPG", true, true, "IMG_0001.JPG"},
      {u"..hidden dot.jpg", "HIDDEN~1JPG", "HIDDEN~1JPG", true, true, "..hidden dot.jpg"},
      {u"[draft].jpg", "_DRAFT_ JPG", "_DRAFT_ JPG", true, true, "[draft].jpg"},
      {u"\u00E9t\u00E9.jpg", "_T_~1   JPG", "_T_~1   JPG", true, true, "\xC3\xA9t\xC3\xA9.jpg"},
      // A deleted file's slot taken by a new file, live or deleted in turn.
      {u"Old holiday.jpg", "OLDHOL~1JPG", "NEWFILE JPG", true, false, "NEWFILE.JPG"},
      {u"Old holiday.jpg", "OLDHOL~1JPG", "NEWFILE JPG", true, true, "_EWFILE.JPG"},
      // The one first byte that fits the checksum is not the long name's.
      {u"Zebra.jpg", "QEBRA   JPG", "QEBRA   JPG", true, true, "_EBRA.JPG"},
      {u"Live name.jpg", "LIVENA~1JPG", "LIVENA~1JPG", false, false, "Live name.jpg"},
  };
  uint32_t slot = 0;
  for (const auto& c : cases) {
    std::vector<TDirEntry> run = Named(c.longName, ShortEntry(c.madeFor, kAttrArchive, 5, 1));
    run.back() = ShortEntry(c.written, kAttrArchive, 5, 1);
    for (TDirEntry& e : run)
      if (&e == &run.back() ? c.shortDeleted : c.runDeleted) e.raw[0] = kDeletedMarker;
    Root(run, slot);
    slot += static_cast<uint32_t>(run.size());
  }
  ASSERT_TRUE(Mount());
  std::vector<std::string> all, live;
  Entries(0, true, &all);
  Entries(0, false, &live);
  ASSERT_EQ(all.size(), std::size(cases));
  for (size_t k = 0; k < all.size(); ++k) EXPECT_EQ(all[k], cases[k].expected) << k;
  EXPECT_EQ(live, (std::vector<std::string>{"NEWFILE.JPG", "Live name.jpg"}));
  // A deleted file is saved under its long name, whole.
  ASSERT_NE(Find(Walk(v_.Root(), true, false), "IMG_0001.JPG"), nullptr);
}

TEST_F(HandWritten, NamesBecomeUtf8WhileMatchingNamesKeepBytes) {
  // "Café Ünïcødé 😀.jpg" (a surrogate pair at the end).
  Root(Named(u"Caf\u00E9 \u00DCn\u00EFc\u00F8d\u00E9 \xD83D\xDE00.jpg", ShortEntry("CAFUNI~1JPG", kAttrArchive, 5)));
  TDirEntry lower = ShortEntry("PHOTO   JPG", kAttrArchive, 6);
  lower.raw[12] = 0x18;  // base and extension in lower case
  Root({ShortEntry("CAF\x82    TXT", kAttrArchive, 7), ShortEntry("\x05" "ABC    TXT", kAttrArchive, 8), lower,
        ShortEntry("\xE5" "EADME  TXT", kAttrArchive, 9)}, 3);
  ASSERT_TRUE(Mount());
  std::vector<std::string> utf8;
  const auto found = Entries(0, true, &utf8);
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(utf8[0], "Caf\xC3\xA9 \xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xF0\x9F\x98\x80.jpg");
  EXPECT_EQ(found[0].first.substr(0, 4), "Caf\xE9");  // low bytes of the units
  EXPECT_EQ(found[1].first, "CAF\x82.TXT");
  EXPECT_EQ(utf8[1], "CAF\xC3\xA9.TXT");               // code page 437
  EXPECT_EQ(utf8[2], "\xCF\x83" "ABC.TXT");             // 0x05 stands for 0xE5, "σ"
  EXPECT_EQ(found[3].first, "PHOTO.JPG");
  EXPECT_EQ(utf8[3], "photo.jpg");
  EXPECT_EQ(found[4].first, "\xE5" "EADME.TXT");
  EXPECT_EQ(ReplaceDeletedChar(found[4].first), "_EADME.TXT");
  EXPECT_EQ(utf8[4], "_EADME.TXT");
  EXPECT_EQ(TFATAnalyser::CnvName(ShortEntry("MAKEFILE", 0, 0)), "MAKEFILE");
  const uint16_t lone[] = {0xD834, u'x'};
  EXPECT_EQ(Utf16ToUtf8(lone, 2), "\xEF\xBF\xBDx");
  const uint16_t unterminated[] = {u'a', u'b', 0xFFFF, 0xFFFF};  // fill with no 0 before it
  EXPECT_EQ(Utf16ToUtf8(unterminated, 4), "ab");
  const uint16_t inside[] = {u'a', 0xFFFF, u'b', 0xFFFF};
  EXPECT_EQ(Utf16ToUtf8(inside, 4), "a\xEF\xBF\xBD" "b");
}

TEST_F(HandWritten, TheRootRegionEndsAtItsLastSector) {
  std::vector<TDirEntry> full;
  for (int i = 0; i < 32; ++i) full.push_back(ShortEntry(Numbered("F", 1000 + i, "   JPG"), kAttrArchive, 50, 1));
  Root(full);
  Folder(2, 3, 'X');  // the data area that follows looks like entries too
  ASSERT_TRUE(Mount());
  EXPECT_EQ(Entries(0, true).size(), 32u);
  TDirWalk walk{0, static_cast<uint32_t>(v_.drive.RootDirStart()), 0, 0};
  std::vector<uint8_t> sector(512);
  int sectors = 0;
  while (sectors < 5 && v_.drive.ReadDataSec(walk, sector.data())) ++sectors;
  EXPECT_EQ(sectors, 2);
}

TEST_F(HandWritten, ChainsAreFollowedToTheirEndAndAFreeLinkEndsThem) {
  // PHOTOS: clusters 3 -> 7 -> 5; STOPS: 10 with a free link (reading on
  // would reach the root region or cluster 11).
  Root({ShortEntry("PHOTOS", kAttrDirectory, 3), ShortEntry("STOPS", kAttrDirectory, 10)});
  Folder(3, 14, 'A', true);
  Folder(7, 16, 'B');
  Folder(5, 1, 'C');
  Folder(4, 1, 'N');
  Folder(10, 14, 'A', true);
  Folder(11, 1, 'N');
  SetFat(bytes_, l_(), 16, 3, 7);
  SetFat(bytes_, l_(), 16, 7, 5);
  SetFat(bytes_, l_(), 16, 5, 0xFFFF);
  ASSERT_TRUE(Mount());
  ASSERT_EQ(v_.drive.UseFAT(), 1);
  const std::vector<Listed> listed = Walk(v_.Root(), false, false);
  ASSERT_EQ(listed.size(), 2u + 31 + 14);
  EXPECT_EQ(listed[1].path, "PHOTOS\\A100.JPG");
  EXPECT_EQ(listed[15].path, "PHOTOS\\B100.JPG");
  EXPECT_EQ(listed[31].path, "PHOTOS\\C100.JPG");
  EXPECT_EQ(listed.back().path, "STOPS\\A113.JPG");

  TDirWalk walk{3, 0, 0, 0};
  std::vector<uint8_t> sector(512);
  std::vector<uint32_t> clusters;
  while (clusters.size() < 5 && v_.drive.ReadDataSec(walk, sector.data())) clusters.push_back(walk.Cluster);
  EXPECT_EQ(clusters, (std::vector<uint32_t>{3, 7, 5}));
}

TEST_F(HandWritten, WithoutTheTableAFolderTakesConsecutiveClusters) {
  // The table sends 100 to 200, but no link among its first entries makes
  // it count as empty.
  Root({ShortEntry("PHOTOS", kAttrDirectory, 100)});
  Folder(100, 14, 'A', true);
  Folder(101, 16, 'B');
  Folder(102, 2, 'C');
  Folder(200, 1, 'N');
  SetFat(bytes_, l_(), 16, 100, 200);
  ASSERT_TRUE(Mount());
  ASSERT_EQ(v_.drive.UseFAT(), 0);
  const std::vector<Listed> listed = Walk(v_.Root(), false, false);
  ASSERT_EQ(listed.size(), 1u + 14 + 16 + 2);
  EXPECT_EQ(listed.back().path, "PHOTOS\\C101.JPG");
}

TEST_F(HandWritten, ALoopingChainEndsAtTheLargestDirectorySize) {
  Root({ShortEntry("LOOP", kAttrDirectory, 3)});
  Folder(3, 14, 'A', true);
  Folder(4, 16, 'B');
  SetFat(bytes_, l_(), 16, 3, 4);
  SetFat(bytes_, l_(), 16, 4, 3);
  ASSERT_TRUE(Mount());
  ASSERT_GT(v_.drive.ClusterCount(), 4096u);
  // 65536 entries: 4096 clusters of 512 bytes, half of them cluster 3.
  EXPECT_EQ(Entries(3, true).size(), 65536u);
  EXPECT_EQ(Walk(v_.Root(), false, false).size(), 1u + 65536 - 2 * 2048);

  // On a card with fewer clusters than that, the card's count ends it.
  ASSERT_TRUE(MakeCard(img_, "-F 12 -s 1 -r 32", 256));
  bytes_ = ReadFileBytes(img_);
  Folder(3, 14, 'A', true);
  Folder(4, 16, 'B');
  SetFat(bytes_, l_(), 12, 3, 4);
  SetFat(bytes_, l_(), 12, 4, 3);
  ASSERT_TRUE(Mount());
  ASSERT_LT(v_.drive.ClusterCount(), 4096u);
  EXPECT_EQ(Entries(3, true).size(), v_.drive.ClusterCount() * 16u);
}

TEST_F(HandWritten, DeletedFoldersAreListedWhileTheirClusterStillStartsWithDots) {
  Root({ShortEntry("\xE5" "LDDIR", kAttrDirectory, 3), ShortEntry("\xE5" "ONEDIR", kAttrDirectory, 4),
        ShortEntry("\xE5" "EUSED", kAttrDirectory, 6), ShortEntry("\xE5" "ALFDIR", kAttrDirectory, 8)});
  Cluster(3, {ShortEntry(".", kAttrDirectory, 3), ShortEntry("..", kAttrDirectory, 0),
              ShortEntry("\xE5" "ICTURE JPG", kAttrArchive, 10, 1234)});
  Cluster(4, {ShortEntry("JPEGDATAJPG", kAttrArchive, 0)});   // given to a file since
  Cluster(6, {ShortEntry(".", kAttrDirectory, 6), ShortEntry("..", kAttrDirectory, 0)});
  Cluster(8, {ShortEntry(".", kAttrDirectory, 8), ShortEntry("..", kAttrArchive, 0)});
  SetFat(bytes_, l_(), 16, 6, 0xFFFF);                          // a live folder's now
  ASSERT_TRUE(Mount());
  const std::vector<Listed> listed = Walk(v_.Root(), true, false);
  ASSERT_EQ(Paths(listed), (std::vector<std::string>{"_EUSED\\", "_LDDIR\\", "_LDDIR\\_ICTURE.JPG"}));
  EXPECT_TRUE(Find(listed, "_LDDIR\\")->deleted);
  EXPECT_EQ(Find(listed, "_LDDIR\\")->condition, 1);
  EXPECT_EQ(Find(listed, "_EUSED\\")->condition, 2);
  EXPECT_EQ(Find(listed, "_LDDIR\\_ICTURE.JPG")->size, 1234u);
  EXPECT_TRUE(Walk(v_.Root(), false, false).empty());
  EXPECT_FALSE(v_.Root().SubDirFound(false));
  EXPECT_TRUE(v_.Root().SubDirFound(true));
}

}  // namespace
}  // namespace kestrella::test
