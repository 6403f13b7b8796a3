#include "devices/device.h"

#include <algorithm>
#include <cstring>

#include "diskio/ldiskio.h"
#include "diskio/pdiskio.h"
#include "util/userinterface.h"

namespace kestrella {

bool optCacheEnabled = false;

namespace {

// Scores saturate in 0..15: a hit adds one, a pass that does not serve
// from a line takes one away, a fresh fill starts at the top.
constexpr uint8_t kTopScore = 15;

// Devices smaller than this are fast enough (floppies) or too small to gain.
constexpr uint32_t kSmallestCachedDevice = 2048;

// How long the line size measurement reads single sectors, in milliseconds.
constexpr uint32_t kMeasureMillis = 100;

struct CacheLine {
  const TDevice* Owner = nullptr;
  uint8_t Score = 0;
  uint32_t FirstSector = 0;
  uint32_t LastSector = 0;
};

CacheLine g_lines[sectorcache::kLines];
// The line data lives for the whole run so that a read never allocates.
alignas(4096) uint8_t g_lineData[sectorcache::kLines][sectorcache::kLineBytes];

// One pass over the lines: the first line of `device` holding `sector`
// serves as much of the request as it holds and the request is advanced past
// that; every other line ages. True when the whole request was served.
bool ServeFromCache(const TDevice& device, uint32_t& sector, uint16_t& count, uint8_t*& buffer) {
  bool served = false;
  bool complete = false;
  for (int i = 0; i < sectorcache::kLines; ++i) {
    CacheLine& line = g_lines[i];
    const bool holds = !served && line.Owner == &device && sector >= line.FirstSector &&
                       sector <= line.LastSector;
    if (!holds) {
      if (line.Score > 0) --line.Score;
      continue;
    }
    served = true;
    if (line.Score < kTopScore) ++line.Score;
    // 64-bit so that a request running to the 32-bit sector limit (or an
    // empty one) cannot wrap.
    const uint64_t requestLast = static_cast<uint64_t>(sector) + count - 1;
    uint32_t m = count;
    if (count > 0 && requestLast > line.LastSector) m = line.LastSector - sector + 1;
    const size_t bytes = static_cast<size_t>(m) * device.BytesPerSector;
    const size_t offset = static_cast<size_t>(sector - line.FirstSector) * device.BytesPerSector;
    if (bytes > 0) std::memcpy(buffer, g_lineData[i] + offset, bytes);
    if (m < count) {
      sector += m;
      count = static_cast<uint16_t>(count - m);
      buffer += bytes;
    } else {
      complete = true;
    }
  }
  return complete;
}

// The line with the lowest score; ties go to the lowest line number.
int PickVictim() {
  int victim = 0;
  uint8_t bound = kTopScore;
  for (int i = 0; i < sectorcache::kLines; ++i) {
    if (g_lines[i].Score < bound) {
      victim = i;
      bound = g_lines[i].Score;
    }
  }
  return victim;
}

}  // namespace

namespace sectorcache {

LineState Line(int index) {
  const CacheLine& l = g_lines[index];
  return LineState{l.Owner, l.Score, l.FirstSector, l.LastSector};
}

void Reset() {
  for (CacheLine& l : g_lines) l = CacheLine{};
}

}  // namespace sectorcache

TDevice::~TDevice() { InvalidateCache(); }

void TDevice::InvalidateCache() {
  for (CacheLine& l : g_lines) {
    if (l.Owner == this) {
      l.Owner = nullptr;
      l.Score = 0;
    }
  }
}

bool TDevice::DirectRead(uint32_t sector, uint16_t count, void* buffer, bool showErrors) {
  switch (Kind) {
    case kDevicePhysical:
      return pdiskio::ReadPhysicalSectors(DriveNumber, sector, count, buffer, showErrors);
    case kDeviceLogical:
      return ldiskio::ReadLogicalSectors(DriveNumber, sector, count, buffer);
    default:
      return false;
  }
}

bool TDevice::ReadSec(uint32_t sector, uint16_t count, void* buffer, bool showErrors) {
  auto* out = static_cast<uint8_t*>(buffer);
  // A request from beyond the end never touches the cache: the device
  // itself answers it.
  if (optCacheEnabled && CacheActive && CacheLineSize > 0 && BytesPerSector > 0 &&
      sector < TotalSectors) {
    if (ServeFromCache(*this, sector, count, out)) return true;

    const int victim = PickVictim();
    // Never more than a line holds or one transfer can name, whatever
    // CacheLineSize was set to; never past the last sector.
    uint32_t n = std::min<uint32_t>(CacheLineSize, sectorcache::kLineBytes / BytesPerSector);
    n = std::min<uint32_t>(n, UINT16_MAX);
    // (A partial serve may have moved the request to the end of the device.)
    n = sector < TotalSectors ? std::min(n, TotalSectors - sector) : 0;
    if (n > 0 && DirectRead(sector, static_cast<uint16_t>(n), g_lineData[victim], showErrors)) {
      CacheLine& line = g_lines[victim];
      line.Owner = this;
      line.Score = kTopScore;
      line.FirstSector = sector;
      line.LastSector = sector + n - 1;
      if (ServeFromCache(*this, sector, count, out)) return true;
    }
    // A failed fill is no error by itself: the device is asked directly
    // for what is still missing.
  }
  const bool ok = DirectRead(sector, count, out, showErrors);
  // A request past the end (the cache-line measurement runs into it on a
  // small card) is no fault of the medium.
  if (!ok && (TotalSectors == 0 || sector < TotalSectors)) ++ReadErrors;
  return ok;
}

bool TDevice::WriteSec(uint32_t sector, uint16_t count, const void* buffer, bool showErrors) {
  // Nothing writes through a device whose sectors are cached (only the wipe
  // of a whole card writes, and it does not go through devices), so the
  // cache is left as it is.
  switch (Kind) {
    case kDevicePhysical:
      return pdiskio::WritePhysicalSectors(DriveNumber, sector, count, buffer, showErrors);
    case kDeviceLogical:
      return ldiskio::WriteLogicalSectors(DriveNumber, sector, count, buffer);
    default:
      return false;
  }
}

void TDevice::DetectCacheLineSize() {
  if (TotalSectors < kSmallestCachedDevice) {
    CacheLineSize = 0;
    return;
  }
  UseCache(false);
  // One sector of this device, whatever its size.
  std::vector<uint8_t> scratch(std::max<uint32_t>(BytesPerSector, 1));
  bool ok = ReadSec(0, 1, scratch.data(), false);
  if (!ok) {
    CacheLineSize = 0;
    return;
  }
  // Count the single-sector reads of 100 ms. The difference of tick counts
  // stays right when the tick counter wraps.
  const uint32_t start = ui().TickCount();
  uint32_t reads = 0;
  while (ok && ui().TickCount() - start < kMeasureMillis) {
    ok = ReadSec(reads, 1, scratch.data(), false);
    ++reads;
  }
  if (!ok) {
    CacheLineSize = 0;
    return;
  }
  // A line then holds about one second's worth of single-sector reads, at
  // most what a line's data area takes.
  const uint64_t perSecond = reads >= 2 ? static_cast<uint64_t>(reads) * 10 : 1;
  const uint64_t fits = sectorcache::kLineBytes / std::max<uint32_t>(BytesPerSector, 1);
  CacheLineSize = static_cast<uint32_t>(std::min(perSecond, fits));
}

void TDevice::TestCache() {
  std::vector<uint8_t> buffer(std::max<uint32_t>(BytesPerSector, 1));
  for (uint32_t s = 0; s <= 1000; ++s) {
    if (ReadSec(s, 1, buffer.data(), false)) DirectRead(s, 1, buffer.data(), true);
  }
  UseCache(false);
}

}  // namespace kestrella
