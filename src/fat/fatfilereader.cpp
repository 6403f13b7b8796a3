// Reading a file's data cluster by cluster: along the allocation-table chain,
// or over consecutive clusters when the table cannot be trusted.
#include "fat/fatfilereader.h"

#include <algorithm>
#include <cstring>

#include "devices/drivebase.h"
#include "fat/fatanalyser.h"
#include "fat/fattable.h"

namespace kestrella {

FatFileReader::FatFileReader(TCustomDrive& volume, const FatGeometry& geometry, FatTable& table,
                             uint64_t& unreadableSectors)
    : volume_(volume), geometry_(geometry), table_(table), unreadableSectors_(unreadableSectors) {
  Reset(sectorSize_);
}

void FatFileReader::Reset(uint32_t sectorSize) {
  sectorSize_ = sectorSize;
  window_.assign(sectorSize_, 0);
  windowSector_ = 0;
}

// The cluster a read moves to after `cluster`, or 0 when there is nowhere to
// go: the read ends there.
//
// With the table (useFAT >= 1) a link to a valid cluster is followed. A
// deleted file's chain has been erased to 0, and a damaged one may end early;
// in both cases the data still to read most likely sits in the next clusters
// that nothing claims, so the read goes on with the next free cluster. When
// none follows, nothing on the volume can hold the rest of the file: reading
// on through clusters that belong to other files (or the last one over and
// over) would only make a file of someone else's data, as long as whatever
// size its entry claims.
//
// A link whose table sector cannot be read is not known at all. The read
// then goes on with the next cluster on the volume, as a read without the
// table does: cameras write a photo in one piece, and the next free cluster
// would be no better a guess here, since the entries around the unreadable
// ones that can be read belong to files still on the card (this one's own
// later clusters among them). The guess is noted so that the save can say
// the file may be damaged.
uint32_t FatFileReader::FollowingCluster(uint32_t cluster, uint8_t useFAT, TFATFileInfo* info) {
  const auto consecutive = [&] { return cluster <= geometry_.ClusterCount() ? cluster + 1 : 0u; };
  if (useFAT == 0) return consecutive();
  if (!geometry_.IsEOF(cluster)) {
    const uint32_t next = table_.GetFAT(cluster, useFAT - 1u);
    if (geometry_.IsValidCluster(next)) return next;
    if (next == kFatEntryUnknown) {
      if (info != nullptr && info->GuessedAfter == 0) {
        info->GuessedAfter = cluster;
        info->UnreadableTableSector = table_.UnreadableSector();
      }
      return consecutive();
    }
  }
  const uint32_t free = table_.FreeClusterAfter(cluster);
  return geometry_.IsValidCluster(free) ? free : 0u;
}

void FatFileReader::EndHere(TFATFileInfo& info, ReadEnd why) {
  info.Size = info.Position;
  info.End = why;
}

bool FatFileReader::OnMedium(uint64_t sector) const {
  return geometry_.MediumSectors() == 0 || sector < geometry_.MediumSectors();
}

FatFileReader::SectorRun FatFileReader::NextRun(TFATFileInfo& info, uint32_t sectorInCluster,
                                                uint32_t wanted, uint8_t useFAT) {
  // One transfer names at most 65535 sectors.
  wanted = std::min<uint32_t>(wanted, UINT16_MAX);
  const uint32_t perCluster = geometry_.BootRec().SectorsPerCluster();
  const uint32_t sectorSize = sectorSize_;
  SectorRun r{0, info.CurrentCluster, sectorInCluster};
  while (r.sectors < wanted) {
    const uint32_t take = std::min(perCluster - r.sectorInCluster, wanted - r.sectors);
    r.sectors += take;
    r.sectorInCluster += take;
    if (r.sectorInCluster < perCluster) break;  // the run ends inside this cluster
    r.sectorInCluster = 0;
    // As the sector-wise read does: at the file's end the read stays on its
    // last cluster.
    if (uint64_t{info.Position} + uint64_t{r.sectors} * sectorSize >= info.Size) break;
    const uint32_t next = FollowingCluster(r.cluster, useFAT, &info);
    const bool adjacent = next == r.cluster + 1;
    r.cluster = next;
    if (!adjacent) break;
  }
  return r;
}

bool FatFileReader::ResetByCluster(uint32_t firstCluster, uint32_t size, TFATFileInfo& info) {
  info.FirstCluster = firstCluster;
  info.CurrentCluster = firstCluster;
  info.Position = 0;
  info.OpenedSize = size;
  // No file is longer than the clusters the volume has (a volume without
  // any has nothing a read could deliver anyway).
  const uint64_t data = geometry_.DataBytes();
  info.Size = data != 0 ? static_cast<uint32_t>(std::min<uint64_t>(size, data)) : size;
  info.End = info.Size < size ? ReadEnd::ClustersEnd : ReadEnd::Whole;
  info.GuessedAfter = 0;
  info.UnreadableTableSector = 0;
  return true;
}

bool FatFileReader::BlockRead(TFATFileInfo& info, uint32_t count, uint8_t* buffer, uint8_t useFAT,
                              uint32_t& bytesRead) {
  bytesRead = 0;
  if (info.Position >= info.Size) return info.Position == info.Size;
  if (count == 0) return true;

  const uint32_t sectorSize = sectorSize_;
  const TBootRecord& boot = geometry_.BootRec();
  const uint32_t perCluster = boot.SectorsPerCluster();
  // Cluster2Sec counts in the volume's sectors and the device is read in its
  // own: a volume whose sectors differ from the device's cannot be read
  // sector by sector here.
  if (perCluster == 0 || boot.BytesPerSector() != sectorSize) return false;
  // A cluster number outside the volume has no data that could be read.
  if (!geometry_.IsValidCluster(info.CurrentCluster)) return false;

  uint32_t remaining = std::min(count, info.Size - info.Position);
  uint32_t sectorInCluster = (info.Position / sectorSize) % perCluster;
  uint32_t offset = info.Position % sectorSize;
  uint32_t room = sectorSize - offset;
  bool readMade = false;
  bool lastReadOk = true;

  for (;;) {
    // Sectors that lie next to each other on the medium are read in one go:
    // a photo in one run of clusters then costs a read per buffer, not one
    // per sector. Whole sectors go straight into the caller's buffer; a run
    // that ends inside a sector (the file's last one) is read whole into
    // run_, and its last sector kept as the window. A run that fails is
    // read again sector by sector below, so that only the sectors that
    // really cannot be read are delivered as zeros.
    if (offset == 0) {
      const SectorRun r = NextRun(info, sectorInCluster, (remaining + sectorSize - 1) / sectorSize, useFAT);
      const uint64_t first = uint64_t{geometry_.Cluster2Sec(info.CurrentCluster)} + sectorInCluster;
      const uint64_t runBytes = uint64_t{r.sectors} * sectorSize;
      const bool partial = runBytes > remaining;
      uint8_t* into = partial ? nullptr : buffer;
      if (partial) {
        if (run_.size() < runBytes) run_.resize(runBytes);
        into = run_.data();
      }
      if (r.sectors > 1 && OnMedium(first + r.sectors - 1) &&
          volume_.ReadSec(static_cast<uint32_t>(first), static_cast<uint16_t>(r.sectors), into, false)) {
        readMade = true;
        if (partial) {
          // The file (or the call) ends inside the run's last sector: the
          // read stands on it, and it is held for a read that goes on.
          const uint32_t last = static_cast<uint32_t>(first) + r.sectors - 1;
          std::memcpy(buffer, run_.data(), remaining);
          std::memcpy(window_.data(), run_.data() + runBytes - sectorSize, sectorSize);
          windowSector_ = last;
          bytesRead += remaining;
          info.Position += remaining;
          info.CurrentCluster = geometry_.Sec2Cluster(last);
          break;
        }
        const uint32_t bytes = static_cast<uint32_t>(runBytes);
        buffer += bytes;
        bytesRead += bytes;
        info.Position += bytes;
        remaining -= bytes;
        info.CurrentCluster = r.cluster;
        sectorInCluster = r.sectorInCluster;
        // (The run looks past its end only when the file goes on.)
        if (r.cluster == 0) {
          EndHere(info, ReadEnd::ClustersEnd);
          break;
        }
        if (remaining == 0) break;
        continue;
      }
    }
    const uint32_t chunk = std::min(room, remaining);
    const uint32_t sector = geometry_.Cluster2Sec(info.CurrentCluster) + sectorInCluster;
    // A sector the card does not have ends the file: zeros for it would
    // only make the file as long as its entry claims.
    if (!OnMedium(sector)) {
      EndHere(info, ReadEnd::SourceEnd);
      break;
    }
    if (sector != windowSector_ || windowSector_ == 0) {
      readMade = true;
      lastReadOk = volume_.ReadSec(sector, 1, window_.data(), true);
      if (lastReadOk) {
        windowSector_ = sector;
      } else {
        // An unreadable sector is delivered as zeros, and is not remembered
        // as held, so that a later read asks the medium again.
        std::fill(window_.begin(), window_.end(), uint8_t{0});
        windowSector_ = 0;
        ++unreadableSectors_;
      }
    }
    std::memcpy(buffer, window_.data() + offset, chunk);
    buffer += chunk;
    bytesRead += chunk;
    info.Position += chunk;
    remaining -= chunk;

    if (offset + chunk == sectorSize) {
      ++sectorInCluster;
      if (sectorInCluster == perCluster) {
        sectorInCluster = 0;
        // Only move on when there is more of the file to read: at the end
        // the following cluster would never be used.
        if (info.Position < info.Size) {
          const uint32_t next = FollowingCluster(info.CurrentCluster, useFAT, &info);
          if (next == 0) {
            EndHere(info, ReadEnd::ClustersEnd);
            break;
          }
          info.CurrentCluster = next;
        }
      }
    }
    room = sectorSize;
    offset = 0;
    if (remaining == 0) break;
    // A failed read ends the call after its chunk; so does a first chunk that
    // came from the window. The caller asks again for the rest.
    if (!readMade || !lastReadOk) break;
  }
  return true;
}

bool FatFileReader::GetRecPosCluster(uint32_t& cluster, uint32_t position, uint8_t useFAT) {
  const uint32_t bytesPerCluster = geometry_.BytesPerCluster();
  if (bytesPerCluster == 0) return false;
  uint32_t steps = position / bytesPerCluster;
  uint32_t current = cluster;
  // At most one step per cluster of the file's size, so a looping chain ends.
  while (steps > 0) {
    if (TFATAnalyser::ClusterType(geometry_.FATType(), current) == kClusterEnd) break;
    current = FollowingCluster(current, useFAT, nullptr);
    if (current == 0) return false;
    --steps;
  }
  if (steps > 0) return false;
  cluster = current;
  return true;
}

bool FatFileReader::Seek(TFATFileInfo& info, uint32_t position, uint8_t useFAT) {
  if (info.FirstCluster == 0 || position >= info.Size) return false;
  uint32_t cluster = info.FirstCluster;
  if (!GetRecPosCluster(cluster, position, useFAT)) return false;
  info.CurrentCluster = cluster;
  info.Position = position;
  return true;
}

}  // namespace kestrella
