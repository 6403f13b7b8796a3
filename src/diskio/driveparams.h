// Drive description records of sector access.
#pragma once

#include <cstdint>

#include "compat/drivetypes.h"

namespace kestrella {

struct TLogDriveParams {
  DriveKind DriveType = DriveKind::Unknown;
  int16_t Removable = 0;
  uint32_t Cylinders = 0;
  uint32_t Heads = 0;
  uint32_t SectorsPerTrack = 0;
  uint32_t BytesPerSector = 0;
  uint32_t TotalSectors = 0;
};

// Whole disks are described the same way.
using TPhysDriveParams = TLogDriveParams;

// Fills Cylinders/Heads/SectorsPerTrack with a geometry that describes
// `totalSectors` for information only: the classic floppy layouts for floppy
// sizes, else 255 heads of 63 sectors. Nothing reads by cylinder any more.
void SynthesiseGeometry(TLogDriveParams& p, uint64_t totalSectors);

}  // namespace kestrella
