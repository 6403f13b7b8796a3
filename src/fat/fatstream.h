// A file on a FAT volume presented as a read-only stream.
#pragma once

#include <cstdint>

#include "fat/fatdrive.h"

namespace kestrella {

// What readers of file data need from a source: reading on from the current
// position and moving it.
class TReadStream {
 public:
  virtual ~TReadStream() = default;
  // Reads up to `count` bytes; returns how many were delivered.
  virtual uint32_t read(void* buffer, uint32_t count) = 0;
  // origin 0: from the start, 1: from the current position, 2: from the end.
  // Returns the new position.
  virtual int64_t seek(int64_t offset, int origin) = 0;
};

class TFATStream : public TReadStream {
 public:
  // The drive is not owned and must outlive the stream.
  TFATStream(TFATdrive& drive, uint32_t firstCluster, uint32_t size, uint8_t useFAT);
  ~TFATStream() override;
  TFATStream(const TFATStream&) = delete;
  TFATStream& operator=(const TFATStream&) = delete;

  // 0 when the drive could not read (the position stays).
  uint32_t read(void* buffer, uint32_t count) override;
  // The new position is handed to the drive, which refuses positions at or
  // past the end; the stream's position takes the new value either way, so
  // a refused seek shows in Position() while reads go on where they were.
  int64_t seek(int64_t offset, int origin) override;
  // Whether the drive accepted the position; only then does the stream's
  // position change.
  bool SetPosition(int64_t position);

  int64_t Position() const { return position_; }
  int64_t Size() const { return size_; }
  uint32_t FirstCluster() const { return firstCluster_; }
  // Where the next read comes from.
  const TFATFileInfo& Info() const { return info_; }

 private:
  bool DriveSeek(int64_t position);

  int64_t position_ = 0;
  int64_t size_ = 0;
  uint32_t firstCluster_ = 0;
  TFATdrive* drive_;
  uint8_t useFAT_ = 0;
  TFATFileInfo info_;
};

}  // namespace kestrella
