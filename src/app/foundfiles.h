// The files one recovery run found, and the save step that copies the ticked
// ones into the destination folder.
//
// Both routes write every found file into the temporary folder first. At the
// end the ticked ones are copied to the destination as prefix + number +
// extension, the number being the file's position in the list (so unticked
// files leave gaps) plus a skip counter that grows past names already taken.
// Then the temporary copies are deleted, except those that could not be saved:
// a photo is never deleted before it is safe somewhere.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "util/outputfile.h"
#include "util/report.h"

namespace kestrella {

// The file name prefix as typed, made unable to leave the folder it names
// files in: a "/" becomes "_".
std::string SafePrefix(std::string prefix);

struct FoundFile {
  std::string path;     // in the temporary folder
  bool ticked = true;   // "Recover Image"
  bool keep = false;    // a save failed: the temporary copy must stay
};

struct SaveReport {
  std::vector<std::string> saved;  // target paths, in order
  std::vector<std::string> savedFrom;  // the found file each was copied from
  // The files that could not be copied (NotCopied: the found file, the
  // target it was to have, why).
  Report problems;
};

class FoundFileList {
 public:
  // The copies of the save step are written through `files`.
  explicit FoundFileList(OutputFiles& files) : files_(files) {}
  ~FoundFileList();
  FoundFileList(const FoundFileList&) = delete;
  FoundFileList& operator=(const FoundFileList&) = delete;

  void AddImage(const std::string& path);
  size_t ImageCount() const { return found_.size(); }
  // Thumbnail number n, counted from 1.
  FoundFile& Image(size_t n) { return found_.at(n - 1); }
  const std::vector<FoundFile>& Files() const { return found_; }
  void SelectAll(bool ticked);

  // Copies every ticked file into destFolder (replacing a file of the target
  // name only once 100000 names were passed over).
  SaveReport SaveSelectedImages(const std::filesystem::path& destFolder, const std::string& prefix);
  // Deletes the temporary files, except those whose save failed. Returns the
  // paths that were kept. Also run by the destructor.
  std::vector<std::string> DeleteImageFiles();

 private:
  OutputFiles& files_;
  std::vector<FoundFile> found_;
  bool deleted_ = false;
};

}  // namespace kestrella
