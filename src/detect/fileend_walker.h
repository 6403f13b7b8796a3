// What the end finders of the different formats share: the walk over a
// format's records as the bytes stream past, and the finders themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "detect/fileend.h"

namespace kestrella {

// No file on a FAT volume is larger: a structure said to reach past it
// belongs to no real file.
inline constexpr uint64_t kFatMaxFile = 0xFFFFFFFFu;

// Most formats are a run of records whose headers tell how far the next one
// lies. A walker asks for the bytes it wants to look at next (a header of up
// to kMaxGather bytes, gathered across pieces), for bytes it does not need to
// see (skipped), or for every byte (a scan, for data with no lengths in it,
// such as a JPEG's entropy-coded data). Only the header being gathered is
// kept, so a walker holds a few bytes of state whatever the file's size.
class RecordWalker : public FileEndFinder {
 public:
  State Feed(const uint8_t* data, size_t size) final;
  State Current() const final { return state_; }
  uint64_t End() const final { return state_ == State::Ended ? end_ : 0; }

 protected:
  static constexpr size_t kMaxGather = 32;

  // The walk starts by gathering the first `first` bytes.
  explicit RecordWalker(size_t first) : want_(first) {}

  // Called with the `count` bytes asked for, all in; the first lies at
  // Offset() - count. It says what comes next by one of the calls below;
  // calling none leaves the walk waiting for nothing, i.e. stuck, so each
  // path must call one.
  virtual void OnGathered(const uint8_t* head, size_t count) = 0;
  // In a scan: looks at data[0 .. size-1], the bytes from Offset() on, and
  // returns how many of them it took (at least one unless it left the scan).
  virtual size_t OnScan(const uint8_t* data, size_t size);

  // Skips `skip` bytes, then gathers `count` (at most kMaxGather).
  void Then(uint64_t skip, size_t count);
  // Skips `skip` bytes, then scans.
  void ThenScan(uint64_t skip);
  // The file ends `end` bytes from its start: Ended once that many bytes
  // were fed (at once when they already were).
  void EndAt(uint64_t end);
  // The bytes do not follow the format.
  void Fail() { state_ = State::NoEnd; }
  // How many bytes were taken so far.
  uint64_t Offset() const { return offset_; }

 private:
  State state_ = State::NeedMore;
  uint64_t offset_ = 0;
  uint64_t end_ = 0;
  uint64_t skip_ = 0;
  bool scanning_ = false;
  bool ending_ = false;
  size_t want_ = 0;
  size_t have_ = 0;
  uint8_t head_[kMaxGather] = {};
};

// Big- and little-endian reads for the formats that use either.
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// The finders of each format (see MakeEndFinder for the kinds they serve).
std::unique_ptr<FileEndFinder> MakeJpegEndFinder();
std::unique_ptr<FileEndFinder> MakePngEndFinder();
std::unique_ptr<FileEndFinder> MakeGifEndFinder();
std::unique_ptr<FileEndFinder> MakeBmpEndFinder();
std::unique_ptr<FileEndFinder> MakeRiffEndFinder();
std::unique_ptr<FileEndFinder> MakeQuickTimeEndFinder();
std::unique_ptr<FileEndFinder> MakeMp3EndFinder();
std::unique_ptr<FileEndFinder> MakeTiffEndFinder();

}  // namespace kestrella
