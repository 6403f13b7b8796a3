// Byte patterns, buffer lines, wildcards and path text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/helpers.h"

namespace kestrella {
namespace {

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

TEST(HelpersPatterns, ComparesCountsAndSearchesWithinBounds) {
  EXPECT_TRUE(IsDataEqual(nullptr, ""));
  const auto buf = Bytes("xx<HTML>");
  EXPECT_TRUE(IsFoundDataEqual(buf.data(), 8, "<HTML>"));
  EXPECT_FALSE(IsFoundDataEqual(buf.data(), 7, "<HTML>"));  // would end past size
  std::vector<uint8_t> a(512, 0xF8), b(a);
  EXPECT_EQ(BytesEqual(a.data(), b.data(), 512), 0u);
  for (int i = 0; i < 15; ++i) b[i * 34] = 0;
  EXPECT_EQ(BytesEqual(a.data(), b.data(), 512), 15u);
}

TEST(HelpersLines, SplitsAtBreaksAndCutsLongLines) {
  const auto crlf = Bytes("ab\r\ncd");
  const uint8_t* p = crlf.data();
  const uint8_t* end = p + crlf.size();
  EXPECT_EQ(GetNextTextLine(p, end), "ab");
  EXPECT_EQ(GetNextTextLine(p, end), "cd");
  EXPECT_EQ(p, end);
  EXPECT_EQ(GetNextTextLine(p, end), "");

  const auto lfOnly = Bytes("abc\ndef");
  p = lfOnly.data();
  EXPECT_EQ(GetNextTextLine(p, p + lfOnly.size()), "ab");
  EXPECT_EQ(*p, 'd');

  const auto longLine = Bytes(std::string(300, 'x') + "\r\nz");
  p = longLine.data();
  EXPECT_EQ(GetNextTextLine(p, p + longLine.size()), std::string(255, 'x'));
  EXPECT_EQ(*p, 'z');
}

TEST(HelpersWildCard, MatchesWholeNames) {
  EXPECT_TRUE(MatchWildCard("photo.JPG", "*.jpg"));
  EXPECT_FALSE(MatchWildCard("photo.JPG", "*.jpg", '?', '*', true));
  EXPECT_TRUE(MatchWildCard("", "*"));
  EXPECT_FALSE(MatchWildCard("a", ""));
  EXPECT_FALSE(MatchWildCard("a", "a**"));
  EXPECT_TRUE(MatchWildCard("ab", "a**"));
  EXPECT_FALSE(MatchWildCard("a", "a?"));
  EXPECT_TRUE(MatchWildCard("img_0001.jpg", "IMG_*.J?G"));
  EXPECT_FALSE(MatchWildCard("\xE4", "\xC4"));  // only a-z fold
  EXPECT_TRUE(MatchWildCard("x.jpg", "%.j#g", '#', '%'));
}

TEST(HelpersNames, DecodesWideCharactersAndEscapes) {
  const uint8_t wide[] = {'A', 0, 'B', 1, 0, 1, 'C', 0, 0, 0, 'D', 0};
  EXPECT_EQ(Unicode2ASCII(wide, 10), std::string("AB\0C", 4));
  EXPECT_EQ(Unicode2ASCII(wide, 1), "A");
  EXPECT_EQ(replace("a/b/c", '/', '\\'), "a\\b\\c");
  EXPECT_EQ(ConvertFmtString("a\\nb"), "a\rb");
  EXPECT_EQ(ConvertFmtString("a\\tb"), "ab");
  EXPECT_EQ(ConvertFmtString("a\\\\nb\\"), "a\\nb");
}

TEST(HelpersPaths, ExtractsAndAbbreviates) {
  EXPECT_EQ(ExtractFileNameFaster("E:\\DCIM\\100CANON\\P1.JPG"), "P1.JPG");
  EXPECT_EQ(ExtractFileNameFaster("P1.JPG"), "P1.JPG");
  EXPECT_EQ(GetRootPath("E:\\DCIM"), "E:\\");
  EXPECT_EQ(GetRootPath(""), "");

  const std::string path = "C:\\dir1\\dir2\\dir3\\file.jpg";
  EXPECT_EQ(AbbreviatePath(path, 20), "C:\\...\\dir3\\file.jpg");
  // Room for "..." is counted before anything is cut, so a path stays whole
  // only when it is five characters under the limit.
  EXPECT_EQ(AbbreviatePath(path, 31), path);
  EXPECT_EQ(AbbreviatePath(path, 30), "C:\\...\\dir2\\dir3\\file.jpg");
  EXPECT_EQ(AbbreviatePath(path, 0), "C:\\...\\file.jpg");
  const std::string oneSlash = "C:\\" + std::string(60, 'f');
  EXPECT_EQ(AbbreviatePath(oneSlash, 10), oneSlash);
  EXPECT_EQ(AbbreviatePath("C:\\a\\", 0), "C:\\a\\");  // last character not scanned
}

}  // namespace
}  // namespace kestrella
