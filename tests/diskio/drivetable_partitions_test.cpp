// Whole-disk images in the drive table: each FAT partition of the image's
// table becomes a drive of its own that reads, writes and sizes only its own
// part of the file. Disks are stamped images (every sector names itself) with
// tables written over some of their sectors, and the test data's extended-
// partition image.
#include <gtest/gtest.h>

#include "diskiotest.h"

namespace kestrella::test {
namespace {

struct Part {
  uint8_t type;
  uint32_t first, count;
};

// A stamped disk of `sectors` sectors; Table() turns a sector into a table.
class StampedDisk {
 public:
  explicit StampedDisk(uint64_t sectors) : bytes(Stamped(0, sectors)) {}

  void Table(uint32_t sector, std::initializer_list<Part> parts) {
    uint8_t* s = bytes.data() + size_t{sector} * kSector;
    std::fill(s + 446, s + 510, 0);
    int i = 0;
    for (const Part& p : parts) {
      uint8_t* e = s + 446 + 16 * i++;
      e[4] = p.type;
      for (int k = 0; k < 4; ++k) {
        e[8 + k] = static_cast<uint8_t>(p.first >> (8 * k));
        e[12 + k] = static_cast<uint8_t>(p.count >> (8 * k));
      }
    }
    s[510] = 0x55;
    s[511] = 0xAA;
  }

  fs::path Write(const fs::path& p) const {
    WriteFileBytes(p, bytes);
    return p;
  }

