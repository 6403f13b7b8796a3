// Throughput of the scan route against a plain file copy.
//
// Builds (or reuses) a card image made of real camera photos laid back to back,
// each on a 512-byte boundary, so that the scan reads every sector and writes
// nearly every one of them into found files. Then, on the same run, it times
//   cp    /bin/cp IMAGE WORK/copy.img
//   scan  RawScan::Run over the image with the default sectors-at-once,
//         writing the found files into a fresh folder
// alternately (cp, scan, cp, scan, ...), and finally the whole command line
// once (kestrella-cli scan IMAGE -o DIR -q), which also copies every found
// file into DIR and so writes the data twice.
//
// Fairness:
//  - the image is read once before the first timed step, and its page-cache
//    residency is checked (mincore) before every step, reading it again if the
//    kernel dropped some of it: both sides read it from memory, not the disk;
//  - sync(2) is called before every step starts its clock, so writeback left
//    over from the previous step (or from building the image) is not billed to
//    the next one;
//  - neither side calls fsync: both are timed until their data is in the page
//    cache, the way a user sees the command return;
//  - the copy is deleted after each cp step; the found files are kept until
//    the end of the run (or, with --delete-each, deleted after each step), see
//    WaitForInodeReuse for why.
//
// Not a test: it is built with the rest but never registered with CTest.

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/rawscan.h"
#include "diskio/drivetable.h"
#include "diskio/enginecontext.h"
#include "util/userinterface.h"

extern char** environ;

namespace fs = std::filesystem;
using kestrella::RawScan;
using kestrella::RawScanSettings;

#ifndef KESTRELLA_BENCH_CORPUS_DIR
#define KESTRELLA_BENCH_CORPUS_DIR "../shared/corpus/photos"
#endif
#ifndef KESTRELLA_BENCH_CLI_PATH
#define KESTRELLA_BENCH_CLI_PATH "kestrella-cli"
#endif

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint32_t kSector = 512;

struct Options {
  uint64_t sizeMiB = 1024;
  fs::path work;
  bool keep = false;
  int runs = 3;
  bool runCli = true;
  bool deleteEach = false;
  bool prefault = true;
  fs::path corpus = KESTRELLA_BENCH_CORPUS_DIR;
  fs::path cli = KESTRELLA_BENCH_CLI_PATH;
};

const char* const kUsage =
    "usage: scan_throughput [--size-mib N] [--work DIR] [--keep]\n"
    "                       [--runs N] [--no-cli] [--delete-each] [--no-prefault]\n"
    "                       [--corpus DIR] [--cli PATH]\n"
    "\n"
    "  --size-mib N   card image size in MiB (default 1024)\n"
    "  --work DIR     where the image, the copy and the found files go\n"
    "                 (default $TMPDIR, else /var/tmp)\n"
    "  --keep         keep the card image for the next run (else deleted at the end)\n"
    "  --runs N       cp and scan measurements each, alternating (default 3)\n"
    "  --no-cli       skip the end-to-end kestrella-cli run\n"
    "  --delete-each  delete the found files right after each step instead of at\n"
    "                 the end (on ext4 without a journal this means a 6-minute wait\n"
    "                 before each step that creates files; see the README)\n"
    "  --no-prefault  do not touch fresh memory before each step (see the README)\n"
    "  --corpus DIR   folder of *.jpg photos (default: the shared corpus)\n"
    "  --cli PATH     the kestrella-cli program (default: the one built alongside)\n";

[[noreturn]] void Die(const std::string& msg) {
  std::fprintf(stderr, "scan_throughput: %s\n", msg.c_str());
  std::exit(1);
}

uint64_t ParseNumber(const std::string& name, const char* text, uint64_t lo, uint64_t hi) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) {
    Die(name + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi));
  }
  return v;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  const char* tmp = std::getenv("TMPDIR");
  o.work = (tmp != nullptr && *tmp != '\0') ? fs::path(tmp) : fs::path("/var/tmp");
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) Die(a + " needs a value");
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (a == "--size-mib") {
      // Sector numbers are 32-bit: at most 2 TiB.
      o.sizeMiB = ParseNumber(a, value(), 1, 2 * 1024 * 1024 - 1);
    } else if (a == "--work") {
      o.work = value();
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a == "--runs") {
      o.runs = static_cast<int>(ParseNumber(a, value(), 1, 99));
    } else if (a == "--no-cli") {
      o.runCli = false;
    } else if (a == "--delete-each") {
      o.deleteEach = true;
    } else if (a == "--no-prefault") {
      o.prefault = false;
    } else if (a == "--corpus") {
      o.corpus = value();
    } else if (a == "--cli") {
      o.cli = value();
    } else {
      std::fputs(kUsage, stderr);
      Die("unknown argument " + a);
    }
  }
  return o;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// ---------------------------------------------------------------------------
