// The programs as a user runs them, on the same card image, one after the
// other, round after round:
//   cp           /bin/cp IMAGE WORK/copy.img
//   floor        this program as a child (--write-once): creates and writes
//                the photos of the image as files once, nothing else
//   scan         kestrella-cli scan IMAGE -o DEST -q
//   foremost     foremost -t jpg -i IMAGE -o OUTDIR (when installed)
// and on a FAT32 image holding the same photos as deleted files in DCIM/100TEST:
//   tsk_recover  tsk_recover -e FOLDERIMAGE OUTDIR (when installed)
//   recover      kestrella-cli recover --method folder FOLDERIMAGE -o DEST -q
// Each step's clock covers the program from posix_spawn to wait4 plus a
// syncfs of the work folder's file system, so its data is on the disk when
// the clock stops. The peak memory comes from wait4's rusage.
//
// Not a test: it is built with the rest but never registered with CTest.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/benchtools.h"
#include "support/cardimage.h"
#include "support/folderimage.h"

namespace fs = std::filesystem;
using namespace kestrella::bench;

#ifndef KESTRELLA_BENCH_DATA_DIR
#define KESTRELLA_BENCH_DATA_DIR "tests/data/photos"
#endif
#ifndef KESTRELLA_BENCH_RUNNER_PATH
#define KESTRELLA_BENCH_RUNNER_PATH "kestrella-bench-run"
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
  bool foremost = true;
  bool tsk = true;
  bool folder = true;
  bool inodeWait = true;
  bool prefault = true;
  fs::path corpus;  // empty: PhotoFolder() chooses
  fs::path cli = KESTRELLA_BENCH_CLI_PATH;
};

