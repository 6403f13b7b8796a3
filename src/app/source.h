// Opening what the user named as the card to recover: an image file, a block
// device, or a drive letter such as "E:".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/engine.h"

namespace kestrella {

struct OpenedSource {
  uint8_t drive = 0;
  DriveEntry entry;
  TLogDriveParams params;
};

// Whether a drive can be read, in the words both front ends show.
struct DriveStatus {
  // NeedsPermission: this user may not open the device, but UDisks2 may
  // open it for them once they agree (OpenDrive, RequestAccess ask).
  enum class State { Ready, NoMedium, NoPermission, NeedsPermission, Failed };
  State state = State::Ready;
  // "Ready", "no medium", "no permission to read /dev/sdb", "needs
  // permission", "cannot read /dev/sdb: Input/output error".
  std::string text = "Ready";
  // What the user can do about it; "" when nothing is wrong or nothing helps.
  std::string advice;
};

// How a failed read-only open of `path` with `err` reads to the user.
// `group`: the group owning the device node ("" when not known).
DriveStatus OpenFailure(const std::string& path, int err, bool blockDevice, const std::string& group);
// Opens `path` read-only (and closes it again): Ready, or why not.
DriveStatus AccessStatus(const std::string& path);
// The drive's status; when Ready, `params` holds its size and sector size.
// Asks nobody: a device only UDisks2 can open for this user needs
// permission until RequestAccess or OpenDrive got it.
DriveStatus ProbeDrive(Engine& engine, uint8_t drive, TLogDriveParams& params);
// Asks UDisks2 for read access to a drive that needs permission (polkit may
// ask the user, in a dialog or on the terminal), then probes it again.
// Failed with the reason when refused.
DriveStatus RequestAccess(Engine& engine, uint8_t drive, TLogDriveParams& params);

// Finds or adds the drive, checks that it can be read and has a medium.
// A device this user may not open is asked of UDisks2 (polkit may ask the
// user). Throws UserError saying what to do (join the group owning the
// device, insert the card, ...) or why access was refused.
OpenedSource OpenSource(Engine& engine, const std::string& source);
// The same for a drive already in the table (the window's list).
OpenedSource OpenDrive(Engine& engine, uint8_t drive);

// The FAT partitions of the disk `whole` (an image or a block device), each
// a drive of the table, in the order the disk's table lists them.
std::vector<DriveEntry> PartitionsOf(Engine& engine, const DriveEntry& whole);

// Opens `source` for the commands that read its FAT file system. A whole
// disk whose sector 0 starts no FAT volume is looked into: `partition`
// (counted from 1) chooses among its FAT partitions, and without one the
// only FAT partition there is is taken, `note` saying so. Throws UserError
// when a partition is asked for that the disk does not have, or when there
// are several and none was chosen.
OpenedSource OpenFatSource(Engine& engine, const std::string& source, uint32_t partition,
                           std::string* note = nullptr);

}  // namespace kestrella
