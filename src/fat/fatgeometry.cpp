#include "fat/fatgeometry.h"

#include <algorithm>

namespace kestrella {

bool FatGeometry::Derive(const TBootRecord& boot, uint64_t mediumSectors) {
  boot_ = boot;
  mediumSectors_ = mediumSectors;
  const uint32_t bytesPerSector = boot.BytesPerSector();
  const uint32_t perCluster = boot.SectorsPerCluster();
  const uint32_t fats = boot.NumberOfFATs();
  const uint32_t reserved = boot.ReservedSectors();
  if (bytesPerSector == 0) return false;
  rootDirSectors_ = (boot.RootEntries() * 32u + bytesPerSector - 1) / bytesPerSector;
  sectorsPerFAT_ = static_cast<int32_t>(boot.SectorsPerFAT16() != 0 ? boot.SectorsPerFAT16()
                                                                    : boot.SectorsPerFAT32());
  fatAreaSectors_ = static_cast<uint32_t>(sectorsPerFAT_) * fats;
  firstDataSector_ = fats * static_cast<uint32_t>(sectorsPerFAT_) + reserved + rootDirSectors_;
  totalSectors_ = static_cast<int32_t>(boot.TotalSectors16() != 0 ? boot.TotalSectors16()
                                                                  : boot.TotalSectors32());
  if (perCluster == 0) return false;
  // A data area that starts past the end of the volume holds no clusters.
  const uint32_t total = static_cast<uint32_t>(totalSectors_);
  dataSectors_ = total > firstDataSector_ ? total - firstDataSector_ : 0;
  clusterCount_ = dataSectors_ / perCluster;
  fatType_ = clusterCount_ < 4085 ? kFat12 : clusterCount_ < 65525 ? kFat16 : kFat32;
  // A boot sector may claim more clusters than its table can describe, or
  // than the medium holds (a truncated image, a crafted card). Walks never go
  // past either: nothing beyond them can be read back.
  const uint64_t entryBits = fatType_ == kFat12 ? 12 : fatType_ == kFat16 ? 16 : 32;
  const uint64_t tableEntries = static_cast<uint64_t>(sectorsPerFAT_) * bytesPerSector * 8 / entryBits;
  uint64_t usable = clusterCount_;
  if (tableEntries >= 2) usable = std::min<uint64_t>(usable, tableEntries - 2);
  if (mediumSectors != 0) {
    const uint64_t inMedium =
        mediumSectors > firstDataSector_ ? (mediumSectors - firstDataSector_) / perCluster : 0;
    usable = std::min(usable, inMedium);
  }
  clusterCount_ = static_cast<uint32_t>(usable);

  bytesPerCluster_ = bytesPerSector * perCluster;
  if (fatType_ == kFat32) {
    const uint32_t root = boot.RootCluster();
    rootDirStart_ = static_cast<int32_t>((root - 2) * perCluster + firstDataSector_);
    rootCluster_ = root;
  } else {
    rootDirStart_ = static_cast<int32_t>(fats * static_cast<uint32_t>(sectorsPerFAT_) + reserved);
    rootCluster_ = 0;
  }
  return true;
}

uint32_t FatGeometry::GetClusterMask(uint8_t kind) const {
  uint32_t base = 0;
  switch (fatType_) {
    case kFat12: base = 0xFF7; break;
    case kFat16: base = 0xFFF7; break;
    case kFat32: base = 0xFFFFFF7; break;
    default: base = 0;
  }
  if (kind == kClusterEnd) return base + 8;
  if (kind == kClusterBad) return base;
  return 0;
}

bool FatGeometry::IsEOF(uint32_t value) const {
  switch (fatType_) {
    case kFat12: return value > 0xFF7;
    case kFat16: return value > 0xFFF7;
    case kFat32: return value > 0xFFFFFF7;
    default: return false;
  }
}

uint32_t FatGeometry::Cluster2Sec(uint32_t cluster) const {
  return (cluster - 2) * boot_.SectorsPerCluster() + firstDataSector_;
}

uint32_t FatGeometry::Sec2Cluster(uint32_t sector) const {
  const uint32_t perCluster = boot_.SectorsPerCluster();
  if (perCluster == 0) return 0;
  return (sector - firstDataSector_) / perCluster + 2;
}

}  // namespace kestrella
