// Recognising FAT structures in raw sectors.
#pragma once

#include <cstdint>
#include <string>

#include "fat/fattypes.h"

namespace kestrella {

class TFATdrive;

class TFATAnalyser {
 public:
  explicit TFATAnalyser(TFATdrive* drive) : drive_(drive) {}

  // Class of an allocation-table value for a FAT type (kClusterLink, ...).
  static uint8_t ClusterType(uint8_t fatType, uint32_t value);
  // The short name of an entry: "README.TXT", "MAKEFILE"; no case mapping,
  // a deleted entry keeps its 0xE5 first byte.
  static std::string CnvName(const TDirEntry& entry);
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

 private:
  TFATdrive* drive_;
};

}  // namespace kestrella
