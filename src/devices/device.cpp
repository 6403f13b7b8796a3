#include "devices/device.h"

#include <algorithm>
#include <cstring>

#include "diskio/enginecontext.h"
#include "diskio/pdiskio.h"

namespace kestrella {

namespace {

// Scores saturate in 0..15: a hit adds one, a pass that does not serve
// from a line takes one away, a fresh fill starts at the top.
constexpr uint8_t kTopScore = 15;

// Devices smaller than this are fast enough (floppies) or too small to gain.
constexpr uint32_t kSmallestCachedDevice = 2048;

// How long the line size measurement reads single sectors, in milliseconds.
constexpr uint32_t kMeasureMillis = 100;

}  // namespace

struct SectorCache::Slot {
  bool Used = false;
  uint8_t Score = 0;
  uint64_t FirstSector = 0;
  uint64_t LastSector = 0;
  // Allocated at the first fill, so a device that is never cached costs
  // nothing; kept until the device goes so that a read never allocates.
  std::unique_ptr<uint8_t[]> Data;
};

SectorCache::SectorCache() : lines_(new Slot[kLines]) {}
SectorCache::~SectorCache() = default;

SectorCache::LineState SectorCache::Line(int index) const {
  const Slot& l = lines_[index];
  return LineState{l.Used, l.Score, l.FirstSector, l.LastSector};
}

void SectorCache::Reset() {
  for (int i = 0; i < kLines; ++i) {
    lines_[i].Used = false;
    lines_[i].Score = 0;
  }
}

bool SectorCache::Serve(uint32_t bytesPerSector, uint64_t& sector, uint16_t& count,
                        uint8_t*& buffer) {
  bool served = false;
  bool complete = false;
  for (int i = 0; i < kLines; ++i) {
    Slot& line = lines_[i];
    const bool holds =
        !served && line.Used && sector >= line.FirstSector && sector <= line.LastSector;
    if (!holds) {
      if (line.Score > 0) --line.Score;
      continue;
    }
    served = true;
    if (line.Score < kTopScore) ++line.Score;
    // (An empty request has no last sector: its count keeps it out.)
    const uint64_t requestLast = sector + count - 1;
    uint32_t m = count;
    if (count > 0 && requestLast > line.LastSector)
      m = static_cast<uint32_t>(line.LastSector - sector + 1);
    const size_t bytes = static_cast<size_t>(m) * bytesPerSector;
    const size_t offset = static_cast<size_t>(sector - line.FirstSector) * bytesPerSector;
    if (bytes > 0) std::memcpy(buffer, line.Data.get() + offset, bytes);
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

int SectorCache::PickVictim() {
  // The line with the lowest score; ties go to the lowest line number.
  int victim = 0;
  uint8_t bound = kTopScore;
  for (int i = 0; i < kLines; ++i) {
    if (lines_[i].Score < bound) {
      victim = i;
      bound = lines_[i].Score;
    }
  }
  return victim;
}

uint8_t* SectorCache::LineData(int index) {
  Slot& line = lines_[index];
  if (!line.Data) line.Data.reset(new uint8_t[kLineBytes]);
  return line.Data.get();
}

void SectorCache::Filled(int index, uint64_t firstSector, uint32_t sectors) {
  Slot& line = lines_[index];
  line.Used = true;
  line.Score = kTopScore;
  line.FirstSector = firstSector;
  line.LastSector = firstSector + sectors - 1;
}

TDevice::TDevice(EngineContext& context) : context_(context) {}

TDevice::~TDevice() = default;

void TDevice::InvalidateCache() { cache_.Reset(); }

LogicalSectorAccess& TDevice::Logical() {
  if (!logical_) logical_ = std::make_unique<LogicalSectorAccess>(kLdiskioTraits, context_);
  return *logical_;
}

PhysicalSectorAccess& TDevice::Physical() {
  if (!physical_) physical_ = std::make_unique<PhysicalSectorAccess>(context_);
  return *physical_;
}

void TDevice::ForgetLinesOfAnotherMedium() {
  uint32_t opening = 0;
  switch (Kind) {
    case kDevicePhysical: opening = Physical().Opening(DriveNumber); break;
    case kDeviceLogical: opening = Logical().Opening(DriveNumber); break;
    default: return;
  }
  if (opening == cacheOpening_) return;
  cache_.Reset();
  cacheOpening_ = opening;
}

bool TDevice::DirectRead(uint64_t sector, uint16_t count, void* buffer, bool showErrors) {
  switch (Kind) {
    case kDevicePhysical:
      return Physical().ReadPhysicalSectors(DriveNumber, sector, count, buffer, showErrors);
    case kDeviceLogical:
      return Logical().ReadLogicalSectors(DriveNumber, sector, count, buffer);
    default:
      return false;
  }
}

bool TDevice::ReadSec(uint64_t sector, uint16_t count, void* buffer, bool showErrors) {
  auto* out = static_cast<uint8_t*>(buffer);
  // A request from beyond the end never touches the cache: the device
  // itself answers it.
  if (context_.options.optCacheEnabled && CacheActive && CacheLineSize > 0 &&
      BytesPerSector > 0 && sector < TotalSectors) {
    ForgetLinesOfAnotherMedium();
    if (cache_.Serve(BytesPerSector, sector, count, out)) return true;

    const int victim = cache_.PickVictim();
    // Never more than a line holds or one transfer can name, whatever
    // CacheLineSize was set to; never past the last sector.
    uint32_t n = std::min<uint32_t>(CacheLineSize, SectorCache::kLineBytes / BytesPerSector);
    n = std::min<uint32_t>(n, UINT16_MAX);
    // (A partial serve may have moved the request to the end of the device.)
    n = sector < TotalSectors ? static_cast<uint32_t>(std::min<uint64_t>(n, TotalSectors - sector)) : 0;
    if (Kind == kDevicePhysical) Physical().TakeIgnoredRead();  // only this fill's counts
    if (n > 0 &&
        DirectRead(sector, static_cast<uint16_t>(n), cache_.LineData(victim), showErrors)) {
      // Zeros the user chose to ignore a bad sector with are no data of the
      // medium: they are handed out once, never kept as a cache line.
      if (Kind == kDevicePhysical && Physical().TakeIgnoredRead()) {
        ++ReadErrors;  // ignored, but not read
        const uint32_t served = std::min<uint32_t>(count, n);
        std::memcpy(out, cache_.LineData(victim), static_cast<size_t>(served) * BytesPerSector);
        if (served == count) return true;
        return DirectRead(sector + served, static_cast<uint16_t>(count - served),
                          out + static_cast<size_t>(served) * BytesPerSector, showErrors);
      }
      ForgetLinesOfAnotherMedium();  // the fill may have been the new medium's first read
      cache_.Filled(victim, sector, n);
      if (cache_.Serve(BytesPerSector, sector, count, out)) return true;
    }
    // A failed fill is no error by itself: the device is asked directly
    // for what is still missing.
  }
  const bool ok = DirectRead(sector, count, out, showErrors);
  // A request past the end is no fault of the medium.
  if (!ok && (TotalSectors == 0 || sector < TotalSectors)) ++ReadErrors;
  return ok;
}

bool TDevice::WriteSec(uint64_t sector, uint16_t count, const void* buffer, bool showErrors) {
  // Nothing writes through a device whose sectors are cached (only the wipe
  // of a whole card writes, and it does not go through devices), so the
  // cache is left as it is.
  switch (Kind) {
    case kDevicePhysical:
      return Physical().WritePhysicalSectors(DriveNumber, sector, count, buffer, showErrors);
    case kDeviceLogical:
      return Logical().WriteLogicalSectors(DriveNumber, sector, count, buffer);
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
  // Count the single-sector reads of 100 ms, never past the last sector: a
  // small, fast medium read whole sooner is measured by what it took. The
  // difference of tick counts stays right when the tick counter wraps.
  UserInterface& ui = context_.ui();
  const uint32_t start = ui.TickCount();
  uint32_t reads = 0;
  while (ok && reads < TotalSectors && ui.TickCount() - start < kMeasureMillis) {
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
  const uint64_t fits = SectorCache::kLineBytes / std::max<uint32_t>(BytesPerSector, 1);
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
