// A FAT12, FAT16 or FAT32 volume: geometry from the boot sector, the
// allocation table, directory walks and file reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/drivebase.h"
#include "fat/fattypes.h"
#include "util/report.h"

namespace kestrella {

class TFATAnalyser;
class TFATDirectory;
class TFATFile;

// Where a directory walk stands: the current cluster (0 = the fixed root
// region of FAT12/16), the current sector (used in the root region), and the
// next entry (or sector) within the cluster or root sector. `Hops` counts the
// clusters entered, so that a looping chain ends after the volume's count.
struct TDirWalk {
  uint32_t Cluster = 0;
  uint32_t Sector = 0;
  uint16_t Index = 0;
  uint32_t Hops = 0;
};

// Open-file state of a read.
struct TFATFileInfo {
  uint32_t FirstCluster = 0;
  uint32_t CurrentCluster = 0;
  uint32_t Position = 0;
  uint32_t Size = 0;
};

class TFATdrive : public TCustomDrive {
 public:
  TFATdrive();
  ~TFATdrive() override;

  // ---- volume --------------------------------------------------------------
  bool ReadSec(uint32_t sector, uint16_t count, void* buffer, bool showErrors) override;
  bool MountDrive(bool silent) override;
  std::vector<TListColumn> AddListViewColumns() const override;
  bool CalcDriveInfo(const TBootRecord& bootRecord, bool silent);
  void CreateStartItems();
  // The entry of `cluster` in allocation-table copy `copy`; 0 for a cluster
  // outside 2 .. ClusterCount + 1 or when the table cannot be read.
  uint32_t GetFAT(uint32_t cluster, uint32_t copy);
  uint32_t GetClusterMask(uint8_t kind) const;
  bool IsEOF(uint32_t value) const;
  uint32_t Cluster2Sec(uint32_t cluster) const;
  uint32_t Sec2Cluster(uint32_t sector) const;
  bool IsValidCluster(uint32_t cluster) const { return cluster >= 2 && cluster <= ClusterCount + 1; }
  // The cluster after `cluster` in a chain read with `useFAT` (0: the next
  // one on the volume; n: the entry in table copy n - 1).
  uint32_t NextCluster(uint32_t cluster, uint8_t useFAT);
  // The first cluster after `cluster` that the table marks free, or
  // cluster + 1 when none is (a deleted file's chain is erased, and its later
  // clusters are usually the free ones that follow).
  uint32_t NextFreeCluster(uint32_t cluster);
  uint32_t SectorSize() const { return sectorSize_; }

  // ---- directories ---------------------------------------------------------
  bool GetNextRecord(TDirWalk& walk, TDirEntry& entry);
  bool ReadDataSec(TDirWalk& walk, uint8_t* buffer);
  // Called with a long-name entry just read: gathers the run and leaves the
  // short entry that follows it in `entry`. `name` gets the low bytes of the
  // characters (for matching), `utf8` (when given) the name as UTF-8.
  bool GetLongName(TDirWalk& walk, std::string& name, TDirEntry& entry, std::string* utf8 = nullptr);
  bool FindNextEntry(TDirWalk& walk, bool includeDeleted, std::string& name, TDirEntry& entry,
                     std::string* utf8 = nullptr);

  // ---- file data -----------------------------------------------------------
  bool ResetByCluster(uint32_t firstCluster, uint32_t size, TFATFileInfo& info);
  bool BlockRead(TFATFileInfo& info, uint32_t count, uint8_t* buffer, uint8_t useFAT,
                 uint32_t& bytesRead);
  bool Seek(TFATFileInfo& info, uint32_t position, uint8_t useFAT);
  bool GetRecPosCluster(uint32_t& cluster, uint32_t position, uint8_t useFAT);
  uint32_t filesize(const TFATFileInfo& info) const { return info.Size; }
  void Close(TFATFileInfo&) {}

