#include "fat/fatanalyser.h"

#include <algorithm>
#include <array>

#include "detect/filedet.h"
#include "fat/fatdrive.h"

namespace kestrella {

namespace {

// Media descriptors a table's first entry may carry, in the order tried.
constexpr std::array<uint8_t, 8> kMediaBytes = {0xF0, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE};

// Entries a directory sector must hold to be judged: one 512-byte sector's.
constexpr uint32_t kEntriesJudged = 16;

// Name bytes no short name contains (0x2E only in "." and "..", which a
// subdirectory's first sector is recognised by separately).
bool RefusedNameByte(uint8_t b) {
  switch (b) {
    case 0x22: case 0x2A: case 0x2B: case 0x2C: case 0x2E: case 0x2F: case 0x3A: case 0x3B:
    case 0x3C: case 0x3D: case 0x3E: case 0x3F: case 0x5B: case 0x5C: case 0x5D: case 0x7C:
      return true;
    default:
      return false;
  }
}

bool TimeValid(uint16_t t) {
  if (t == 0) return true;
  return (t & 0x1F) <= 29 && ((t >> 5) & 0x3F) <= 59 && (t >> 11) <= 23;
}

bool DateValid(uint16_t d) {
  if (d == 0) return true;
  const uint32_t day = d & 0x1F;
  const uint32_t month = (d >> 5) & 0x0F;
  return day >= 1 && month >= 1 && month <= 12;
}

// A volume label as the root directory holds it (a deleted one counts: its
// 0xE5 has bit 0x40 as every upper-case letter does).
bool IsLabelEntry(const uint8_t* p) {
  const uint8_t attributes = p[11];
  return attributes != kAttrLongName && (attributes & kAttrVolume) != 0 && Le16(p + 20) == 0 &&
         Le16(p + 26) == 0 && (p[0] & 0x40) != 0;
}

bool IsDirPair(const TDirEntry& dot, const TDirEntry& dotDot, uint32_t& cluster) {
  if ((dot.Attributes() & kAttrDirectory) == 0 || TFATAnalyser::CnvName(dot) != ".") return false;
  if ((dotDot.Attributes() & kAttrDirectory) == 0 || TFATAnalyser::CnvName(dotDot) != "..") return false;
  cluster = dot.FirstCluster();
  return true;
}

}  // namespace

TFATAnalyser::TFATAnalyser(TFATdrive* drive) : drive_(drive) {}

TFATAnalyser::~TFATAnalyser() = default;

uint8_t TFATAnalyser::ClusterType(uint8_t fatType, uint32_t value) {
  if (value == kFatEntryUnknown) return kClusterUnknown;
  uint32_t base = 0;
  switch (fatType) {
    case kFat12: base = 0xFF0; break;
    case kFat16: base = 0xFFF0; break;
    case kFat32: base = 0xFFFFFF0; break;
    default: return value == 0 ? kClusterFree : kClusterLink;
  }
  if (value > base + 7) return kClusterEnd;
  if (value > base) return kClusterBad;
  if (value == 0) return kClusterFree;
  return kClusterLink;
}

std::string TFATAnalyser::CnvName(const TDirEntry& entry) {
  std::string name;
  for (int i = 0; i < 8; ++i)
    if (entry.raw[i] != ' ') name.push_back(static_cast<char>(entry.raw[i]));
  std::string ext;
  for (int i = 8; i < 11; ++i)
    if (entry.raw[i] != ' ') ext.push_back(static_cast<char>(entry.raw[i]));
  if (!ext.empty()) name += "." + ext;
  return name;
}

// ---- buffer tests --------------------------------------------------------------

bool TFATAnalyser::GetNextRecordB(const uint8_t* buffer, uint32_t size, TDirEntry& entry,
                                  uint32_t& index) {
  if (buffer == nullptr || (static_cast<uint64_t>(index) + 1) * 32 > size) return false;
  std::copy_n(buffer + static_cast<size_t>(index) * 32, 32, entry.raw.begin());
  ++index;
  return true;
}

bool TFATAnalyser::DirEntriesValidB(const uint8_t* buffer, uint32_t size, uint32_t clusterLimit,
                                    uint64_t sectorLimit) {
  uint32_t index = 0;
  TDirEntry e;
  bool inLongName = false;
  for (uint32_t n = 0; n < kEntriesJudged; ++n) {
    if (!GetNextRecordB(buffer, size, e, index)) return false;
    // Long-name parts hold UTF-16 text where a short name's bytes would be;
    // a run is recognised by its first part and passes as a whole.
    if (e.IsLongName() && e.ClusterLow() == 0 && ((e.FirstByte() & 0x40) != 0 || inLongName)) {
      inLongName = true;
      continue;
    }
    inLongName = false;
    // An unused first entry: the sector holds no entries to judge. Later
    // unused entries start with 0 and fail on the name below.
    if (n == 0 && e.FirstByte() == 0) return false;
    if (!ShortEntryPlausible(e)) return false;
    const uint32_t cluster = e.FirstCluster();
    if ((e.Attributes() & kAttrVolume) != 0) {
      if (cluster != 0) return false;
    } else if (cluster < 2 || cluster > static_cast<uint64_t>(clusterLimit) + 1) {
      return false;
    }
    if (e.FileSize() / 512 > sectorLimit) return false;
  }
  return true;
}

bool TFATAnalyser::ShortEntryPlausible(const TDirEntry& e) {
  for (int i = 0; i < 11; ++i) {
    const uint8_t b = e.raw[static_cast<size_t>(i)];
    if (b < 0x20 && !(i == 0 && b == 0x05)) return false;
    if (RefusedNameByte(b)) return false;
  }
  if ((e.Attributes() & 0xC0) != 0) return false;
  if (!TimeValid(e.WriteTime()) || !TimeValid(Le16(&e.raw[14]))) return false;
  return DateValid(e.WriteDate()) && DateValid(Le16(&e.raw[16])) && DateValid(Le16(&e.raw[18]));
}

bool TFATAnalyser::IsDirB(const uint8_t* buffer, uint32_t size, uint32_t& cluster) {
  uint32_t index = 0;
  TDirEntry dot, dotDot;
  if (!GetNextRecordB(buffer, size, dot, index) || !GetNextRecordB(buffer, size, dotDot, index))
    return false;
  return IsDirPair(dot, dotDot, cluster);
}

bool TFATAnalyser::IsRootB(const uint8_t* buffer, uint32_t size) {
  if (buffer == nullptr) return false;
  int labels = 0;
  for (uint32_t i = 0; i < size / 32; ++i) {
    if (IsLabelEntry(buffer + static_cast<size_t>(i) * 32) && ++labels > 1) return false;
  }
  return labels == 1;
}

bool TFATAnalyser::IsFATbeginB(const uint8_t* buffer, uint32_t size, uint8_t fatType) {
  if (buffer == nullptr) return false;
  for (const uint8_t m : kMediaBytes) {
    switch (fatType) {
      case kFat12:
        if (size >= 2 && (Le16(buffer) & 0x0FFFu) == (0xF00u | m)) return true;
        break;
      case kFat16:
        if (size >= 2 && Le16(buffer) == (0xFF00u | m)) return true;
        break;
      case kFat32:
        if (size >= 4 && Le32(buffer) == (0x0FFFFF00u | m)) return true;
        break;
      default:
        return false;
    }
  }
  return false;
}

uint32_t TFATAnalyser::GetFATB(const uint8_t* buffer, uint32_t size, uint32_t index, uint8_t fatType) {
  if (buffer == nullptr) return 0;
  uint64_t offset = 0;
  uint32_t width = 2;
  switch (fatType) {
    case kFat16: offset = static_cast<uint64_t>(index) * 2; break;
    case kFat32: offset = static_cast<uint64_t>(index) * 4; width = 4; break;
    case kFat12: offset = static_cast<uint64_t>(index) + index / 2; break;
    default: return 0;
  }
  if (offset + width > size) return 0;
  const uint8_t* p = buffer + offset;
  switch (fatType) {
    case kFat16: return Le16(p);
    case kFat32: return Le32(p) & 0x0FFFFFFFu;
    default: return (index & 1) != 0 ? static_cast<uint32_t>(Le16(p) >> 4) : Le16(p) & 0x0FFFu;
  }
}

bool TFATAnalyser::IsFATB(const uint8_t* buffer, uint32_t size, bool& begins, uint8_t& fatType,
                          uint32_t& highest) {
  if (buffer == nullptr) return false;
  for (const uint8_t t : {kFat32, kFat16, kFat12}) {
    const bool starts = IsFATbeginB(buffer, size, t);
    const uint32_t count = static_cast<uint32_t>(TableEntriesIn(size, t));
    const uint32_t first = starts ? 2 : 0;
    if (count <= first) continue;
    // Links that continue the one before: files are mostly written in one
    // piece, so a table sector is full of them. Counted first without the
    // repeat check, which can only end the count early: most sectors of a
    // card (picture data, empty space) fail here cheaply.
    uint32_t previous = 0, sequential = 0;
    for (uint32_t j = first; j < count; ++j) {
      const uint32_t v = GetFATB(buffer, size, j, t);
      const uint8_t kind = ClusterType(t, v);
      if (kind == kClusterEnd) previous = 0;
      if (kind != kClusterLink) continue;
      if (v == previous + 1) ++sequential;
      previous = v;
    }
    if (sequential <= 16) continue;
    // Every cluster has one predecessor, so a link value repeated more than
    // five times is no table; a few repeats are tolerated (a damaged or
    // half-updated table).
    std::vector<uint32_t> sorted;
    sorted.reserve(count - first);
    for (uint32_t j = first; j < count; ++j) sorted.push_back(GetFATB(buffer, size, j, t));
    std::sort(sorted.begin(), sorted.end());
    previous = 0;
    sequential = 0;
    uint32_t top = 0;
    for (uint32_t j = first; j < count; ++j) {
      const uint32_t v = GetFATB(buffer, size, j, t);
      const uint8_t kind = ClusterType(t, v);
      if (kind == kClusterEnd) previous = 0;
      if (kind != kClusterLink) continue;
      const auto range = std::equal_range(sorted.begin(), sorted.end(), v);
      if (range.second - range.first - 1 > 4) {
        sequential = 0;
        break;
      }
      top = std::max(top, v);
      if (v == previous + 1) ++sequential;
      previous = v;
    }
    if (sequential > 16) {
      begins = starts;
      fatType = t;
      highest = top;
      return true;
    }
  }
  return false;
}

bool TFATAnalyser::IsBlankEntry(const TDirEntry& entry) {
  return std::all_of(entry.raw.begin(), entry.raw.end(), [](uint8_t b) { return b == 0; });
}

bool TFATAnalyser::AreBootSecEqualB(const uint8_t* a, const uint8_t* b) {
  if (a == nullptr || b == nullptr) return false;
  // Sector size through the 16-bit total (11..20) and table size through
  // the 32-bit total (22..35): everything but the media byte.
  return std::equal(a + 11, a + 21, b + 11) && std::equal(a + 22, a + 36, b + 22);
}

// ---- drive tests -------------------------------------------------------------------

bool TFATAnalyser::FitsVolume(const TDirEntry& entry) const {
  if (drive_ == nullptr || !ShortEntryPlausible(entry)) return false;
  const uint32_t first = entry.FirstCluster(drive_->FATType());
  if (!drive_->IsValidCluster(first)) return false;
  if ((entry.Attributes() & kAttrDirectory) != 0) return true;
  const uint64_t left = (uint64_t{drive_->ClusterCount()} + 2 - first) * drive_->BytesPerCluster();
  return entry.FileSize() <= left;
}

bool TFATAnalyser::IsDirC(uint32_t cluster) { return IsDirC(cluster, 0); }

bool TFATAnalyser::IsDirC(uint32_t cluster, uint32_t sector) {
  if (drive_ == nullptr) return false;
  // A directory's first cluster opens with "." and then "..", both marked as
  // directories; anything else there means the cluster was given to
  // something else.
  TDirWalk walk;
  walk.Cluster = cluster;
  walk.Sector = sector;
  TDirEntry dot, dotDot;
  if (!drive_->GetNextRecord(walk, dot) || !drive_->GetNextRecord(walk, dotDot)) return false;
  uint32_t dotCluster = 0;
  return IsDirPair(dot, dotDot, dotCluster);
}

bool TFATAnalyser::IsDirEmptyC(uint32_t cluster, uint32_t sector) {
  // Without a drive nothing can be read, so nothing is claimed empty.
  if (drive_ == nullptr) return false;
  TDirWalk walk;
  walk.Cluster = cluster;
  walk.Sector = sector;
  walk.Index = 2;  // after "." and ".."
  std::string name;
  TDirEntry entry;
  return !drive_->FindNextEntry(walk, false, name, entry);
}

bool TFATAnalyser::DirEntriesValidC(uint32_t cluster, uint32_t sector) {
  if (drive_ == nullptr) return false;
  const uint32_t bytesPerSector = drive_->BootRec().BytesPerSector();
  std::vector<uint8_t> buffer(std::max<uint32_t>(drive_->SectorSize(), bytesPerSector));
  TDirWalk walk;
  walk.Cluster = cluster;
  walk.Sector = sector;
  if (!drive_->ReadDataSec(walk, buffer.data())) return false;
  // Sizes are judged in 512-byte units whatever the sector size.
  const uint64_t sectorLimit = static_cast<uint64_t>(drive_->DataSectors()) * (bytesPerSector / 512);
  return DirEntriesValidB(buffer.data(), bytesPerSector, drive_->ClusterCount(), sectorLimit);
}

bool TFATAnalyser::IsRootC(uint32_t cluster, uint32_t sector) {
  if (drive_ == nullptr) return false;
  const uint64_t entries =
      static_cast<uint64_t>(drive_->BootRec().SectorsPerCluster()) * (drive_->BootRec().BytesPerSector() / 32);
  TDirWalk walk;
  walk.Cluster = cluster;
  walk.Sector = sector;
  TDirEntry entry;
  int labels = 0;
  for (uint64_t n = 0; n < entries && drive_->GetNextRecord(walk, entry); ++n) {
    if (IsLabelEntry(entry.raw.data()) && ++labels > 1) return false;
  }
  return labels == 1;
}

bool TFATAnalyser::IsFileC(uint32_t cluster, std::string& kind, uint8_t& startKind) {
  if (drive_ == nullptr || !drive_->IsValidCluster(cluster)) return false;
  const uint32_t perCluster = drive_->BootRec().SectorsPerCluster();
  if (perCluster == 0) return false;
  // The drive reads whole device sectors: the buffer follows their size.
  std::vector<uint8_t> buffer(static_cast<size_t>(perCluster) * drive_->SectorSize());
  // Unreadable clusters are common on a failing card; the search goes on
  // without a message for each.
  if (!drive_->ReadSec(drive_->Cluster2Sec(cluster), static_cast<uint16_t>(perCluster), buffer.data(),
                       false))
    return false;
  return IsFile(buffer.data(), static_cast<uint32_t>(buffer.size()), kind, startKind);
}

}  // namespace kestrella
