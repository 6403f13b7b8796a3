#include "detect/filedet.h"

#include <algorithm>
#include <string_view>

#include "detect/mpegframes.h"
#include "util/helpers.h"

namespace kestrella {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view::size_type kNone = std::string_view::npos;

// True when `pattern` lies at `offset`. Bytes at or past the end of the buffer
// never match, so a short buffer fails every test that would need them.
bool At(const uint8_t* b, uint32_t n, uint32_t offset, std::string_view pattern) {
  return offset <= n && pattern.size() <= n - offset && IsDataEqual(b + offset, pattern);
}

bool ByteIn(const uint8_t* b, uint32_t n, uint32_t offset, std::string_view values) {
  return offset < n && values.find(static_cast<char>(b[offset])) != kNone;
}

bool ZeroAt(const uint8_t* b, uint32_t n, uint32_t offset) { return offset < n && b[offset] == 0; }

// The kinds told by magic bytes at fixed offsets. The order is the tie-break
// between kinds whose magics overlap: a Nikon raw file is also a TIFF, and a
// Canon raw file may start like one.
const char* HeaderKind(const uint8_t* b, uint32_t n) {
  auto at = [b, n](uint32_t offset, std::string_view pattern) { return At(b, n, offset, pattern); };
  const bool byteOrderMark = at(0, "II") || at(0, "MM");

  if (at(0, "\xFF\xD8"sv)) return "JPG";
  if (at(0, "\xDC\xA5"sv) || at(0, "\xDB\xA5"sv) || at(0, "\xEC\xA5"sv) ||
      at(0, "\xD0\xCF\x11\xE0"sv)) {
    return "DOC";
  }
  if (at(0, "\x09"sv) && ByteIn(b, n, 1, "\x04\x02\x00\x08"sv)) return "XLS";
  if (at(0, "BM")) return "BMP";
  if (at(0, "GIF8") && (at(4, "9") || at(4, "7")) && at(5, "a")) return "GIF";
  if (byteOrderMark && at(6, "HEAPCCDR")) return "CRW";
  if (at(250, "Canon EOS-1D")) return "CRW";
  if (byteOrderMark && (at(352, "NIKON") || at(484, "NIKON"))) return "NEF";
  if (at(1, "MRM")) return "MRW";
  if (at(0, "II\x2A\x00"sv) || at(0, "MM\x00\x2A"sv)) return "TIF";
  if (at(0, "\x89PNG\r\n\x1A\n"sv)) return "PNG";
  if (at(0, "RIFF")) {
    if (at(8, "CDR")) return "CDR";
    if (at(8, "WAVE")) return "WAV";
    if (at(8, "AVI ")) return "AVI";
    return "RIFF";
  }
  if (at(0, "MZ")) return "EXE";
  if (ByteIn(b, n, 0, "\x03\x83\xF5\x8B\x8E"sv) && ZeroAt(b, n, 12) && ZeroAt(b, n, 13) &&
      ZeroAt(b, n, 30) && ZeroAt(b, n, 31)) {
    return "DBF";
  }
  if (at(0, "?_\x03\x00"sv)) return "HLP";
  if (at(257, "ustar\0"sv)) return "TAR";
  if (at(2, "-lh") || at(2, "-lz")) return "LZH";
  if (at(0, "PK\x03\x04"sv)) return "ZIP";
  if (at(0, "\x60\xEA"sv)) return "ARJ";
  if (at(0, "Rar!\x1A\x07\x00"sv)) return "RAR";
  // Only PDF versions up to 1.2 are claimed.
  if (at(0, "%PDF-1.") && ByteIn(b, n, 7, "210")) return "PDF";
  if (at(0, "MThd")) return "MID";
  if (at(4, "moov")) return "MOV";
  return nullptr;
}

// "<HTML>" anywhere at offsets 0 .. n-7: the tag is not looked for where it
// would end on the buffer's very last byte.
bool HasHtmlTag(const uint8_t* b, uint32_t n) {
  constexpr std::string_view tag = "<HTML>";
  if (n <= tag.size()) return false;
  return std::string_view(reinterpret_cast<const char*>(b), n - 1).find(tag) != kNone;
}

// One text line by the rule of GetNextTextLine (a line ends at a CR, or before
// a byte that is followed by an LF, and the two break bytes are stepped over),
// returned as a view into the buffer so that the hunt allocates nothing per
// cluster. Lines here come from at most 32 bytes, well under the 255-character
// cap of that routine.
std::string_view NextLine(const uint8_t*& p, const uint8_t* end) {
  const uint8_t* start = p;
  while (p < end && *p != 13 && !(p + 1 < end && p[1] == 10)) ++p;
  const std::string_view line(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
  if (p < end) p += 2;
  if (p > end) p = end;
  return line;
}

// DXF drawings open with the group "0 / SECTION / 2 / HEADER" and RTF
// documents with "{\rtf"; both are judged from the text lines of the first 32
// bytes only. A line with a zero in it is taken as a possible DXF group code,
// so such a line is never looked at for the RTF mark.
const char* TextKind(const uint8_t* b, uint32_t n) {
  const uint8_t* p = b;
  const uint8_t* const end = b + std::min<uint32_t>(n, 32);
  for (;;) {
    std::string_view line = NextLine(p, end);
    if (line.find('0') != kNone) {
      line = NextLine(p, end);
      if (line == "SECTION") {
        line = NextLine(p, end);
        if (line.find('2') != kNone) {
          line = NextLine(p, end);
          if (line == "HEADER") return "DXF";
        }
      }
    } else if (line.find("{\\rtf") != kNone) {
      return "RTF";
    }
    // An empty line (or the end of the 32 bytes) ends the text tests.
    if (line.empty()) return nullptr;
  }
}

// MPEG audio has no file header: a cluster is taken as MP3 when the frame walk
// finds at least one frame per 512 bytes. At least one frame is demanded, so
// that a buffer shorter than 512 bytes is not MP3 by default.
bool IsMpegAudio(const uint8_t* b, uint32_t n) {
  const uint32_t frames = CountMpegAudioFrames(b, n);
  return frames > 0 && frames >= n / 512;
}

}  // namespace

bool IsFile(const uint8_t* buffer, uint32_t size, std::string& typeName, uint8_t& startKind) {
  startKind = kStartNewFile;
  const char* kind = HeaderKind(buffer, size);
  if (kind == nullptr && HasHtmlTag(buffer, size)) kind = "HTML";
  if (kind == nullptr) kind = TextKind(buffer, size);
  if (kind == nullptr) {
    if (!IsMpegAudio(buffer, size)) return false;
    // Frames can begin anywhere, so an MP3 cluster may continue the stream of
    // the cluster before it rather than start a new file.
    startKind = kStartContinuesStream;
    kind = "MP3";
  }
  typeName = kind;
  return true;
}

}  // namespace kestrella