// The card image

struct Photo {
  std::string name;
  std::vector<uint8_t> bytes;
};

std::vector<Photo> LoadCorpus(const fs::path& dir) {
  std::vector<Photo> photos;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return photos;
  for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
    if (!e.is_regular_file() || e.path().extension() != ".jpg") continue;
    std::ifstream in(e.path(), std::ios::binary);
    Photo p{e.path().filename().string(),
            std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})};
    // Only photos the scan can see as a start count.
    if (p.bytes.size() >= 4 && p.bytes[0] == 0xFF && p.bytes[1] == 0xD8 && p.bytes[2] == 0xFF &&
        (p.bytes[3] == 0xE0 || p.bytes[3] == 0xE1)) {
      photos.push_back(std::move(p));
    }
  }
  std::sort(photos.begin(), photos.end(),
            [](const Photo& a, const Photo& b) { return a.name < b.name; });
  return photos;
}

// JPEG-like stand-ins when the corpus is missing: an Exif start, then bytes of
// a fixed pseudo-random sequence (no sector of which looks like a start), 40 KB
// to 800 KB each.
std::vector<Photo> SyntheticPhotos() {
  std::vector<Photo> photos;
  uint64_t x = 0x9E3779B97F4A7C15ull;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  for (int i = 0; i < 64; ++i) {
    const size_t size = 40000 + next() % 760000;
    std::vector<uint8_t> b(size);
    for (size_t k = 0; k < size; ++k) b[k] = static_cast<uint8_t>(next() >> 24);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0};
    std::memcpy(b.data(), head, sizeof head);
    b[size - 2] = 0xFF;
    b[size - 1] = 0xD9;
    photos.push_back({"synthetic" + std::to_string(i), std::move(b)});
  }
  return photos;
}

uint64_t Padded(uint64_t n) { return (n + kSector - 1) / kSector * kSector; }

// How many photos the layout holds: the set in order, round after round, each
// padded to a whole sector, until the next one would not fit. The rest of the
// image is zeros (they end up in the last found file).
uint64_t PhotosThatFit(const std::vector<Photo>& photos, uint64_t imageBytes) {
  uint64_t used = 0, count = 0;
  for (size_t i = 0;; i = (i + 1) % photos.size()) {
    const uint64_t need = Padded(photos[i].bytes.size());
    if (used + need > imageBytes) return count;
    used += need;
    ++count;
  }
}

void WriteImage(const fs::path& path, const std::vector<Photo>& photos, uint64_t imageBytes) {
  const fs::path part = path.string() + ".part";
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("cannot create " + part.string() + ": " + std::strerror(errno));
  std::vector<uint8_t> buf;
  buf.reserve(8 * kMiB);
  uint64_t written = 0;
  auto flush = [&] {
    size_t done = 0;
    while (done < buf.size()) {
      const ssize_t n = ::write(fd, buf.data() + done, buf.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Die("cannot write " + part.string() + ": " + std::strerror(errno));
      done += static_cast<size_t>(n);
    }
    written += buf.size();
    buf.clear();
  };
  const uint64_t count = PhotosThatFit(photos, imageBytes);
  for (uint64_t k = 0; k < count; ++k) {
    const std::vector<uint8_t>& b = photos[k % photos.size()].bytes;
    buf.insert(buf.end(), b.begin(), b.end());
    buf.resize(buf.size() + (Padded(b.size()) - b.size()), 0);
    if (buf.size() >= 4 * kMiB) flush();
  }
  while (written + buf.size() < imageBytes) {
    buf.resize(std::min<uint64_t>(imageBytes - written, 4 * kMiB), 0);
    flush();
  }
  flush();
  if (::close(fd) != 0) Die("cannot write " + part.string() + ": " + std::strerror(errno));
  fs::rename(part, path);
}

// Fraction of the file's pages in the page cache.
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

// ---------------------------------------------------------------------------
// The steps

// Runs a program and waits for it; stdout to /dev/null when asked. Returns the
// exit status (or -1).
int Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
          bool quietStdout) {
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

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quietStdout) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) Die("cannot start " + argv[0] + ": " + std::strerror(rc));
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ext4 without a journal (as on the machine this was written on) prefers not
// to hand out an inode freed less than 60 s ago, or 360 s while the inode's
// table block is dirty, which new files created next to it keep it: every file
// created in that window first walks over all the recently freed inodes of its
// block group (and takes one of them after all when there is nothing else).
// After thousands of found files were deleted, the next thousands of creates
// would be billed for that walk (measured here: 5000 creates 0.13 s on a quiet
// group, 2.0 s right after 5000 deletions). So found files are kept until the
// end of the run, and a step that creates files starts only once the window
// of the last deletion (of this run or, by its marker, a previous one) is over.
constexpr int kInodeReuseWaitSeconds = 365;
constexpr long kExtSuperMagic = 0xEF53;  // ext2, ext3 and ext4
double g_lastBulkDelete = -1e9;  // Now() of the last deletion of found files
bool g_workOnExt = false;        // the work folder is on ext2/3/4

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

