// Reading a file's data cluster by cluster: along the allocation-table chain,
// or over consecutive clusters when the table cannot be trusted.
#include <algorithm>
#include <cstring>

#include "fat/fatanalyser.h"
#include "fat/fatdrive.h"

namespace kestrella {

namespace {

// The cluster a read moves to after `cluster`, or `cluster` itself when there
// is nowhere to go.
//
// With the table (useFAT >= 1) a link to a valid cluster is followed. A
// deleted file's chain has been erased to 0, and a damaged one may end early;
// in both cases the data still to read most likely sits in the next clusters
// that nothing claims, so the read goes on with the next free cluster instead
// of reading the current one over and over.
uint32_t FollowingCluster(TFATdrive& drive, uint32_t cluster, uint8_t useFAT) {
  if (useFAT == 0) return cluster <= drive.ClusterCount ? cluster + 1 : cluster;
  if (!drive.IsEOF(cluster)) {
    const uint32_t next = drive.GetFAT(cluster, useFAT - 1u);
    if (drive.IsValidCluster(next)) return next;
  }
  const uint32_t free = drive.NextFreeCluster(cluster);
  return drive.IsValidCluster(free) ? free : cluster;
}

}  // namespace

TFATdrive::SectorRun TFATdrive::NextRun(const TFATFileInfo& info, uint32_t sectorInCluster,
                                        uint32_t wanted, uint8_t useFAT) {
  // One transfer names at most 65535 sectors.
  wanted = std::min<uint32_t>(wanted, UINT16_MAX);
  const uint32_t perCluster = BootRec.SectorsPerCluster();
  const uint32_t sectorSize = SectorSize();
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
    const uint32_t next = FollowingCluster(*this, r.cluster, useFAT);
    const bool adjacent = next == r.cluster + 1;
    r.cluster = next;
    if (!adjacent) break;
  }
  return r;
}

bool TFATdrive::ResetByCluster(uint32_t firstCluster, uint32_t size, TFATFileInfo& info) {
  info.FirstCluster = firstCluster;
  info.CurrentCluster = firstCluster;
  info.Position = 0;
  info.Size = size;
  return true;
}

bool TFATdrive::BlockRead(TFATFileInfo& info, uint32_t count, uint8_t* buffer, uint8_t useFAT,
                          uint32_t& bytesRead) {
  bytesRead = 0;
  if (info.Position >= info.Size) return info.Position == info.Size;
  if (count == 0) return true;

  const uint32_t sectorSize = SectorSize();
  const uint32_t perCluster = BootRec.SectorsPerCluster();
  // Cluster2Sec counts in the volume's sectors and the device is read in its
  // own: a volume whose sectors differ from the device's cannot be read
  // sector by sector here.
  if (perCluster == 0 || BootRec.BytesPerSector() != sectorSize) return false;
  if (DataWindow.size() < sectorSize) DataWindow.assign(sectorSize, 0);
  // A cluster number outside the volume has no data that could be read.
  if (!IsValidCluster(info.CurrentCluster)) return false;

  uint32_t remaining = std::min(count, info.Size - info.Position);
  uint32_t sectorInCluster = (info.Position / sectorSize) % perCluster;
  uint32_t offset = info.Position % sectorSize;
  uint32_t room = sectorSize - offset;
  bool readMade = false;
  bool lastReadOk = true;

  for (;;) {
    // Whole sectors that lie next to each other on the medium are read in
    // one go, straight into the caller's buffer: a photo in one run of
    // clusters then costs a read per buffer, not one per sector. A run that
    // fails is read again sector by sector below, so that only the sectors
    // that really cannot be read are delivered as zeros.
    if (offset == 0 && remaining >= sectorSize) {
      const SectorRun r = NextRun(info, sectorInCluster, remaining / sectorSize, useFAT);
      if (r.sectors > 1 &&
          ReadSec(Cluster2Sec(info.CurrentCluster) + sectorInCluster,
                  static_cast<uint16_t>(r.sectors), buffer, false)) {
        const uint32_t bytes = r.sectors * sectorSize;
        buffer += bytes;
        bytesRead += bytes;
        info.Position += bytes;
        remaining -= bytes;
        info.CurrentCluster = r.cluster;
        sectorInCluster = r.sectorInCluster;
        readMade = true;
        if (remaining == 0) break;
        continue;
      }
    }
    const uint32_t chunk = std::min(room, remaining);
    const uint32_t sector = Cluster2Sec(info.CurrentCluster) + sectorInCluster;
    if (static_cast<int32_t>(sector) != DataWindowSector || DataWindowSector == 0) {
      readMade = true;
      lastReadOk = ReadSec(sector, 1, DataWindow.data(), true);
      if (lastReadOk) {
        DataWindowSector = static_cast<int32_t>(sector);
      } else {
        // An unreadable sector is delivered as zeros, and is not remembered
        // as held, so that a later read asks the medium again.
        std::fill(DataWindow.begin(), DataWindow.end(), uint8_t{0});
        DataWindowSector = 0;
        ++UnreadableSectors;
      }
    }
    std::memcpy(buffer, DataWindow.data() + offset, chunk);
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
        if (info.Position < info.Size)
          info.CurrentCluster = FollowingCluster(*this, info.CurrentCluster, useFAT);
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

bool TFATdrive::GetRecPosCluster(uint32_t& cluster, uint32_t position, uint8_t useFAT) {
  if (BytesPerCluster == 0) return false;
  uint32_t steps = position / BytesPerCluster;
  uint32_t current = cluster;
  // At most one step per cluster of the file's size, so a looping chain ends.
  while (steps > 0) {
    if (TFATAnalyser::ClusterType(FATType, current) == kClusterEnd) break;
    current = FollowingCluster(*this, current, useFAT);
    --steps;
  }
  if (steps > 0) return false;
  cluster = current;
  return true;
}

bool TFATdrive::Seek(TFATFileInfo& info, uint32_t position, uint8_t useFAT) {
  if (info.FirstCluster == 0 || position >= info.Size) return false;
  uint32_t cluster = info.FirstCluster;
  if (!GetRecPosCluster(cluster, position, useFAT)) return false;
  info.CurrentCluster = cluster;
  info.Position = position;
  return true;
}

}  // namespace kestrella
