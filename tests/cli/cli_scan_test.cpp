// kestrella-cli end to end: a real FAT card built with mkfs.fat and mtools,
// photos deleted and the card quick-formatted, then scanned back.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "support/testsupport.h"

namespace kestrella::test {
namespace {

const std::string kCli = KESTRELLA_CLI_PATH;

// The fixture base class has a Run of its own.
CommandResult Sh(const std::string& commandLine) { return kestrella::test::Run(commandLine); }

CommandResult Mtools(const std::string& args) { return Sh("MTOOLS_SKIP_CHECK=1 " + args); }

class CliScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = dir_ / "card.img";
    temp_ = dir_ / "tmp";
    fs::create_directories(temp_);
  }

  // A 16 MiB FAT16 card holding `photos` in DCIM/100TEST, of which the ones
  // at the indexes in `deleted` are deleted, then quick-formatted.
  void BuildCard(const std::vector<fs::path>& photos, const std::vector<size_t>& deleted) {
    ASSERT_EQ(Sh("truncate -s 16M " + Quote(card_)).exitCode, 0);
    ASSERT_EQ(Sh("mkfs.fat -F 16 -n TESTCARD " + Quote(card_)).exitCode, 0);
    ASSERT_EQ(Mtools("mmd -i " + Quote(card_) + " ::DCIM ::DCIM/100TEST").exitCode, 0);
    for (size_t i = 0; i < photos.size(); ++i) {
      const std::string name = "::DCIM/100TEST/P" + std::to_string(1000 + i) + ".JPG";
      ASSERT_EQ(Mtools("mcopy -i " + Quote(card_) + " " + Quote(photos[i]) + " " + name).exitCode, 0);
    }
    for (size_t i : deleted) {
      const std::string name = "::DCIM/100TEST/P" + std::to_string(1000 + i) + ".JPG";
      ASSERT_EQ(Mtools("mdel -i " + Quote(card_) + " " + name).exitCode, 0);
    }
    // Formatting again rewrites boot sector, tables and root folder only.
    CommandResult fmt = Sh("mkfs.fat -F 16 -n TESTCARD " + Quote(card_));
    ASSERT_EQ(fmt.exitCode, 0) << fmt.output;
  }

  CommandResult Cli(const std::string& args) {
    return Sh("TMPDIR=" + Quote(temp_) + " " + Quote(kCli) + " " + args);
  }

  TempDir dir_;
  fs::path card_, temp_;
};

TEST_F(CliScanTest, RecoversEveryPhotoOfAFormattedCardWithoutTouchingIt) {
  std::vector<fs::path> photos = DataPhotos();
  ASSERT_GE(photos.size(), 12u);
  photos.resize(12);
  BuildCard(photos, {1, 4, 7});
  fs::permissions(card_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string md5 = Md5Of(card_);

  const fs::path out = dir_ / "out";
  CommandResult r = Cli("scan " + Quote(card_) + " -o " + Quote(out));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("files found:  12"), std::string::npos) << r.output;
  EXPECT_EQ(Md5Of(card_), md5);

  // Each photo comes back whole and nothing more, named by its first sector:
  // in card order, which is the order they were copied in.
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(out / "found-by-scan")) found.push_back(e.path());
  auto sector = [](const fs::path& p) {
    const std::string stem = p.stem().string();
    return std::stoul(stem.substr(stem.rfind('-') + 1));
  };
  std::sort(found.begin(), found.end(), [&](auto& a, auto& b) { return sector(a) < sector(b); });
  ASSERT_EQ(found.size(), photos.size()) << r.output;
  for (size_t i = 0; i < photos.size(); ++i) {
    EXPECT_EQ(found[i].filename().string().rfind("JPG-sector-", 0), 0u) << found[i];
    EXPECT_EQ(Md5Of(found[i]), Md5Of(photos[i])) << found[i] << " is not " << photos[i];
  }
  // The run's hidden folder in the destination is gone once saved.
  EXPECT_TRUE(NoRunFolderIn(out));

  // Numbered names, in card order; a second run into the same folder passes
  // over the names already taken.
  r = Cli("scan " + Quote(card_) + " -o " + Quote(out) + " -q --prefix image");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  for (size_t i = 0; i < photos.size(); ++i)
    EXPECT_EQ(Md5Of(out / ("image" + std::to_string(i + 1) + ".JPG")), Md5Of(photos[i]));
  EXPECT_FALSE(fs::exists(out / "image13.JPG"));
  r = Cli("scan " + Quote(card_) + " -o " + Quote(out) + " -q --names numbered");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(fs::exists(out / "image24.JPG"));
  EXPECT_FALSE(fs::exists(out / "image25.JPG"));

  r = Cli("drives " + Quote(card_));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.output.find("FAT16"), std::string::npos) << r.output;
  EXPECT_EQ(Md5Of(card_), md5);
}

