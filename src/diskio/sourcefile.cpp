#include "diskio/sourcefile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>


// Kernel headers before 5.15 lack it; such a kernel refuses the call
// (ENOTTY), which leaves the sequence number out of the comparison.
#ifndef BLKGETDISKSEQ
#define BLKGETDISKSEQ _IOR(0x12, 128, __u64)
#endif

namespace kestrella {

namespace {

// How long a block device's answer about its medium is trusted. The stat of
// the path that every check makes is a lookup in memory; the two questions to
// the device go to its driver, and a read of a few sectors would pay for them
// each time. Nobody swaps a card in less than a second, and a read that fails
// (the old card pulled out) has the device asked at the next check anyway.
constexpr auto kDeviceRecheck = std::chrono::seconds(1);

// The sector size of an image file.
constexpr uint32_t kImageSectorSize = 512;

// Whether [offset, offset + length) of a window lies inside it.
bool InsideWindow(const SourceWindow& w, uint64_t offset, size_t length) {
  return w.length == 0 || (offset <= w.length && length <= w.length - offset);
}

// An image file whose size is not a whole number of sectors ends inside its
// last sector, and that sector counts: a camera's card was cut short there,
// and the photo bytes before the cut are worth as much as any. Whether
// [offset, offset + length) starts before `end` and reaches no further than
// the sector holding it (all relative to the window).
bool EndsInLastSector(uint64_t end, uint64_t offset, size_t length) {
  const uint64_t sectorEnd = (end + kImageSectorSize - 1) / kImageSectorSize * kImageSectorSize;
  return offset < end && length <= sectorEnd - offset;
}

}  // namespace

bool SourceFile::Open(const std::string& path, bool forRead, bool writeThrough,
                      SourceWindow window) {
  Close();
  window_ = window;
  int flags = O_CLOEXEC | (forRead ? O_RDONLY : O_WRONLY);
  if (!forRead && writeThrough) flags |= O_DSYNC;
  // Writing under a mounted file system or active swap would wreck it; the
  // kernel refuses an exclusive open of a block device while anything
  // (or any of its partitions) is in use.
  struct stat st {};
  if (!forRead && ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) flags |= O_EXCL;
  fd_ = ::open(path.c_str(), flags);
  if (fd_ < 0) return false;
  path_ = path;
  NoteIdentity(/*ofPath=*/false);
  return true;
}

bool SourceFile::OpenForQuery(const std::string& path, SourceWindow window) {
  Close();
  window_ = window;
  // O_NONBLOCK: an optical drive without a disc answers at once instead of
  // waiting for the tray.
  fd_ = ::open(path.c_str(), O_CLOEXEC | O_RDONLY | O_NONBLOCK);
  if (fd_ < 0) return false;
  path_ = path;
  return true;
}

void SourceFile::Adopt(int fd, const std::string& path, SourceWindow window) {
  Close();
  fd_ = fd;
  path_ = path;
  window_ = window;
  // A descriptor opened elsewhere may reach the device by another node than
  // `path`: what the path names now is what later looks are compared with.
  NoteIdentity(/*ofPath=*/true);
}

void SourceFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  window_ = SourceWindow{};
  noted_ = false;
  gone_ = false;
}

void SourceFile::NoteIdentity(bool ofPath) {
  struct stat st {};
  opened_ = Identity{};
  noted_ = (ofPath ? ::stat(path_.c_str(), &st) : ::fstat(fd_, &st)) == 0 &&
           (S_ISBLK(st.st_mode) || S_ISREG(st.st_mode));
  if (!noted_) return;
  opened_.block = S_ISBLK(st.st_mode);
  if (opened_.block) {
    opened_.device = st.st_rdev;
    AskDevice(opened_);
  } else {
    opened_.device = st.st_dev;
    opened_.inode = st.st_ino;
    opened_.size = static_cast<uint64_t>(st.st_size);
  }
}

