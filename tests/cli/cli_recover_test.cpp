// kestrella-cli analyze, recover and partitions end to end.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "support/testsupport.h"

namespace kestrella::test {
namespace {

const std::string kCli = KESTRELLA_CLI_PATH;

CommandResult Sh(const std::string& commandLine) { return kestrella::test::Run(commandLine); }
CommandResult Mtools(const std::string& args) { return Sh("MTOOLS_SKIP_CHECK=1 " + args); }

class CliRecoverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "tmp");
  }
  CommandResult Cli(const std::string& args) {
    return Sh("TMPDIR=" + Quote(dir_ / "tmp") + " " + Quote(kCli) + " " + args);
  }
  fs::path Card(const std::string& name) {
    const fs::path card = dir_ / name;
    EXPECT_EQ(Sh("mkfs.fat -C -F 16 -n CARD " + Quote(card) + " 16384").exitCode, 0);
    return card;
  }
  void Put(const fs::path& card, const fs::path& photo, const std::string& to) {
    ASSERT_EQ(Mtools("mcopy -m -i " + Quote(card) + " " + Quote(photo) + " " + Quote(to)).exitCode, 0);
  }
  fs::path Photo(const std::string& name) { return DataPhoto(name); }

  TempDir dir_;
};

TEST_F(CliRecoverTest, ProposesTheRouteFromWhatTheFoldersStillKnow) {
  const fs::path blank = Card("blank.img");
  CommandResult r = Cli("analyze " + Quote(blank));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Found 0 deleted folders\nFound 0 deleted files\nProposed: the raw scan"),
            std::string::npos)
      << r.output;

  // Folders but no deleted pictures: the folder route, hunting lost files.
  // The live folders steer the route but are not counted as deleted.
  const fs::path folders = Card("folders.img");
  ASSERT_EQ(Mtools("mmd -i " + Quote(folders) + " ::DCIM ::DCIM/100TEST").exitCode, 0);
  r = Cli("analyze " + Quote(folders));
  EXPECT_NE(r.output.find("Found 0 deleted folders\nFound 0 deleted files\n"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("looking for additional lost files"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("recovering the deleted files"), std::string::npos) << r.output;

  Put(folders, Photo("Nikon_D70.jpg"), "::DCIM/100TEST/DSC_0001.JPG");
  Put(folders, Photo("Pentax_K10D.jpg"), "::DCIM/100TEST/DSC_0002.JPG");
  ASSERT_EQ(Mtools("mdel -i " + Quote(folders) + " ::DCIM/100TEST/DSC_0001.JPG ::DCIM/100TEST/DSC_0002.JPG").exitCode, 0);
  r = Cli("analyze " + Quote(folders));
  EXPECT_NE(r.output.find("Found 2 deleted files\nProposed: the folder route"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("recovering the deleted files"), std::string::npos) << r.output;

  // The folder route asked for on a card without a FAT file system has not
  // looked anywhere: that is no clean run.
  ASSERT_EQ(Sh("truncate -s 8M " + Quote(dir_ / "nofat.img")).exitCode, 0);
  r = Cli("recover " + Quote(dir_ / "nofat.img") + " --method folder -q -o " + Quote(dir_ / "nofat"));
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("no FAT file system was found on the drive"), std::string::npos) << r.output;
}

TEST_F(CliRecoverTest, CountsOnlyTheDeletedFolders) {
  // Live folders on the way to a deleted one, or beside it, are listed in
  // the deleted tree too; they must not raise the count.
  const struct {
    const char* card;
    const char* deleteTree;  // removed with everything in it, or none
    const char* expected;
  } cases[] = {
      {"live.img", nullptr, "Found 0 deleted folders\nFound 0 deleted files\n"},
      {"onegone.img", "::DCIM/101TEST", "Found 1 deleted folders\nFound 1 deleted files\n"},
      {"nested.img", "::DCIM/100TEST/OLD", "Found 1 deleted folders\nFound 1 deleted files\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.card);
    const fs::path card = Card(c.card);
    ASSERT_EQ(Mtools("mmd -i " + Quote(card) + " ::DCIM ::DCIM/100TEST ::DCIM/100TEST/OLD ::DCIM/101TEST")
                  .exitCode, 0);
    Put(card, Photo("Nikon_D70.jpg"), "::DCIM/100TEST/DSC_0001.JPG");
    if (c.deleteTree != nullptr) {
      Put(card, Photo("Pentax_K10D.jpg"), std::string(c.deleteTree) + "/DSC_0002.JPG");
      ASSERT_EQ(Mtools("mdeltree -i " + Quote(card) + " " + c.deleteTree).exitCode, 0);
    }
    const CommandResult r = Cli("analyze " + Quote(card));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find(c.expected), std::string::npos) << r.output;
  }
}

TEST_F(CliRecoverTest, RecoversTheDemoCardByTheFolderRouteWithTheLostFileHunt) {
  const fs::path card = dir_ / "demo.img";
  ASSERT_EQ(Sh("gunzip -c " + Quote(fs::path(KESTRELLA_SOURCE_DIR) / "samples/demo-card.img.gz") +
               " > " + Quote(card)).exitCode, 0);
  const std::string md5 = Md5Of(card);
  const fs::path out = dir_ / "out";
  CommandResult r = Cli("recover " + Quote(card) + " -o " + Quote(out) + " --lost");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  // The deleted photo its folder still describes, whole, under its folder
  // and name (the deleted first letter has no long name to come back from).
  EXPECT_EQ(Md5Of(out / "DCIM/101DEMO/_EST0102.JPG"), Md5Of(Photo("Konica_Minolta_DiMAGE_Z3.jpg")));
  // The five photos the quick format left intact, as lost files named by
  // their first cluster, each cut where the photo ends.
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(out / "lost")) found.push_back(e.path());
  std::sort(found.begin(), found.end());
  const std::vector<std::string> lost = {"Canon_40D.jpg", "exif-org_kodak-dc240.jpg",
                                         "Panasonic_DMC-FZ30.jpg", "Samsung_Digimax_i50_MP3.jpg",
                                         "Kodak_CX7530.jpg"};
  ASSERT_EQ(found.size(), lost.size()) << r.output;
  for (size_t i = 0; i < lost.size(); ++i) {
    EXPECT_EQ(found[i].filename().string().rfind("JPG-cluster-", 0), 0u) << found[i];
    EXPECT_EQ(Md5Of(found[i]), Md5Of(Photo(lost[i]))) << found[i] << " is not " << lost[i];
  }
  EXPECT_TRUE(NoRunFolderIn(out));
  EXPECT_EQ(Md5Of(card), md5);
  // It ends with the window's summary; the lost files were hunted, so no
  // hint to look further.
  EXPECT_NE(r.output.find("Found: 6 files\nSaved: 6 files into " + out.string() + "\n"), std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("More photos may be on the card"), std::string::npos) << r.output;
}

