// Test-only fault injection for the folders Kestrella writes into.
//
// A test makes the creation of files under a folder fail, or gives a folder a
// number of bytes after which every write fails as on a full disk. Every place
// that creates or writes an output file (found files of the scan route, files
// saved from a FAT volume, the copies of the save step) asks here first.
// Nothing in the program itself registers a folder, so production pays one
// emptiness check per file created and per write.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrella::destprobe {

struct Counters {
  uint64_t creates = 0;        // files created under the folder
  uint64_t failedCreates = 0;  // creations refused by the probe
  uint64_t bytesWritten = 0;   // bytes let through
  uint64_t failedWrites = 0;   // writes cut short by the byte limit
};

// Creating any file under `folder` (at any depth) fails with `err`.
void FailCreate(const std::string& folder, int err = EACCES);
// Files under `folder` may receive `bytes` bytes in all; a write that would
// go past that writes up to the limit and then fails with ENOSPC.
void LimitBytes(const std::string& folder, uint64_t bytes);
Counters Get(const std::string& folder);
// Forgets every folder.
void Reset();

// For the writers. The errno that creating `path` fails with, or 0.
int CreateError(const std::string& path);
// How many of `length` bytes may be written to `path` now: `length` unless a
// byte limit applies. The bytes let through are counted against the limit.
size_t WriteRoom(const std::string& path, size_t length);

}  // namespace kestrella::destprobe
