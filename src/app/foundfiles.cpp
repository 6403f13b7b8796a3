#include "app/foundfiles.h"

#include <fcntl.h>
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

// Copies a found file to its target (replacing it). A copy that fails part way
// is removed again: a cut-off photo under a destination name would pass for a
// saved one.
std::error_code CopyFoundFile(const fs::path& from, const fs::path& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return ErrnoCode(errno);
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
  std::vector<char> buffer(kCopyBufferBytes);
  int err = 0;
  while (err == 0) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) err = errno;
    if (got <= 0) break;
    size_t left = destprobe::WriteRoom(to.string(), static_cast<size_t>(got));
    const bool cutShort = left < static_cast<size_t>(got);
    const char* p = buffer.data();
    while (left > 0) {
      const ssize_t n = ::write(out, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        err = n < 0 ? errno : ENOSPC;
        break;
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    if (err == 0 && cutShort) err = ENOSPC;
  }
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
    const std::error_code ec = CopyFoundFile(f.path, target);
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
