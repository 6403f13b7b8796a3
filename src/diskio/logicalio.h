// Sector access to logical drives (drive letters). Each user keeps its own
// open handle: the main window one (drive information, raw scan, wipe), and
// every device of the device layer one of its own.
#pragma once

#include <cstdint>
#include <memory>

#include "diskio/driveparams.h"
#include "diskio/sectorsource.h"

namespace kestrella {

class EngineContext;

struct LogicalAccessTraits {
  uint32_t chunkSectors;  // sectors per system call
  uint32_t bufferBytes;   // the module's transfer buffer bounds a chunk
  bool writeThrough;      // writes reach the medium before returning
  // Optical drives: ask the drive for its size (else report 2048-byte sectors
  // and no size without asking).
  bool askOpticalSize;
};

// The transfer buffer of the main window's access: room for 1000 sectors of
// 2048 bytes. The raw scan reads and the wipe writes through it, so one of
// their transfers never moves more than kLargestReadBytes; a window that
// offers a number of sectors at once offers no more than fit that.
inline constexpr uint32_t kSectorBufferBytes = 2048000;
inline constexpr uint32_t kLargestReadBytes = kSectorBufferBytes - 1;

// The main window's access: up to 1000 sectors per call, the
// kSectorBufferBytes sector buffer, optical drives asked for their size.
inline constexpr LogicalAccessTraits kDiskutilsTraits{1000, kSectorBufferBytes, false, true};
// A device's access: up to 4096 sectors per call (fewer for sectors larger
// than 512 bytes, so that a chunk fits 2 MiB, a cache line): a cache fill,
// or a photo's run of clusters, is one system call, not one per 64 KiB.
// Writes reach the medium before they return.
inline constexpr LogicalAccessTraits kLdiskioTraits{4096, 2097152, true, false};

class LogicalSectorAccess {
 public:
  LogicalSectorAccess(const LogicalAccessTraits& traits, EngineContext& context)
      : traits_(traits), context_(context) {}

  bool ReadLogicalSectors(uint8_t drive, uint64_t sector, uint16_t count, void* buffer);
  bool WriteLogicalSectors(uint8_t drive, uint64_t sector, uint16_t count, const void* buffer);
  // Opens the drive for writing ahead of the first write: 0, or the errno
  // (EBUSY: something holds it).
  int OpenForWriting(uint8_t drive);
  // Puts the writes made so far on the medium; false with errno set when
  // the medium did not take them.
  bool FlushWrites(uint8_t drive);
  bool GetLogDriveParams(uint8_t drive, TLogDriveParams& params);
  bool NT_CloseDrive();

  // Sectors moved per system call for the cached drive's sector size.
  uint32_t ChunkSectors() const;
  // Which opening of a handle serves reads of `drive`: it changes whenever
  // a handle for reading is opened anew, as when another medium took the
  // place of the one read before, so that a cache of its sectors knows to
  // forget them. Checks a kept handle as a read would; opens none.
  uint32_t Opening(uint8_t drive);

 private:
  bool NT_OpenDrive(uint8_t drive, bool forRead);

  LogicalAccessTraits traits_;
  EngineContext& context_;
  std::unique_ptr<SectorSource> handle_;
  uint8_t handleDrive_ = 0;
  bool handleForRead_ = false;
  uint32_t openings_ = 0;
  TLogDriveParams params_{};
};

}  // namespace kestrella
