// The UDisks2 client against a stand-in service on a private bus: which
// failed opens it is asked about, the descriptors it hands over, and what
// the user reads when it cannot help.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

#include "diskio/udisks.h"
#include "support/fakeudisks.h"

namespace kestrella::test {
namespace {

TEST(UDisksClientTest, OnlyAPermissionRefusalOfABlockDeviceToAUserIsAskedAbout) {
  const struct {
    int err;
    bool block, root, ask;
  } cases[] = {
      {EACCES, true, false, true},     {EPERM, true, false, true},   {EACCES, false, false, false},
      {EACCES, true, true, false},     {ENOMEDIUM, true, false, false}, {EBUSY, true, false, false},
      {ENOENT, true, false, false},    {EROFS, true, false, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AskBrokerAfter(c.err, c.block, c.root), c.ask) << c.err << " " << c.block << " " << c.root;
}

class UDisksServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_ / "card.img";
    std::vector<uint8_t> bytes(65536);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    WriteFileBytes(image_, bytes);
  }

  TempDir dir_;
  fs::path image_;
};

TEST_F(UDisksServiceTest, HandsOverTheDeviceOrSaysPlainlyWhyNot) {
  FakeUDisks::Setup setup;
  setup.cards = {{"/dev/sdk", image_.string()}, {"/dev/sdr", image_.string()},
                 {"/dev/sdn", image_.string()}};
  setup.refused = {"/dev/sdr"};
  setup.noAgent = {"/dev/sdn"};
  FakeUDisks service(setup);
  if (!service.Running()) GTEST_SKIP() << "dbus-daemon is not installed";

  UDisksClient client;
  EXPECT_TRUE(client.Knows("/dev/sdk"));
  EXPECT_FALSE(client.Knows("/dev/sdq"));

  // Read-only: the card's bytes through a descriptor opened read-only.
  BrokerResult r = client.Open("/dev/sdk", false, false, {});
  ASSERT_EQ(r.answer, BrokerAnswer::Opened) << r.detail;
  uint8_t first[4] = {};
  EXPECT_EQ(::pread(r.fd, first, sizeof first, 4096), 4);
  EXPECT_EQ(first[1], static_cast<uint8_t>(4097 * 7));
  EXPECT_EQ(::fcntl(r.fd, F_GETFL) & O_ACCMODE, O_RDONLY);
  ::close(r.fd);

  // For the wipe: writable, and what is written reaches the card.
  r = client.Open("/dev/sdk", true, true, {});
  ASSERT_EQ(r.answer, BrokerAnswer::Opened) << r.detail;
  EXPECT_NE(::fcntl(r.fd, F_GETFL) & O_ACCMODE, O_RDONLY);
  const uint8_t zeros[16] = {};
  EXPECT_EQ(::pwrite(r.fd, zeros, sizeof zeros, 0), 16);
  ::close(r.fd);
  EXPECT_EQ(ReadFileBytes(image_)[5], 0);

  const struct {
    const char* node;
    bool forWrite;
    BrokerAnswer answer;
    std::string text;
  } refusals[] = {
      {"/dev/sdr", false, BrokerAnswer::Refused, "Permission to read /dev/sdr was refused."},
      {"/dev/sdr", true, BrokerAnswer::Refused, "Permission to write to /dev/sdr was refused."},
      {"/dev/sdn", false, BrokerAnswer::NoAgent,
       "Nobody could be asked for permission to read /dev/sdn: no polkit agent is running"},
      {"/dev/sdq", false, BrokerAnswer::Unknown, ""},
  };
  for (const auto& c : refusals) {
    r = client.Open(c.node, c.forWrite, false, {});
    EXPECT_EQ(r.answer, c.answer) << c.node;
    EXPECT_EQ(r.fd, -1);
    EXPECT_EQ(BrokerProblem(c.node, c.forWrite, r).rfind(c.text, 0), 0u) << BrokerProblem(c.node, c.forWrite, r);
  }
}

TEST_F(UDisksServiceTest, TheWindowKeepsDrawingWhileTheUserIsAsked) {
  FakeUDisks::Setup setup;
  setup.cards = {{"/dev/sdk", image_.string()}};
  setup.delayMs = 300;
  FakeUDisks service(setup);
  if (!service.Running()) GTEST_SKIP() << "dbus-daemon is not installed";
  UDisksClient client;
  int pumped = 0;
  const BrokerResult r = client.Open("/dev/sdk", false, false, [&] { ++pumped; });
  ASSERT_EQ(r.answer, BrokerAnswer::Opened);
  ::close(r.fd);
  EXPECT_GE(pumped, 3);
}

TEST_F(UDisksServiceTest, WithoutTheServiceTheUserLearnsWhoMayOpenTheDevice) {
  const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (dir_ / "no-bus").string()).c_str(), 1);
  const fs::path node = dir_ / "sdz";
  const struct group* disk = ::getgrnam("disk");
  const bool made = disk != nullptr && MakeRootOnlyNode(node) && ::chown(node.c_str(), 0, disk->gr_gid) == 0;
  UDisksClient client;
  const BrokerResult r = client.Open(made ? node.string() : "/dev/sdz", false, false, {});
  EXPECT_EQ(r.answer, BrokerAnswer::NotRunning);
  EXPECT_FALSE(client.Knows("/dev/sdz"));
  if (made) {
    EXPECT_EQ(BrokerProblem(node.string(), false, r),
              "UDisks2 is not running, and " + node.string() +
                  " can only be opened as root or by members of the disk group.");
  }
  EXPECT_EQ(BrokerProblem("/dev/sdz", false, r),
            "UDisks2 is not running, and /dev/sdz can only be opened as root.");
  if (old != nullptr) ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
  else ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace kestrella::test
