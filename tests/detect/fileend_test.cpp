// The end finders on small files of each kind made here, fed whole and in
// pieces, cut short and broken, and on the camera photos of tests/data.
#include "detect/fileend.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace kestrella::test {
namespace {

using namespace std::string_literals;
using State = FileEndFinder::State;
using Bytes = std::string;

Bytes Be(uint64_t v, int n) {
  Bytes b;
  for (int i = n - 1; i >= 0; --i) b += static_cast<char>(v >> (8 * i));
  return b;
}
Bytes Le(uint64_t v, int n) {
  Bytes b;
  for (int i = 0; i < n; ++i) b += static_cast<char>(v >> (8 * i));
  return b;
}

struct Result {
  State state;
  uint64_t end;
  bool operator==(const Result&) const = default;
};

Result Feed(const char* kind, const uint8_t* data, size_t size, size_t piece) {
  auto finder = MakeEndFinder(kind);
  State state = finder->Current();
  for (size_t at = 0; at < size; at += piece)
    state = finder->Feed(data + at, std::min(piece, size - at));
  return {state, finder->End()};
}
Result Feed(const char* kind, const Bytes& b, size_t piece = SIZE_MAX) {
  return Feed(kind, reinterpret_cast<const uint8_t*>(b.data()), b.size(), piece);
}

// ---- the files ---------------------------------------------------------------

Bytes Segment(uint8_t marker, const Bytes& payload) {
  return "\xFF"s + static_cast<char>(marker) + Be(payload.size() + 2, 2) + payload;
}
// Tables, a frame, a scan whose data holds a stuffed FF, a restart marker and
// fill bytes, and the end of the picture.
Bytes JpegBody(uint8_t frame = 0xC0) {
  return Segment(0xDB, Bytes(65, '\x01')) +
         Segment(frame, "\x08\x00\x10\x00\x10\x01\x01\x11\x00"s) +
         Segment(0xC4, Bytes(20, '\x02')) + Segment(0xDA, "\x01\x01\x00\x00\x3F\x00"s) +
         "\x12\xFF\x00\x34\xFF\xD0\x56\xFF\xFF\xD9"s;
}
Bytes Jpeg() { return "\xFF\xD8"s + JpegBody(); }
// An Exif segment whose thumbnail ends with its own end-of-image marker.
Bytes JpegWithThumbnail() {
  return "\xFF\xD8"s + Segment(0xE1, "Exif\0\0\xFF\xD8\xFF\xDB\x00\x03\x00\xFF\xD9"s) + JpegBody();
}
// Two scans with a table between them.
Bytes ProgressiveJpeg() {
  return "\xFF\xD8"s + Segment(0xC2, "\x08\x00\x10\x00\x10\x01\x01\x11\x00"s) +
         Segment(0xDA, "\x01\x01\x00\x00\x00\x00"s) + "\x11\xFF\x00\x22"s +
         Segment(0xC4, Bytes(20, '\x03')) + Segment(0xDA, "\x01\x01\x00\x01\x3F\x00"s) +
         "\x33\xFF\xD1\x44\xFF\xD9"s;
}
// A main picture with a Multi-Picture index listing a second picture that
// follows it four bytes later.
Bytes MultiPictureJpeg() {
  const Bytes second = Jpeg(), body = JpegBody();
  const uint64_t mainSize = 2 + 90 + body.size();
  const Bytes index = "II*\0"s + Le(8, 4) + Le(3, 2) + Le(0xB000, 2) + Le(7, 2) + Le(4, 4) +
                      "0100" + Le(0xB001, 2) + Le(4, 2) + Le(1, 4) + Le(2, 4) + Le(0xB002, 2) +
                      Le(7, 2) + Le(32, 4) + Le(50, 4) + Le(0, 4) + Le(0x20030000, 4) +
                      Le(mainSize, 4) + Le(0, 4) + Le(0, 4) + Le(0, 4) + Le(second.size(), 4) +
                      Le(mainSize + 4 - 10, 4) + Le(0, 4);
  return "\xFF\xD8"s + Segment(0xE2, "MPF\0"s + index) + body + Bytes(4, '\0') + second;
}

Bytes PngChunk(const char* type, const Bytes& data) {
  return Be(data.size(), 4) + type + data + "CRC!";
}
Bytes Png() {
  return "\x89PNG\r\n\x1A\n"s + PngChunk("IHDR", Bytes(13, '\x01')) +
         PngChunk("IDAT", Bytes(40, '\x7F')) + PngChunk("IEND", "");
}

// A global colour table of 4 entries, a control extension, an image with a
// local table of 2 entries and two data sub-blocks, the trailer.
Bytes Gif() {
  return "GIF89a\x02\x00\x02\x00\x81\x00\x00"s + Bytes(12, '\x10') +
         "\x21\xF9\x04\x01\x02\x03\x04\x00"s + "\x2C\0\0\0\0\x02\0\x02\0\x80"s + Bytes(6, '\x20') +
         "\x02\x03\x01\x02\x03\x01\x3B\x00\x3B"s;
}

Bytes Riff(const char* form, const Bytes& chunks) {
  return "RIFF"s + Le(chunks.size() + 4, 4) + form + chunks;
}
Bytes Wav() {
  return Riff("WAVE", "fmt "s + Le(16, 4) + Bytes(16, '\x01') + "data"s + Le(6, 4) + "abcdef");
}
// Over 1 GiB an AVI goes on in AVIX forms.
Bytes Avi() {
  return Riff("AVI ", "LIST"s + Le(4, 4) + "hdrl") + Riff("AVIX", "JUNK"s + Le(2, 4) + "xy");
}

Bytes Atom(const char* type, const Bytes& data) { return Be(data.size() + 8, 4) + type + data; }
// moov, a media data atom with a 64-bit size, free space.
Bytes QuickTime() {
  return Atom("moov", Atom("mvhd", Bytes(100, '\0'))) + Be(1, 4) + "mdat" + Be(16 + 50, 8) +
         Bytes(50, '\x55') + Atom("free", Bytes(8, '\0'));
}

// A TIFF entry: tag, type, count and the value or its offset.
Bytes Entry(bool le, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  const auto put = le ? Le : Be;
  return put(tag, 2) + put(type, 2) + put(count, 4) + put(value, 4);
}
// Little-endian, directories first: IFD0 at 8 (StripOffsets in an array,
// StripByteCounts as two shorts in the entry, an Exif IFD), the array at 62,
// the Exif IFD at 70 with a maker note at 88, two strips at 108 and 138.
Bytes TiffFront() {
  return "II*\0"s + Le(8, 4) + Le(4, 2) + Entry(true, 256, 3, 1, 2) + Entry(true, 273, 4, 2, 62) +
         Entry(true, 279, 3, 2, 30 | 30 << 16) + Entry(true, 34665, 4, 1, 70) + Le(0, 4) +
         Le(108, 4) + Le(138, 4) + Le(1, 2) + Entry(true, 37500, 7, 20, 88) + Le(0, 4) +
         Bytes(20, 'M') + Bytes(60, 'S');
}
// Big-endian, directories last: a strip at 8, a preview at 48, IFD0 at 64
// (one strip, the next IFD) and IFD1 (the preview) after it.
Bytes TiffBack() {
  return "MM\0*"s + Be(64, 4) + Bytes(40, 'S') + Bytes(16, 'J') + Be(2, 2) +
         Entry(false, 273, 4, 1, 8) + Entry(false, 279, 4, 1, 40) + Be(94, 4) + Be(2, 2) +
         Entry(false, 513, 4, 1, 48) + Entry(false, 514, 4, 1, 16) + Be(0, 4);
}

// 2 x 2 pixels of 24 bits, rows padded to 8 bytes.
Bytes Bmp() {
  return "BM"s + Le(70, 4) + Le(0, 4) + Le(54, 4) + Le(40, 4) + Le(2, 4) + Le(2, 4) + Le(1, 2) +
         Le(24, 2) + Le(0, 4) + Le(16, 4) + Bytes(16, '\0') + Bytes(16, '\x40');
}

// An ID3v2 tag, ten frames of 417 bytes (MPEG-1 Layer III, 128 kbit/s,
// 44100 Hz) and an ID3v1 tag.
Bytes Mp3() {
  Bytes frames;
  for (int i = 0; i < 10; ++i) frames += "\xFF\xFB\x90\x00"s + Bytes(413, '\x11');
  return "ID3\x03\x00\x00\x00\x00\x00\x14"s + Bytes(20, '\0') + frames + "TAG" + Bytes(125, 'x');
}

struct Sample {
  const char* name;
  const char* kind;
  Bytes file;
};

const std::vector<Sample>& Samples() {
  static const std::vector<Sample> samples = {
      {"jpeg", "JPG", Jpeg()},
      {"jpeg with thumbnail", "JPG", JpegWithThumbnail()},
      {"progressive jpeg", "JPG", ProgressiveJpeg()},
      {"multi-picture jpeg", "JPG", MultiPictureJpeg()},
      {"png", "PNG", Png()},
      {"gif", "GIF", Gif()},
      {"wave", "WAV", Wav()},
      {"avi", "AVI", Avi()},
      {"quicktime", "MOV", QuickTime()},
      {"tiff front", "TIF", TiffFront()},
      {"tiff back", "TIF", TiffBack()},
      {"bmp", "BMP", Bmp()},
      {"mp3", "MP3", Mp3()},
  };
  return samples;
}

// Bytes that neither continue any of the files nor start anything.
const Bytes kJunk = [] {
  Bytes b;
  while (b.size() < 4096) b += "\x00\xFF\x13\x37"s;
  return b;
}();

TEST(FileEnd, EachFileEndsAtItsLengthHoweverItIsFed) {
  for (const Sample& s : Samples()) {
    const Bytes followed = s.file + kJunk;
    for (size_t piece : {SIZE_MAX, size_t{512}, size_t{7}, size_t{1}}) {
      EXPECT_EQ(Feed(s.kind, followed, piece), (Result{State::Ended, s.file.size()}))
          << s.name << " in pieces of " << piece;
    }
    EXPECT_EQ(
        FindFileEnd(s.kind, reinterpret_cast<const uint8_t*>(followed.data()), followed.size()),
        s.file.size())
        << s.name;
  }
}

TEST(FileEnd, AFileCutShortHasNoEndYet) {
  for (const Sample& s : Samples()) {
    for (size_t cut = 0; cut < s.file.size(); ++cut) {
      const Result r = Feed(s.kind, s.file.substr(0, cut));
      EXPECT_NE(r.state, State::Ended) << s.name << " cut at " << cut << " ends at " << r.end;
    }
  }
}

TEST(FileEnd, BytesAgainstTheFormatGiveNoEnd) {
  const struct {
    const char* name;
    const char* kind;
    Bytes file;
    size_t at;
    Bytes bytes;  // written at `at`
  } cases[] = {
      {"jpeg without its start", "JPG", Jpeg(), 1, "\xD9"s},
      {"jpeg marker without FF", "JPG", Jpeg(), 2, "\x00"s},
      {"jpeg reserved marker", "JPG", Jpeg(), 3, "\x20"s},
      {"jpeg segment length 1", "JPG", Jpeg(), 4, "\x00\x01"s},
      {"jpeg second start", "JPG", Jpeg(), 3, "\xD8"s},
      {"jpeg bad byte after FF in the scan", "JPG", Jpeg(), Jpeg().size() - 8, "\x9F"s},
      {"second picture not a jpeg", "JPG", MultiPictureJpeg(),
       MultiPictureJpeg().size() - Jpeg().size(), "\x00"s},
      {"picture index without byte order", "JPG", MultiPictureJpeg(), 10, "XX"s},
      {"png chunk type not letters", "PNG", Png(), 37, "ID@T"s},
      {"png chunk length over 2^31", "PNG", Png(), 33, "\x80"s},
      {"png not starting with IHDR", "PNG", Png(), 12, "IDAT"s},
      {"gif unknown block", "GIF", Gif(), 25, "\x22"s},
      {"gif code size 0", "GIF", Gif(), 49, "\x00"s},
      {"riff size 0", "WAV", Wav(), 4, Le(0, 4)},
      {"riff size beyond FAT", "WAV", Wav(), 4, Le(0xFFFFFFFF, 4)},
      {"quicktime atom to the end of the file", "MOV", QuickTime(), 116, Be(0, 4)},
      {"quicktime without moov", "MOV", QuickTime(), 4, "mooz"s},
      {"tiff byte order", "TIF", TiffFront(), 0, "IM"s},
      {"tiff unknown value type", "TIF", TiffFront(), 12, Le(99, 2)},
      {"tiff IFD without entries", "TIF", TiffBack(), 64, Be(0, 2)},
      {"tiff IFD inside the header", "TIF", TiffBack(), 90, Be(4, 4)},
      {"bmp size smaller than its pixels", "BMP", Bmp(), 2, Le(60, 4)},
      {"bmp unknown header size", "BMP", Bmp(), 14, Le(41, 4)},
      {"mp3 with too few frames", "MP3", Mp3(), 30 + 5 * 417, "\x00"s},
  };
  for (const auto& c : cases) {
    Bytes file = c.file;
    file.replace(c.at, c.bytes.size(), c.bytes);
    EXPECT_EQ(Feed(c.kind, file + kJunk).state, State::NoEnd) << c.name;
    EXPECT_EQ(Feed(c.kind, file + kJunk, 1).state, State::NoEnd) << c.name;
  }
}

TEST(FileEnd, OnlyFormatsThatRecordTheirEndHaveAFinder) {
  for (const char* kind :
       {"JPG", "PNG", "GIF", "BMP", "WAV", "AVI", "RIFF", "MOV", "MP3", "TIF", "NEF"})
    EXPECT_NE(MakeEndFinder(kind), nullptr) << kind;
  for (const char* kind : {"CRW", "MRW", "DOC", "ZIP", "EXE", "HTML", ""})
    EXPECT_EQ(MakeEndFinder(kind), nullptr) << kind;
}

// A 3 MiB TIFF whose only IFD lies at its end: its strip offsets and counts,
// fed long before, are read only where they are still kept.
TEST(FileEnd, TiffReadsBackOnlyWhatItKept) {
  constexpr uint32_t kSize = 3 << 20, kIfd = kSize - 30;
  const struct {
    uint32_t arrays;  // where the two arrays of the two strips lie
    State state;
  } cases[] = {
      {100, State::Ended},            // in the first bytes, always kept
      {kIfd - 200000, State::Ended},  // among the latest bytes
      {kSize - 1000000, State::NoEnd},
  };
  for (const auto& c : cases) {
    Bytes file = "II*\0"s + Le(kIfd, 4) + Bytes(kIfd - 8, '\x5A');
    file.replace(c.arrays, 16, Le(20, 4) + Le(kSize - 500, 4) + Le(30, 4) + Le(400, 4));
    file += Le(2, 2) + Entry(true, 273, 4, 2, c.arrays) + Entry(true, 279, 4, 2, c.arrays + 8) +
            Le(0, 4);
    ASSERT_EQ(file.size(), kSize);
    for (size_t piece : {SIZE_MAX, size_t{512}, size_t{1}}) {
      const Result r = Feed("TIF", file + kJunk, piece);
      EXPECT_EQ(r.state, c.state) << c.arrays << " in pieces of " << piece;
      EXPECT_EQ(r.end, c.state == State::Ended ? kSize : 0);
    }
  }
}

// ---- real photos ---------------------------------------------------------------

// The files followed by 64 KiB of another file; Ended at the returned end in
// both the raw scan's sectors and one piece, or no result.
std::optional<uint64_t> EndOfFileFollowedBy(const char* kind, const fs::path& file,
                                            const fs::path& next) {
  std::vector<uint8_t> bytes = ReadFileBytes(file);
  std::vector<uint8_t> after = ReadFileBytes(next);
  after.resize(64 << 10, 0);
  bytes.insert(bytes.end(), after.begin(), after.end());
  const Result whole = Feed(kind, bytes.data(), bytes.size(), SIZE_MAX);
  EXPECT_EQ(Feed(kind, bytes.data(), bytes.size(), 512), whole) << file.filename();
  if (whole.state != State::Ended) return {};
  return whole.end;
}

TEST(FileEndCorpus, CameraPhotosAndTiffsEndAtTheirSize) {
  std::vector<fs::path> files = DataPhotos();
  // All of them: the 13 of tests/data, or the 48 of the corpus in the extended run.
  ASSERT_EQ(files.size(), UsingRepositoryData() ? 13u : 48u);
  for (const auto& e : fs::directory_iterator(DataDir() / "photos" / "tiff"))
    files.push_back(e.path());
  // One photo of the corpus carries a stray byte after its end-of-image marker.
  const std::map<std::string, uint64_t> trailing = {{"exif-org_olympus-d320l.jpg", 1}};
  for (size_t i = 0; i < files.size(); ++i) {
    const bool tiff = files[i].extension() == ".tiff";
    const uint64_t size = fs::file_size(files[i]);
    const auto stray = trailing.find(files[i].filename().string());
    const uint64_t expected = size - (stray == trailing.end() ? 0 : stray->second);
    EXPECT_EQ(EndOfFileFollowedBy(tiff ? "TIF" : "JPG", files[i], files[(i + 1) % files.size()]),
              expected)
        << files[i].filename();
  }
}

TEST(FileEndCorpus, DamagedPhotosNeverEndPastTheirSize) {
  for (const auto& e : fs::directory_iterator(DataDir() / "photos" / "damaged")) {
    const std::optional<uint64_t> end =
        EndOfFileFollowedBy("JPG", e.path(), DataDir() / "README.md");
    EXPECT_LE(end.value_or(0), fs::file_size(e.path())) << e.path().filename();
  }
}

}  // namespace
}  // namespace kestrella::test
