#include "app/cardtools.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/destinationcheck.h"
#include "detect/recoverutils.h"
#include "diskio/bootsector.h"
#include "diskio/enginecontext.h"
#include "diskio/logicalio.h"
#include "util/sizetext.h"
#include "util/userinterface.h"

namespace kestrella {

namespace {

void Warn(UserInterface& ui, const std::string& text) {
  ui.MessageBox(text, "Warning", MsgIcon::Warning, MsgButtons::Ok);
}

bool Ask(UserInterface& ui, const std::string& text) {
  return ui.MessageBox(text, "Confirm", MsgIcon::Question, MsgButtons::YesNo) == MsgResult::Yes;
}

std::string DriveName(const DriveEntry& drive) { return std::string(1, drive.Letter()); }

// The ranges of failed sectors a wipe's outcome names; more are counted.
constexpr size_t kListedFailedRanges = 5;

// Mount points in mountinfo escape blanks and the like as octal.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool octal = s[i] == '\\' && i + 3 < s.size() &&
                       std::all_of(s.begin() + static_cast<long>(i) + 1, s.begin() + static_cast<long>(i) + 4,
                                   [](char c) { return c >= '0' && c <= '7'; });
    if (octal) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8)));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// The first `name` that can be run in PATH (or /usr/bin:/bin when it is
// unset), then in /usr/sbin and /sbin: mkfs.fat lives in /usr/sbin, which
// an ordinary user's PATH on Debian does not name, and formatting a card
// image needs no root.
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(std::string(path != nullptr && *path != '\0' ? path : "/usr/bin:/bin") +
                          ":/usr/sbin:/sbin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    // An empty entry would mean the current folder: never a place for a
    // program run on a user's card.
    if (dir.empty()) continue;
    const std::string file = dir + "/" + name;
    if (::access(file.c_str(), X_OK) == 0) return file;
  }
  return std::string();
}

// Runs the program args[0] (a path) with exactly these arguments, no shell
// between, and collects what it writes to stdout and stderr in `output`.
// Returns its exit status, or -1 when it could not be started or was killed.
int RunProgram(const std::vector<std::string>& args, std::string& output) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int err = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (err != 0) {
    ::close(fds[0]);
    return -1;
  }
  std::array<char, 512> buf{};
  for (;;) {
    const ssize_t n = ::read(fds[0], buf.data(), buf.size());
    if (n > 0) output.append(buf.data(), static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR) break;
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string KindOfDrive(const DriveSource& s) {
  if (s.isImage) {
    return s.partition != 0 ? "partition " + std::to_string(s.partition) + " of a disk image"
                            : "card image";
  }
  if (s.floppy) return "floppy disk";
  switch (s.rootType) {
    // Laptop SD slots are mmcblk devices; USB readers and sticks are sdX.
    case RootKind::Removable: return s.name.rfind("mmcblk", 0) == 0 ? "SD card" : "removable drive";
    case RootKind::Fixed: return "fixed disk";
    case RootKind::Remote: return "network drive";
    case RootKind::CDROM: return "CD/DVD drive";
    case RootKind::RamDisk: return "RAM disk";
    default: return "drive";
  }
}

}  // namespace

std::string DriveDescription(const DriveEntry& drive) {
  const DriveSource& s = drive.source;
  const std::string size = s.sizeBytes == 0 ? "no medium" : FormatByteSize(s.sizeBytes);
  return s.path + " (" + KindOfDrive(s) + ", " + size + ")";
}

std::string WipeQuestion(const DriveEntry& drive) {
  return "Wipe every sector of " + DriveDescription(drive) + "? Everything on it will be lost.";
}

std::string FormatAfterWipeQuestion(const DriveEntry& drive) {
  return "Format " + DriveDescription(drive) +
         " now? A wiped card has no file system: cameras and computers cannot use it until it "
         "is formatted.";
}

std::string WipeOutcome(const DriveEntry& drive, const TLogDriveParams& params,
                        const TWipeResult& result) {
  std::string text;
  if (result.ran && result.stopped) {
    const uint64_t bps = params.BytesPerSector;
    text = "The wipe was stopped after " + FormatByteSize(result.sectorsReached * bps) + " of " +
           FormatByteSize(params.TotalSectors * bps) +
           ": the card is partly wiped and its file system is damaged. Format it before use.";
  }
  if (result.failedWrites > 0) {
    // Saying nothing would pass old photos off as wiped.
    if (!text.empty()) text += "\n\n";
    text += "Some sectors of [" + DriveName(drive) + ":] could not be written and still hold their old data (" +
            std::to_string(result.sectorsWritten) + " of " + std::to_string(params.TotalSectors) +
            " sectors were wiped).";
    std::string where;
    for (const auto& [first, count] : result.failedSectors)
      where += (where.empty() ? "" : ", ") + std::to_string(first) + "-" + std::to_string(first + count - 1);
    if (!where.empty())
      text += " Sectors not wiped: " + where + (result.moreFailedSectors ? ", ..." : "") + ".";
  }
  return text;
}

