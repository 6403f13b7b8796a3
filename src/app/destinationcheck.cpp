#include "app/destinationcheck.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

// Whether the sysfs device folder `dir` is `target`, a partition of it, or
// built on it (device mapper, md), following "slaves" links a few levels.
bool Reaches(const fs::path& dir, const std::string& target, int depth) {
  if (depth > 8) return false;
  if (ReadDev(dir) == target) return true;
  std::error_code ec;
  if (fs::exists(dir / "partition", ec) && ReadDev(dir.parent_path()) == target) return true;
  for (const auto& slave : fs::directory_iterator(dir / "slaves", ec)) {
    fs::path next = fs::canonical(slave.path(), ec);
    if (!ec && Reaches(next, target, depth + 1)) return true;
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
  return Reaches(dir, sourceDev, 0);
}

DestinationClash CheckDestination(const fs::path& folder, const DriveSource& source,
                                  const std::string& sysDevBlock) {
  std::error_code ec;
  const fs::path dest = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  struct stat srcSt {};
  if (::stat(source.path.c_str(), &srcSt) != 0) return DestinationClash::None;

  if (S_ISREG(srcSt.st_mode)) {
    const fs::path image = fs::weakly_canonical(source.path, ec);
    auto d = dest.begin();
    for (auto i = image.begin(); i != image.end(); ++i, ++d) {
      if (d == dest.end() || *d != *i) return DestinationClash::None;
    }
    return DestinationClash::IsTheImage;
  }
  if (S_ISBLK(srcSt.st_mode)) {
    struct stat destSt {};
    if (::stat(NearestExisting(dest).c_str(), &destSt) != 0) return DestinationClash::None;
    if (DeviceStacksOn(DevNumber(destSt.st_dev), DevNumber(srcSt.st_rdev), sysDevBlock))
      return DestinationClash::OnTheSourceDevice;
  }
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

void CheckClash(const fs::path& folder, const std::string& what, const DriveEntry& source,
                bool allowOnSource) {
  switch (CheckDestination(folder, source.source)) {
    case DestinationClash::None:
      return;
    case DestinationClash::IsTheImage:
      throw UserError("the " + what + " " + folder.string() + " is the card image " +
                      source.source.path + " itself, or inside it");
    case DestinationClash::OnTheSourceDevice:
      if (allowOnSource) return;
      throw DestinationClashError(
          "the " + what + " " + folder.string() + " lies on " + source.source.path +
          ", the device being recovered: writing there would overwrite the files still to be "
          "found.\n  Choose a folder on another disk.");
  }
}

}  // namespace

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
    throw UserError("the temporary folder " + temp.string() +
                    " does not exist; set TMPDIR to a folder with room for the found files");
  }
  CheckWritable(temp, "temporary folder");
}

}  // namespace kestrella
