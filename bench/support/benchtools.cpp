#include "benchtools.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "cardimage.h"

extern char** environ;

namespace fs = std::filesystem;

namespace kestrella::bench {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double ChildRun::CpuSeconds() const {
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(usage.ru_utime) + s(usage.ru_stime);
}

ChildRun Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
               const fs::path& log) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& x : extraEnv)
      if (entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0) replaced = true;
    if (!replaced) envStore.push_back(entry);
  }
  envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> env;
  for (std::string& e : envStore) env.push_back(e.data());
  env.push_back(nullptr);

  const std::string out = log.empty() ? std::string("/dev/null") : log.string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) Die("cannot start " + argv[0] + ": " + std::strerror(rc));
  ChildRun run;
  int status = 0;
  while (::wait4(pid, &status, 0, &run.usage) < 0) {
    if (errno != EINTR) Die("cannot wait for " + argv[0] + ": " + std::strerror(errno));
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

ChildRun SpawnMeasured(const fs::path& runner, const std::vector<std::string>& argv,
                       const std::vector<std::string>& extraEnv, const fs::path& log,
                       const fs::path& result) {
  std::vector<std::string> all{runner.string(), result.string()};
  all.insert(all.end(), argv.begin(), argv.end());
  std::error_code ec;
  fs::remove(result, ec);
  const ChildRun viaRunner = Spawn(all, extraEnv, log);
  std::ifstream in(result);
  ChildRun run;
  long maxrss = 0;
  double user = 0, sys = 0;
  if (viaRunner.exitCode != 0 || !(in >> run.exitCode >> maxrss >> user >> sys)) {
    Die("cannot run " + argv[0] + " through " + runner.string() + ":\n" + Tail(log));
  }
  auto tv = [](double s) {
    timeval t{};
    t.tv_sec = static_cast<time_t>(s);
    t.tv_usec = static_cast<suseconds_t>((s - static_cast<double>(t.tv_sec)) * 1e6);
    return t;
  };
  run.usage.ru_maxrss = maxrss;
  run.usage.ru_utime = tv(user);
  run.usage.ru_stime = tv(sys);
  fs::remove(result, ec);
  return run;
}

std::string Tail(const fs::path& log, size_t maxBytes) {
  std::ifstream in(log, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  if (text.size() > maxBytes) text = "..." + text.substr(text.size() - maxBytes);
  return text;
}

double ResidentFraction(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  double fraction = 0;
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    const size_t len = static_cast<size_t>(st.st_size);
    void* map = ::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) {
      const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
      std::vector<unsigned char> vec((len + page - 1) / page);
      if (::mincore(map, len, vec.data()) == 0) {
        const auto in = std::count_if(vec.begin(), vec.end(), [](unsigned char c) { return c & 1; });
        fraction = static_cast<double>(in) / static_cast<double>(vec.size());
      }
      ::munmap(map, len);
    }
  }
  ::close(fd);
  return fraction;
}

void ReadThrough(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Die("cannot read " + path.string() + ": " + std::strerror(errno));
  std::vector<char> buf(4 * kMiB);
  while (::read(fd, buf.data(), buf.size()) > 0) {
  }
  ::close(fd);
}

void EnsureCached(const fs::path& path) {
  if (ResidentFraction(path) < 1.0) ReadThrough(path);
}

void PrefaultMemory(uint64_t bytes) {
  if (bytes == 0) return;
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  auto* b = static_cast<volatile uint8_t*>(p);
  for (uint64_t at = 0; at < bytes; at += 4096) b[at] = 1;
  ::munmap(p, bytes);
}

std::string LoadAverage() {
  double l[3] = {0, 0, 0};
  if (::getloadavg(l, 3) != 3) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", l[0], l[1], l[2]);
  return text;
}

constexpr long kExtSuperMagic = 0xEF53;  // ext2, ext3 and ext4

std::string FileSystemName(const fs::path& dir) {
  struct statfs sf {};
  if (::statfs(dir.c_str(), &sf) != 0) return "?";
  switch (static_cast<long>(sf.f_type)) {
    case kExtSuperMagic: return "ext2/3/4";
    case 0x01021994: return "tmpfs";
    case 0x9123683E: return "btrfs";
    case 0x58465342: return "xfs";
    default: {
      char hex[32];
      std::snprintf(hex, sizeof hex, "type 0x%lx", static_cast<unsigned long>(sf.f_type));
      return hex;
    }
  }
}

InodeReuse::InodeReuse(const fs::path& work) : stamp_(work / ".kestrella-scan-bench-deleted") {
  struct statfs sf {};
  onExt_ = ::statfs(work.c_str(), &sf) == 0 && static_cast<long>(sf.f_type) == kExtSuperMagic;
  // A previous run that just deleted its found files counts as a deletion.
  std::error_code ec;
  if (fs::exists(stamp_, ec)) {
    const auto age = fs::file_time_type::clock::now() - fs::last_write_time(stamp_, ec);
    lastDelete_ = Now() - std::chrono::duration<double>(age).count();
  }
}

void InodeReuse::NoteBulkDelete() {
  lastDelete_ = Now();
  if (onExt_) std::ofstream(stamp_) << "found files deleted\n";
}

void InodeReuse::Wait() const {
  if (!onExt_) return;
  const double left = lastDelete_ + kWaitSeconds - Now();
  if (left <= 0) return;
  std::fprintf(stderr,
               "(waiting %.0f s until ext4 reuses the inodes freed by the last deletion of "
               "found files)\n",
               left);
  std::this_thread::sleep_for(std::chrono::duration<double>(left));
  waited_ += left;
}

fs::path FreshFolder(const fs::path& work, const char* stem) {
  std::string templ = (work / (std::string(stem) + "-XXXXXX")).string();
  if (::mkdtemp(templ.data()) == nullptr) Die("cannot create a folder in " + work.string());
  return templ;
}

FolderSummary Summarise(const fs::path& dir, const std::string& extension) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  const std::string want = lower(extension);
  FolderSummary s;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir, ec)) {
    if (!e.is_regular_file()) continue;
    if (!want.empty() && lower(e.path().extension().string()) != want) continue;
    ++s.files;
    s.bytes += e.file_size();
  }
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

double MBps(uint64_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

}  // namespace kestrella::bench
