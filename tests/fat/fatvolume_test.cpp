// The volume under the directory walks: geometry from crafted boot records,
// 12-bit table entries, the empty-table choice and boot sectors that claim
// too much.
#include <gtest/gtest.h>

#include "fatdir_support.h"

namespace kestrella::test {
namespace {

// A boot record with one-sector clusters; FAT32 layout (no fixed root) from
// 65525 clusters on.
TBootRecord Boot(uint32_t clusters, uint8_t perCluster = 1, uint32_t rootCluster = 2) {
  TBootRecord b;
  const bool fat32 = clusters >= 65525;
  const uint32_t perFat = ((clusters + 2) * 4 + 511) / 512, rootEntries = fat32 ? 0 : 512;
  const uint32_t total = 1 + 2 * perFat + rootEntries / 16 + clusters * perCluster;
  auto put = [&](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.raw[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(11, 512, 2);
  put(13, perCluster, 1);
  put(14, 1, 2);
  put(16, 2, 1);
  put(17, rootEntries, 2);
  put(32, total, 4);
  put(fat32 ? 36 : 22, perFat, fat32 ? 4 : 2);
  if (fat32) put(44, rootCluster, 4);
  return b;
}

TEST(FatVolume, ClusterCountThresholdsPickTheTableWidth) {
  for (auto [clusters, type] : {std::pair{4084u, kFat12}, {4085u, kFat16}, {65524u, kFat16}, {65525u, kFat32}}) {
    TFATdrive drive;
    ASSERT_TRUE(drive.CalcDriveInfo(Boot(clusters), true));
    EXPECT_EQ(drive.FATType(), type) << clusters;
    EXPECT_EQ(drive.ClusterCount(), clusters);
    const uint32_t perFat = ((clusters + 2) * 4 + 511) / 512, rootSectors = type == kFat32 ? 0 : 32;
    EXPECT_EQ(drive.RootDirSectors(), rootSectors);
    EXPECT_EQ(drive.FirstDataSector(), 1 + 2 * perFat + rootSectors);
    EXPECT_EQ(static_cast<uint32_t>(drive.RootDirStart()), type == kFat32 ? drive.FirstDataSector() : 1 + 2 * perFat);
  }
}

TEST(FatVolume, BadParametersFailOrInformAndSilenceShowsNothing) {
  ScriptedUi ui;
  EngineContext context(ui);
  TDevice device(context);  // the drive tells the user of its device's engine
  TFATdrive drive;
  drive.Device = &device;
  EXPECT_FALSE(drive.CalcDriveInfo(Boot(5000, 0), false));
  EXPECT_TRUE(drive.CalcDriveInfo(Boot(5000, 128), false));
  EXPECT_TRUE(drive.CalcDriveInfo(Boot(70000, 1, 0), false));
  EXPECT_EQ(drive.RootDirStart(), static_cast<int32_t>(drive.FirstDataSector()) - 2);  // two clusters before
  EXPECT_TRUE(drive.CalcDriveInfo(Boot(70000, 1, 70001), false));
  ASSERT_EQ(ui.shown.size(), 4u);
  EXPECT_EQ(ui.shown[0].caption, "Error");
  EXPECT_EQ(ui.shown[0].text, "Bad parameters for calculating logical drive information from Boot Sector");
  EXPECT_EQ(ui.shown[1].caption, "Information");
  EXPECT_EQ(ui.shown[1].text, "bad parameter in boot sector: bytes per sector (65536) > 32768 !");
  EXPECT_EQ(ui.shown[2].text, "bad parameter in boot sector: root directory cluster (0) < 2 !");
  EXPECT_EQ(ui.shown[3].text, "bad parameter in boot sector: root directory cluster (70001) > count of clusters !");

  EXPECT_FALSE(drive.CalcDriveInfo(Boot(5000, 0), true));
  EXPECT_TRUE(drive.CalcDriveInfo(Boot(70000, 1, 0), true));
  EXPECT_EQ(ui.shown.size(), 4u);
}

TEST(FatVolume, TwelveBitEntriesAreUnpackedAlsoAcrossASectorEnd) {
  TempDir dir;
  const fs::path img = dir / "fat12.img";
  ASSERT_TRUE(MakeCard(img, "-F 12 -s 1", 1440));
  std::vector<uint8_t> bytes = ReadFileBytes(img);
  const Layout l(bytes);
  SetFat(bytes, l, 12, 4, 0xABC);
  SetFat(bytes, l, 12, 5, 0x123);
  const uint8_t* table = bytes.data() + l.FatOffset(0);
  ASSERT_EQ(std::vector<uint8_t>(table + 6, table + 9), (std::vector<uint8_t>{0xBC, 0x3A, 0x12}));
  // Entry 341 starts at byte 511 and ends in the next sector; the second
  // table copy has another value there.
  SetFat(bytes, l, 12, 340, 0x456);
  SetFat(bytes, l, 12, 341, 0x9F5);
  bytes[l.FatOffset(1) + 512] = 0;
  // Entries 1 and count + 2 hold values, yet name no cluster.
  const uint32_t clusters = static_cast<uint32_t>(bytes.size() / 512) - l.firstData;
  ASSERT_NE((table[1] >> 4) | (table[2] << 4), 0);
  SetFat(bytes, l, 12, clusters + 1, 0x0AA);
  SetFat(bytes, l, 12, clusters + 2, 0x321);
  WriteFileBytes(img, bytes);

  ImageVolume v;
  ASSERT_TRUE(v.Mount(img));
  TFATdrive& d = v.drive;
  EXPECT_EQ(d.GetFAT(4, 0), 0xABCu);
  EXPECT_EQ(d.GetFAT(341, 0), 0x9F5u);
  EXPECT_EQ(d.GetFAT(5, 0), 0x123u);
  EXPECT_EQ(d.GetFAT(340, 0), 0x456u);
  EXPECT_EQ(d.GetFAT(341, 1), 0x005u);
  ASSERT_EQ(d.ClusterCount(), clusters);
  EXPECT_EQ(d.GetFAT(clusters + 1, 0), 0x0AAu);
  EXPECT_EQ(d.GetFAT(clusters + 2, 0), 0u);
  EXPECT_EQ(d.GetFAT(1, 0), 0u);
}

TEST(FatVolume, FreshCardsHaveAnEmptyTableUntilAChainIsWritten) {
  TempDir dir;
  const fs::path img = dir / "card.img", file = MakeFile(dir.path(), "A.JPG", 3000);
  for (auto [options, kb] : {std::pair{"-F 12", 1440u}, {"-F 16 -s 1", 16384u}, {"-F 32 -s 1", 40000u}}) {
    SCOPED_TRACE(options);
    ASSERT_TRUE(MakeCard(img, options, kb));
    for (bool copied : {false, true}) {
      if (copied) {
        ASSERT_TRUE(Mtools("mcopy", img, Quote(file.string()) + " ::/A.JPG"));
      }
      ImageVolume v;
      ASSERT_TRUE(v.Mount(img));
      // A fresh FAT32 card has only its root's end-of-chain mark.
      EXPECT_EQ(v.drive.UseFAT(), copied ? 1 : 0);
      EXPECT_EQ((v.drive.StateFlags & kDriveTableEmpty) != 0, !copied);
    }
  }
}

TEST(FatVolume, AClusterCountPastTheImageEndIsCutToTheImage) {
  TempDir dir;
  const fs::path img = dir / "card.img";
  ASSERT_TRUE(MakeCard(img, "-F 16 -s 1", 8192));
  ASSERT_TRUE(Mtools("mcopy", img, Quote(MakeFile(dir.path(), "A.JPG", 5000).string()) + " ::/A.JPG"));
  std::vector<uint8_t> bytes = ReadFileBytes(img);
  const uint32_t sectors = static_cast<uint32_t>(bytes.size() / 512), claimed = sectors * 4;
  bytes[19] = bytes[20] = 0;
  for (int i = 0; i < 4; ++i) bytes[32 + i] = static_cast<uint8_t>(claimed >> (8 * i));
  WriteFileBytes(img, bytes);

  ImageVolume v;
  ASSERT_TRUE(v.Mount(img));
  EXPECT_EQ(v.drive.TotalSectors(), static_cast<int32_t>(claimed));
  EXPECT_EQ(v.drive.ClusterCount(), sectors - Layout(bytes).firstData);
  const std::vector<Listed> listed = Walk(v.Root(), true, false);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].size, 5000u);
}

}  // namespace
}  // namespace kestrella::test