bool OnExtFileSystem(const fs::path& dir) {
  struct statfs sf {};
  return ::statfs(dir.c_str(), &sf) == 0 && static_cast<long>(sf.f_type) == kExtSuperMagic;
}

// A marker whose time says when a previous run deleted its found files.
fs::path DeletionStamp(const fs::path& work) { return work / ".kestrella-scan-bench-deleted"; }

void NoteBulkDelete(const fs::path& work) {
  g_lastBulkDelete = Now();
  if (g_workOnExt) std::ofstream(DeletionStamp(work)) << "found files deleted\n";
}

void WaitForInodeReuse() {
  if (!g_workOnExt) return;
  const double left = g_lastBulkDelete + kInodeReuseWaitSeconds - Now();
  if (left <= 0) return;
  std::fprintf(stderr,
               "(waiting %.0f s until ext4 reuses the inodes freed by the last deletion of "
               "found files)\n",
               left);
  std::this_thread::sleep_for(std::chrono::duration<double>(left));
}

// Reads the image again when part of it left the page cache (the kernel may
// reclaim cold pages while a step waits).
void EnsureCached(const fs::path& image) {
  if (ResidentFraction(image) < 1.0) ReadThrough(image);
}

// In a VM with free page reporting (a virtio balloon, as on the machine this
// was written on) memory the guest has freed for a couple of seconds is handed
// back to the host, and the next first touch of each such page costs a host
// fault. A step that fills 1 GiB of page cache with such pages takes several
// times as long, whether it is cp or the scan, and which step gets them is
// chance. So right before each clock starts, every step alike first touches
// and frees as much fresh memory as it is about to fill (the image size plus
// a margin), which it then finds in the guest's free lists.
bool g_prefault = true;
uint64_t g_prefaultBytes = 0;

void PrefaultMemory() {
  if (!g_prefault || g_prefaultBytes == 0) return;
  void* p = ::mmap(nullptr, g_prefaultBytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  auto* bytes = static_cast<volatile uint8_t*>(p);
  for (uint64_t at = 0; at < g_prefaultBytes; at += 4096) bytes[at] = 1;
  ::munmap(p, g_prefaultBytes);
}

std::string LoadAverage() {
  double l[3] = {0, 0, 0};
  if (::getloadavg(l, 3) != 3) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", l[0], l[1], l[2]);
  return text;
}

// Deletes what the previous step left, then writes back whatever is still
// pending, so that the next clock starts on a quiet disk.
void Settle(const std::vector<fs::path>& leftovers) {
  std::error_code ec;
  for (const fs::path& p : leftovers) fs::remove_all(p, ec);
  ::sync();
}

fs::path FreshFolder(const fs::path& work, const char* stem) {
  std::string templ = (work / (std::string(stem) + "-XXXXXX")).string();
  if (::mkdtemp(templ.data()) == nullptr) Die("cannot create a folder in " + work.string());
  return templ;
}

struct FolderSummary {
  uint64_t files = 0;
  uint64_t bytes = 0;
};

// Found files may sit in folders of their own (found-by-scan/, ...).
FolderSummary Summarise(const fs::path& dir) {
  FolderSummary s;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir, ec)) {
    if (!e.is_regular_file()) continue;
    ++s.files;
    s.bytes += e.file_size();
  }
  return s;
}

struct Measure {
  double seconds = 0;
  double cpuSeconds = 0;  // user + system, of this process or of the child
  uint64_t files = 0;
  double resident = 0;
};

