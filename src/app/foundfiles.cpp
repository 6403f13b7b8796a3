#include "app/foundfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <future>
#include <system_error>
#include <vector>

#include "fat/fatnodes.h"
#include "util/helpers.h"
#include "util/outputfile.h"

namespace kestrella {

namespace fs = std::filesystem;

namespace {
constexpr unsigned kMaxSkip = 100000;
// "stem (n).ext" names tried before a file is given up as unplaceable.
constexpr int kMaxNameNumber = 100000;

// A large file is copied in pieces of this size, with the progress told
// between them: one copy_file_range over half a gigabyte on a slow stick
// would hold the window still for seconds.
constexpr size_t kCopyChunk = 4u << 20;

// Copies a found file into `out`, which the caller created under its
// target name, and gives it the card's time. A copy that fails part way is
// removed again: a cut-off photo under a destination name would pass for a
// saved one. `chunkDone` hears of every piece copied. Returns the reason of
// a failure, "" on success.
std::string CopyFoundFile(const fs::path& from, OutputFile& out, const std::optional<int64_t>& modified,
                          std::vector<char>& buffer, const std::function<void(uint64_t)>& chunkDone) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    const int err = errno;
    out.Remove();
    return std::strerror(err);
  }
  struct stat st {};
  if (::fstat(in, &st) != 0) {
    const int err = errno;
    ::close(in);
    out.Remove();
    return std::strerror(err);
  }
  size_t left = static_cast<size_t>(st.st_size);
  while (left > 0) {
    const size_t chunk = std::min(left, kCopyChunk);
    const uint64_t before = out.BytesWritten();
    if (!out.CopyFrom(in, chunk, buffer)) break;
    const uint64_t copied = out.BytesWritten() - before;
    if (chunkDone) chunkDone(copied);
    if (copied < chunk) break;  // the source ended early: nothing more to copy
    left -= chunk;
  }
  ::close(in);
  if (modified) out.SetModified(*modified);
  if (out.Close()) return {};
  out.Remove();
  return out.Error();
}

std::string UpperExtension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

// The kind a found file is of: the one its finder named, else its extension.
std::string KindOf(const FoundOrigin& origin, const std::string& foundPath) {
  return SafeFileName(origin.kind.empty() ? UpperExtension(foundPath) : origin.kind);
}

// What became of one try to put a found file under a name.
enum class Placed {
  Moved,    // renamed: the found file is the saved one now
  Created,  // the name is ours as an empty file: the bytes are to be copied into it
  Taken,    // something has that name
  Failed,   // out's error says why
};

// Puts found files under their names in the destination. Where the run
// folder and the destination share a file system, a found file is renamed:
// its bytes, written once by the run, are not written again. Elsewhere
// (a temporary folder the user chose on another drive), or on a file system
// that cannot rename without replacing, it is copied.
class Placer {
 public:
  explicit Placer(OutputFiles& files) : files_(files) {}

  Placed Place(const std::string& from, const std::string& target, OutputFile& out) {
    if (move_) {
      const int err = files_.Rename(from, target);
      if (err == 0) return Placed::Moved;
      if (err == EEXIST) return Placed::Taken;
      if (err == EINVAL) return PlaceByPlaceholder(from, target, out);
      // Another file system, or one without renames: copy from now on.
      // Anything else (a folder that refuses new files, a found file gone)
      // is this file's own failure, which the copy then names.
      if (err == EXDEV || err == EPERM || err == ENOTSUP || err == ENOSYS) move_ = false;
    }
    return Create(out, target);
  }

 private:
  static Placed Create(OutputFile& out, const std::string& target) {
    switch (out.CreateNew(target)) {
      case OutputFile::NewFile::Created: return Placed::Created;
      case OutputFile::NewFile::Exists: return Placed::Taken;
      case OutputFile::NewFile::Failed: break;
    }
    return Placed::Failed;
  }

  // The file system cannot tell in one step whether the name is free (a
  // FUSE file system, say): the name is claimed with an empty file first,
  // which the rename then replaces. Nothing but our own empty file is ever
  // replaced.
  Placed PlaceByPlaceholder(const std::string& from, const std::string& target, OutputFile& out) {
    const Placed claimed = Create(out, target);
    if (claimed != Placed::Created) return claimed;
    out.Close();
    if (::rename(from.c_str(), target.c_str()) == 0) return Placed::Moved;
    move_ = false;
    return out.Create(target) ? Placed::Created : Placed::Failed;
  }

  OutputFiles& files_;
  bool move_ = true;
};

