// A device holds sectors: a whole disk read by BIOS number, or a drive read
// by its letter. Every upper layer reads devices through ReadSec, which puts
// a small global cache in front of slow card readers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrella {

// Device kinds.
inline constexpr uint8_t kDevicePhysical = 0;  // whole disk, by BIOS number
inline constexpr uint8_t kDeviceLogical = 1;   // drive, by letter number

// The cache serves only when this is on (the scan driver switches it on).
extern bool optCacheEnabled;

class TDevice {
 public:
  TDevice() = default;
  virtual ~TDevice();
  TDevice(const TDevice&) = delete;
  TDevice& operator=(const TDevice&) = delete;

  bool ReadSec(uint32_t sector, uint16_t count, void* buffer, bool showErrors);
  bool WriteSec(uint32_t sector, uint16_t count, const void* buffer, bool showErrors);
  void UseCache(bool on) { CacheActive = on; }
  // Drops every cache line this device owns.
  void InvalidateCache();
  // Measures how many single-sector reads the device manages in 100 ms and
  // sizes its cache line to ten times that (at most 2 MiB).
  void DetectCacheLineSize();
  // Reads sectors 0..1000 through the cache and directly; reports nothing.
  void TestCache();

  bool CacheActive = false;
  std::string Name;
  uint8_t Kind = 0;
  uint8_t MediaType = 0;  // 0 unknown, 1 floppy, 2 removable, 3 fixed, 4 remote, 5 CD-ROM, 6 RAM disk
  int16_t Removable = 0;  // bit 0: removable medium
  uint32_t TotalSectors = 0;
  uint32_t BytesPerSector = 0;
  int16_t Partitioned = 0;  // sector 0 holds a partition table
  uint8_t DriveNumber = 0;
  uint32_t CacheLineSize = 0;  // sectors per cache fill; 0 = never cached
  // Reads through ReadSec that failed (a failed cache fill that the device
  // then answered directly is not one).
  uint64_t ReadErrors = 0;

 private:
  bool DirectRead(uint32_t sector, uint16_t count, void* buffer, bool showErrors);
};

// The shared sector cache: four lines of 2 MiB. Exposed for tests.
namespace sectorcache {
inline constexpr int kLines = 4;
inline constexpr uint32_t kLineBytes = 2097152;
struct LineState {
  const TDevice* Owner;
  uint8_t Score;
  uint32_t FirstSector, LastSector;
};
LineState Line(int index);
// Forgets every line (program start state).
void Reset();
}  // namespace sectorcache

}  // namespace kestrella
