#include "app/destinationcheck.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "util/sizetext.h"

namespace kestrella {

namespace fs = std::filesystem;

namespace {

std::string DevNumber(dev_t d) { return std::to_string(major(d)) + ":" + std::to_string(minor(d)); }

std::string ReadDev(const fs::path& sysDir) {
  std::ifstream f(sysDir / "dev");
  std::string s;
  std::getline(f, s);
  return s;
}

// Whether the sysfs device folder `dir`, the disk it is a partition of, or
// a device it is built on (device mapper, md; "slaves" links followed a few
// levels) answers `is`.
template <typename Is>
bool Reaches(const fs::path& dir, const Is& is, int depth) {
  if (depth > 8) return false;
  if (is(dir)) return true;
  std::error_code ec;
  if (fs::exists(dir / "partition", ec) && is(dir.parent_path())) return true;
  for (const auto& slave : fs::directory_iterator(dir / "slaves", ec)) {
    fs::path next = fs::canonical(slave.path(), ec);
    if (!ec && Reaches(next, is, depth + 1)) return true;
  }
  return false;
}

fs::path NearestExisting(fs::path p) {
  std::error_code ec;
  p = fs::absolute(p, ec);
  while (!p.empty() && !fs::exists(p, ec)) {
    if (p == p.parent_path()) break;
    p = p.parent_path();
  }
  return p;
}

}  // namespace

bool DeviceStacksOn(const std::string& devNumber, const std::string& sourceDev,
                    const std::string& sysDevBlock) {
  if (devNumber == sourceDev) return true;
  std::error_code ec;
  fs::path dir = fs::canonical(fs::path(sysDevBlock) / devNumber, ec);
  if (ec) return false;
  return Reaches(dir, [&](const fs::path& d) { return ReadDev(d) == sourceDev; }, 0);
}

bool DeviceBackedBy(const std::string& devNumber, const fs::path& image,
                    const std::string& sysDevBlock) {
  std::error_code ec;
  const fs::path dir = fs::canonical(fs::path(sysDevBlock) / devNumber, ec);
  if (ec) return false;
  const fs::path wanted = fs::weakly_canonical(fs::absolute(image, ec), ec);
  auto backedBy = [&](const fs::path& d) {
    std::ifstream f(d / "loop" / "backing_file");
    std::string backing;
    if (!std::getline(f, backing) || backing.empty()) return false;
    std::error_code e;
    return fs::weakly_canonical(backing, e) == wanted;
  };
  return Reaches(dir, backedBy, 0);
}

DestinationClash CheckDestination(const fs::path& folder, const DriveSource& source,
                                  const std::string& sysDevBlock) {
  std::error_code ec;
  const fs::path dest = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  struct stat srcSt {};
  if (::stat(source.path.c_str(), &srcSt) != 0) return DestinationClash::None;
  struct stat destSt {};
  const bool destKnown = ::stat(NearestExisting(dest).c_str(), &destSt) == 0;

  if (S_ISREG(srcSt.st_mode)) {
    const fs::path image = fs::weakly_canonical(source.path, ec);
    auto d = dest.begin();
    bool below = true;
    for (auto i = image.begin(); i != image.end() && below; ++i, ++d)
      below = d != dest.end() && *d == *i;
    if (below) return DestinationClash::IsTheImage;
    // A card image mounted through a loop device: a folder in that file
    // system would be written into the image itself.
    if (destKnown && DeviceBackedBy(DevNumber(destSt.st_dev), image, sysDevBlock))
      return DestinationClash::InsideTheImage;
    return DestinationClash::None;
  }
  if (S_ISBLK(srcSt.st_mode) && destKnown &&
      DeviceStacksOn(DevNumber(destSt.st_dev), DevNumber(srcSt.st_rdev), sysDevBlock))
    return DestinationClash::OnTheSourceDevice;
  return DestinationClash::None;
}

namespace {

void CheckWritable(const fs::path& folder, const std::string& what) {
  std::string probe = (folder / ".kestrella-write-test-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    throw UserError("cannot write into the " + what + " " + folder.string() + ": " +
                    std::strerror(errno));
  }
  ::close(fd);
  ::unlink(probe.c_str());
}

// What stands in the way of writing into `folder` because of where it is;
// "" when nothing does.
std::string ClashText(DestinationClash clash, const fs::path& folder, const std::string& what,
                      const DriveEntry& source, bool allowOnSource) {
  switch (clash) {
    case DestinationClash::None:
      return {};
    case DestinationClash::IsTheImage:
      return "the " + what + " " + folder.string() + " is the card image " + source.source.path +
             " itself, or inside it";
    case DestinationClash::InsideTheImage:
      return "the " + what + " " + folder.string() + " lies in the file system of the card image " +
             source.source.path + ", which is mounted: writing there would change the image.\n"
             "  Choose a folder outside it.";
    case DestinationClash::OnTheSourceDevice:
      if (allowOnSource) return {};
      return "the " + what + " " + folder.string() + " lies on " + source.source.path +
             ", the device being recovered: writing there would overwrite the files still to be "
             "found.\n  Choose a folder on another disk.";
  }
  return {};
}

void CheckClash(const fs::path& folder, const std::string& what, const DriveEntry& source,
                bool allowOnSource) {
  const DestinationClash clash = CheckDestination(folder, source.source);
  const std::string text = ClashText(clash, folder, what, source, allowOnSource);
  if (text.empty()) return;
  if (clash == DestinationClash::OnTheSourceDevice) throw DestinationClashError(text);
  throw UserError(text);
}

}  // namespace

