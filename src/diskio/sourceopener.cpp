#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diskio/sectorsource.h"
#include "diskio/sourcefile.h"
#include "diskio/udisks.h"

namespace kestrella {

namespace {

bool IsBlockDevice(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

}  // namespace

SourceOpener::SourceOpener() : udisks_(std::make_unique<UDisksClient>()) {}

SourceOpener::~SourceOpener() { ForgetGrants(); }

std::unique_ptr<SectorSource> SourceOpener::Open(const std::string& path, bool forRead,
                                                 bool writeThrough, SourceWindow window) {
  // A refusal from an earlier open must not explain this one's failure.
  refusal_.clear();
  auto file = std::make_unique<SourceFile>();
  if (file->Open(path, forRead, writeThrough, window)) return file;
  const int err = errno;
  if (!AskBrokerAfter(err, IsBlockDevice(path), ::geteuid() == 0)) {
    errno = err;
    return nullptr;
  }
  int fd = forRead ? GrantedCopy(path) : -1;
  if (fd < 0) fd = OpenThroughBroker(path, !forRead, writeThrough);
  if (fd < 0) return nullptr;
  if (forRead) {
    // Kept, so that the next open (the size query, a device of the FAT
    // engine) does not ask the user again.
    grants_.emplace_back(path, fd);
    fd = GrantedCopy(path);
    if (fd < 0) return nullptr;
  }
  file->Adopt(fd, path, window);
  return file;
}

std::unique_ptr<SectorSource> SourceOpener::OpenForQuery(const std::string& path,
                                                         SourceWindow window) {
  auto file = std::make_unique<SourceFile>();
  if (file->OpenForQuery(path, window)) return file;
  const int err = errno;
  const int fd = err == EACCES || err == EPERM ? GrantedCopy(path) : -1;
  if (fd < 0) {
    errno = err;
    return nullptr;
  }
  file->Adopt(fd, path, window);
  return file;
}

bool SourceOpener::Granted(const std::string& path) const {
  for (const auto& [granted, fd] : grants_)
    if (granted == path) return true;
  return false;
}

bool SourceOpener::BrokerKnows(const std::string& path) { return udisks_->Knows(path); }

bool SourceOpener::AskForAccess(const std::string& path) {
  refusal_.clear();
  if (Granted(path)) return true;
  const int fd = OpenThroughBroker(path, false, false);
  if (fd < 0) return false;
  grants_.emplace_back(path, fd);
  return true;
}

void SourceOpener::ForgetGrants() {
  for (const auto& [path, fd] : grants_) ::close(fd);
  grants_.clear();
}

int SourceOpener::GrantedCopy(const std::string& path) const {
  for (const auto& [granted, fd] : grants_)
    if (granted == path) return ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  return -1;
}

int SourceOpener::OpenThroughBroker(const std::string& path, bool forWrite, bool writeThrough) {
  const int direct = errno;
  refusal_.clear();
  if (beforeAsking_ && udisks_->Knows(path)) beforeAsking_();
  const BrokerResult r = udisks_->Open(path, forWrite, writeThrough, whileAsking_);
  if (r.answer == BrokerAnswer::Opened) return r.fd;
  refusal_ = BrokerProblem(path, forWrite, r);
  // The service's own open failing for a device in use reads as the
  // engine's would.
  const bool busy = r.answer == BrokerAnswer::Failed &&
                    r.detail.find("Device or resource busy") != std::string::npos;
  errno = busy ? EBUSY : r.answer == BrokerAnswer::Failed ? EIO : direct;
  return -1;
}

}  // namespace kestrella
