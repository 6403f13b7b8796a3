// Reading FAT directories entry by entry (or sector by sector) through a
// window of one directory sector.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fat/fatgeometry.h"
#include "fat/fattypes.h"

namespace kestrella {

class TCustomDrive;
class FatTable;

// Where a directory walk stands: the current cluster (0 = the fixed root
// region of FAT12/16), the current sector (used in the root region), and the
// next entry (or sector) within the cluster or root sector. `Hops` counts the
// clusters entered, so that a looping chain ends after the volume's count.
struct TDirWalk {
  uint32_t Cluster = 0;
  uint32_t Sector = 0;
  uint16_t Index = 0;
  uint32_t Hops = 0;
};

// A walk goes from cluster to cluster as table copy `useFAT` links them
// (0: cluster after cluster, see FatTable::NextCluster).
class FatDirectoryReader {
 public:
  // `volume` gives the sectors, `geometry` says where they are, `table`
  // links a directory's clusters; all of them outlive the reader.
  FatDirectoryReader(TCustomDrive& volume, const FatGeometry& geometry, FatTable& table);

  // Sizes the window for the device's `sectorSize`-byte sectors and forgets
  // what it held.
  void Reset(uint32_t sectorSize);

  bool GetNextRecord(TDirWalk& walk, TDirEntry& entry, uint8_t useFAT);
  bool ReadDataSec(TDirWalk& walk, uint8_t* buffer, uint8_t useFAT);
  // Called with a long-name entry just read: gathers the run and leaves the
  // record that follows it in `entry`. True when that record is the short
  // entry the run names (its checksum says so; for a deleted one, see
  // RunNames): `name` then gets the low bytes of the characters (for
  // matching), `utf8` (when given) the name as UTF-8.
  bool GetLongName(TDirWalk& walk, uint8_t useFAT, std::string& name, TDirEntry& entry,
                   std::string* utf8 = nullptr);
  // The next entry of the walk (deleted ones too with `includeDeleted`),
  // named by its long name when it has one, else by its short name; false
  // at the end of the directory. Long-name runs that name no entry are
  // passed over.
  bool FindNextEntry(TDirWalk& walk, uint8_t useFAT, bool includeDeleted, std::string& name,
                     TDirEntry& entry, std::string* utf8 = nullptr);

 private:
  enum class RunEnd { Named, Orphan, Unreadable };
  RunEnd ReadLongName(TDirWalk& walk, uint8_t useFAT, std::string& name, TDirEntry& entry,
                      std::string* utf8);
  // The next record that is in use (deleted ones only with
  // `includeDeleted`); false at the end of the directory.
  bool NextUsedRecord(TDirWalk& walk, uint8_t useFAT, bool includeDeleted, TDirEntry& entry);
  uint32_t UsableSectorSize() const;
  bool InRootRegion(uint32_t sector) const;
  uint32_t MaxDirectoryClusters() const;
  bool EnterNextCluster(TDirWalk& walk, uint8_t useFAT);
  bool EnterFirstCluster(TDirWalk& walk) const;
  // Brings `sector` into the window.
  bool Load(uint32_t sector);

  TCustomDrive& volume_;
  const FatGeometry& geometry_;
  FatTable& table_;
  uint32_t sectorSize_ = 512;
  std::vector<uint8_t> window_;
  uint32_t windowSector_ = 0;  // 0 = nothing held
};

}  // namespace kestrella
