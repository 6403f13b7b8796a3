// Walking FAT directories entry by entry (or sector by sector), and putting
// long names back together, live and deleted alike.
#include <algorithm>
#include <array>
#include <cstring>

#include "fat/fatanalyser.h"
#include "fat/fatdrive.h"
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

// Bytes per sector the walk can use: at least one entry, and no more than
// the directory window holds.
uint32_t UsableSectorSize(const TFATdrive& drive) {
  const uint32_t bps = drive.BootRec.BytesPerSector();
  if (bps < 32 || bps > drive.SectorSize() || drive.FATType == 0) return 0;
  return bps;
}

// Whether a walk in the fixed root region may read `sector`: only the
// region's own sectors, never the boot sector or the tables before it and
// never the data area after it.
bool InRootRegion(const TFATdrive& drive, uint32_t sector) {
  const int64_t first = drive.RootDirStart;
  const int64_t end = first + drive.RootDirSectors;
  return sector != 0 && static_cast<int64_t>(sector) >= first && static_cast<int64_t>(sector) < end;
}

// The most clusters a directory walk enters: no more than the volume has (a
// looping chain), and no more than the largest directory needs.
uint32_t MaxDirectoryClusters(const TFATdrive& drive) {
  const uint64_t perCluster = std::max<uint64_t>(drive.BytesPerCluster, 1);
  const uint64_t bySize = (kMaxDirectoryBytes + perCluster - 1) / perCluster;
  return static_cast<uint32_t>(std::min<uint64_t>(drive.ClusterCount, bySize));
}

// Moves the walk into the cluster after its current one. False at the end
// of the chain, at a free or out-of-range link, and once the walk would
// enter more clusters than a directory can have.
bool EnterNextCluster(TFATdrive& drive, TDirWalk& walk) {
  const uint32_t next = drive.NextCluster(walk.Cluster, drive.UseFAT);
  if (drive.IsEOF(next) || !drive.IsValidCluster(next)) return false;
  if (walk.Hops >= MaxDirectoryClusters(drive)) return false;
  ++walk.Hops;
  walk.Cluster = next;
  return true;
}

// Starts the count of a walk in a cluster chain: its first cluster counts.
bool EnterFirstCluster(TFATdrive& drive, TDirWalk& walk) {
  if (!drive.IsValidCluster(walk.Cluster)) return false;
  if (walk.Hops == 0) walk.Hops = 1;
  return true;
}

// Brings `sector` into the directory window.
bool LoadDirSector(TFATdrive& drive, uint32_t sector) {
  // Sector 0 doubles as "nothing loaded", so it is never taken from the window.
  if (sector == drive.DirWindowSector && sector != 0) return true;
  if (!drive.ReadSec(sector, 1, drive.DirWindow.data(), true)) {
    drive.DirWindowSector = 0;
    return false;
  }
  drive.DirWindowSector = sector;
  return true;
}

bool IsLongNamePart(const TDirEntry& entry, uint8_t checksum) {
  return entry.IsLongName() && entry.ClusterLow() == 0 && entry.Checksum() == checksum;
}

}  // namespace

bool TFATdrive::GetNextRecord(TDirWalk& walk, TDirEntry& entry) {
  const uint32_t bps = UsableSectorSize(*this);
  if (bps == 0) return false;
  const uint32_t perSector = bps / 32;
  uint32_t sector;
  uint32_t slot;
  if (walk.Cluster == 0) {
    if (walk.Index >= perSector) {
      walk.Index = 0;
      ++walk.Sector;
    }
    if (!InRootRegion(*this, walk.Sector)) return false;
    sector = walk.Sector;
    slot = walk.Index;
  } else {
    if (!EnterFirstCluster(*this, walk)) return false;
    const uint32_t perCluster = BytesPerCluster / 32;
    // The index is 16 bits wide; a cluster with more entries could not be
    // walked to its end.
    if (perCluster == 0 || perCluster > 0xFFFF) return false;
    if (walk.Index >= perCluster) {
      if (!EnterNextCluster(*this, walk)) return false;
      walk.Index = 0;
    }
    sector = Cluster2Sec(walk.Cluster) + walk.Index / perSector;
    slot = walk.Index % perSector;
  }
  if (!LoadDirSector(*this, sector)) return false;
  std::memcpy(entry.raw.data(), DirWindow.data() + slot * 32, 32);
  ++walk.Index;
  return true;
}

bool TFATdrive::ReadDataSec(TDirWalk& walk, uint8_t* buffer) {
  const uint32_t bps = UsableSectorSize(*this);
  if (bps == 0) return false;
  uint32_t sector;
  if (walk.Cluster == 0) {
    if (walk.Index != 0) {
      walk.Index = 0;
      ++walk.Sector;
    }
    if (!InRootRegion(*this, walk.Sector)) return false;
    sector = walk.Sector;
  } else {
    if (!EnterFirstCluster(*this, walk)) return false;
    const uint32_t perCluster = BootRec.SectorsPerCluster();
    if (perCluster == 0) return false;
    if (walk.Index >= perCluster) {
      if (!EnterNextCluster(*this, walk)) return false;
      walk.Index = 0;
    }
    sector = Cluster2Sec(walk.Cluster) + walk.Index;
  }
  if (!LoadDirSector(*this, sector)) return false;
  std::memcpy(buffer, DirWindow.data(), bps);
  ++walk.Index;
  return true;
}

bool TFATdrive::GetLongName(TDirWalk& walk, std::string& name, TDirEntry& entry, std::string* utf8) {
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
      lastRead = GetNextRecord(walk, entry);
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

bool TFATdrive::FindNextEntry(TDirWalk& walk, bool includeDeleted, std::string& name,
                              TDirEntry& entry, std::string* utf8) {
  for (;;) {
    if (!GetNextRecord(walk, entry)) return false;
    if (entry.FirstByte() == 0) return false;  // end of the directory
    if (entry.IsDeleted() && !includeDeleted) continue;
    break;
  }
  if (entry.IsLongName() && GetLongName(walk, name, entry, utf8)) {
    // A run that the end of the directory follows names nothing.
    return entry.FirstByte() != 0;
  }
  name = TFATAnalyser::CnvName(entry);
  if (utf8 != nullptr) *utf8 = ShortNameUtf8(entry);
  return true;
}

}  // namespace kestrella
