// The allocation table of a FAT volume, read entry by entry through a window
// of table sectors.
#pragma once

#include <cstdint>
#include <vector>

#include "fat/fatgeometry.h"

namespace kestrella {

class TCustomDrive;

class FatTable {
 public:
  // `volume` gives the table's sectors and `geometry` says where they are
  // and how wide an entry is; both outlive the table.
  FatTable(TCustomDrive& volume, const FatGeometry& geometry);

  // Sizes the window for the device's `sectorSize`-byte sectors and forgets
  // what the window held and what searches for free clusters found: the
  // volume it reads may be another one now.
  void Reset(uint32_t sectorSize);

  // The entry of `cluster` in allocation-table copy `copy`; 0 for a cluster
  // outside 2 .. ClusterCount + 1 (no table describes it). When the table
  // sector holding the entry cannot be read, kFatEntryUnknown: taking such
  // an entry for 0 would make a live chain look ended and its clusters
  // free, and taking the bytes of another sector would follow links that
  // are not its own.
  uint32_t GetFAT(uint32_t cluster, uint32_t copy);
  // The volume sector of the table whose failed read made the latest
  // kFatEntryUnknown (0 before any).
  uint32_t UnreadableSector() const { return unreadableSector_; }
  // The cluster after `cluster` in a chain read with `useFAT` (0: the next
  // one on the volume; n: the entry in table copy n - 1).
  uint32_t NextCluster(uint32_t cluster, uint8_t useFAT);
  // The first cluster after `cluster` that the table marks free (an
  // unknown entry is not), or cluster + 1 when none is (a deleted file's chain is erased, and its later
  // clusters are usually the free ones that follow).
  uint32_t NextFreeCluster(uint32_t cluster);
  // The first cluster after `cluster` that the table marks free; 0 when
  // none is.
  uint32_t FreeClusterAfter(uint32_t cluster);

 private:
  // Brings table sector `sector` into the window, with the sectors of its
  // block of the table (kBlockSectors, read in one go). One that cannot be
  // read leaves the window empty: the bytes of the sectors held before must
  // not be taken for its entries, or chains would be followed through links
  // that are not theirs.
  bool Load(uint32_t sector);
  // The bytes of table sector `sector` in the window; nullptr when not held.
  const uint8_t* Held(uint32_t sector) const;

  TCustomDrive& volume_;
  const FatGeometry& geometry_;
  uint32_t sectorSize_ = 512;
  // Table sectors windowSector_ .. + windowSectors_ - 1, and room for one
  // more: a 12-bit entry may straddle the end of a sector, and the next one
  // is read for it alone when the window does not hold it. 0 = nothing held.
  std::vector<uint8_t> window_;
  uint32_t windowSector_ = 0;
  uint32_t windowSectors_ = 0;
  // The sector whose read failed last, until another one is read: the
  // entries of one sector are asked for one after the other, and a failing
  // card would otherwise be asked (and retry) once for each. In the block
  // whose read failed last, sectors are read one by one, so that a bad
  // sector costs its neighbours no failed read each.
  uint32_t failedSector_ = 0;
  uint32_t failedBlock_ = 0;
  uint32_t unreadableSector_ = 0;
  // Clusters from here on hold no free one (0 = not known yet). The table
  // does not change while it is read, so a search that found nothing is not
  // repeated for every cluster of a long deleted file on a full card.
  uint32_t noFreeFrom_ = 0;
};

}  // namespace kestrella