double CpuSeconds(int who) {
  struct rusage ru {};
  ::getrusage(who, &ru);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(ru.ru_utime) + s(ru.ru_stime);
}

// Found files of the steps, deleted at the end unless --delete-each.
std::vector<fs::path> g_outputs;
bool g_deleteEach = false;

void Done(const std::vector<fs::path>& outputs) {
  if (g_deleteEach) {
    Settle(outputs);
    NoteBulkDelete(outputs.front().parent_path());
  } else {
    g_outputs.insert(g_outputs.end(), outputs.begin(), outputs.end());
  }
}

// What every step does before its clock starts: the image wholly in the
// page cache (its share noted) and fresh memory touched.
Measure ReadyToMeasure(const fs::path& image) {
  Measure m;
  EnsureCached(image);
  m.resident = ResidentFraction(image);
  PrefaultMemory();
  return m;
}

Measure TimeCopy(const fs::path& image, const fs::path& work) {
  const fs::path copy = work / "copy.img";
  Settle({copy});
  Measure m = ReadyToMeasure(image);
  const double c0 = CpuSeconds(RUSAGE_CHILDREN);
  const double t0 = Now();
  const int rc = Spawn({"/bin/cp", image.string(), copy.string()}, {}, false);
  m.seconds = Now() - t0;
  m.cpuSeconds = CpuSeconds(RUSAGE_CHILDREN) - c0;
  if (rc != 0) Die("cp failed");
  if (fs::file_size(copy) != fs::file_size(image)) Die("cp made a copy of the wrong size");
  Settle({copy});
  return m;
}

Measure TimeScan(kestrella::EngineContext& engine, uint8_t drive,
                 const kestrella::TLogDriveParams& params, const fs::path& image,
                 const fs::path& work) {
  const fs::path out = FreshFolder(work, "scan");
  RawScan scan(engine);
  uint64_t closed = 0;
  scan.OnFileClosed = [&closed](const std::string&, const kestrella::FoundOrigin&) { ++closed; };
  RawScanSettings s;
  s.drive = drive;
  s.bytesPerSector = params.BytesPerSector;
  s.totalSectors = params.TotalSectors;
  s.sectorsAtOnce = kestrella::DefaultSectorsAtOnce(s.totalSectors, s.bytesPerSector);
  s.tempFolder = out;
  WaitForInodeReuse();
  Settle({});
  Measure m = ReadyToMeasure(image);
  const double c0 = CpuSeconds(RUSAGE_SELF);
  const double t0 = Now();
  scan.Run(s);
  m.seconds = Now() - t0;
  m.cpuSeconds = CpuSeconds(RUSAGE_SELF) - c0;
  m.files = closed;
  const auto& st = scan.Status();
  if (!scan.AbortReason().empty()) Die("the scan stopped early: " + scan.AbortReason());
  if (st.readErrors != 0 || st.writeFailures != 0) Die("the scan had read errors or write failures");
  if (st.bytesRead != fs::file_size(image)) Die("the scan did not read the whole image");
  const FolderSummary sum = Summarise(out);
  if (sum.files != closed) Die("found-file count and folder contents disagree");
  // The first sector starts a photo, so every byte of the card is written out.
  if (sum.bytes != fs::file_size(image)) {
    std::fprintf(stderr, "note: the scan wrote %" PRIu64 " of %" PRIu64 " bytes\n", sum.bytes,
                 static_cast<uint64_t>(fs::file_size(image)));
  }
  Done({out});
  return m;
}

Measure TimeCli(const fs::path& cli, const fs::path& image, const fs::path& work) {
  const fs::path dest = FreshFolder(work, "cli-dest");
  const fs::path temp = FreshFolder(work, "cli-temp");
  WaitForInodeReuse();
  Settle({});
  Measure m = ReadyToMeasure(image);
  const double c0 = CpuSeconds(RUSAGE_CHILDREN);
  const double t0 = Now();
  const int rc = Spawn({cli.string(), "scan", image.string(), "-o", dest.string(), "-q"},
                       {"TMPDIR=" + temp.string()}, true);
  m.seconds = Now() - t0;
  m.cpuSeconds = CpuSeconds(RUSAGE_CHILDREN) - c0;
  if (rc != 0) Die("kestrella-cli scan exited with " + std::to_string(rc));
  m.files = Summarise(dest).files;
  if (Summarise(temp).files != 0) Die("kestrella-cli left found files in its temporary folder");
  Done({dest, temp});
  return m;
}

