// kestrella-cli drives: the drive table with what is on each drive.
#include <cstdio>
#include <optional>
#include <set>
#include <vector>

#include "app/drivechoice.h"
#include "app/source.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/terminal.h"
#include "util/sizetext.h"

namespace kestrella::cli {

const char* const kDrivesHelp =
    "usage: kestrella-cli drives [IMAGE...]\n"
    "\n"
    "Lists the drives Kestrella can read: block devices (card readers, USB\n"
    "sticks, disks and their partitions) and the image files named, each with\n"
    "its drive letter, Linux path, type, size, sector size and whether a FAT\n"
    "file system starts on it. A letter such as E: can be given as SOURCE to\n"
    "the other commands. NOTE marks the drive the window would preselect\n"
    "(\"suggested\") and the drives of the disk the system runs from\n"
    "(\"system disk\"); drives that cannot be read are explained below the\n"
    "table.\n";

namespace {

const char* TypeName(const DriveSource& s) {
  if (s.isImage) return s.partition != 0 ? "partition" : "image";
  if (s.floppy) return "floppy";
  switch (s.rootType) {
    case RootKind::Removable: return "removable";
    case RootKind::Fixed: return "fixed";
    case RootKind::CDROM: return "CD-ROM";
    case RootKind::RamDisk: return "RAM disk";
    default: return "unknown";
  }
}

}  // namespace

int RunDrives(const std::vector<std::string>& args) {
  Options opts(args, OptionSpec{});
  TerminalUi terminal;
  Engine engine(terminal);
  engine.ScanDrives();
  for (const std::string& image : opts.Positional()) {
    if (engine.AddImage(image) == 0) {
      std::fprintf(stderr, "kestrella-cli: cannot add %s (missing, or no drive letter left)\n",
                   image.c_str());
      return kExitUsage;
    }
  }
  const uint8_t suggested = PreferredDrive(engine.Drives());
  std::printf("%-6s %-28s %-10s %10s %7s  %-15s  %s\n", "DRIVE", "PATH", "TYPE", "SIZE",
              "SECTOR", "FILE SYSTEM", "NOTE");
  std::vector<std::string> problems;
  std::set<std::string> advice;
  for (const DriveEntry& e : engine.Drives()) {
    TLogDriveParams p;
    const DriveStatus status = ProbeDrive(engine, e.number, p);
    const std::string letter = std::string(1, e.Letter()) + ":";
    std::string size = "no medium", sectorSize = "-", fs = "-";
    if (status.state == DriveStatus::State::Ready) {
      size = FormatByteSize(static_cast<uint64_t>(p.TotalSectors) * p.BytesPerSector);
      sectorSize = std::to_string(p.BytesPerSector);
      const std::optional<FileSystemFound> found = engine.FileSystemAt(e.number);
      fs = !found ? "? (cannot read)" : found->type.empty() ? "no FAT" : found->type;
    } else if (status.state != DriveStatus::State::NoMedium) {
      const bool locked = status.state == DriveStatus::State::NoPermission ||
                          status.state == DriveStatus::State::NeedsPermission;
      size = locked ? "no access" : "unreadable";
      problems.push_back(letter + " " + status.text);
      if (!status.advice.empty()) advice.insert(status.advice);
    }
    std::string note = e.source.systemDisk ? "system disk" : "";
    if (e.source.readOnly) note = note.empty() ? "write-protected" : note + ", write-protected";
    if (e.number == suggested) note = note.empty() ? "suggested" : note + ", suggested";
    std::string path = e.source.path;
    if (e.source.partition != 0) path += " (partition " + std::to_string(e.source.partition) + ")";
    char row[512];
    std::snprintf(row, sizeof row, "%-6s %-28s %-10s %10s %7s  %-15s  %s", letter.c_str(),
                  path.c_str(), TypeName(e.source), size.c_str(), sectorSize.c_str(), fs.c_str(),
                  note.c_str());
    std::string line = row;
    line.erase(line.find_last_not_of(' ') + 1);
    std::printf("%s\n", line.c_str());
  }
  if (!problems.empty()) {
    std::printf("\n");
    for (const std::string& line : problems) std::printf("%s\n", line.c_str());
    for (const std::string& line : advice) std::printf("%s\n", line.c_str());
  }
  return kExitOk;
}

}  // namespace kestrella::cli