TEST_F(CliScanTest, ReadsPastSector2To32ToTheEndOfAPartialLastSector) {
  // A sparse image of 2^32 + 8 whole sectors and 300 bytes: a photo past
  // sector 2^32, and the start of one in the partial last sector, which is
  // cut where the image ends.
  const uint64_t base = 1ull << 32;
  const std::vector<uint8_t> whole = ReadFileBytes(DataPhoto("Olympus_C8080WZ.jpg"));
  const std::vector<uint8_t> other = ReadFileBytes(DataPhoto("Sony_HDR-HC3.jpg"));
  const std::vector<uint8_t> cut(other.begin(), other.begin() + 300);
  ASSERT_EQ(Sh("truncate -s " + std::to_string((base + 8) * 512 + 300) + " " + Quote(card_)).exitCode, 0);
  {
    std::fstream f(card_, std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [sector, bytes] : {std::pair{base + 1, &whole}, std::pair{base + 8, &cut}}) {
      f.seekp(static_cast<std::streamoff>(sector * 512));
      f.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
    }
  }
  const fs::path out = dir_ / "out";
  // Begun near the end: 2 TiB of zeros would take hours.
  CommandResult r = Cli("scan " + Quote(card_) + " -o " + Quote(out) + " --from " + std::to_string(base));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Finished at sector 4294967305 of 4294967305."), std::string::npos) << r.output;
  EXPECT_EQ(ReadFileBytes(out / "found-by-scan" / "JPG-sector-4294967297.JPG"), whole);
  EXPECT_EQ(ReadFileBytes(out / "found-by-scan" / "JPG-sector-4294967304.JPG"), cut);
}

