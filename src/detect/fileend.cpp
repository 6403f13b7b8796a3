// The record walk the finders share, the table of which finder serves which
// kind and how far a file without a found end may run, and the finders of
// the small picture formats (PNG, GIF, BMP).
#include "detect/fileend.h"

#include <algorithm>
#include <cstring>

#include "detect/fileend_walker.h"
#include "util/bytes.h"

namespace kestrella {

FileEndFinder::State RecordWalker::Feed(const uint8_t* data, size_t size) {
  size_t at = 0;
  while (state_ == State::NeedMore) {
    if (skip_ > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(skip_, size - at));
      skip_ -= n;
      at += n;
      offset_ += n;
      if (skip_ > 0) break;
    }
    if (ending_) {
      // The end is known; the bytes up to it still have to come in.
      if (offset_ >= end_) {
        state_ = State::Ended;
      } else {
        skip_ = end_ - offset_;
        continue;
      }
      break;
    }
    if (at == size) break;
    if (scanning_) {
      const size_t n = OnScan(data + at, size - at);
      if (n == 0 && scanning_) {
        Fail();  // a scan that takes nothing would never move on
        break;
      }
      at += n;
      offset_ += n;
      continue;
    }
    const size_t n = std::min(want_ - have_, size - at);
    std::memcpy(head_ + have_, data + at, n);
    have_ += n;
    at += n;
    offset_ += n;
    if (have_ < want_) break;
    have_ = 0;
    OnGathered(head_, want_);
  }
  return state_;
}

size_t RecordWalker::OnScan(const uint8_t*, size_t size) { return size; }

void RecordWalker::Then(uint64_t skip, size_t count) {
  skip_ = skip;
  want_ = std::min(count, kMaxGather);
  have_ = 0;
  scanning_ = false;
}

void RecordWalker::ThenScan(uint64_t skip) {
  skip_ = skip;
  scanning_ = true;
}

void RecordWalker::EndAt(uint64_t end) {
  if (end > kFatMaxFile) return Fail();
  // Offset() may still lag behind the bytes a scan took; the walk checks
  // again before it takes more.
  ending_ = true;
  scanning_ = false;
  skip_ = 0;
  end_ = end;
  if (end <= offset_) state_ = State::Ended;
}

namespace {

using namespace std::string_view_literals;

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A PNG file is its signature and chunks (length, type, data, CRC) up to
// and with the IEND chunk. The first chunk must be the 13-byte IHDR, every
// chunk type four letters and every length within 2^31 - 1, as the format
// demands: a chunk outside those is not PNG data.
class PngEndFinder final : public RecordWalker {
 public:
  PngEndFinder() : RecordWalker(8) {}

 private:
  void OnGathered(const uint8_t* h, size_t) override {
    if (chunks_ == 0 && !signature_) {
      if (std::memcmp(h, "\x89PNG\r\n\x1A\n", 8) != 0) return Fail();
      signature_ = true;
      return Then(0, 8);
    }
    const uint32_t length = Be32(h);
    const std::string_view type(reinterpret_cast<const char*>(h + 4), 4);
    if (length > 0x7FFFFFFF || !std::all_of(h + 4, h + 8, IsLetter)) return Fail();
    if (chunks_++ == 0 && (type != "IHDR" || length != 13)) return Fail();
    if (type == "IEND") return length == 0 ? EndAt(Offset() + 4) : Fail();
    Then(uint64_t{length} + 4, 8);  // the data and the CRC
  }

  bool signature_ = false;
  uint64_t chunks_ = 0;
};

// A GIF file is its header and logical screen descriptor, the global colour
// table when the descriptor has one, then blocks: extensions (0x21, a label,
// sub-blocks), images (0x2C, a descriptor, a local colour table when it has
// one, the LZW code size, sub-blocks) and the trailer (0x3B) that ends it.
// Sub-blocks are a length byte and that many bytes, up to a zero length.
class GifEndFinder final : public RecordWalker {
 public:
  GifEndFinder() : RecordWalker(13) {}

 private:
  enum class Next { Header, Block, Label, Descriptor, CodeSize, SubBlock };

