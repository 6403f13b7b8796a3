// Drive letters and BIOS numbers from a made-up /sys/class/block and from
// image files.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "diskio/systemdisk.h"
#include "diskiotest.h"
#include "support/testsupport.h"

namespace kestrella::test {
namespace {

// A sysfs block tree laid out as the kernel does it: every device has a
// folder under devices/, partitions inside their disk's folder, and the class
// folder holds a link to each.
class FakeSysfs {
 public:
  explicit FakeSysfs(const fs::path& root)
      : classDir_(root / "class" / "block"), devicesDir_(root / "devices"), devDir_(root / "dev") {
    fs::create_directories(classDir_);
    fs::create_directories(devicesDir_);
    fs::create_directories(devDir_);
  }

  SystemRoots Roots(const std::string& rootDevice) const {
    SystemRoots r;
    r.sysClassBlock = classDir_.string();
    r.devDir = devDir_.string();
    r.rootDevice = rootDevice;
    return r;
  }
  std::string DevPath(const std::string& name) const { return (devDir_ / name).string(); }

  // `sectors` counts 512-byte units, as sysfs does.
  void Disk(const std::string& name, uint64_t sectors, int removable, const std::string& dev,
            int ro = 0, int logicalBlockSize = 512) {
    const fs::path d = devicesDir_ / name;
    fs::create_directories(d / "queue");
    Put(d / "size", std::to_string(sectors));
    Put(d / "removable", std::to_string(removable));
    Put(d / "ro", std::to_string(ro));
    Put(d / "dev", dev);
    Put(d / "queue" / "logical_block_size", std::to_string(logicalBlockSize));
    fs::create_directory_symlink(d, classDir_ / name);
  }

  // A device-mapper or RAID volume resting on `slaves`.
  void Stacked(const std::string& name, uint64_t sectors, const std::string& dev,
               const std::vector<std::string>& slaves) {
    Disk(name, sectors, 0, dev);
    fs::create_directories(devicesDir_ / name / "slaves");
    for (const std::string& s : slaves)
      fs::create_directory_symlink(fs::canonical(classDir_ / s), devicesDir_ / name / "slaves" / s);
  }
  std::string ClassDir() const { return classDir_.string(); }
  // The MMC core's word for what sits in an mmcblk slot: "MMC" (eMMC) or "SD".
  void MmcType(const std::string& disk, const std::string& type) {
    fs::create_directories(devicesDir_ / disk / "device");
    Put(devicesDir_ / disk / "device" / "type", type);
  }

  void Partition(const std::string& disk, const std::string& name, uint64_t sectors,
                 const std::string& dev) {
    const fs::path d = devicesDir_ / disk / name;
    fs::create_directories(d);
    Put(d / "size", std::to_string(sectors));
    Put(d / "ro", "0");
    Put(d / "dev", dev);
    Put(d / "partition", name.substr(name.find_last_not_of("0123456789") + 1));
    Put(d / "start", "2048");
    fs::create_directory_symlink(d, classDir_ / name);
  }

 private:
  static void Put(const fs::path& p, const std::string& text) { std::ofstream(p) << text << "\n"; }

