// The save step: numbering, skipping taken names, and what is deleted after.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/foundfiles.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class FoundFilesTest : public ::testing::Test {
 protected:
  // Four found files; the fourth has a lower-case extension.
  void AddFour() {
    const Strings names{"image1.JPG", "image2.JPG", "image3.TIF", "image4.jpg"};
    for (size_t i = 0; i < names.size(); ++i) {
      temps.push_back((temp / names[i]).string());
      test::WriteFileBytes(temps.back(), {static_cast<uint8_t>(i + 1), 0xD8});
      list.AddImage(temps.back());
    }
    list.Image(3).ticked = false;
  }
  std::string Dest(const std::string& name) const { return (dest / name).string(); }

  test::TempDir temp, dest;
  Strings temps;
  OutputFiles files;
  FoundFileList list{files};
};

TEST_F(FoundFilesTest, TickedFilesKeepTheirNumberAndExtension) {
  AddFour();
  const SaveReport r = list.SaveSelectedImages(dest.path(), "image");
  EXPECT_TRUE(r.problems.Problems().empty());
  ASSERT_EQ(r.saved, (Strings{Dest("image1.JPG"), Dest("image2.JPG"), Dest("image4.jpg")}));
  EXPECT_EQ(test::ReadFileBytes(r.saved[2]), test::ReadFileBytes(temps[3]));
  EXPECT_FALSE(fs::exists(dest / "image3.TIF"));

  EXPECT_TRUE(list.DeleteImageFiles().empty());
  for (const std::string& t : temps) EXPECT_FALSE(fs::exists(t)) << t;
}

TEST_F(FoundFilesTest, ATakenNameRaisesTheNumbersForTheRestOfTheSave) {
  AddFour();
  test::WriteFileBytes(dest / "image2.JPG", {42});
  const SaveReport r = list.SaveSelectedImages(dest.path(), "image");
  EXPECT_EQ(r.saved, (Strings{Dest("image1.JPG"), Dest("image3.JPG"), Dest("image5.jpg")}));
  EXPECT_EQ(test::ReadFileBytes(dest / "image2.JPG"), std::vector<uint8_t>{42});
  EXPECT_EQ(test::ReadFileBytes(dest / "image3.JPG"), test::ReadFileBytes(temps[1]));
}

// The copy is made inside the kernel where it can be; between two file
// systems that cannot, it goes through a buffer. Both give the same bytes,
// also for files larger than one pass of the buffer.
TEST_F(FoundFilesTest, CopiesAreWholeWithinAndAcrossFileSystems) {
  std::vector<uint8_t> big(3 * 1024 * 1024 + 517);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  std::vector<fs::path> sources{temp / "image1.JPG"};
  // A RAM file system, where the machine has one, holds the second file.
  const fs::path shm = fs::path("/dev/shm") / ("kestrella-" + temp.path().filename().string());
  struct Remove {
    fs::path p;
    ~Remove() {
      std::error_code ec;
      fs::remove_all(p, ec);
    }
  } removeShm{shm};
  std::error_code ec;
  if (fs::create_directory(shm, ec)) sources.push_back(shm / "image2.JPG");
  for (const fs::path& p : sources) {
    test::WriteFileBytes(p, big);
    list.AddImage(p.string());
  }
  const SaveReport r = list.SaveSelectedImages(dest.path(), "image");
  ASSERT_TRUE(r.problems.Problems().empty()) << r.problems.Problems()[0].reason;
  ASSERT_EQ(r.saved.size(), sources.size());
  for (const std::string& saved : r.saved) EXPECT_EQ(test::ReadFileBytes(saved), big) << saved;
}

TEST_F(FoundFilesTest, SelectNoneSavesNothingAndTheListDeletesItsFiles) {
  {
    FoundFileList own(files);
    for (const char* n : {"a.JPG", "b.CRW"}) {
      test::WriteFileBytes(temp / n, {1});
      own.AddImage((temp / n).string());
    }
    own.SelectAll(false);
    const SaveReport r = own.SaveSelectedImages(dest.path(), "image");
    EXPECT_TRUE(r.saved.empty());
    EXPECT_TRUE(r.problems.Problems().empty());
    EXPECT_TRUE(fs::is_empty(dest.path()));
  }
  EXPECT_TRUE(fs::is_empty(temp.path()));
}

TEST_F(FoundFilesTest, AFailedCopyKeepsItsTemporaryFile) {
  AddFour();
  list.SelectAll(false);
  list.Image(2).ticked = true;
  test::WriteFileBytes(dest / "not-a-folder", {0});
  const SaveReport r = list.SaveSelectedImages(dest / "not-a-folder", "image");
  EXPECT_TRUE(r.saved.empty());
  ASSERT_EQ(r.problems.Problems().size(), 1u);
  EXPECT_EQ(r.problems.Problems()[0].file, temps[1]);
  EXPECT_EQ(r.problems.Problems()[0].target, (dest / "not-a-folder" / "image2.JPG").string());
  EXPECT_NE(r.problems.Problems()[0].reason, "");

  EXPECT_EQ(list.DeleteImageFiles(), Strings{temps[1]});
  EXPECT_TRUE(fs::exists(temps[1]));
  EXPECT_FALSE(fs::exists(temps[0]));
  EXPECT_FALSE(fs::exists(temps[3]));
}

TEST_F(FoundFilesTest, APrefixCannotLeaveTheDestination) {
  AddFour();
  list.SelectAll(false);
  list.Image(1).ticked = true;
  const SaveReport r = list.SaveSelectedImages(dest.path(), "../up/");
  ASSERT_EQ(r.saved.size(), 1u);
  EXPECT_EQ(r.saved[0], (dest.path() / ".._up_1.JPG").string());
  EXPECT_TRUE(fs::exists(dest.path() / ".._up_1.JPG"));
}

}  // namespace
}  // namespace kestrella
