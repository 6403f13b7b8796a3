// A FAT12, FAT16 or FAT32 volume: what the rest of the program sees of it.
// Its parts do the work: the geometry from the boot sector, the allocation
// table, the directory reader and the file reader.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "detect/fileend.h"
#include "devices/drivebase.h"
#include "fat/fatdirectoryreader.h"
#include "fat/fatfilereader.h"
#include "fat/fatgeometry.h"
#include "fat/fattable.h"
#include "fat/fattypes.h"
#include "util/report.h"

namespace kestrella {

class TFATAnalyser;
class TFATDirectory;
class TFATFile;

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
  uint32_t SectorSize() const { return sectorSize_; }

  // The boot record and the layout worked out from it (see FatGeometry).
  const TBootRecord& BootRec() const { return geometry_.BootRec(); }
  uint8_t FATType() const { return geometry_.FATType(); }
  int32_t TotalSectors() const { return geometry_.TotalSectors(); }
  uint32_t BytesPerCluster() const { return geometry_.BytesPerCluster(); }
  uint32_t RootCluster() const { return geometry_.RootCluster(); }
  uint32_t RootDirSectors() const { return geometry_.RootDirSectors(); }
  int32_t RootDirStart() const { return geometry_.RootDirStart(); }
  int32_t SectorsPerFAT() const { return geometry_.SectorsPerFAT(); }
  uint32_t FATAreaSectors() const { return geometry_.FATAreaSectors(); }
  uint32_t FirstDataSector() const { return geometry_.FirstDataSector(); }
  uint32_t DataSectors() const { return geometry_.DataSectors(); }
  uint32_t ClusterCount() const { return geometry_.ClusterCount(); }
  uint32_t GetClusterMask(uint8_t kind) const { return geometry_.GetClusterMask(kind); }
  bool IsEOF(uint32_t value) const { return geometry_.IsEOF(value); }
  uint32_t Cluster2Sec(uint32_t cluster) const { return geometry_.Cluster2Sec(cluster); }
  uint32_t Sec2Cluster(uint32_t sector) const { return geometry_.Sec2Cluster(sector); }
  bool IsValidCluster(uint32_t cluster) const { return geometry_.IsValidCluster(cluster); }

  // ---- allocation table (see FatTable) -------------------------------------
  uint32_t GetFAT(uint32_t cluster, uint32_t copy) { return table_.GetFAT(cluster, copy); }
  uint32_t NextCluster(uint32_t cluster, uint8_t useFAT) { return table_.NextCluster(cluster, useFAT); }
  uint32_t NextFreeCluster(uint32_t cluster) { return table_.NextFreeCluster(cluster); }
  // The table copy chains are followed in (0: none, clusters are taken as
  // consecutive; n: copy n - 1). Mounting chooses the first copy, or none
  // when the table is empty.
  uint8_t UseFAT() const { return useFAT_; }
  void SetUseFAT(uint8_t useFAT) { useFAT_ = useFAT; }
  // Non-zero: the search for lost data passes over clusters the table marks
  // bad.
  uint8_t SkipOption() const { return skipOption_; }
  void SetSkipOption(uint8_t skip) { skipOption_ = skip; }

  // ---- directories (see FatDirectoryReader), along UseFAT's chains ---------
  bool GetNextRecord(TDirWalk& walk, TDirEntry& entry) {
    return dirs_.GetNextRecord(walk, entry, useFAT_);
  }
  bool ReadDataSec(TDirWalk& walk, uint8_t* buffer) { return dirs_.ReadDataSec(walk, buffer, useFAT_); }
  bool GetLongName(TDirWalk& walk, std::string& name, TDirEntry& entry, std::string* utf8 = nullptr) {
    return dirs_.GetLongName(walk, useFAT_, name, entry, utf8);
  }
  bool FindNextEntry(TDirWalk& walk, bool includeDeleted, std::string& name, TDirEntry& entry,
                     std::string* utf8 = nullptr) {
    return dirs_.FindNextEntry(walk, useFAT_, includeDeleted, name, entry, utf8);
  }

