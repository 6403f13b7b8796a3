#include "util/outputfile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "util/helpers.h"

namespace kestrella {

namespace {
constexpr size_t kCopyBufferBytes = 1 << 20;
}  // namespace

int OutputFiles::Open(const std::string& path, int flags, mode_t mode) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, mode);
}

ssize_t OutputFiles::Write(int fd, const void* data, size_t length) {
  return ::write(fd, data, length);
}

ssize_t OutputFiles::CopyRange(int in, int out, size_t length) {
  return ::copy_file_range(in, nullptr, out, nullptr, length, 0);
}

uint64_t OutputFiles::FreeSpace(const std::string& folder) { return NewDiskFree(folder); }

bool OutputFiles::Writable(const std::string& folder) {
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

int OutputFiles::Rename(const std::string& from, const std::string& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

int OutputFiles::SyncFileSystem(int fd) { return ::syncfs(fd) == 0 ? 0 : errno; }

OutputFile::~OutputFile() { Close(); }

void OutputFile::Fail(int err) {
  if (err_ == 0) err_ = err != 0 ? err : EIO;
}

std::string OutputFile::Error() const {
  if (err_ == kOverWriteLimit) {
    return "the run had written more than the card holds, and writing on was not allowed";
  }
  return err_ == 0 ? std::string() : std::strerror(err_);
}

int OutputFile::Open(const std::string& path, int flags) {
  Close();
  path_ = path;
  err_ = 0;
  written_ = 0;
  hasModified_ = false;
  fd_ = files_.Open(path, O_NOFOLLOW | flags, mode_);
  created_ = fd_ >= 0;
  return fd_ >= 0 ? 0 : errno;
}

bool OutputFile::Create(const std::string& path) {
  const int err = Open(path, O_TRUNC);
  if (err != 0) Fail(err);
  return err == 0;
}

OutputFile::NewFile OutputFile::CreateNew(const std::string& path) {
  const int err = Open(path, O_EXCL);
  if (err == 0) return NewFile::Created;
  if (err == EEXIST) return NewFile::Exists;
  Fail(err);
  return NewFile::Failed;
}

bool OutputFile::WriteAll(const uint8_t* p, size_t length) {
  if (fd_ < 0 || Failed()) return false;
  while (length > 0) {
    const ssize_t n = files_.Write(fd_, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail(n < 0 ? errno : ENOSPC);
      return false;
    }
    p += n;
    length -= static_cast<size_t>(n);
    written_ += static_cast<uint64_t>(n);
  }
  return true;
}

bool OutputFiles::Charge(uint64_t bytes) {
  if (limit_ == 0) return true;
  if (spent_ + bytes > limit_) {
    // Asked once: the answer stands for the rest of the job.
    const bool more = !refused_ && askMore_ && askMore_(spent_);
    if (!more) {
      refused_ = true;
      return false;
    }
    limit_ = 0;
  }
  spent_ += bytes;
  return true;
}

void OutputFiles::LimitWrites(uint64_t bytes, std::function<bool(uint64_t written)> askMore) {
  limit_ = bytes;
  spent_ = 0;
  refused_ = false;
  askMore_ = std::move(askMore);
}

bool OutputFile::Charged(size_t length) {
  if (files_.Charge(length)) return true;
  Fail(kOverWriteLimit);
  return false;
}

size_t OutputFile::Write(const void* data, size_t length) {
  Flush();
  const uint64_t before = written_;
  if (fd_ >= 0 && !Failed() && Charged(length)) WriteAll(static_cast<const uint8_t*>(data), length);
  return static_cast<size_t>(written_ - before);
}

void OutputFile::Append(const uint8_t* data, size_t length) {
  if (fd_ < 0 || Failed()) return;
  if (pending_ != nullptr && pending_ + pendingLength_ == data) {
    pendingLength_ += length;
    return;
  }
  Flush();
  pending_ = data;
  pendingLength_ = length;
}

bool OutputFile::Flush() {
  const uint8_t* p = pending_;
  const size_t length = pendingLength_;
  pending_ = nullptr;
  pendingLength_ = 0;
  if (length == 0) return fd_ >= 0 && !Failed();
  if (fd_ < 0 || Failed() || !Charged(length)) return false;
  return WriteAll(p, length);
}

bool OutputFile::CopyFrom(int in, size_t length, std::vector<char>& buffer) {
  if (!Flush()) return false;
  while (length > 0) {
    const ssize_t n = files_.CopyRange(in, fd_, length);
    if (n > 0) {
      length -= static_cast<size_t>(n);
      written_ += static_cast<uint64_t>(n);
      continue;
    }
    if (n == 0) return true;  // the source is shorter than it was: nothing more to copy
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
      Fail(errno);
      return false;
    }
    // Not between these two files: copy through user space.
    if (buffer.empty()) buffer.resize(kCopyBufferBytes);
    while (length > 0) {
      const ssize_t got = ::read(in, buffer.data(), std::min(length, buffer.size()));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        Fail(errno);
        return false;
      }
      if (got == 0) return true;
      if (!WriteAll(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(got)))
        return false;
      length -= static_cast<size_t>(got);
    }
  }
  return true;
}

bool OutputFile::Truncate(uint64_t length) {
  if (fd_ < 0 || !Flush()) return false;
  if (length >= written_) return true;
  if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
    Fail(errno);
    return false;
  }
  written_ = length;
  return true;
}

void OutputFile::SetModified(int64_t seconds) {
  modified_ = seconds;
  hasModified_ = true;
}

bool OutputFile::Close() {
  if (fd_ < 0) return !Failed();
  Flush();
  if (hasModified_ && !Failed()) {
    // Whole seconds: the time comes from a card that keeps two-second steps,
    // and a finer one would claim a precision it never had. A file system
    // that cannot keep times still holds the photo: no failure.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(modified_), 0}};
    ::futimens(fd_, times);
    hasModified_ = false;
  }
  // The last chance for a full disk or a network folder to say no.
  if (::close(fd_) != 0) Fail(errno);
  fd_ = -1;
  return !Failed();
}

void OutputFile::Remove() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  hasModified_ = false;
  pending_ = nullptr;
  pendingLength_ = 0;
  // Only what this object created: a name that was taken stays untouched.
  if (created_) ::unlink(path_.c_str());
  created_ = false;
}

}  // namespace kestrella
