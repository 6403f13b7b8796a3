// What sector access reads and writes through: an opened block device or
// image file. Sources are opened by the engine's SourceOpener, the one seam
// through which tests put a failing or counting source in place of a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrella {

// The part of a source a handle may reach: `length` bytes from `offset` (a
// partition inside a whole-disk image); length 0 reaches to the end.
struct SourceWindow {
  uint64_t offset = 0;
  uint64_t length = 0;
  bool operator==(const SourceWindow&) const = default;
};

class SectorSource {
 public:
  virtual ~SectorSource() = default;
  // Offsets are relative to the window. Both transfer exactly `length`
  // bytes or fail with errno set (EIO for a read past the end, ENOSPC for a
  // write past it).
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
  virtual bool WriteAt(uint64_t offset, const void* buffer, size_t length) = 0;
  // Size in bytes (of the window, as far as the source holds it) and logical
  // sector size.
  virtual bool QuerySize(uint64_t& bytes, uint32_t& sectorSize) = 0;
  // Puts what was written on the medium (fdatasync); false with errno set
  // when the medium did not take it.
  virtual bool Sync() { return true; }
  virtual const std::string& Path() const = 0;
  virtual const SourceWindow& Window() const = 0;
};

// Opens sources as files of the system. Tests derive from it.
class SourceOpener {
 public:
  virtual ~SourceOpener() = default;
  // Read-only (forRead) or write-only; `writeThrough` puts each write on the
  // medium before it returns. A block device is opened for writing only
  // when nothing else holds it (no mounted partition, no swap): EBUSY
  // otherwise. nullptr with errno set when it cannot.
  virtual std::unique_ptr<SectorSource> Open(const std::string& path, bool forRead,
                                             bool writeThrough, SourceWindow window);
  // Only to ask for the size: does not wait for a medium to spin up.
  virtual std::unique_ptr<SectorSource> OpenForQuery(const std::string& path, SourceWindow window);
};

}  // namespace kestrella
