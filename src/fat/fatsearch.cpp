// The lost and deleted file search of a FAT volume: what the directories no
// longer list (lost directories and files, found cluster by cluster), and
// the picture files among everything found.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "detect/filedet.h"
#include "detect/filekinds.h"
#include "devices/device.h"
#include "devices/scanhost.h"
#include "fat/fatanalyser.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"

namespace kestrella {

namespace {

// A lost file is recovered as this many bytes from its first cluster on:
// its entry (and with it its size) is gone, and this covers a camera's
// picture of the card sizes this tool is made for.
constexpr uint32_t kLostFileSize = 1474560;

// Nested lost directories are followed no deeper than this; deeper trees
// only come from damaged or crafted media.
constexpr int kMaxMarkDepth = 256;

constexpr uint8_t kArchiveAttribute = 0x20;

// One bit per cluster number 0 .. ClusterCount + 1: set once the cluster is
// accounted for (reached from an entry, or examined by the scan).
class ClusterMap {
 public:
  explicit ClusterMap(uint32_t clusterCount) : bits_((clusterCount + 2ull) / 8 + 1, 0) {}
  bool Test(uint32_t c) const { return c / 8 < bits_.size() && (bits_[c / 8] & (1u << (c % 8))) != 0; }
  void Set(uint32_t c) {
    if (c / 8 < bits_.size()) bits_[c / 8] = static_cast<uint8_t>(bits_[c / 8] | (1u << (c % 8)));
  }

 private:
  std::vector<uint8_t> bits_;
};

// The device's sector cache: off while directory trees are walked (they jump
// about the card, and a cache line read for each entry only costs time), on
// while the clusters are scanned in order. Off again when the search ends,
// however it ends.
class CacheSwitch {
 public:
  explicit CacheSwitch(TDevice* device) : device_(device) { Set(false); }
  ~CacheSwitch() { Set(false); }
  CacheSwitch(const CacheSwitch&) = delete;
  CacheSwitch& operator=(const CacheSwitch&) = delete;
  void Set(bool on) {
    if (device_ != nullptr) device_->UseCache(on);
  }

 private:
  TDevice* device_;
};

// Switches the cache off for a tree walk and on again after it.
class TreeWalkScope {
 public:
  explicit TreeWalkScope(CacheSwitch& cache) : cache_(cache) { cache_.Set(false); }
  ~TreeWalkScope() { cache_.Set(true); }
  TreeWalkScope(const TreeWalkScope&) = delete;
  TreeWalkScope& operator=(const TreeWalkScope&) = delete;

 private:
  CacheSwitch& cache_;
};

class LostSearch {
 public:
  explicit LostSearch(TFATdrive& drive)
      : drive_(drive),
        map_(drive.ClusterCount()),
        rootWalked_(drive.FATType() != kFat32 ? drive.RootDirSectors() : 0, false),
        cache_(drive.Device),
        lost_(*drive.LostItem) {}

  void Run();

 private:
  void MarkTree(uint32_t cluster, uint32_t sector, bool nested, int depth);
  void MarkChain(uint32_t first, uint32_t size);
  void RemoveExplained(uint32_t key, uint32_t sectorKey);
  void AddLostDirectory(const std::string& name, uint32_t cluster, uint32_t sector);
  void AddLostFile(uint32_t cluster, const std::string& kind);
  void ScanRootRegion();
  void ScanClusters();
  bool PassedOver(uint32_t cluster);
  void CountLost(int& directories, int& files) const;
  void MarkRootSectors(uint32_t from, uint32_t to);
  bool RootSectorWalked(uint32_t sector) const;

