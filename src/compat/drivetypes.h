// The three sets of drive-type codes the engine has always used. Their
// numbers are kept as they were (records and tests compare them), but each
// set is a type of its own so that one is never taken for another.
#pragma once

#include <cstdint>

namespace kestrella {

// The system's type of a drive's root, as the drive table gives it.
enum class RootKind : uint32_t {
  Unknown = 0,
  NoRoot = 1,
  Removable = 2,
  Fixed = 3,
  Remote = 4,
  CDROM = 5,
  RamDisk = 6,
};

// The DriveType of a drive or whole-disk description (TLogDriveParams).
enum class DriveKind : int16_t {
  Unknown = 0,
  Floppy = 1,
  Removable = 2,
  Fixed = 3,
  CDROM = 4,
};

// The MediaType of a device (TDevice).
enum class MediaKind : uint8_t {
  Unknown = 0,
  Floppy = 1,
  Removable = 2,
  Fixed = 3,
  Remote = 4,
  CDROM = 5,
  RamDisk = 6,
};

// A drive's device takes the media type of the drive's root where the root
// holds a medium; Unknown and NoRoot give an unknown medium.
MediaKind MediaOfRoot(RootKind root);
// A whole disk's device takes the media type of the disk's drive type. Only
// floppy, removable and fixed carry over: a CD-ROM's code would read as a
// remote medium, so it counts as unknown, as anything else does.
MediaKind MediaOfDrive(DriveKind drive);

}  // namespace kestrella
