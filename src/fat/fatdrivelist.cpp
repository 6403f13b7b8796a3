#include "fat/fatdrivelist.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "devices/scanhost.h"
#include "diskio/bootsector.h"
#include "diskio/partitiontable.h"
#include "fat/fatanalyser.h"

namespace kestrella {

namespace {

// Boot and table sectors are read whole, so a device with larger sectors
// gets a buffer its reads fit into.
uint32_t SectorBytes(const TDevice& device) { return std::max<uint32_t>(device.BytesPerSector, 512); }
std::vector<uint8_t> SectorBuffer(const TDevice& device) {
  return std::vector<uint8_t>(SectorBytes(device), 0);
}

TFATdrive* AppendDrive(TDriveList& list, TDevice& device, uint8_t stateFlags, uint32_t bootSector,
                       uint32_t startSector, uint32_t sectorCount) {
  auto drive = std::make_unique<TFATdrive>();
  TFATdrive* added = drive.get();
  list.DriveItems.push_back(std::move(drive));
  added->StateFlags = stateFlags;
  added->SetHost(list.Host());
  added->Device = &device;
  added->BootSector = bootSector;
  added->StartSector = startSector;
  added->SectorCount = sectorCount;
  return added;
}

const char kLostTitle[] = "Find logical drives - Please wait...";

// A boot sector where a listed drive starts is that drive's own. Rebuilt
// drives (state bit 2) do not count: they were inferred without a boot
// sector, and one found at their start is news.
bool StartsListedDrive(const TDriveList& list, uint32_t sector) {
  for (const auto& d : list.DriveItems)
    if ((d->StateFlags & 2) == 0 && d->StartSector == sector) return true;
  return false;
}

// The search switches the device's cache on for its single-sector reads;
// it must be off again however the search ends.
class CacheScope {
 public:
  explicit CacheScope(TDevice& device) : device_(device) { device_.UseCache(true); }
  ~CacheScope() { device_.UseCache(false); }
  CacheScope(const CacheScope&) = delete;
  CacheScope& operator=(const CacheScope&) = delete;

 private:
  TDevice& device_;
};

}  // namespace

TFATdrive* GetFATDrive(TDriveList& list, TDevice& device) {
  // Sector 0 is read only to learn whether the device answers at all; a
  // card reader without a card should not pester the user with errors.
  std::vector<uint8_t> sector = SectorBuffer(device);
  if (!device.ReadSec(0, 1, sector.data(), device.Removable != 1)) return nullptr;
  if (device.Partitioned != 0) {
    DetectPartitions(list, device, 0, 0);
    return nullptr;
  }
  TFATdrive* drive = AppendDrive(list, device, 0, 0, 0, device.TotalSectors32());
  // The drive stays listed whatever mounting says: the boot sector may be
  // damaged while the data is still there.
  drive->MountDrive(false);
  return drive;
}

void DetectDrives(TDriveList& list, TDevice& device) { GetFATDrive(list, device); }

void DetectPartitions(TDriveList& list, TDevice& device, uint32_t tableSector,
                      uint32_t extendedBase) {
  PartitionedDisk disk;
  disk.sectors = device.TotalSectors32();  // a FAT drive starts and ends below 2^32
  disk.sectorBytes = SectorBytes(device);
  // Only sectors inside the device are asked for, so they fit 32 bits; a
  // table that cannot be read ends its branch without a message.
  disk.read = [&device](uint64_t sector, uint8_t* buffer) {
    return device.ReadSec(static_cast<uint32_t>(sector), 1, buffer, false);
  };
  for (const FatPartition& p : ReadFatPartitions(disk, tableSector, extendedBase)) {
    const auto start = static_cast<uint32_t>(p.firstSector);
    AppendDrive(list, device, 0, start, start, static_cast<uint32_t>(p.sectors))->MountDrive(false);
  }
}

TFATdrive* AddVirtualDrive(TDriveList& list, TDevice& device, uint32_t bootSector,
                           uint32_t startSector, uint32_t sectorCount, bool silent) {
  TFATdrive* drive =
      AppendDrive(list, device, kDriveFromSearch, bootSector, startSector, sectorCount);
  drive->MountDrive(silent);
  drive->Name += " (lost)";
  return drive;
}

int FindLostDrives(ScanHost& host, TDevice& device, TDeviceList* /*list*/, uint32_t firstSector,
                   uint32_t lastSector) {
  // Found drives belong to the scan driver; without its list there is
  // nowhere to keep them.
  TDriveList* drives = host.DriveList();
  if (drives == nullptr || firstSector > lastSector) return 0;

  std::vector<uint8_t> sector = SectorBuffer(device);
  const auto size = static_cast<uint32_t>(sector.size());
  TFATAnalyser analyser;
  analyser.Host = &host;
  CacheScope cache(device);
  host.SetStatus(kLostTitle, "", "", "", "", true, true);
  const uint64_t span = uint64_t{lastSector} - firstSector + 1;
  host.SetProgressRange(static_cast<int32_t>(std::min<uint64_t>(span, INT32_MAX)), 1, 500);

  analyser.AnalyseSecStart(device);
  int found = 0;
  // 64 bits, so that a range ending at the last 32-bit sector still ends.
  uint64_t i = firstSector;
  do {
    const auto current = static_cast<uint32_t>(i);
    if (host.TimeForUserUpdate()) {
      host.UpdateStatus(kLostTitle,
                          "Physical sector " + std::to_string(current) + " of " +
                              std::to_string(lastSector),
                          "Lost drives found: " + std::to_string(found), "", "");
      // A whole disk takes minutes: the front end shows how far it is.
      host.UpdateCurrentClustorProgress(current);
      host.ProcessMessages();
    }
    // The first sector that cannot be read ends the search.
    if (!device.ReadSec(current, 1, sector.data(), true)) break;
    if (LooksLikeBootSector(sector.data(), size) && !StartsListedDrive(*drives, current)) {
      AddVirtualDrive(*drives, device, current, current, 0, true);
      ++found;
    }
    if (analyser.AnalyseSec(device, current, sector.data(), size)) ++found;
    ++i;
  } while (!host.StopRequested() && i <= lastSector);
  analyser.AnalyseSecStop();
  return found;
}

}  // namespace kestrella
