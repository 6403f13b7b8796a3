#include "detect/recoverutils.h"

#include <cstring>

#include "detect/filekinds.h"
#include "util/helpers.h"

namespace kestrella {
namespace {

// The start test of the raw scan: the scan's rows of the signature table,
// then, for a TIFF header, the maker's name in the header bytes (zero bytes
// included, so not as a C string) tells the camera raw files in the TIFF
// layout apart. Those searches run only once a TIFF header has been seen.
const char* SectorKind(const uint8_t* d, uint32_t n) {
  const char* kind = MatchSignature(SignatureReader::RawScan, d, n);
  if (kind == nullptr || std::string_view(kind) != "TIF") return kind;
  if (ContainsText(d, static_cast<int32_t>(n), "Kodak")) return "DCR";
  if (IsFoundDataEqual(d, n, "Fuji")) return "RAF";
  return kind;
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
