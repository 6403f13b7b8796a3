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

#include <sys/resource.h>
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
#include "support/benchtools.h"
#include "support/cardimage.h"
#include "util/userinterface.h"

namespace fs = std::filesystem;
using kestrella::RawScan;
using kestrella::RawScanSettings;
using namespace kestrella::bench;

#ifndef KESTRELLA_BENCH_DATA_DIR
#define KESTRELLA_BENCH_DATA_DIR "tests/data/photos"
#endif
#ifndef KESTRELLA_BENCH_CLI_PATH
#define KESTRELLA_BENCH_CLI_PATH "kestrella-cli"
#endif

namespace {

struct Options {
  uint64_t sizeMiB = 1024;
  fs::path work;
  bool keep = false;
  int runs = 3;
  bool runCli = true;
  bool deleteEach = false;
  bool prefault = true;
  fs::path corpus;  // empty: PhotoFolder() chooses
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
    "  --corpus DIR   folder of *.jpg photos (default: $KESTRELLA_CORPUS/photos,\n"
    "                 else tests/data/photos)\n"
    "  --cli PATH     the kestrella-cli program (default: the one built alongside)\n";

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
  o.corpus = PhotoFolder(o.corpus, KESTRELLA_BENCH_DATA_DIR);
  return o;
}


// ---------------------------------------------------------------------------
// The steps

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
InodeReuse* g_inodes = nullptr;

void WaitForInodeReuse() { g_inodes->Wait(); }

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
  if (g_prefault) kestrella::bench::PrefaultMemory(g_prefaultBytes);
}

// Deletes what the previous step left, then writes back whatever is still
// pending, so that the next clock starts on a quiet disk.
void Settle(const std::vector<fs::path>& leftovers) {
  std::error_code ec;
  for (const fs::path& p : leftovers) fs::remove_all(p, ec);
  ::sync();
}

struct Measure {
  double seconds = 0;
  double cpuSeconds = 0;  // user + system, of this process or of the child
  uint64_t files = 0;
  double resident = 0;
};

double CpuSeconds() {
  struct rusage ru {};
  ::getrusage(RUSAGE_SELF, &ru);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(ru.ru_utime) + s(ru.ru_stime);
}

// Found files of the steps, deleted at the end unless --delete-each.
std::vector<fs::path> g_outputs;
bool g_deleteEach = false;

void Done(const std::vector<fs::path>& outputs) {
  if (g_deleteEach) {
    Settle(outputs);
    g_inodes->NoteBulkDelete();
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
  const double t0 = Now();
  const ChildRun run = Spawn({"/bin/cp", image.string(), copy.string()}, {}, "");
  m.seconds = Now() - t0;
  m.cpuSeconds = run.CpuSeconds();
  if (run.exitCode != 0) Die("cp failed");
  if (fs::file_size(copy) != fs::file_size(image)) Die("cp made a copy of the wrong size");
  Settle({copy});
  return m;
}

Measure TimeScan(kestrella::EngineContext& engine, uint8_t drive,
                 const kestrella::TLogDriveParams& params, const fs::path& image,
                 const fs::path& work, uint64_t pictureBytes) {
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
  const double c0 = CpuSeconds();
  const double t0 = Now();
  scan.Run(s);
  m.seconds = Now() - t0;
  m.cpuSeconds = CpuSeconds() - c0;
  m.files = closed;
  const auto& st = scan.Status();
  if (!scan.AbortReason().empty()) Die("the scan stopped early: " + scan.AbortReason());
  if (st.readErrors != 0 || st.writeFailures != 0) Die("the scan had read errors or write failures");
  if (st.bytesRead != fs::file_size(image)) Die("the scan did not read the whole image");
  const FolderSummary sum = Summarise(out);
  if (sum.files != closed) Die("found-file count and folder contents disagree");
  // Each photo is written out up to its end-of-image marker.
  if (sum.bytes != pictureBytes) {
    std::fprintf(stderr, "note: the scan wrote %" PRIu64 " bytes, the photos hold %" PRIu64 "\n",
                 sum.bytes, pictureBytes);
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
  const double t0 = Now();
  const ChildRun run = Spawn({cli.string(), "scan", image.string(), "-o", dest.string(), "-q"},
                             {"TMPDIR=" + temp.string()}, "");
  m.seconds = Now() - t0;
  m.cpuSeconds = run.CpuSeconds();
  if (run.exitCode != 0) Die("kestrella-cli scan exited with " + std::to_string(run.exitCode));
  m.files = Summarise(dest).files;
  if (Summarise(temp).files != 0) Die("kestrella-cli left found files in its temporary folder");
  Done({dest, temp});
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const Options opt = ParseOptions(argc, argv);
  g_deleteEach = opt.deleteEach;
  g_prefault = opt.prefault;
  std::error_code ec;
  fs::create_directories(opt.work, ec);
  if (!fs::is_directory(opt.work, ec)) Die("no work folder " + opt.work.string());
  InodeReuse inodes(opt.work);
  g_inodes = &inodes;
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
  const std::vector<PhotoSpot> layout = LayOut(photos, imageBytes);
  const uint64_t laid = layout.size();
  const uint64_t pictureBytes = TotalPictureSize(layout);
  uint64_t photoBytes = 0;
  for (const Photo& p : photos) photoBytes += p.bytes.size();
  const size_t distinct = photos.size();

  bool reused = fs::is_regular_file(image, ec) && fs::file_size(image, ec) == imageBytes;
  double buildSeconds = 0;
  if (!reused) {
    std::fprintf(stderr, "building %s ...\n", image.c_str());
    const double t0 = Now();
    WriteCardImage(image, photos, layout, imageBytes);
    buildSeconds = Now() - t0;
  }
  photos.clear();
  photos.shrink_to_fit();

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
  std::printf("  sectors/read   %u (default for %" PRIu64 " sectors of %u bytes)\n", sectorsAtOnce,
              params.TotalSectors, params.BytesPerSector);
  std::printf("  page cache     image read once before timing; %.0f%% resident\n", warm * 100);
  std::printf("  before a step  sync(2), so earlier writes are on disk before the clock starts\n");
  std::printf("  found files    %s\n", opt.deleteEach ? "deleted right after each step"
                                                      : "kept on disk until the end, then deleted");
  if (inodes.Applies()) {
    std::printf("                 (a step that creates files starts %d s or more after the\n"
                "                 last deletion of found files: ext4 inode reuse, see README)\n",
                InodeReuse::kWaitSeconds);
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
    const Measure s = TimeScan(engine, drive, params, image, opt.work, pictureBytes);
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
    inodes.NoteBulkDelete();
  }
  if (!opt.keep) {
    fs::remove(image, ec);
  } else {
    std::printf("  image kept: %s\n", image.c_str());
  }
  return 0;
}
