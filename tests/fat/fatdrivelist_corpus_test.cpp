// The test data's disk with three primary FAT16 partitions and an extended
// chain of three more: found by the drive list on the whole disk, and
// mounted through the drive letters the drive table gives its partitions.
#include <gtest/gtest.h>

#include "devices/devicelist.h"
#include "diskio/drivetable.h"
#include "diskio/logicalio.h"
#include "diskio/pdiskio.h"
#include "fat/fatdrivelist.h"
#include "fatdir_support.h"

namespace kestrella::test {
namespace {

struct Expected {
  uint32_t start, count;
};
const std::vector<Expected> kPartitions{{63, 52353},      {52416, 52416},  {104832, 52416},
                                        {157311, 52353}, {209727, 52353}, {262143, 50337}};

// The volume a boot sector describes ends within its partition, at most a
// track short of its end (the last one here leaves one sector unused).
void ExpectFillsItsPartition(const TFATdrive& d, uint32_t partitionSectors, size_t k) {
  const auto total = static_cast<uint32_t>(d.TotalSectors());
  EXPECT_LE(total, partitionSectors) << k;
  EXPECT_GT(total + 63, partitionSectors) << k;
}

class ExtendedPartitionCorpus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    image_ = UnzipDataImage("1-extend-part.zip", "ext-part-test-2.dd", dir_->path());
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    ASSERT_FALSE(image_.empty()) << "the disk image did not unzip";
    image = engine.context.drives().AddImage(image_.string());
    ASSERT_NE(image, 0);
  }

  static TempDir* dir_;
  static fs::path image_;
  TestEngine engine;
  ScriptedUi& ui = engine.ui;
  uint8_t image = 0;
};
TempDir* ExtendedPartitionCorpus::dir_ = nullptr;
fs::path ExtendedPartitionCorpus::image_;

TEST_F(ExtendedPartitionCorpus, WholeDiskByBiosNumberListsSixFat16Drives) {
  TDevice device(engine.context);
  device.Kind = kDevicePhysical;
  device.DriveNumber = 0x80;
  ASSERT_EQ(engine.context.drives().PhysicalDiskPath(0x80), image_.string());
  TPhysDriveParams params;
  ASSERT_TRUE(PhysicalSectorAccess(engine.context).GetPhysDriveParams(0x80, params));
  device.TotalSectors = params.TotalSectors;
  device.BytesPerSector = params.BytesPerSector;
  device.Partitioned = 1;

  TDriveList list;
  EXPECT_EQ(GetFATDrive(list, device), nullptr);
  ASSERT_EQ(list.count(), static_cast<int>(kPartitions.size()));
  for (size_t k = 0; k < kPartitions.size(); ++k) {
    auto* d = static_cast<TFATdrive*>(list.GetDrive(static_cast<int>(k)));
    EXPECT_EQ(d->BootSector, kPartitions[k].start) << k;
    EXPECT_EQ(d->StartSector, kPartitions[k].start) << k;
    EXPECT_EQ(d->SectorCount, kPartitions[k].count) << k;
    EXPECT_EQ(d->FATType(), kFat16) << k;
    ExpectFillsItsPartition(*d, kPartitions[k].count, k);
    EXPECT_NE(d->RootItem, nullptr) << k;
  }
  EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ExtendedPartitionCorpus, EachPartitionLetterMountsAsAFat16Card) {
  LogicalSectorAccess access(kLdiskioTraits, engine.context);
  for (size_t k = 0; k < kPartitions.size(); ++k) {
    const auto letter = static_cast<uint8_t>(image + 1 + k);
    TLogDriveParams params;
    ASSERT_TRUE(access.GetLogDriveParams(letter, params)) << k;
    EXPECT_EQ(params.TotalSectors, kPartitions[k].count) << k;

    TDevice device(engine.context);
    device.Kind = kDeviceLogical;
    device.DriveNumber = letter;
    device.TotalSectors = params.TotalSectors;
    device.BytesPerSector = params.BytesPerSector;
    device.Removable = 1;
    ASSERT_TRUE(DriveHoldsFat(engine.context, letter)) << k;

    TDriveList list;
    TFATdrive* d = GetFATDrive(list, device);
    ASSERT_NE(d, nullptr) << k;
    EXPECT_EQ(d->StartSector, 0u);
    EXPECT_EQ(d->SectorCount, kPartitions[k].count) << k;
    EXPECT_EQ(d->FATType(), kFat16) << k;
    ExpectFillsItsPartition(*d, kPartitions[k].count, k);
  }
  // The whole image itself holds no volume at its sector 0.
  EXPECT_FALSE(DriveHoldsFat(engine.context, image));
}

}  // namespace
}  // namespace kestrella::test
