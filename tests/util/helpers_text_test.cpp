// Byte patterns, buffer lines and names.
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

TEST(HelpersNames, DecodesWideCharactersAndReplaces) {
  const uint8_t wide[] = {'A', 0, 'B', 1, 0, 1, 'C', 0, 0, 0, 'D', 0};
  EXPECT_EQ(Unicode2ASCII(wide, 10), std::string("AB\0C", 4));
  EXPECT_EQ(Unicode2ASCII(wide, 1), "A");
  EXPECT_EQ(replace("a/b/c", '/', '\\'), "a\\b\\c");
}

}  // namespace
}  // namespace kestrella
