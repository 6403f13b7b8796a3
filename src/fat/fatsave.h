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

// Size of the pieces a save hands its file's bytes on in (to the end finder
// of a found file, and to the output).
inline constexpr uint32_t kSaveBufferSize = 65536;
// The most a save reads from the source at a time: a photo in one run of
// clusters is then read in one transfer, or a few for a large one.
inline constexpr uint32_t kSaveReadSize = 1048576;

}  // namespace kestrella::fatsave
