// Reading a file's data cluster by cluster through a window of one data
// sector.
#pragma once

#include <cstdint>
#include <vector>

#include "fat/fatgeometry.h"

namespace kestrella {

class TCustomDrive;
class FatTable;

// Why a read ended before the size it was opened with.
enum class ReadEnd : uint8_t {
  Whole,        // it did not
  ClustersEnd,  // past the chain no free cluster could hold the rest
  SourceEnd,    // the next sector lies beyond the end of the card
};

// Open-file state of a read.
struct TFATFileInfo {
  uint32_t FirstCluster = 0;
  uint32_t CurrentCluster = 0;
  uint32_t Position = 0;
  // How far the read goes: the size it was opened with, cut to what the
  // volume's data area holds, and cut again where the read found it cannot
  // go on (see End).
  uint32_t Size = 0;
  // The size the read was opened with (a directory entry's), and why Size
  // came out smaller.
  uint32_t OpenedSize = 0;
  ReadEnd End = ReadEnd::Whole;
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
  // and `sectorInCluster` say where the read stands after them (cluster 0:
  // the read can go nowhere after them).
  struct SectorRun {
    uint32_t sectors;
    uint32_t cluster;
    uint32_t sectorInCluster;
  };
  SectorRun NextRun(TFATFileInfo& info, uint32_t sectorInCluster, uint32_t wanted, uint8_t useFAT);
  // The cluster after `cluster`, 0 when there is none to go to; a link
  // guessed on the way is noted in `info` when one is given.
  uint32_t FollowingCluster(uint32_t cluster, uint8_t useFAT, TFATFileInfo* info);
  // Ends the read of `info` where it stands, for `why`.
  static void EndHere(TFATFileInfo& info, ReadEnd why);
  // Whether the medium holds volume sector `sector` (true when its size is
  // not known).
  bool OnMedium(uint64_t sector) const;

  TCustomDrive& volume_;
  const FatGeometry& geometry_;
  FatTable& table_;
  uint64_t& unreadableSectors_;
  uint32_t sectorSize_ = 512;
  std::vector<uint8_t> window_;
  uint32_t windowSector_ = 0;  // 0 = nothing held
  // A run that ends inside a sector is read here whole, then handed out.
  std::vector<uint8_t> run_;
};

}  // namespace kestrella
