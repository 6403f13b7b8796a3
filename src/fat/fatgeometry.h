// Where things are on a FAT12, FAT16 or FAT32 volume: the boot record and
// the layout it implies (table, root directory, data area, clusters).
#pragma once

#include <cstdint>

#include "fat/fattypes.h"

namespace kestrella {

class FatGeometry {
 public:
  // Takes `boot` and works out the layout from it. `mediumSectors` is how
  // many sectors the medium holds from the volume's first one (0: not
  // known); no cluster is counted beyond them. False when the record names
  // no sector size or no cluster size: the values not reached stay as they
  // were.
  bool Derive(const TBootRecord& boot, uint64_t mediumSectors);

  const TBootRecord& BootRec() const { return boot_; }
  uint8_t FATType() const { return fatType_; }
  int32_t TotalSectors() const { return totalSectors_; }
  uint32_t BytesPerCluster() const { return bytesPerCluster_; }
  // The first cluster of the root directory on FAT32; 0 on FAT12/16, whose
  // root has a fixed region of its own.
  uint32_t RootCluster() const { return rootCluster_; }
  uint32_t RootDirSectors() const { return rootDirSectors_; }
  int32_t RootDirStart() const { return rootDirStart_; }
  int32_t SectorsPerFAT() const { return sectorsPerFAT_; }
  uint32_t FATAreaSectors() const { return fatAreaSectors_; }
  uint32_t FirstDataSector() const { return firstDataSector_; }
  uint32_t DataSectors() const { return dataSectors_; }
  // Clusters 2 .. ClusterCount + 1 exist: the ones the data area holds, the
  // table can describe and the medium can give back.
  uint32_t ClusterCount() const { return clusterCount_; }
  // Sectors the medium holds from the volume's first one (0: not known).
  uint64_t MediumSectors() const { return mediumSectors_; }
  // Bytes of the clusters that exist: no file read is longer.
  uint64_t DataBytes() const { return uint64_t{clusterCount_} * bytesPerCluster_; }

  uint32_t Cluster2Sec(uint32_t cluster) const;
  uint32_t Sec2Cluster(uint32_t sector) const;
  bool IsValidCluster(uint32_t cluster) const { return cluster >= 2 && cluster <= clusterCount_ + 1; }
  // The table value that marks the end of a chain (kClusterEnd) or a bad
  // cluster (kClusterBad) on this volume; 0 for any other kind.
  uint32_t GetClusterMask(uint8_t kind) const;
  bool IsEOF(uint32_t value) const;

 private:
  TBootRecord boot_;
  uint8_t fatType_ = 0;
  int32_t totalSectors_ = 0;
  uint32_t bytesPerCluster_ = 0;  // wide enough for 64 KiB clusters and more
  uint32_t rootCluster_ = 0;
  uint32_t rootDirSectors_ = 0;
  int32_t rootDirStart_ = 0;
  int32_t sectorsPerFAT_ = 0;
  uint32_t fatAreaSectors_ = 0;
  uint32_t firstDataSector_ = 0;
  uint32_t dataSectors_ = 0;
  uint32_t clusterCount_ = 0;
  uint64_t mediumSectors_ = 0;
};

}  // namespace kestrella
