#include "app/foundfiles.h"

#include <algorithm>
#include <system_error>

namespace kestrella {

namespace fs = std::filesystem;

namespace {
constexpr unsigned kMaxSkip = 100000;
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
    std::error_code ec;
    fs::copy_file(f.path, target, fs::copy_options::overwrite_existing, ec);
    if (ec) {
      f.keep = true;
      report.failed.push_back({f.path, target.string(), ec.message()});
    } else {
      report.saved.push_back(target.string());
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