DestinationState InspectDestination(const fs::path& dest, const DriveEntry& source,
                                    OutputFiles& files, const std::string& sysDevBlock) {
  DestinationState state;
  std::error_code ec;
  state.exists = fs::is_directory(dest, ec);
  state.notAFolder = !state.exists && fs::exists(fs::symlink_status(dest, ec));
  // A missing folder is made in the nearest one above it that exists.
  const fs::path where = state.exists ? dest : NearestExisting(dest);
  state.writable = !state.notAFolder && fs::is_directory(where, ec) && files.Writable(where.string());
  state.freeBytes = files.FreeSpace(where.string());
  state.cardBytes = source.source.sizeBytes;
  if (state.cardBytes == 0) {
    struct stat st {};
    if (::stat(source.source.path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      state.cardBytes = static_cast<uint64_t>(st.st_size);
  }
  state.clash = CheckDestination(dest, source.source, sysDevBlock);
  return state;
}

std::string DestinationRefusal(const DestinationState& state, const fs::path& dest,
                               const DriveEntry& source, bool allowOnSource) {
  std::string text = ClashText(state.clash, dest, "destination folder", source, allowOnSource);
  if (!text.empty()) return text;
  if (state.notAFolder) return dest.string() + " is not a folder";
  if (!state.writable) {
    return (state.exists ? "cannot write into the destination folder "
                         : "cannot create the destination folder ") +
           dest.string() + ": " + std::strerror(EACCES);
  }
  return {};
}

std::string CreateFolderQuestion(const fs::path& dest) {
  return "The folder " + dest.string() + " does not exist. Create it?";
}

std::string LowRoomWarning(const DestinationState& state) {
  return "The destination has " + FormatByteSize(state.freeBytes) + " free; the card holds " +
         FormatByteSize(state.cardBytes) + ". Recovered files may not all fit.";
}

std::string LowRoomQuestion(const DestinationState& state) {
  return LowRoomWarning(state) + " Start anyway?";
}

void PrepareFolders(const fs::path& dest, const fs::path& temp, const DriveEntry& source,
                    bool allowOnSource) {
  CheckClash(dest, "destination folder", source, allowOnSource);
  CheckClash(temp, "temporary folder", source, allowOnSource);
  std::error_code ec;
  fs::create_directories(dest, ec);
  if (ec) {
    throw UserError("cannot create the destination folder " + dest.string() + ": " +
                    ec.message());
  }
  if (!fs::is_directory(dest, ec)) throw UserError(dest.string() + " is not a folder");
  CheckWritable(dest, "destination folder");
  if (!fs::is_directory(temp, ec)) {
    throw UserError("the temporary folder " + temp.string() + " does not exist");
  }
  CheckWritable(temp, "temporary folder");
}

}  // namespace kestrella
