// The FAT undelete test image of tests/data (6-fat-undel.dd): six deleted
// files and two deleted folders, written on Windows XP. Sizes, sectors and
// MD5 sums are those its index.html lists.
#include <gtest/gtest.h>

#include "fat/fatread_testcard.h"

namespace kestrella::test {
namespace {

struct Listed {
  const char* name;
  uint32_t firstSector;  // the layout table gives sectors
  uint32_t size;
  const char* md5;
};

class UndeleteImage : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = std::make_unique<FatCard>(UnzipDataImage("6-undel-fat.zip", "6-fat-undel.dd", unzipped_.path()));
    card_->Mount();
  }
  std::unique_ptr<TFATFile> FileOf(const Listed& l) {
    const uint32_t cluster = card_->drive().Sec2Cluster(l.firstSector);
    return card_->File(l.name, cluster, l.size);
  }

  TempDir unzipped_;
  TempDir dest_;  // for single runs
  std::unique_ptr<FatCard> card_;
};

TEST_F(UndeleteImage, DeletedFilesComeBackWithTheirListedSums) {
  TFATdrive& d = card_->drive();
  // Everything on the volume was deleted: its table is found empty.
  EXPECT_EQ(d.UseFAT(), 0);
  const Listed files[] = {
      {"sing.dat", 98, 780, "59b20779f69ff9f0ac5fcd2c38835a79"},
      {"mult1.dat", 100, 3801, "ffd27bd782bdce67750b6b9ee069d2ef"},
      {"mult2.dat", 120, 1715, "59cf0e9cd107bc1e75afb7374f6e05bb"},
  };
  // Without the table the clusters are consecutive; along the table the
  // erased chains go on with the free clusters that follow. Both find them.
  for (uint8_t useFAT : {0, 1}) {
    TempDir dest;
    for (const Listed& l : files) {
      auto f = FileOf(l);
      EXPECT_EQ(d.GetFAT(f->FirstCluster, 0), 0u) << l.name;
      EXPECT_TRUE(f->SaveTo(dest.path(), useFAT)) << l.name;
      EXPECT_EQ(Md5Of(dest / l.name), l.md5) << l.name << " useFAT " << int{useFAT};
    }
  }
}

TEST_F(UndeleteImage, FragmentedFilesReadAsConsecutiveClustersGiveTheListedWrongSums) {
  // What the image's notes expect from a tool that copies the size from the
  // first cluster on: exactly what reading without the table does.
  const Listed files[] = {
      {"frag1.dat", 88, 1584, "c4f3b9a0f17d464f4fc61b94ecf6cc21"},
      {"frag2.dat", 90, 3873, "965370acfa85aa7e26ab04bbd45cdcae"},
      {"frag3.dat", 118, 2027, "a7a14ac62f79fdea4056ed5e8bcf97ef"},
  };
  for (const Listed& l : files) {
    auto f = FileOf(l);
    EXPECT_TRUE(f->SaveTo(dest_.path(), 0)) << l.name;
    EXPECT_EQ(Md5Of(dest_ / l.name), l.md5) << l.name;
  }
}

}  // namespace
}  // namespace kestrella::test
