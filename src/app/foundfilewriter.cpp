#include "app/foundfilewriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "util/destprobe.h"

namespace kestrella {

FoundFileWriter::~FoundFileWriter() { Close(); }

void FoundFileWriter::Fail(int err) {
  if (error_.empty()) error_ = std::strerror(err);
}

int FoundFileWriter::Open(const std::string& path, int flags) {
  Close();
  path_ = path;
  error_.clear();
  written_ = 0;
  if (const int err = destprobe::CreateError(path)) return err;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
  return fd_ >= 0 ? 0 : errno;
}

bool FoundFileWriter::Create(const std::string& path) {
  const int err = Open(path, O_TRUNC);
  if (err != 0) Fail(err);
  return err == 0;
}

FoundFileWriter::NewFile FoundFileWriter::CreateNew(const std::string& path) {
  const int err = Open(path, O_EXCL);
  if (err == 0) return NewFile::Created;
  if (err == EEXIST) return NewFile::Exists;
  Fail(err);
  return NewFile::Failed;
}

void FoundFileWriter::Append(const uint8_t* data, size_t length) {
  if (fd_ < 0 || Failed()) return;
  if (pending_ != nullptr && pending_ + pendingLength_ == data) {
    pendingLength_ += length;
    return;
  }
  Flush();
  pending_ = data;
  pendingLength_ = length;
}

bool FoundFileWriter::Flush() {
  const uint8_t* p = pending_;
  size_t left = pendingLength_;
  pending_ = nullptr;
  pendingLength_ = 0;
  if (fd_ < 0 || Failed()) return false;
  const size_t room = destprobe::WriteRoom(path_, left);
  const bool cutShort = room < left;
  left = room;
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
      return false;
    }
    if (n == 0) {
      Fail(ENOSPC);
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
    written_ += static_cast<uint64_t>(n);
  }
  if (cutShort) {
    Fail(ENOSPC);
    return false;
  }
  return true;
}

bool FoundFileWriter::Close() {
  if (fd_ < 0) return !Failed();
  Flush();
  // The last chance for a full disk or a network folder to say no.
  if (::close(fd_) != 0) Fail(errno);
  fd_ = -1;
  return !Failed();
}

}  // namespace kestrella
