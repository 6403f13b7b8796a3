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
  uint64_t TotalSectors = 0;  // a partial last sector counts as one
  uint64_t TotalBytes = 0;    // the size, which ends inside a partial last sector
};

// Whole disks are described the same way.
using TPhysDriveParams = TLogDriveParams;

// Fills Cylinders/Heads/SectorsPerTrack with a geometry that describes
// `totalSectors` for information only: the classic floppy layouts for floppy
// sizes, else 255 heads of 63 sectors. Nothing reads by cylinder any more.
void SynthesiseGeometry(TLogDriveParams& p, uint64_t totalSectors);

// Fills TotalSectors and TotalBytes of `bytes` in sectors of `sectorSize`
// (not 0). An image file cut short ends inside its last sector, which is
// read as a whole one (see SectorSource): it is counted.
void SetSize(TLogDriveParams& p, uint64_t bytes, uint32_t sectorSize);

}  // namespace kestrella
