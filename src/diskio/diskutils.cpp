#include "diskio/diskutils.h"

namespace kestrella::diskutils {

LogicalSectorAccess& Module() {
  static LogicalSectorAccess module({/*chunkSectors=*/1000, /*bufferBytes=*/kSectorBufferBytes,
                                     /*writeThrough=*/false, /*askOpticalSize=*/true});
  return module;
}

bool ReadLogicalSectors(uint8_t drive, uint32_t sector, uint16_t count, void* buffer) {
  return Module().ReadLogicalSectors(drive, sector, count, buffer);
}

bool WriteLogicalSectors(uint8_t drive, uint32_t sector, uint16_t count, const void* buffer) {
  return Module().WriteLogicalSectors(drive, sector, count, buffer);
}

bool GetLogDriveParams(uint8_t drive, TLogDriveParams& params) {
  return Module().GetLogDriveParams(drive, params);
}

bool NT_CloseDrive() { return Module().NT_CloseDrive(); }

}  // namespace kestrella::diskutils
