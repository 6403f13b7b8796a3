#include "detect/filedet.h"

#include <algorithm>
#include <string_view>

#include "detect/filekinds.h"
#include "detect/mpegframes.h"

namespace kestrella {
namespace {

constexpr std::string_view::size_type kNone = std::string_view::npos;

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
  const char* kind = MatchSignature(SignatureReader::LostClusterHunt, buffer, size);
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
