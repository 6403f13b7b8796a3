// kestrella-cli against hostile media: every command that reads a card
// leaves it exactly as it was, also when the card cannot be written at all,
// and names written onto the card by anyone never place a file outside the
// destination folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace kestrella::test {
namespace {

const std::string kCli = KESTRELLA_CLI_PATH;
using Bytes = std::vector<uint8_t>;

CommandResult Sh(const std::string& commandLine) { return kestrella::test::Run(commandLine); }
CommandResult Mtools(const std::string& args) { return Sh("MTOOLS_SKIP_CHECK=1 " + args); }

// Whether this machine lets an unprivileged process have mounts of its own.
bool UnshareWorks() { return Sh("unshare -rm true").exitCode == 0; }

// Contents and every time stamp of a file: a write, a truncation or a change
// of its attributes moves the change time even when the bytes end up the same.
struct Fingerprint {
  std::string md5;
  struct timespec mtime {}, ctime {};
  bool operator==(const Fingerprint& o) const {
    return md5 == o.md5 && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
           ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};
Fingerprint Take(const fs::path& p) {
  Fingerprint f;
  f.md5 = Md5Of(p);
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  f.mtime = st.st_mtim;
  f.ctime = st.st_ctim;
  return f;
}

// A 8 MiB card: photos live and deleted in the root and in DCIM.
void BuildCard(const fs::path& card) {
  ASSERT_EQ(Sh("mkfs.fat -C -F 16 -s 2 -n CARD " + Quote(card) + " 8192").exitCode, 0);
  ASSERT_EQ(Mtools("mmd -i " + Quote(card) + " ::DCIM").exitCode, 0);
  const fs::path photos = DataDir() / "photos";
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"Nikon_D70.jpg", "::A.JPG"},
           {"Pentax_K10D.jpg", "::B.JPG"},
           {"Canon_PowerShot_S40.jpg", "::DCIM/C.JPG"},
           {"Panasonic_DMC-FZ30.jpg", "::DCIM/D.JPG"}}) {
    ASSERT_EQ(Mtools("mcopy -i " + Quote(card) + " " + Quote(photos / from) + " " + to).exitCode, 0);
  }
  ASSERT_EQ(Mtools("mdel -i " + Quote(card) + " ::B.JPG ::DCIM/D.JPG").exitCode, 0);
}

// The same card as the only volume of a disk, behind a partition table.
void BuildDisk(const fs::path& card, const fs::path& disk) {
  const Bytes volume = ReadFileBytes(card);
  Bytes bytes(2048 * 512 + volume.size(), 0);
  std::copy(volume.begin(), volume.end(), bytes.begin() + 2048 * 512);
  const uint32_t start = 2048, count = static_cast<uint32_t>(volume.size() / 512);
  bytes[446 + 4] = 0x06;
  std::memcpy(&bytes[446 + 8], &start, 4);
  std::memcpy(&bytes[446 + 12], &count, 4);
  bytes[510] = 0x55;
  bytes[511] = 0xAA;
  WriteFileBytes(disk, bytes);
}

// Every command that reads a card, with its main options; DEST and TMP are
// filled in per run. Wipe and format are left out: writing is their job.
std::vector<std::string> ReadingCommands(const std::string& card, const std::string& disk) {
  return {
      "drives " + card,
      "drives " + disk,
      "list " + card,
      "list " + card + " --deleted-only",
      "analyze " + card,
      "save " + card + " -o DEST",
      "save " + card + " -o DEST --deleted-only --overwrite all",
      "scan " + card + " -o DEST",
      "scan " + card + " -o DEST --retries 3 --sectors-at-once 7 --prefix x -q",
      "recover " + card + " -o DEST",
      "recover " + card + " -o DEST --method folder --lost",
      "recover " + card + " -o DEST --method folder --no-deleted --lost -q",
      "recover " + card + " -o DEST --method scan --retries 2",
      "partitions " + disk,
      "partitions " + disk + " --lost-drives 0 4000",
      "scan " + disk + " -o DEST -q",
  };
}

std::string Filled(std::string command, const std::string& dest) {
  const size_t at = command.find("DEST");
  if (at != std::string::npos) command.replace(at, 4, dest);
  return command;
}

long FilesBelow(const fs::path& folder) {
  long n = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

class CliHostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "tmp");
  }
  CommandResult Cli(const std::string& args, const fs::path& cwd) {
    return Sh("cd " + Quote(cwd) + " && TMPDIR=" + Quote(dir_ / "tmp") + " " + Quote(kCli) + " " + args);
  }

  // Runs every reading command on the card and the disk, each into a fresh
  // destination outN; each must succeed and leave both images as they were.
  void RunEveryReadingCommand(const fs::path& card, const fs::path& disk) {
    const Fingerprint cardBefore = Take(card), diskBefore = Take(disk);
    int n = 0;
    for (const std::string& c : ReadingCommands(Quote(card), Quote(disk))) {
      const fs::path dest = dir_ / ("out" + std::to_string(n++));
      const CommandResult r = Cli(Filled(c, Quote(dest)), dir_.path());
      EXPECT_EQ(r.exitCode, 0) << c << "\n" << r.output;
      EXPECT_TRUE(Take(card) == cardBefore) << "after: " << c;
      EXPECT_TRUE(Take(disk) == diskBefore) << "after: " << c;
    }
  }

  TempDir dir_;
};

