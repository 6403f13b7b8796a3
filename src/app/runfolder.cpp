#include "app/runfolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "app/engine.h"
#include "app/foundfiles.h"

namespace kestrella {

namespace fs = std::filesystem;

namespace {

// Hidden: the folder sits in the user's destination while the run goes on.
constexpr const char* kPrefix = ".kestrella-";
// The name runs gave their folders in the system's temporary folder.
constexpr const char* kVisiblePrefix = "kestrella-";
constexpr const char* kManifest = "manifest";

// Fields are separated by tabs, lines by newlines; a card's names could hold
// either, so both (and the backslash) are escaped.
std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < line.size()) {
      const char e = line[++i];
      fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string ManifestLine(const FoundFile& f) {
  const std::string saved = SavedName(f.origin, f.path, false).generic_string();
  return Escape(fs::path(f.path).filename().string()) + "\t" + Escape(saved) + "\t" +
         Escape(f.origin.kind) + "\t" +
         (f.origin.modified ? std::to_string(*f.origin.modified) : std::string()) + "\n";
}

bool WriteAllTo(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Whether `folder` looks like a run folder of this user: a real folder (no
// link), its name from mkdtemp, owned by us, closed to everyone else.
bool IsOwnRunFolder(const fs::path& folder) {
  const std::string name = folder.filename().string();
  const std::string_view tail = std::string_view(name).substr(name.rfind(kPrefix, 0) == 0 ? 1 : 0);
  if (tail.size() != std::strlen(kVisiblePrefix) + 6 || tail.rfind(kVisiblePrefix, 0) != 0) return false;
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return st.st_uid == ::getuid() && (st.st_mode & 07777) == 0700;
}

// Opens the manifest of `folder` and locks it; -1 when it is not a plain
// file or a run holds it.
int LockManifest(const fs::path& folder, int flags) {
  const int fd = ::open((folder / kManifest).c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::vector<ManifestEntry> ReadManifest(const fs::path& folder) {
  std::vector<ManifestEntry> entries;
  std::ifstream in(folder / kManifest);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = SplitFields(line);
    if (f.size() < 2) continue;
    // Only a plain name in this folder: never a path that leads elsewhere.
    const fs::path name(f[0]);
    if (f[0].empty() || name.filename() != name || f[0] == "." || f[0] == ".." || f[0] == kManifest)
      continue;
    ManifestEntry e{f[0], f[1], f.size() > 2 ? f[2] : std::string(), std::nullopt};
    if (f.size() > 3 && !f[3].empty()) {
      char* end = nullptr;
      const long long t = std::strtoll(f[3].c_str(), &end, 10);
      if (end != nullptr && *end == '\0') e.modified = t;
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

// Whether the found file of an entry is still there as a plain file.
bool StillThere(const fs::path& folder, const ManifestEntry& e) {
  struct stat st {};
  return ::lstat((folder / e.file).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

fs::path RunLocation(const fs::path& destination, const fs::path& chosen) {
  return chosen.empty() ? destination : chosen;
}

std::unique_ptr<RunFolder> RunFolder::Create(const fs::path& tempLocation) {
  std::string name = (tempLocation / (std::string(kPrefix) + "XXXXXX")).string();
  if (::mkdtemp(name.data()) == nullptr) {
    throw UserError("cannot make a folder for the found files in " + tempLocation.string() + ": " +
                    std::strerror(errno));
  }
  const fs::path folder(name);
  const int fd = ::open((folder / kManifest).c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (fd >= 0) ::close(fd);
    std::error_code ec;
    fs::remove_all(folder, ec);
    throw UserError("cannot write into " + folder.string() + ": " + std::strerror(err));
  }
  return std::unique_ptr<RunFolder>(new RunFolder(folder, fd));
}

std::unique_ptr<RunFolder> RunFolder::Adopt(const fs::path& folder) {
  if (!IsOwnRunFolder(folder)) return nullptr;
  const int fd = LockManifest(folder, O_WRONLY | O_APPEND);
  if (fd < 0) return nullptr;
  return std::unique_ptr<RunFolder>(new RunFolder(folder, fd));
}

RunFolder::~RunFolder() { Release(); }

void RunFolder::Release() {
  if (manifest_ >= 0) ::close(manifest_);
  manifest_ = -1;
}

void RunFolder::Record(const FoundFile& file) {
  // A manifest that cannot be written costs only the names of a later
  // offer; the found file itself is safe.
  if (manifest_ >= 0) WriteAllTo(manifest_, ManifestLine(file));
}

std::vector<ManifestEntry> RunFolder::Entries() const { return ReadManifest(path_); }

void RunFolder::Rewrite(const std::vector<FoundFile>& files) {
  if (manifest_ < 0) return;
  std::string text;
  for (const FoundFile& f : files) text += ManifestLine(f);
  if (::ftruncate(manifest_, 0) == 0) WriteAllTo(manifest_, text);
}

void RunFolder::Remove() {
  Release();
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<LeftoverRun> FindLeftoverRuns(const fs::path& tempLocation) {
  std::vector<LeftoverRun> runs;
  std::error_code ec;
  for (const fs::directory_entry& d : fs::directory_iterator(tempLocation, ec)) {
    if (!IsOwnRunFolder(d.path())) continue;
    const int fd = LockManifest(d.path(), O_RDONLY);
    if (fd < 0) continue;  // no manifest, or a run still going on
    LeftoverRun run{d.path(), 0};
    for (const ManifestEntry& e : ReadManifest(d.path()))
      if (StillThere(d.path(), e)) ++run.files;
    ::close(fd);
    runs.push_back(std::move(run));
  }
  std::sort(runs.begin(), runs.end(),
            [](const LeftoverRun& a, const LeftoverRun& b) { return a.folder < b.folder; });
  return runs;
}

bool LoadLeftoverRun(const fs::path& folder, FoundFileList& list) {
  std::unique_ptr<RunFolder> run = RunFolder::Adopt(folder);
  if (!run) return false;
  for (const ManifestEntry& e : run->Entries()) {
    if (!StillThere(folder, e)) continue;
    FoundOrigin origin;
    const fs::path saved(e.savedName);
    for (const fs::path& part : saved.parent_path()) origin.folders.push_back(part.string());
    origin.name = saved.filename().string();
    origin.kind = e.kind;
    origin.modified = e.modified;
    list.AddImage((folder / e.file).string(), std::move(origin));
  }
  // Taken over after the files were added: the manifest lists them already.
  list.UseRunFolder(std::move(run));
  return true;
}

bool DiscardLeftoverRun(const fs::path& folder) {
  std::unique_ptr<RunFolder> run = RunFolder::Adopt(folder);
  if (!run) return false;
  run->Remove();
  return true;
}

std::string LeftoverQuestion(const LeftoverRun& run) {
  return "Found files of an earlier run that did not finish are still in " + run.folder.string() +
         " (" + std::to_string(run.files) + " files). Save them now?";
}

std::string DiscardLeftoverQuestion(const LeftoverRun& run) {
  return "Delete the " + std::to_string(run.files) + " found files in " + run.folder.string() +
         " for good? They cannot be brought back.";
}

}  // namespace kestrella
