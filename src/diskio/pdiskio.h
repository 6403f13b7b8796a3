// Sector access to whole disks by BIOS number: 0 and 1 are the floppies,
// 80h + n the n-th hard disk (see the drive table). Sectors are 512 bytes on
// every path of this module. Each user keeps its own open handle.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "diskio/driveparams.h"
#include "diskio/sectorsource.h"

namespace kestrella {

class EngineContext;

class PhysicalSectorAccess {
 public:
  explicit PhysicalSectorAccess(EngineContext& context) : context_(context) {}

  // When showErrors is true a failed transfer asks Abort, Retry or Ignore
  // through the user interface: Retry repeats it, Ignore counts it as done
  // (a read gives zeros for that part, never what the buffer held before),
  // Abort fails the call.
  bool ReadPhysicalSectors(uint8_t drive, uint64_t sector, uint16_t count, void* buffer,
                           bool showErrors);
  bool WritePhysicalSectors(uint8_t drive, uint64_t sector, uint16_t count, const void* buffer,
                            bool showErrors);
  bool GetPhysDriveParams(uint8_t drive, TPhysDriveParams& params);
  // Closes the open disk handle.
  void CloseDrive();
  // Whether a part of a read was ignored since the last call: its zeros
  // stand for bytes the medium never gave, which no cache may keep.
  bool TakeIgnoredRead() { return std::exchange(ignoredRead_, false); }
  // Which opening of a handle serves reads of `drive` (see
  // LogicalSectorAccess::Opening).
  uint32_t Opening(uint8_t drive);

 private:
  bool NT_OpenDrive(uint8_t drive, bool forRead);
  template <typename Transfer, typename Ignored>
  bool Chunked(bool write, uint8_t drive, uint64_t sector, uint16_t count, bool showErrors,
               Transfer transfer, Ignored ignored);

  EngineContext& context_;
  std::unique_ptr<SectorSource> handle_;
  uint8_t drive_ = 0;
  bool forRead_ = false;
  bool ignoredRead_ = false;
  uint32_t openings_ = 0;
};

}  // namespace kestrella