  std::vector<uint8_t> bytes;
};

// Sector `stamp` of a stamped disk.
std::vector<uint8_t> StampedSector(uint64_t stamp) { return Stamped(stamp, 1); }

class DriveTablePartitions : public DiskioTest {
 protected:
  // One sector of a drive, read as a device reads it.
  std::vector<uint8_t> ReadSector(uint8_t drive, uint32_t sector, bool* ok = nullptr) {
    std::vector<uint8_t> b(kSector, 0);
    const bool r = deviceAccess.ReadLogicalSectors(drive, sector, 1, b.data());
    if (ok != nullptr) *ok = r;
    return b;
  }
};

// ---- finding the partitions of an image ------------------------------------

TEST_F(DriveTablePartitions, ExtendedChainIsListedInTableOrderThenDepthFirst) {
  StampedDisk disk(3000);
  disk.Table(0, {{0x05, 1000, 1900}, {0x07, 50, 100}, {0x0C, 200, 300}, {0x83, 600, 100}});
  // Volumes relative to their table, links to the first extended partition.
  disk.Table(1000, {{0x06, 10, 100}, {0x0F, 500, 400}});
  disk.Table(1500, {{0x0E, 20, 50}, {0x01, 0, 0}, {0x05, 900, 10}});
  disk.Table(1900, {{0x04, 5, 30}, {0x0B, 2000, 30}});  // the second one starts past the end
  const fs::path image = disk.Write(dir / "disk.img");

  EXPECT_EQ(ImageFatPartitions(image.string()),
            (std::vector<FatPartition>{{200, 300}, {1010, 100}, {1520, 50}, {1905, 30}}));
}

TEST_F(DriveTablePartitions, ChainLoopingBackToAnEarlierTableEnds) {
  StampedDisk disk(2000);
  disk.Table(0, {{0x05, 100, 1800}});
  disk.Table(100, {{0x06, 10, 50}, {0x05, 400, 300}});    // -> 500
  disk.Table(500, {{0x06, 10, 50}, {0x05, 0, 300}, {0x05, 400, 300}});  // -> 100, itself
  const fs::path image = disk.Write(dir / "loop.img");

  EXPECT_EQ(ImageFatPartitions(image.string()),
            (std::vector<FatPartition>{{110, 50}, {510, 50}}));
  const uint8_t d = Drives().AddImage(image.string());
  ASSERT_NE(d, 0);
  EXPECT_EQ(Drives().Drives().size(), 3u);
}

TEST_F(DriveTablePartitions, CardBootSectorsAndUnsignedSectorsAreNoTables) {
  StampedDisk disk(600);
  disk.Table(0, {{0x06, 100, 200}});
  // A boot sector of a card without table: jump, 512 bytes per sector, 55 AA.
  disk.bytes[0] = 0xEB;
  disk.bytes[11] = 0x00;
  disk.bytes[12] = 0x02;
  EXPECT_TRUE(ImageFatPartitions(disk.Write(dir / "card.img").string()).empty());
  disk.bytes[0] = 0xE9;
  EXPECT_TRUE(ImageFatPartitions(disk.Write(dir / "card.img").string()).empty());
  // Boot code that happens to begin with a jump, but no sector size: a table.
  disk.bytes[12] = 0x00;
  EXPECT_EQ(ImageFatPartitions(disk.Write(dir / "mbr.img").string()),
            (std::vector<FatPartition>{{100, 200}}));
  disk.bytes[511] = 0x00;
  EXPECT_TRUE(ImageFatPartitions(disk.Write(dir / "unsigned.img").string()).empty());
  // An extended table without its signature lists nothing either.
  disk.Table(0, {{0x06, 100, 200}, {0x05, 400, 100}});
  disk.Table(400, {{0x06, 10, 50}});
  disk.bytes[400 * kSector + 510] = 0;
  EXPECT_EQ(ImageFatPartitions(disk.Write(dir / "ext.img").string()),
            (std::vector<FatPartition>{{100, 200}}));
}

// ---- the partitions as drives ------------------------------------------------

TEST_F(DriveTablePartitions, PartitionsFollowTheirImageAndOnlyTheImageIsAWholeDisk) {
  const uint8_t before = AddImage("before.img", 64);
  StampedDisk disk(1000);
  disk.Table(0, {{0x06, 100, 200}, {0x0B, 400, 300}});
  const fs::path image = disk.Write(dir / "disk.img");
  const uint8_t d = Drives().AddImage(image.string());
  const uint8_t after = AddImage("after.img", 64);
  ASSERT_EQ(d, before + 1);
  EXPECT_EQ(after, d + 3);

  const std::string path = fs::weakly_canonical(image).string();
  for (uint8_t k = 1; k <= 2; ++k) {
    const DriveEntry* e = Drives().Find(static_cast<uint8_t>(d + k));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->source.path, path);
    EXPECT_EQ(e->source.partition, k);
    EXPECT_FALSE(e->source.wholeDisk);
    EXPECT_TRUE(e->source.removable);
    EXPECT_EQ(e->Caption().rfind(path + " (partition " + std::to_string(k) + ") - ", 0), 0u)
        << e->Caption();
  }
  EXPECT_EQ(Drives().Find(d + 1)->source.offsetBytes, 100u * kSector);
  EXPECT_EQ(Drives().Find(d + 2)->source.lengthBytes, 300u * kSector);
  EXPECT_EQ(Drives().Find(d)->source.partition, 0u);
  EXPECT_EQ(Drives().Find(d)->Caption().find("partition"), std::string::npos);
  // The path names the image; adding it again changes nothing.
  EXPECT_EQ(Drives().FindByPath(path)->number, d);
  EXPECT_EQ(Drives().AddImage(image.string()), d);
  EXPECT_EQ(Drives().Drives().size(), 5u);
  // BIOS numbers go to whole disks only.
  const auto disks = Drives().PhysicalDisks();
  ASSERT_EQ(disks.size(), 3u);
  EXPECT_EQ(disks[1], (std::pair<uint8_t, std::string>{0x81, path}));
}

TEST_F(DriveTablePartitions, SectorAccessStaysInsideThePartition) {
  StampedDisk disk(1000);
  disk.Table(0, {{0x06, 100, 200}, {0x06, 300, 50}});
  const fs::path image = disk.Write(dir / "disk.img");
  const uint8_t d = Drives().AddImage(image.string());
  ASSERT_NE(d, 0);
  const uint8_t p1 = d + 1, p2 = d + 2;

  TLogDriveParams params;
  ASSERT_TRUE(deviceAccess.GetLogDriveParams(p1, params));
  EXPECT_EQ(params.TotalSectors, 200u);
  EXPECT_EQ(params.BytesPerSector, kSector);
  EXPECT_EQ(params.DriveType, DriveKind::Removable);

  bool ok = false;
  EXPECT_EQ(ReadSector(p1, 0, &ok), StampedSector(100));
  EXPECT_TRUE(ok);
  EXPECT_EQ(ReadSector(p2, 49, &ok), StampedSector(349));
  EXPECT_TRUE(ok);
  EXPECT_EQ(ReadSector(p1, 199, &ok), StampedSector(299));
  EXPECT_TRUE(ok);
  // Past the partition's end reads fail as at the end of a card, even where
  // the file goes on.
  ReadSector(p1, 200, &ok);
  EXPECT_FALSE(ok);
  std::vector<uint8_t> two(2 * kSector);
  EXPECT_FALSE(deviceAccess.ReadLogicalSectors(p1, 199, 2, two.data()));

  // Writes land at the partition and never cross its end.
  const std::vector<uint8_t> mark(kSector, 0x5A);
  EXPECT_TRUE(deviceAccess.WriteLogicalSectors(p2, 0, 1, mark.data()));
  EXPECT_FALSE(deviceAccess.WriteLogicalSectors(p2, 50, 1, mark.data()));
  deviceAccess.NT_CloseDrive();
  const std::vector<uint8_t> now = ReadFileBytes(image);
  EXPECT_TRUE(std::equal(mark.begin(), mark.end(), now.begin() + 300 * kSector));
  EXPECT_TRUE(std::equal(now.begin() + 350 * kSector, now.begin() + 351 * kSector,
                         StampedSector(350).begin()));
}

TEST_F(DriveTablePartitions, FaultsMarkedOnTheImageHitItsPartitions) {
  StampedDisk disk(600);
  disk.Table(0, {{0x06, 100, 200}});
  const fs::path image = disk.Write(dir / "disk.img");
  const uint8_t d = Drives().AddImage(image.string());
  ASSERT_NE(d, 0);
  engine.sources.MarkUnreadable(PathOf(d), {101});

  bool ok = false;
  ReadSector(d + 1, 1, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(ReadSector(d + 1, 2, &ok), StampedSector(102));
  EXPECT_TRUE(ok);
  EXPECT_EQ(engine.sources.Get(PathOf(d)).failedReads, 1u);
}

// The letter a handle was opened for may come to name another partition of
// the same image (or the whole image): the handle must not be reused then.
TEST_F(DriveTablePartitions, ReusedHandleTellsPartsOfOneImageApart) {
  StampedDisk disk(1000);
  disk.Table(0, {{0x06, 100, 200}, {0x06, 400, 200}});
  const fs::path image = disk.Write(dir / "disk.img");
  const fs::path other = MakeImage(dir / "other.img", 16, 0, 5000);
  const uint8_t d = Drives().AddImage(image.string());
  ASSERT_NE(d, 0);
  EXPECT_EQ(ReadSector(d + 1, 0), StampedSector(100));

  // Now the image itself moves to d + 1, its first partition to d + 2.
  Drives().Clear();
  ASSERT_EQ(Drives().AddImage(other.string()), d);
  ASSERT_EQ(Drives().AddImage(image.string()), d + 1);
  EXPECT_EQ(ReadSector(d + 1, 0), std::vector<uint8_t>(disk.bytes.begin(), disk.bytes.begin() + kSector));
  EXPECT_EQ(ReadSector(d + 2, 0), StampedSector(100));
  EXPECT_EQ(ReadSector(d + 3, 0), StampedSector(400));
}

TEST_F(DriveTablePartitions, PartitionsTakeOnlyTheLettersLeft) {
  // D: to X: taken: the image gets Y:, its first partition Z:.
  for (int i = 0; i < 21; ++i) AddImage("fill" + std::to_string(i) + ".img", 4);
  StampedDisk disk(1000);
  disk.Table(0, {{0x06, 100, 200}, {0x06, 400, 200}});
  const fs::path image = disk.Write(dir / "disk.img");
  ASSERT_EQ(Drives().AddImage(image.string()), 25);
  ASSERT_NE(Drives().Find(26), nullptr);
  EXPECT_EQ(Drives().Find(26)->source.partition, 1u);
  EXPECT_EQ(Drives().Drives().size(), 23u);

  // No letter for the image: nothing of it stays.
  Drives().Clear();
  for (int i = 0; i < 23; ++i) AddImage("fill" + std::to_string(i) + ".img", 4);
  EXPECT_EQ(Drives().AddImage(image.string()), 0);
  EXPECT_EQ(Drives().Drives().size(), 23u);
  EXPECT_EQ(Drives().FindByPath(fs::weakly_canonical(image).string()), nullptr);
}

// ---- the test data's image of a disk with an extended partition ---------------

TEST_F(DriveTablePartitions, CorpusExtendedPartitionImageGivesSixDrives) {
  const fs::path image = UnzipDataImage("1-extend-part.zip", "ext-part-test-2.dd", dir.path());
  const std::vector<FatPartition> expected{{63, 52353},      {52416, 52416},  {104832, 52416},
                                             {157311, 52353}, {209727, 52353}, {262143, 50337}};
  EXPECT_EQ(ImageFatPartitions(image.string()), expected);

  const uint8_t d = Drives().AddImage(image.string());
  ASSERT_NE(d, 0);
  ASSERT_EQ(Drives().Drives().size(), 7u);
  EXPECT_EQ(Drives().PhysicalDisks().size(), 1u);
  std::ifstream file(image, std::ios::binary);
  for (size_t k = 0; k < expected.size(); ++k) {
    const auto drive = static_cast<uint8_t>(d + 1 + k);
    TLogDriveParams params;
    ASSERT_TRUE(deviceAccess.GetLogDriveParams(drive, params)) << k;
    EXPECT_EQ(params.TotalSectors, expected[k].sectors) << k;
    bool ok = false;
    const std::vector<uint8_t> boot = ReadSector(drive, 0, &ok);
    ASSERT_TRUE(ok) << k;
    std::vector<uint8_t> atOffset(kSector);
    file.seekg(static_cast<std::streamoff>(expected[k].firstSector * kSector));
    file.read(reinterpret_cast<char*>(atOffset.data()), kSector);
    EXPECT_EQ(boot, atOffset) << k;
    EXPECT_EQ(boot[510], 0x55) << k;
  }
}

}  // namespace
}  // namespace kestrella::test