std::string MountPointOf(const DriveSource& source, const std::string& mountInfo,
                         const std::string& sysDevBlock) {
  struct stat st {};
  if (source.isImage || ::stat(source.path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return "";
  return MountPointOfDevice(std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)),
                            mountInfo, sysDevBlock);
}

std::string MountPointOfDevice(const std::string& device, const std::string& mountInfo,
                               const std::string& sysDevBlock) {
  std::ifstream f(mountInfo);
  std::string line;
  while (std::getline(f, line)) {
    // "36 35 8:17 / /media/card rw,..." : the third field is the device.
    std::istringstream fields(line);
    std::string id, parent, dev, root, point;
    if (!(fields >> id >> parent >> dev >> root >> point)) continue;
    if (DeviceStacksOn(dev, device, sysDevBlock)) return Unescape(point);
  }
  return "";
}

std::string SystemMemoryDevice(const DriveSource& source, const std::string& swaps) {
  const std::string& name = source.name;
  if (!source.isImage && name.rfind("zram", 0) == 0) return "it is compressed memory (zram), not a card";
  if (!source.isImage && name.size() > 3 && name.rfind("ram", 0) == 0 &&
      name.find_first_not_of("0123456789", 3) == std::string::npos)
    return "it is a RAM disk, not a card";
  struct stat st {};
  if (::stat(source.path.c_str(), &st) != 0) return "";
  const bool block = S_ISBLK(st.st_mode);
  const std::string device = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  std::ifstream f(swaps);
  std::string line;
  std::getline(f, line);  // the heading
  while (std::getline(f, line)) {
    std::istringstream fields(line);
    std::string file;
    struct stat sw {};
    if (!(fields >> file) || ::stat(Unescape(file).c_str(), &sw) != 0) continue;
    const bool same = block ? S_ISBLK(sw.st_mode) && DeviceStacksOn(std::to_string(major(sw.st_rdev)) + ":" +
                                                                    std::to_string(minor(sw.st_rdev)),
                                                                device, "/sys/dev/block")
                            : sw.st_dev == st.st_dev && sw.st_ino == st.st_ino;
    if (same) return "it is in use as swap";
  }
  return "";
}

TWipeResult TWipe::WipeDrive(const DriveEntry& drive, const TLogDriveParams& params,
                             uint32_t blockSize) {
  TWipeResult result;
  switch (drive.source.rootType) {
    case RootKind::Removable:
    case RootKind::RamDisk: break;
    case RootKind::Fixed: Warn(context_.ui(), "Cannot wipe fixed drive."); return result;
    case RootKind::Remote: Warn(context_.ui(), "Cannot wipe remote drive."); return result;
    case RootKind::CDROM: Warn(context_.ui(), "Cannot wipe cd-rom."); return result;
    default: return result;
  }
  if (params.TotalSectors == 0 || params.BytesPerSector == 0) return result;
  if (const std::string point = MountPointOf(drive.source); !point.empty()) {
    Warn(context_.ui(), "Cannot wipe [" + DriveName(drive) + ":]: it is mounted at " + point +
         ". Unmount it first.");
    return result;
  }
  if (const std::string memory = SystemMemoryDevice(drive.source); !memory.empty()) {
    Warn(context_.ui(), "Cannot wipe [" + DriveName(drive) + ":]: " + memory + ".");
    return result;
  }
  if (drive.source.readOnly) {
    Warn(context_.ui(), "Cannot wipe [" + DriveName(drive) + ":]: it is write-protected (check the card's lock switch).");
    return result;
  }
  if (!Ask(context_.ui(), WipeQuestion(drive))) return result;
  // Opened before the first sector is touched: a drive that something else
  // holds (a mounted partition, swap, another program's exclusive use) is
  // refused whole, not wiped in part.
  if (const int err = context_.diskutils().OpenForWriting(drive.number); err != 0) {
    // When UDisks2 was asked for the device, its answer (refused, nobody to
    // ask, no service) says more than the system's "Permission denied".
    const std::string& refusal = context_.opener().Refusal();
    if (!refusal.empty()) {
      Warn(context_.ui(), "Cannot wipe [" + DriveName(drive) + ":]: " + refusal);
      return result;
    }
    Warn(context_.ui(), "Cannot wipe [" + DriveName(drive) + ":]: " +
                            (err == EBUSY ? std::string("it is in use (mounted, or held by another program)")
                                          : std::string(std::strerror(err))) +
                            ".");
    return result;
  }

  stopRequested_ = false;
  context_.ui().ProcessMessages();
  const uint64_t total = params.TotalSectors;
  const uint32_t bps = params.BytesPerSector;
  // One zeroed buffer, at most kLargestReadBytes per write as for the scan.
  const uint32_t maxBlock = std::max<uint32_t>(1, kLargestReadBytes / bps);
  uint32_t block = std::clamp<uint32_t>(blockSize, 1, std::min<uint32_t>(maxBlock, 65535));
  std::vector<uint8_t> zeros(static_cast<size_t>(block) * bps);
  uint64_t next = 0;
  result.ran = true;
  try {
    while (next < total && !stopRequested_) {
      if (next + block > total) block = static_cast<uint32_t>(total - next);
      FillBytes(zeros.data(), static_cast<int32_t>(static_cast<size_t>(block) * bps), 0);
      result.sectorsReached = next + block;
      // Each block is flushed before it counts as wiped: a write the page
      // cache took can still fail on its way to the card, and a wipe that
      // claimed sectors it never reached would pass old photos off as gone.
      if (context_.diskutils().WriteLogicalSectors(drive.number, next, static_cast<uint16_t>(block), zeros.data()) &&
          context_.diskutils().FlushWrites(drive.number)) {
        result.sectorsWritten += block;
      } else {
        // Reported at the end: a wipe that silently left data behind would
        // be worse than none.
        ++result.failedWrites;
        auto& failed = result.failedSectors;
        if (!failed.empty() && failed.back().first + failed.back().second == next)
          failed.back().second += block;  // one range for a run of failed blocks
        else if (failed.size() < kListedFailedRanges)
          failed.emplace_back(next, block);
        else
          result.moreFailedSectors = true;
      }
      for (uint32_t i = 0; i < block; ++i) {
        if (OnProgress) OnProgress(next, total);
        context_.ui().ProcessMessages();
        ++next;
        if (stopRequested_) break;
      }
    }
  } catch (...) {
  }
  // A stop, or a failure that ended the loop: the card is half wiped.
  result.stopped = next < total;
  stopRequested_ = true;
  if (OnProgress) OnProgress(0, total);
  context_.diskutils().NT_CloseDrive();
  return result;
}