  TFATdrive& drive_;
  ClusterMap map_;
  // The sectors of the fixed root region that a walk went through (index:
  // sector - RootDirStart), as map_ holds the clusters: a sector the walk of
  // the live root covered is that root, not the remains of another.
  std::vector<bool> rootWalked_;
  // Set once the live tree is walked: every tree walked from then on is a
  // lost one.
  bool inLostTrees_ = false;
  CacheSwitch cache_;
  TCustomDirectory& lost_;
};

void LostSearch::Run() {
  ScanHost& host = drive_.host();
  host.OnStartScanLostData(drive_.ClusterCount(), 2, drive_.ClusterCount() + 1,
                           drive_.BytesPerCluster());
  if (!lost_.Nodes) lost_.Nodes = std::make_shared<TNodeList>();
  lost_.DeleteChildren();
  lost_.Nodes->clear();
  lost_.Mark = 0;

  {
    TreeWalkScope walk(cache_);
    MarkTree(drive_.RootCluster(), static_cast<uint32_t>(drive_.RootDirStart()), false, 0);
  }
  inLostTrees_ = true;
  // FAT32 has no fixed root region to search.
  if (drive_.FATType() != kFat32 && !host.StopRequested()) ScanRootRegion();
  if (!host.StopRequested()) ScanClusters();
}

void LostSearch::MarkTree(uint32_t cluster, uint32_t sector, bool nested, int depth) {
  ScanHost& host = drive_.host();
  if (host.StopRequested()) return;
  if (host.TimeForUserUpdate()) {
    host.UpdateCurrentClustorProgress(cluster != 0 ? cluster : sector);
    host.ProcessMessages();
  }
  map_.Set(cluster);
  if (nested) RemoveExplained(cluster, sector);

  TDirWalk walk;
  walk.Cluster = cluster;
  walk.Sector = sector;
  uint32_t lastCluster = cluster;
  std::string name;
  TDirEntry entry;
  while (!host.StopRequested() && drive_.FindNextEntry(walk, true, name, entry)) {
    if (walk.Cluster != 0) {
      if (!drive_.IsValidCluster(walk.Cluster)) break;
      if (walk.Cluster != lastCluster) {
        lastCluster = walk.Cluster;
        map_.Set(lastCluster);
        host.ProgressStepIt();
      }
    }
    const uint8_t attributes = entry.Attributes();
    const uint32_t first = entry.FirstCluster(drive_.FATType());
    if ((attributes & kAttrDirectory) != 0 && !entry.IsLongName()) {
      if (name == "." || name == "..") continue;
      // A directory may (through damage) contain itself or an ancestor: its
      // bit is set by then, and the depth bound catches what the bits miss.
      if (drive_.IsValidCluster(first) && !map_.Test(first) && depth + 1 < kMaxMarkDepth &&
          drive_.Analyser->IsDirC(first)) {
        MarkTree(first, 0, true, depth + 1);
        host.ProgressStepIt();
      }
    } else if ((attributes & kAttrVolume) != 0) {
      // A volume label (or a long-name part without its short entry) owns no
      // clusters.
    } else if (!inLostTrees_ || drive_.Analyser->FitsVolume(entry)) {
      // Entries of lost directories that cannot describe a file of this
      // volume account for nothing: a cluster they name may well hold a
      // lost photo.
      if (first != 0) RemoveExplained(first, 0);
      MarkChain(first, entry.FileSize());
    }
  }
  // A root region walk goes sector after sector up to where it stopped:
  // every sector on the way is part of this directory.
  if (cluster == 0) MarkRootSectors(sector, walk.Sector);
}

// Marks the clusters of a file's chain. Without a usable table (selector 0)
// only the first cluster is known to be the file's. Where a link cannot be
// read, the clusters after it are marked as a read of the file takes them
// (the next on the volume), as many as its `size` bytes still need.
void LostSearch::MarkChain(uint32_t first, uint32_t size) {
  ScanHost& host = drive_.host();
  if (drive_.UseFAT() == 0) {
    if (drive_.IsValidCluster(first) && !map_.Test(first)) {
      map_.Set(first);
      host.ProgressStepIt();
    }
    return;
  }
  const uint32_t copy = drive_.UseFAT() - 1u;
  const uint64_t bytesPerCluster = std::max<uint32_t>(drive_.BytesPerCluster(), 1);
  const uint64_t clusters = (uint64_t{size} + bytesPerCluster - 1) / bytesPerCluster;
  uint32_t c = first;
  // A chain never has more links than the volume has clusters; one that
  // seems to is a loop.
  for (uint32_t steps = 0; steps < drive_.ClusterCount() && drive_.IsValidCluster(c); ++steps) {
    if (!map_.Test(c)) {
      map_.Set(c);
      host.ProgressStepIt();
    }
    uint32_t next = drive_.GetFAT(c, copy);
    const uint8_t type = TFATAnalyser::ClusterType(drive_.FATType(), next);
    if (type == kClusterFree || type == kClusterEnd) break;
    if (type == kClusterUnknown) {
      if (steps + 1 >= clusters) break;
      next = c + 1;
    }
    c = next;
  }
}

// Lost items that an entry met later accounts for are no longer lost: a
// file whose entry turned up in a lost directory, or a directory reached
// from one.
void LostSearch::RemoveExplained(uint32_t key, uint32_t sectorKey) {
  if (!lost_.Nodes) return;
  TNodeList& nodes = *lost_.Nodes;
  bool removed = false;
  for (auto& node : nodes) {
    uint32_t first = 0, sector = 0;
    if (const auto* dir = dynamic_cast<const TFATDirectory*>(node.get())) {
      first = dir->FirstCluster;
      sector = dir->Sector;
    } else if (const auto* file = dynamic_cast<const TFATFile*>(node.get())) {
      first = file->FirstCluster;
    } else {
      continue;
    }
    if ((first != 0 && first == key) || (first == 0 && sector == sectorKey)) {
      node.reset();
      removed = true;
    }
    drive_.host().ProcessMessages();
  }
  if (removed) nodes.erase(std::remove(nodes.begin(), nodes.end(), nullptr), nodes.end());
}

void LostSearch::AddLostDirectory(const std::string& name, uint32_t cluster, uint32_t sector) {
  auto dir = std::make_unique<TFATDirectory>();
  dir->Drive = &drive_;
  dir->Name = name;
  dir->Utf8Name = name;
  dir->FirstCluster = cluster;
  dir->Sector = sector;
  dir->Flags = kNodeLost;
  dir->Parent = &lost_;
  lost_.Nodes->push_back(std::move(dir));
}

void LostSearch::AddLostFile(uint32_t cluster, const std::string& kind) {
  auto file = std::make_unique<TFATFile>();
  file->Drive = &drive_;
  file->Name = "cluster " + std::to_string(cluster) + "." + kind;
  file->Utf8Name = file->Name;
  file->FirstCluster = cluster;
  // The fixed size, but never past the last cluster: a read beyond it would
  // fail (or return what is not the volume's).
  const uint64_t toEnd = (uint64_t{drive_.ClusterCount()} + 2 - cluster) * drive_.BytesPerCluster();
  file->Size = static_cast<uint32_t>(std::min<uint64_t>(kLostFileSize, toEnd));
  file->Attributes = kArchiveAttribute;
  file->SignatureKind = kind;
  file->Flags = kNodeLost;
  file->HandedOver = 0;
  file->Parent = &lost_;
  TFATFile& added = *file;
  lost_.Nodes->push_back(std::move(file));
  if (drive_.OnFoundFile) drive_.OnFoundFile(added);
  // A file saved up to the end its data gives holds the clusters up to that
  // end: a picture inside it (a camera's preview that happens to begin a
  // cluster) is part of it, not a lost file of its own. Without an end found
  // nothing is claimed: the next cluster may begin the next photo. (A JPEG's
  // end is only found when its structure holds to the end-of-image marker,
  // which the start of another photo inside it would break.)
  if (added.EndFound > 0) {
    const uint64_t clusters = (added.EndFound + drive_.BytesPerCluster() - 1) / drive_.BytesPerCluster();
    for (uint64_t k = 1; k < clusters && cluster + k <= uint64_t{drive_.ClusterCount()} + 1; ++k)
      map_.Set(static_cast<uint32_t>(cluster + k));
  }
}

void LostSearch::CountLost(int& directories, int& files) const {
  directories = files = 0;
  for (const auto& node : *lost_.Nodes) {
    if (dynamic_cast<const TCustomDirectory*>(node.get()) != nullptr) ++directories;
    if (dynamic_cast<const TCustomFile*>(node.get()) != nullptr) ++files;
  }
}

void LostSearch::MarkRootSectors(uint32_t from, uint32_t to) {
  const uint64_t start = static_cast<uint32_t>(drive_.RootDirStart());
  for (uint64_t s = std::max<uint64_t>(from, start); s <= to && s - start < rootWalked_.size(); ++s)
    rootWalked_[s - start] = true;
}

bool LostSearch::RootSectorWalked(uint32_t sector) const {
  const uint64_t start = static_cast<uint32_t>(drive_.RootDirStart());
  return sector >= start && sector - start < rootWalked_.size() && rootWalked_[sector - start];
}

// The fixed root region of FAT12/16 (and the first data sector after it):
// a root directory written elsewhere than the boot sector says, or the
// remains of an earlier format with another geometry. The sectors the walk
// of the live root (or of a lost one found here before) went through are
// not looked at: their entries read as valid as any, and taking them for a
// lost directory would offer every live file again as lost.
void LostSearch::ScanRootRegion() {
  ScanHost& host = drive_.host();
  TFATAnalyser& analyser = *drive_.Analyser;
  const uint32_t from = drive_.BootRec().ReservedSectors() + drive_.FATAreaSectors();
  for (uint32_t s = from; s <= drive_.FirstDataSector(); ++s) {
    host.ProcessMessages();
    if (!RootSectorWalked(s) && !analyser.IsDirC(0, s) && analyser.DirEntriesValidC(0, s)) {
      TreeWalkScope walk(cache_);
      AddLostDirectory("sector " + std::to_string(s) + " (root)", 0, s);
      MarkTree(0, s, false, 0);
    }
    if (host.TimeForUserUpdate()) {
      host.UpdateStatus("", "Scanning sector " + std::to_string(s),
                        "Lost directories found: " + std::to_string(lost_.Nodes->size()), "", "");
      host.ProcessMessages();
      if (host.StopRequested()) break;
    }
    if (s == UINT32_MAX) break;
  }
}

// Bad clusters hold nothing to recover, and reading them on a failing card
// only costs retries: with the skip option set they are passed over.
bool LostSearch::PassedOver(uint32_t cluster) {
  if (drive_.SkipOption() == 0) return false;
  const uint32_t copy = drive_.UseFAT() != 0 ? drive_.UseFAT() - 1u : 0u;
  return TFATAnalyser::ClusterType(drive_.FATType(), drive_.GetFAT(cluster, copy)) == kClusterBad;
}

void LostSearch::ScanClusters() {
  ScanHost& host = drive_.host();
  TFATAnalyser& analyser = *drive_.Analyser;
  host.OnStartScanLostDataClustor(drive_.ClusterCount(), 2, drive_.ClusterCount() + 1,
                                  drive_.BytesPerCluster());
  cache_.Set(true);
  uint32_t lastFileCluster = 0;
  std::string lastKind;
  for (uint32_t i = 2; i <= drive_.ClusterCount() + 1; ++i) {
    if (!map_.Test(i)) {
      map_.Set(i);
      if (!PassedOver(i)) {
        const bool directory = analyser.IsDirC(i, 0) && !analyser.IsDirEmptyC(i, 0);
        const bool rootLike = !directory && analyser.DirEntriesValidC(i, 0) && analyser.IsRootC(i, 0);
        std::string kind;
        uint8_t startKind = 0;
        if (directory || rootLike) {
          TreeWalkScope walk(cache_);
          AddLostDirectory("cluster " + std::to_string(i) + (rootLike ? " (root)" : ""), i, 0);
          MarkTree(i, 0, false, 0);
        } else if (analyser.IsFileC(i, kind, startKind)) {
          // Clusters of a stream that may begin anywhere (MP3 frames)
          // continue the file of the cluster before when it is of that kind.
          const bool continuation =
              i == lastFileCluster + 1 && kind == lastKind && startKind == kStartContinuesStream;
          if (!continuation) AddLostFile(i, kind);
          lastKind = kind;
          lastFileCluster = i;
        }
      }
      host.ProgressStepIt();
    }
    host.ProcessMessages();
    if (host.TimeForUserUpdate()) {
      int directories = 0, files = 0;
      CountLost(directories, files);
      host.UpdateStatus("", "Scanning cluster " + std::to_string(i),
                        "Lost directories found: " + std::to_string(directories),
                        "Lost files found: " + std::to_string(files), "");
      host.UpdateCurrentClustorProgress(i);
    }
    if (host.StopRequested()) break;
  }
}

// Walks the chosen trees in the order the scan shows them: deleted, lost,
// root. `visit` is called for every file; the walk ends when it answers
// false or the scan is stopped. `directories` counts the folders each tree
// stands for: the deleted tree also lists the live folders on the way to a
// deleted entry, and those are not deleted folders, so there only the ones
// marked deleted count.
template <typename Visit>
void WalkChosenTrees(TFATdrive& drive, bool root, bool deleted, bool lost, int32_t* directories,
                     Visit visit) {
  bool deletedOnlyWalk = false;
  auto callback = [&](TCustomNode& node, intptr_t) {
    if (auto* file = dynamic_cast<TFATFile*>(&node)) {
      visit(*file);
    } else {
      auto* dir = dynamic_cast<TCustomDirectory*>(&node);
      if (directories != nullptr && dir != nullptr &&
          (!deletedOnlyWalk || (dir->Flags & kNodeDeleted) != 0))
        ++*directories;
      drive.host().ProcessMessages();
    }
    return !drive.host().StopRequested();
  };
  auto walk = [&](const std::unique_ptr<TCustomDirectory>& item, bool includeDeleted, bool deletedOnly) {
    auto* dir = dynamic_cast<TFATDirectory*>(item.get());
    deletedOnlyWalk = deletedOnly;
    if (dir != nullptr && !drive.host().StopRequested())
      dir->ForEachChild(callback, includeDeleted, deletedOnly, true, 0);
  };
  if (deleted) walk(drive.DeletedItem, true, true);
  if (lost) walk(drive.LostItem, false, false);
  if (root) walk(drive.RootItem, false, false);
}

}  // namespace

void TFATdrive::FindLostData() {
  if (!LostItem) CreateStartItems();
  LostSearch search(*this);
  search.Run();
}

bool TFATdrive::FindFiles(bool root, bool deleted, bool lost) {
  if (!SearchedItem) CreateStartItems();
  TCustomDirectory& searched = *SearchedItem;
  if (!searched.Nodes) searched.Nodes = std::make_shared<TNodeList>();
  searched.DeleteChildren();
  searched.Nodes->clear();
  searched.Mark = 0;
  WalkChosenTrees(*this, root, deleted, lost, nullptr, [&](TFATFile& file) {
    if (file.HandedOver != 0 || !IsRecoverableName(file.Name)) return;
    auto copy = std::make_unique<TFATFile>();
    file.duplicate(*copy);
    copy->Parent = &searched;
    searched.Nodes->push_back(std::move(copy));
  });
  return true;
}

bool TFATdrive::AnalyzeTotalFile(bool root, bool deleted, bool lost, int32_t& matchedFiles,
                                 int32_t& directories) {
  host().SetTotals(0, 0);
  if (!RootItem) CreateStartItems();
  matchedFiles = 0;
  directories = 0;
  WalkChosenTrees(*this, root, deleted, lost, &directories, [&](TFATFile& file) {
    if (IsRecoverableName(file.Name)) ++matchedFiles;
  });
  host().SetTotals(matchedFiles, directories);
  return true;
}

}  // namespace kestrella
