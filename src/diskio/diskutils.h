// Sector access of the main window: drive information, the raw scan and wipe.
// Reads move up to 1000 sectors per system call; the drive stays open between
// calls until another drive or access mode is asked for, or NT_CloseDrive.
#pragma once

#include <cstdint>

#include "diskio/driveparams.h"
#include "diskio/logicalio.h"

namespace kestrella {

// The transfer buffer of this sector access: room for 1000 sectors of 2048
// bytes. The raw scan reads and the wipe writes through it, so one of their
// transfers never moves more than kLargestReadBytes; a window that offers a
// number of sectors at once offers no more than fit that.
inline constexpr uint32_t kSectorBufferBytes = 2048000;
inline constexpr uint32_t kLargestReadBytes = kSectorBufferBytes - 1;

}  // namespace kestrella

namespace kestrella::diskutils {

bool ReadLogicalSectors(uint8_t drive, uint32_t sector, uint16_t count, void* buffer);
bool WriteLogicalSectors(uint8_t drive, uint32_t sector, uint16_t count, const void* buffer);
bool GetLogDriveParams(uint8_t drive, TLogDriveParams& params);
// Releases the drive so that the card is no longer held open. Always true.
bool NT_CloseDrive();

LogicalSectorAccess& Module();

}  // namespace kestrella::diskutils