bool FormatAllowed(EngineContext& context, const DriveEntry& drive) {
  UserInterface& ui = context.ui();
  switch (drive.source.rootType) {
    case RootKind::Removable:
    case RootKind::RamDisk: break;
    case RootKind::Fixed: Warn(ui, "Can not format fixed drive."); return false;
    case RootKind::Remote: Warn(ui, "Can not format remote drive."); return false;
    case RootKind::CDROM: Warn(ui, "Can not format cd-rom."); return false;
    default: return false;
  }
  if (const std::string point = MountPointOf(drive.source); !point.empty()) {
    Warn(ui, "Cannot format [" + DriveName(drive) + ":]: it is mounted at " + point +
         ". Unmount it first.");
    return false;
  }
  if (const std::string memory = SystemMemoryDevice(drive.source); !memory.empty()) {
    Warn(ui, "Cannot format [" + DriveName(drive) + ":]: " + memory + ".");
    return false;
  }
  if (drive.source.readOnly) {
    Warn(ui, "Cannot format [" + DriveName(drive) + ":]: it is write-protected (check the card's lock switch).");
    return false;
  }
  if (drive.source.partition != 0) {
    // mkfs.fat formats whole files; a partition inside an image is left to
    // tools that know the image's table.
    Warn(ui, "Cannot format a partition inside a disk image.");
    return false;
  }
  return true;
}

int FormatDrive(EngineContext& context, const DriveEntry& drive, const TFormatOptions& options,
                std::string* output) {
  if (!FormatAllowed(context, drive)) return -1;
  context.diskutils().NT_CloseDrive();
  std::string text;
  const std::string mkfs = FindProgram("mkfs.fat");
  if (mkfs.empty()) {
    if (output != nullptr) *output = "mkfs.fat was not found: it comes with the dosfstools package.\n";
    return 127;
  }
  // An argument list, not a command line: the label and the path reach
  // mkfs.fat exactly as given, whatever quotes or $ they hold.
  std::vector<std::string> args = {mkfs};
  if (options.fatBits == 12 || options.fatBits == 16 || options.fatBits == 32)
    args.insert(args.end(), {"-F", std::to_string(options.fatBits)});
  if (!options.label.empty()) args.insert(args.end(), {"-n", options.label.substr(0, 11)});
  if (options.clusterBytes >= 512) args.insert(args.end(), {"-s", std::to_string(options.clusterBytes / 512)});
  // "--": a path that begins with "-" is still a path.
  args.insert(args.end(), {"-I", "--", drive.source.path});
  int result = RunProgram(args, text);
  if (result == 0 && options.fatBits != 0) {
    // mkfs.fat makes a FAT32 of too few clusters when told to, with only a
    // warning. Cameras, computers and this program tell the FAT type by the
    // cluster count and would read it as FAT16: that is no success.
    std::array<uint8_t, 512> boot{};
    std::ifstream f(drive.source.path, std::ios::binary);
    f.read(reinterpret_cast<char*>(boot.data()), static_cast<std::streamsize>(boot.size()));
    const std::string wanted = "FAT" + std::to_string(options.fatBits);
    const std::string made = f ? ProbeFatBootSector(boot.data(), boot.size()) : std::string();
    if (made != wanted) {
      text += "The drive has too few clusters for " + wanted + (made.empty() ? "" : ": it reads as " + made) +
              ". Choose another file system or a smaller cluster size.\n";
      result = 1;
    }
  }
  if (output != nullptr) *output = text;
  return result;
}

}  // namespace kestrella
