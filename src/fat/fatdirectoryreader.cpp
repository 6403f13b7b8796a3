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

// A long-name entry that starts a run: its last part, marked by bit 0x40.
// The deleted marker 0xE5 has that bit too, so deleted runs start the same.
bool StartsLongName(const TDirEntry& entry) {
  return entry.IsLongName() && entry.ClusterLow() == 0 && (entry.FirstByte() & 0x40) != 0;
}

uint8_t ShortNameChecksum(const std::array<uint8_t, 11>& name) {
  uint8_t sum = 0;
  for (uint8_t b : name) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + b);
  return sum;
}

// Whether `first` can be the first byte of the short name made for a long
// name whose characters are `units`: its first character that is no dot or
// space, in upper case; one a short name cannot hold becomes "_", and one
// past ASCII a character of the code page or "_".
bool FirstByteFits(uint8_t first, const uint16_t* units, int count) {
  int k = 0;
  while (k < count && (units[k] == u'.' || units[k] == u' ')) ++k;
  if (k == count || units[k] == 0) return false;
  uint16_t u = units[k];
  if (u >= u'a' && u <= u'z') u = static_cast<uint16_t>(u - u'a' + u'A');
  if (u >= 0x80) return first == '_' || first >= 0x80;
  switch (u) {
    case u'+': case u',': case u';': case u'=': case u'[': case u']':
      return first == '_';
    default:
      return first == u;
  }
}

// Whether the short entry after a run of long-name parts is the one they
// name. The parts carry the checksum of the short name's 11 bytes. A
// deleted short name lost its first byte to the marker, and for any ten
// bytes left exactly one first byte gives the run's checksum: the run is
// taken when that byte is the one the long name itself begins with.
bool RunNames(const TDirEntry& shortEntry, uint8_t checksum, const uint16_t* units, int count) {
  std::array<uint8_t, 11> name{};
  std::copy_n(shortEntry.raw.begin(), 11, name.begin());
  if (!shortEntry.IsDeleted()) {
    if (ShortNameChecksum(name) == checksum) return true;
    // A name that starts with the character 0xE5 is stored with 0x05 there.
    if (name[0] != 0x05) return false;
    name[0] = kDeletedMarker;
    return ShortNameChecksum(name) == checksum;
  }
  for (int c = 0; c < 256; ++c) {
    name[0] = static_cast<uint8_t>(c);
    if (ShortNameChecksum(name) == checksum) return FirstByteFits(name[0], units, count);
  }
  return false;
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
// enter more clusters than a directory can have. A link whose table sector
// cannot be read ends the walk too: a folder grows a cluster at a time
// between the photos written into it, so a guessed next cluster would
// mostly be a photo's data read as entries.
bool FatDirectoryReader::EnterNextCluster(TDirWalk& walk, uint8_t useFAT) {
  const uint32_t next = table_.NextCluster(walk.Cluster, useFAT);
  if (next == kFatEntryUnknown || geometry_.IsEOF(next) || !geometry_.IsValidCluster(next)) return false;
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
  return ReadLongName(walk, useFAT, name, entry, utf8) == RunEnd::Named;
}

FatDirectoryReader::RunEnd FatDirectoryReader::ReadLongName(TDirWalk& walk, uint8_t useFAT, std::string& name,
                                                            TDirEntry& entry, std::string* utf8) {
  if (!StartsLongName(entry)) return RunEnd::Orphan;
  const uint8_t checksum = entry.Checksum();
  // Live parts are numbered from the run's count (in the first) down to 1
  // before the short entry; a run with a part lost or out of place would
  // give a name cut short (its extension gone with its last part). Deleted
  // parts lost their numbers to the marker, so only their count is known.
  const bool numbered = !entry.IsDeleted();
  const int parts = entry.FirstByte() & 0x1F;
  bool inOrder = !numbered || parts != 0;
  // Parts come last first, so the buffer fills from its end.
  std::array<uint16_t, kLongNameUnits> units{};
  int position = kLongNameUnits;
  int total = 0;
  int remaining = kLongNameEntries;
  while (remaining > 0 && IsLongNamePart(entry, checksum)) {
    const int taken = total / 13;
    if (numbered && !entry.IsDeleted() &&
        entry.FirstByte() != (taken == 0 ? (0x40 | parts) : parts - taken))
      inOrder = false;
    position -= 13;
    total += 13;
    static constexpr std::array<int, 13> kOffsets = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int k = 0; k < 13; ++k) units[static_cast<size_t>(position + k)] = Le16(&entry.raw[kOffsets[k]]);
    --remaining;
    if (!GetNextRecord(walk, entry, useFAT)) return RunEnd::Unreadable;
  }
  // The end of the directory, another run, or a short entry whose name the
  // run was not made for (its own was overwritten, and the slot reused):
  // the run names nothing.
  if (entry.FirstByte() == 0 || entry.IsLongName() || !inOrder || (numbered && total != parts * 13) ||
      !RunNames(entry, checksum, units.data() + position, total)) {
    return RunEnd::Orphan;
  }
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
  return RunEnd::Named;
}

bool FatDirectoryReader::NextUsedRecord(TDirWalk& walk, uint8_t useFAT, bool includeDeleted, TDirEntry& entry) {
  for (;;) {
    if (!GetNextRecord(walk, entry, useFAT)) return false;
    if (entry.FirstByte() == 0) return false;  // end of the directory
    if (entry.IsDeleted() && !includeDeleted) continue;
    return true;
  }
}

bool FatDirectoryReader::FindNextEntry(TDirWalk& walk, uint8_t useFAT, bool includeDeleted,
                                       std::string& name, TDirEntry& entry, std::string* utf8) {
  if (!NextUsedRecord(walk, useFAT, includeDeleted, entry)) return false;
  while (StartsLongName(entry)) {
    switch (ReadLongName(walk, useFAT, name, entry, utf8)) {
      case RunEnd::Named:
        if (!entry.IsDeleted() || includeDeleted) return true;
        // A live run before a deleted short entry: both are passed over.
        if (!NextUsedRecord(walk, useFAT, includeDeleted, entry)) return false;
        continue;
      case RunEnd::Unreadable: return false;
      case RunEnd::Orphan: break;
    }
    // The record after a run that names nothing stands on its own, or
    // starts the next run.
    if (entry.FirstByte() == 0) return false;
    if (entry.IsDeleted() && !includeDeleted && !NextUsedRecord(walk, useFAT, includeDeleted, entry))
      return false;
  }
  name = TFATAnalyser::CnvName(entry);
  if (utf8 != nullptr) *utf8 = ShortNameUtf8(entry);
  return true;
}

}  // namespace kestrella
