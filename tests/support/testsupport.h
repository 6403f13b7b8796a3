// Shared pieces of the test programs: temporary folders, a scripted user
// interface, running real tools, and where the test data lives.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "util/userinterface.h"

namespace kestrella::test {

namespace fs = std::filesystem;

// A fresh folder under the build's temporary area, removed with its contents
// when the object goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// A user interface whose answers, clock and temporary folder a test sets, and
// which records every message box it was shown.
class ScriptedUi : public UserInterface {
 public:
  struct Shown {
    std::string text, caption;
    MsgIcon icon;
    MsgButtons buttons;
  };
  std::deque<MsgResult> answers;   // taken in order; empty -> defaultAnswer
  MsgResult defaultAnswer = MsgResult::Abort;
  std::vector<Shown> shown;
  uint32_t tick = 1;               // what TickCount returns
  uint32_t tickStep = 0;           // added after every TickCount call
  uint64_t processCalls = 0;
  fs::path temp;

  MsgResult MessageBox(std::string_view text, std::string_view caption, MsgIcon icon,
                       MsgButtons buttons) override;
  void ProcessMessages() override { ++processCalls; }
  uint32_t TickCount() override;
  fs::path TempFolder() override { return temp; }
};

struct CommandResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};
// Runs a shell command line and collects what it printed.
CommandResult Run(const std::string& commandLine);
// Single-quotes a path or word for the shell.
std::string Quote(const std::string& s);
// prefix, n and suffix in one string: "f7.jpg" for ("f", 7, ".jpg"). The
// plain "f" + std::to_string(n) + ".jpg" makes GCC 12 at -O2 warn about an
// overlapping copy inside std::string (-Wrestrict), wrongly.
std::string Numbered(const std::string& prefix, long long n, const std::string& suffix = {});

// The real photos and disk images the tests read: tests/data, laid out like
// the large corpus (photos/, photos/damaged/, photos/tiff/, images/). Throws
// when the folder is missing.
fs::path DataDir();
// Whether DataDir() is the repository's own tests/data (and not the corpus
// of the extended run).
bool UsingRepositoryData();
// DataDir()/photos/name; throws when there is no such photo.
fs::path DataPhoto(const std::string& name);
// Unzips a disk image of DataDir()/images (e.g. "6-undel-fat.zip") into
// `into` and returns the path of the image file named `image` inside it.
fs::path UnzipDataImage(const std::string& zip, const std::string& image, const fs::path& into);
// The working camera photos (photos/*.jpg), sorted by name.
std::vector<fs::path> DataPhotos();

std::vector<uint8_t> ReadFileBytes(const fs::path& p);
void WriteFileBytes(const fs::path& p, const std::vector<uint8_t>& bytes);
std::string Md5Of(const fs::path& p);
// Whether `dest` holds no run folder (.kestrella-XXXXXX) any more.
bool NoRunFolderIn(const fs::path& dest);

// One disk of a made-up /sys/class/block; `sectors` in 512-byte units.
void FakeDisk(const fs::path& classDir, const std::string& name, uint64_t sectors, int removable,
              const std::string& dev);

}  // namespace kestrella::test
