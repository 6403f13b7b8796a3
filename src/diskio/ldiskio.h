// Sector access of the device layer. Reads move up to 128 sectors per system
// call (fewer for sectors larger than 512 bytes, so that a chunk fits the
// module's 64 KiB budget); writes reach the medium before they return. The
// drive stays open until another drive or access mode is asked for.
#pragma once

#include <cstdint>

#include "diskio/driveparams.h"
#include "diskio/logicalio.h"

namespace kestrella::ldiskio {

bool ReadLogicalSectors(uint8_t drive, uint32_t sector, uint16_t count, void* buffer);
bool WriteLogicalSectors(uint8_t drive, uint32_t sector, uint16_t count, const void* buffer);
bool GetLogDriveParams(uint8_t drive, TLogDriveParams& params);

LogicalSectorAccess& Module();

}  // namespace kestrella::ldiskio
