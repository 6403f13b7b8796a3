// The tree of items found on a FAT volume: directories and files, live,
// deleted and lost.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

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
  // goes wrong is added to the drive's SaveProblems; an output that could
  // not be written whole is removed. True when the file was kept.
  bool WriteTo(OutputFile& out, uint8_t useFAT);
  TFATdrive* FatDrive() const;
  // The file name it is saved under: the UTF-8 name made safe for a file
  // system (no "/", not "." or "..", not empty) with the deleted marker
  // replaced.
  std::string OutputName() const;

  uint8_t Attributes = 0;
  uint32_t FirstCluster = 0;
  uint16_t Time = 0;
  uint16_t Date = 0;
  uint8_t HandedOver = 0;
  std::string Utf8Name;
};

// A name from the medium made safe as one file name on Linux.
std::string SafeFileName(const std::string& name);

}  // namespace kestrella
