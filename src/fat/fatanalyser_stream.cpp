// The sector stream of the structure analyser: sectors of a device come in
// ascending order (the lost-drive search feeds them), and the allocation
// tables, directories and root found among them are put together into the
// volume they belong to, rebuilt with a boot sector of its own.
#include <algorithm>
#include <limits>

#include "devices/device.h"
#include "devices/scanhost.h"
#include "fat/fatanalyser.h"
#include "fat/fatdrive.h"
#include "util/helpers.h"

namespace kestrella {

namespace {

// Cluster counts that make a volume read as the given table width.
uint64_t TypeMinClusters(uint8_t fatType) {
  return fatType == kFat32 ? 65525 : fatType == kFat16 ? 4085 : 1;
}
uint64_t TypeMaxClusters(uint8_t fatType) {
  return fatType == kFat32 ? 0x0FFFFFF5 : fatType == kFat16 ? 65524 : 4084;
}

uint32_t DeviceSectorSize(const TDevice& device) {
  return device.BytesPerSector >= 512 ? device.BytesPerSector : 512;
}

void Put16(TBootRecord& boot, size_t at, uint32_t v) {
  boot.raw[at] = static_cast<uint8_t>(v);
  boot.raw[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(TBootRecord& boot, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) boot.raw[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void TFATAnalyser::AnalyseSecStart(TDevice& device) {
  device_ = &device;
  firstCopy_.assign(DeviceSectorSize(device), 0);
  fatType_ = 0;
  AnalyseRestart();
}

void TFATAnalyser::AnalyseRestart() {
  lastTableSector_ = 0;
  highestLink_ = 0;
  tableStart_ = 0;
  tableEnd_ = 0;
  tableCopies_ = 0;
  tableSize_ = 0;
  tableFound_ = false;
  dirFound_ = false;
  rootFound_ = false;
  sectorsPerCluster_ = 0;
  clusterEstimate_ = 0;
  firstDotSeen_ = false;
  firstDotCluster_ = 0;
  firstDotSector_ = 0;
  dataStart_ = 0;
  validRun_ = 0;
  rootSector_ = 0;
  rootCluster_ = 0;
  rootEntries_ = 0;
  rootRun_ = 0;
}

void TFATAnalyser::AnalyseSecStop() {
  firstCopy_.clear();
  firstCopy_.shrink_to_fit();
  device_ = nullptr;
}

// The cluster count handed to the rebuilt boot sector. It is known only once
// the first table copy's end is: every cluster has an entry there, so the
// entries of one copy less the two reserved ones bound the count from above.
// Once the data start is known too, it is cut to the clusters the device
// holds after it. The count is then kept within the range of the table's
// width, so that the rebuilt volume reads its table with the width the
// table was recognised by (the drive still never reads past the device).
// Until the estimate exists, the device's size bounds the directory tests.
void TFATAnalyser::UpdateEstimate(const TDevice& device) {
  if (tableSize_ == 0 || fatType_ == 0) return;
  const uint64_t entries = TableEntriesIn(static_cast<uint64_t>(tableSize_) * DeviceSectorSize(device), fatType_);
  if (entries <= 2) return;
  uint64_t estimate = std::min(entries - 2, TypeMaxClusters(fatType_));
  if (sectorsPerCluster_ != 0 && device.TotalSectors > dataStart_)
    estimate = std::min<uint64_t>(estimate, (device.TotalSectors - dataStart_) / sectorsPerCluster_);
  estimate = std::max(estimate, TypeMinClusters(fatType_));
  clusterEstimate_ = static_cast<uint32_t>(estimate);
}

void TFATAnalyser::InferClusterSize(uint32_t sector, uint32_t dotCluster, const TDevice& device) {
  // Two subdirectories fix the cluster size: clusters lie in order, so the
  // sectors between their starts are whole clusters. A pair that does not
  // fit (a cluster at or before the first, sectors not a whole number of
  // clusters, a data start before the table) tells nothing; the newer
  // directory is then measured against the next one instead.
  auto takeAsFirst = [&] {
    firstDotCluster_ = dotCluster;
    firstDotSector_ = sector;
  };
  if (dotCluster <= firstDotCluster_ || dotCluster < 2 || sector <= firstDotSector_) return takeAsFirst();
  const uint32_t sectors = sector - firstDotSector_;
  const uint32_t clusters = dotCluster - firstDotCluster_;
  if (sectors % clusters != 0) return takeAsFirst();
  const uint32_t perCluster = sectors / clusters;
  if (perCluster == 0 || perCluster > 128) return takeAsFirst();
  const uint64_t before = static_cast<uint64_t>(dotCluster - 2) * perCluster;
  if (before >= sector || sector - before <= tableStart_) return takeAsFirst();
  sectorsPerCluster_ = static_cast<uint16_t>(perCluster);
  dataStart_ = static_cast<uint32_t>(sector - before);
  if (tableEnd_ == 0) {
    // A single table copy ends where the fixed root region (a root
    // candidate before the data) or else the data begins.
    const bool fixedRoot = rootFound_ && rootSector_ > tableStart_ && rootSector_ < dataStart_;
    tableEnd_ = (fixedRoot ? rootSector_ : dataStart_) - 1;
    tableSize_ = tableEnd_ - tableStart_ + 1;
  }
  UpdateEstimate(device);
}

bool TFATAnalyser::RootCandidateHolds() const {
  if (rootSector_ < dataStart_) {
    // Before the data lies the fixed root region of FAT12/16: it follows the
    // table copies and is no cluster, so no run needs to reach back.
    const uint64_t tablesEnd = static_cast<uint64_t>(tableStart_) + static_cast<uint64_t>(tableCopies_) * tableSize_;
    return tableSize_ != 0 && rootSector_ >= tablesEnd;
  }
  // In the data area the candidate must be a cluster's first sector, or the
  // valid sectors before it must reach back to that start.
  return rootRun_ >= (rootSector_ - dataStart_) % sectorsPerCluster_;
}

bool TFATAnalyser::AnalyseSec(TDevice& device, uint32_t sector, const uint8_t* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return false;
  if (firstCopy_.empty() || device_ != &device) AnalyseSecStart(device);

  // Table sectors: until a subdirectory shows that the data area is reached.
  if (!dirFound_) {
    bool begins = false;
    uint8_t type = 0;
    uint32_t highest = 0;
    if (IsFATB(buffer, size, begins, type, highest)) {
      tableFound_ = true;
      highestLink_ = std::max(highestLink_, highest);
      fatType_ = type;
      if (begins) {
        const uint32_t compared = std::min<uint32_t>(size, static_cast<uint32_t>(firstCopy_.size()));
        if (tableStart_ == 0) {
          // The volume is rebuilt with one reserved sector before its table;
          // a table at sector 0 leaves no room for it.
          if (sector > 0) {
            tableStart_ = sector;
            tableCopies_ = 1;
            std::fill(firstCopy_.begin(), firstCopy_.end(), 0);
            std::copy_n(buffer, compared, firstCopy_.begin());
          }
        } else if (BytesEqual(buffer, firstCopy_.data(), compared) < 16) {
          // The copies are kept alike: the first sector of the next copy
          // repeats the first one's (up to a few entries changed since).
          if (tableCopies_ < 255) ++tableCopies_;
          if (tableEnd_ == 0) {
            tableEnd_ = sector - 1;
            tableSize_ = tableEnd_ - tableStart_ + 1;
          }
        }
      }
      lastTableSector_ = sector;
    }
  }
  if (!tableFound_) return false;

  if (clusterEstimate_ == 0) UpdateEstimate(device);
  uint32_t dotCluster = 0;
  const bool dir = IsDirB(buffer, size, dotCluster);
  uint32_t clusterLimit = clusterEstimate_;
  uint64_t sectorLimit = static_cast<uint64_t>(clusterEstimate_) * 128;  // 64 KiB clusters
  if (clusterEstimate_ == 0) {
    const uint32_t total = device.TotalSectors != 0 ? device.TotalSectors32() : std::numeric_limits<uint32_t>::max();
    clusterLimit = total;
    sectorLimit = static_cast<uint64_t>(total) * (DeviceSectorSize(device) / 512);
  }
  const bool valid = DirEntriesValidB(buffer, size, clusterLimit, sectorLimit);
  validRun_ = valid ? static_cast<uint8_t>(std::min(validRun_ + 1, 255)) : 0;

  if (!dir && valid && IsRootB(buffer, size)) {
    rootFound_ = true;
    rootSector_ = sector;
    rootRun_ = validRun_;
  }
  if (dir) {
    dirFound_ = true;
    if (!firstDotSeen_) {
      firstDotSeen_ = true;
      firstDotCluster_ = dotCluster;
      firstDotSector_ = sector;
    } else if (sectorsPerCluster_ == 0) {
      InferClusterSize(sector, dotCluster, device);
    }
  }
  if (rootFound_ && sectorsPerCluster_ != 0 && !RootCandidateHolds()) rootFound_ = false;
  if (rootFound_ && sectorsPerCluster_ != 0) {
    rootCluster_ = rootSector_ >= dataStart_ ? (rootSector_ - dataStart_) / sectorsPerCluster_ + 2 : 0;
    return Rebuild(device);
  }
  return false;
}

void TFATAnalyser::RebuildBootSec(const TDevice& device, TBootRecord& boot, uint8_t fatType,
                                  uint16_t sectorsPerCluster, uint16_t rootEntries, uint32_t rootCluster,
                                  uint32_t tableSize, uint8_t tableCopies, uint32_t clusterEstimate) {
  boot.raw.fill(0);
  const uint32_t bytesPerSector = DeviceSectorSize(device);
  Put16(boot, 11, bytesPerSector);
  boot.raw[13] = static_cast<uint8_t>(sectorsPerCluster);
  Put16(boot, 14, 1);
  boot.raw[16] = tableCopies;
  Put16(boot, 17, rootEntries);
  if (fatType == kFat32 || tableSize > 0xFFFF) {
    Put16(boot, 22, 0);
    Put32(boot, 36, tableSize);
  } else {
    Put16(boot, 22, tableSize);
  }
  const uint64_t total = 1 + static_cast<uint64_t>(tableCopies) * tableSize +
                         (static_cast<uint64_t>(rootEntries) * 32 + bytesPerSector - 1) / bytesPerSector +
                         static_cast<uint64_t>(sectorsPerCluster) * clusterEstimate;
  if (total <= 0xFFFF) {
    Put16(boot, 19, static_cast<uint32_t>(total));
  } else {
    Put16(boot, 19, 0);
    Put32(boot, 32, static_cast<uint32_t>(std::min<uint64_t>(total, std::numeric_limits<int32_t>::max())));
  }
  boot.raw[21] = (device.Removable & 1) != 0 ? 0xF0 : 0xF8;
  if (fatType == kFat32) Put32(boot, 44, rootCluster);
}

// The root entries of the rebuilt volume: a root candidate before the data
// start marks a fixed root region (FAT12/16). It lies between the last table
// copy and the data, so it is sized from that gap, which equals
// (data start - candidate) whenever the label sits in the region's first
// sector, and makes the rebuilt data start the inferred one in any case.
// A candidate in the data area is a FAT32 root cluster: no fixed region,
// and the data then starts right after the tables.
bool TFATAnalyser::Rebuild(TDevice& device) {
  const uint64_t tablesEnd = static_cast<uint64_t>(tableStart_) + static_cast<uint64_t>(tableCopies_) * tableSize_;
  uint64_t rootEntries = 0;
  bool consistent = tableStart_ != 0 && tableSize_ != 0 && clusterEstimate_ != 0 && fatType_ != 0;
  if (rootSector_ < dataStart_) {
    rootEntries = tablesEnd < dataStart_ ? (dataStart_ - tablesEnd) * DeviceSectorSize(device) / 32 : 0;
    consistent = consistent && rootEntries != 0 && rootEntries <= 0xFFFF;
  } else {
    consistent = consistent && tablesEnd == dataStart_;
  }
  if (!consistent) {
    // The evidence does not describe one volume; start over with what follows.
    AnalyseRestart();
    return false;
  }
  rootEntries_ = static_cast<uint16_t>(rootEntries);

  auto drive = std::make_unique<TFATdrive>();
  TBootRecord boot;
  RebuildBootSec(device, boot, fatType_, sectorsPerCluster_, rootEntries_, rootCluster_, tableSize_,
                 tableCopies_, clusterEstimate_);
  drive->Device = &device;
  drive->StateFlags = kDriveRebuilt;
  // The volume is taken to start one reserved sector before its first table.
  drive->BootSector = tableStart_ - 1;
  drive->StartSector = tableStart_ - 1;
  // The drive sizes its sector windows for 512-byte sectors until mounted;
  // on a device with larger sectors its walks refuse to read (no overrun).
  drive->CalcDriveInfo(boot, true);
  drive->SectorCount = static_cast<uint32_t>(drive->TotalSectors());
  drive->Name += "DRIVE (without BootSec)";
  drive->CreateStartItems();
  LastRebuilt = drive.get();
  drive->SetHost(Host);
  if (TDriveList* list = Host != nullptr ? Host->DriveList() : nullptr; list != nullptr) {
    list->DriveItems.push_back(std::move(drive));
  } else {
    Rebuilt.push_back(std::move(drive));
  }
  AnalyseRestart();
  return true;
}

}  // namespace kestrella
