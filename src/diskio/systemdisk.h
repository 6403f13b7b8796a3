// Which disks hold the running system: the ones the root file system and
// /boot are mounted from. Their drives are listed last and never suggested
// for recovery, so that a careless Start does not read (or a Format does
// not hit) the disk the machine runs from.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace kestrella {

// The sysfs names of the whole disks under `sysClassBlock` that hold "/",
// "/boot" or "/boot/efi" as `mountInfo` (a /proc/self/mountinfo) lists them,
// plus the disk of `rootDevice` ("major:minor"; empty = none). A partition
// counts for its disk; a device-mapper or RAID volume for every disk under
// it. Missing files give an empty set.
std::set<std::string> SystemDiskNames(const std::string& mountInfo,
                                      const std::string& sysClassBlock,
                                      const std::string& rootDevice = {});

// The first line of a sysfs attribute file without its trailing blanks;
// "" when it cannot be read.
std::string ReadSysText(const std::filesystem::path& p);

// The whole disk a block device belongs to: its own name for a disk, the
// disk's name for a partition (its sysfs folder sits inside the disk's).
std::string WholeDiskName(const std::string& sysClassBlock, const std::string& name);

}  // namespace kestrella
