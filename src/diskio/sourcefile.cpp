#include "diskio/sourcefile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace kestrella {

namespace {

// Whether [offset, offset + length) of a window lies inside it.
bool InsideWindow(const SourceWindow& w, uint64_t offset, size_t length) {
  return w.length == 0 || (offset <= w.length && length <= w.length - offset);
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
}

void SourceFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  window_ = SourceWindow{};
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
  offset += window_.offset;
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {  // end of the medium before the run was complete
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
  // as on the card itself instead of growing the file.
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) &&
      offset + length > static_cast<uint64_t>(st.st_size)) {
    errno = ENOSPC;
    return false;
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
    sectorSize = 512;
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
