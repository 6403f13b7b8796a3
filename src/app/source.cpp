#include "app/source.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diskio/systemdisk.h"
#include "diskio/udisks.h"
#include "util/helpers.h"

namespace kestrella {

namespace {

constexpr const char* kInsertCard = "Insert the card into the reader.";

[[noreturn]] void CannotRead(const std::string& path, int err, bool blockDevice,
                             const std::string& group) {
  std::string msg = "cannot read " + path + ": " + std::strerror(err);
  const DriveStatus status = OpenFailure(path, err, blockDevice, group);
  if (!status.advice.empty()) msg += "\n  " + status.advice;
  throw UserError(msg);
}

}  // namespace

DriveStatus OpenFailure(const std::string& path, int err, bool blockDevice, const std::string& group) {
  DriveStatus s;
  if (err == EACCES || err == EPERM) {
    s.state = DriveStatus::State::NoPermission;
    s.text = "no permission to read " + path;
    if (!blockDevice) {
      s.advice = "Make the file readable for you (chmod u+r '" + path +
                 "'), or run Kestrella with sudo.";
    } else if (!group.empty() && group != "root") {
      // Joining the group gives lasting access; the root group would give
      // far more than card readers.
      s.advice = "Add yourself to the group that owns it (sudo adduser $USER " + group +
                 ") and log in again, or run Kestrella with sudo.";
    } else {
      s.advice = "Run Kestrella with sudo.";
    }
  } else if (err == ENOMEDIUM) {
    s.state = DriveStatus::State::NoMedium;
    s.text = "no medium";
    s.advice = kInsertCard;
  } else {
    s.state = DriveStatus::State::Failed;
    s.text = "cannot read " + path + ": " + std::strerror(err);
  }
  return s;
}

DriveStatus AccessStatus(const std::string& path) {
  // Non-blocking: an optical drive without a disc answers at once.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    ::close(fd);
    return DriveStatus{};
  }
  const int err = errno;
  struct stat st {};
  const bool known = ::stat(path.c_str(), &st) == 0;
  DriveStatus s = OpenFailure(path, err, known && S_ISBLK(st.st_mode), known ? OwningGroupOf(path) : "");
  // Refused to root as well (a container, a security module): neither a
  // group nor sudo would help.
  if (s.state == DriveStatus::State::NoPermission && ::geteuid() == 0) s.advice.clear();
  return s;
}

DriveStatus ProbeDrive(Engine& engine, uint8_t drive, TLogDriveParams& params) {
  const DriveEntry* entry = engine.FindDrive(drive);
  DriveStatus s;
  if (entry == nullptr) {
    s.state = DriveStatus::State::Failed;
    s.text = "there is no drive " + std::string(1, DriveLetter(drive)) + ":";
    return s;
  }
  const std::string& path = entry->source.path;
  s = AccessStatus(path);
  if (s.state == DriveStatus::State::NoPermission && ::geteuid() != 0) {
    SourceOpener& opener = engine.Context().opener();
    if (opener.Granted(path)) {
      s = DriveStatus{};
    } else if (opener.BrokerKnows(path)) {
      s.state = DriveStatus::State::NeedsPermission;
      s.text = "needs permission";
      s.advice = "Kestrella asks the system for permission to read " + path +
                 " when it opens it; you may be asked for your password.";
    }
  }
  if (s.state != DriveStatus::State::Ready) return s;
  // Opened, but no size: a card reader or an image file without a card.
  if (!engine.DriveParams(drive, params)) {
    s.state = DriveStatus::State::NoMedium;
    s.text = "no medium";
    s.advice = kInsertCard;
  }
  return s;
}

DriveStatus RequestAccess(Engine& engine, uint8_t drive, TLogDriveParams& params) {
  const DriveEntry* entry = engine.FindDrive(drive);
  SourceOpener& opener = engine.Context().opener();
  if (entry != nullptr && !opener.AskForAccess(entry->source.path) && !opener.Refusal().empty()) {
    DriveStatus s;
    s.state = DriveStatus::State::Failed;
    s.text = opener.Refusal();
    return s;
  }
  return ProbeDrive(engine, drive, params);
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
  const bool known = ::stat(path.c_str(), &st) == 0;
  // Try the read-only open that the scan will make, to report why it fails.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    const bool block = known && S_ISBLK(st.st_mode);
    // Refused to this user: UDisks2 may open it once the user agrees. Only
    // a device it does not manage gets the advice about groups and sudo.
    SourceOpener& opener = engine.Context().opener();
    const bool ask = AskBrokerAfter(err, block, ::geteuid() == 0);
    if (!ask || !opener.AskForAccess(path)) {
      if (ask && !opener.Refusal().empty()) throw UserError(opener.Refusal());
      CannotRead(path, err, block, known ? OwningGroupOf(path) : "");
    }
  } else {
    ::close(fd);
  }

  if (!engine.DriveParams(out.drive, out.params)) {
    throw UserError(path + " is not ready: no medium, or its size cannot be read");
  }
  return out;
}

std::vector<DriveEntry> PartitionsOf(Engine& engine, const DriveEntry& whole) {
  std::vector<DriveEntry> parts;
  if (!whole.source.wholeDisk) return parts;
  for (const DriveEntry& e : engine.Drives()) {
    if (e.source.wholeDisk) continue;
    // An image's partitions are drives over the same file; a device's are
    // the kernel's partition devices of that disk.
    const bool ofImage = whole.source.isImage && e.source.isImage && e.source.path == whole.source.path;
    const bool ofDevice = !whole.source.isImage && !e.source.isImage &&
                          WholeDiskName(engine.Roots().sysClassBlock, e.source.name) == whole.source.name;
    if (ofImage || ofDevice) parts.push_back(e);
  }
  return parts;
}

OpenedSource OpenFatSource(Engine& engine, const std::string& source, uint32_t partition,
                           std::string* note) {
  OpenedSource whole = OpenSource(engine, source);
  if (partition == 0) {
    const std::optional<FileSystemFound> fs = engine.FileSystemAt(whole.drive);
    if (!fs || !fs->type.empty()) return whole;  // a card with its volume at sector 0
  }
  const std::vector<DriveEntry> parts = PartitionsOf(engine, whole.entry);
  if (partition == 0 && parts.size() != 1) {
    if (parts.empty()) return whole;  // nothing to look into: the caller says what is missing
    throw UserError(source + " holds " + std::to_string(parts.size()) +
                    " FAT partitions: choose one with --partition N (see kestrella-cli partitions " +
                    source + ")");
  }
  const uint32_t chosen = partition == 0 ? 1 : partition;
  if (chosen > parts.size()) {
    throw UserError(source + " has " + (parts.empty() ? std::string("no") : std::to_string(parts.size())) +
                    " FAT partition" + (parts.size() == 1 ? "" : "s") + ", so no partition " +
                    std::to_string(chosen));
  }
  const DriveEntry& part = parts[chosen - 1];
  if (note != nullptr && partition == 0) {
    *note = "using the FAT partition of " + source + ": " + part.Caption();
  }
  return OpenDrive(engine, part.number);
}

}  // namespace kestrella
