#include "detect/recoverutils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detectbytes.h"

namespace kestrella::test {
namespace {

using namespace std::string_view_literals;

// "-" stands for "not a start" (the type text is then left as it was).
std::string StartOf(const uint8_t* data, int32_t size) {
  std::string ext = "-";
  const bool hit = DetectImageStart(data, size, ext);
  EXPECT_EQ(hit, ext != "-") << "the result and the type text disagree";
  return ext;
}
std::string StartOf(std::initializer_list<std::pair<std::size_t, std::string_view>> pieces) {
  const std::vector<uint8_t> sector = Bytes(512, pieces);
  return StartOf(sector.data(), 512);
}

TEST(DetectImageStart, NamesEveryKind) {
  EXPECT_EQ(StartOf({{0, "\xFF\xD8\xFF\xE0"sv}}), "JPG");
  EXPECT_EQ(StartOf({{0, "\xFF\xD8\xFF\xE1"sv}, {6, "Exif\0\0"sv}}), "JPG");
  EXPECT_EQ(StartOf({{0, "\xFF\xD8\xFF\xDB"sv}}), "-");
  EXPECT_EQ(StartOf({{0, "II"}, {6, "HEAPCCDR"}}), "CRW");
  EXPECT_EQ(StartOf({{0, "MM"}, {6, "HEAPCCDR"}}), "CRW");
  EXPECT_EQ(StartOf({{0, "XX"}, {6, "HEAPCCDR"}}), "-");
  EXPECT_EQ(StartOf({{250, "Canon"}}), "CRW");
  EXPECT_EQ(StartOf({{0, "BM"}}), "BMP");
  EXPECT_EQ(StartOf({{0, "GIF89a"}}), "GIF");
  EXPECT_EQ(StartOf({{0, "GIF87a"}}), "GIF");
  EXPECT_EQ(StartOf({{0, "GIF89b"}}), "-");
  EXPECT_EQ(StartOf({{0, "\x89PNG\r\n\x1A\n"sv}}), "PNG");
  EXPECT_EQ(StartOf({{0, "RIFF"}, {8, "WAVE"}}), "WAV");
  EXPECT_EQ(StartOf({{0, "RIFF"}, {8, "AVI "}}), "AVI");
  EXPECT_EQ(StartOf({{0, "RIFF"}, {8, "AVIX"}}), "AVI");
  EXPECT_EQ(StartOf({{0, "RIFF"}, {8, "CDR9"}}), "RIFF");
  EXPECT_EQ(StartOf({{4, "moov"}}), "MOV");
  EXPECT_EQ(StartOf({{0, "II"}, {352, "NIKON"}}), "NEF");
  EXPECT_EQ(StartOf({{0, "MM"}, {484, "NIKON"}}), "NEF");
  EXPECT_EQ(StartOf({{0, "XX"}, {484, "NIKON"}}), "-");
  EXPECT_EQ(StartOf({{0, "\xA5MRM"sv}}), "MRW");
  EXPECT_EQ(StartOf({{0, "II*\0"sv}}), "TIF");
  EXPECT_EQ(StartOf({{0, "MM\0*"sv}}), "TIF");
  EXPECT_EQ(StartOf({{0, "MM*\0"sv}}), "-");
}

TEST(DetectImageStart, EarlierRowsWinWhereMagicsOverlap) {
  EXPECT_EQ(StartOf({{0, "\xFF\xD8\xFF\xE1"sv}, {250, "Canon"}}), "JPG");
  EXPECT_EQ(StartOf({{0, "\xFF\xD8\xFF\xDB"sv}, {250, "Canon"}}), "CRW");
  EXPECT_EQ(StartOf({{0, "II*\0"sv}, {250, "Canon"}}), "CRW");
  EXPECT_EQ(StartOf({{0, "BM"}, {250, "Canon"}}), "CRW");
  EXPECT_EQ(StartOf({{0, "RIFF"}, {8, "WAVE"}, {250, "Canon"}}), "CRW");
  EXPECT_EQ(StartOf({{0, "II*\0"sv}, {352, "NIKON"}}), "NEF");
  EXPECT_EQ(StartOf({{0, "MM\0*"sv}, {484, "NIKON"}, {200, "Kodak"}}), "NEF");
  EXPECT_EQ(StartOf({{0, "RIFF"}, {352, "NIKON"}}), "RIFF");
  EXPECT_EQ(StartOf({{0, "II"}, {4, "moov"}, {352, "NIKON"}}), "MOV");
  EXPECT_EQ(StartOf({{0, "II*\0"sv}, {200, "Kodak"}, {300, "Fuji"}}), "DCR");
}

TEST(DetectImageStart, BitmapNeedsZeroBytesSixToNine) {
  for (std::size_t offset : {6, 7, 8, 9}) {
    EXPECT_EQ(StartOf({{0, "BM"}, {offset, "\x01"sv}}), "-") << offset;
  }
  // The tests after the bitmap one still run on such a sector.
  EXPECT_EQ(StartOf({{0, "BM"}, {4, "moov"}}), "MOV");
}

TEST(DetectImageStart, MakerNamesInTiffHeaders) {
  for (std::string_view tiff : {"II*\0"sv, "MM\0*"sv}) {
    EXPECT_EQ(StartOf({{0, tiff}, {200, "Kodak"}}), "DCR");
    EXPECT_EQ(StartOf({{0, tiff}, {505, "Kodak"}}), "DCR");
    EXPECT_EQ(StartOf({{0, tiff}, {201, "Kodak"}}), "TIF");
    EXPECT_EQ(StartOf({{0, tiff}, {201, "Fuji"}}), "RAF");
    EXPECT_EQ(StartOf({{0, tiff}, {4, "Fuji"}}), "RAF");
    EXPECT_EQ(StartOf({{0, tiff}, {508, "Fuji"}}), "RAF");
    EXPECT_EQ(StartOf({{0, tiff}, {508, "Fujx"}}), "TIF");
  }
  // Without a TIFF header the maker names mean nothing.
  EXPECT_EQ(StartOf({{0, "II"}, {200, "Kodak"}, {300, "Fuji"}}), "-");
}

TEST(DetectImageStart, MissLeavesTheTypeText) {
  std::vector<uint8_t> sector(512, 0);
  std::string ext = "keep";
  EXPECT_FALSE(DetectImageStart(sector.data(), 512, ext));
  EXPECT_EQ(ext, "keep");
}

TEST(DetectImageStart, ReadsOnlyInsideShortBuffers) {
  // Every size runs on a heap block of exactly that size.
  const std::vector<uint8_t> nef = Bytes(520, {{0, "II*\0"sv}, {484, "NIKON"}});
  for (std::size_t size = 0; size <= nef.size(); ++size) {
    const auto copy = ExactCopy(nef, size);
    const std::string want = size < 4 ? "-" : size < 489 ? "TIF" : "NEF";
    EXPECT_EQ(StartOf(copy.get(), static_cast<int32_t>(size)), want) << size;
  }
  const std::vector<uint8_t> jpg = Bytes(4, {{0, "\xFF\xD8\xFF\xE0"sv}});
  EXPECT_EQ(StartOf(ExactCopy(jpg, 4).get(), 4), "JPG");
  EXPECT_EQ(StartOf(ExactCopy(jpg, 3).get(), 3), "-");
  const std::vector<uint8_t> canon = Bytes(255, {{250, "Canon"}});
  EXPECT_EQ(StartOf(ExactCopy(canon, 255).get(), 255), "CRW");
  EXPECT_EQ(StartOf(ExactCopy(canon, 254).get(), 254), "-");
  // Maker names are searched only inside the buffer too.
  const std::vector<uint8_t> fuji = Bytes(12, {{0, "II*\0"sv}, {8, "Fuji"}});
  EXPECT_EQ(StartOf(ExactCopy(fuji, 12).get(), 12), "RAF");
  EXPECT_EQ(StartOf(ExactCopy(fuji, 11).get(), 11), "TIF");
  EXPECT_EQ(StartOf(ExactCopy(jpg, 4).get(), -1), "-");
}

TEST(DetectImageEnd, NoSectorEndsAFile) {
  const std::vector<uint8_t> jpg = Bytes(512, {{0, "\xFF\xD8\xFF\xE0"sv}, {510, "\xFF\xD9"sv}});
  const std::vector<uint8_t> zeros(512, 0);
  for (const std::string ext : {"JPG", "TIF", "AVI", ""}) {
    EXPECT_FALSE(DetectImageEnd(jpg.data(), 512, ext));
    EXPECT_FALSE(DetectImageEnd(zeros.data(), 512, ext));
    EXPECT_FALSE(DetectImageEnd(zeros.data(), 0, ext));
  }
}

TEST(ContainsText, TriesOnlyMultiplesOfTheTextLength) {
  const std::vector<uint8_t> at10 = Bytes(64, {{10, "Kodak"}});
  const std::vector<uint8_t> at11 = Bytes(64, {{11, "Kodak"}});
  EXPECT_TRUE(ContainsText(at10.data(), 64, "Kodak"));
  EXPECT_FALSE(ContainsText(at11.data(), 64, "Kodak"));
  EXPECT_TRUE(ContainsText(at11.data(), 64, "odak"));  // 12 is a multiple of 4
  EXPECT_FALSE(ContainsText(at10.data(), 64, "kodak"));
}

TEST(ContainsText, MatchMustEndBeforeTheLastByte) {
  const std::vector<uint8_t> buf = Bytes(16, {{10, "Kodak"}});
  EXPECT_TRUE(ContainsText(ExactCopy(buf, 16).get(), 16, "Kodak"));
  EXPECT_FALSE(ContainsText(ExactCopy(buf, 15).get(), 15, "Kodak"));
  EXPECT_FALSE(ContainsText(ExactCopy(buf, 5).get(), 5, "\0\0\0\0\0"sv));
  EXPECT_TRUE(ContainsText(ExactCopy(buf, 6).get(), 6, "\0\0\0\0\0"sv));
  EXPECT_FALSE(ContainsText(ExactCopy(buf, 0).get(), 0, "K"));
  EXPECT_FALSE(ContainsText(buf.data(), -3, "K"));
}

TEST(FillBytes, SetsExactlyCountBytes) {
  std::vector<uint8_t> buf(8, 0x11);
  FillBytes(buf.data() + 1, 5, 0xAB);
  EXPECT_EQ(buf, (std::vector<uint8_t>{0x11, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0x11, 0x11}));
  FillBytes(buf.data(), 0, 0x00);
  FillBytes(buf.data(), -4, 0x00);
  EXPECT_EQ(buf[0], 0x11);
}

}  // namespace
}  // namespace kestrella::test
