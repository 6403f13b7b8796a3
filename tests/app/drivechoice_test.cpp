// The drive the front ends offer first, the order they list drives in, and
// what a drive that cannot be read says.
#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "app/drivechoice.h"
#include "app/source.h"

namespace kestrella {
namespace {

// "Cfs Dr0 Ei0": per drive its letter, f(ixed), r(emovable) or o(ptical),
// then s for the system disk, i for an image, l for a floppy drive, 0 for no
// medium in it.
std::vector<DriveEntry> Drives(const std::string& spec) {
  std::vector<DriveEntry> out;
  std::istringstream in(spec);
  for (std::string t; in >> t;) {
    DriveEntry& e = out.emplace_back();
    e.number = static_cast<uint8_t>(t[0] - 'A' + 1);
    e.source.rootType = t[1] == 'f'   ? RootKind::Fixed
                        : t[1] == 'r' ? RootKind::Removable
                                      : RootKind::CDROM;
    e.source.systemDisk = t.find('s', 2) != std::string::npos;
    e.source.isImage = t.find('i', 2) != std::string::npos;
    e.source.floppy = t.find('l', 2) != std::string::npos;
    e.source.sizeBytes = t.find('0', 2) != std::string::npos ? 0 : 1000000000;
  }
  return out;
}

TEST(DriveChoice, PreferredDriveAndListOrder) {
  // Drives, the one offered ('-': none), the letters in list order.
  const std::vector<std::tuple<const char*, char, const char*>> cases = {
      {"Cfs Df Er", 'E', "EDC"},          // a card in a reader beats the disks
      {"Cfs Df Er0 Fri0", 'F', "DEFC"},   // then an image, even an empty one
      {"Cfs Dr0 Ef", 'D', "DEC"},         // then the first drive off the system disk
      {"Cfs Dfs", 'C', "CD"},             // the system disk only when alone
      {"Drs Er Fo", 'E', "EFD"},          // a stick the system runs from is no card
      {"Arl Cfs Dr", 'D', "DAC"},         // a floppy drive may be empty
      {"", '-', ""},
  };
  for (const auto& [spec, preferred, order] : cases) {
    SCOPED_TRACE(spec);
    const std::vector<DriveEntry> drives = Drives(spec);
    const uint8_t got = PreferredDrive(drives);
    EXPECT_EQ(got == 0 ? '-' : DriveLetter(got), preferred);
    std::string listed;
    for (const DriveEntry* e : DriveListOrder(drives)) listed += e->Letter();
    EXPECT_EQ(listed, order);
  }
}

TEST(DriveStatusText, PermissionIsToldApartFromNoMedium) {
  using State = DriveStatus::State;
  const std::vector<std::tuple<int, const char*, State, const char*, const char*>> cases = {
      {EACCES, "disk", State::NoPermission, "no permission to read /dev/sdb",
       "Add yourself to the group that owns it (sudo adduser $USER disk) and log in again, or "
       "run Kestrella with sudo."},
      {EPERM, "root", State::NoPermission, "no permission to read /dev/sdb",
       "Run Kestrella with sudo."},
      {ENOMEDIUM, "disk", State::NoMedium, "no medium", "Insert the card into the reader."},
      {EIO, "disk", State::Failed, "cannot read /dev/sdb: Input/output error", ""},
  };
  for (const auto& [err, group, state, text, advice] : cases) {
    SCOPED_TRACE(text);
    const DriveStatus s = OpenFailure("/dev/sdb", err, true, group);
    EXPECT_EQ(s.state, state);
    EXPECT_EQ(s.text, text);
    EXPECT_EQ(s.advice, advice);
  }
}

}  // namespace
}  // namespace kestrella
