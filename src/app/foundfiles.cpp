#include "app/foundfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "util/destprobe.h"

namespace kestrella {

namespace fs = std::filesystem;

namespace {
constexpr unsigned kMaxSkip = 100000;
constexpr size_t kCopyBufferBytes = 1 << 20;

std::error_code ErrnoCode(int err) { return {err, std::system_category()}; }

// Writes `length` bytes of `in` (from its current offset) to `out`: inside
// the kernel where the file systems allow it, else through a buffer.
int CopyBytes(int in, int out, size_t length, std::vector<char>& buffer) {
  while (length > 0) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, length, 0);
    if (n > 0) {
      length -= static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return 0;  // the found file is shorter than it was: nothing more to copy
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    // Not between these two files: copy through user space.
    if (buffer.empty()) buffer.resize(kCopyBufferBytes);
    while (length > 0) {
      const ssize_t got = ::read(in, buffer.data(), std::min(length, buffer.size()));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return errno;
      if (got == 0) return 0;
      const char* p = buffer.data();
      size_t left = static_cast<size_t>(got);
      while (left > 0) {
        const ssize_t w = ::write(out, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return w < 0 ? errno : ENOSPC;
        p += w;
        left -= static_cast<size_t>(w);
      }
      length -= static_cast<size_t>(got);
    }
  }
  return 0;
}

// Copies a found file to its target (replacing it). A copy that fails part way
// is removed again: a cut-off photo under a destination name would pass for a
// saved one.
std::error_code CopyFoundFile(const fs::path& from, const fs::path& to, std::vector<char>& buffer) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return ErrnoCode(errno);
  struct stat st {};
  if (::fstat(in, &st) != 0) {
    const int err = errno;
    ::close(in);
    return ErrnoCode(err);
  }
  if (const int err = destprobe::CreateError(to.string())) {
    ::close(in);
    return ErrnoCode(err);
  }
  // A link planted under the target's name is not followed.
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (out < 0) {
    const int err = errno;
    ::close(in);
    return ErrnoCode(err);
  }
  const size_t size = static_cast<size_t>(st.st_size);
  const size_t room = destprobe::WriteRoom(to.string(), size);
  int err = CopyBytes(in, out, room, buffer);
  if (err == 0 && room < size) err = ENOSPC;
  ::close(in);
  // The last chance for a full disk or a network folder to say no.
  if (::close(out) != 0 && err == 0) err = errno;
  if (err != 0) {
    ::unlink(to.c_str());
    return ErrnoCode(err);
  }
  return {};
}
}

std::string SafePrefix(std::string prefix) {
  std::replace(prefix.begin(), prefix.end(), '/', '_');
  return prefix;
}

FoundFileList::~FoundFileList() { DeleteImageFiles(); }

void FoundFileList::AddImage(const std::string& path) {
  files_.push_back({path, true, false});
  deleted_ = false;
}

void FoundFileList::SelectAll(bool ticked) {
  for (FoundFile& f : files_) f.ticked = ticked;
}

SaveReport FoundFileList::SaveSelectedImages(const fs::path& destFolder, const std::string& prefix) {
  SaveReport report;
  const std::string safePrefix = SafePrefix(prefix);
  unsigned skip = 0;  // one counter for the whole save
  std::vector<char> buffer;  // only where the kernel cannot copy by itself
  for (size_t n = 1; n <= files_.size(); ++n) {
    FoundFile& f = files_[n - 1];
    if (!f.ticked) continue;
    const std::string ext = fs::path(f.path).extension().string();
    fs::path target;
    for (;;) {
      target = destFolder / (safePrefix + std::to_string(skip + n) + ext);
      std::error_code ec;
      if (!fs::exists(target, ec) || skip >= kMaxSkip) break;
      ++skip;
    }
    const std::error_code ec = CopyFoundFile(f.path, target, buffer);
    if (ec) {
      f.keep = true;
      report.failed.push_back({f.path, target.string(), ec.message()});
    } else {
      report.saved.push_back(target.string());
      report.savedFrom.push_back(f.path);
    }
  }
  return report;
}

std::vector<std::string> FoundFileList::DeleteImageFiles() {
  std::vector<std::string> kept;
  for (const FoundFile& f : files_) {
    if (f.keep) {
      kept.push_back(f.path);
      continue;
    }
    if (deleted_) continue;
    std::error_code ec;
    fs::remove(f.path, ec);  // a file that cannot be deleted is skipped
  }
  deleted_ = true;
  return kept;
}

}  // namespace kestrella