// ---------------------------------------------------------------------------
// Figures

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

double MBps(uint64_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options opt = ParseOptions(argc, argv);
  g_deleteEach = opt.deleteEach;
  g_prefault = opt.prefault;
  std::error_code ec;
  fs::create_directories(opt.work, ec);
  if (!fs::is_directory(opt.work, ec)) Die("no work folder " + opt.work.string());
  g_workOnExt = OnExtFileSystem(opt.work);
  if (opt.runCli && !fs::exists(opt.cli, ec)) {
    Die("no kestrella-cli at " + opt.cli.string() + " (use --cli)");
  }

  std::vector<Photo> photos = LoadCorpus(opt.corpus);
  const bool synthetic = photos.empty();
  if (synthetic) {
    std::fprintf(stderr, "note: no photos in %s; using synthetic JPEG-like data\n",
                 opt.corpus.c_str());
    photos = SyntheticPhotos();
  }
  const uint64_t imageBytes = opt.sizeMiB * kMiB;
  g_prefaultBytes = imageBytes + imageBytes / 4;
  const fs::path image =
      opt.work / ("kestrella-scan-bench-" + std::to_string(opt.sizeMiB) + "MiB-" +
                  (synthetic ? "synthetic" : "photos") + ".img");
  const uint64_t laid = PhotosThatFit(photos, imageBytes);
  uint64_t photoBytes = 0;
  for (const Photo& p : photos) photoBytes += p.bytes.size();
  const size_t distinct = photos.size();

  bool reused = fs::is_regular_file(image, ec) && fs::file_size(image, ec) == imageBytes;
  double buildSeconds = 0;
  if (!reused) {
    std::fprintf(stderr, "building %s ...\n", image.c_str());
    const double t0 = Now();
    WriteImage(image, photos, imageBytes);
    buildSeconds = Now() - t0;
  }
  photos.clear();
  photos.shrink_to_fit();

  // A previous run that just deleted its found files counts as a deletion.
  if (fs::exists(DeletionStamp(opt.work), ec)) {
    const auto age =
        fs::file_time_type::clock::now() - fs::last_write_time(DeletionStamp(opt.work), ec);
    g_lastBulkDelete = Now() - std::chrono::duration<double>(age).count();
  }

  // Both sides must read the image from memory.
  ::sync();
  ReadThrough(image);
  const double warm = ResidentFraction(image);

  // One engine for every scan step, as the window keeps one for its runs:
  // nobody to ask, and the system's files.
  kestrella::SilentUserInterface ui;
  kestrella::EngineContext engine(ui);
  const uint8_t drive = engine.drives().AddImage(image.string());
  if (drive == 0) Die("cannot add the image to the drive table");
  kestrella::TLogDriveParams params;
  if (!engine.diskutils().GetLogDriveParams(drive, params)) Die("cannot size the image");
  const uint32_t sectorsAtOnce =
      kestrella::DefaultSectorsAtOnce(params.TotalSectors, params.BytesPerSector);

  std::printf("Kestrella scan throughput\n");
  std::printf("  card image     %s\n", image.c_str());
  std::printf("                 %" PRIu64 " bytes (%" PRIu64 " MiB), %s\n", imageBytes, opt.sizeMiB,
              reused ? "reused" : "built now");
  std::printf("                 %" PRIu64 " %s photos back to back on 512-byte boundaries\n", laid,
              synthetic ? "synthetic" : "corpus");
  std::printf("                 (%zu distinct, %.1f MB, %s%s)\n", distinct,
              static_cast<double>(photoBytes) / 1e6, synthetic ? "generated" : "from ",
              synthetic ? "" : opt.corpus.c_str());
  if (!reused) std::printf("                 built in %.1f s\n", buildSeconds);
  std::printf("  work folder    %s (%s)\n", opt.work.c_str(), FileSystemName(opt.work).c_str());
  std::printf("  sectors/read   %u (default for %u sectors of %u bytes)\n", sectorsAtOnce,
              params.TotalSectors, params.BytesPerSector);
  std::printf("  page cache     image read once before timing; %.0f%% resident\n", warm * 100);
  std::printf("  before a step  sync(2), so earlier writes are on disk before the clock starts\n");
  std::printf("  found files    %s\n", opt.deleteEach ? "deleted right after each step"
                                                      : "kept on disk until the end, then deleted");
  if (g_workOnExt) {
    std::printf("                 (a step that creates files starts %d s or more after the\n"
                "                 last deletion of found files: ext4 inode reuse, see README)\n",
                kInodeReuseWaitSeconds);
  }
  std::printf("  image cache    read again before a step if any of it left the page cache\n");
  if (g_prefault) {
    std::printf("  memory         %" PRIu64 " MiB of fresh memory touched and freed before each\n"
                "                 step's clock starts (VM free page reporting, see README)\n",
                g_prefaultBytes / kMiB);
  }
  std::printf("  load average   %s at the start (other work on this machine)\n", LoadAverage().c_str());
  std::printf("\n");
  std::fflush(stdout);

  std::vector<double> cpTimes, scanTimes;
  uint64_t scanFiles = 0;
  double minResident = warm;
  std::printf("  run  step    seconds      MB/s   cpu s   files  image cached\n");
  for (int r = 1; r <= opt.runs; ++r) {
    const Measure c = TimeCopy(image, opt.work);
    cpTimes.push_back(c.seconds);
    minResident = std::min(minResident, c.resident);
    std::printf("  %3d  cp     %8.3f  %8.1f  %6.2f       -  %5.0f%%\n", r, c.seconds,
                MBps(imageBytes, c.seconds), c.cpuSeconds, c.resident * 100);
    std::fflush(stdout);
    const Measure s = TimeScan(engine, drive, params, image, opt.work);
    scanTimes.push_back(s.seconds);
    scanFiles = s.files;
    minResident = std::min(minResident, s.resident);
    std::printf("  %3d  scan   %8.3f  %8.1f  %6.2f  %6" PRIu64 "  %5.0f%%\n", r, s.seconds,
                MBps(imageBytes, s.seconds), s.cpuSeconds, s.files, s.resident * 100);
    std::fflush(stdout);
  }

  std::optional<Measure> cli;
  if (opt.runCli) {
    cli = TimeCli(opt.cli, image, opt.work);
    minResident = std::min(minResident, cli->resident);
  }

  const double cpBest = Best(cpTimes), cpMed = Median(cpTimes);
  const double scBest = Best(scanTimes), scMed = Median(scanTimes);
  std::printf("\n");
  std::printf("  %-34s %9s %9s %9s %9s\n", "", "best s", "best MB/s", "median s", "med. MB/s");
  std::printf("  %-34s %9.3f %9.1f %9.3f %9.1f\n", "cp IMAGE copy.img", cpBest,
              MBps(imageBytes, cpBest), cpMed, MBps(imageBytes, cpMed));
  std::printf("  %-34s %9.3f %9.1f %9.3f %9.1f\n", "scan route (RawScan::Run)", scBest,
              MBps(imageBytes, scBest), scMed, MBps(imageBytes, scMed));
  std::printf("  %-34s %9.2fx %9s %9.2fx\n", "ratio scan time / cp time", scBest / cpBest, "",
              scMed / cpMed);
  std::printf("  found files per scan: %" PRIu64 " (photos laid: %" PRIu64 ")\n", scanFiles, laid);
  if (cli) {
    std::printf("\n");
    std::printf("  kestrella-cli scan IMAGE -o DIR -q, once (scan + save step: the data is\n");
    std::printf("  written twice, to the temporary folder and then to DIR):\n");
    std::printf("  %-34s %9.3f %9.1f   %.2fx the median cp time\n", "end to end", cli->seconds,
                MBps(imageBytes, cli->seconds), cli->seconds / cpMed);
    std::printf("  %" PRIu64 " files saved, %.2f cpu s\n", cli->files, cli->cpuSeconds);
  }
  std::printf("  load average at the end: %s\n", LoadAverage().c_str());
  if (minResident >= 0.999) {
    std::printf("\n  Both sides read the image from the page cache (100%% resident before every\n");
    std::printf("  step); neither fsyncs its output. MB/s = image bytes / 1e6 / s.\n");
  } else {
    std::printf("\n  WARNING: only %.0f%% of the image was in the page cache before some step;\n"
                "  part of a read came from the disk, so the figures are not comparable.\n",
                minResident * 100);
  }

  if (!g_outputs.empty()) {
    Settle(g_outputs);
    NoteBulkDelete(opt.work);
  }
  if (!opt.keep) {
    fs::remove(image, ec);
  } else {
    std::printf("  image kept: %s\n", image.c_str());
  }
  return 0;
}
