// Both detectors on real camera files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "detect/filedet.h"
#include "detect/recoverutils.h"
#include "support/testsupport.h"

namespace kestrella::test {
namespace {

// The first cluster (4096 bytes) as the lost-file hunt sees it, and the first
// sector as the raw scan does.
std::pair<std::string, std::string> KindsOf(const fs::path& file) {
  std::vector<uint8_t> bytes = ReadFileBytes(file);
  bytes.resize(std::max<std::size_t>(bytes.size(), 4096), 0);
  std::string cluster = "-", sector = "-";
  uint8_t startKind = 0;
  IsFile(bytes.data(), 4096, cluster, startKind);
  DetectImageStart(bytes.data(), 512, sector);
  return {cluster, sector};
}

TEST(DetectCorpus, CameraJpegsStartAsJpg) {
  const std::vector<fs::path> photos = DataPhotos();
  ASSERT_FALSE(photos.empty());
  for (const fs::path& photo : photos) {
    EXPECT_EQ(KindsOf(photo), std::make_pair(std::string("JPG"), std::string("JPG")))
        << photo.filename();
  }
}

TEST(DetectCorpus, TiffsWithoutMakerNamesAreTif) {
  int seen = 0;
  for (const auto& entry : fs::directory_iterator(DataDir() / "photos" / "tiff")) {
    // None of these carries a maker name or a Nikon mark in its first sector.
    EXPECT_EQ(KindsOf(entry.path()), std::make_pair(std::string("TIF"), std::string("TIF")))
        << entry.path().filename();
    ++seen;
  }
  EXPECT_GT(seen, 0);
}

}  // namespace
}  // namespace kestrella::test
