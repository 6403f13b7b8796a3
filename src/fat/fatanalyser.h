// Recognising FAT structures in raw sectors: allocation-table sectors and
// directory sectors (boot sectors are told by diskio/bootsector.h); and
// rebuilding a volume whose boot sector is gone from the tables and
// directories that are still there.
//
// Tests ending in B look at a buffer; tests ending in C read through the
// owning drive, walking from (cluster, sector) exactly like a directory of
// the drive (cluster 0 = the fixed root region of FAT12/16, by sector).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fat/fattypes.h"

namespace kestrella {

class ScanHost;
class TDevice;
class TFATdrive;

class TFATAnalyser {
 public:
  // `drive` is the owner whose sectors the C tests read; the lost-drive
  // search uses an analyser without one (only the B tests and the sector
  // stream then work).
  explicit TFATAnalyser(TFATdrive* drive = nullptr);
  ~TFATAnalyser();
  TFATAnalyser(const TFATAnalyser&) = delete;
  TFATAnalyser& operator=(const TFATAnalyser&) = delete;

  // Class of an allocation-table value for a FAT type (kClusterLink, ...);
  // kFatEntryUnknown is kClusterUnknown whatever the type.
  static uint8_t ClusterType(uint8_t fatType, uint32_t value);
  // The short name of an entry: "README.TXT", "MAKEFILE"; no case mapping,
  // a deleted entry keeps its 0xE5 first byte.
  static std::string CnvName(const TDirEntry& entry);

  // ---- buffer tests ----------------------------------------------------------
  // Copies entry number `index` when it lies wholly inside the buffer, then
  // advances `index`.
  static bool GetNextRecordB(const uint8_t* buffer, uint32_t size, TDirEntry& entry, uint32_t& index);
  // The first 16 entries are all plausible live entries (names, clusters up
  // to clusterLimit + 1, sizes up to sectorLimit 512-byte sectors, times and
  // dates); long-name runs pass unchecked.
  static bool DirEntriesValidB(const uint8_t* buffer, uint32_t size, uint32_t clusterLimit,
                               uint64_t sectorLimit);
  // The buffer starts a subdirectory: "." then "..", both directories;
  // `cluster` gets the "." entry's cluster.
  static bool IsDirB(const uint8_t* buffer, uint32_t size, uint32_t& cluster);
  // Exactly one volume label among the buffer's entries.
  static bool IsRootB(const uint8_t* buffer, uint32_t size);
  // The buffer starts an allocation table of `fatType` (media byte entry).
  static bool IsFATbeginB(const uint8_t* buffer, uint32_t size, uint8_t fatType);
  // Table entry `index` of the buffer; 0 when it does not lie wholly inside.
  static uint32_t GetFATB(const uint8_t* buffer, uint32_t size, uint32_t index, uint8_t fatType);
  // The buffer is a sector of an allocation table (of the widest type that
  // fits, tried 32, 16, then 12 bits): more than 16 links that continue the
  // one before, and no link value more than 5 times.
  static bool IsFATB(const uint8_t* buffer, uint32_t size, bool& begins, uint8_t& fatType,
                     uint32_t& highest);
  static bool IsBlankEntry(const TDirEntry& entry);
  // A short entry as a file system writes one: name bytes a short name may
  // hold, no attribute bits past the archive bit, valid times and dates.
  static bool ShortEntryPlausible(const TDirEntry& entry);
  // The geometry fields of two boot sectors (512 bytes each) agree.
  static bool AreBootSecEqualB(const uint8_t* a, const uint8_t* b);