TEST_F(CliRecoverTest, KeepsTheCardsFoldersNamesAndTimes) {
  // Cameras number every folder from IMG_0001 again, in short names only: a
  // deleted one's first letter is gone. A long name keeps all of it.
  const fs::path card = Card("dcim.img");
  ASSERT_EQ(Mtools("mmd -i " + Quote(card) + " ::DCIM ::DCIM/100CANON ::DCIM/101CANON").exitCode, 0);
  Put(card, Photo("Canon_40D.jpg"), "::DCIM/100CANON/IMG_0001.JPG");
  Put(card, Photo("Canon_DIGITAL_IXUS_400.jpg"), "::DCIM/101CANON/IMG_0001.JPG");
  Put(card, Photo("Nikon_D70.jpg"), "::DCIM/Beach at noon.jpg");
  ASSERT_EQ(Mtools("mdel -i " + Quote(card) + " ::DCIM/100CANON/IMG_0001.JPG ::DCIM/101CANON/IMG_0001.JPG" +
                   " '::DCIM/Beach at noon.jpg'").exitCode, 0);
  const fs::path out = dir_ / "out";
  CommandResult r = Cli("recover " + Quote(card) + " -o " + Quote(out) + " --method folder");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  // The hand-over of what the folders name shows before it is done.
  EXPECT_NE(r.output.find("  0%  1 found\n"), std::string::npos) << r.output;
  // Each under its own folder, with the time the card kept (mcopy -m gave
  // the entries the photos' times; FAT keeps even seconds).
  const struct {
    const char* saved;
    const char* photo;
  } photos[] = {{"DCIM/100CANON/_MG_0001.JPG", "Canon_40D.jpg"},
                {"DCIM/101CANON/_MG_0001.JPG", "Canon_DIGITAL_IXUS_400.jpg"},
                {"DCIM/Beach at noon.jpg", "Nikon_D70.jpg"}};
  for (const auto& p : photos) {
    EXPECT_EQ(Md5Of(out / p.saved), Md5Of(Photo(p.photo))) << p.saved;
    struct stat saved {}, taken {};
    ASSERT_EQ(::stat((out / p.saved).c_str(), &saved), 0) << p.saved;
    ASSERT_EQ(::stat(Photo(p.photo).c_str(), &taken), 0);
    EXPECT_EQ(saved.st_mtim.tv_sec, taken.st_mtim.tv_sec - taken.st_mtim.tv_sec % 2) << p.saved;
  }

  // The raw scan finds both as well.
  r = Cli("recover " + Quote(card) + " -o " + Quote(dir_ / "scan") + " --method scan -q");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "scan/found-by-scan"), fs::directory_iterator{}), 3);
}

