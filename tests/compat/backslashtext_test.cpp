// Backslash paths and message escapes.
#include <gtest/gtest.h>

#include <string>

#include "compat/backslashtext.h"

namespace kestrella {
namespace {

TEST(BackslashText, ConvertsEscapes) {
  EXPECT_EQ(ConvertFmtString("a\\nb"), "a\rb");
  EXPECT_EQ(ConvertFmtString("a\\tb"), "ab");
  EXPECT_EQ(ConvertFmtString("a\\\\nb\\"), "a\\nb");
}

TEST(BackslashText, ExtractsAndAbbreviates) {
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