TEST_F(CliScanTest, RefusesBadSourcesAndDestinationsWithClearErrors) {
  BuildCard({DataPhotos().front()}, {});
  const std::string md5 = Md5Of(card_);
  struct Case {
    std::string args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"scan " + Quote(dir_ / "missing.img") + " -o " + Quote(dir_ / "o"), "cannot open"},
      {"scan " + Quote(card_) + " -o " + Quote(card_), "is the card image"},
      {"scan " + Quote(card_) + " -o " + Quote(card_ / "sub"), "is the card image"},
      {"scan " + Quote(card_) + " -o " + Quote(dir_ / "card.img" / ".." / "card.img"), "is the card image"},
      // A sibling whose name merely begins with the image's name is fine.
      {"scan " + Quote(card_) + " -o " + Quote(dir_ / "card.img-out"), ""},
      {"scan " + Quote(card_), "-o DEST"},
      {"scan " + Quote(card_) + " -o " + Quote(dir_ / "o") + " --retries 0", "--retries"},
      {"scan " + Quote(card_) + " -o " + Quote(dir_ / "o") + " --sectors-at-once 4000", "--sectors-at-once"},
      {"scan " + Quote(card_) + " -o " + Quote(dir_ / "o") + " --from 32768", "--from wants a whole number from 0 to 32767"},
      {"scan " + Quote(card_) + " -o " + Quote(dir_ / "o") + " --bogus", "unknown option"},
      {"scan " + Quote(dir_.path()) + " -o " + Quote(dir_ / "o"), "neither a card image"},
      {"scan Q: -o " + Quote(dir_ / "o"), "no drive Q:"},
      {"frobnicate", "unknown command"},
  };
  for (const Case& c : cases) {
    CommandResult r = Cli(c.args);
    if (c.expected.empty()) {
      EXPECT_EQ(r.exitCode, 0) << c.args << "\n" << r.output;
      continue;
    }
    EXPECT_EQ(r.exitCode, 2) << c.args << "\n" << r.output;
    EXPECT_NE(r.output.find(c.expected), std::string::npos) << c.args << "\n" << r.output;
  }
  EXPECT_EQ(Md5Of(card_), md5);

  // A destination that cannot be created: below a regular file.
  WriteFileBytes(dir_ / "plain", {1, 2, 3});
  CommandResult r = Cli("scan " + Quote(card_) + " -o " + Quote(dir_ / "plain" / "out"));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.output.find("cannot create the destination folder"), std::string::npos) << r.output;

  // A temporary folder that does not exist.
  r = Cli("scan " + Quote(card_) + " -o " + Quote(dir_ / "o2") + " --temp " + Quote(dir_ / "no-such-tmp"));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.output.find("temporary folder"), std::string::npos) << r.output;

  for (const char* cmd : {"--help", "scan --help", "drives --help"}) {
    r = Cli(cmd);
    EXPECT_EQ(r.exitCode, 0) << cmd;
    EXPECT_NE(r.output.find("usage:"), std::string::npos) << cmd;
  }
  EXPECT_EQ(Md5Of(card_), md5);
}

}  // namespace

// Ctrl+C, SIGTERM and SIGHUP stop the scan after the sector in hand; what
// was found is saved whole, the run's folder goes, and the exit status
// names the signal as a shell would.
TEST_F(CliScanTest, AStopSignalEndsTheScanAndSavesWhatWasFound) {
  const fs::path photo = DataPhotos().front();
  // A large empty card with one photo near its start: the scan is still
  // reading when the signal comes.
  ASSERT_EQ(Sh("truncate -s 4G " + Quote(card_)).exitCode, 0);
  ASSERT_EQ(Sh("dd if=" + Quote(photo) + " of=" + Quote(card_) + " bs=512 seek=8 conv=notrunc").exitCode, 0);
  for (const auto& [name, number] : {std::pair{"INT", 2}, std::pair{"TERM", 15}, std::pair{"HUP", 1}}) {
    SCOPED_TRACE(name);
    const fs::path dest = dir_ / name, log = dir_ / (std::string(name) + ".log");
    const std::string script = Quote(kCli) + " scan " + Quote(card_) + " -o " + Quote(dest) +
                               " --sectors-at-once 1 >" + Quote(log) + " 2>&1 & pid=$!; " +
                               // once the photo's file is closed: its line is in the manifest
                               "i=0; until cat " + Quote(dest) + "/.kestrella-*/manifest 2>/dev/null | grep -q JPG "
                               "|| [ $i -ge 400 ]; do sleep 0.05; i=$((i+1)); done; " +
                               "kill -" + name + " $pid; wait $pid";
    const CommandResult r = Sh(script);
    const std::vector<uint8_t> told = ReadFileBytes(log);
    const std::string output(told.begin(), told.end());
    EXPECT_EQ(r.exitCode, 128 + number) << output;
    EXPECT_NE(output.find("Stopped at sector"), std::string::npos) << output;
    EXPECT_EQ(Md5Of(dest / "found-by-scan" / "JPG-sector-8.JPG"), Md5Of(photo)) << output;
    EXPECT_TRUE(NoRunFolderIn(dest));
  }
}

}  // namespace kestrella::test
