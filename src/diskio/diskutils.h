// Sector access of the main window: drive information, the raw scan and wipe.
// Reads move up to 1000 sectors per system call; the drive stays open between
// calls until another drive or access mode is asked for, or NT_CloseDrive.
#pragma once

#include <cstdint>

#include "diskio/driveparams.h"
#include "diskio/logicalio.h"

namespace kestrella::diskutils {

bool ReadLogicalSectors(uint8_t drive, uint32_t sector, uint16_t count, void* buffer);
bool WriteLogicalSectors(uint8_t drive, uint32_t sector, uint16_t count, const void* buffer);
bool GetLogDriveParams(uint8_t drive, TLogDriveParams& params);
// Releases the drive so that the card is no longer held open. Always true.
bool NT_CloseDrive();

LogicalSectorAccess& Module();

}  // namespace kestrella::diskutils
