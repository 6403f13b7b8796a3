// Finding the FAT drives of a device: the whole device, the partitions of
// its table, and volumes no table lists any more (lost drives).
#pragma once

#include <cstdint>

#include "devices/device.h"
#include "devices/devicelist.h"
#include "devices/drivebase.h"
#include "devices/scanhost.h"
#include "fat/fatdrive.h"

namespace kestrella {

// The drive of a device without a partition table (a card, a floppy), added
// to `list` and mounted; for a partitioned device its partitions are added
// and nullptr returned. nullptr too when sector 0 cannot be read.
TFATdrive* GetFATDrive(TDriveList& list, TDevice& device);
void DetectDrives(TDriveList& list, TDevice& device);
// Adds the FAT partitions of the table at `tableSector` and of the extended
// chain behind it, each mounted, in the order and by the rules of
// ReadFatPartitions (only signed tables, only entries inside the device).
void DetectPartitions(TDriveList& list, TDevice& device, uint32_t tableSector,
                      uint32_t extendedBase);
// A volume found by its boot sector: mounted, named "... (lost)".
TFATdrive* AddVirtualDrive(TDriveList& list, TDevice& device, uint32_t bootSector,
                           uint32_t startSector, uint32_t sectorCount, bool silent);
// Searches sectors first..last of `device` for boot sectors and for volumes
// whose boot sector is gone, reporting to `host`; found drives go into the
// host's drive list. Returns how many were found.
int FindLostDrives(ScanHost& host, TDevice& device, TDeviceList* list, uint32_t firstSector,
                   uint32_t lastSector);

}  // namespace kestrella