  fs::path classDir_, devicesDir_, devDir_;
};

class DriveTableTest : public DiskioTest {
 protected:
  std::map<char, std::string> Letters() {
    std::map<char, std::string> out;
    for (const DriveEntry& e : Drives().Drives()) out[e.Letter()] = e.source.name;
    return out;
  }
  const DriveSource& Source(char letter) {
    const DriveEntry* e = Drives().Find(static_cast<uint8_t>(letter - 64));
    if (e == nullptr) throw std::runtime_error(std::string("no drive ") + letter);
    return e->source;
  }
};

// A machine with two floppies, a system disk, a card reader with a card and
// one without, eMMC, NVMe, loop devices, an optical drive and compressed RAM.
void BuildMachine(FakeSysfs& sys) {
  sys.Disk("fd0", 2880, 1, "2:0");
  sys.Disk("fd1", 2880, 1, "2:1");
  sys.Disk("sda", 976773168, 0, "8:0");
  sys.Partition("sda", "sda1", 1048576, "8:1");
  sys.Partition("sda", "sda2", 400000000, "8:2");
  sys.Partition("sda", "sda10", 2097152, "8:10");
  sys.Disk("sdb", 31116288, 1, "8:16");
  sys.Partition("sdb", "sdb1", 31114240, "8:17");
  sys.Disk("sdc", 0, 1, "8:32");  // card reader, no card
  sys.Disk("sdd", 0, 0, "8:48");  // fixed and empty: nothing there
  sys.Disk("sr0", 0, 1, "11:0");
  sys.Disk("zram0", 8388608, 0, "252:0");
  sys.Disk("mmcblk0", 62333952, 0, "179:0");
  sys.Partition("mmcblk0", "mmcblk0p1", 62325760, "179:1");
  sys.Disk("mmcblk0boot0", 8192, 0, "179:8", 1);
  sys.Disk("mmcblk0boot1", 8192, 0, "179:16", 1);
  sys.Disk("mmcblk0rpmb", 8192, 0, "179:24");
  sys.Disk("loop0", 0, 0, "7:0");
  sys.Disk("loop1", 113000, 0, "7:1", 1);  // an attached software package
  sys.Disk("loop2", 2048, 0, "7:2");
  sys.Disk("nvme0n1", 1953525168, 0, "259:0", 0, 4096);
  sys.Partition("nvme0n1", "nvme0n1p1", 1953523120, "259:1");
}

TEST_F(DriveTableTest, ScanGivesFixedLettersThenNameOrderThenImages) {
  FakeSysfs sys(dir / "sys");
  BuildMachine(sys);
  Drives().ScanSystem(sys.Roots("8:2"));
  const uint8_t first = Drives().AddImage(MakeImage(dir / "b.img", 3));
  const uint8_t second = Drives().AddImage(MakeImage(dir / "a.img", 2880));

  const std::map<char, std::string> expected = {
      {'A', "fd0"},     {'B', "fd1"},       {'C', "sda2"},      {'D', "loop2"},
      {'E', "mmcblk0"}, {'F', "mmcblk0p1"}, {'G', "nvme0n1"},   {'H', "nvme0n1p1"},
      {'I', "sda"},     {'J', "sda1"},      {'K', "sda10"},     {'L', "sdb"},
      {'M', "sdb1"},    {'N', "sdc"},       {'O', "sr0"},       {'P', "zram0"},
      {'Q', "b.img"},   {'R', "a.img"}};
  EXPECT_EQ(Letters(), expected);
  EXPECT_EQ(first, 17);
  EXPECT_EQ(second, 18);

  // A rescan lists the devices anew and keeps the images after them.
  Drives().ScanSystem(sys.Roots("8:2"));
  EXPECT_EQ(Letters(), expected);

  // An image named before the scan still follows the devices.
  Drives().Clear();
  EXPECT_EQ(Drives().AddImage((dir / "a.img").string()), 4);
  Drives().ScanSystem(sys.Roots("8:2"));
  EXPECT_EQ(Letters()['Q'], "a.img");
}

TEST_F(DriveTableTest, ScanDescribesEachKindOfDevice) {
  FakeSysfs sys(dir / "sys");
  BuildMachine(sys);
  Drives().ScanSystem(sys.Roots("8:2"));
  Drives().AddImage(MakeImage(dir / "card.img", 3));

  const DriveSource& fd0 = Source('A');
  EXPECT_TRUE(fd0.floppy);
  EXPECT_TRUE(fd0.removable);
  EXPECT_EQ(fd0.rootType, RootKind::Removable);
  EXPECT_EQ(fd0.path, sys.DevPath("fd0"));

  EXPECT_EQ(Source('I').rootType, RootKind::Fixed);
  EXPECT_FALSE(Source('I').removable);
  EXPECT_TRUE(Source('I').wholeDisk);
  EXPECT_EQ(Source('J').rootType, RootKind::Fixed);
  EXPECT_FALSE(Source('J').wholeDisk);
  EXPECT_EQ(Source('D').rootType, RootKind::Fixed);  // a loop device in use

  // A card reader's partition takes removable from its disk.
  EXPECT_EQ(Source('L').rootType, RootKind::Removable);
  EXPECT_EQ(Source('M').rootType, RootKind::Removable);
  EXPECT_TRUE(Source('M').removable);
  EXPECT_EQ(Source('M').sizeBytes, 31114240ull * 512);
  // eMMC reports itself fixed but holds cards.
  EXPECT_TRUE(Source('E').removable);
  EXPECT_TRUE(Source('F').removable);
  EXPECT_EQ(Source('F').rootType, RootKind::Removable);
  // The empty reader stays, with nothing in it.
  EXPECT_EQ(Source('N').sizeBytes, 0u);
  EXPECT_TRUE(Source('N').removable);

  EXPECT_EQ(Source('O').rootType, RootKind::CDROM);
  EXPECT_TRUE(Source('O').removable);
  EXPECT_EQ(Source('P').rootType, RootKind::RamDisk);

  // Sector size from the queue, for partitions from their disk's queue.
  EXPECT_EQ(Source('G').sectorSize, 4096u);
  EXPECT_EQ(Source('G').sizeBytes, 1953525168ull * 512);  // sysfs counts 512 bytes whatever the sector
  EXPECT_EQ(Source('H').sectorSize, 4096u);
  EXPECT_EQ(Source('I').sectorSize, 512u);

  EXPECT_EQ(Source('Q').rootType, RootKind::Removable);
  EXPECT_TRUE(Source('Q').isImage);
  EXPECT_TRUE(Source('Q').wholeDisk);

  const DriveEntry* m = Drives().Find(13);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Caption(), sys.DevPath("sdb1") + " - 15.9 GB");
  EXPECT_EQ(m->RootPath(), "M:\\");
  EXPECT_EQ(Drives().Find(14)->Caption(), sys.DevPath("sdc") + " - 0 bytes");
  EXPECT_EQ(Drives().Find(17)->Caption(), (dir / "card.img").string() + " - 1.5 KB");
  EXPECT_EQ(Drives().Find(5)->RootPath(), "E:\\");
}

// Built-in eMMC is the machine's own disk, a card in an SD slot is a card;
// a write-protected card says so.
TEST_F(DriveTableTest, BuiltInEmmcIsFixedAndALockedCardReadOnly) {
  FakeSysfs sys(dir / "sys");
  sys.Disk("mmcblk0", 62333952, 0, "179:0");
  sys.Partition("mmcblk0", "mmcblk0p1", 62325760, "179:1");
  sys.MmcType("mmcblk0", "MMC");
  sys.Disk("mmcblk1", 31116288, 0, "179:32", 1);
  sys.MmcType("mmcblk1", "SD");
  Drives().ScanSystem(sys.Roots("8:2"));
  const std::map<std::string, std::pair<RootKind, bool>> want = {
      {"mmcblk0", {RootKind::Fixed, false}},
      {"mmcblk0p1", {RootKind::Fixed, false}},
      {"mmcblk1", {RootKind::Removable, true}}};
  for (const DriveEntry& e : Drives().Drives()) {
    SCOPED_TRACE(e.source.name);
    ASSERT_EQ(want.count(e.source.name), 1u);
    EXPECT_EQ(e.source.rootType, want.at(e.source.name).first);
    EXPECT_EQ(e.source.readOnly, want.at(e.source.name).second);
  }
}

TEST_F(DriveTableTest, BiosNumbersAreFloppiesThenWholeDisksThenImages) {
  FakeSysfs sys(dir / "sys");
  BuildMachine(sys);
  Drives().ScanSystem(sys.Roots("8:2"));
  const std::string img1 = MakeImage(dir / "one.img", 4).string();
  const std::string img2 = MakeImage(dir / "two.img", 4).string();
  Drives().AddImage(img1);
  Drives().AddImage(img2);

  const std::vector<std::pair<uint8_t, std::string>> expected = {
      {0x00, sys.DevPath("fd0")},     {0x01, sys.DevPath("fd1")},
      {0x80, sys.DevPath("loop2")},   {0x81, sys.DevPath("mmcblk0")},
      {0x82, sys.DevPath("nvme0n1")}, {0x83, sys.DevPath("sda")},
      {0x84, sys.DevPath("sdb")},     {0x85, sys.DevPath("sdc")},
      {0x86, sys.DevPath("zram0")},   {0x87, img1},
      {0x88, img2}};
  EXPECT_EQ(Drives().PhysicalDisks(), expected);
  EXPECT_EQ(Drives().PhysicalDiskPath(0x87), img1);
  EXPECT_EQ(Drives().PhysicalDiskPath(0x01), sys.DevPath("fd1"));
  EXPECT_FALSE(Drives().PhysicalDiskPath(0x89).has_value());
  EXPECT_FALSE(Drives().PhysicalDiskPath(0x02).has_value());
}

TEST_F(DriveTableTest, NoMoreThanTwentySixLetters) {
  FakeSysfs sys(dir / "sys");
  sys.Disk("fd0", 2880, 1, "2:0");
  sys.Disk("fd1", 2880, 1, "2:1");
  for (int i = 1; i <= 30; ++i) sys.Disk("vd" + std::to_string(i), 2048, 0, "254:" + std::to_string(i));
  Drives().ScanSystem(sys.Roots("254:30"));

  const auto letters = Letters();
  ASSERT_EQ(letters.size(), 26u);
  EXPECT_EQ(letters.at('C'), "vd30");
  EXPECT_EQ(letters.at('D'), "vd1");
  EXPECT_EQ(letters.at('Z'), "vd23");

  const std::string img = MakeImage(dir / "late.img", 1).string();
  EXPECT_EQ(Drives().AddImage(img), 0);
  EXPECT_EQ(Drives().FindByPath(img), nullptr);
  EXPECT_EQ(Drives().Drives().size(), 26u);
}

TEST_F(DriveTableTest, ImagesFillLettersFromDAndAreNamedOnce) {
  std::vector<std::string> paths;
  for (int i = 0; i < 23; ++i) {
    paths.push_back(MakeImage(dir / Numbered("i", i, ".img"), 1).string());
    EXPECT_EQ(Drives().AddImage(paths.back()), 4 + i);
  }
  const std::string extra = MakeImage(dir / "extra.img", 1).string();
  EXPECT_EQ(Drives().AddImage(extra), 0);
  EXPECT_EQ(Drives().Drives().size(), 23u);

  // The same file, however it is spelled, keeps its letter.
  EXPECT_EQ(Drives().AddImage(paths[2]), 6);
  EXPECT_EQ(Drives().AddImage((dir.path() / "." / "i2.img").string()), 6);
  EXPECT_EQ(Drives().Drives().size(), 23u);

  EXPECT_EQ(Drives().AddImage((dir / "missing.img").string()), 0);
  EXPECT_EQ(Drives().AddImage(dir.path().string()), 0);  // a folder is no image
}

TEST(DriveTableNames, ParseLetterAcceptsTheUsualSpellings) {
  EXPECT_EQ(DriveTable::ParseLetter("E:"), 5);
  EXPECT_EQ(DriveTable::ParseLetter("e:"), 5);
  EXPECT_EQ(DriveTable::ParseLetter("E:\\"), 5);
  EXPECT_EQ(DriveTable::ParseLetter("E:/"), 5);
  EXPECT_EQ(DriveTable::ParseLetter("E"), 5);
  EXPECT_EQ(DriveTable::ParseLetter("a"), 1);
  EXPECT_EQ(DriveTable::ParseLetter("Z:"), 26);
  EXPECT_EQ(DriveTable::ParseLetter(""), 0);
  EXPECT_EQ(DriveTable::ParseLetter("1:"), 0);
  EXPECT_EQ(DriveTable::ParseLetter("["), 0);
  EXPECT_EQ(DriveTable::ParseLetter("EF"), 0);
  EXPECT_EQ(DriveTable::ParseLetter("E:x"), 0);
  EXPECT_EQ(DriveTable::ParseLetter("E:\\x"), 0);
}

TEST(DriveTableNames, NaturalOrderComparesDigitRunsByValue) {
  EXPECT_TRUE(NaturalLess("sda2", "sda10"));
  EXPECT_FALSE(NaturalLess("sda10", "sda2"));
  EXPECT_TRUE(NaturalLess("sda", "sda1"));
  EXPECT_TRUE(NaturalLess("mmcblk0p9", "mmcblk0p12"));
  EXPECT_TRUE(NaturalLess("sdaa", "sdb"));
  EXPECT_FALSE(NaturalLess("sda1", "sda1"));
  EXPECT_FALSE(NaturalLess("a01", "a1"));
  EXPECT_FALSE(NaturalLess("a1", "a01"));
}

// The disks under "/" and "/boot" of a mount table, however they are named.
TEST_F(DriveTableTest, SystemDiskIsTheDiskUnderRootAndBoot) {
  FakeSysfs sys(dir / "sys");
  BuildMachine(sys);
  sys.Stacked("dm-0", 1000000, "253:0", {"nvme0n1p1"});
  struct Case {
    const char* what;
    std::string mountInfo;
    std::set<std::string> disks;
  };
  const std::vector<Case> cases = {
      {"root on a partition", "27 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n", {"sda"}},
      {"root on a mapped volume, /boot on eMMC",
       "27 1 253:0 / / rw shared:1 - ext4 /dev/mapper/vg-root rw\n"
       "28 27 179:1 / /boot rw shared:2 - vfat /dev/mmcblk0p1 rw\n",
       {"nvme0n1", "mmcblk0"}},
      {"btrfs: a number no device has, the source names it",
       "27 1 0:31 /@ / rw - btrfs /dev/sdb1 rw\n", {"sdb"}},
      {"other mounts do not count",
       "27 1 0:5 / / rw - overlay overlay rw\n30 27 8:17 / /media/card rw - vfat /dev/sdb1 rw\n",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path table = dir / "mountinfo";
    std::ofstream(table) << c.mountInfo;
    EXPECT_EQ(SystemDiskNames(table.string(), sys.ClassDir()), c.disks);
  }
  EXPECT_EQ(SystemDiskNames((dir / "none").string(), sys.ClassDir(), "8:2"),
            std::set<std::string>{"sda"});
  EXPECT_TRUE(SystemDiskNames((dir / "none").string(), sys.ClassDir()).empty());

}

}  // namespace
}  // namespace kestrella::test
