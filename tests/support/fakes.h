// Fakes of the engine's two seams, for tests that need a failing medium or a
// failing destination, and the engine a test runs on.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/engine.h"
#include "diskio/enginecontext.h"
#include "support/testsupport.h"

namespace kestrella::test {

// Opens sources as files, but reads of chosen bytes of a watched path fail
// with EIO (as a card's bad sectors do), and every open, read and write of a
// watched path is counted.
class FaultySources : public SourceOpener {
 public:
  struct Counters {
    uint64_t opensForRead = 0;
    uint64_t opensForWrite = 0;
    uint64_t reads = 0;        // positioned reads that reached the source
    uint64_t failedReads = 0;  // of which failed because of a marked sector
    uint64_t writes = 0;
    uint64_t bytesRead = 0;
  };

  // Starts watching `path` (as the drive table names it): counters from zero.
  void Watch(const std::string& path);
  // Marks sectors of `sectorSize` bytes unreadable; watches the path too.
  void MarkUnreadable(const std::string& path, std::initializer_list<uint64_t> sectors,
                      uint32_t sectorSize = 512);
  void MarkUnreadableRange(const std::string& path, uint64_t firstByte, uint64_t length);
  Counters Get(const std::string& path) const;
  // The medium behind `path` takes writes but fails every flush after the
  // first `goodSyncs` (EIO), as a card does that gives up behind the cache.
  void FailSyncAfter(const std::string& path, int goodSyncs);
  // Forgets every path (open sources keep their old entry).
  void Reset() { watched_.clear(); }

  std::unique_ptr<SectorSource> Open(const std::string& path, bool forRead, bool writeThrough,
                                     SourceWindow window) override;

  struct Entry {
    std::vector<std::pair<uint64_t, uint64_t>> unreadable;  // [begin, end) bytes
    int goodSyncs = -1;  // flushes that succeed; -1: all
    Counters counters;
  };

 private:
  std::map<std::string, std::shared_ptr<Entry>> watched_;
};

// Writes output files on the system, but creating files under a chosen
// folder fails, or a folder takes only so many bytes before every write
// fails as on a full disk; the free space a save asks for can be set too.
// Safe to use from the raw scan's writer thread.
class FaultyOutputFiles : public OutputFiles {
 public:
  struct Counters {
    uint64_t creates = 0;        // files created under the folder
    uint64_t failedCreates = 0;  // creations refused
    uint64_t bytesWritten = 0;   // bytes let through
    uint64_t failedWrites = 0;   // writes cut short by the byte limit
    uint64_t renames = 0;        // files renamed into the folder
  };

  // Creating any file under `folder` (at any depth) fails with `err`, and
  // Writable says no for it.
  void FailCreate(const std::string& folder, int err = EACCES);
  // Files under `folder` may receive `bytes` bytes in all; a write that
  // would go past that writes up to the limit and then fails with ENOSPC.
  void LimitBytes(const std::string& folder, uint64_t bytes);
  Counters Get(const std::string& folder) const;
  // Renames into `folder` fail with `err`, as across file systems (EXDEV)
  // or on one that cannot rename without replacing (EINVAL).
  void FailRename(const std::string& folder, int err);
  // What SyncFileSystem answers from now on (0: the real flush).
  void FailSync(int err) { syncError_ = err; }
  // How many flushes were asked for.
  int Syncs() const { return syncs_; }
  // What FreeSpace answers from now on (nullopt: the real figure).
  void SetFreeSpace(std::optional<uint64_t> bytes) { freeSpace_ = bytes; }
  // The folder FreeSpace was last asked about ("" before the first call).
  std::string FreeSpaceAskedFor() const;

  int Open(const std::string& path, int flags, mode_t mode) override;
  ssize_t Write(int fd, const void* data, size_t length) override;
  ssize_t CopyRange(int in, int out, size_t length) override;
  uint64_t FreeSpace(const std::string& folder) override;
  // False for a folder whose creations fail (see FailCreate).
  bool Writable(const std::string& folder) override;
  int Rename(const std::string& from, const std::string& to) override;
  int SyncFileSystem(int fd) override;

 private:
  struct Entry {
    int createError = 0;
    int renameError = 0;
    uint64_t byteLimit = std::numeric_limits<uint64_t>::max();
    Counters counters;
  };
  Entry* Lookup(const std::string& path);
  // How many of `length` bytes the file of `fd` may take now; counted.
  size_t Room(int fd, size_t length);

  mutable std::mutex mutex_;
  std::map<std::string, Entry> folders_;
  std::map<int, std::string> open_;  // descriptor -> path
  std::optional<uint64_t> freeSpace_;
  std::string freeSpaceAskedFor_;
  std::atomic<int> syncError_{0};
  std::atomic<int> syncs_{0};
};

// The engine a test runs on: a scripted user, both fakes, and the context
// over them.
struct TestEngine {
  ScriptedUi ui;
  FaultySources sources;
  FaultyOutputFiles files;
  EngineContext context{ui, &sources, &files};
};

// The front end's engine over both fakes, on a user interface of the test's
// choosing: the window's tests need one that lets events run, hooks into a
// run or presses Cancel, and the interface is fixed when the engine is made.
template <typename Ui = ScriptedUi>
struct FrontEngine {
  Ui ui;
  FaultySources sources;
  FaultyOutputFiles files;
  Engine engine{ui, &sources, &files};
};

}  // namespace kestrella::test