// A formatted card with no folder left: the hunt finds each photo by its
// first bytes and cuts it where it ends. A picture inside one that begins a
// cluster (as some cameras' Exif previews do) is part of it, not a lost photo
// of its own.
TEST_F(CliRecoverTest, TheLostFileHuntGivesEachPhotoWholeAndOnce) {
  const fs::path card = dir_ / "bare.img";
  ASSERT_EQ(Sh("mkfs.fat -C -F 16 -s 1 " + Quote(card) + " 16384").exitCode, 0);
  // This Canon photo with a comment segment after its JFIF header, just long
  // enough to move its Exif preview onto a sector boundary.
  std::vector<uint8_t> canon = ReadFileBytes(Photo("Canon_PowerShot_S40.jpg"));
  const auto preview = std::search(canon.begin() + 3, canon.end(), canon.begin(), canon.begin() + 3);
  ASSERT_NE(preview, canon.end());
  const size_t pad = 512 - static_cast<size_t>(preview - canon.begin()) % 512;
  ASSERT_GE(pad, 4u);
  std::vector<uint8_t> comment = {0xFF, 0xFE, static_cast<uint8_t>((pad - 2) >> 8),
                                  static_cast<uint8_t>(pad - 2)};
  comment.resize(pad, 0);
  canon.insert(canon.begin() + 20, comment.begin(), comment.end());  // after SOI and APP0
  WriteFileBytes(dir_ / "canon.jpg", canon);
  const std::vector<fs::path> photos = {dir_ / "canon.jpg", Photo("Nikon_D70.jpg")};
  for (const fs::path& p : photos) Put(card, p, "::" + p.filename().string());
  ASSERT_EQ(Sh("mkfs.fat -F 16 -s 1 " + Quote(card)).exitCode, 0);
  const fs::path out = dir_ / "out";
  const CommandResult r = Cli("recover " + Quote(card) + " -o " + Quote(out) + " --method folder --lost -q");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::vector<std::string> got, want;
  for (const auto& e : fs::directory_iterator(out / "lost")) got.push_back(Md5Of(e.path()));
  for (const fs::path& p : photos) want.push_back(Md5Of(p));
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want) << r.output;
}

