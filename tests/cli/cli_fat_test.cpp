// kestrella-cli list and save on FAT cards built with mkfs.fat and mtools.
#include <gtest/gtest.h>

#include "support/testsupport.h"

namespace kestrella::test {
namespace {

const std::string kCli = KESTRELLA_CLI_PATH;

CommandResult Sh(const std::string& commandLine) { return kestrella::test::Run(commandLine); }
CommandResult Mtools(const std::string& args) { return Sh("MTOOLS_SKIP_CHECK=1 " + args); }

class CliFatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    photos_ = DataPhotos();
    ASSERT_GE(photos_.size(), 4u);
    card_ = dir_ / "card.img";
    fs::create_directories(dir_ / "tmp");
    ASSERT_EQ(Sh("mkfs.fat -C -F 16 -s 4 -n FATCARD " + Quote(card_) + " 16384").exitCode, 0);
    ASSERT_EQ(Mtools("mmd -i " + Quote(card_) + " ::DCIM ::DCIM/100TEST").exitCode, 0);
    Copy(photos_[0], "::DCIM/100TEST/Sommerfest am Strand.jpg");
    Copy(photos_[1], "::DCIM/100TEST/IMG_0002.JPG");
    Copy(photos_[2], "::DCIM/100TEST/IMG_0003.JPG");
    Copy(photos_[3], "::NOTES.JPG");
    // Deleted last, so nothing was written over its clusters.
    EXPECT_EQ(Mtools("mdel -i " + Quote(card_) + " ::DCIM/100TEST/IMG_0003.JPG").exitCode, 0);
  }
  void Copy(const fs::path& from, const std::string& to) {
    CommandResult r = Mtools("mcopy -i " + Quote(card_) + " " + Quote(from) + " " + Quote(to));
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  CommandResult Cli(const std::string& args) {
    return Sh("TMPDIR=" + Quote(dir_ / "tmp") + " " + Quote(kCli) + " " + args);
  }

  TempDir dir_;
  fs::path card_;
  std::vector<fs::path> photos_;
};

TEST_F(CliFatTest, ListsLiveAndDeletedFilesWithLongNames) {
  const std::string md5 = Md5Of(card_);
  CommandResult r = Cli("list " + Quote(card_));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const size_t deletedAt = r.output.find("\nDeleted\n");
  ASSERT_NE(deletedAt, std::string::npos) << r.output;
  const std::string root = r.output.substr(0, deletedAt), deleted = r.output.substr(deletedAt);
  EXPECT_NE(root.find("DCIM/100TEST/Sommerfest am Strand.jpg  " +
                      std::to_string(fs::file_size(photos_[0])) + " bytes"),
            std::string::npos)
      << r.output;
  EXPECT_NE(root.find("NOTES.JPG"), std::string::npos);
  EXPECT_EQ(root.find("IMG_0003"), std::string::npos) << "a deleted file is not live";
  EXPECT_NE(deleted.find("_MG_0003.JPG"), std::string::npos) << r.output;
  EXPECT_NE(deleted.find("deleted, condition 1"), std::string::npos) << r.output;
  EXPECT_EQ(deleted.find("IMG_0002"), std::string::npos) << "live files stay out of the deleted tree";

  r = Cli("list " + Quote(card_) + " --deleted-only");
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output.find("\nRoot\n"), std::string::npos);
  EXPECT_NE(r.output.find("_MG_0003.JPG"), std::string::npos);
  EXPECT_EQ(Md5Of(card_), md5);
}

TEST_F(CliFatTest, SavesTheTreeAndTheDeletedPhotoByteForByte) {
  const std::string md5 = Md5Of(card_);
  const fs::path out = dir_ / "out";
  CommandResult r = Cli("save " + Quote(card_) + " -o " + Quote(out));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(Md5Of(out / "Root/DCIM/100TEST/Sommerfest am Strand.jpg"), Md5Of(photos_[0]));
  EXPECT_EQ(Md5Of(out / "Root/DCIM/100TEST/IMG_0002.JPG"), Md5Of(photos_[1]));
  EXPECT_EQ(Md5Of(out / "Root/DCIM/100TEST/_MG_0003.JPG"), Md5Of(photos_[2]));
  EXPECT_EQ(Md5Of(out / "Root/NOTES.JPG"), Md5Of(photos_[3]));

  // Scripts choose what happens to files already there.
  WriteFileBytes(out / "Root/NOTES.JPG", {1, 2, 3});
  r = Cli("save " + Quote(card_) + " -o " + Quote(out) + " --overwrite never");
  EXPECT_EQ(fs::file_size(out / "Root/NOTES.JPG"), 3u) << r.output;
  r = Cli("save " + Quote(card_) + " -o " + Quote(out) + " --overwrite all");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(Md5Of(out / "Root/NOTES.JPG"), Md5Of(photos_[3]));

  const fs::path onlyDeleted = dir_ / "deleted";
  r = Cli("save " + Quote(card_) + " -o " + Quote(onlyDeleted) + " --deleted-only");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(fs::exists(onlyDeleted / "Root/DCIM/100TEST/_MG_0003.JPG"));
  EXPECT_FALSE(fs::exists(onlyDeleted / "Root/DCIM/100TEST/IMG_0002.JPG"));
  EXPECT_FALSE(fs::exists(onlyDeleted / "Root/NOTES.JPG"));
  EXPECT_EQ(Md5Of(card_), md5);
}

