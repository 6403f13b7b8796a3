// The tree of folders and files: cards made by mkfs.fat and mtools list
// exactly what was put on them, live and deleted, for every table width and
// cluster sizes from 512 bytes to 32 KiB; and the nodes' paths, rows,
// sorting and copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "fatdir_support.h"

namespace kestrella::test {
namespace {

struct CardKind {
  const char* label;
  const char* options;
  uint32_t kb;
  uint8_t type;
  uint32_t bytesPerCluster;
};

class FatCards : public ::testing::TestWithParam<CardKind> {};

using Content = std::map<std::string, uint32_t>;  // path -> size; folders end with "\"

Content AsContent(const std::vector<Listed>& listed) {
  Content c;
  for (const Listed& l : listed) c[l.path] = l.size;
  return c;
}

TEST_P(FatCards, ListExactlyWhatWasPutOnThem) {
  TempDir dir;
  const fs::path img = dir / "card.img", stage = dir / "stage";
  fs::create_directories(stage);
  ASSERT_TRUE(MakeCard(img, GetParam().options, GetParam().kb));
  Content live = {{"IMG_0001.JPG", 5000}, {"Thirteen_char", 700}, {"empty.txt", 0}, {"photo.jpg", 300},
                  {"DCIM\\", 0}, {"DCIM\\100CANON\\", 0}, {"Deep\\", 0}, {"Deep\\Level 2\\", 0},
                  {"Deep\\Level 2\\file in depth.txt", 2048}};
  Content deleted = {{"holiday photo 2023.jpeg", 1234}, {"Old Folder\\", 0}, {"Old Folder\\a photo.jpg", 1500},
                     {"Old Folder\\_EACH.JPG", 2500}, {"DCIM\\100CANON\\_MG_1005.JPG", 285}};
  auto copy = [&](std::map<std::string, uint32_t> files, const std::string& to) {
    std::string args;
    for (const auto& [name, size] : files) args += Quote(MakeFile(stage, name, size).string()) + " ";
    return Mtools("mcopy", img, args + Quote(to));
  };
  ASSERT_TRUE(copy({{"IMG_0001.JPG", 5000}, {"holiday photo 2023.jpeg", 1234}, {"Thirteen_char", 700},
                    {"empty.txt", 0}, {"photo.jpg", 300}}, "::/"));
  ASSERT_TRUE(Mtools("mmd", img, "::/DCIM ::/DCIM/100CANON ::/Deep '::/Deep/Level 2' '::/Old Folder'"));
  // Enough photos for the folder to need several small clusters.
  std::map<std::string, uint32_t> photos;
  for (uint32_t i = 0; i < 40; ++i) photos["IMG_" + std::to_string(1000 + i) + ".JPG"] = 100 + i * 37;
  ASSERT_TRUE(copy(photos, "::/DCIM/100CANON/"));
  for (const auto& [name, size] : photos)
    if (name != "IMG_1005.JPG") live["DCIM\\100CANON\\" + name] = size;
  ASSERT_TRUE(copy({{"file in depth.txt", 2048}}, "::/Deep/Level 2/"));
  ASSERT_TRUE(copy({{"a photo.jpg", 1500}, {"BEACH.JPG", 2500}}, "::/Old Folder/"));
  ASSERT_TRUE(Mtools("mdel", img, "::/DCIM/100CANON/IMG_1005.JPG '::/holiday photo 2023.jpeg'"));
  ASSERT_TRUE(Mtools("mdeltree", img, "'::/Old Folder'"));

  ImageVolume v;
  ASSERT_TRUE(v.Mount(img));
  ASSERT_EQ(v.drive.FATType(), GetParam().type);
  ASSERT_EQ(v.drive.BytesPerCluster(), GetParam().bytesPerCluster);

  const std::vector<Listed> liveList = Walk(v.Root(), false, false);
  EXPECT_EQ(AsContent(liveList), live);
  EXPECT_EQ(liveList.size(), live.size());
  EXPECT_EQ(Find(liveList, "photo.jpg")->name, "PHOTO.JPG");  // short name, shown in lower case

  Content all = live;
  all.insert(deleted.begin(), deleted.end());
  const std::vector<Listed> allList = Walk(v.Root(), true, false);
  EXPECT_EQ(AsContent(allList), all);
  for (const Listed& l : allList) {
    EXPECT_EQ(l.deleted, deleted.count(l.path) != 0) << l.path;
    // Nothing was written after the deletes: every first cluster is still free.
    EXPECT_EQ(l.condition, l.deleted ? 1 : 0) << l.path;
  }

  Content deletedOnly = deleted;  // and every folder
  for (const auto& [path, size] : live)
    if (path.back() == '\\') deletedOnly[path] = size;
  EXPECT_EQ(AsContent(Walk(v.Deleted(), true, true)), deletedOnly);

  // One level; a list built by a walk is disposed again, one built before stays.
  TFATDirectory& root = v.Root();
  EXPECT_EQ(Walk(root, false, false, false).size(), 6u);
  EXPECT_EQ(root.Nodes, nullptr);
  root.AddChildren(false, false);
  EXPECT_TRUE(root.ChildIsSubDir());
  EXPECT_EQ(Walk(root, false, false, false).size(), 6u);
  ASSERT_NE(root.Nodes, nullptr);
  // A false answer stops the walk.
  int calls = 0;
  EXPECT_FALSE(root.ForEachChild([&](TCustomNode&, intptr_t) { return ++calls < 3; }, false, false, true, 0));
  EXPECT_EQ(calls, 3);
}

const CardKind kCards[] = {
    {"Fat12Clusters512", "-F 12 -s 1", 1440, kFat12, 512},
    {"Fat12Clusters4K", "-F 12 -s 8", 8192, kFat12, 4096},
    {"Fat16Clusters512", "-F 16 -s 1", 16384, kFat16, 512},
    {"Fat16Clusters32K", "-F 16 -s 64", 262144, kFat16, 32768},
    {"Fat32Clusters512", "-F 32 -s 1 -S 512", 40000, kFat32, 512},
    {"Fat32Clusters4K", "-F 32 -s 8 -S 512", 300000, kFat32, 4096},
    {"Fat32Clusters32K", "-F 32 -s 64 -S 512", 2200000, kFat32, 32768},  // sparse
};
INSTANTIATE_TEST_SUITE_P(Kinds, FatCards, ::testing::ValuesIn(kCards),
                         [](const ::testing::TestParamInfo<CardKind>& info) { return info.param.label; });

TEST(FatDirNodes, PathsRowsAndCopies) {
  TFATDirectory root, a, b;
  TFATFile file;
  root.Name = root.Utf8Name = "Root";
  a.Name = a.Utf8Name = "A";
  a.Parent = &root;
  b.Name = "\xE5" "ILDER";
  b.Parent = &a;
  b.FirstCluster = 77;
  file.Name = "PHOTO.JPG";
  file.Utf8Name = "photo.jpg";
  file.Parent = &b;
  EXPECT_EQ(b.GetPath(&root), "A\\_ILDER");
  EXPECT_EQ(b.GetPath(nullptr), "Root\\A\\_ILDER");
  EXPECT_EQ(root.GetPath(&root), "");
  EXPECT_EQ(file.GetPath(&root), "A\\_ILDER");  // a file's path is its folder's

  file.Size = 4294967295u;
  file.FirstCluster = 1234;
  file.Time = (14 << 11) | (5 << 5);
  file.Date = (24 << 9) | (1 << 5) | 1;
  file.Condition = 1;
  TListItem row;
  file.ChangeListViewItem(row);
  EXPECT_EQ(row.Caption, "photo.jpg");
  EXPECT_EQ(row.SubItems, (std::vector<std::string>{"4294967295", "01.01.2004 14:05", "1234", "1", row.SubItems.at(4)}));
  EXPECT_FALSE(row.SubItems[4].empty());  // a type name for ".jpg"
  b.ChangeListViewItem(row);
  EXPECT_EQ(row.Caption, "_ILDER");
  EXPECT_EQ(row.SubItems[0], "");
  EXPECT_EQ(row.SubItems[2], "77");
  EXPECT_EQ(row.Data, &b);

  b.Nodes = std::make_shared<TNodeList>();
  TFATDirectory dirCopy;
  b.duplicate(dirCopy);
  EXPECT_EQ(dirCopy.Nodes, b.Nodes);
  EXPECT_EQ(dirCopy.FirstCluster, 77u);
  EXPECT_EQ(dirCopy.Parent, &a);
  TFATFile fileCopy;
  file.duplicate(fileCopy);
  EXPECT_EQ(fileCopy.Size, file.Size);
  EXPECT_EQ(fileCopy.Date, file.Date);
  EXPECT_EQ(fileCopy.Utf8Name, "photo.jpg");
  EXPECT_TRUE(fileCopy.Rename("a/b"));
  EXPECT_EQ(fileCopy.OutputName(), "a_b");
}

TEST(FatDirNodes, SortingPutsFoldersFirstAndComparesSizesAndDatesByValue) {
  TFATDirectory parent, folder;
  std::vector<std::unique_ptr<TFATFile>> files;
  std::vector<TListItem> rows;
  const uint32_t sizes[] = {10, 9, 1000, 0, 100};
  const uint16_t dates[] = {(40 << 9) | (3 << 5) | 1, (41 << 9) | (1 << 5) | 30, (39 << 9) | (12 << 5) | 31,
                            (41 << 9) | (1 << 5) | 2, (40 << 9) | (2 << 5) | 29};
  for (int i = 0; i < 5; ++i) {
    files.push_back(std::make_unique<TFATFile>());
    files.back()->Utf8Name = "F" + std::to_string(i);
    files.back()->Size = sizes[i];
    files.back()->Date = dates[i];
    rows.emplace_back();
    files.back()->ChangeListViewItem(rows.back());
  }
  folder.Utf8Name = "Z";
  rows.emplace_back();
  folder.ChangeListViewItem(rows.back());
  auto order = [&](int column) {
    std::vector<TListItem> sorted = rows;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const TListItem& x, const TListItem& y) { return parent.CompareChildren(x, y, column) < 0; });
    std::string names;
    for (const TListItem& r : sorted) names += r.Caption + " ";
    return names;
  };
  EXPECT_EQ(order(0), "Z F0 F1 F2 F3 F4 ");
  EXPECT_EQ(order(1), "Z F3 F1 F0 F4 F2 ");  // 9 before 10
  EXPECT_EQ(order(2), "Z F2 F4 F0 F3 F1 ");  // 31.12.2019 ... 30.01.2021
  TListItem noDate = rows[0], empty = rows[0];
  noDate.SubItems[1] = "yesterday";
  empty.SubItems[0] = "";
  EXPECT_EQ(parent.CompareChildren(noDate, rows[1], 2), 0);
  EXPECT_EQ(parent.CompareChildren(rows[3], empty, 1), 0);  // an empty size is 0
}

}  // namespace
}  // namespace kestrella::test