TEST_F(CliRecoverTest, ListsThePartitionsOfADiskImage) {
  const fs::path image = UnzipDataImage("1-extend-part.zip", "ext-part-test-2.dd", dir_.path());
  const std::string md5 = Md5Of(image);
  CommandResult r = Cli("partitions " + Quote(image));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  size_t at = 0;
  for (const char* row : {"start         63  sectors      52353  FAT16",
                          "start      52416  sectors      52416  FAT16",
                          "start     104832  sectors      52416  FAT16",
                          "start     157311  sectors      52353  FAT16",
                          "start     209727  sectors      52353  FAT16",
                          "start     262143  sectors      50337  FAT16"}) {
    at = r.output.find(row, at);
    ASSERT_NE(at, std::string::npos) << row << "\n" << r.output;
  }
  r = Cli("partitions " + Quote(image) + " --lost-drives 0 70000");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("lost drives found: 0"), std::string::npos) << r.output;
  // A whole disk takes minutes: the search says from its first sector on
  // how far it is.
  EXPECT_NE(r.output.find("  0%  sector 0 of 70000\n"), std::string::npos) << r.output;
  // The FAT commands take one of them by number, and ask for one when there
  // are several.
  const struct {
    const char* options;
    int exitCode;
    const char* told;
  } choices[] = {{"", 2, "holds 6 FAT partitions: choose one with --partition N"},
                 {" --partition 2", 0, "Root"},
                 {" --partition 7", 2, "has 6 FAT partitions, so no partition 7"}};
  for (const auto& c : choices) {
    r = Cli("list " + Quote(image) + c.options);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.options << "\n" << r.output;
    EXPECT_NE(r.output.find(c.told), std::string::npos) << c.options << "\n" << r.output;
  }
  EXPECT_EQ(Md5Of(image), md5);
}

// A stick partitioned with a GUID table: its one FAT partition is found and
// its deleted photo recovered by the folder route.
TEST_F(CliRecoverTest, RecoversFromTheFatPartitionOfAGuidPartitionedDisk) {
  const fs::path image = dir_ / "gpt.img";
  std::vector<uint8_t> head(34 * 512, 0);
  auto put = [&](size_t at, uint64_t v, size_t n) {
    for (size_t k = 0; k < n; ++k) head[at + k] = static_cast<uint8_t>(v >> (8 * k));
  };
  head[446 + 4] = 0xEE;  // the protective entry over the whole disk
  put(446 + 8, 1, 4);
  put(446 + 12, 32767, 4);
  head[510] = 0x55;
  head[511] = 0xAA;
  const std::string signature = "EFI PART";
  std::copy(signature.begin(), signature.end(), head.begin() + 512);
  put(512 + 72, 2, 8);    // entries from sector 2
  put(512 + 80, 128, 4);  // 128 of them
  put(512 + 84, 128, 4);  // of 128 bytes
  const uint8_t basicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                 0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
  std::copy(std::begin(basicData), std::end(basicData), head.begin() + 1024);
  put(1024 + 32, 2048, 8);   // first sector
  put(1024 + 40, 32733, 8);  // last sector
  WriteFileBytes(image, head);
  ASSERT_EQ(Sh("truncate -s 16M " + Quote(image)).exitCode, 0);
  ASSERT_EQ(Sh("mkfs.fat -F 16 --offset 2048 " + Quote(image) + " 15343").exitCode, 0);
  Put(image.string() + "@@1M", Photo("Nikon_D70.jpg"), "::DSC_0001.JPG");
  ASSERT_EQ(Mtools("mdel -i " + Quote(image.string() + "@@1M") + " ::DSC_0001.JPG").exitCode, 0);

  const fs::path out = dir_ / "out";
  const CommandResult r = Cli("recover " + Quote(image) + " -o " + Quote(out));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("using the FAT partition of"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("by the folder route"), std::string::npos) << r.output;
  EXPECT_EQ(Md5Of(out / "_SC_0001.JPG"), Md5Of(Photo("Nikon_D70.jpg"))) << r.output;
}

}  // namespace
}  // namespace kestrella::test
