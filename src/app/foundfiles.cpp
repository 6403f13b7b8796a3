#include "app/foundfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "util/outputfile.h"

namespace kestrella {

namespace fs = std::filesystem;

namespace {
constexpr unsigned kMaxSkip = 100000;

// Copies a found file to its target (replacing it). A copy that fails part way
// is removed again: a cut-off photo under a destination name would pass for a
// saved one. Returns the reason of a failure, "" on success.
std::string CopyFoundFile(OutputFiles& files, const fs::path& from, const fs::path& to,
                          std::vector<char>& buffer) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return std::strerror(errno);
  struct stat st {};
  if (::fstat(in, &st) != 0) {
    const int err = errno;
    ::close(in);
    return std::strerror(err);
  }
  OutputFile out(files);
  if (out.Create(to.string())) out.CopyFrom(in, static_cast<size_t>(st.st_size), buffer);
  ::close(in);
  if (out.Close()) return {};
  out.Remove();
  return out.Error();
}

}  // namespace

std::string SafePrefix(std::string prefix) {
  std::replace(prefix.begin(), prefix.end(), '/', '_');
  return prefix;
}

FoundFileList::~FoundFileList() { DeleteImageFiles(); }

void FoundFileList::AddImage(const std::string& path) {
  found_.push_back({path, true, false});
  deleted_ = false;
}

void FoundFileList::SelectAll(bool ticked) {
  for (FoundFile& f : found_) f.ticked = ticked;
}

SaveReport FoundFileList::SaveSelectedImages(const fs::path& destFolder, const std::string& prefix) {
  SaveReport report;
  const std::string safePrefix = SafePrefix(prefix);
  unsigned skip = 0;  // one counter for the whole save
  std::vector<char> buffer;  // only where the kernel cannot copy by itself
  for (size_t n = 1; n <= found_.size(); ++n) {
    FoundFile& f = found_[n - 1];
    if (!f.ticked) continue;
    const std::string ext = fs::path(f.path).extension().string();
    fs::path target;
    for (;;) {
      target = destFolder / (safePrefix + std::to_string(skip + n) + ext);
      std::error_code ec;
      if (!fs::exists(target, ec) || skip >= kMaxSkip) break;
      ++skip;
    }
    const std::string failure = CopyFoundFile(files_, f.path, target, buffer);
    if (!failure.empty()) {
      f.keep = true;
      report.problems.Add(FileProblem::Kind::NotCopied, f.path, failure, target.string());
    } else {
      report.saved.push_back(target.string());
      report.savedFrom.push_back(f.path);
    }
  }
  return report;
}

std::vector<std::string> FoundFileList::DeleteImageFiles() {
  std::vector<std::string> kept;
  for (const FoundFile& f : found_) {
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