void SourceFile::AskDevice(Identity& id) {
  deviceAsked_ = std::chrono::steady_clock::now();
  // A reader without a card answers size 0; a kernel without sequence
  // numbers leaves 0 on both sides.
  uint64_t value = 0;
  id.size = ::ioctl(fd_, BLKGETSIZE64, &value) == 0 ? value : 0;
  value = 0;
  id.sequence = ::ioctl(fd_, BLKGETDISKSEQ, &value) == 0 ? value : 0;
}

bool SourceFile::StillCurrent() {
  if (gone_) return false;
  if (!noted_) return true;
  // An image replaced (a new file renamed over the old path) or grown or cut
  // in place, or a device node that now names another device: the handle
  // still reads what it was opened on, which is no longer what the path names.
  struct stat st {};
  bool same = ::stat(path_.c_str(), &st) == 0;
  if (same && opened_.block) {
    same = S_ISBLK(st.st_mode) && st.st_rdev == opened_.device;
  } else if (same) {
    same = S_ISREG(st.st_mode) && st.st_dev == opened_.device && st.st_ino == opened_.inode &&
           static_cast<uint64_t>(st.st_size) == opened_.size;
  }
  // The same device with another card in it: the kernel counts each new
  // medium in the disk's sequence number, and the size may differ.
  if (same && opened_.block && std::chrono::steady_clock::now() - deviceAsked_ >= kDeviceRecheck) {
    Identity now = opened_;
    AskDevice(now);
    same = now == opened_;
  }
  gone_ = !same;
  return same;
}

bool SourceFile::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  // The end of a partition is the end of its medium.
  if (!InsideWindow(window_, offset, length)) {
    errno = EIO;
    return false;
  }
  const uint64_t start = offset + window_.offset;
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(start + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      deviceAsked_ = {};  // the card may have been pulled: ask at the next check
      return false;
    }
    if (n == 0) {  // end of the medium before the run was complete
      // The rest of a partial last sector reads as zeros.
      if (done > 0 && EndsInLastSector(offset + done, offset, length)) {
        std::fill(out + done, out + length, char{0});
        return true;
      }
      deviceAsked_ = {};
      errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SourceFile::Sync() {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  return ::fdatasync(fd_) == 0;
}

bool SourceFile::WriteAt(uint64_t offset, const void* buffer, size_t length) {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  if (!InsideWindow(window_, offset, length)) {
    errno = ENOSPC;
    return false;
  }
  offset += window_.offset;
  // An image stands for a medium of fixed size: a write past its end fails
  // as on the card itself instead of growing the file. Only the rest of a
  // partial last sector takes a write, which keeps what fits.
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) &&
      offset + length > static_cast<uint64_t>(st.st_size)) {
    const auto size = static_cast<uint64_t>(st.st_size);
    if (size < window_.offset ||
        !EndsInLastSector(size - window_.offset, offset - window_.offset, length)) {
      errno = ENOSPC;
      return false;
    }
    length = static_cast<size_t>(size - offset);
  }
  const auto* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, in + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SourceFile::QuerySize(uint64_t& bytes, uint32_t& sectorSize) {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  uint64_t whole = 0;
  if (S_ISBLK(st.st_mode)) {
    int ssz = 0;
    if (::ioctl(fd_, BLKGETSIZE64, &whole) != 0) return false;
    if (::ioctl(fd_, BLKSSZGET, &ssz) != 0 || ssz <= 0) ssz = 512;
    sectorSize = static_cast<uint32_t>(ssz);
  } else if (S_ISREG(st.st_mode)) {
    whole = static_cast<uint64_t>(st.st_size);
    sectorSize = kImageSectorSize;
  } else {
    errno = ENOTBLK;
    return false;
  }
  // A partition listed larger than what a truncated image still holds is
  // as large as the part that can be read.
  bytes = whole > window_.offset ? whole - window_.offset : 0;
  if (window_.length != 0) bytes = std::min(bytes, window_.length);
  return true;
}

}  // namespace kestrella