const char* const kUsage =
    "usage: end_to_end [--size-mib N] [--work DIR] [--keep] [--runs N]\n"
    "                  [--no-foremost] [--no-tsk] [--no-folder] [--no-inode-wait]\n"
    "                  [--no-prefault] [--corpus DIR] [--cli PATH]\n"
    "\n"
    "  --size-mib N      card image size in MiB (default 1024)\n"
    "  --work DIR        where the images and every output go (default $TMPDIR,\n"
    "                    else /var/tmp)\n"
    "  --keep            keep the images for the next run (else deleted at the end)\n"
    "  --runs N          rounds of all steps, alternating (default 3)\n"
    "  --no-foremost     leave out foremost\n"
    "  --no-tsk          leave out tsk_recover\n"
    "  --no-folder       leave out the folder route (tsk_recover and recover)\n"
    "  --no-inode-wait   do not wait for ext4 to reuse freed inodes (see the README)\n"
    "  --no-prefault     do not touch fresh memory before each step (see the README)\n"
    "  --corpus DIR      folder of *.jpg photos (default: $KESTRELLA_CORPUS/photos,\n"
    "                    else tests/data/photos)\n"
    "  --cli PATH        the kestrella-cli program (default: the one built alongside)\n";

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
      o.sizeMiB = ParseNumber(a, value(), 40, 2 * 1024 * 1024 - 1);
    } else if (a == "--work") {
      o.work = value();
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a == "--runs") {
      o.runs = static_cast<int>(ParseNumber(a, value(), 1, 99));
    } else if (a == "--no-foremost") {
      o.foremost = false;
    } else if (a == "--no-tsk") {
      o.tsk = false;
    } else if (a == "--no-folder") {
      o.folder = false;
    } else if (a == "--no-inode-wait") {
      o.inodeWait = false;
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

// The floor, run as a child: for each "offset size" line of LAYOUT, reads
// that piece of IMAGE and writes it into a new file of OUTDIR. One pread and
// one write per file: the least a program that looks at the bytes can do.
int WriteOnce(const char* image, const char* layout, const char* outDir) {
  std::ifstream in(layout);
  const int src = ::open(image, O_RDONLY | O_CLOEXEC);
  if (!in || src < 0) return 2;
  std::vector<uint8_t> buf;
  uint64_t offset = 0, size = 0;
  for (size_t i = 1; in >> offset >> size; ++i) {
    if (buf.size() < size) buf.resize(size);
    for (uint64_t done = 0; done < size;) {
      const ssize_t n = ::pread(src, buf.data() + done, size - done, static_cast<off_t>(offset + done));
      if (n <= 0) return 3;
      done += static_cast<uint64_t>(n);
    }
    char name[32];
    std::snprintf(name, sizeof name, "/f%06zu.jpg", i);
    const std::string path = std::string(outDir) + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return 4;
    for (uint64_t done = 0; done < size;) {
      const ssize_t n = ::write(fd, buf.data() + done, size - done);
      if (n <= 0) return 5;
      done += static_cast<uint64_t>(n);
    }
    if (::close(fd) != 0) return 5;
  }
  return 0;
}

fs::path FindProgram(const std::string& name) {
  for (const char* dir : {"/usr/bin", "/usr/sbin", "/bin", "/sbin", "/usr/local/bin"}) {
    const fs::path p = fs::path(dir) / name;
    if (::access(p.c_str(), X_OK) == 0) return p;
  }
  return {};
}

// One program timed round after round.
struct Step {
  std::string name;
  std::string command;    // as printed
  const fs::path* image;  // what it reads
  // The command line, given its output path (a fresh empty folder, or the
  // copy's file name for cp) and its temporary folder.
  std::function<std::vector<std::string>(const fs::path& out, const fs::path& temp)> argv;
  bool outIsFile = false;  // cp: the output is one file
  bool usesTemp = false;   // kestrella-cli: TMPDIR set to a fresh folder
  uint64_t expectFiles = 0, expectBytes = 0;
  bool mustMatch = false;  // a mismatch is a warning (else a note)

  std::vector<double> seconds, cpu;
  std::vector<uint64_t> rssKiB;
  uint64_t files = 0, bytes = 0;
  std::vector<std::string> mismatches;
};

struct Bench {
  Options opt;
  InodeReuse* inodes = nullptr;
  int workFd = -1;
  uint64_t prefaultBytes = 0;
  std::vector<fs::path> outputs;  // deleted at the end
  double minResident = 1;

  void Run(Step& s, int round) {
    const fs::path out =
        s.outIsFile ? opt.work / "copy.img" : FreshFolder(opt.work, ("out-" + s.name).c_str());
    const fs::path temp = s.usesTemp ? FreshFolder(opt.work, ("temp-" + s.name).c_str()) : fs::path();
    const fs::path log = opt.work / ("log-" + s.name + ".txt");
    std::error_code ec;
    if (s.outIsFile) fs::remove(out, ec);
    if (!s.outIsFile && opt.inodeWait) inodes->Wait();
    ::sync();
    EnsureCached(*s.image);
    const double resident = ResidentFraction(*s.image);
    minResident = std::min(minResident, resident);
    if (opt.prefault) PrefaultMemory(prefaultBytes);
    std::vector<std::string> env;
    if (s.usesTemp) env.push_back("TMPDIR=" + temp.string());

    const double t0 = Now();
    const ChildRun run = SpawnMeasured(KESTRELLA_BENCH_RUNNER_PATH, s.argv(out, temp), env, log,
                                       opt.work / "kestrella-bench-run.result");
    const double ended = Now();
    ::syncfs(workFd);
    const double seconds = Now() - t0;
    const double syncSeconds = Now() - ended;

    if (run.exitCode != 0) {
      Die(s.command + " exited with " + std::to_string(run.exitCode) + ":\n" + Tail(log));
    }
    FolderSummary sum;
    if (s.outIsFile) {
      sum = {1, fs::file_size(out)};
      if (sum.bytes != fs::file_size(*s.image)) Die("cp made a copy of the wrong size");
      fs::remove(out, ec);
    } else {
      sum = Summarise(out, ".jpg");
      outputs.push_back(out);
    }
    if (s.usesTemp) {
      if (Summarise(temp).files != 0) Die(s.command + " left files in its temporary folder");
      outputs.push_back(temp);
      // Its found files are written once into a hidden folder of the
      // destination and renamed into place: nothing is deleted in bulk, but
      // nothing of that folder may be left either.
      for (const fs::directory_entry& e : fs::directory_iterator(out))
        if (e.path().filename().string().rfind(".kestrella-", 0) == 0)
          Die(s.command + " left its run folder " + e.path().string());
    }
    fs::remove(log, ec);
    if (!s.outIsFile && (sum.files != s.expectFiles || sum.bytes != s.expectBytes)) {
      char text[200];
      std::snprintf(text, sizeof text,
                    "round %d: %" PRIu64 " files, %" PRIu64 " bytes (expected %" PRIu64
                    " files, %" PRIu64 " bytes)",
                    round, sum.files, sum.bytes, s.expectFiles, s.expectBytes);
      // The floor writes what the layout says: a mismatch is this program's fault.
      if (s.name == "floor") Die(std::string("the floor wrote ") + text);
      s.mismatches.push_back(text);
    }
    s.seconds.push_back(seconds);
    s.cpu.push_back(run.CpuSeconds());
    s.rssKiB.push_back(run.PeakRssKiB());
    s.files = sum.files;
    s.bytes = sum.bytes;
    const uint64_t imageBytes = fs::file_size(*s.image);
    std::printf("  %3d  %-12s %8.3f %7.3f %8.1f %7.2f %9.1f %7" PRIu64 " %9.1f  %5.0f%%\n", round,
                s.name.c_str(), seconds, syncSeconds, MBps(imageBytes, seconds), run.CpuSeconds(),
                run.PeakRssKiB() / 1024.0, sum.files, sum.bytes / 1e6, resident * 100);
    std::fflush(stdout);
  }
};

const Step* Find(const std::vector<Step>& steps, const std::string& name) {
  for (const Step& s : steps)
    if (s.name == name) return &s;
  return nullptr;
}

void PrintRatio(const std::vector<Step>& steps, const char* a, const char* b) {
  const Step* x = Find(steps, a);
  const Step* y = Find(steps, b);
  char label[64];
  std::snprintf(label, sizeof label, "%s / %s", a, b);
  if (x == nullptr || y == nullptr) {
    std::printf("  %-26s (skipped: %s not run)\n", label, x == nullptr ? a : b);
    return;
  }
  std::printf("  %-26s %8.2fx %8.2fx\n", label, Median(x->seconds) / Median(y->seconds),
              Best(x->seconds) / Best(y->seconds));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--write-once") == 0) {
    return WriteOnce(argv[2], argv[3], argv[4]);
  }
  const Options opt = ParseOptions(argc, argv);
  std::error_code ec;
  fs::create_directories(opt.work, ec);
  if (!fs::is_directory(opt.work, ec)) Die("no work folder " + opt.work.string());
  if (!fs::exists(opt.cli, ec)) Die("no kestrella-cli at " + opt.cli.string() + " (use --cli)");
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path foremost = opt.foremost ? FindProgram("foremost") : fs::path();
  const fs::path tsk = opt.folder && opt.tsk ? FindProgram("tsk_recover") : fs::path();
  const fs::path mkfs = opt.folder ? FindProgram("mkfs.fat") : fs::path();

  std::vector<Photo> photos = LoadCorpus(opt.corpus);
  const bool synthetic = photos.empty();
  if (synthetic) {
    std::fprintf(stderr, "note: no photos in %s; using synthetic JPEG-like data\n",
                 opt.corpus.c_str());
    photos = SyntheticPhotos();
  }
  const std::string kind = synthetic ? "synthetic" : "photos";
  const uint64_t imageBytes = opt.sizeMiB * kMiB;
  const std::vector<PhotoSpot> layout = LayOut(photos, imageBytes);
  const uint64_t photoBytes = TotalSize(layout);
  const uint64_t pictureBytes = TotalPictureSize(layout);

  // The same file name as scan_throughput's, so that --keep serves both.
  const fs::path image =
      opt.work / ("kestrella-scan-bench-" + std::to_string(opt.sizeMiB) + "MiB-" + kind + ".img");
  const bool reused = fs::is_regular_file(image, ec) && fs::file_size(image, ec) == imageBytes;
  if (!reused) {
    std::fprintf(stderr, "building %s ...\n", image.c_str());
    WriteCardImage(image, photos, layout, imageBytes);
  }
  const fs::path folderImage =
      opt.work / ("kestrella-folder-bench-" + std::to_string(opt.sizeMiB) + "MiB-" + kind + ".img");
  FolderImagePlan plan;
  bool folderReused = false;
  if (!mkfs.empty()) {
    plan = PlanFolderImage(layout);
    folderReused = fs::is_regular_file(folderImage, ec) && fs::file_size(folderImage, ec) == plan.bytes;
    if (!folderReused) {
      std::fprintf(stderr, "building %s ...\n", folderImage.c_str());
      WriteFolderImage(folderImage, mkfs.string(), plan, photos, layout);
    }
  }
  photos.clear();
  photos.shrink_to_fit();

  // Where each photo lies, for the floor.
  const fs::path layoutFile = opt.work / ("kestrella-bench-layout-" + std::to_string(::getpid()) + ".txt");
  {
    std::ofstream out(layoutFile);
    for (const PhotoSpot& s : layout) out << s.offset << ' ' << s.pictureSize << '\n';
    if (!out) Die("cannot write " + layoutFile.string());
  }

  InodeReuse inodes(opt.work);
  Bench bench;
  bench.opt = opt;
  bench.inodes = &inodes;
  bench.workFd = ::open(opt.work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bench.prefaultBytes = opt.prefault ? (imageBytes + imageBytes / 4) : 0;

  std::vector<Step> steps;
  // A carver's files end at the end-of-image marker; the folder route's are
  // the files as the card's folder describes them.
  auto add = [&](std::string name, std::string command, const fs::path& img, auto argvOf) {
    const bool folderRoute = &img == &folderImage;
    Step s;
    s.name = std::move(name);
    s.command = std::move(command);
    s.image = &img;
    s.argv = argvOf;
    s.expectFiles = layout.size();
    s.expectBytes = folderRoute ? photoBytes : pictureBytes;
    steps.push_back(std::move(s));
    return &steps.back();
  };
  steps.reserve(6);
  add("cp", "cp IMAGE WORK/copy.img", image, [&](const fs::path& out, const fs::path&) {
    return std::vector<std::string>{"/bin/cp", image.string(), out.string()};
  })->outIsFile = true;
  add("floor", "end_to_end --write-once", image, [&](const fs::path& out, const fs::path&) {
    return std::vector<std::string>{self.string(), "--write-once", image.string(),
                                    layoutFile.string(), out.string()};
  });
  Step* scan = add("scan", "kestrella-cli scan IMAGE -o DEST -q", image,
                   [&](const fs::path& out, const fs::path&) {
                     return std::vector<std::string>{opt.cli.string(), "scan", image.string(),
                                                     "-o", out.string(), "-q"};
                   });
  scan->usesTemp = scan->mustMatch = true;
  if (!foremost.empty()) {
    add("foremost", "foremost -t jpg -i IMAGE -o OUTDIR", image,
        [&](const fs::path& out, const fs::path&) {
          return std::vector<std::string>{foremost.string(), "-t", "jpg", "-i", image.string(),
                                          "-o", out.string()};
        });
  }
  if (!tsk.empty() && !mkfs.empty()) {
    add("tsk_recover", "tsk_recover -e FOLDERIMAGE OUTDIR", folderImage,
        [&](const fs::path& out, const fs::path&) {
          return std::vector<std::string>{tsk.string(), "-e", folderImage.string(), out.string()};
        })->mustMatch = true;
  }
  if (!mkfs.empty()) {
    Step* rec = add("recover", "kestrella-cli recover --method folder FOLDERIMAGE -o DEST -q",
                    folderImage, [&](const fs::path& out, const fs::path&) {
                      return std::vector<std::string>{opt.cli.string(), "recover", "--method",
                                                       "folder", folderImage.string(), "-o",
                                                       out.string(), "-q"};
                    });
    rec->usesTemp = rec->mustMatch = true;
  }

  ::sync();
  ReadThrough(image);
  if (!mkfs.empty()) ReadThrough(folderImage);

  std::printf("Kestrella end to end\n");
  std::printf("  card image     %s\n", image.c_str());
  std::printf("                 %" PRIu64 " bytes, %s; %zu %s photos (%" PRIu64
              " bytes) back to back\n",
              imageBytes, reused ? "reused" : "built now", layout.size(),
              synthetic ? "synthetic" : "corpus", photoBytes);
  std::printf("                 (%" PRIu64 " bytes up to their end-of-image markers)\n", pictureBytes);
  std::printf("                 on 512-byte boundaries, the rest zeros\n");
  if (!mkfs.empty()) {
    std::printf("  folder image   %s\n", folderImage.c_str());
    std::printf("                 %" PRIu64 " bytes, %s; FAT32, %u-byte clusters, the same photos\n",
                plan.bytes, folderReused ? "reused" : "built now", plan.sectorsPerCluster * kSector);
    std::printf("                 as deleted files DCIM/100TEST/DSC00001.JPG... in contiguous clusters\n");
  } else if (opt.folder) {
    std::printf("  folder route   skipped: mkfs.fat is not installed\n");
  }
  std::printf("  work folder    %s (%s)\n", opt.work.c_str(), FileSystemName(opt.work).c_str());
  std::printf("  kestrella-cli  %s\n", opt.cli.c_str());
  if (opt.foremost && foremost.empty()) std::printf("  foremost       skipped: not installed\n");
  if (!opt.foremost) std::printf("  foremost       skipped (--no-foremost)\n");
  if (opt.folder && opt.tsk && tsk.empty()) std::printf("  tsk_recover    skipped: not installed\n");
  if (opt.folder && !opt.tsk) std::printf("  tsk_recover    skipped (--no-tsk)\n");
  std::printf("  each step      clock from posix_spawn to wait4 plus syncfs of the work folder's\n"
              "                 file system; before it (outside the clock) sync, the image read\n"
              "                 again if any of it left the page cache%s\n",
              opt.prefault ? ", fresh memory touched" : "");
  std::printf("  outputs        kept until the end, then deleted (cp's copy right away)\n");
  if (inodes.Applies() && opt.inodeWait) {
    std::printf("                 a step that creates files starts %d s or more after the last\n"
                "                 bulk deletion (ext4 inode reuse, see the README)\n",
                InodeReuse::kWaitSeconds);
  } else if (inodes.Applies()) {
    std::printf("                 no wait for ext4 inode reuse (--no-inode-wait): steps after a\n"
                "                 kestrella-cli step may pay for its deletions\n");
  }
  std::printf("  load average   %s at the start\n\n", LoadAverage().c_str());
  std::printf("  run  step          seconds  sync s     MB/s   cpu s  peak MiB   files        MB  image cached\n");
  std::fflush(stdout);

  for (int r = 1; r <= opt.runs; ++r) {
    for (Step& s : steps) bench.Run(s, r);
  }

  std::printf("\n  seconds: the program and the syncfs after it; sync s: of them, the syncfs\n");
  std::printf("  MB/s = image bytes / 1e6 / s; files and MB: the *.jpg files the step wrote\n\n");
  std::printf("  %-12s %9s %9s %9s %9s %8s %12s\n", "step", "median s", "best s", "med. MB/s",
              "peak MiB", "files", "bytes");
  for (const Step& s : steps) {
    std::vector<double> rss(s.rssKiB.begin(), s.rssKiB.end());
    std::printf("  %-12s %9.3f %9.3f %9.1f %9.1f %8" PRIu64 " %12" PRIu64 "\n", s.name.c_str(),
                Median(s.seconds), Best(s.seconds), MBps(fs::file_size(*s.image), Median(s.seconds)),
                Median(rss) / 1024.0, s.files, s.bytes);
  }
  std::printf("\n  %-26s %9s %9s\n", "time ratio", "median", "best");
  PrintRatio(steps, "scan", "floor");
  PrintRatio(steps, "scan", "cp");
  PrintRatio(steps, "scan", "foremost");
  PrintRatio(steps, "recover", "tsk_recover");

  std::printf("\n  peak MiB: the program's ru_maxrss from wait4 (kestrella-bench-run spawns it)\n");
  std::printf("  expected: %zu files; %" PRIu64 " bytes cut at the end-of-image marker (floor,\n"
              "  scan, foremost), %" PRIu64 " bytes as whole files (tsk_recover, recover)\n",
              layout.size(), pictureBytes, photoBytes);
  for (const Step& s : steps) {
    for (const std::string& m : s.mismatches) {
      std::printf("  %s %s: %s\n", s.mustMatch ? "WARNING:" : "note:", s.name.c_str(), m.c_str());
    }
    if (s.name != "cp" && s.mismatches.empty()) {
      std::printf("  %s: every round wrote every photo (count and bytes)\n", s.name.c_str());
    }
  }
  if (bench.minResident < 0.999) {
    std::printf("  WARNING: only %.0f%% of an image was in the page cache before some step\n",
                bench.minResident * 100);
  }
  if (inodes.Waited() > 0) {
    std::printf("  waited %.0f s in all for ext4 inode reuse\n", inodes.Waited());
  }
  std::printf("  load average at the end: %s\n", LoadAverage().c_str());
  std::fflush(stdout);

  for (const fs::path& p : bench.outputs) fs::remove_all(p, ec);
  if (!bench.outputs.empty()) inodes.NoteBulkDelete();
  fs::remove(layoutFile, ec);
  if (!opt.keep) {
    fs::remove(image, ec);
    fs::remove(folderImage, ec);
  } else {
    std::printf("  images kept in %s\n", opt.work.c_str());
  }
  return 0;
}
