// A FAT32 card image holding the photos of a card layout as deleted files in
// DCIM/100TEST, for the folder route: formatted by mkfs.fat, then written
// here (folders, directory entries, each photo in contiguous clusters).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cardimage.h"

namespace kestrella::bench {

struct FolderImagePlan {
  uint32_t sectorsPerCluster = 0;
  uint64_t bytes = 0;  // image size, whole MiB
};

// The cluster size and image size that hold every photo of `layout`.
FolderImagePlan PlanFolderImage(const std::vector<PhotoSpot>& layout);

// Formats `path` (via `path.part`) with `mkfs` and writes the photos of
// `layout` into it: DSC00001.JPG, ... in DCIM/100TEST, each in contiguous
// clusters, then deleted the way a camera deletes (first name byte E5, their
// clusters marked free; the entries keep start cluster and size).
void WriteFolderImage(const std::filesystem::path& path, const std::string& mkfs,
                      const FolderImagePlan& plan, const std::vector<Photo>& photos,
                      const std::vector<PhotoSpot>& layout);

}  // namespace kestrella::bench
