// Where found files must not be saved: into the card image, or onto the card.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/destinationcheck.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;

TEST(DestinationCheck, TheImageItselfOrBelowItClashes) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "card.img", {0});
  fs::create_directory(dir / "out");
  DriveSource src;
  src.path = (dir / "card.img").string();
  src.isImage = true;

  EXPECT_EQ(CheckDestination(dir / "card.img", src), DestinationClash::IsTheImage);
  EXPECT_EQ(CheckDestination(dir / "card.img" / "photos", src), DestinationClash::IsTheImage);
  EXPECT_EQ(CheckDestination(dir / "out" / ".." / "card.img" / "x", src),
            DestinationClash::IsTheImage);
  EXPECT_EQ(CheckDestination(dir.path(), src), DestinationClash::None);
  EXPECT_EQ(CheckDestination(dir / "out", src), DestinationClash::None);
  EXPECT_EQ(CheckDestination(dir / "card.img2", src), DestinationClash::None);
}

// A fake /sys/dev/block: disk 8:0 with partition 8:1, disk 8:16, and a
// mapping 253:0 over 8:1; loop devices are added by the tests.
class FakeSysBlock {
 public:
  FakeSysBlock() {
    Device("devices/sda", "8:0");
    Device("devices/sda/sda1", "8:1");
    test::WriteFileBytes(dir / "devices/sda/sda1/partition", {'1', '\n'});
    Device("devices/sdb", "8:16");
    Device("devices/dm-0", "253:0");
    fs::create_directories(dir / "devices/dm-0/slaves");
    fs::create_directory_symlink("../../sda/sda1", dir / "devices/dm-0/slaves/sda1");
  }
  std::string Root() const { return (dir / "block").string(); }

  void Device(const std::string& where, const std::string& number) {
    fs::create_directories(dir / where);
    std::ofstream(dir / where / "dev") << number << "\n";
    fs::create_directories(dir / "block");
    fs::create_directory_symlink("../" + where, dir / "block" / number);
  }
  // A loop device over `backing`, as /sys/block/loopN/loop/backing_file says.
  void Loop(const std::string& where, const std::string& number, const fs::path& backing) {
    Device(where, number);
    fs::create_directories(dir / where / "loop");
    std::ofstream(dir / where / "loop" / "backing_file") << backing.string() << "\n";
  }

 private:
  test::TempDir dir;
};

TEST(DestinationCheck, DeviceStacksOnItsDiskThroughPartitionsAndMappings) {
  FakeSysBlock sys;
  EXPECT_TRUE(DeviceStacksOn("8:0", "8:0", sys.Root()));
  EXPECT_TRUE(DeviceStacksOn("8:1", "8:0", sys.Root()));
  EXPECT_TRUE(DeviceStacksOn("253:0", "8:0", sys.Root()));
  EXPECT_TRUE(DeviceStacksOn("253:0", "8:1", sys.Root()));
  EXPECT_FALSE(DeviceStacksOn("8:0", "8:1", sys.Root()));
  EXPECT_FALSE(DeviceStacksOn("8:16", "8:0", sys.Root()));
  EXPECT_FALSE(DeviceStacksOn("253:0", "8:16", sys.Root()));
  EXPECT_FALSE(DeviceStacksOn("9:9", "8:0", sys.Root()));
}

// A loop device whose backing file is the card image is the image: the
// file system on it, or on a partition of it.
TEST(DestinationCheck, ALoopDeviceOverTheImageIsTheImage) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "card.img", {0});
  test::WriteFileBytes(dir / "other.img", {0});
  FakeSysBlock sys;
  sys.Loop("devices/loop0", "7:0", dir / "card.img");
  sys.Device("devices/loop0/loop0p1", "259:0");
  test::WriteFileBytes(fs::path(sys.Root()) / "../devices/loop0/loop0p1/partition", {'1'});
  sys.Loop("devices/loop1", "7:1", dir / "other.img");
  for (const char* dev : {"7:0", "259:0"}) EXPECT_TRUE(DeviceBackedBy(dev, dir / "card.img", sys.Root())) << dev;
  for (const char* dev : {"7:1", "8:0"}) EXPECT_FALSE(DeviceBackedBy(dev, dir / "card.img", sys.Root())) << dev;

  // The destination's own file system, seen through the fake tree, is the
  // loop-mounted image: refused; over another image it is not.
  struct stat st {};
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  const std::string here = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  if (fs::exists(fs::path(sys.Root()) / here)) GTEST_SKIP() << "the test's disk is " << here;
  sys.Loop("devices/loop9", here, dir / "card.img");
  DriveEntry card;
  card.source.path = (dir / "card.img").string();
  card.source.isImage = true;
  DriveSource other = card.source;
  other.path = (dir / "other.img").string();
  test::FaultyOutputFiles files;
  const DestinationState state = InspectDestination(dir / "out", card, files, sys.Root());
  EXPECT_EQ(state.clash, DestinationClash::InsideTheImage);
  EXPECT_NE(DestinationRefusal(state, dir / "out", card).find("which is mounted"), std::string::npos);
  EXPECT_EQ(CheckDestination(dir / "out", other, sys.Root()), DestinationClash::None);
}

// What a front end learns of a destination before a run, with nothing
// changed: whether it is there, takes files, and has room for the card.
TEST(DestinationCheck, InspectionTellsMissingUnwritableAndLowRoom) {
  struct Case {
    const char* name;
    bool exists;
    bool refuses;  // the folder (or the one it would be made in) takes no files
    uint64_t free;  // the card holds 4096 bytes
  };
  const Case cases[] = {
      {"present with room", true, false, 1 << 20},
      {"missing", false, false, 1 << 20},
      {"unwritable", true, true, 1 << 20},
      {"missing under an unwritable folder", false, true, 1 << 20},
      {"low room", true, false, 4095},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "card.img", std::vector<uint8_t>(4096, 0));
    const fs::path dest = dir / "dest";
    if (c.exists) fs::create_directory(dest);
    test::FaultyOutputFiles files;
    files.SetFreeSpace(c.free);
    if (c.refuses) files.FailCreate(c.exists ? dest.string() : dir.path().string(), EACCES);
    DriveEntry card;
    card.source.path = (dir / "card.img").string();
    card.source.isImage = true;

    const DestinationState s = InspectDestination(dest, card, files);
    EXPECT_EQ(s.exists, c.exists) << c.name;
    EXPECT_EQ(s.writable, !c.refuses) << c.name;
    EXPECT_EQ(s.LowRoom(), c.free < 4096) << c.name;
    EXPECT_EQ(!DestinationRefusal(s, dest, card).empty(), c.refuses) << c.name;
    EXPECT_EQ(fs::exists(dest), c.exists) << c.name << ": the inspection changed nothing";
  }
  DestinationState low;
  low.freeBytes = 1500000;
  low.cardBytes = 16000000;
  EXPECT_EQ(LowRoomQuestion(low),
            "The destination has 1.5 MB free; the card holds 16.0 MB. Recovered files may not all "
            "fit. Start anyway?");
}

}  // namespace
}  // namespace kestrella
