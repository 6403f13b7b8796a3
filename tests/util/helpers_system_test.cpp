// Free space and the extension-based icons and type names.
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

std::string IconOf(const std::string& path, uint32_t attributes, std::string& typeName) {
  const int index = ShellGetFileInfo(path, attributes, typeName);
  EXPECT_EQ(index, ShellGetIconIndex(path, attributes));
  return ShellIconName(index);
}

TEST(HelpersShell, NamesIconsAndTypesFromExtension) {
  std::string type;
  EXPECT_EQ(IconOf("/media/card/DCIM/P1.JPG", 0, type), "image-jpeg");
  EXPECT_EQ(type, "JPEG image");
  EXPECT_EQ(IconOf("crw_0001.Crw", 0, type), "image-x-generic");
  EXPECT_EQ(type, "Camera raw image");
  EXPECT_EQ(IconOf("photo.jpg", kFileAttributeDirectory | 1, type), "folder");
  EXPECT_EQ(type, "File folder");
  EXPECT_EQ(IconOf("cluster 12.xyz", 0, type), "text-x-generic");
  EXPECT_EQ(type, "XYZ File");
  IconOf("/tmp/v1.2/README", 0, type);
  EXPECT_EQ(type, "File");
  IconOf("a." + std::string(100, 'q'), 0, type);
  EXPECT_EQ(type.size(), 80u);

  type = "unchanged";
  EXPECT_FALSE(ShellGetFileType("", 0, type));
  EXPECT_EQ(type, "unchanged");
  EXPECT_TRUE(ShellGetFileType("a.tif", 0, type));
  EXPECT_EQ(type, "TIFF image");
  EXPECT_EQ(ShellIconName(-1), "");
  EXPECT_EQ(ShellIconName(1000), "");
}

}  // namespace
}  // namespace kestrella
