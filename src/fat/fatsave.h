// Saving files and directory trees of a FAT volume into a folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kestrella::fatsave {

// Whether `folder` lies on a network file system (NFS, SMB/CIFS, FUSE). The
// free space such a file system reports is not a promise, so saves there are
// not refused beforehand.
bool IsNetworkFolder(const std::filesystem::path& folder);

// Size of the buffer a save reads the source in.
inline constexpr uint32_t kSaveBufferSize = 65536;

}  // namespace kestrella::fatsave
