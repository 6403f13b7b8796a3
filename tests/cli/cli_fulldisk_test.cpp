// kestrella-cli writing into a really full file system: a tiny tmpfs mounted
// in a private mount namespace (unshare -rm, no root needed). The runs must
// name every file that did not fit, keep the ones that did intact, keep the
// found files that could not be saved, and end with exit status 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace kestrella::test {
namespace {

const std::string kCli = KESTRELLA_CLI_PATH;
using Bytes = std::vector<uint8_t>;

CommandResult Sh(const std::string& commandLine) { return kestrella::test::Run(commandLine); }
CommandResult Mtools(const std::string& args) { return Sh("MTOOLS_SKIP_CHECK=1 " + args); }

// On the card in this order, one after the other; sizes 14034, 12077,
// 32764 and 10769 bytes: 4, 3, 8 and 3 pages of 4 KiB.
const std::vector<std::string> kPhotos = {"Nikon_D70.jpg", "Pentax_K10D.jpg", "Canon_PowerShot_S40.jpg",
                                          "Panasonic_DMC-FZ30.jpg"};

Bytes PhotoBytes(size_t i) { return ReadFileBytes(DataPhoto(kPhotos[i])); }
bool BeginsWith(const Bytes& whole, const Bytes& start) {
  return whole.size() >= start.size() && std::equal(start.begin(), start.end(), whole.begin());
}
std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> out;
  if (!fs::exists(folder)) return out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

class CliFullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Sh("unshare -rm true").exitCode != 0) GTEST_SKIP() << "unshare -rm is not permitted here: no private tmpfs";
    fs::create_directories(mnt_);
    fs::create_directories(tmp_);
    card_ = dir_ / "card.img";
    ASSERT_EQ(Sh("mkfs.fat -C -F 16 -s 2 -n CARD " + Quote(card_) + " 8192").exitCode, 0);
    for (size_t i = 0; i < kPhotos.size(); ++i) {
      ASSERT_EQ(Mtools("mcopy -i " + Quote(card_) + " " + Quote(DataPhoto(kPhotos[i])) +
                       " ::P" + std::to_string(i) + ".JPG").exitCode, 0);
    }
  }

  // Runs kestrella-cli ARGS (MNT standing for the tmpfs) with a tmpfs of
  // `size` mounted and the found files kept in `tmpdir` (none: in the
  // destination); what the tmpfs held afterwards is copied to kept_.
  CommandResult RunOnTmpfs(const std::string& size, const std::string& args, std::string tmpdir) {
    std::string command = args;
    for (size_t at; (at = command.find("MNT")) != std::string::npos;) command.replace(at, 3, mnt_.string());
    if (tmpdir == "MNT") tmpdir = Quote(mnt_);
    const std::string script =
        "mount -t tmpfs -o size=" + size + " tmpfs " + Quote(mnt_) + " || exit 99; " +
        Quote(kCli) + " " + command + (tmpdir.empty() ? "" : " --temp " + tmpdir) + " >" + Quote(dir_ / "log") + " 2>&1; " +
        "echo $? >" + Quote(dir_ / "rc") + "; mkdir -p " + Quote(kept_) + " && cp -a " + Quote(mnt_) + "/. " +
        Quote(kept_);
    const CommandResult shell = Sh("unshare -rm sh -c " + Quote(script));
    CommandResult r;
    if (shell.exitCode != 0) {
      r.output = "the namespace failed: " + shell.output;
      return r;
    }
    const Bytes rc = ReadFileBytes(dir_ / "rc"), log = ReadFileBytes(dir_ / "log");
    r.exitCode = std::stoi(std::string(rc.begin(), rc.end()));
    r.output.assign(log.begin(), log.end());
    return r;
  }

  TempDir dir_;
  fs::path mnt_ = dir_ / "mnt", tmp_ = dir_ / "tmp", kept_ = dir_ / "kept";
  fs::path card_;
};

