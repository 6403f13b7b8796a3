// Drive letters and BIOS disk numbers over Linux block devices and images.
//
// The engine addresses logical drives by letter number and whole disks by
// BIOS number (compat/drivenumbers.h). This table maps both onto Linux
// sources: block devices listed under /sys/class/block and image files the
// user names. Letters are handed out in a stable order: the floppies A: and
// B:, the root file system's device C:, the other block devices from D: in
// name order, then image files in the order named.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "compat/drivenumbers.h"
#include "compat/drivetypes.h"
#include "diskio/partitiontable.h"

namespace kestrella {

struct DriveSource {
  std::string path;         // /dev/sdb1 or the image file's path
  std::string name;         // sysfs name ("sdb1") or the image's file name
  bool isImage = false;
  bool wholeDisk = false;   // a disk rather than a partition of one
  bool removable = false;
  bool floppy = false;
  // On a disk the running system was started from (see SystemDiskNames).
  bool systemDisk = false;
  // Write-protected: the card's lock switch, or a read-only device.
  bool readOnly = false;
  RootKind rootType = RootKind::Unknown;
  uint64_t sizeBytes = 0;   // as listed; sector access asks the source again
  uint32_t sectorSize = 512;
  // A FAT partition of a whole-disk image: its number among the image's FAT
  // partitions (1, 2, ... in the order listed; 0 = not a partition of an
  // image) and the bytes of the image file it covers (length 0 = to the end).
  uint32_t partition = 0;
  uint64_t offsetBytes = 0;
  uint64_t lengthBytes = 0;
};

struct DriveEntry {
  uint8_t number = 0;  // 1 = A:
  DriveSource source;

  char Letter() const { return DriveLetter(number); }
  // Letter, colon, backslash: "E:\".
  std::string RootPath() const { return DriveRootPath(number); }
  // "/dev/sdb1 - 15.9 GB"; "/tmp/card.dd (partition 2) - 25.6 MB".
  std::string Caption() const;
};

// Where the system scan looks; tests point it at a fake tree.
struct SystemRoots {
  std::string sysClassBlock = "/sys/class/block";
  std::string devDir = "/dev";
  // "major:minor" of the root file system's device; empty = ask the system.
  std::string rootDevice;
  // The mount table whose "/" and "/boot" mark the system disk. Empty: the
  // system's own (/proc/self/mountinfo) when rootDevice is empty too, none
  // when a made-up root device was given.
  std::string mountInfo;
};

class DriveTable {
 public:
  // Lists the block devices anew (images stay). Letters are reassigned.
  void ScanSystem(const SystemRoots& roots = SystemRoots{});
  // Forgets every device and image.
  void Clear();
  // Adds an image file (if not there yet) and returns its drive number, or 0
  // when every letter is taken or the file cannot be examined. An image of a
  // partitioned disk stays one whole disk and each of its FAT partitions
  // gets a letter of its own right after it (as far as letters last).
  uint8_t AddImage(const std::string& path);

  const std::vector<DriveEntry>& Drives() const { return drives_; }
  const DriveEntry* Find(uint8_t number) const;
  // The drive of a device or of a whole image (never one of its partitions).
  const DriveEntry* FindByPath(const std::string& path) const;
  // "E:", "e:", "E:\" or "E" -> 5; 0 when not a drive letter.
  static uint8_t ParseLetter(const std::string& text) { return ParseDriveLetter(text); }

  // The source of a BIOS disk number, or nullptr.
  std::optional<std::string> PhysicalDiskPath(uint8_t biosNumber) const;
  std::vector<std::pair<uint8_t, std::string>> PhysicalDisks() const;

 private:
  void AssignLetters();

  std::vector<DriveSource> devices_;  // name order
  std::vector<DriveSource> images_;   // order named
  std::string rootName_;              // sysfs name of the root device
  std::vector<DriveEntry> drives_;
};

// The FAT partitions of the partition table in sector 0 of an image file (of
// 512-byte sectors), as ReadFatPartitions lists them. Empty when sector 0 is
// the boot sector of a card formatted without a table.
std::vector<FatPartition> ImageFatPartitions(const std::string& path);

// Natural order of device names: digit runs compare by value ("sda2" < "sda10").
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace kestrella
