#include "detect/recoverutils.h"

#include <cstring>

#include "util/helpers.h"

namespace kestrella {
namespace {

using namespace std::string_view_literals;

// Inline so that the fixed-size compares of the start test compile to a few
// instructions each.
inline bool At(const uint8_t* d, uint32_t n, uint32_t offset, std::string_view pattern) {
  return offset <= n && pattern.size() <= n - offset &&
         std::memcmp(d + offset, pattern.data(), pattern.size()) == 0;
}

// The start tests of the raw scan, in order. They run on every sector of a
// card, so the common miss must stay a handful of short compares: the only
// searches, for the maker names, run once a TIFF header has been seen.
const char* SectorKind(const uint8_t* d, uint32_t n) {
  auto at = [d, n](uint32_t offset, std::string_view pattern) { return At(d, n, offset, pattern); };
  const bool byteOrderMark = at(0, "II") || at(0, "MM");

  // Only JFIF (E0) and Exif (E1) first segments count as a picture's start.
  if (at(0, "\xFF\xD8\xFF"sv) && (at(3, "\xE0"sv) || at(3, "\xE1"sv))) return "JPG";
  if (byteOrderMark && at(6, "HEAPCCDR")) return "CRW";
  if (at(250, "Canon")) return "CRW";
  if (at(0, "BM") && at(6, "\0\0\0\0"sv)) return "BMP";
  if (at(0, "GIF8") && (at(4, "9") || at(4, "7")) && at(5, "a")) return "GIF";
  if (at(0, "\x89PNG\r\n\x1A\n"sv)) return "PNG";
  if (at(0, "RIFF")) {
    if (at(8, "WAVE")) return "WAV";
    if (at(8, "AVI")) return "AVI";
    return "RIFF";
  }
  if (at(4, "moov")) return "MOV";
  if (byteOrderMark && (at(352, "NIKON") || at(484, "NIKON"))) return "NEF";
  if (at(1, "MRM")) return "MRW";
  if (!at(0, "II\x2A\x00"sv) && !at(0, "MM\x00\x2A"sv)) return nullptr;
  // Camera raw files in the TIFF layout are told apart by the maker's name in
  // the header bytes (zero bytes included, so not as a C string).
  if (ContainsText(d, static_cast<int32_t>(n), "Kodak")) return "DCR";
  if (IsFoundDataEqual(d, n, "Fuji")) return "RAF";
  return "TIF";
}

}  // namespace

bool DetectImageStart(const uint8_t* data, int32_t size, std::string& ext) {
  const char* kind = SectorKind(data, size > 0 ? static_cast<uint32_t>(size) : 0);
  if (kind == nullptr) return false;
  ext = kind;
  return true;
}

// None of the formats has an end marker that is looked for: a file ends where
// the next one starts, or where the scan ends.
bool DetectImageEnd(const uint8_t*, int32_t, const std::string&) { return false; }

// Only the offsets that are multiples of the text's length are tried, and a
// match must end before the buffer's last byte.
bool ContainsText(const uint8_t* data, int32_t size, std::string_view text) {
  const int64_t length = static_cast<int64_t>(text.size());
  if (length == 0) return size > 0;
  for (int64_t offset = 0; offset < int64_t{size} - length; offset += length) {
    if (IsDataEqual(data + offset, text)) return true;
  }
  return false;
}

void FillBytes(void* buffer, int32_t count, uint8_t value) {
  if (count > 0) std::memset(buffer, value, static_cast<size_t>(count));
}

}  // namespace kestrella
