// Walking FAT directories entry by entry (or sector by sector), and putting
// long names back together, live and deleted alike.
#include "fat/fatdirectoryreader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "devices/drivebase.h"
#include "fat/fatanalyser.h"
#include "fat/fattable.h"
#include "fat/names.h"
#include "util/helpers.h"

namespace kestrella {

namespace {

// A FAT directory never holds more than 65536 entries (2 MiB); a chain that
// goes on past that is a loop or a file's chain, not a directory.
constexpr uint64_t kMaxDirectoryBytes = 65536ull * 32;

// Units in a long name that the walk takes: 18 entries of 13.
constexpr int kLongNameEntries = 18;
constexpr int kLongNameUnits = kLongNameEntries * 13;

bool IsLongNamePart(const TDirEntry& entry, uint8_t checksum) {
  return entry.IsLongName() && entry.ClusterLow() == 0 && entry.Checksum() == checksum;
}

}  // namespace

FatDirectoryReader::FatDirectoryReader(TCustomDrive& volume, const FatGeometry& geometry,
                                       FatTable& table)
    : volume_(volume), geometry_(geometry), table_(table) {
  Reset(sectorSize_);
}

void FatDirectoryReader::Reset(uint32_t sectorSize) {
  sectorSize_ = sectorSize;
  window_.assign(sectorSize_, 0);
  windowSector_ = 0;
}

// Bytes per sector the walk can use: at least one entry, and no more than
// the window holds.
uint32_t FatDirectoryReader::UsableSectorSize() const {
  const uint32_t bps = geometry_.BootRec().BytesPerSector();
  if (bps < 32 || bps > sectorSize_ || geometry_.FATType() == 0) return 0;
  return bps;
}

// Whether a walk in the fixed root region may read `sector`: only the
// region's own sectors, never the boot sector or the tables before it and
// never the data area after it.
bool FatDirectoryReader::InRootRegion(uint32_t sector) const {
  const int64_t first = geometry_.RootDirStart();
  const int64_t end = first + geometry_.RootDirSectors();
  return sector != 0 && static_cast<int64_t>(sector) >= first && static_cast<int64_t>(sector) < end;
}

// The most clusters a directory walk enters: no more than the volume has (a
// looping chain), and no more than the largest directory needs.
uint32_t FatDirectoryReader::MaxDirectoryClusters() const {
  const uint64_t perCluster = std::max<uint64_t>(geometry_.BytesPerCluster(), 1);
  const uint64_t bySize = (kMaxDirectoryBytes + perCluster - 1) / perCluster;
  return static_cast<uint32_t>(std::min<uint64_t>(geometry_.ClusterCount(), bySize));
}

// Moves the walk into the cluster after its current one. False at the end
// of the chain, at a free or out-of-range link, and once the walk would
// enter more clusters than a directory can have.
bool FatDirectoryReader::EnterNextCluster(TDirWalk& walk, uint8_t useFAT) {
  const uint32_t next = table_.NextCluster(walk.Cluster, useFAT);
  if (geometry_.IsEOF(next) || !geometry_.IsValidCluster(next)) return false;
  if (walk.Hops >= MaxDirectoryClusters()) return false;
  ++walk.Hops;
  walk.Cluster = next;
  return true;
}

// Starts the count of a walk in a cluster chain: its first cluster counts.
bool FatDirectoryReader::EnterFirstCluster(TDirWalk& walk) const {
  if (!geometry_.IsValidCluster(walk.Cluster)) return false;
  if (walk.Hops == 0) walk.Hops = 1;
  return true;
}

bool FatDirectoryReader::Load(uint32_t sector) {
  // Sector 0 doubles as "nothing loaded", so it is never taken from the window.
  if (sector == windowSector_ && sector != 0) return true;
  if (!volume_.ReadSec(sector, 1, window_.data(), true)) {
    windowSector_ = 0;
    return false;
  }
  windowSector_ = sector;
  return true;
}

bool FatDirectoryReader::GetNextRecord(TDirWalk& walk, TDirEntry& entry, uint8_t useFAT) {
  const uint32_t bps = UsableSectorSize();
  if (bps == 0) return false;
  const uint32_t perSector = bps / 32;
  uint32_t sector;
  uint32_t slot;
  if (walk.Cluster == 0) {
    if (walk.Index >= perSector) {
      walk.Index = 0;
      ++walk.Sector;
    }
    if (!InRootRegion(walk.Sector)) return false;
    sector = walk.Sector;
    slot = walk.Index;
  } else {
    if (!EnterFirstCluster(walk)) return false;
    const uint32_t perCluster = geometry_.BytesPerCluster() / 32;
    // The index is 16 bits wide; a cluster with more entries could not be
    // walked to its end.
    if (perCluster == 0 || perCluster > 0xFFFF) return false;
    if (walk.Index >= perCluster) {
      if (!EnterNextCluster(walk, useFAT)) return false;
      walk.Index = 0;
    }
    sector = geometry_.Cluster2Sec(walk.Cluster) + walk.Index / perSector;
    slot = walk.Index % perSector;
  }
  if (!Load(sector)) return false;
  std::memcpy(entry.raw.data(), window_.data() + slot * 32, 32);
  ++walk.Index;
  return true;
}

bool FatDirectoryReader::ReadDataSec(TDirWalk& walk, uint8_t* buffer, uint8_t useFAT) {
  const uint32_t bps = UsableSectorSize();
  if (bps == 0) return false;
  uint32_t sector;
  if (walk.Cluster == 0) {
    if (walk.Index != 0) {
      walk.Index = 0;
      ++walk.Sector;
    }
    if (!InRootRegion(walk.Sector)) return false;
    sector = walk.Sector;
  } else {
    if (!EnterFirstCluster(walk)) return false;
    const uint32_t perCluster = geometry_.BootRec().SectorsPerCluster();
    if (perCluster == 0) return false;
    if (walk.Index >= perCluster) {
      if (!EnterNextCluster(walk, useFAT)) return false;
      walk.Index = 0;
    }
    sector = geometry_.Cluster2Sec(walk.Cluster) + walk.Index;
  }
  if (!Load(sector)) return false;
  std::memcpy(buffer, window_.data(), bps);
  ++walk.Index;
  return true;
}

bool FatDirectoryReader::GetLongName(TDirWalk& walk, uint8_t useFAT, std::string& name, TDirEntry& entry,
                                     std::string* utf8) {
  // A run starts with its last part, marked by bit 0x40; the deleted marker
  // 0xE5 has that bit too, so deleted runs are read the same way.
  if (!entry.IsLongName() || entry.ClusterLow() != 0 || (entry.FirstByte() & 0x40) == 0) return false;
  const uint8_t checksum = entry.Checksum();
  // Parts come last first, so the buffer fills from its end.
  std::array<uint16_t, kLongNameUnits> units{};
  int position = kLongNameUnits;
  int total = 0;
  int remaining = kLongNameEntries;
  bool lastRead = true;
  while (remaining > 0 && IsLongNamePart(entry, checksum)) {
    position -= 13;
    total += 13;
    static constexpr std::array<int, 13> kOffsets = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int k = 0; k < 13; ++k) units[static_cast<size_t>(position + k)] = Le16(&entry.raw[kOffsets[k]]);
    --remaining;
    if (remaining > 0) {
      lastRead = GetNextRecord(walk, entry, useFAT);
      if (!lastRead) break;
    }
  }
  if (!lastRead) return false;
  // The matching name keeps the low byte of each unit; Unicode2ASCII wants
  // the units as little-endian bytes.
  std::array<uint8_t, kLongNameUnits * 2> bytes{};
  for (int k = 0; k < total; ++k) {
    const uint16_t u = units[static_cast<size_t>(position + k)];
    bytes[static_cast<size_t>(2 * k)] = static_cast<uint8_t>(u & 0xFF);
    bytes[static_cast<size_t>(2 * k + 1)] = static_cast<uint8_t>(u >> 8);
  }
  name = Unicode2ASCII(bytes.data(), static_cast<uint8_t>(total));
  if (utf8 != nullptr) *utf8 = Utf16ToUtf8(units.data() + position, static_cast<size_t>(total));
  return true;
}

bool FatDirectoryReader::FindNextEntry(TDirWalk& walk, uint8_t useFAT, bool includeDeleted,
                                       std::string& name, TDirEntry& entry, std::string* utf8) {
  for (;;) {
    if (!GetNextRecord(walk, entry, useFAT)) return false;
    if (entry.FirstByte() == 0) return false;  // end of the directory
    if (entry.IsDeleted() && !includeDeleted) continue;
    break;
  }
  if (entry.IsLongName() && GetLongName(walk, useFAT, name, entry, utf8)) {
    // A run that the end of the directory follows names nothing.
    return entry.FirstByte() != 0;
  }
  name = TFATAnalyser::CnvName(entry);
  if (utf8 != nullptr) *utf8 = ShortNameUtf8(entry);
  return true;
}

}  // namespace kestrella
