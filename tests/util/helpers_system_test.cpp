// Free space and the extension-based type names.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/testsupport.h"
#include "util/helpers.h"

namespace kestrella {
namespace {

TEST(HelpersSystem, NewDiskFreeMeasuresTheHoldingFileSystem) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "f.bin", {1, 2, 3});
  const uint64_t free = NewDiskFree((dir / "f.bin").string());
  const uint64_t expected = std::filesystem::space(dir.path()).available;
  EXPECT_GT(free, 0u);
  // Other processes may write meanwhile; allow some drift.
  EXPECT_LT(free > expected ? free - expected : expected - free, 256ull << 20);
  EXPECT_EQ(NewDiskFree((dir / "missing" / "x").string()), 0u);
}

TEST(HelpersShell, NamesTypesFromExtension) {
  std::string type = "unchanged";
  EXPECT_FALSE(ShellGetFileType("", 0, type));
  EXPECT_EQ(type, "unchanged");
  EXPECT_TRUE(ShellGetFileType("a.tif", 0, type));
  EXPECT_EQ(type, "TIFF image");
}

}  // namespace
}  // namespace kestrella
