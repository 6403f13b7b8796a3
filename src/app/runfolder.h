// The private folder of one recovery run: <location>/.kestrella-XXXXXX,
// made with mkdtemp (mode 0700), so that no other user can read the found
// photos, guess their names or plant a link among them. By default the
// location is the destination itself (see RunLocation): the save step then
// renames each found file into place instead of writing it a second time,
// and a card's worth of photos needs room on one drive only.
//
// The folder keeps a manifest, one line per found file as it is found: its
// name in the folder and the name it would be saved under. A run that dies
// (crash, kill, power loss) or whose save failed leaves the folder behind;
// the manifest lets a later start offer those files again under their own
// names. While a run owns its folder it holds a lock on the manifest, so a
// run going on in another window or terminal is never taken for a leftover.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrella {

class FoundFileList;
struct FoundFile;

// One line of a run folder's manifest.
struct ManifestEntry {
  std::string file;       // the found file's name in the run folder
  std::string savedName;  // the path below the destination it is saved under
  std::string kind;       // "JPG", ...; may be empty
  std::optional<int64_t> modified;
};

// Where a run keeps its found files until they are saved: the folder the
// user chose for them, or else the destination (in a hidden run folder).
std::filesystem::path RunLocation(const std::filesystem::path& destination,
                                  const std::filesystem::path& chosen);

class RunFolder {
 public:
  // Makes a new run folder in `tempLocation`. Throws UserError saying why
  // it cannot.
  static std::unique_ptr<RunFolder> Create(const std::filesystem::path& tempLocation);
  // Takes over the folder of an earlier run; nullptr when it is no run
  // folder of this user or another run holds it.
  static std::unique_ptr<RunFolder> Adopt(const std::filesystem::path& folder);
  // Lets go of the lock; the folder and what is in it stay.
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // A descriptor of the folder's manifest, open since the run began (-1
  // once released).
  int Descriptor() const { return manifest_; }
  // Adds a found file of this folder to the manifest, at once on disk.
  void Record(const FoundFile& file);
  std::vector<ManifestEntry> Entries() const;
  // The manifest lists only `files` from now on (those a save kept).
  void Rewrite(const std::vector<FoundFile>& files);
  // Deletes the folder and everything in it.
  void Remove();
  // The run is over with files left: the folder becomes a leftover that
  // the next start offers again.
  void Release();

 private:
  RunFolder(std::filesystem::path path, int manifest) : path_(std::move(path)), manifest_(manifest) {}
  std::filesystem::path path_;
  int manifest_ = -1;  // open and locked while the run owns the folder
};

// A run folder of this user that no running run holds.
struct LeftoverRun {
  std::filesystem::path folder;
  size_t files = 0;  // the found files its manifest lists that are still there
};

// The leftover run folders in `tempLocation`: named .kestrella-XXXXXX (or
// kestrella-XXXXXX, as runs that kept them in the system's temporary folder
// named them), owned by this user, mode 0700, with a manifest, and not held
// by a run.
std::vector<LeftoverRun> FindLeftoverRuns(const std::filesystem::path& tempLocation);
// Adds the files of a leftover folder to `list` under their names from the
// manifest; the list takes the folder over and removes it once everything
// is saved or discarded. False when the folder cannot be taken over.
bool LoadLeftoverRun(const std::filesystem::path& folder, FoundFileList& list);
// Deletes a leftover folder with its files. False when it cannot be taken over.
bool DiscardLeftoverRun(const std::filesystem::path& folder);

// "Found files of an earlier run that did not finish are still in DIR (N
// files). Save them now?"
std::string LeftoverQuestion(const LeftoverRun& run);
// The confirmation before a leftover folder is deleted.
std::string DiscardLeftoverQuestion(const LeftoverRun& run);

}  // namespace kestrella
