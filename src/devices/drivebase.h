// Volumes and the tree of items found on them, independent of the file
// system: the FAT layer builds on these.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/scanhost.h"
#include "util/userinterface.h"

namespace kestrella {

class TDevice;
class TCustomDrive;
class TCustomDirectory;

// Node flags.
inline constexpr uint8_t kNodeDeleted = 1;
inline constexpr uint8_t kNodeLost = 2;

// A row of a list view of found items: the caption and its sub-items, in the
// order of the drive's columns (see TCustomDrive::AddListViewColumns).
struct TListItem {
  std::string Caption;
  std::vector<std::string> SubItems;
  const class TCustomNode* Data = nullptr;
};

struct TListColumn {
  std::string Caption;
  int Width;
};

// Common base of directories and files, so that one list can own both.
class TCustomNode {
 public:
  virtual ~TCustomNode() = default;
};

using TNodeList = std::vector<std::unique_ptr<TCustomNode>>;

class TCustomFile : public TCustomNode {
 public:
  // Copies Name, Drive, Flags, Condition and Parent (not Size).
  virtual void duplicate(TCustomFile& target) const;
  virtual bool Rename(const std::string& newName) = 0;
  virtual std::string GetPath(const TCustomDirectory* base) const = 0;
  virtual void ChangeListViewItem(TListItem& item) const = 0;

  std::string Name;
  uint32_t Size = 0;
  TCustomDrive* Drive = nullptr;
  uint8_t Flags = 0;
  uint8_t Condition = 0;
  TCustomDirectory* Parent = nullptr;
};

class TCustomDirectory : public TCustomNode {
 public:
  ~TCustomDirectory() override;
  // Copies Name, Drive, Mark, Flags, Condition, Parent, and hands over the
  // child list itself: both directories then refer to one list.
  virtual void duplicate(TCustomDirectory& target) const;
  // Frees every child; the (now empty) list remains.
  virtual void DeleteChildren();
  virtual std::string GetPath(const TCustomDirectory* base) const = 0;
  virtual bool Rename(const std::string& newName) = 0;
  virtual void ChangeListViewItem(TListItem& item) const = 0;
  // -1, 0 or 1 for sorting two rows by `column`.
  virtual int CompareChildren(const TListItem& item1, const TListItem& item2, int column) const = 0;
  // True when the child list exists and holds a directory.
  virtual bool ChildIsSubDir() const;

  std::string Name;
  TCustomDrive* Drive = nullptr;
  uint8_t Mark = 0;
  uint8_t Flags = 0;
  uint8_t Condition = 0;
  std::shared_ptr<TNodeList> Nodes;  // none until listed
  TCustomDirectory* Parent = nullptr;
};

// Drive state flags.
inline constexpr uint8_t kDriveFromSearch = 1;     // found by the boot-sector search
inline constexpr uint8_t kDriveRebuilt = 3;        // rebuilt without a boot sector
inline constexpr uint8_t kDriveTableEmpty = 4;     // added when the allocation table is empty

class TCustomDrive {
 public:
  TCustomDrive() = default;
  virtual ~TCustomDrive() = default;
  TCustomDrive(const TCustomDrive&) = delete;
  TCustomDrive& operator=(const TCustomDrive&) = delete;

  // Volume-relative sectors.
  virtual bool ReadSec(uint32_t sector, uint16_t count, void* buffer, bool showErrors) = 0;
  virtual bool MountDrive(bool silent) = 0;
  virtual std::vector<TListColumn> AddListViewColumns() const = 0;

  // The searches of a scan. A drive whose file system has no notion of lost
  // or deleted items finds none: the defaults leave its lists alone.
  // Fills the "Lost" item with directories and files no entry leads to.
  virtual void FindLostData() {}
  // Refills the "Searched" item with copies of the picture files of the
  // chosen trees that were not handed over for recovery yet.
  virtual bool FindFiles(bool /*root*/, bool /*deleted*/, bool /*lost*/) { return false; }
  // Counts the picture files and the directories of the chosen trees.
  virtual bool AnalyzeTotalFile(bool /*root*/, bool /*deleted*/, bool /*lost*/, int32_t& matchedFiles,
                                int32_t& directories) {
    matchedFiles = 0;
    directories = 0;
    return false;
  }

  // The scan driver the searches of this drive report to (not owned);
  // without one a quiet host answers.
  void SetHost(ScanHost* host) { host_ = host; }
  ScanHost& host() { return host_ != nullptr ? *host_ : quietHost_; }
  ScanHost* HostOrNull() const { return host_; }
  // The person the drive asks and warns: its device's engine's.
  UserInterface& UI() const;

  TDevice* Device = nullptr;  // not owned
  std::string Name;
  uint8_t StateFlags = 0;
  uint32_t BootSector = 0;   // absolute device sector
  uint32_t StartSector = 0;  // device sector of volume sector 0
  uint32_t SectorCount = 0;  // 0 = not known
  std::unique_ptr<TCustomDirectory> RootItem, DeletedItem, LostItem, SearchedItem;

 private:
  ScanHost* host_ = nullptr;
  QuietScanHost quietHost_;
  mutable SilentUserInterface silentUi_;
};

class TDriveList {
 public:
  // Drives added to the list report to `host` (not owned), the scan driver
  // that owns the list; none: each answers to a quiet one.
  explicit TDriveList(ScanHost* host = nullptr) : host_(host) {}
  virtual ~TDriveList() { clear(); }
  TDriveList(const TDriveList&) = delete;
  TDriveList& operator=(const TDriveList&) = delete;

  void clear() { DriveItems.clear(); }
  int count() const { return static_cast<int>(DriveItems.size()); }
  TCustomDrive* GetDrive(int index) const { return DriveItems.at(static_cast<size_t>(index)).get(); }

  ScanHost* Host() const { return host_; }

  std::vector<std::unique_ptr<TCustomDrive>> DriveItems;

 private:
  ScanHost* host_;
};

}  // namespace kestrella
