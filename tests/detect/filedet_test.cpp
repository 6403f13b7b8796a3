#include "detect/filedet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detectbytes.h"

namespace kestrella::test {
namespace {

using namespace std::string_view_literals;

// "-" stands for "no kind found"; the start kind is checked alongside.
struct Outcome {
  std::string type;
  uint8_t startKind;
};

Outcome Detect(const uint8_t* data, uint32_t size) {
  std::string type = "-";
  uint8_t startKind = 0;
  const bool hit = IsFile(data, size, type, startKind);
  EXPECT_EQ(hit, type != "-") << "the result and the type name disagree";
  return {type, startKind};
}
Outcome Detect(const std::vector<uint8_t>& buf) {
  return Detect(buf.data(), static_cast<uint32_t>(buf.size()));
}
std::string KindOf(std::initializer_list<std::pair<std::size_t, std::string_view>> pieces) {
  return Detect(Bytes(512, pieces)).type;
}

TEST(IsFile, NamesEveryHeaderKind) {
  struct Case {
    std::vector<std::pair<std::size_t, std::string_view>> pieces;
    std::string kind;
  };
  const std::vector<Case> cases = {
      {{{0, "\xFF\xD8"sv}}, "JPG"},
      {{{0, "\xDC\xA5"sv}}, "DOC"},
      {{{0, "\xDB\xA5"sv}}, "DOC"},
      {{{0, "\xEC\xA5"sv}}, "DOC"},
      {{{0, "\xD0\xCF\x11\xE0"sv}}, "DOC"},
      {{{0, "\x09\x04"sv}}, "XLS"},
      {{{0, "\x09\x02"sv}}, "XLS"},
      {{{0, "\x09\x00"sv}}, "XLS"},
      {{{0, "\x09\x08"sv}}, "XLS"},
      {{{0, "\x09\x01"sv}}, "-"},
      {{{0, "BM"}}, "BMP"},
      {{{0, "GIF89a"}}, "GIF"},
      {{{0, "GIF87a"}}, "GIF"},
      {{{0, "GIF88a"}}, "-"},
      {{{0, "II"}, {6, "HEAPCCDR"}}, "CRW"},
      {{{0, "MM"}, {6, "HEAPCCDR"}}, "CRW"},
      {{{250, "Canon EOS-1D"}}, "CRW"},
      {{{250, "Canon EOS-1"}}, "-"},
      {{{0, "II"}, {352, "NIKON"}}, "NEF"},
      {{{0, "MM"}, {484, "NIKON"}}, "NEF"},
      {{{0, "XMRM"}}, "MRW"},
      {{{0, "II*\0"sv}}, "TIF"},
      {{{0, "MM\0*"sv}}, "TIF"},
      {{{0, "II\0*"sv}}, "-"},
      {{{0, "\x89PNG\r\n\x1A\n"sv}}, "PNG"},
      {{{0, "MZ"}}, "EXE"},
      {{{0, "?_\x03\x00"sv}}, "HLP"},
      {{{257, "ustar\0"sv}}, "TAR"},
      {{{257, "ustar  "sv}}, "-"},
      {{{2, "-lh5-"}}, "LZH"},
      {{{2, "-lz4-"}}, "LZH"},
      {{{0, "PK\x03\x04"sv}}, "ZIP"},
      {{{0, "\x60\xEA"sv}}, "ARJ"},
      {{{0, "Rar!\x1A\x07\x00"sv}}, "RAR"},
      {{{0, "MThd"}}, "MID"},
      {{{4, "moov"}}, "MOV"},
      {{{100, "<HTML>"}}, "HTML"},
      {{{100, "<html>"}}, "-"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buf(512, 0);
    for (const auto& [offset, bytes] : c.pieces) Put(buf, offset, bytes);
    const Outcome got = Detect(buf);
    EXPECT_EQ(got.type, c.kind) << "first piece at " << c.pieces.front().first << ": "
                                << c.pieces.front().second;
    EXPECT_EQ(got.startKind, kStartNewFile);
  }
}

TEST(IsFile, RiffFormTypeDecides) {
  EXPECT_EQ(KindOf({{0, "RIFF"}, {8, "CDR9"}}), "CDR");
  EXPECT_EQ(KindOf({{0, "RIFF"}, {8, "CDRX"}}), "CDR");
  EXPECT_EQ(KindOf({{0, "RIFF"}, {8, "WAVE"}}), "WAV");
  EXPECT_EQ(KindOf({{0, "RIFF"}, {8, "AVI "}}), "AVI");
  EXPECT_EQ(KindOf({{0, "RIFF"}, {8, "AVIX"}}), "RIFF");
  EXPECT_EQ(KindOf({{0, "RIFF"}, {8, "WEBP"}}), "RIFF");
}

TEST(IsFile, DbfNeedsZeroBytesAtItsFixedOffsets) {
  for (std::string_view first : {"\x03"sv, "\x83"sv, "\xF5"sv, "\x8B"sv, "\x8E"sv}) {
    EXPECT_EQ(KindOf({{0, first}}), "DBF") << int(uint8_t(first[0]));
  }
  EXPECT_EQ(KindOf({{0, "\x04"sv}}), "-");
  for (std::size_t offset : {12, 13, 30, 31}) {
    EXPECT_EQ(KindOf({{0, "\x03"sv}, {offset, "\x01"sv}}), "-") << offset;
  }
}

TEST(IsFile, PdfOnlyUpToVersionOnePointTwo) {
  EXPECT_EQ(KindOf({{0, "%PDF-1.0"}}), "PDF");
  EXPECT_EQ(KindOf({{0, "%PDF-1.1"}}), "PDF");
  EXPECT_EQ(KindOf({{0, "%PDF-1.2"}}), "PDF");
  EXPECT_EQ(KindOf({{0, "%PDF-1.3"}}), "-");
  EXPECT_EQ(KindOf({{0, "%PDF-1.4"}}), "-");
}

TEST(IsFile, EarlierKindsWinWhereMagicsOverlap) {
  EXPECT_EQ(KindOf({{0, "\xFF\xD8"sv}, {100, "<HTML>"}}), "JPG");
  EXPECT_EQ(KindOf({{0, "II*\0"sv}, {484, "NIKON"}}), "NEF");
  EXPECT_EQ(KindOf({{0, "MM\0*"sv}, {352, "NIKON"}}), "NEF");
  EXPECT_EQ(KindOf({{0, "II*\0"sv}, {6, "HEAPCCDR"}}), "CRW");
  EXPECT_EQ(KindOf({{0, "II*\0moov"sv}}), "TIF");
  EXPECT_EQ(KindOf({{0, "II*\0"sv}, {250, "Canon EOS-1D"}}), "CRW");
  EXPECT_EQ(KindOf({{0, "\xFF\xD8"sv}, {250, "Canon EOS-1D"}}), "JPG");
  EXPECT_EQ(KindOf({{0, "RIFF"}, {8, "WAVE"}, {100, "<HTML>"}}), "WAV");
  EXPECT_EQ(KindOf({{0, "<HTML>\r\n{\\rtf1"}}), "HTML");
}

TEST(IsFile, HtmlTagIsNotLookedForAtTheVeryEnd) {
  EXPECT_EQ(Detect(Bytes(20, {{13, "<HTML>"}})).type, "HTML");
  EXPECT_EQ(Detect(Bytes(20, {{14, "<HTML>"}})).type, "-");
  EXPECT_EQ(Detect(Bytes(4096, {{4000, "<HTML>"}})).type, "HTML");
}

TEST(IsFile, DxfHeaderGroupInTheFirstLines) {
  const std::string_view dxf = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n";
  ASSERT_EQ(dxf.size(), 27u);
  EXPECT_EQ(KindOf({{0, dxf}}), "DXF");
  EXPECT_EQ(KindOf({{0, "  0\r\nSECTIONX\r\n  2\r\nHEADER\r\n"}}), "-");
  EXPECT_EQ(KindOf({{0, "  0\r\nSECTION\r\n  1\r\nHEADER\r\n"}}), "-");
  EXPECT_EQ(KindOf({{0, "  0\r\nSECTION\r\n  2\r\nHEADERS\r\n"}}), "-");
  // A line without a zero is passed over and the group looked for after it.
  EXPECT_EQ(KindOf({{0, "999\r\n"}, {5, dxf}}), "DXF");
  // Only 32 bytes are read: here HEADER is cut to HEAD.
  EXPECT_EQ(KindOf({{0, "9999999\r\n"}, {9, dxf}}), "-");
  // Line breaks are CR LF pairs; a bare LF loses the byte before it.
  EXPECT_EQ(KindOf({{0, "  0\nSECTION\n  2\nHEADER\n"}}), "-");
}

TEST(IsFile, RtfMarkOnALineWithoutZero) {
  EXPECT_EQ(KindOf({{0, "{\\rtf1\\ansi\r\n"}}), "RTF");
  EXPECT_EQ(KindOf({{0, "xx\r\n{\\rtf1\\ansi\r\n"}}), "RTF");
  // A zero anywhere in the line sends it down the DXF branch instead.
  EXPECT_EQ(KindOf({{0, "{\\rtf1\\ansi\\deff0\r\n"}}), "-");
  // The line that fails the DXF group is not looked at for the RTF mark.
  EXPECT_EQ(KindOf({{0, "0\r\n{\\rtf1}\r\n"}}), "-");
  // An empty line ends the text tests.
  EXPECT_EQ(KindOf({{0, "\r\n{\\rtf1\r\n"}}), "-");
  EXPECT_EQ(KindOf({{40, "{\\rtf1\r\n"}}), "-");
}

TEST(IsFile, MissLeavesTheTypeNameAndStartKindOne) {
  std::vector<uint8_t> buf(4096, 0);
  std::string type = "keep";
  uint8_t startKind = 7;
  EXPECT_FALSE(IsFile(buf.data(), 4096, type, startKind));
  EXPECT_EQ(type, "keep");
  EXPECT_EQ(startKind, kStartNewFile);
}

TEST(IsFile, FixedOffsetTestsNeedTheirBytesInsideTheBuffer) {
  // A TIFF with the Nikon mark at 484: the mark needs 489 bytes, the TIFF
  // header 4. Every size runs on a heap block of exactly that size.
  const std::vector<uint8_t> nef = Bytes(520, {{0, "II*\0"sv}, {484, "NIKON"}});
  for (std::size_t size = 0; size <= nef.size(); ++size) {
    const auto copy = ExactCopy(nef, size);
    const std::string want = size < 4 ? "-" : size < 489 ? "TIF" : "NEF";
    EXPECT_EQ(Detect(copy.get(), static_cast<uint32_t>(size)).type, want) << size;
  }
  const std::vector<uint8_t> tar = Bytes(263, {{257, "ustar\0"sv}});
  EXPECT_EQ(Detect(ExactCopy(tar, 263).get(), 263).type, "TAR");
  EXPECT_EQ(Detect(ExactCopy(tar, 262).get(), 262).type, "-");
  const std::vector<uint8_t> riff = Bytes(12, {{0, "RIFFxxxxWAVE"}});
  EXPECT_EQ(Detect(ExactCopy(riff, 12).get(), 12).type, "WAV");
  EXPECT_EQ(Detect(ExactCopy(riff, 11).get(), 11).type, "RIFF");
  const std::vector<uint8_t> jpg = Bytes(2, {{0, "\xFF\xD8"sv}});
  EXPECT_EQ(Detect(ExactCopy(jpg, 2).get(), 2).type, "JPG");
  EXPECT_EQ(Detect(ExactCopy(jpg, 1).get(), 1).type, "-");
}

TEST(IsFile, TinyBuffersAreNotMp3WithoutAFrame) {
  // Size / 512 is 0 below 512 bytes; an empty walk still does not make MP3.
  const std::vector<uint8_t> frameHeader = Bytes(8, {{0, "\xFF\xFA\x90\x00"sv}});
  for (std::size_t size : {0, 1, 4}) {
    const Outcome got = Detect(ExactCopy(frameHeader, size).get(), static_cast<uint32_t>(size));
    EXPECT_EQ(got.type, "-") << size;
    EXPECT_EQ(got.startKind, kStartNewFile);
  }
  EXPECT_EQ(Detect(ExactCopy(frameHeader, 8).get(), 8).type, "MP3");
}

}  // namespace
}  // namespace kestrella::test
