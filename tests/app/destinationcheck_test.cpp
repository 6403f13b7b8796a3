// Where found files must not be saved: into the card image, or onto the card.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/destinationcheck.h"
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
// mapping 253:0 over 8:1.
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

 private:
  void Device(const std::string& where, const std::string& number) {
    fs::create_directories(dir / where);
    std::ofstream(dir / where / "dev") << number << "\n";
    fs::create_directories(dir / "block");
    fs::create_directory_symlink("../" + where, dir / "block" / number);
  }
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

}  // namespace
}  // namespace kestrella