TEST_F(CliFullDiskTest, ScanIntoAFullDestination) {
  // 40 KiB: room for the first two found files and the fourth, not the
  // third (the files end where their photos do).
  const CommandResult r = RunOnTmpfs("40k", "scan " + Quote(card_) + " --names numbered -o MNT/dest", Quote(tmp_));
  ASSERT_EQ(r.exitCode, 1) << r.output;
  EXPECT_EQ(Names(kept_ / "dest"), (std::vector<std::string>{"image1.JPG", "image2.JPG", "image4.JPG"}))
      << r.output;
  for (size_t i : {0, 1, 3})
    EXPECT_EQ(ReadFileBytes(kept_ / "dest" / ("image" + std::to_string(i + 1) + ".JPG")), PhotoBytes(i));
  // The found file was not thrown away: its run's folder stays.
  const std::vector<std::string> left = Names(tmp_);
  ASSERT_EQ(left.size(), 1u);
  const fs::path runFolder = tmp_ / left[0];
  const std::string tempCopy = (runFolder / "image3.JPG").string();
  EXPECT_NE(r.output.find("could not save " + tempCopy), std::string::npos) << r.output;
  EXPECT_EQ(ReadFileBytes(tempCopy), PhotoBytes(2));
  EXPECT_NE(r.output.find("No space left on device"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("saved:        3 into"), std::string::npos) << r.output;

  // Offered again, saved with room, and gone once saved.
  const std::string cli = Quote(kCli);
  const CommandResult listed = Sh(cli + " leftovers " + Quote(tmp_));
  EXPECT_EQ(listed.exitCode, 0) << listed.output;
  EXPECT_NE(listed.output.find(runFolder.string() + "\t1 files"), std::string::npos) << listed.output;
  const CommandResult noted =
      Sh(cli + " scan " + Quote(card_) + " -q -o " + Quote(dir_ / "again") + " --temp " + Quote(tmp_));
  EXPECT_NE(noted.output.find("still in " + runFolder.string() + " (1 files)"), std::string::npos)
      << noted.output;
  const CommandResult saved =
      Sh(cli + " leftovers " + Quote(tmp_) + " --save " + Quote(dir_ / "later") + " --names numbered");
  EXPECT_EQ(saved.exitCode, 0) << saved.output;
  EXPECT_EQ(ReadFileBytes(dir_ / "later" / "image1.JPG"), PhotoBytes(2));
  EXPECT_FALSE(fs::exists(runFolder));
}

TEST_F(CliFullDiskTest, ScanWithAFullTemporaryFolder) {
  // The third found file gets only part of itself, the fourth nothing.
  const fs::path dest = dir_ / "dest";
  const CommandResult r = RunOnTmpfs("40k", "scan " + Quote(card_) + " --names numbered -o " + Quote(dest), "MNT");
  ASSERT_EQ(r.exitCode, 1) << r.output;
  EXPECT_EQ(Names(dest), (std::vector<std::string>{"image1.JPG", "image2.JPG", "image3.JPG"})) << r.output;
  EXPECT_TRUE(BeginsWith(ReadFileBytes(dest / "image1.JPG"), PhotoBytes(0)));
  EXPECT_TRUE(BeginsWith(ReadFileBytes(dest / "image2.JPG"), PhotoBytes(1)));
  // The cut-off one is named by the name it was saved as.
  EXPECT_NE(r.output.find((dest / "image3.JPG").string() + ": only partly written (No space left on device)"),
            std::string::npos)
      << r.output;
  // In the run's own folder on the full file system.
  const size_t runFolder = r.output.find("not saved: " + mnt_.string() + "/.kestrella-");
  ASSERT_NE(runFolder, std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("/image4.JPG: No space left on device", runFolder),
            runFolder + std::string("not saved: ").size() + mnt_.string().size() + 18)
      << r.output;
  EXPECT_NE(r.output.find("not written:  2"), std::string::npos) << r.output;
}

TEST_F(CliFullDiskTest, FolderRouteWithAFullTemporaryFolder) {
  Mtools("mdel -i " + Quote(card_) + " ::P0.JPG ::P1.JPG ::P2.JPG ::P3.JPG");
  // 44 KiB: the first, second and fourth photo fit, the third does not.
  const fs::path dest = dir_ / "dest";
  const CommandResult r =
      RunOnTmpfs("44k", "recover " + Quote(card_) + " --method folder -o " + Quote(dest), "MNT");
  ASSERT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("not saved: _2.JPG: No space left on device"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("not written:  1"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("saved:        3 into"), std::string::npos) << r.output;
  const std::vector<std::string> saved = Names(dest);
  ASSERT_EQ(saved.size(), 3u) << r.output;
  for (size_t i : {0, 1, 3}) {
    bool found = false;
    for (const std::string& s : saved) found = found || ReadFileBytes(dest / s) == PhotoBytes(i);
    EXPECT_TRUE(found) << kPhotos[i];
  }
  // Nothing cut short was left in the temporary folder.
  EXPECT_EQ(Names(kept_), std::vector<std::string>{}) << r.output;
}

TEST_F(CliFullDiskTest, SavingTheTreeStopsWhereTheSpaceEnds) {
  const CommandResult r = RunOnTmpfs("44k", "save " + Quote(card_) + " -o MNT/dest", "");
  ASSERT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("Stopped saving"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("not saved: " + mnt_.string() + "/dest/Root/P2.JPG: not enough free space"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(Names(kept_ / "dest" / "Root"), (std::vector<std::string>{"P0.JPG", "P1.JPG"}));
  EXPECT_EQ(ReadFileBytes(kept_ / "dest" / "Root" / "P0.JPG"), PhotoBytes(0));
  EXPECT_EQ(ReadFileBytes(kept_ / "dest" / "Root" / "P1.JPG"), PhotoBytes(1));
}

}  // namespace
}  // namespace kestrella::test
