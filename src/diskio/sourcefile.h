// A block device or image file opened for positioned reads or writes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "diskio/sectorsource.h"

namespace kestrella {

class SourceFile : public SectorSource {
 public:
  SourceFile() = default;
  ~SourceFile() override { Close(); }
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // Opens read-only (forRead) or write-only. `writeThrough` asks the system
  // to put each write on the medium before it returns. Sets errno on failure.
  bool Open(const std::string& path, bool forRead, bool writeThrough = false,
            SourceWindow window = {});
  // Opens only to ask for the size: does not wait for a medium to spin up.
  bool OpenForQuery(const std::string& path, SourceWindow window = {});
  // Takes over `fd`, opened elsewhere (by UDisks2), as the source `path`.
  void Adopt(int fd, const std::string& path, SourceWindow window = {});
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const override { return path_; }
  const SourceWindow& Window() const override { return window_; }

  // Offsets below are relative to the window.
  // Reads exactly `length` bytes at `offset`. A short read (end of the medium
  // or of the window) fails with errno EIO; a failed read leaves errno set.
  // The rest of the partial last sector of an image file reads as zeros.
  bool ReadAt(uint64_t offset, void* buffer, size_t length) override;
  // Writes exactly `length` bytes at `offset`. Past the end of an image
  // file or of the window nothing is written and the call fails with errno
  // ENOSPC; in the rest of an image's partial last sector nothing is
  // written and the call succeeds.
  bool WriteAt(uint64_t offset, const void* buffer, size_t length) override;

  // Size in bytes (of the window, as far as the source holds it) and logical
  // sector size (512 for regular files).
  bool QuerySize(uint64_t& bytes, uint32_t& sectorSize) override;
  bool Sync() override;
  // Looks at the path (a stat) on every call; a block device is asked for
  // its disk sequence number and size at most once a second, and at the
  // next call after a failed read.
  bool StillCurrent() override;

 private:
  // What tells the medium opened from another behind the same path.
  struct Identity {
    bool block = false;
    uint64_t device = 0;    // st_rdev of a block device, st_dev of a file
    uint64_t inode = 0;     // of a file
    uint64_t size = 0;      // bytes
    uint64_t sequence = 0;  // the kernel's disk sequence number; 0 where it has none
    bool operator==(const Identity&) const = default;
  };
  // Notes the identity of what was just opened: of the descriptor, or
  // (ofPath) of what the path names.
  void NoteIdentity(bool ofPath);
  // Fills in a block device's size and sequence number as it answers now.
  void AskDevice(Identity& id);

  int fd_ = -1;
  std::string path_;
  SourceWindow window_;
  Identity opened_;
  bool noted_ = false;  // opened_ holds the identity (not for a size query)
  bool gone_ = false;   // another medium was seen behind the path
  std::chrono::steady_clock::time_point deviceAsked_{};
};

}  // namespace kestrella