  // Colour tables hold 2^(n+1) three-byte entries, n the low bits of a
  // packed field whose top bit says whether there is a table.
  static uint64_t TableSize(uint8_t packed) {
    return (packed & 0x80) != 0 ? 3u << ((packed & 7) + 1) : 0;
  }

  void OnGathered(const uint8_t* h, size_t) override {
    switch (next_) {
      case Next::Header:
        if (std::memcmp(h, "GIF87a", 6) != 0 && std::memcmp(h, "GIF89a", 6) != 0) return Fail();
        next_ = Next::Block;
        return Then(TableSize(h[10]), 1);
      case Next::Block:
        if (h[0] == 0x3B) return EndAt(Offset());
        if (h[0] == 0x21) {
          next_ = Next::Label;
          return Then(0, 1);
        }
        if (h[0] == 0x2C) {
          next_ = Next::Descriptor;
          return Then(0, 9);
        }
        return Fail();
      case Next::Label:
        next_ = Next::SubBlock;
        return Then(0, 1);
      case Next::Descriptor:
        next_ = Next::CodeSize;
        return Then(TableSize(h[8]), 1);
      case Next::CodeSize:
        // Decoders take code sizes up to 11 (codes are at most 12 bits).
        if (h[0] < 1 || h[0] > 11) return Fail();
        next_ = Next::SubBlock;
        return Then(0, 1);
      case Next::SubBlock:
        if (h[0] == 0) next_ = Next::Block;
        return Then(h[0], 1);
    }
  }

  Next next_ = Next::Header;
};

// A BMP file states its own size at offset 2. It is believed when the rest
// of the headers agree with it: a known info header size, the pixel data
// starting after the headers and inside the file, one plane, a real bit
// depth, and, for uncompressed rows, room in the file for all of them.
class BmpEndFinder final : public RecordWalker {
 public:
  BmpEndFinder() : RecordWalker(26) {}

 private:
  void OnGathered(const uint8_t* h, size_t) override {
    if (fileSize_ == 0) {
      const uint32_t fileSize = Le32(h + 2);
      const uint32_t dataOffset = Le32(h + 10);
      const uint32_t infoSize = Le32(h + 14);
      constexpr uint32_t kInfoSizes[] = {12, 16, 40, 52, 56, 64, 108, 124};
      if (h[0] != 'B' || h[1] != 'M' || fileSize < 26 ||
          std::find(std::begin(kInfoSizes), std::end(kInfoSizes), infoSize) ==
              std::end(kInfoSizes) ||
          dataOffset < 14 + infoSize || dataOffset > fileSize) {
        return Fail();
      }
      fileSize_ = fileSize;
      dataOffset_ = dataOffset;
      if (infoSize == 12) {
        // The old core header: 16-bit sizes, planes and depth, no compression.
        return Check(Le16(h + 18), Le16(h + 20), Le16(h + 22), Le16(h + 24), 0);
      }
      width_ = static_cast<int32_t>(Le32(h + 18));
      height_ = static_cast<int32_t>(Le32(h + 22));
      compression_ = infoSize >= 40;
      return Then(0, 8);  // planes, depth and compression at 26 .. 33
    }
    Check(width_, height_, Le16(h), Le16(h + 2), compression_ ? Le32(h + 4) : 0);
  }

  void Check(int64_t width, int64_t height, uint32_t planes, uint32_t depth, uint32_t compression) {
    constexpr uint32_t kDepths[] = {1, 2, 4, 8, 16, 24, 32, 64};
    const bool knownCompression = compression <= 6 || (compression >= 11 && compression <= 13);
    if (planes != 1 || width <= 0 || height == 0 || !knownCompression ||
        std::find(std::begin(kDepths), std::end(kDepths), depth) == std::end(kDepths)) {
      return Fail();
    }
    // Uncompressed (plain and bit-field) rows are padded to four bytes.
    if (compression == 0 || compression == 3 || compression == 6) {
      const uint64_t row = (static_cast<uint64_t>(width) * depth + 31) / 32 * 4;
      const uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
      if (dataOffset_ + row * rows > fileSize_) return Fail();
    }
    EndAt(fileSize_);
  }

