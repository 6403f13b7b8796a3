// Sector access to whole disks by BIOS number: 0 and 1 are the floppies,
// 80h + n the n-th hard disk (see the drive table). Sectors are 512 bytes on
// every path of this module.
#pragma once

#include <cstdint>

#include "diskio/driveparams.h"

namespace kestrella::pdiskio {

// When showErrors is true a failed transfer asks Abort, Retry or Ignore
// through the user interface: Retry repeats it, Ignore counts it as done
// (the buffer keeps whatever it held for that part), Abort fails the call.
bool ReadPhysicalSectors(uint8_t drive, uint32_t sector, uint16_t count, void* buffer,
                         bool showErrors);
bool WritePhysicalSectors(uint8_t drive, uint32_t sector, uint16_t count, const void* buffer,
                          bool showErrors);
bool GetPhysDriveParams(uint8_t drive, TPhysDriveParams& params);

// Switches of the BIOS disk services of old systems. They have no Linux
// counterpart; they are kept for callers and change nothing.
extern bool OptUseINT13;
extern bool OptUseINT13EXT;

// Closes the cached disk handle (used by tests and at shutdown).
void CloseDrive();

}  // namespace kestrella::pdiskio
