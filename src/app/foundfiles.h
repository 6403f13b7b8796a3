// The files one recovery run found, and the save step that brings the
// ticked ones into the destination folder.
//
// Both routes write every found file into the run's folder first (see
// RunFolder: by default a hidden folder inside the destination). At the end
// the ticked ones are moved into the destination, by default under the
// names they had on the card (see SaveNaming): a rename where the run folder
// is on the destination's file system, so that each found byte is written
// once; a copy where it is not. Then the destination is flushed to the drive,
// and the rest of the run folder is deleted, except the files that could not
// be saved: a photo is never deleted before it is safe somewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/runfolder.h"
#include "util/outputfile.h"
#include "util/report.h"

namespace kestrella {

// The file name prefix as typed, made unable to leave the folder it names
// files in: a "/" becomes "_".
std::string SafePrefix(std::string prefix);

// What the card told of a found file: where it lay, and, when a directory
// entry named it, that name, its folders and its time.
struct FoundOrigin {
  // The folders from the card's root down to the file's own, each one safe
  // file name ({"DCIM", "100CANON"}); for a file the lost search found under
  // a directory no entry leads to, the folders it is grouped under.
  std::vector<std::string> folders;
  // Its name on the card (the long name where it has one); empty when no
  // entry names it: the raw scan's files and the lost-cluster hunt's.
  std::string name;
  std::string kind;  // "JPG", "NEF", ...: the extension a nameless file gets
  uint64_t position = 0;   // its first cluster or sector on the card
  // Its last change, in seconds since 1970 (the entry's local time read in
  // this machine's zone); none where the card has no valid one.
  std::optional<int64_t> modified;
  // The one-byte fields last and together: a run keeps one of these per
  // found file, and padding after each would cost 8 bytes apiece.
  enum class Unit : uint8_t { None, Cluster, Sector };
  Unit unit = Unit::None;  // what `position` counts
  bool lost = false;       // found by the lost search, not under the root
};

struct FoundFile {
  std::string path;     // in the temporary folder
  bool ticked = true;   // "Recover Image"
  bool keep = false;    // a save failed or never came to it: the temporary copy must stay
  bool saved = false;   // copied into a destination: a later save passes it over
  FoundOrigin origin;
};

// How the save step names the files it saves.
struct SaveNaming {
  // True: the card's folders and names (see SavedName); false: prefix +
  // number + extension, the number being the file's position in the list
  // (so unticked files leave gaps) plus a skip counter that grows past names
  // already taken.
  bool cardNames = true;
  std::string prefix = "image";
  // One folder per kind ("JPG/", "NEF/", ...) above the rest of the path.
  bool folderPerKind = false;

  static SaveNaming Numbered(std::string prefix) { return {false, std::move(prefix), false}; }
};

// The path below the destination a found file is saved under with the
// card's names, before a number keeps it apart from a file of that name:
//   a named file:            "DCIM/100CANON/IMG_0001.JPG"
//   a lost file by position: "lost/JPG-cluster-1234.JPG"
//   a file the scan found:   "found-by-scan/JPG-sector-2048.JPG"
// With folderPerKind, "JPG/" goes in front.
std::filesystem::path SavedName(const FoundOrigin& origin, const std::string& foundPath,
                                bool folderPerKind);
// The name a file is shown under before it is saved: the card's name where
// there is one, else what SavedName gives without folders.
std::string ShownName(const FoundFile& file);

struct SaveReport {
  std::vector<std::string> saved;  // target paths, in order
  std::vector<std::string> savedFrom;  // the found file each was copied from
  // The files that could not be copied (NotCopied: the found file, the
  // target it was to have, why).
  Report problems;
  // The user stopped the save: these ticked files were not tried and stay
  // in the temporary folder.
  std::vector<std::string> notTried;
  // Files moved (renamed) rather than copied: their bytes were not written
  // again.
  size_t moved = 0;
  // Why the saved files could not be flushed to the drive ("Input/output
  // error"); empty when they are on it. The files are in place, but what the
  // drive holds of them is not known.
  std::string flushError;
};

// How far a save has come. Bytes are those of the files' temporary copies.
struct SaveProgress {
  size_t filesDone = 0;
  size_t filesTotal = 0;
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;
  // Every file is in place; what the system still holds in memory is being
  // written to the drive. `unwritten` is how much that is, machine-wide
  // (the kernel's dirty and writeback pages), and `flushSeconds` how long
  // the flush has taken so far.
  bool flushing = false;
  uint64_t unwritten = 0;
  double flushSeconds = 0;
};
// Called before the first file, between files, between the chunks of a
// large file and a few times a second while the flush runs, so that a front
// end can keep its window alive. Returning false stops the save once the
// file in hand is copied (a half-copied photo under a destination name is
// worse than one left for later); the flush itself cannot be stopped.
using SaveProgressFn = std::function<bool(const SaveProgress&)>;

class FoundFileList {
 public:
  // The copies of the save step are written through `files`.
  explicit FoundFileList(OutputFiles& files) : files_(files) {}
  ~FoundFileList();
  FoundFileList(const FoundFileList&) = delete;
  FoundFileList& operator=(const FoundFileList&) = delete;

  // Makes the run's private folder in `tempLocation` (see RunFolder) and
  // returns it: found files go there. Throws UserError when it cannot.
  std::filesystem::path OpenRunFolder(const std::filesystem::path& tempLocation);
  // Takes over a run folder whose manifest already lists the files added.
  void UseRunFolder(std::unique_ptr<RunFolder> folder);
  // The run folder, empty without one.
  std::filesystem::path RunFolderPath() const;

  // Adds a found file; with a run folder, its manifest names it at once.
  void AddImage(const std::string& path, FoundOrigin origin = {});
  size_t ImageCount() const { return found_.size(); }
  // Thumbnail number n, counted from 1.
  FoundFile& Image(size_t n) { return found_.at(n - 1); }
  const std::deque<FoundFile>& Files() const { return found_; }
  void SelectAll(bool ticked);

  // Moves (or copies) every ticked file into destFolder under the names
  // `naming` gives, each with its time from the card where it has one, then
  // flushes the destination's file system before it returns. A name
  // already taken is never replaced: the file gets "stem (2).ext", ... (with
  // numbered names the number is raised instead, and the name is replaced
  // only once 100000 were passed over). Files an earlier save brought into
  // a destination are passed over, so that after a failure the same call
  // with another folder saves only what is still missing.
  SaveReport SaveSelectedImages(const std::filesystem::path& destFolder, const SaveNaming& naming,
                                const SaveProgressFn& progress = {});
  // Ticked files no save has brought into a destination yet.
  size_t UnsavedCount() const;
  // Deletes the temporary files, except those whose save failed. Returns the
  // paths that were kept. Also run by the destructor. The run folder goes
  // too when nothing was kept; otherwise its manifest lists what was, and
  // it is left for a later start to offer again.
  std::vector<std::string> DeleteImageFiles();

 private:
  OutputFiles& files_;
  // A deque, not a vector: a card can give hundreds of thousands of found
  // files, and a vector would hold up to twice the room they need, three
  // times while it moves them to a larger block.
  std::deque<FoundFile> found_;
  bool deleted_ = false;
  std::unique_ptr<RunFolder> folder_;
};

}  // namespace kestrella