TEST_F(CliFatTest, RefusesSourcesWithoutAFatFileSystem) {
  WriteFileBytes(dir_ / "blank.img", std::vector<uint8_t>(1 << 20, 0));
  for (const std::string& args : {"list " + Quote(dir_ / "blank.img"),
                                  "save " + Quote(dir_ / "blank.img") + " -o " + Quote(dir_ / "o")}) {
    CommandResult r = Cli(args);
    EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.output;
    EXPECT_NE(r.output.find("no FAT file system"), std::string::npos) << r.output;
  }
  CommandResult r = Cli("save " + Quote(card_) + " -o " + Quote(dir_ / "o") + " --overwrite maybe");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.output.find("--overwrite"), std::string::npos);
}

}  // namespace
}  // namespace kestrella::test

namespace kestrella::test {
namespace {

// The forensic undelete image: files deleted in Windows, two of them inside a
// deleted folder whose own entries were left as they were.
TEST(CliFatCorpus, ListsAndSavesTheDeletedFilesOfTheUndeleteImage) {
  TempDir dir;
  const fs::path image = UnzipDataImage("6-undel-fat.zip", "6-fat-undel.dd", dir.path());
  const std::string md5 = Md5Of(image);
  CommandResult r = Sh("TMPDIR=" + Quote(dir.path()) + " " + Quote(kCli) + " list " + Quote(image));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  for (const char* name : {"_ing.dat  780 bytes", "_ult1.dat  3801 bytes", "_rag1.dat  1584 bytes",
                           "_rag2.dat  3873 bytes", "_ir1/mult2.dat  1715 bytes",
                           "_ir1/dir2/frag3.dat  2027 bytes"}) {
    EXPECT_NE(r.output.find(name), std::string::npos) << name << "\n" << r.output;
  }
  const fs::path out = dir / "out";
  r = Sh("TMPDIR=" + Quote(dir.path()) + " " + Quote(kCli) + " save " + Quote(image) + " -o " +
         Quote(out) + " --deleted-only");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  // The unfragmented ones come back whole (the MD5s of the image's ground truth).
  EXPECT_EQ(Md5Of(out / "Root/_ing.dat"), "59b20779f69ff9f0ac5fcd2c38835a79");
  EXPECT_EQ(Md5Of(out / "Root/_ult1.dat"), "ffd27bd782bdce67750b6b9ee069d2ef");
  EXPECT_EQ(Md5Of(out / "Root/_ir1/mult2.dat"), "59cf0e9cd107bc1e75afb7374f6e05bb");
  EXPECT_EQ(Md5Of(image), md5);
}

}  // namespace
}  // namespace kestrella::test

namespace kestrella::test {
namespace {

TEST(CliCardTools, WipeAsksFirstThenZeroesAndFormatMakesAFreshCard) {
  TempDir dir;
  const fs::path card = dir / "card.img";
  WriteFileBytes(card, std::vector<uint8_t>(4u << 20, 0x5A));
  const std::string md5 = Md5Of(card);
  // Nobody at the terminal to say yes: nothing is written.
  CommandResult r = Sh(Quote(kCli) + " wipe " + Quote(card) + " < /dev/null");
  EXPECT_EQ(r.exitCode, 2) << r.output;
  EXPECT_EQ(Md5Of(card), md5);

  r = Sh(Quote(kCli) + " wipe " + Quote(card) + " --yes -q");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::vector<uint8_t> bytes = ReadFileBytes(card);
  EXPECT_EQ(bytes.size(), 4u << 20);
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }));

  r = Sh(Quote(kCli) + " format " + Quote(card) + " --fat 12 --label WIPED");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  r = Sh(Quote(kCli) + " drives " + Quote(card));
  EXPECT_NE(r.output.find("FAT12"), std::string::npos) << r.output;
  r = Sh(Quote(kCli) + " format " + Quote(card) + " --fat 13");
  EXPECT_EQ(r.exitCode, 2);
}

}  // namespace
}  // namespace kestrella::test
