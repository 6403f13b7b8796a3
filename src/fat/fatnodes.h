// The tree of items found on a FAT volume: directories and files, live,
// deleted and lost.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "devices/drivebase.h"

namespace kestrella {

class OutputFile;
class TFATdrive;

class TFATDirectory : public TCustomDirectory {
 public:
  void duplicate(TCustomDirectory& target) const override;
  std::string GetPath(const TCustomDirectory* base) const override;
  bool Rename(const std::string& newName) override;
  void ChangeListViewItem(TListItem& item) const override;
  int CompareChildren(const TListItem& item1, const TListItem& item2, int column) const override;

  // Builds the child list: live entries, or deleted ones too, or deleted
  // files only (directories are always listed).
  void AddChildren(bool includeDeleted, bool deletedOnly);
  // Calls `callback` for every child (and, with recurse, their children);
  // a false answer stops the walk and is returned. Lists built here are
  // disposed again. A directory already entered on the way down is not
  // entered again.
  using ChildCallback = std::function<bool(TCustomNode& node, intptr_t userValue)>;
  virtual bool ForEachChild(const ChildCallback& callback, bool includeDeleted, bool deletedOnly,
                            bool recurse, intptr_t userValue);
  bool SubDirFound(bool includeDeleted);
  TFATdrive* FatDrive() const;

  uint32_t FirstCluster = 0;  // 0 = the fixed root region
  uint32_t Sector = 0;        // first sector of a fixed root region, else 0
  uint16_t Time = 0;
  uint16_t Date = 0;
  std::string Utf8Name;       // the name as shown and written on Linux
};

// How the lost search came by a file.
struct LostOrigin {
  enum class Way {
    NotLost,          // an entry leads to it from the root, live or deleted
    InLostDirectory,  // its entry is in a directory that no entry leads to
    BySignature,      // no entry at all: its first cluster starts a file of a known kind
  };
  Way way = Way::NotLost;
  // InLostDirectory: the lost directory the file was found under (the one
  // the search found, at the top of its lost tree), by its first cluster;
  // for one found sector by sector in the fixed root region of FAT12/16,
  // cluster 0 and its first sector. Files of one lost directory share it.
  uint32_t directoryCluster = 0;
  uint32_t directorySector = 0;
  // BySignature: the kind its first bytes name ("JPG", "MP3", ...); where it
  // starts is the file's FirstCluster.
  std::string kind;

  bool operator==(const LostOrigin&) const = default;
};

class TFATFile : public TCustomFile {
 public:
  void duplicate(TCustomFile& target) const override;
  bool Rename(const std::string& newName) override;
  std::string GetPath(const TCustomDirectory* base) const override;
  void ChangeListViewItem(TListItem& item) const override;
  // Saves the file's data into `folder` under its (sanitised) name.
  virtual bool SaveTo(const std::filesystem::path& folder, uint8_t useFAT);
  // Writes the file's data into `out`, which the caller created under the
  // name it is to have (or failed to create: that is reported). Whatever
  // goes wrong is added to the drive's SaveProblems (a file read along
  // guessed clusters, where the table could not be read, is Damaged); an
  // output that could not be written whole is removed. True when the file
  // was kept.
  bool WriteTo(OutputFile& out, uint8_t useFAT);
  TFATdrive* FatDrive() const;
  // The file name it is saved under: the UTF-8 name made safe for a file
  // system (no "/", not "." or "..", not empty) with the deleted marker
  // replaced. A deleted file that had a long name gets that name back whole
  // ("IMG_0001.JPG"): only its short name lost its first character.
  std::string OutputName() const;

  // The names of the folders from the volume's root down to the file's
  // folder, outermost first ({"DCIM", "100CANON"}; none for a file of the
  // root), each made safe as one file name on Linux the way OutputName is:
  // a deleted folder's name is its long name when it had one, else the
  // deleted marker is replaced. The items a scan shows the trees under
  // ("Root", "Deleted", "Lost", "Searched": directories without a parent)
  // are no folders of the volume and never appear. For a file under a lost
  // directory the names start below that directory, which has no name of
  // its own (its entry is what was lost; Origin names it). A copy (FindFiles
  // puts copies under "Searched", and the folders they were found in are
  // gone after the search) answers as the file it was copied from did.
  std::vector<std::string> FolderNames() const;
  // Whether the lost search found the file (no entry leads to it from the
  // root), and how.
  LostOrigin Origin() const;
  bool IsLost() const { return Origin().way != LostOrigin::Way::NotLost; }
  // The time of the file's last change from its entry, as seconds since
  // 1970 (see FatTimeToUnix); nothing when the entry holds no valid date.
  std::optional<int64_t> ModifiedTime() const;

  uint8_t Attributes = 0;
  uint32_t FirstCluster = 0;
  uint16_t Time = 0;
  uint16_t Date = 0;
  uint8_t HandedOver = 0;
  std::string Utf8Name;
  // Files found by their first bytes: the kind those name ("JPG", ...).
  std::string SignatureKind;
  // Set by WriteTo when the end finder of that kind found where the file's
  // data ends: its length in bytes (0: not found, or not saved).
  uint64_t EndFound = 0;

 private:
  struct Placement {
    std::vector<std::string> folders;
    LostOrigin origin;
  };
  // Where the file sits, read from its parents as they are now.
  Placement PlaceInTree() const;
  Placement Place() const { return copiedPlacement_ ? *copiedPlacement_ : PlaceInTree(); }
  // Copies keep the placement of their original, taken while its parents
  // were there to read it from.
  std::optional<Placement> copiedPlacement_;
};

// A name from the medium made safe as one file name on Linux.
std::string SafeFileName(const std::string& name);

// What tells one directory of a volume from another: its first cluster, or
// for a root without one (FAT12/16) its first sector. Two entries that name
// the same directory give the same key.
uint64_t DirectoryKey(const TFATDirectory& dir);

}  // namespace kestrella
