// Sector access to logical drives (drive letters), shared by the two modules
// that each keep their own open handle: Diskutils for the main window (drive
// information, raw scan, wipe) and Ldiskio for the device layer.
#pragma once

#include <cstdint>

#include "diskio/driveparams.h"
#include "diskio/sourcefile.h"

namespace kestrella {

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

class LogicalSectorAccess {
 public:
  explicit LogicalSectorAccess(const LogicalAccessTraits& traits) : traits_(traits) {}

  bool ReadLogicalSectors(uint8_t drive, uint32_t sector, uint16_t count, void* buffer);
  bool WriteLogicalSectors(uint8_t drive, uint32_t sector, uint16_t count, const void* buffer);
  bool GetLogDriveParams(uint8_t drive, TLogDriveParams& params);
  bool NT_CloseDrive();

  // Allows the old DOS absolute-disk services. They have no Linux
  // counterpart, so the switch is kept for callers but changes nothing.
  bool optUseINT25 = true;

  // Sectors moved per system call for the cached drive's sector size.
  uint32_t ChunkSectors() const;

 private:
  bool NT_OpenDrive(uint8_t drive, bool forRead);

  LogicalAccessTraits traits_;
  SourceFile handle_;
  uint8_t handleDrive_ = 0;
  bool handleForRead_ = false;
  TLogDriveParams params_{};
};

}  // namespace kestrella
