// The one list of kinds Kestrella recovers, as the FAT search (which found
// files to hand over) and the scan driver (which found files to save) both
// ask it: by the name's last extension, in any case.
#include "detect/filekinds.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrella::test {
namespace {

TEST(IsRecoverableName, ByTheLastExtensionInAnyCase) {
  const struct {
    std::string name;
    bool recovered;
  } cases[] = {
      {"IMG_0001.JPG", true},     {"img_0001.jpg", true},    {"Photo.JpEg", true},
      {"CRW_0042.CRW", true},     {"scan.bmp", true},        {"anim.gif", true},
      {"shot.png", true},         {"memo.wav", true},        {"clip.avi", true},
      {"movie.riff", true},       {"MVI_0001.MOV", true},    {"DSC_0001.NEF", true},
      {"PICT0001.MRW", true},     {"DCS_0001.DCR", true},    {"DSCF0001.RAF", true},
      {"page.tif", true},         {"page.TIFF", true},       {"paint.pcx", true},
      {"archive.jpg.zip", false}, {"photo.jpg.txt", false},  {"song.mp3", false},
      {"raw.CR2", false},         {"letter.doc", false},     {"JPG", false},
      {"", false},                {"trailing.", false},      {"almost.jp", false},
      {"longer.jpgs", false},     {"space.jpg ", false},     {"two.dots..jpg", true},
      {".jpg", true},             {"cluster 12.MOV", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRecoverableName(c.name), c.recovered) << '"' << c.name << '"';
}

// A deleted entry's name starts with E5; its extension still decides.
TEST(IsRecoverableName, DeletedEntriesKeepTheirKind) {
  EXPECT_TRUE(IsRecoverableName("\xE5MG_0001.JPG"));
  EXPECT_FALSE(IsRecoverableName("\xE5MG_0001.TXT"));
}

}  // namespace
}  // namespace kestrella::test
