// A card's FAT volume mounted for browsing and saving its folder tree: what
// kestrella-cli list and save do, and what a window's tree view would.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/source.h"
#include "fat/fatdrive.h"

namespace kestrella {

class TFrmFATScan;

// One directory or file of a listed tree.
struct TreeRow {
  int depth = 1;           // 1 for the children of the start item
  bool directory = false;
  std::string path;        // below the start item, "/"-separated, UTF-8 as on the card
  uint32_t size = 0;
  uint32_t firstCluster = 0;
  std::string written;     // date and time written, files only
  bool deleted = false;
  uint8_t condition = 0;   // of a deleted entry: 1 likely whole, 2 first cluster reused
};

struct CardSummary {
  std::string fatType;     // "FAT12", "FAT16", "FAT32"
  std::string label;       // the volume's name, trailing blanks removed
  uint32_t clusters = 0;
  uint32_t bytesPerCluster = 0;
  bool tableEmpty = false; // files are read as runs of consecutive clusters
};

struct TreeSave {
  bool completed = false;            // not stopped, not refused
  std::string folder;                // the folder the tree was saved as, below DEST
  Report problems;                   // the files not saved, or saved in part
};

class MountedCard {
 public:
  // Mounts the FAT volume at the source's start. Throws UserError when none
  // starts there or its boot sector cannot be used.
  MountedCard(Engine& engine, const OpenedSource& source);
  ~MountedCard();
  MountedCard(const MountedCard&) = delete;
  MountedCard& operator=(const MountedCard&) = delete;

  const OpenedSource& Source() const { return source_; }
  CardSummary Summary() const;
  // The "Root" tree (live entries) and the "Deleted" tree (what the folders
  // still describe of deleted files and folders), depth first.
  std::vector<TreeRow> ListRoot();
  std::vector<TreeRow> ListDeleted();
  // What the listings so far could not read (a folder nested too deep).
  const Report& ListProblems() const;
  // Saves the whole tree (deleted files included) into DEST/<root name>.
  // Names already in DEST are replaced when `replaceAll`, else the engine's
  // user is asked.
  TreeSave SaveTree(const std::filesystem::path& dest, bool deletedOnly, bool replaceAll);
  // Stops a running save after the file in hand.
  void Stop();

 private:
  std::vector<TreeRow> List(TCustomDirectory& start, bool includeDeleted, bool deletedOnly);

  OpenedSource source_;
  std::unique_ptr<TFrmFATScan> driver_;  // owns the device; host of the searches
  std::unique_ptr<TFATdrive> drive_;
};

}  // namespace kestrella
