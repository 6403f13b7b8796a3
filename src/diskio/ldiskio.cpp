#include "diskio/ldiskio.h"

namespace kestrella::ldiskio {

LogicalSectorAccess& Module() {
  static LogicalSectorAccess module({/*chunkSectors=*/128, /*bufferBytes=*/65536,
                                     /*writeThrough=*/true, /*askOpticalSize=*/false});
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

}  // namespace kestrella::ldiskio
