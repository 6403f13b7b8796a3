// Where sound and video files end: RIFF forms (WAV, AVI), QuickTime and
// ISO media files (MOV, MP4) and MPEG audio streams (MP3).
#include <cstring>
#include <string_view>

#include "detect/fileend_walker.h"
#include "detect/mpegframes.h"
#include "util/bytes.h"

namespace kestrella {
namespace {

bool IsPrintable(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

// A RIFF form is "RIFF", its size (little-endian; big-endian in a "RIFX"
// form) and a four-character form type: the file is 8 + size bytes. The
// size counts the form's chunks with their pad bytes, so it is even in a
// well-formed file; an odd one is taken as written, with no pad byte added
// that the form does not claim. An AVI larger than 1 GiB goes on in further
// "RIFF" "AVIX" forms straight after the first, so after an AVI form the
// next 12 bytes are looked at before the end is given.
class RiffEndFinder final : public RecordWalker {
 public:
  RiffEndFinder() : RecordWalker(12) {}

 private:
  void OnGathered(const uint8_t* h, size_t) override {
    const uint64_t start = Offset() - 12;
    if (formEnd_ != 0) {
      if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "AVIX", 4) != 0)
        return EndAt(formEnd_);
      return NextForm(start, Le32(h + 4), /*film=*/true);
    }
    const bool big = std::memcmp(h, "RIFX", 4) == 0;
    if (!big && std::memcmp(h, "RIFF", 4) != 0) return Fail();
    if (!IsPrintable(h + 8, 4)) return Fail();
    NextForm(start, big ? Be32(h + 4) : Le32(h + 4), std::memcmp(h + 8, "AVI ", 4) == 0);
  }

  void NextForm(uint64_t start, uint32_t size, bool film) {
    // A size under 4 cannot hold the form type: a form whose writer never
    // came back to fill the size in (a recording cut short) has 0 there.
    if (size < 4) return Fail();
    const uint64_t end = start + 8 + size;
    if (!film) return EndAt(end);
    if (end > kFatMaxFile) return Fail();
    formEnd_ = end;
    Then(end - Offset(), 12);
  }

  uint64_t formEnd_ = 0;
};

// QuickTime and ISO media files are a run of top-level atoms: a 32-bit
// big-endian size (1: a 64-bit size follows the type; 0: the atom runs to
// the end of the file) and a four-character type. No field gives the file's
// length, so the walk goes on until a header that is no atom:
//  - a size under 8 (under 16 for a 64-bit one), a type that is not four
//    printable characters, or an atom that would run past the largest file
//    FAT holds;
//  - "ftyp" after the first atom, or a second "moov": another file begins.
// The file ends at that header when both the film's index (moov) and its
// media data (mdat) were walked; without them, what was walked may be a
// part of the film and no end is given. An atom running to the end of the
// file gives no end either. Atom types the walk does not know are walked
// like the others (free, skip, wide, uuid, udta, pnot, PICT, ... all are).
class QuickTimeEndFinder final : public RecordWalker {
 public:
  QuickTimeEndFinder() : RecordWalker(8) {}

 private:
  void OnGathered(const uint8_t* h, size_t) override {
    if (wide_) {
      wide_ = false;
      const uint64_t size = uint64_t{Be32(h)} << 32 | Be32(h + 4);
      if (size < 16) return NotAnAtom();
      return Atom(size, 16);
    }
    start_ = Offset() - 8;
    const uint32_t size = Be32(h);
    std::memcpy(type_, h + 4, 4);
    const std::string_view type(type_, 4);
    if (!IsPrintable(h + 4, 4) || (size > 1 && size < 8)) return NotAnAtom();
    if ((type == "ftyp" && atoms_ > 0) || (type == "moov" && sawMoov_)) return NotAnAtom();
    if (size == 0) return Fail();
    if (size == 1) {
      wide_ = true;
      return Then(0, 8);
    }
    Atom(size, 8);
  }

  void Atom(uint64_t size, uint64_t headerSize) {
    if (size > kFatMaxFile - start_) return NotAnAtom();
    const std::string_view type(type_, 4);
    sawMoov_ = sawMoov_ || type == "moov";
    sawMdat_ = sawMdat_ || type == "mdat";
    ++atoms_;
    Then(size - headerSize, 8);
  }

  void NotAnAtom() {
    if (sawMoov_ && sawMdat_) return EndAt(start_);
    Fail();
  }

  uint64_t start_ = 0;
  uint64_t atoms_ = 0;
  char type_[4] = {};
  bool wide_ = false;
  bool sawMoov_ = false;
  bool sawMdat_ = false;
};

// An MP3 file is an optional ID3v2 tag (its size in four 7-bit bytes, ten
// more when a footer follows, and zero padding some taggers leave after
// it), MPEG audio frames back to back from the first byte after it, and an
// optional 128-byte ID3v1 tag ("TAG") straight after the last frame. The
// stream ends before the first header that is no frame header of the same
// version, layer and sample rate as the first frame; it is trusted only
// after kMinFrames frames, as a short run of frame-like headers turns up
// in other data. Protected frames are not checked against their CRC: that
// would mean holding whole frames.
class Mp3EndFinder final : public RecordWalker {
 public:
  Mp3EndFinder() : RecordWalker(10) {}

 private:
  static constexpr uint64_t kMinFrames = 8;
  static constexpr uint64_t kMaxPadding = 64 * 1024;

  void OnGathered(const uint8_t* h, size_t count) override {
    if (!started_) {
      started_ = true;
      if (std::memcmp(h, "ID3", 3) == 0) {
        if (h[3] < 2 || h[3] > 4 || h[4] == 0xFF || ((h[6] | h[7] | h[8] | h[9]) & 0x80) != 0)
          return Fail();
        const uint64_t size = uint64_t{h[6]} << 21 | h[7] << 14 | h[8] << 7 | h[9];
        return ThenScan(size + ((h[5] & 0x10) != 0 ? 10 : 0));
      }
    }
    OnHeader(h, count);
  }

  // The zero padding after the tag.
  size_t OnScan(const uint8_t* data, size_t size) override {
    size_t i = 0;
    while (i < size && data[i] == 0) ++i;
    padding_ += i;
    if (padding_ > kMaxPadding) {
      Fail();
    } else if (i < size) {
      Then(0, 4);
    }
    return i;
  }

  // h holds a header's four bytes, of which `taken` bytes were taken.
  void OnHeader(const uint8_t* h, size_t taken) {
    const uint64_t start = Offset() - taken;
    const uint32_t length = MpegFrameLength(h);
    const bool sameStream =
        frames_ == 0 || (((h[1] ^ first_[0]) & 0x1E) == 0 && ((h[2] ^ first_[1]) & 0x0C) == 0);
    if (length >= 32 && sameStream) {
      if (frames_++ == 0) {
        first_[0] = h[1];
        first_[1] = h[2];
      }
      return Then(length - taken, 4);
    }
    if (frames_ < kMinFrames) return Fail();
    EndAt(std::memcmp(h, "TAG", 3) == 0 ? start + 128 : start);
  }

  bool started_ = false;
  uint64_t padding_ = 0;
  uint64_t frames_ = 0;
  uint8_t first_[2] = {};
};

}  // namespace

std::unique_ptr<FileEndFinder> MakeRiffEndFinder() { return std::make_unique<RiffEndFinder>(); }
std::unique_ptr<FileEndFinder> MakeQuickTimeEndFinder() {
  return std::make_unique<QuickTimeEndFinder>();
}
std::unique_ptr<FileEndFinder> MakeMp3EndFinder() { return std::make_unique<Mp3EndFinder>(); }

}  // namespace kestrella
