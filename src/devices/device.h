// A device holds sectors: a whole disk read by BIOS number, or a drive read
// by its letter. Every upper layer reads devices through ReadSec. Each
// device carries its own sector access (its own open handle) and its own
// small cache in front of slow card readers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "compat/drivetypes.h"

namespace kestrella {

class EngineContext;
class LogicalSectorAccess;
class PhysicalSectorAccess;

// Device kinds.
inline constexpr uint8_t kDevicePhysical = 0;  // whole disk, by BIOS number
inline constexpr uint8_t kDeviceLogical = 1;   // drive, by letter number

// A device's sector cache: four lines of up to 2 MiB, each allocated the
// first time it is filled. A line is picked by score: a hit adds one, a
// pass that does not serve from it takes one away.
class SectorCache {
 public:
  static constexpr int kLines = 4;
  static constexpr uint32_t kLineBytes = 2097152;
  struct LineState {
    bool Used;
    uint8_t Score;
    uint64_t FirstSector, LastSector;
  };

  SectorCache();
  ~SectorCache();
  LineState Line(int index) const;
  // Forgets every line.
  void Reset();
  // One pass over the lines: the first line holding `sector` serves as much
  // of the request as it holds and the request is advanced past that; every
  // other line ages. True when the whole request was served.
  bool Serve(uint32_t bytesPerSector, uint64_t& sector, uint16_t& count, uint8_t*& buffer);
  // The line to fill next, with room for kLineBytes.
  int PickVictim();
  uint8_t* LineData(int index);
  void Filled(int index, uint64_t firstSector, uint32_t sectors);

 private:
  struct Slot;
  std::unique_ptr<Slot[]> lines_;
};

class TDevice {
 public:
  explicit TDevice(EngineContext& context);
  virtual ~TDevice();
  TDevice(const TDevice&) = delete;
  TDevice& operator=(const TDevice&) = delete;

  bool ReadSec(uint64_t sector, uint16_t count, void* buffer, bool showErrors);
  bool WriteSec(uint64_t sector, uint16_t count, const void* buffer, bool showErrors);
  void UseCache(bool on) { CacheActive = on; }
  // Drops every cache line.
  void InvalidateCache();
  EngineContext& Context() const { return context_; }
  const SectorCache& Cache() const { return cache_; }
  // Measures how many single-sector reads the device manages in 100 ms and
  // sizes its cache line to ten times that (at most 2 MiB).
  void DetectCacheLineSize();
  // Reads sectors 0..1000 through the cache and directly; reports nothing.
  void TestCache();

  bool CacheActive = false;
  std::string Name;
  uint8_t Kind = 0;
  MediaKind MediaType = MediaKind::Unknown;
  int16_t Removable = 0;  // bit 0: removable medium
  uint64_t TotalSectors = 0;
  uint32_t BytesPerSector = 0;
  int16_t Partitioned = 0;  // sector 0 holds a partition table
  uint8_t DriveNumber = 0;
  uint32_t CacheLineSize = 0;  // sectors per cache fill; 0 = never cached
  // Reads through ReadSec that failed (a failed cache fill that the device
  // then answered directly is not one).
  uint64_t ReadErrors = 0;

  // The sectors a 32-bit sector number reaches: all that a FAT volume (and
  // the FAT layer) can address of a larger device.
  uint32_t TotalSectors32() const {
    return TotalSectors > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(TotalSectors);
  }

 private:
  bool DirectRead(uint64_t sector, uint16_t count, void* buffer, bool showErrors);
  // Lines filled from one medium never answer for another: when the handle
  // the device reads through was opened anew (another card in the reader,
  // an image replaced), every line is dropped.
  void ForgetLinesOfAnotherMedium();
  LogicalSectorAccess& Logical();
  PhysicalSectorAccess& Physical();

  EngineContext& context_;
  std::unique_ptr<LogicalSectorAccess> logical_;
  std::unique_ptr<PhysicalSectorAccess> physical_;
  SectorCache cache_;
  uint32_t cacheOpening_ = 0;  // the access's opening the lines were filled from
};

}  // namespace kestrella