// Puts `from` under the first free name of `name` in `folder`: the name
// itself, "stem (2).ext", ...; empty with out's error when there is none.
std::string PlaceUnderFreeName(Placer& placer, const std::string& from, OutputFile& out,
                               const fs::path& folder, const std::string& name, Placed& how) {
  for (int n = 1; n <= kMaxNameNumber; ++n) {
    const std::string candidate = (folder / NumberedName(name, n)).string();
    how = placer.Place(from, candidate, out);
    if (how == Placed::Moved || how == Placed::Created) return candidate;
    if (how == Placed::Failed) return {};
  }
  how = Placed::Failed;
  return {};
}

// Gives a moved file the card's time, as a copy gets it when it is closed.
void SetModified(const std::string& path, const std::optional<int64_t>& modified) {
  if (!modified) return;
  const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*modified), 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Writes out what the kernel still holds of the file systems behind `fds`,
// telling `progress` a few times a second while it waits: on a slow USB
// stick this can take minutes after the last file was placed. Returns the
// reason of a failure, "" when everything is on the drives.
std::string FlushToDrive(OutputFiles& files, const std::vector<int>& fds, SaveProgress done,
                         const SaveProgressFn& progress) {
  done.flushing = true;
  const auto start = std::chrono::steady_clock::now();
  auto flush = std::async(std::launch::async, [&files, &fds] {
    for (const int fd : fds) {
      const int err = files.SyncFileSystem(fd);
      if (err != 0) return err;
    }
    return 0;
  });
  while (flush.wait_for(std::chrono::milliseconds(progress ? 100 : 1000)) != std::future_status::ready) {
    if (!progress) continue;
    done.unwritten = UnwrittenBytes();
    done.flushSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress(done);
  }
  const int err = flush.get();
  return err == 0 ? std::string() : std::strerror(err);
}

// Makes the folders of `rel` below `dest`, which must exist already: a
// destination that is gone (a card reader's card pulled, a folder renamed)
// is a failure to report, not one to make afresh somewhere else.
std::string MakeFoldersBelow(const fs::path& dest, const fs::path& rel) {
  std::error_code ec;
  if (!fs::is_directory(dest, ec)) return ec ? ec.message() : std::strerror(ENOENT);
  if (rel.empty()) return {};
  fs::create_directories(dest / rel, ec);
  return ec ? ec.message() : std::string();
}

}  // namespace

std::string SafePrefix(std::string prefix) {
  std::replace(prefix.begin(), prefix.end(), '/', '_');
  return prefix;
}

fs::path SavedName(const FoundOrigin& origin, const std::string& foundPath, bool folderPerKind) {
  const std::string kind = KindOf(origin, foundPath);
  fs::path rel;
  if (folderPerKind && !kind.empty()) rel /= kind;
  // Every part is made a plain file name again: the parts come from the
  // card, and none may climb out of the destination or name a folder in it.
  for (const std::string& folder : origin.folders) rel /= SafeFileName(folder);
  if (!origin.name.empty()) return rel / SafeFileName(origin.name);
  if (origin.unit == FoundOrigin::Unit::None) return rel / fs::path(foundPath).filename();
  // A file nothing names is named by kind and place, so that a technician
  // can find it on the card again.
  const std::string ext = fs::path(foundPath).extension().string();
  const char* unit = origin.unit == FoundOrigin::Unit::Cluster ? "-cluster-" : "-sector-";
  const std::string name = (kind.empty() ? std::string("file") : kind) + unit +
                           std::to_string(origin.position) + (ext.empty() ? "." + kind : ext);
  if (origin.folders.empty()) rel /= origin.lost ? "lost" : "found-by-scan";
  return rel / SafeFileName(name);
}

std::string ShownName(const FoundFile& file) {
  if (!file.origin.name.empty()) return file.origin.name;
  return SavedName(file.origin, file.path, false).filename().string();
}

FoundFileList::~FoundFileList() { DeleteImageFiles(); }

fs::path FoundFileList::OpenRunFolder(const fs::path& tempLocation) {
  folder_ = RunFolder::Create(tempLocation);
  return folder_->Path();
}

void FoundFileList::UseRunFolder(std::unique_ptr<RunFolder> folder) { folder_ = std::move(folder); }

fs::path FoundFileList::RunFolderPath() const { return folder_ ? folder_->Path() : fs::path(); }

void FoundFileList::AddImage(const std::string& path, FoundOrigin origin) {
  found_.push_back({path, true, false, false, std::move(origin)});
  deleted_ = false;
  if (folder_) folder_->Record(found_.back());
}

void FoundFileList::SelectAll(bool ticked) {
  for (FoundFile& f : found_) f.ticked = ticked;
}

