// kestrella-cli as a user who may not open the card's device: the card is
// opened through UDisks2 (a stand-in on a private bus) and read as if opened
// directly; a refusal is told plainly. The device is a block-device node only
// root may open, which the stand-in answers with a card image.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include "support/fakeudisks.h"
#include "support/testsupport.h"

namespace kestrella::test {
namespace {

CommandResult Sh(const std::string& commandLine) { return kestrella::test::Run(commandLine); }

class CliUDisksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || Sh("command -v setpriv").exitCode != 0)
      GTEST_SKIP() << "needs root and setpriv to run kestrella-cli as another user";
    if (!MakeRootOnlyNode(dir_ / "sdk") || !MakeRootOnlyNode(dir_ / "sdr"))
      GTEST_SKIP() << "device nodes cannot be made here";
    ::chmod(dir_.path().c_str(), 0755);
    for (const char* open : {"out", "tmp"}) {
      fs::create_directories(dir_ / open);
      ::chmod((dir_ / open).c_str(), 0777);
    }
    card_ = dir_ / "card.img";
    ASSERT_TRUE(MakeRootOnlyCard(card_));
  }

  // kestrella-cli as nobody, outside every group.
  CommandResult Cli(const std::string& args) {
    return Sh("HOME=" + Quote((dir_ / "tmp").string()) + " TMPDIR=" + Quote((dir_ / "tmp").string()) +
              " setpriv --reuid=65534 --regid=65534 --clear-groups " + Quote(KESTRELLA_CLI_PATH) + " " +
              args);
  }

  TempDir dir_;
  fs::path card_;
};

TEST_F(CliUDisksTest, ACardThisUserMayNotOpenIsReadThroughUDisks) {
  const std::string card = (dir_ / "sdk").string(), refused = (dir_ / "sdr").string();
  FakeUDisks::Setup setup;
  setup.cards = {{card, card_.string()}, {refused, card_.string()}};
  setup.refused = {refused};
  FakeUDisks service(setup);
  if (!service.Running()) GTEST_SKIP() << "dbus-daemon is not installed";

  // Listed as needing permission, not as unreadable: nobody is asked yet.
  CommandResult r = Cli("drives " + Quote(card));
  EXPECT_NE(r.output.find(": needs permission\nKestrella asks the system for permission to read " + card),
            std::string::npos)
      << r.output;

  // The FAT route and the raw scan both read the card through the
  // descriptor UDisks2 handed over.
  r = Cli("list " + Quote(card));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("P102.JPG"), std::string::npos) << r.output;
  r = Cli("scan " + Quote(card) + " -o " + Quote((dir_ / "out").string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("files found:  3"), std::string::npos) << r.output;

  // Wipe writes through a descriptor UDisks2 opened for writing.
  r = Cli("wipe " + Quote(card) + " --yes -q");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::vector<uint8_t> wiped = ReadFileBytes(card_);
  EXPECT_EQ(std::count(wiped.begin(), wiped.end(), 0), static_cast<std::ptrdiff_t>(wiped.size()));

  r = Cli("scan " + Quote(refused) + " -o " + Quote((dir_ / "out").string()));
  EXPECT_EQ(r.exitCode, 2) << r.output;
  EXPECT_NE(r.output.find("Permission to read " + refused + " was refused."), std::string::npos) << r.output;
  r = Cli("wipe " + Quote(refused) + " --yes -q");
  EXPECT_NE(r.exitCode, 0) << r.output;
  // Wipe is refused plainly too, whether at the read or the write request.
  EXPECT_NE(r.output.find(" " + refused + " was refused."), std::string::npos) << r.output;
}

}  // namespace
}  // namespace kestrella::test