  // ---- drive tests -----------------------------------------------------------
  // Whether a plausible short entry can describe a file or folder of the
  // owning drive: its first cluster is one of the volume's (an empty file,
  // with none, holds nothing to recover) and a file's size fits in the
  // clusters from there to the volume's end. Entries of lost directories are
  // held to this: nothing has kept them up since their directory was lost,
  // and what is left of them is often another format's or a photo's bytes.
  bool FitsVolume(const TDirEntry& entry) const;
  // Whether `cluster` still starts with the "." and ".." entries of a
  // directory (a deleted directory whose cluster was not reused).
  bool IsDirC(uint32_t cluster);
  // The same from a walk position: cluster 0 addresses the fixed root
  // region of FAT12/16 by sector.
  bool IsDirC(uint32_t cluster, uint32_t sector);
  // No entry besides "." and ".." that is not deleted.
  bool IsDirEmptyC(uint32_t cluster, uint32_t sector);
  // The first sector of the walk holds 16 plausible directory entries.
  bool DirEntriesValidC(uint32_t cluster, uint32_t sector);
  // The first cluster's worth of entries holds exactly one volume label.
  bool IsRootC(uint32_t cluster, uint32_t sector);
  // Reads the whole cluster and names the kind of file that starts in it
  // ("JPG", "MP3", ...); startKind 2 marks a kind whose clusters continue
  // each other.
  bool IsFileC(uint32_t cluster, std::string& kind, uint8_t& startKind);

  // ---- sector stream (lost volumes) ------------------------------------------
  // Starts a pass over `device`: sectors then come in ascending order.
  void AnalyseSecStart(TDevice& device);
  // Forgets what was inferred so far (the FAT type stays).
  void AnalyseRestart();
  // Looks at sector `sector` of `device` (`size` bytes). True when it
  // completed the evidence for a volume without boot sector and a drive for
  // it was rebuilt: it is then in the scan driver's drive list, or, without
  // one, in Rebuilt. LastRebuilt points to it either way.
  bool AnalyseSec(TDevice& device, uint32_t sector, const uint8_t* buffer, uint32_t size);
  // The same with the size before the buffer, as the device search passes it.
  bool AnalyseSec(TDevice& device, uint32_t sector, uint32_t size, const uint8_t* buffer) {
    return AnalyseSec(device, sector, buffer, size);
  }
  void AnalyseSecStop();
  // Fills `boot` for a volume whose first table starts right after one
  // reserved sector.
  static void RebuildBootSec(const TDevice& device, TBootRecord& boot, uint8_t fatType,
                             uint16_t sectorsPerCluster, uint16_t rootEntries, uint32_t rootCluster,
                             uint32_t tableSize, uint8_t tableCopies, uint32_t clusterEstimate);

  // The scan driver whose drive list takes rebuilt drives (not owned); they
  // report to it too.
  ScanHost* Host = nullptr;
  // Rebuilt drives that no scan driver's list took (no host, or one without
  // a list).
  std::vector<std::unique_ptr<TFATdrive>> Rebuilt;
  TFATdrive* LastRebuilt = nullptr;

 private:
  void UpdateEstimate(const TDevice& device);
  void InferClusterSize(uint32_t sector, uint32_t dotCluster, const TDevice& device);
  bool RootCandidateHolds() const;
  bool Rebuild(TDevice& device);

  TFATdrive* drive_;

  // Sector-stream state.
  TDevice* device_ = nullptr;
  uint32_t lastTableSector_ = 0;
  uint32_t highestLink_ = 0;
  std::vector<uint8_t> firstCopy_;  // first sector of the first table copy
  uint32_t tableStart_ = 0;         // 0 = not seen
  uint32_t tableEnd_ = 0;           // 0 = not known
  uint8_t tableCopies_ = 0;
  uint32_t tableSize_ = 0;
  uint8_t fatType_ = 0;
  bool tableFound_ = false;
  bool dirFound_ = false;
  bool rootFound_ = false;
  uint16_t sectorsPerCluster_ = 0;
  uint32_t clusterEstimate_ = 0;
  bool firstDotSeen_ = false;
  uint32_t firstDotCluster_ = 0;
  uint32_t firstDotSector_ = 0;
  uint32_t dataStart_ = 0;
  uint8_t validRun_ = 0;
  uint32_t rootSector_ = 0;
  uint32_t rootCluster_ = 0;
  uint16_t rootEntries_ = 0;
  uint8_t rootRun_ = 0;
};

}  // namespace kestrella
