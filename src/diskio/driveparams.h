// Drive description records of sector access.
#pragma once

#include <cstdint>

namespace kestrella {

// DriveType values of the records below.
inline constexpr int16_t kDriveUnknown = 0;
inline constexpr int16_t kDriveFloppy = 1;
inline constexpr int16_t kDriveRemovable = 2;
inline constexpr int16_t kDriveFixed = 3;
inline constexpr int16_t kDriveCDROM = 4;

struct TLogDriveParams {
  int16_t DriveType = 0;
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
