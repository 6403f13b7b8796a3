// Where a JPEG file ends: at the end-of-image marker of its main picture, or,
// for a multi-picture file, at the end of the furthest picture its index
// lists.
#include <algorithm>
#include <cstring>
#include <vector>

#include "detect/fileend_walker.h"
#include "util/bytes.h"

namespace kestrella {
namespace {

// The walk follows the marker segments by their lengths, so that a preview
// picture inside an APP segment (the Exif thumbnail, with markers of its own)
// is stepped over whole. After each start-of-scan segment come entropy-coded
// bytes, read one by one: there an FF byte is followed by 00 (a stuffed FF),
// a restart marker D0-D7, or another FF (fill); any other marker ends the
// scan and the segment walk goes on (a progressive picture has many scans,
// with tables between them). The end-of-image marker ends the picture.
//
// Many cameras store further pictures (a larger preview, the second view of
// a stereo pair) after the main picture's end, in the same file, and list
// them in a Multi-Picture Format index: an APP2 segment starting "MPF\0",
// then a TIFF-structured index whose MP Entry field gives each picture's size
// and its offset from the index's TIFF header (0 for the main picture). With
// such an index the file runs to the end of its furthest picture, and each
// listed picture must start with a start-of-image marker where it is said to.
//
// Bytes the format does not allow (no start-of-image marker, a byte between
// segments that is no marker, a reserved marker, a segment length under 2, a
// second start-of-image, an end before any scan, an index that cannot be
// read) mean no end is found.
class JpegEndFinder final : public RecordWalker {
 public:
  JpegEndFinder() : RecordWalker(2) {}

 private:
  enum class Next { Start, MarkerFF, MarkerCode, Length, AppId, PictureStart };
  enum class Scan { Entropy, MpfIndex };

  static constexpr uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kApp2 = 0xE2;
  // The smallest APP2 that can hold an index: its identifier and a TIFF
  // header.
  static constexpr uint32_t kMpfMinLength = 2 + 4 + 8;

  void OnGathered(const uint8_t* h, size_t) override {
    switch (next_) {
      case Next::Start:
        if (h[0] != 0xFF || h[1] != kSoi) return Fail();
        return ExpectMarker();
      case Next::MarkerFF:
        if (h[0] != 0xFF) return Fail();
        next_ = Next::MarkerCode;
        return Then(0, 1);
      case Next::MarkerCode:
        if (h[0] == 0xFF) return Then(0, 1);  // fill bytes before a marker
        return OnMarker(h[0], Offset());
      case Next::Length:
        return OnSegment(Be16(h));
      case Next::AppId:
        if (std::memcmp(h, "MPF\0", 4) == 0) {
          // The index is at most one segment long (under 64 KiB) and is
          // kept only until it has been read.
          mpfBase_ = Offset();
          mpfWant_ = segmentLeft_ - 4;
          scan_ = Scan::MpfIndex;
          return ThenScan(0);
        }
        return ExpectMarker(segmentLeft_ - 4);
      case Next::PictureStart:
        if (h[0] != 0xFF || h[1] != kSoi) return Fail();
        return NextPicture(Offset());
    }
  }

  size_t OnScan(const uint8_t* data, size_t size) override {
    if (scan_ == Scan::MpfIndex) {
      const size_t n = std::min<size_t>(size, mpfWant_ - mpf_.size());
      mpf_.insert(mpf_.end(), data, data + n);
      if (mpf_.size() == mpfWant_) {
        ReadMpfIndex();
        if (Current() == State::NeedMore) ExpectMarker();
      }
      return n;
    }
    size_t i = 0;
    while (i < size) {
      if (!afterFF_) {
        const void* ff = std::memchr(data + i, 0xFF, size - i);
        if (ff == nullptr) return size;
        i = static_cast<size_t>(static_cast<const uint8_t*>(ff) - data) + 1;
        afterFF_ = true;
        continue;
      }
      const uint8_t code = data[i++];
      if (code == 0xFF) continue;
      afterFF_ = false;
      if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) continue;
      OnMarker(code, Offset() + i);
      return i;
    }
    return size;
  }

  void ExpectMarker(uint64_t skip = 0) {
    next_ = Next::MarkerFF;
    Then(skip, 1);
  }

