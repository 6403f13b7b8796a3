// The FAT drives of a whole disk or card image: the partitions of its table
// (or the one volume of a card without a table), and the search for volumes
// no table lists any more.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/source.h"

namespace kestrella {

class TCustomDrive;
class TDevice;
class TFrmFATScan;

struct DriveRow {
  uint32_t start = 0;    // first sector on the disk
  uint32_t sectors = 0;  // 0 = not known
  std::string fatType;   // "FAT12", "FAT16", "FAT32" or "" when not mounted
  std::string name;      // volume name, with "(lost)" or "without BootSec" for found ones
};

class DiskSurvey {
 public:
  // Reads the disk behind `source` by its BIOS number. Throws UserError when
  // the source is a partition rather than a whole disk, or cannot be read.
  DiskSurvey(Engine& engine, const OpenedSource& source);
  ~DiskSurvey();
  DiskSurvey(const DiskSurvey&) = delete;
  DiskSurvey& operator=(const DiskSurvey&) = delete;

  // Sector 0 holds a partition table (not a volume's boot sector).
  bool Partitioned() const;
  // The drives of the table, or the card's one volume.
  std::vector<DriveRow> Drives();
  // Searches sectors first..last for boot sectors of volumes no table lists
  // and for volumes whose boot sector is gone; returns the drives found.
  // OnProgress hears of the sector in hand at once and then about twice a
  // second.
  std::vector<DriveRow> FindLostDrives(uint32_t first, uint32_t last);
  std::function<void(uint32_t sector)> OnProgress;
  // Stops a running search after the sector in hand.
  void Stop();

 private:
  std::vector<DriveRow> Rows(int from) const;

  std::unique_ptr<TFrmFATScan> driver_;
  TDevice* device_ = nullptr;
};

}  // namespace kestrella