TEST_F(CliHostileTest, NoCommandChangesTheCardOrTheDisk) {
  const fs::path card = dir_ / "card.img", disk = dir_ / "disk.img";
  BuildCard(card);
  BuildDisk(card, disk);
  RunEveryReadingCommand(card, disk);
  // The runs found and saved something: the card was really read.
  EXPECT_GE(FilesBelow(dir_ / "out7"), 4);
}

// A read-only copy (mode 0444). The tests run as root in CI, where the mode
// stops nothing, so this only proves that no command insists on write access
// when the mode forbids it; the fingerprint proves nothing was written.
TEST_F(CliHostileTest, ReadOnlyCopyOfTheCard) {
  const fs::path card = dir_ / "card.img", disk = dir_ / "disk.img";
  BuildCard(card);
  BuildDisk(card, disk);
  fs::permissions(card, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(disk, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  RunEveryReadingCommand(card, disk);
}

// A card behind a read-only mount refuses every opening for writing, root's
// included (EROFS): a command that opened it for writing would fail here.
TEST_F(CliHostileTest, CardOnAReadOnlyMount) {
  if (!UnshareWorks()) GTEST_SKIP() << "unshare -rm is not permitted here: no private read-only mount";
  const fs::path ro = dir_ / "ro";
  fs::create_directories(ro);
  const fs::path card = ro / "card.img", disk = ro / "disk.img";
  BuildCard(card);
  BuildDisk(card, disk);
  const Fingerprint cardBefore = Take(card), diskBefore = Take(disk);
  std::string script = "mount --bind " + Quote(ro) + " " + Quote(ro) + " && mount -o remount,bind,ro " +
                       Quote(ro) + " " + Quote(ro) + " || exit 99; " +
                       // The mount refuses writes, or the test proves nothing.
                       "if ( : >>" + Quote(card) + " ) 2>/dev/null; then exit 98; fi; ";
  int n = 0;
  const auto commands = ReadingCommands(Quote(card), Quote(disk));
  for (const std::string& c : commands) {
    const fs::path dest = dir_ / ("out" + std::to_string(n));
    script += "TMPDIR=" + Quote(dir_ / "tmp") + " " + Quote(kCli) + " " + Filled(c, Quote(dest)) +
              " >" + Quote(dir_ / ("log" + std::to_string(n))) + " 2>&1; echo $? >" +
              Quote(dir_ / ("rc" + std::to_string(n))) + "; ";
    ++n;
  }
  const CommandResult r = Sh("unshare -rm sh -c " + Quote(script));
  if (r.exitCode == 99) GTEST_SKIP() << "no read-only bind mount here: " << r.output;
  ASSERT_NE(r.exitCode, 98) << "the read-only mount let a write through";
  ASSERT_EQ(r.exitCode, 0) << r.output;
  for (int i = 0; i < n; ++i) {
    const Bytes rc = ReadFileBytes(dir_ / ("rc" + std::to_string(i)));
    const Bytes log = ReadFileBytes(dir_ / ("log" + std::to_string(i)));
    EXPECT_EQ(std::string(rc.begin(), rc.end()), "0\n")
        << commands[static_cast<size_t>(i)] << "\n" << std::string(log.begin(), log.end());
  }
  EXPECT_TRUE(Take(card) == cardBefore);
  EXPECT_TRUE(Take(disk) == diskBefore);
  EXPECT_GE(FilesBelow(dir_ / "out7"), 4);
}

// ---- names from the card ------------------------------------------------------

uint32_t Le16(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8); }

// Writes directory entries straight into the root folder of a FAT16 image.
class RootWriter {
 public:
  explicit RootWriter(const fs::path& image) : image_(image), bytes_(ReadFileBytes(image)) {
    const uint32_t rootStart = Le16(bytes_, 14) + bytes_[16] * Le16(bytes_, 22);
    root_ = size_t{rootStart} * 512;
    rootEnd_ = root_ + Le16(bytes_, 17) * 32;
    at_ = root_;
    while (at_ < rootEnd_ && bytes_[at_] != 0) at_ += 32;
  }
  ~RootWriter() { WriteFileBytes(image_, bytes_); }

  // First cluster and size of an entry already there ("SEED    JPG").
  std::pair<uint16_t, uint32_t> Find(const char (&name)[12]) const {
    for (size_t p = root_; p < rootEnd_; p += 32) {
      if (std::memcmp(&bytes_[p], name, 11) == 0) {
        uint32_t size;
        std::memcpy(&size, &bytes_[p + 28], 4);
        return {static_cast<uint16_t>(Le16(bytes_, p + 26)), size};
      }
    }
    ADD_FAILURE() << "no entry " << name;
    return {0, 0};
  }

  // A short entry, optionally led by long-name entries holding `longName`
  // (given byte by byte, each byte one UTF-16 unit). Deleted entries have
  // 0xE5 in their first byte, the long-name ones too.
  void Add(const std::string& shortName, uint8_t attr, uint16_t cluster, uint32_t size,
           const std::string* longName = nullptr, bool deleted = false) {
    ASSERT_EQ(shortName.size(), 11u);
    if (longName != nullptr) {
      uint8_t sum = 0;
      for (char c : shortName) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<uint8_t>(c));
      std::vector<uint16_t> units(longName->begin(), longName->end());
      for (uint16_t& u : units) u &= 0xFF;
      const size_t parts = std::max<size_t>(1, (units.size() + 1 + 12) / 13);
      units.push_back(0);
      while (units.size() < parts * 13) units.push_back(0xFFFF);
      for (size_t part = parts; part >= 1; --part) {
        uint8_t* e = Next();
        e[0] = deleted ? 0xE5 : static_cast<uint8_t>(part | (part == parts ? 0x40 : 0));
        e[11] = 0x0F;
        e[13] = sum;
        static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (int i = 0; i < 13; ++i) {
          const uint16_t u = units[(part - 1) * 13 + static_cast<size_t>(i)];
          e[kOffsets[i]] = static_cast<uint8_t>(u & 0xFF);
          e[kOffsets[i] + 1] = static_cast<uint8_t>(u >> 8);
        }
      }
    }
    uint8_t* e = Next();
    std::memcpy(e, shortName.data(), 11);
    if (deleted) e[0] = 0xE5;
    e[11] = attr;
    e[24] = 0x21;  // 1 January 1980
    e[26] = static_cast<uint8_t>(cluster & 0xFF);
    e[27] = static_cast<uint8_t>(cluster >> 8);
    std::memcpy(e + 28, &size, 4);
  }

 private:
  uint8_t* Next() {
    EXPECT_LT(at_, rootEnd_);
    uint8_t* e = &bytes_[at_];
    std::memset(e, 0, 32);
    at_ += 32;
    return e;
  }

  fs::path image_;
  Bytes bytes_;
  size_t root_ = 0, rootEnd_ = 0, at_ = 0;
};