  // `code` is the marker's second byte; `after` is the offset just past it.
  void OnMarker(uint8_t code, uint64_t after) {
    if (code == kEoi) {
      if (!sawScan_) return Fail();
      mainEnd_ = after;
      return NextPicture(after);
    }
    // 00 is no marker, 02-BF are reserved, and a picture starts only once.
    if (code == 0x00 || (code >= 0x02 && code < 0xC0) || code == kSoi) return Fail();
    // TEM and the restart markers stand alone, without a length.
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) return ExpectMarker();
    marker_ = code;
    next_ = Next::Length;
    Then(0, 2);
  }

  // After a segment's length field; length - 2 bytes of it follow.
  void OnSegment(uint32_t length) {
    if (length < 2) return Fail();
    if (marker_ == kSos) {
      sawScan_ = true;
      afterFF_ = false;
      scan_ = Scan::Entropy;
      return ThenScan(length - 2);
    }
    // Only the first index counts: the further pictures carry indexes of
    // their own, about themselves.
    if (marker_ == kApp2 && !sawMpf_ && !sawScan_ && length >= kMpfMinLength) {
      segmentLeft_ = length - 2;
      next_ = Next::AppId;
      return Then(0, 4);
    }
    ExpectMarker(length - 2);
  }

  // Reads the Multi-Picture index in mpf_, whose first byte lies at mpfBase_:
  // the TIFF header, the first IFD, and the MP Entry field (tag B002, 16
  // bytes per picture: attributes, size, offset, two dependent entries).
  void ReadMpfIndex() {
    const uint8_t* b = mpf_.data();
    const uint64_t size = mpf_.size();
    const bool little = b[0] == 'I' && b[1] == 'I';
    if (!little && !(b[0] == 'M' && b[1] == 'M')) return Fail();
    const auto get16 = [&](uint64_t at) { return little ? Le16(b + at) : Be16(b + at); };
    const auto get32 = [&](uint64_t at) { return little ? Le32(b + at) : Be32(b + at); };
    if (get16(2) != 42) return Fail();
    const uint64_t ifd = get32(4);
    if (ifd < 8 || ifd + 2 > size) return Fail();
    const uint64_t entries = get16(ifd);
    if (ifd + 2 + 12 * entries > size) return Fail();
    bool sawEntries = false;
    for (uint64_t e = ifd + 2; e < ifd + 2 + 12 * entries; e += 12) {
      if (get16(e) != 0xB002) continue;
      const uint64_t bytes = get32(e + 4);
      const uint64_t at = get32(e + 8);
      if (get16(e + 2) != 7 || bytes < 16 || bytes % 16 != 0 || at + bytes > size) return Fail();
      for (uint64_t p = at; p < at + bytes; p += 16) {
        const uint64_t pictureSize = get32(p + 4);
        const uint64_t pictureOffset = get32(p + 8);
        if (pictureOffset == 0) continue;  // the main picture: its end is its EOI
        if (pictureSize < 4) return Fail();
        pictures_.push_back(mpfBase_ + pictureOffset);
        furthest_ = std::max(furthest_, mpfBase_ + pictureOffset + pictureSize);
      }
      sawEntries = true;
    }
    if (!sawEntries || furthest_ > kFatMaxFile) return Fail();
    std::sort(pictures_.begin(), pictures_.end());
    pictures_.erase(std::unique(pictures_.begin(), pictures_.end()), pictures_.end());
    sawMpf_ = true;
    std::vector<uint8_t>().swap(mpf_);
  }

  // Checks the start of the next listed picture, or ends the file when every
  // one was checked. `at` is the offset of the next byte.
  void NextPicture(uint64_t at) {
    if (checked_ == pictures_.size()) return EndAt(std::max(mainEnd_, furthest_));
    const uint64_t start = pictures_[checked_++];
    // A picture inside the main one, or overlapping the one before.
    if (start < at) return Fail();
    next_ = Next::PictureStart;
    Then(start - at, 2);
  }

  Next next_ = Next::Start;
  Scan scan_ = Scan::Entropy;
  uint8_t marker_ = 0;
  bool afterFF_ = false;
  bool sawScan_ = false;
  bool sawMpf_ = false;
  uint32_t segmentLeft_ = 0;
  std::vector<uint8_t> mpf_;
  size_t mpfWant_ = 0;
  uint64_t mpfBase_ = 0;
  std::vector<uint64_t> pictures_;  // start offsets of the further pictures
  size_t checked_ = 0;
  uint64_t furthest_ = 0;
  uint64_t mainEnd_ = 0;
};

}  // namespace

std::unique_ptr<FileEndFinder> MakeJpegEndFinder() { return std::make_unique<JpegEndFinder>(); }

}  // namespace kestrella
