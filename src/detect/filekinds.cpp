#include "detect/filekinds.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>

namespace kestrella {

namespace {

using namespace std::string_view_literals;

constexpr uint8_t kHunt = static_cast<uint8_t>(SignatureReader::LostClusterHunt);
constexpr uint8_t kRaw = static_cast<uint8_t>(SignatureReader::RawScan);
constexpr uint8_t kBoth = kHunt | kRaw;

// Bytes that lie at a fixed offset of a file's start; an empty mark holds
// anywhere.
struct Mark {
  uint16_t offset = 0;
  std::string_view bytes;
};

// A kind and the marks that must all hold for it. A kind whose start may
// take several forms has a row for each.
struct Signature {
  const char* kind = nullptr;
  uint8_t readers = 0;
  Mark marks[3] = {};
};

// The order is the tie-break between kinds whose marks can lie in one
// buffer: a Nikon raw file is also a TIFF, a Canon raw file may start like
// one, a RIFF form names its kind after the RIFF mark. The two readers
// agree on it but for "moov" (a QuickTime film), which the raw scan tests
// before the TIFF-shaped kinds and the hunt after every other kind; it has a
// row for each. Rows only one reader takes are where the two ask different
// things of a kind: the JPEG's first segment, the bitmap's reserved bytes,
// how much of Canon's name, the AVI form's fourth byte; and the kinds the
// raw scan does not look for at all.
constexpr Signature kSignatures[] = {
    // Only JFIF (E0) and Exif (E1) first segments start a picture for the
    // raw scan; the hunt looks only at clusters a file may start in.
    {"JPG", kRaw, {{0, "\xFF\xD8\xFF\xE0"sv}}},
    {"JPG", kRaw, {{0, "\xFF\xD8\xFF\xE1"sv}}},
    {"JPG", kHunt, {{0, "\xFF\xD8"sv}}},
    {"DOC", kHunt, {{0, "\xDC\xA5"sv}}},
    {"DOC", kHunt, {{0, "\xDB\xA5"sv}}},
    {"DOC", kHunt, {{0, "\xEC\xA5"sv}}},
    {"DOC", kHunt, {{0, "\xD0\xCF\x11\xE0"sv}}},
    {"XLS", kHunt, {{0, "\x09\x04"sv}}},
    {"XLS", kHunt, {{0, "\x09\x02"sv}}},
    {"XLS", kHunt, {{0, "\x09\x00"sv}}},
    {"XLS", kHunt, {{0, "\x09\x08"sv}}},
    {"CRW", kBoth, {{0, "II"}, {6, "HEAPCCDR"}}},
    {"CRW", kBoth, {{0, "MM"}, {6, "HEAPCCDR"}}},
    {"CRW", kRaw, {{250, "Canon"}}},
    {"BMP", kRaw, {{0, "BM"}, {6, "\0\0\0\0"sv}}},
    {"BMP", kHunt, {{0, "BM"}}},
    {"GIF", kBoth, {{0, "GIF89a"}}},
    {"GIF", kBoth, {{0, "GIF87a"}}},
    {"CRW", kHunt, {{250, "Canon EOS-1D"}}},
    {"PNG", kBoth, {{0, "\x89PNG\r\n\x1A\n"sv}}},
    {"CDR", kHunt, {{0, "RIFF"}, {8, "CDR"}}},
    {"WAV", kBoth, {{0, "RIFF"}, {8, "WAVE"}}},
    {"AVI", kHunt, {{0, "RIFF"}, {8, "AVI "}}},
    {"AVI", kRaw, {{0, "RIFF"}, {8, "AVI"}}},
    {"RIFF", kBoth, {{0, "RIFF"}}},
    {"MOV", kRaw, {{4, "moov"}}},
    {"NEF", kBoth, {{0, "II"}, {352, "NIKON"}}},
    {"NEF", kBoth, {{0, "II"}, {484, "NIKON"}}},
    {"NEF", kBoth, {{0, "MM"}, {352, "NIKON"}}},
    {"NEF", kBoth, {{0, "MM"}, {484, "NIKON"}}},
    {"MRW", kBoth, {{1, "MRM"}}},
    {"TIF", kBoth, {{0, "II\x2A\x00"sv}}},
    {"TIF", kBoth, {{0, "MM\x00\x2A"sv}}},
    {"EXE", kHunt, {{0, "MZ"}}},
    {"DBF", kHunt, {{0, "\x03"sv}, {12, "\0\0"sv}, {30, "\0\0"sv}}},
    {"DBF", kHunt, {{0, "\x83"sv}, {12, "\0\0"sv}, {30, "\0\0"sv}}},
    {"DBF", kHunt, {{0, "\xF5"sv}, {12, "\0\0"sv}, {30, "\0\0"sv}}},
    {"DBF", kHunt, {{0, "\x8B"sv}, {12, "\0\0"sv}, {30, "\0\0"sv}}},
    {"DBF", kHunt, {{0, "\x8E"sv}, {12, "\0\0"sv}, {30, "\0\0"sv}}},
    {"HLP", kHunt, {{0, "?_\x03\x00"sv}}},
    {"TAR", kHunt, {{257, "ustar\0"sv}}},
    {"LZH", kHunt, {{2, "-lh"}}},
    {"LZH", kHunt, {{2, "-lz"}}},
    {"ZIP", kHunt, {{0, "PK\x03\x04"sv}}},
    {"ARJ", kHunt, {{0, "\x60\xEA"sv}}},
    {"RAR", kHunt, {{0, "Rar!\x1A\x07\x00"sv}}},
    // Only PDF versions up to 1.2 are claimed.
    {"PDF", kHunt, {{0, "%PDF-1.2"}}},
    {"PDF", kHunt, {{0, "%PDF-1.1"}}},
    {"PDF", kHunt, {{0, "%PDF-1.0"}}},
    {"MID", kHunt, {{0, "MThd"}}},
    {"MOV", kHunt, {{4, "moov"}}},
};

// Each reader tests only its own rows, picked out and unrolled into plain
// compares when the program is compiled: the raw scan tests every sector of
// a card, and its common miss must stay a handful of short compares whose
// reads of the sector the processor can start all at once (a loop over the
// rows at run time made the scan several times slower).
template <uint8_t Reader>
constexpr auto RowsFor() {
  constexpr size_t count = [] {
    size_t n = 0;
    for (const Signature& s : kSignatures) n += (s.readers & Reader) != 0 ? 1 : 0;
    return n;
  }();
  std::array<Signature, count> rows{};
  size_t i = 0;
  for (const Signature& s : kSignatures)
    if ((s.readers & Reader) != 0) rows[i++] = s;
  return rows;
}

constexpr auto kHuntRows = RowsFor<kHunt>();
constexpr auto kRawRows = RowsFor<kRaw>();

template <const auto& Rows, size_t Row, size_t Index>
[[gnu::always_inline]] inline bool Holds(const uint8_t* d, uint32_t n) {
  constexpr Mark m = Rows[Row].marks[Index];
  if constexpr (m.bytes.empty()) {
    return true;
  } else {
    // The first byte on its own: it tells most misses apart without a call
    // where the compiler does not inline the compare.
    return m.offset <= n && m.bytes.size() <= n - m.offset &&
           d[m.offset] == static_cast<uint8_t>(m.bytes[0]) &&
           std::memcmp(d + m.offset, m.bytes.data(), m.bytes.size()) == 0;
  }
}

template <const auto& Rows, size_t... Row>
const char* FirstMatch(const uint8_t* d, uint32_t n, std::index_sequence<Row...>) {
  const char* kind = nullptr;
  (void)((Holds<Rows, Row, 0>(d, n) && Holds<Rows, Row, 1>(d, n) && Holds<Rows, Row, 2>(d, n) &&
          (kind = Rows[Row].kind) != nullptr) ||
         ...);
  return kind;
}

// Extensions of the kinds worth recovering, upper case: the raw scan's
// kinds (with DCR and RAF, its TIFF-shaped raw files) under the names
// cameras give them, and PCX pictures.
constexpr std::array<std::string_view, 17> kRecoverableExtensions = {
    "JPG", "JPEG", "CRW", "BMP", "GIF", "PNG", "WAV", "AVI", "RIFF",
    "MOV", "NEF",  "MRW", "DCR", "RAF", "TIF", "TIFF", "PCX"};

}  // namespace

const char* MatchSignature(SignatureReader reader, const uint8_t* data, uint32_t size) {
  if (reader == SignatureReader::RawScan)
    return FirstMatch<kRawRows>(data, size, std::make_index_sequence<kRawRows.size()>());
  return FirstMatch<kHuntRows>(data, size, std::make_index_sequence<kHuntRows.size()>());
}

bool IsRecoverableName(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string ext(name.substr(dot + 1));
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return std::find(kRecoverableExtensions.begin(), kRecoverableExtensions.end(), ext) !=
         kRecoverableExtensions.end();
}

}  // namespace kestrella
