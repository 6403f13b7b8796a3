// Cards damaged or crafted on purpose: folders leading back up the tree,
// trees deeper than any card, names that try to leave the destination
// folder, boot sectors with impossible values. Every walk ends with a clear
// result.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "fat/fatanalyser.h"
#include "fatdir_support.h"

namespace kestrella::test {
namespace {

TEST(FatDirHostile, FoldersLeadingBackUpTheTreeAreListedButNotEnteredAgain) {
  TempDir dir;
  const fs::path img = dir / "card.img";
  ASSERT_TRUE(MakeCard(img, "-F 32 -s 1", 40000));
  ASSERT_TRUE(Mtools("mmd", img, "::/A ::/A/B ::/A/B/C"));
  ASSERT_TRUE(Mtools("mcopy", img, Quote(MakeFile(dir.path(), "FILE.TXT", 100).string()) + " ::/A/B/C/"));
  uint32_t a = 0, c = 0;
  {
    ImageVolume v;
    ASSERT_TRUE(v.Mount(img));
    const std::vector<Listed> listed = Walk(v.Root(), false, false);
    ASSERT_EQ(listed.size(), 4u);
    a = Find(listed, "A\\")->cluster;
    c = Find(listed, "A\\B\\C\\")->cluster;
  }
  std::vector<uint8_t> bytes = ReadFileBytes(img);
  const Layout l(bytes);
  // After ".", ".." and FILE.TXT: two ways up to A, one to the root, one
  // past the end of the card, and a deleted one up to A.
  Put(bytes, l.ClusterOffset(c) + 3 * 32,
      {ShortEntry("UP", kAttrDirectory, a), ShortEntry("UP2", kAttrDirectory, a),
       ShortEntry("TOP", kAttrDirectory, l.rootCluster), ShortEntry("FAR", kAttrDirectory, 0x0FFFFFF0),
       ShortEntry("\xE5" "ACK", kAttrDirectory, a)});
  WriteFileBytes(img, bytes);

  ImageVolume v;
  ASSERT_TRUE(v.Mount(img));
  EXPECT_EQ(Paths(Walk(v.Root(), true, false)),
            (std::vector<std::string>{"A\\", "A\\B\\", "A\\B\\C\\", "A\\B\\C\\FAR\\", "A\\B\\C\\FILE.TXT",
                                      "A\\B\\C\\TOP\\", "A\\B\\C\\UP2\\", "A\\B\\C\\UP\\", "A\\B\\C\\_ACK\\"}));
  // Walked from A, the volume's root still counts as entered.
  v.Root().AddChildren(false, false);
  auto& first = dynamic_cast<TFATDirectory&>(*v.Root().Nodes->at(0));
  EXPECT_EQ(Paths(Walk(first, false, false)),
            (std::vector<std::string>{"B\\", "B\\C\\", "B\\C\\FAR\\", "B\\C\\FILE.TXT", "B\\C\\TOP\\",
                                      "B\\C\\UP2\\", "B\\C\\UP\\"}));
}

TEST(FatDirHostile, TreesDeeperThanAnyCardEndAtAFixedDepth) {
  TempDir dir;
  const fs::path img = dir / "card.img";
  ASSERT_TRUE(MakeCard(img, "-F 16 -s 1", 16384));
  std::vector<uint8_t> bytes = ReadFileBytes(img);
  const Layout l(bytes);
  Put(bytes, l.RootOffset(), {ShortEntry("D", kAttrDirectory, 3)});
  for (uint32_t cluster = 3; cluster < 303; ++cluster) {  // 300 levels
    Put(bytes, l.ClusterOffset(cluster), {ShortEntry(".", kAttrDirectory, cluster), ShortEntry("..", kAttrDirectory, cluster - 1),
                                          ShortEntry("D", kAttrDirectory, cluster < 302 ? cluster + 1 : 0)});
    SetFat(bytes, l, 16, cluster, 0xFFFF);
  }
  WriteFileBytes(img, bytes);
  ImageVolume v;
  ASSERT_TRUE(v.Mount(img));
  const std::vector<Listed> listed = Walk(v.Root(), false, false);
  EXPECT_EQ(listed.size(), 256u);
  EXPECT_EQ(listed.back().path.size(), 256u * 2);  // "D\\" 256 times
}

TEST(FatDirHostile, NamesThatTryToLeaveTheFolderStayOneSafeComponent) {
  TempDir dir;
  const fs::path img = dir / "card.img";
  ASSERT_TRUE(MakeCard(img, "-F 16 -s 1", 16384));
  std::vector<uint8_t> bytes = ReadFileBytes(img);
  const Layout l(bytes);
  std::vector<TDirEntry> entries;
  int n = 0;
  for (const std::u16string& name : {std::u16string(u"../../etc/passwd"), std::u16string(u"a/b.jpg"),
                                     std::u16string(u".."), std::u16string(u"."), std::u16string(u"x\x01y")}) {
    const std::vector<TDirEntry> run = Named(name, ShortEntry("EVIL" + std::to_string(++n), kAttrArchive, 10, 1));
    entries.insert(entries.end(), run.begin(), run.end());
  }
  Put(bytes, l.RootOffset(), entries);
  WriteFileBytes(img, bytes);
  ImageVolume v;
  ASSERT_TRUE(v.Mount(img));
  v.Root().AddChildren(false, false);
  std::set<std::string> outputs;
  for (const auto& node : *v.Root().Nodes) outputs.insert(dynamic_cast<TFATFile&>(*node).OutputName());
  EXPECT_EQ(outputs, (std::set<std::string>{".._.._etc_passwd", "a_b.jpg", "_.", "_", "x_y"}));

  EXPECT_EQ(SafeFileName(""), "_");
  EXPECT_EQ(SafeFileName(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(SafeFileName(".hidden"), ".hidden");
  // Longer than Linux takes: cut on a character boundary, extension kept.
  std::string longName = "x";
  for (int i = 0; i < 130; ++i) longName += "\xC3\xA9";
  const std::string safe = SafeFileName(longName + ".jpeg");
  EXPECT_EQ(safe, longName.substr(0, 249) + ".jpeg");
}

TEST(FatDirHostile, ImpossibleBootSectorsGiveAnEmptyTreeAndAClearAnswer) {
  TempDir dir;
  const fs::path img = dir / "card.img";
  ASSERT_TRUE(MakeCard(img, "-F 16 -s 1", 16384));
  ASSERT_TRUE(Mtools("mcopy", img, Quote(MakeFile(dir.path(), "A.JPG", 100).string()) + " ::/"));
  const std::vector<uint8_t> good = ReadFileBytes(img);
  struct Patch {
    size_t at;
    std::vector<uint8_t> value;
    bool mounts;
  };
  for (const Patch& p : {Patch{13, {0}, false},                // sectors per cluster 0
                         Patch{11, {0, 0}, false},             // bytes per sector 0
                         Patch{11, {0x00, 0x10}, true},        // sectors larger than the device's
                         Patch{14, {0, 0, 0, 0, 0}, true}}) {  // no tables, no root region
    SCOPED_TRACE(p.at);
    std::vector<uint8_t> bytes = good;
    std::copy(p.value.begin(), p.value.end(), bytes.begin() + static_cast<std::ptrdiff_t>(p.at));
    WriteFileBytes(img, bytes);
    for (bool silent : {false, true}) {
      ImageVolume v;
      const ScriptedUi& ui = v.engine.ui;
      EXPECT_EQ(v.Mount(img, silent), p.mounts);
      ASSERT_EQ(ui.shown.size(), p.mounts || silent ? 0u : 1u);
      for (const ScriptedUi::Shown& s : ui.shown) EXPECT_EQ(s.caption, "Error");
      EXPECT_TRUE(Walk(v.Root(), true, false).empty());
      EXPECT_FALSE(v.drive.Analyser->IsDirC(2));
    }
  }
}

// As a fuzzer found it: a card cut short of what its boot sector claims, with
// entries that claim nearly 4 GiB. A file is read over its chain and the free
// clusters after it, never past the card's end, and saved as long as that,
// the cut named; the file that fills the rest of the card stays whole.
TEST(FatDirHostile, SizesNoClusterCanHoldAreCutWhereTheFreeClustersEnd) {
  TempDir dir;
  const fs::path img = dir / "card.img";
  ASSERT_TRUE(MakeCard(img, "-F 16 -s 1", 8192));  // 16384 sectors claimed
  std::vector<uint8_t> bytes = ReadFileBytes(img);
  bytes.resize(3000 * 512);
  const Layout l(bytes);
  const uint32_t last = 3000 - l.firstData + 1;  // the card's last cluster
  const uint32_t huge = 0xFFFFFFE4;
  Put(bytes, l.RootOffset(), {ShortEntry("LIVE    JPG", kAttrArchive, 3, huge),
                              ShortEntry("\xE5" "DEL    JPG", kAttrArchive, 10, huge),
                              ShortEntry("REST    JPG", kAttrArchive, 11, (last - 10) * 512)});
  SetFat(bytes, l, 16, 3, 4);
  SetFat(bytes, l, 16, 4, 0xFFFF);
  for (uint32_t c = 11; c <= last; ++c) SetFat(bytes, l, 16, c, c < last ? c + 1 : 0xFFFF);
  WriteFileBytes(img, bytes);

  ImageVolume v;
  ASSERT_TRUE(v.Mount(img));
  ASSERT_EQ(v.drive.ClusterCount() + 1, last);
  // LIVE: its two clusters and the free 5..10 after them.
  TFATFileInfo info;
  v.drive.ResetByCluster(3, huge, info);
  std::vector<uint8_t> buffer(65536);
  uint64_t read = 0;
  for (uint32_t got = 1, calls = 0; got != 0 && calls < 100; ++calls) {
    ASSERT_TRUE(v.drive.BlockRead(info, 65536, buffer.data(), 1, got));
    read += got;
  }
  ASSERT_EQ(read, 8u * 512);

  bool replaceAll = true, replaceAnswer = true;
  ASSERT_TRUE(v.drive.SaveDirectory(v.Root(), dir.path(), true, true, false, 1, replaceAll, replaceAnswer));
  const std::string cut = " of its 4294967268 bytes: no more clusters of the card can hold it";
  const struct {
    const char* name;
    uint64_t size;
    std::string reason;
  } files[] = {{"LIVE.JPG", 8 * 512, "cut after 4096" + cut},
               {"_DEL.JPG", 512, "cut after 512" + cut},
               {"REST.JPG", (last - 10) * 512, ""}};
  const std::vector<FileProblem>& problems = v.drive.SaveProblems.Problems();
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const fs::path saved = dir / "Root" / f.name;
    EXPECT_EQ(fs::file_size(saved), f.size);
    const auto p = std::find_if(problems.begin(), problems.end(),
                                [&](const FileProblem& x) { return x.file == saved.string(); });
    EXPECT_EQ(p != problems.end() ? p->reason : "", f.reason);
    EXPECT_TRUE(p == problems.end() || p->kind == FileProblem::Kind::Damaged);
  }
  EXPECT_EQ(problems.size(), 2u);
}

// Each folder names the next one twice, twelve levels down: listed or saved,
// every folder is entered once, not once per path (4096 here, 2^40 for
// forty levels). Two deleted photos that show the same name both come back.
TEST(FatDirHostile, AFolderNamedTwiceIsSavedOnceAndSameNamedFilesStayApart) {
  TempDir dir;
  const fs::path img = dir / "card.img";
  ASSERT_TRUE(MakeCard(img, "-F 16 -s 1", 16384));
  std::vector<uint8_t> bytes = ReadFileBytes(img);
  const Layout l(bytes);
  constexpr uint32_t kLevels = 12, kFirst = 3, kPhotoA = 40, kPhotoB = 41;
  Put(bytes, l.RootOffset(), {ShortEntry("A", kAttrDirectory, kFirst), ShortEntry("B", kAttrDirectory, kFirst)});
  for (uint32_t c = kFirst; c < kFirst + kLevels; ++c) {
    const uint32_t next = c + 1 < kFirst + kLevels ? c + 1 : 0;
    std::vector<TDirEntry> entries = {ShortEntry(".", kAttrDirectory, c), ShortEntry("..", kAttrDirectory, 0)};
    if (next != 0) {
      entries.push_back(ShortEntry("A", kAttrDirectory, next));
      entries.push_back(ShortEntry("B", kAttrDirectory, next));
    } else {  // the deepest: IMG_0005.JPG and AMG_0005.JPG, both deleted
      entries.push_back(ShortEntry("\xE5MG_0005JPG", kAttrArchive, kPhotoA, 512));
      entries.push_back(ShortEntry("\xE5MG_0005JPG", kAttrArchive, kPhotoB, 512));
    }
    Put(bytes, l.ClusterOffset(c), entries);
    SetFat(bytes, l, 16, c, 0xFFFF);
  }
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(l.ClusterOffset(kPhotoA)), 512, uint8_t{'a'});
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(l.ClusterOffset(kPhotoB)), 512, uint8_t{'b'});
  WriteFileBytes(img, bytes);

  ImageVolume v;
  ASSERT_TRUE(v.Mount(img));
  bool replaceAll = false, replaceAnswer = false;
  fs::create_directories(dir / "out");
  ASSERT_TRUE(v.drive.SaveDirectory(v.Root(), dir / "out", true, true, false, 1, replaceAll, replaceAnswer));
  std::vector<fs::path> saved;
  for (const auto& e : fs::recursive_directory_iterator(dir / "out"))
    if (e.is_regular_file()) saved.push_back(e.path());
  ASSERT_EQ(saved.size(), 2u);
  std::set<std::string> names, contents;
  for (const fs::path& p : saved) {
    names.insert(p.filename().string());
    const std::vector<uint8_t> b = ReadFileBytes(p);
    contents.insert(std::string(b.begin(), b.end()));
  }
  EXPECT_EQ(names, (std::set<std::string>{"_MG_0005.JPG", "_MG_0005 (2).JPG"}));
  EXPECT_EQ(contents, (std::set<std::string>{std::string(512, 'a'), std::string(512, 'b')}));
}

}  // namespace
}  // namespace kestrella::test
