// The icon list and the icons and type names the file lists get from it.
#include <gtest/gtest.h>

#include <string>

#include "compat/shellicons.h"
#include "util/helpers.h"

namespace kestrella {
namespace {

std::string IconOf(const std::string& path, uint32_t attributes, std::string& typeName) {
  const int index = ShellGetFileInfo(path, attributes, typeName);
  EXPECT_EQ(index, ShellGetIconIndex(path, attributes));
  return ShellIconName(index);
}

TEST(ShellIcons, NamesIconsAndTypesFromExtension) {
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

  EXPECT_EQ(ShellIconName(-1), "");
  EXPECT_EQ(ShellIconName(1000), "");
}

}  // namespace
}  // namespace kestrella
