#include "fat/fattable.h"

#include <algorithm>

#include "devices/drivebase.h"
#include "fat/fatanalyser.h"

namespace kestrella {

namespace {

// Table sectors read in one go: 64 KiB, what the device reads per call. A
// walk along a chain or over the free clusters then costs one read per 128
// table sectors instead of one per sector.
constexpr uint32_t kBlockSectors = 128;

}  // namespace

FatTable::FatTable(TCustomDrive& volume, const FatGeometry& geometry)
    : volume_(volume), geometry_(geometry) {
  Reset(sectorSize_);
}

void FatTable::Reset(uint32_t sectorSize) {
  sectorSize_ = sectorSize;
  window_.assign((kBlockSectors + 1) * static_cast<size_t>(sectorSize_), 0);
  windowSector_ = 0;
  windowSectors_ = 0;
  failedSector_ = 0;
  failedBlock_ = 0;
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
  const uint8_t* bytes = Held(sector);
  if (fatType == kFat12 && at == bps - 1) {
    // The entry's last bits are in the next sector; one the window does not
    // hold is read for this entry alone.
    const uint8_t* next = Held(sector + 1);
    if (next == nullptr) {
      uint8_t* spare = window_.data() + static_cast<size_t>(kBlockSectors) * sectorSize_;
      if (!volume_.ReadSec(sector + 1, 1, spare, true)) {
        unreadableSector_ = sector + 1;
        return kFatEntryUnknown;
      }
      next = spare;
    }
    const uint16_t word = static_cast<uint16_t>(bytes[at] | (next[0] << 8));
    return (cluster & 1) != 0 ? word >> 4 : word & 0xFFFu;
  }
  switch (fatType) {
    case kFat16: return Le16(bytes + at);
    case kFat32: return Le32(bytes + at) & 0x0FFFFFFFu;
    default: {
      const uint16_t word = Le16(bytes + at);
      return (cluster & 1) != 0 ? word >> 4 : word & 0xFFFu;
    }
  }
}

const uint8_t* FatTable::Held(uint32_t sector) const {
  if (windowSectors_ == 0 || sector < windowSector_ || sector - windowSector_ >= windowSectors_)
    return nullptr;
  return window_.data() + static_cast<size_t>(sector - windowSector_) * sectorSize_;
}

bool FatTable::Load(uint32_t sector) {
  if (Held(sector) != nullptr) return true;
  if (sector == failedSector_) return false;
  // The block of the table copy that holds the sector: blocks start at the
  // copy's first sector, so that every walk over a copy reads the same ones.
  const uint32_t reserved = geometry_.BootRec().ReservedSectors();
  const auto perFAT = static_cast<uint32_t>(std::max<int32_t>(geometry_.SectorsPerFAT(), 0));
  uint32_t first = sector;
  uint32_t count = 1;
  if (perFAT != 0 && sector >= reserved) {
    const uint32_t copyStart = reserved + (sector - reserved) / perFAT * perFAT;
    first = copyStart + (sector - copyStart) / kBlockSectors * kBlockSectors;
    count = std::min(kBlockSectors, copyStart + perFAT - first);
  }
  windowSectors_ = 0;
  if (first != failedBlock_ && count > 1 &&
      volume_.ReadSec(first, static_cast<uint16_t>(count), window_.data(), false)) {
    windowSector_ = first;
    windowSectors_ = count;
    failedSector_ = 0;
    return true;
  }
  if (count > 1) failedBlock_ = first;
  if (!volume_.ReadSec(sector, 1, window_.data(), true)) {
    std::fill(window_.begin(), window_.end(), uint8_t{0});
    windowSector_ = 0;
    failedSector_ = sector;
    return false;
  }
  windowSector_ = sector;
  windowSectors_ = 1;
  failedSector_ = 0;
  return true;
}

uint32_t FatTable::NextCluster(uint32_t cluster, uint8_t useFAT) {
  if (useFAT == 0) return cluster + 1;
  return GetFAT(cluster, useFAT - 1u);
}

uint32_t FatTable::NextFreeCluster(uint32_t cluster) {
  const uint32_t free = FreeClusterAfter(cluster);
  return free != 0 ? free : cluster + 1;
}

uint32_t FatTable::FreeClusterAfter(uint32_t cluster) {
  if (noFreeFrom_ != 0 && cluster + 1 >= noFreeFrom_) return 0;
  const uint32_t clusterCount = geometry_.ClusterCount();
  for (uint32_t c = cluster + 1; c <= clusterCount + 1; ++c) {
    if (TFATAnalyser::ClusterType(geometry_.FATType(), GetFAT(c, 0)) == kClusterFree) return c;
  }
  noFreeFrom_ = noFreeFrom_ == 0 ? cluster + 1 : std::min(noFreeFrom_, cluster + 1);
  return 0;
}

}  // namespace kestrella