// Everything below `folder` that is not below one of `allowed`.
std::vector<std::string> Strays(const fs::path& folder, const std::vector<fs::path>& allowed) {
  std::vector<std::string> out;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator{}; ++it) {
    const fs::path p = it->path();
    bool inside = false;
    for (const fs::path& a : allowed) {
      // Outside when the way from `a` begins by going up; a name that merely
      // begins with dots ("...JPG") is inside.
      const fs::path rel = p.lexically_relative(a);
      if (p == a || (!rel.empty() && *rel.begin() != "..")) inside = true;
    }
    if (!inside) out.push_back(p.string());
    if (it->is_symlink()) out.push_back("link: " + p.string());
  }
  return out;
}

TEST_F(CliHostileTest, NamesOnTheCardNeverLeaveTheDestination) {
  const fs::path card = dir_ / "hostile.img";
  ASSERT_EQ(Sh("mkfs.fat -C -F 16 -s 2 -n HOSTILE " + Quote(card) + " 8192").exitCode, 0);
  const fs::path photo = DataPhoto("Nikon_D70.jpg");
  ASSERT_EQ(Mtools("mcopy -i " + Quote(card) + " " + Quote(photo) + " ::SEED.JPG").exitCode, 0);
  ASSERT_EQ(Mtools("mmd -i " + Quote(card) + " ::SUB").exitCode, 0);
  ASSERT_EQ(Mtools("mcopy -i " + Quote(card) + " " + Quote(photo) + " ::SUB/IN.JPG").exitCode, 0);

  // The sandbox: destination, temporary folder and working folder of every
  // run lie in it; nothing may appear anywhere else in it, nor beside it.
  const fs::path box = dir_ / "box";
  const fs::path cwd = box / "cwd", tmp = box / "tmp";
  fs::create_directories(cwd);
  fs::create_directories(tmp);
  const std::string absolute = (dir_ / "abs-escape.jpg").string();
  {
    RootWriter w(card);
    const auto [seed, size] = w.Find("SEED    JPG");
    const auto [sub, subSize] = w.Find("SUB        ");
    (void)subSize;
    const std::string longName(258, 'x');
    const std::vector<std::string> names = {
        "../../escape1.jpg", "..\\..\\escape2.jpg", absolute, "..", ".", "...",
        std::string("a\x01\x1b[2Jb.jpg"), "", longName.substr(0, 100) + "/" + longName.substr(0, 150) + ".jpg",
        "../" + longName + ".jpg", "/",
        // C1's one-byte escape (U+009B) and a right-to-left override that
        // would show "exe.jpg" as "gpj.exe"
        std::string("c\xC2\x9B" "2Jd\xE2\x80\xAE" "gpj.exe")};
    int i = 0;
    auto shortName = [&i](char lead, const char* ext) {
      const std::string number = std::to_string(i++);
      return lead + std::string(7 - number.size(), '0') + number + ext;
    };
    for (const std::string& n : names) {
      w.Add(shortName('F', "JPG"), 0x20, seed, size, &n);
      w.Add(shortName('E', "JPG"), 0x20, seed, size, &n, /*deleted=*/true);
    }
    // Short names with bytes no file name should hold.
    w.Add(std::string("A/B     JPG"), 0x20, seed, size);
    w.Add(std::string("..      JPG"), 0x20, seed, size);
    w.Add(std::string("\\..\\    JPG"), 0x20, seed, size);
    w.Add(std::string("\x01\x02\x1b     JPG", 11), 0x20, seed, size);
    w.Add(std::string(".          "), 0x20, seed, size, nullptr, /*deleted=*/true);
    // Folders named to climb out, live and deleted; a deleted ".." too.
    for (const std::string& n : {std::string("../../escdir"), std::string("/"), std::string(".."),
                                 std::string("sub/../../x"), absolute + ".d"}) {
      w.Add(shortName('D', "   "), 0x10, sub, 0, &n);
      w.Add(shortName('X', "   "), 0x10, sub, 0, &n, /*deleted=*/true);
    }
    w.Add(std::string("..         "), 0x10, sub, 0, nullptr, /*deleted=*/true);
  }

  const std::set<fs::path> besideBefore = [&] {
    std::set<fs::path> s;
    for (const auto& e : fs::directory_iterator(dir_.path())) s.insert(e.path());
    return s;
  }();
  const Bytes photoBytes = ReadFileBytes(photo);
  std::vector<fs::path> allowed = {cwd, tmp};
  int n = 0;
  for (const std::string& c : {std::string("list CARD"), std::string("list CARD --deleted-only"),
                               std::string("save CARD -o DEST --overwrite all"),
                               std::string("save CARD -o DEST --deleted-only --overwrite all"),
                               std::string("recover CARD -o DEST --method folder --lost"),
                               std::string("scan CARD -o DEST")}) {
    const fs::path dest = box / ("dest" + std::to_string(n++));
    allowed.push_back(dest);
    std::string command = Filled(c, Quote(dest));
    command.replace(command.find("CARD"), 4, Quote(card));
    const CommandResult r =
        Sh("cd " + Quote(cwd) + " && TMPDIR=" + Quote(tmp) + " " + Quote(kCli) + " " + command);
    EXPECT_NE(r.exitCode, 2) << command << "\n" << r.output;
    EXPECT_EQ(Strays(box, allowed), std::vector<std::string>{}) << command;
    EXPECT_TRUE(fs::is_empty(cwd)) << command;
    std::set<fs::path> beside;
    for (const auto& e : fs::directory_iterator(dir_.path())) beside.insert(e.path());
    EXPECT_EQ(beside, besideBefore) << command;
    EXPECT_FALSE(fs::exists(absolute));
    // No escape sequence of the card reaches the terminal.
    EXPECT_EQ(r.output.find('\x1b'), std::string::npos) << command;
    EXPECT_EQ(r.output.find("\xC2\x9B"), std::string::npos) << command;
    EXPECT_EQ(r.output.find("\xE2\x80\xAE"), std::string::npos) << command;
    if (c.rfind("list", 0) == 0) continue;
    // What was saved are copies of the one photo the entries point at.
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dest)) {
      if (!e.is_regular_file()) continue;
      ++files;
      if (c.rfind("scan", 0) != 0) {
        EXPECT_TRUE(ReadFileBytes(e.path()) == photoBytes) << e.path();
      }
    }
    EXPECT_GE(files, 1u) << command << "\n" << r.output;
  }
  // A prefix with a "/" is refused before anything runs.
  const CommandResult r = Sh("cd " + Quote(cwd) + " && TMPDIR=" + Quote(tmp) + " " + Quote(kCli) +
                             " recover " + Quote(card) + " -o " + Quote(box / "destp") +
                             " --method scan --prefix ../../p");
  EXPECT_EQ(r.exitCode, 2) << r.output;
  EXPECT_EQ(Strays(box, allowed), std::vector<std::string>{});
}

}  // namespace
}  // namespace kestrella::test
