#include "app/source.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrella {

namespace {

[[noreturn]] void CannotRead(const std::string& path, int err, bool blockDevice) {
  std::string msg = "cannot read " + path + ": " + std::strerror(err);
  if (err == EACCES || err == EPERM) {
    if (blockDevice) {
      msg += "\n  Card readers belong to the 'disk' group. Either run\n"
             "    sudo usermod -aG disk $USER\n"
             "  and log in again, or run this command with sudo.";
    } else {
      msg += "\n  Make the image readable for you, e.g. chmod u+r '" + path + "'.";
    }
  } else if (err == ENOMEDIUM) {
    msg += "\n  Insert the card into the reader and try again.";
  }
  throw UserError(msg);
}

}  // namespace

std::string AccessProblem(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    ::close(fd);
    return "";
  }
  if (errno == EACCES || errno == EPERM) return "no access";
  if (errno == ENOMEDIUM) return "no medium";
  return std::strerror(errno);
}

OpenedSource OpenSource(Engine& engine, const std::string& source) {
  engine.ScanDrives();
  DriveTable& table = engine.Context().drives();
  uint8_t drive = 0;

  if (const uint8_t letter = DriveTable::ParseLetter(source); letter != 0 && source.size() >= 2) {
    const DriveEntry* e = table.Find(letter);
    if (e == nullptr) {
      throw UserError("there is no drive " + std::string(1, DriveLetter(letter)) +
                     ": (see kestrella-cli drives)");
    }
    drive = letter;
  } else {
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0) {
      throw UserError("cannot open " + source + ": " + std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
      throw UserError(source + " is neither a card image file nor a block device");
    }
    std::error_code ec;
    const std::string canon = std::filesystem::weakly_canonical(source, ec).string();
    const DriveEntry* e = table.FindByPath(canon);
    drive = e != nullptr ? e->number : table.AddImage(source);
    if (drive == 0) throw UserError("no free drive letter for " + source);
  }
  return OpenDrive(engine, drive);
}

OpenedSource OpenDrive(Engine& engine, uint8_t drive) {
  const DriveEntry* entry = engine.FindDrive(drive);
  if (entry == nullptr) throw UserError("there is no drive " + std::string(1, DriveLetter(drive)) + ":");
  OpenedSource out;
  out.drive = drive;
  out.entry = *entry;

  const std::string& path = out.entry.source.path;
  struct stat st {};
  const bool blockDevice = ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
  // Try the read-only open that the scan will make, to report why it fails.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) CannotRead(path, errno, blockDevice);
  ::close(fd);

  if (!engine.DriveParams(out.drive, out.params)) {
    throw UserError(path + " is not ready: no medium, or its size cannot be read");
  }
  return out;
}

}  // namespace kestrella
