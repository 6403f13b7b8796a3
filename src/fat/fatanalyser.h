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

 private:
  TFATdrive* drive_;
};

}  // namespace kestrella
