// The drive the front ends offer first, the order they list drives in, and
// what a drive that cannot be read says.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/drivechoice.h"
#include "app/source.h"

namespace kestrella {
namespace {

enum Flag { kPlain = 0, kSystem = 1, kImage = 2 };

// Drive `letter`, of `kind`, holding `bytes` (0: nothing in it).
DriveEntry Drive(char letter, RootKind kind, uint64_t bytes, int flags = kPlain) {
  DriveEntry e;
  e.number = static_cast<uint8_t>(letter - 'A' + 1);
  e.source.path = std::string("/dev/") + letter;
  e.source.rootType = kind;
  e.source.removable = kind == RootKind::Removable;
  e.source.sizeBytes = bytes;
  e.source.systemDisk = (flags & kSystem) != 0;
  e.source.isImage = (flags & kImage) != 0;
  return e;
}

constexpr uint64_t kGB = 1000000000;
constexpr auto kFixed = RootKind::Fixed;
constexpr auto kRemovable = RootKind::Removable;

struct ChoiceCase {
  const char* what;
  std::vector<DriveEntry> drives;
  char preferred;           // '-' for none
  std::string listOrder;    // letters as listed
};

TEST(DriveChoice, PreferredDriveAndListOrder) {
  const std::vector<ChoiceCase> cases = {
      {"a card in a reader beats the disks",
       {Drive('C', kFixed, 500 * kGB, kSystem), Drive('D', kFixed, 2000 * kGB),
        Drive('E', kRemovable, 16 * kGB)},
       'E', "EDC"},
      {"an empty image beats a data disk and an empty reader",
       {Drive('C', kFixed, 500 * kGB, kSystem), Drive('D', kFixed, 2000 * kGB),
        Drive('E', kRemovable, 0), Drive('F', kRemovable, 0, kImage)},
       'F', "DEFC"},
      {"without cards or images, the first drive off the system disk",
       {Drive('C', kFixed, 500 * kGB, kSystem), Drive('D', kRemovable, 0),
        Drive('E', kFixed, 2000 * kGB)},
       'D', "DEC"},
      {"the system disk only when nothing else is there",
       {Drive('C', kFixed, 500 * kGB, kSystem), Drive('D', kFixed, 1 * kGB, kSystem)},
       'C', "CD"},
      {"a stick the system was started from is no card",
       {Drive('D', kRemovable, 8 * kGB, kSystem), Drive('E', kRemovable, 4 * kGB)}, 'E', "ED"},
  };
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(c.what);
    const uint8_t got = PreferredDrive(c.drives);
    EXPECT_EQ(got == 0 ? '-' : DriveLetter(got), c.preferred);
    std::string order;
    for (const DriveEntry* e : DriveListOrder(c.drives)) order += e->Letter();
    EXPECT_EQ(order, c.listOrder);
  }
}

TEST(DriveStatusText, PermissionIsToldApartFromNoMedium) {
  struct Case {
    int err;
    bool blockDevice;
    const char* group;
    DriveStatus::State state;
    const char* text;
    const char* advice;
  };
  const std::vector<Case> cases = {
      {EACCES, true, "disk", DriveStatus::State::NoPermission, "no permission to read /dev/sdb",
       "Add yourself to the group that owns it (sudo adduser $USER disk) and log in again, or "
       "run Kestrella with sudo."},
      {EACCES, true, "root", DriveStatus::State::NoPermission, "no permission to read /dev/sdb",
       "Run Kestrella with sudo."},
      {ENOMEDIUM, true, "disk", DriveStatus::State::NoMedium, "no medium",
       "Insert the card into the reader."},
      {EIO, true, "disk", DriveStatus::State::Failed, "cannot read /dev/sdb: Input/output error",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const DriveStatus s = OpenFailure("/dev/sdb", c.err, c.blockDevice, c.group);
    EXPECT_EQ(s.state, c.state);
    EXPECT_EQ(s.text, c.text);
    EXPECT_EQ(s.advice, c.advice);
  }
}

}  // namespace
}  // namespace kestrella