size_t FoundFileList::UnsavedCount() const {
  return static_cast<size_t>(
      std::count_if(found_.begin(), found_.end(), [](const FoundFile& f) { return f.ticked && !f.saved; }));
}

SaveReport FoundFileList::SaveSelectedImages(const fs::path& destFolder, const SaveNaming& naming,
                                             const SaveProgressFn& progress) {
  SaveReport report;
  const std::string safePrefix = SafePrefix(naming.prefix);
  unsigned skip = 0;  // one counter for the whole save
  std::vector<char> buffer;  // only where the kernel cannot copy by itself
  Placer placer(files_);
  SaveProgress done;
  for (const FoundFile& f : found_) {
    if (!f.ticked || f.saved) continue;
    ++done.filesTotal;
    std::error_code ec;
    const uintmax_t size = fs::file_size(f.path, ec);
    if (!ec) done.bytesTotal += size;
  }
  // Opened before anything is written: a flush reports the write errors of
  // its file system since then (and the run folder's, since the run began).
  const int destFd = ::open(destFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool stopped = progress && !progress(done);
  const std::function<void(uint64_t)> chunkDone = [&](uint64_t bytes) {
    done.bytesDone += bytes;
    if (progress && !progress(done)) stopped = true;
  };
  for (size_t n = 1; n <= found_.size(); ++n) {
    FoundFile& f = found_[n - 1];
    if (!f.ticked || f.saved) continue;
    if (stopped) {
      f.keep = true;
      report.notTried.push_back(f.path);
      continue;
    }
    OutputFile out(files_);
    std::string target;
    std::string failure;
    Placed how = Placed::Failed;
    if (naming.cardNames) {
      const fs::path rel = SavedName(f.origin, f.path, naming.folderPerKind);
      failure = MakeFoldersBelow(destFolder, rel.parent_path());
      if (failure.empty()) {
        target = PlaceUnderFreeName(placer, f.path, out, destFolder / rel.parent_path(),
                                    rel.filename().string(), how);
      }
      if (failure.empty() && target.empty()) failure = out.Failed() ? out.Error() : "no free name";
      if (target.empty()) target = (destFolder / rel).string();
    } else {
      const std::string ext = fs::path(f.path).extension().string();
      const fs::path kind = naming.folderPerKind ? fs::path(KindOf(f.origin, f.path)) : fs::path();
      const fs::path folder = destFolder / kind;
      MakeFoldersBelow(destFolder, kind);  // a failure shows when the file is created
      for (;;) {
        target = (folder / (safePrefix + std::to_string(skip + n) + ext)).string();
        if (skip >= kMaxSkip) {
          how = out.Create(target) ? Placed::Created : Placed::Failed;
          break;
        }
        how = placer.Place(f.path, target, out);
        if (how != Placed::Taken) break;
        ++skip;
      }
      if (how == Placed::Failed) failure = out.Error();
    }
    if (how == Placed::Moved) {
      SetModified(target, f.origin.modified);
      ++report.moved;
      std::error_code ec;
      const uintmax_t size = fs::file_size(target, ec);
      chunkDone(ec ? 0 : size);
    } else if (failure.empty()) {
      failure = CopyFoundFile(f.path, out, f.origin.modified, buffer, chunkDone);
    }
    if (!failure.empty()) {
      f.keep = true;
      report.problems.Add(FileProblem::Kind::NotCopied, f.path, failure, target);
    } else {
      f.keep = false;
      f.saved = true;
      report.saved.push_back(target);
      report.savedFrom.push_back(f.path);
    }
    ++done.filesDone;
    if (progress && !progress(done)) stopped = true;
  }
  if (destFd >= 0) {
    if (!report.saved.empty()) {
      std::vector<int> fds{destFd};
      // On the same file system, the run folder's descriptor, opened when the
      // run began, also hears of the found files' failed writes before now.
      struct stat destStat {}, runStat {};
      if (folder_ && ::fstat(destFd, &destStat) == 0 && ::fstat(folder_->Descriptor(), &runStat) == 0 &&
          destStat.st_dev == runStat.st_dev)
        fds.push_back(folder_->Descriptor());
      report.flushError = FlushToDrive(files_, fds, done, progress);
    }
    ::close(destFd);
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
  if (folder_) {
    if (kept.empty()) {
      folder_->Remove();
    } else {
      std::vector<FoundFile> left;
      for (const FoundFile& f : found_)
        if (f.keep) left.push_back(f);
      folder_->Rewrite(left);
      folder_->Release();
    }
    folder_.reset();
  }
  return kept;
}

}  // namespace kestrella
