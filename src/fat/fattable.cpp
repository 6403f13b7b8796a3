#include "fat/fattable.h"

#include <algorithm>

#include "devices/drivebase.h"
#include "fat/fatanalyser.h"

namespace kestrella {

FatTable::FatTable(TCustomDrive& volume, const FatGeometry& geometry)
    : volume_(volume), geometry_(geometry) {
  Reset(sectorSize_);
}

void FatTable::Reset(uint32_t sectorSize) {
  sectorSize_ = sectorSize;
  window_.assign(2 * static_cast<size_t>(sectorSize_), 0);
  windowSector_ = 0;
  failedSector_ = 0;
  unreadableSector_ = 0;
  noFreeFrom_ = 0;
}

uint32_t FatTable::GetFAT(uint32_t cluster, uint32_t copy) {
  if (!geometry_.IsValidCluster(cluster)) return 0;
  const TBootRecord& boot = geometry_.BootRec();
  const uint32_t bps = boot.BytesPerSector();
  if (bps == 0) return 0;
  const uint8_t fatType = geometry_.FATType();
  uint64_t offset;
  switch (fatType) {
    case kFat16: offset = static_cast<uint64_t>(cluster) * 2; break;
    case kFat32: offset = static_cast<uint64_t>(cluster) * 4; break;
    case kFat12: offset = cluster + cluster / 2; break;
    default: return 0;
  }
  const uint64_t perFAT = static_cast<uint32_t>(geometry_.SectorsPerFAT());
  const uint64_t sector64 = offset / bps + copy * perFAT + boot.ReservedSectors();
  // Sectors no read can reach, and logical sectors larger than the device's
  // (the window holds one volume sector), leave the entry as unknown as a
  // sector that fails.
  if (sector64 > INT32_MAX || bps > sectorSize_) return kFatEntryUnknown;
  const uint32_t sector = static_cast<uint32_t>(sector64);
  if (!Load(sector)) {
    unreadableSector_ = sector;
    return kFatEntryUnknown;
  }
  const uint32_t at = static_cast<uint32_t>(offset % bps);
  if (fatType == kFat12 && at == bps - 1) {
    // The entry's last bits are in the next sector, read for this entry
    // alone.
    if (!volume_.ReadSec(sector + 1, 1, window_.data() + sectorSize_, true)) {
      unreadableSector_ = sector + 1;
      return kFatEntryUnknown;
    }
    const uint16_t word = static_cast<uint16_t>(window_[at] | (window_[sectorSize_] << 8));
    return (cluster & 1) != 0 ? word >> 4 : word & 0xFFFu;
  }
  switch (fatType) {
    case kFat16: return Le16(&window_[at]);
    case kFat32: return Le32(&window_[at]) & 0x0FFFFFFFu;
    default: {
      const uint16_t word = Le16(&window_[at]);
      return (cluster & 1) != 0 ? word >> 4 : word & 0xFFFu;
    }
  }
}

bool FatTable::Load(uint32_t sector) {
  // 0 also marks the empty window: no table starts at the boot sector.
  if (sector == windowSector_) return true;
  if (sector == failedSector_) return false;
  if (!volume_.ReadSec(sector, 1, window_.data(), true)) {
    std::fill(window_.begin(), window_.end(), uint8_t{0});
    windowSector_ = 0;
    failedSector_ = sector;
    return false;
  }
  windowSector_ = sector;
  failedSector_ = 0;
  return true;
}

uint32_t FatTable::NextCluster(uint32_t cluster, uint8_t useFAT) {
  if (useFAT == 0) return cluster + 1;
  return GetFAT(cluster, useFAT - 1u);
}

uint32_t FatTable::NextFreeCluster(uint32_t cluster) {
  if (noFreeFrom_ != 0 && cluster + 1 >= noFreeFrom_) return cluster + 1;
  const uint32_t clusterCount = geometry_.ClusterCount();
  for (uint32_t c = cluster + 1; c <= clusterCount + 1; ++c) {
    if (TFATAnalyser::ClusterType(geometry_.FATType(), GetFAT(c, 0)) == kClusterFree) return c;
  }
  noFreeFrom_ = noFreeFrom_ == 0 ? cluster + 1 : std::min(noFreeFrom_, cluster + 1);
  return cluster + 1;
}

}  // namespace kestrella
