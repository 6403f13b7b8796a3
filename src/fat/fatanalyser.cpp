#include "fat/fatanalyser.h"

#include "fat/fatdrive.h"

namespace kestrella {

uint8_t TFATAnalyser::ClusterType(uint8_t fatType, uint32_t value) {
  uint32_t base = 0;
  switch (fatType) {
    case kFat12: base = 0xFF0; break;
    case kFat16: base = 0xFFF0; break;
    case kFat32: base = 0xFFFFFF0; break;
    default: return value == 0 ? kClusterFree : kClusterLink;
  }
  if (value > base + 7) return kClusterEnd;
  if (value > base) return kClusterBad;
  if (value == 0) return kClusterFree;
  return kClusterLink;
}

std::string TFATAnalyser::CnvName(const TDirEntry& entry) {
  std::string name;
  for (int i = 0; i < 8; ++i)
    if (entry.raw[i] != ' ') name.push_back(static_cast<char>(entry.raw[i]));
  std::string ext;
  for (int i = 8; i < 11; ++i)
    if (entry.raw[i] != ' ') ext.push_back(static_cast<char>(entry.raw[i]));
  if (!ext.empty()) name += "." + ext;
  return name;
}

bool TFATAnalyser::IsDirC(uint32_t cluster) {
  if (drive_ == nullptr) return false;
  // A directory's first cluster opens with "." and then "..", both marked as
  // directories; anything else there means the cluster was given to
  // something else.
  TDirWalk walk;
  walk.Cluster = cluster;
  TDirEntry entry;
  if (!drive_->GetNextRecord(walk, entry)) return false;
  if ((entry.Attributes() & kAttrDirectory) == 0 || CnvName(entry) != ".") return false;
  if (!drive_->GetNextRecord(walk, entry)) return false;
  return (entry.Attributes() & kAttrDirectory) != 0 && CnvName(entry) == "..";
}

}  // namespace kestrella
