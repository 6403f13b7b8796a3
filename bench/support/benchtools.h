// What the benchmarks share around their clocks: running a program, keeping
// the image in the page cache, the VM's memory effect, ext4's inode reuse,
// and the figures.
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrella::bench {

double Now();

// Runs a program (stdin from /dev/null; stdout and stderr into `log`, or
// /dev/null when it is empty) with `extraEnv` ("NAME=value") added to the
// environment, and waits for it with wait4.
struct ChildRun {
  int exitCode = -1;  // -1: killed by a signal
  struct rusage usage {};
  double CpuSeconds() const;
  uint64_t PeakRssKiB() const { return static_cast<uint64_t>(usage.ru_maxrss); }
};
ChildRun Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
               const std::filesystem::path& log);

// Runs argv through `runner` (kestrella-bench-run, see support/measuredrun.cpp)
// so that the peak memory reported is the program's own; otherwise as Spawn.
// `result` is the runner's scratch file.
ChildRun SpawnMeasured(const std::filesystem::path& runner, const std::vector<std::string>& argv,
                       const std::vector<std::string>& extraEnv, const std::filesystem::path& log,
                       const std::filesystem::path& result);

// The last lines of a log, for a failed step's message.
std::string Tail(const std::filesystem::path& log, size_t maxBytes = 2000);

// Fraction of the file's pages in the page cache.
double ResidentFraction(const std::filesystem::path& path);
void ReadThrough(const std::filesystem::path& path);
// Reads the file again when part of it left the page cache.
void EnsureCached(const std::filesystem::path& path);

// Touches and frees `bytes` of fresh anonymous memory (see the README:
// memory the guest left free is handed back to the host, and the next first
// touch of each page costs a host fault).
void PrefaultMemory(uint64_t bytes);

std::string LoadAverage();
std::string FileSystemName(const std::filesystem::path& dir);

// ext4 without a journal walks over recently freed inodes on every create
// (see the README), so a step that creates files waits until the window of
// the last bulk deletion is over. The deletion is remembered in a marker
// file in the work folder, for the next run.
class InodeReuse {
 public:
  static constexpr int kWaitSeconds = 365;
  explicit InodeReuse(const std::filesystem::path& work);
  bool Applies() const { return onExt_; }
  void NoteBulkDelete();
  void Wait() const;
  // Seconds waited so far.
  double Waited() const { return waited_; }

 private:
  std::filesystem::path stamp_;
  bool onExt_ = false;
  double lastDelete_ = -1e9;
  mutable double waited_ = 0;
};

std::filesystem::path FreshFolder(const std::filesystem::path& work, const char* stem);

struct FolderSummary {
  uint64_t files = 0;
  uint64_t bytes = 0;
};
// Counts regular files in `dir` and below; with `extension` (".jpg", matched
// without regard to case) only those.
FolderSummary Summarise(const std::filesystem::path& dir, const std::string& extension = "");

double Median(std::vector<double> v);
double Best(const std::vector<double>& v);
double MBps(uint64_t bytes, double seconds);

}  // namespace kestrella::bench