  // ---- file data (see FatFileReader) ---------------------------------------
  bool ResetByCluster(uint32_t firstCluster, uint32_t size, TFATFileInfo& info) {
    return files_.ResetByCluster(firstCluster, size, info);
  }
  bool BlockRead(TFATFileInfo& info, uint32_t count, uint8_t* buffer, uint8_t useFAT,
                 uint32_t& bytesRead) {
    return files_.BlockRead(info, count, buffer, useFAT, bytesRead);
  }
  bool Seek(TFATFileInfo& info, uint32_t position, uint8_t useFAT) {
    return files_.Seek(info, position, useFAT);
  }
  bool GetRecPosCluster(uint32_t& cluster, uint32_t position, uint8_t useFAT) {
    return files_.GetRecPosCluster(cluster, position, useFAT);
  }
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

  // Hears of every lost file the search adds to "Lost", as it is found.
  std::function<void(TFATFile&)> OnFoundFile;
  // Makes the finder of where a file of a kind ends (detect/fileend.h's
  // MakeEndFinder). A file the lost hunt found by its first bytes is saved
  // through it (see TFATFile::WriteTo), its Size then only the most it may
  // run to; unset, or nullptr for the file's kind, and the whole Size is
  // saved.
  std::function<std::unique_ptr<FileEndFinder>(std::string_view kind)> EndFinders;
  std::unique_ptr<TFATAnalyser> Analyser;
  // Data sectors that failed to read while files were read (each delivered
  // as zeros), and what went wrong while saving files: a file not written
  // (Lost, nothing of it is in the folder) or written with sectors that
  // could not be read (Damaged). Only ever added to; callers take what was
  // added during their save.
  uint64_t UnreadableSectors = 0;
  Report SaveProblems;
  // A walk of the folders stopped short of `dir`, nested deeper than walks
  // go: said once per folder in FoldersNotRead, so that no listing or run
  // ends as if every folder had been read.
  void NoteFolderTooDeep(const TFATDirectory& dir);
  Report FoldersNotRead;

 private:
  // Sizes the parts' windows for the volume's sectors and empties them.
  void SizeWindows();
  // The device's sector size (512 without a device).
  uint32_t DeviceSectorSize() const;
  // Takes the volume's sector size from its boot sector where it is a
  // multiple of the device's.
  void FollowSectorSize(const TBootRecord& boot);
  // Volume sectors of the medium from the volume's start; 0 when not known.
  uint64_t MediumSectors() const;

  uint32_t sectorSize_ = 512;
  // Device sectors per volume sector: 1, or 8 for a 4096-byte volume on a
  // 512-byte medium.
  uint32_t deviceSectorsPer_ = 1;
  uint8_t useFAT_ = 0;
  uint8_t skipOption_ = 0;
  FatGeometry geometry_;
  FatTable table_{*this, geometry_};
  FatDirectoryReader dirs_{*this, geometry_, table_};
  FatFileReader files_{*this, geometry_, table_, UnreadableSectors};
  // First clusters of the directories a SaveDirectory is inside, outermost
  // first: how deep the save is.
  std::vector<uint32_t> savingDirs_;
  // What one save of a tree has done so far: the directories it entered
  // (see DirectoryKey) and the files it wrote. A directory that entries
  // name twice, or that points back at an ancestor, is saved once, so a
  // crafted tree cannot multiply itself; a second file of the same name in
  // one folder gets a name of its own instead of replacing the first.
  std::unordered_set<uint64_t> savedDirs_;
  std::unordered_set<std::string> savedFiles_;
  // Folders a walk did not enter for their depth (see NoteFolderTooDeep).
  std::unordered_set<uint64_t> tooDeep_;
};

// The name with a leading deleted marker (0xE5) replaced by "_".
std::string ReplaceDeletedChar(const std::string& name);

}  // namespace kestrella
