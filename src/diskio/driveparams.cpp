#include "diskio/driveparams.h"

#include <algorithm>

namespace kestrella {

void SynthesiseGeometry(TLogDriveParams& p, uint64_t totalSectors) {
  struct Floppy {
    uint64_t sectors;
    uint32_t cylinders, heads, perTrack;
  };
  static constexpr Floppy kFloppies[] = {
      {720, 40, 2, 9},    {1440, 80, 2, 9},   {2400, 80, 2, 15},
      {2880, 80, 2, 18},  {5760, 80, 2, 36},
  };
  for (const Floppy& f : kFloppies) {
    if (f.sectors == totalSectors) {
      p.Cylinders = f.cylinders;
      p.Heads = f.heads;
      p.SectorsPerTrack = f.perTrack;
      return;
    }
  }
  p.Heads = 255;
  p.SectorsPerTrack = 63;
  p.Cylinders = static_cast<uint32_t>(std::min<uint64_t>(totalSectors / (255 * 63), UINT32_MAX));
}

void SetSize(TLogDriveParams& p, uint64_t bytes, uint32_t sectorSize) {
  p.TotalBytes = bytes;
  p.TotalSectors = bytes / sectorSize + (bytes % sectorSize != 0 ? 1 : 0);
}

}  // namespace kestrella