  // ---- saving --------------------------------------------------------------
  bool SaveFile(TFATFile& file, const std::filesystem::path& folder, uint8_t useFAT, bool& replaceAll);
  bool SaveDirectory(TFATDirectory& dir, const std::filesystem::path& folder, bool recurse,
                     bool includeDeleted, bool deletedOnly, uint8_t useFAT, bool& replaceAll,
                     bool& replaceAnswer);

  // ---- searches (fatsearch.cpp) --------------------------------------------
  // Fills "Lost": directories found cluster by cluster (and, on FAT12/16,
  // sector by sector in the root region) that no entry leads to, and the
  // files that start in clusters nothing accounts for. Every lost file is
  // handed to OnFoundFile as it is found.
  void FindLostData() override;
  // Empties "Searched" and fills it with copies of the picture files of the
  // chosen trees (deleted, then lost, then root) not yet handed over.
  bool FindFiles(bool root, bool deleted, bool lost) override;
  // Counts the picture files and the directories of the chosen trees, as
  // FindFiles would walk them; the host's totals get the result.
  bool AnalyzeTotalFile(bool root, bool deleted, bool lost, int32_t& matchedFiles,
                        int32_t& directories) override;

  // ---- fields --------------------------------------------------------------
  // Hears of every lost file the search adds to "Lost", as it is found.
  std::function<void(TFATFile&)> OnFoundFile;
  uint8_t UseFAT = 0;
  uint8_t SkipOption = 0;
  TBootRecord BootRec;
  uint8_t FATType = 0;
  int32_t TotalSectors = 0;
  uint32_t BytesPerCluster = 0;  // wide enough for 64 KiB clusters and more
  uint32_t RootCluster = 0;
  uint32_t RootDirSectors = 0;
  int32_t RootDirStart = 0;
  int32_t SectorsPerFAT = 0;
  uint32_t FATAreaSectors = 0;
  uint32_t FirstDataSector = 0;
  uint32_t DataSectors = 0;
  uint32_t ClusterCount = 0;
  std::vector<uint8_t> FATWindow;  // two sectors: a 12-bit entry may straddle
  int32_t FATWindowSector = 0;
  std::vector<uint8_t> DirWindow;
  uint32_t DirWindowSector = 0;
  std::vector<uint8_t> DataWindow;
  int32_t DataWindowSector = 0;
  std::unique_ptr<TFATAnalyser> Analyser;
  // Data sectors that failed to read while files were read (each delivered
  // as zeros), and what went wrong while saving files: a file not written
  // (Lost, nothing of it is in the folder) or written with sectors that
  // could not be read (Damaged). Only ever added to; callers take what was
  // added during their save.
  uint64_t UnreadableSectors = 0;
  Report SaveProblems;

 private:
  // Sector size of the windows: the device's, 512 without a device.
  void SizeWindows();
  // The sectors a file read can take in one transfer from where `info`
  // stands (at `sectorInCluster` of its current cluster), at most `wanted`:
  // to the end of the run of adjacent clusters its chain follows. `cluster`
  // and `sectorInCluster` say where the read stands after them.
  struct SectorRun {
    uint32_t sectors;
    uint32_t cluster;
    uint32_t sectorInCluster;
  };
  SectorRun NextRun(const TFATFileInfo& info, uint32_t sectorInCluster, uint32_t wanted,
                    uint8_t useFAT);
  uint32_t sectorSize_ = 512;
  // Clusters from here on hold no free one (0 = not known yet). The table
  // does not change while it is read, so a search that found nothing is not
  // repeated for every cluster of a long deleted file on a full card.
  uint32_t noFreeFrom_ = 0;
  // First clusters of the directories a SaveDirectory is inside, outermost
  // first. An entry that points back at one of them (a reused or damaged
  // cluster) would otherwise be saved inside itself without end.
  std::vector<uint32_t> savingDirs_;
};

// The name with a leading deleted marker (0xE5) replaced by "_".
std::string ReplaceDeletedChar(const std::string& name);

}  // namespace kestrella
