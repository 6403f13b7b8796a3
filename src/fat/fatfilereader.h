// Reading a file's data cluster by cluster through a window of one data
// sector.
#pragma once

#include <cstdint>
#include <vector>

#include "fat/fatgeometry.h"

namespace kestrella {

class TCustomDrive;
class FatTable;

// Open-file state of a read.
struct TFATFileInfo {
  uint32_t FirstCluster = 0;
  uint32_t CurrentCluster = 0;
  uint32_t Position = 0;
  uint32_t Size = 0;
  // The first link of the read that had to be guessed because the table
  // sector holding it could not be read: the cluster the guess left from
  // (0 = nothing guessed) and that table sector.
  uint32_t GuessedAfter = 0;
  uint32_t UnreadableTableSector = 0;
};

// A read goes from cluster to cluster as table copy `useFAT` links them
// (0: cluster after cluster, see FatTable::NextCluster).
class FatFileReader {
 public:
  // `volume` gives the sectors, `geometry` says where they are, `table`
  // links a file's clusters; every data sector that cannot be read is
  // counted in `unreadableSectors`. All of them outlive the reader.
  FatFileReader(TCustomDrive& volume, const FatGeometry& geometry, FatTable& table,
                uint64_t& unreadableSectors);

  // Sizes the window for the device's `sectorSize`-byte sectors and forgets
  // what it held.
  void Reset(uint32_t sectorSize);

  bool ResetByCluster(uint32_t firstCluster, uint32_t size, TFATFileInfo& info);
  bool BlockRead(TFATFileInfo& info, uint32_t count, uint8_t* buffer, uint8_t useFAT,
                 uint32_t& bytesRead);
  bool Seek(TFATFileInfo& info, uint32_t position, uint8_t useFAT);
  bool GetRecPosCluster(uint32_t& cluster, uint32_t position, uint8_t useFAT);

 private:
  // The sectors a file read can take in one transfer from where `info`
  // stands (at `sectorInCluster` of its current cluster), at most `wanted`:
  // to the end of the run of adjacent clusters its chain follows. `cluster`
  // and `sectorInCluster` say where the read stands after them.
  struct SectorRun {
    uint32_t sectors;
    uint32_t cluster;
    uint32_t sectorInCluster;
  };
  SectorRun NextRun(TFATFileInfo& info, uint32_t sectorInCluster, uint32_t wanted, uint8_t useFAT);
  // The cluster after `cluster`; a link guessed on the way is noted in
  // `info` when one is given.
  uint32_t FollowingCluster(uint32_t cluster, uint8_t useFAT, TFATFileInfo* info);

  TCustomDrive& volume_;
  const FatGeometry& geometry_;
  FatTable& table_;
  uint64_t& unreadableSectors_;
  uint32_t sectorSize_ = 512;
  std::vector<uint8_t> window_;
  uint32_t windowSector_ = 0;  // 0 = nothing held
};

}  // namespace kestrella
