// The two card utilities: Wipe overwrites every sector of a removable drive
// with zeros; Format puts a fresh FAT file system on it with mkfs.fat.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "diskio/driveparams.h"
#include "diskio/drivetable.h"

namespace kestrella {

// Where the drive, or a partition of it, is mounted ("" when it is not).
// Writing under a mounted file system would corrupt it behind the system's
// back, so both utilities refuse then.
std::string MountPointOf(const DriveSource& source,
                         const std::string& mountInfo = "/proc/self/mountinfo",
                         const std::string& sysDevBlock = "/sys/dev/block");

// The same for a block device number ("major:minor").
std::string MountPointOfDevice(const std::string& device,
                               const std::string& mountInfo = "/proc/self/mountinfo",
                               const std::string& sysDevBlock = "/sys/dev/block");

// How the card tools name a drive to the user: its Linux path (or image
// file), what kind of drive it is and its size, "/dev/sdb (SD card,
// 67.1 MB)". A drive letter alone is easily mistaken, and the wrong card
// wiped is gone for good.
std::string DriveDescription(const DriveEntry& drive);

// The question before a wipe: "Wipe every sector of /dev/sdb (SD card,
// 67.1 MB)? Everything on it will be lost."
std::string WipeQuestion(const DriveEntry& drive);
// The offer to format after a wipe, which leaves no file system behind.
std::string FormatAfterWipeQuestion(const DriveEntry& drive);

struct TWipeResult {
  bool ran = false;             // the loop ran (to its end or until stopped)
  bool stopped = false;         // it ended before the last sector
  uint64_t sectorsWritten = 0;
  uint64_t sectorsReached = 0;  // sectors from the start up to the end of the last block tried
  uint32_t failedWrites = 0;    // blocks the medium refused
  // The sectors of those blocks as ranges (first, count), the first few of
  // them; `moreFailedSectors` when there were more.
  std::vector<std::pair<uint64_t, uint64_t>> failedSectors;
  bool moreFailedSectors = false;
};

// Why a drive must not be wiped or formatted whatever its type: compressed
// memory (zram), a RAM disk, or active swap ("" when none of these). Such a
// device holds the running system's memory, never a card.
std::string SystemMemoryDevice(const DriveSource& source, const std::string& swaps = "/proc/swaps");

// What a wipe that ran leaves to be told: that it was stopped part way
// (the card is neither wiped nor usable) and that sectors kept their old
// data. Empty when every sector was wiped.
std::string WipeOutcome(const DriveEntry& drive, const TLogDriveParams& params,
                        const TWipeResult& result);

class EngineContext;

class TWipe {
 public:
  explicit TWipe(EngineContext& context) : context_(context) {}

  // Called once per sector with the gauge position and maximum.
  std::function<void(uint64_t position, uint64_t maximum)> OnProgress;

  // Refuses fixed, remote and CD-ROM drives, drives of 0 sectors, mounted
  // ones, system memory (see SystemMemoryDevice) and devices something else
  // holds open; asks WipeQuestion (a front end makes No its default); then
  // writes zeros in blocks of `blockSize` sectors, each block flushed to the
  // medium and counted as failed when the medium does not take it. A stop
  // request ends it after the sector in hand; the result tells how far it
  // got.
  TWipeResult WipeDrive(const DriveEntry& drive, const TLogDriveParams& params, uint32_t blockSize);
  void Stop() { stopRequested_ = true; }

 private:
  EngineContext& context_;
  bool stopRequested_ = false;
};

struct TFormatOptions {
  int fatBits = 0;           // 12, 16 or 32; 0 lets mkfs.fat choose
  std::string label;         // up to 11 characters
  uint32_t clusterBytes = 0; // 0 lets mkfs.fat choose
};

// False, after a warning, for the drives FormatDrive refuses: fixed, remote
// and CD-ROM drives, mounted ones and partitions inside an image. A window
// asks this before it offers its format choices, so that a refused drive
// gets the warning and nothing else.
bool FormatAllowed(EngineContext& context, const DriveEntry& drive);

// Refuses the drive types and mounted drives Wipe refuses (with the format
// wording), then runs mkfs.fat on the drive. Returns mkfs.fat's exit status,
// or -1 when no format was started.
int FormatDrive(EngineContext& context, const DriveEntry& drive, const TFormatOptions& options,
                std::string* output = nullptr);

}  // namespace kestrella