  uint64_t fileSize_ = 0;
  uint64_t dataOffset_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  bool compression_ = false;
};

using Factory = std::unique_ptr<FileEndFinder> (*)();

struct KindFinder {
  std::string_view kind;
  Factory make;
};

// "DCR" and "RAF" are what the raw scan names a TIFF-headed file by the
// maker's name in it. CRW (a Canon heap whose blocks are found from its
// end), MRW and the document and archive kinds of the hunt have no finder.
constexpr KindFinder kFinders[] = {
    {"JPG", MakeJpegEndFinder},  {"PNG", MakePngEndFinder},  {"GIF", MakeGifEndFinder},
    {"BMP", MakeBmpEndFinder},   {"WAV", MakeRiffEndFinder}, {"AVI", MakeRiffEndFinder},
    {"RIFF", MakeRiffEndFinder}, {"CDR", MakeRiffEndFinder}, {"MOV", MakeQuickTimeEndFinder},
    {"MP3", MakeMp3EndFinder},   {"TIF", MakeTiffEndFinder}, {"NEF", MakeTiffEndFinder},
    {"DCR", MakeTiffEndFinder},  {"RAF", MakeTiffEndFinder},
};

constexpr uint64_t kMiB = uint64_t{1} << 20;

struct KindLimit {
  std::string_view kind;
  uint64_t limit;
};

// How far a file whose end was not found may run: somewhat above the
// largest file of its kind a camera or recorder writes, so that no whole
// file is cut, while a damaged one does not swallow a large card.
//  - JPEG: a 100-150 megapixel camera's finest JPEGs reach 60-80 MB, and a
//    multi-picture file holds more than one image.
//  - Camera raw and TIFF: uncompressed raw files of medium-format and
//    100-megapixel cameras reach about 200 MB.
//  - PNG and BMP: not camera formats, but an uncompressed BMP of 24-bit
//    pixels is 3 bytes a pixel.
//  - Video and sound (RIFF, QuickTime): cameras split clips at the 4 GiB
//    FAT limit, the size no file on a FAT card can pass.
//  - MP3: two hours at 320 kbit/s are about 290 MB; voice recorders stay
//    far below.
constexpr KindLimit kLimits[] = {
    {"JPG", 128 * kMiB},  {"PNG", 256 * kMiB},   {"GIF", 64 * kMiB},   {"BMP", 512 * kMiB},
    {"TIF", 256 * kMiB},  {"NEF", 256 * kMiB},   {"CRW", 256 * kMiB},  {"MRW", 256 * kMiB},
    {"DCR", 256 * kMiB},  {"RAF", 256 * kMiB},   {"MOV", kFatMaxFile}, {"AVI", kFatMaxFile},
    {"WAV", kFatMaxFile}, {"RIFF", kFatMaxFile}, {"MP3", 320 * kMiB},
};
// Documents, archives and anything else.
constexpr uint64_t kOtherLimit = 64 * kMiB;

}  // namespace

std::unique_ptr<FileEndFinder> MakePngEndFinder() { return std::make_unique<PngEndFinder>(); }
std::unique_ptr<FileEndFinder> MakeGifEndFinder() { return std::make_unique<GifEndFinder>(); }
std::unique_ptr<FileEndFinder> MakeBmpEndFinder() { return std::make_unique<BmpEndFinder>(); }

std::unique_ptr<FileEndFinder> MakeEndFinder(std::string_view kind) {
  for (const KindFinder& f : kFinders)
    if (f.kind == kind) return f.make();
  return nullptr;
}

uint64_t SizeLimitFor(std::string_view kind) {
  for (const KindLimit& l : kLimits)
    if (l.kind == kind) return l.limit;
  return kOtherLimit;
}

std::optional<uint64_t> FindFileEnd(std::string_view kind, const uint8_t* data, size_t size) {
  std::unique_ptr<FileEndFinder> finder = MakeEndFinder(kind);
  if (finder == nullptr || finder->Feed(data, size) != FileEndFinder::State::Ended) return {};
  return finder->End();
}

}  // namespace kestrella
