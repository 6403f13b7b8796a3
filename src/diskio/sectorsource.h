// What sector access reads and writes through: an opened block device or
// image file. Sources are opened by the engine's SourceOpener, the one seam
// through which tests put a failing or counting source in place of a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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
  // write past it). A source whose size is not a whole number of sectors
  // (an image file cut short) has a partial last sector that still counts:
  // a transfer that starts before the end and stops within that sector
  // reads zeros for the bytes past the end, or writes only those before it.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
  virtual bool WriteAt(uint64_t offset, const void* buffer, size_t length) = 0;
  // Size in bytes (of the window, as far as the source holds it) and logical
  // sector size.
  virtual bool QuerySize(uint64_t& bytes, uint32_t& sectorSize) = 0;
  // Puts what was written on the medium (fdatasync); false with errno set
  // when the medium did not take it.
  virtual bool Sync() { return true; }
  // Whether the path still names the medium this source was opened on:
  // false once it names another file or device, or the device holds another
  // medium (a card swapped in its reader) or changed its size; from then on
  // false for good. A source that cannot tell answers true.
  virtual bool StillCurrent() { return true; }
  virtual const std::string& Path() const = 0;
  virtual const SourceWindow& Window() const = 0;
};

class UDisksClient;

// Opens sources as files of the system. Tests derive from it.
//
// A block device this user may not open (not root, not in the group owning
// it) is opened through UDisks2 instead, which lets polkit ask the user. A
// read-only descriptor granted that way is kept and copied for every later
// read-only open of the device, so the user is asked once; one for writing
// holds the device exclusively and is never kept.
class SourceOpener {
 public:
  SourceOpener();
  virtual ~SourceOpener();
  SourceOpener(const SourceOpener&) = delete;
  SourceOpener& operator=(const SourceOpener&) = delete;

  // Read-only (forRead) or write-only; `writeThrough` puts each write on the
  // medium before it returns. A block device is opened for writing only
  // when nothing else holds it (no mounted partition, no swap): EBUSY
  // otherwise. nullptr with errno set when it cannot; when UDisks2 was
  // asked and said no, Refusal() says why.
  virtual std::unique_ptr<SectorSource> Open(const std::string& path, bool forRead,
                                             bool writeThrough, SourceWindow window);
  // Only to ask for the size: does not wait for a medium to spin up, and
  // never asks the user (a descriptor already granted serves).
  virtual std::unique_ptr<SectorSource> OpenForQuery(const std::string& path, SourceWindow window);

  // Whether a read-only descriptor from UDisks2 is held for `path`.
  bool Granted(const std::string& path) const;
  // Whether UDisks2 could open `path` if the user agrees (nobody is asked).
  bool BrokerKnows(const std::string& path);
  // Asks UDisks2 now for read access to `path`, which the user may have to
  // agree to. True when granted (or held already); else Refusal() says why,
  // "" when UDisks2 does not manage the device.
  bool AskForAccess(const std::string& path);
  // Why the last open through UDisks2 failed; "" when none did.
  const std::string& Refusal() const { return refusal_; }
  // Lets go of every granted descriptor: a new card in a reader is asked
  // for anew.
  void ForgetGrants();
  // Runs before UDisks2 is asked to open a device it manages (a terminal
  // starts its polkit agent), and while the user is being asked (the window
  // lets its events run).
  void SetAskingHooks(std::function<void()> before, std::function<void()> whileAsking) {
    beforeAsking_ = std::move(before);
    whileAsking_ = std::move(whileAsking);
  }

 private:
  // A copy of the granted descriptor for `path`, or -1.
  int GrantedCopy(const std::string& path) const;
  // Opens `path` through UDisks2; -1 with errno and refusal_ set.
  int OpenThroughBroker(const std::string& path, bool forWrite, bool writeThrough);

  std::unique_ptr<UDisksClient> udisks_;
  std::vector<std::pair<std::string, int>> grants_;  // path, read-only descriptor
  std::string refusal_;
  std::function<void()> beforeAsking_;
  std::function<void()> whileAsking_;
};

}  // namespace kestrella
