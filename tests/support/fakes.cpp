#include "support/fakes.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "diskio/sourcefile.h"

namespace kestrella::test {

namespace {

// A source file whose marked bytes cannot be read.
class FaultySource : public SectorSource {
 public:
  FaultySource(std::unique_ptr<SourceFile> file, std::shared_ptr<FaultySources::Entry> entry)
      : file_(std::move(file)), entry_(std::move(entry)) {}

  bool ReadAt(uint64_t offset, void* buffer, size_t length) override {
    ++entry_->counters.reads;
    const uint64_t at = offset + file_->Window().offset;
    for (auto [begin, end] : entry_->unreadable) {
      if (at < end && begin < at + length) {
        ++entry_->counters.failedReads;
        errno = EIO;
        return false;
      }
    }
    if (!file_->ReadAt(offset, buffer, length)) return false;
    entry_->counters.bytesRead += length;
    return true;
  }
  bool WriteAt(uint64_t offset, const void* buffer, size_t length) override {
    ++entry_->counters.writes;
    return file_->WriteAt(offset, buffer, length);
  }
  bool QuerySize(uint64_t& bytes, uint32_t& sectorSize) override {
    return file_->QuerySize(bytes, sectorSize);
  }
  bool Sync() override {
    if (entry_->goodSyncs == 0) {
      errno = EIO;
      return false;
    }
    if (entry_->goodSyncs > 0) --entry_->goodSyncs;
    return file_->Sync();
  }
  bool StillCurrent() override { return file_->StillCurrent(); }
  const std::string& Path() const override { return file_->Path(); }
  const SourceWindow& Window() const override { return file_->Window(); }

 private:
  std::unique_ptr<SourceFile> file_;
  std::shared_ptr<FaultySources::Entry> entry_;
};

std::string Normal(const std::string& path) {
  std::string p = std::filesystem::path(path).lexically_normal().string();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

}  // namespace

void FaultySources::Watch(const std::string& path) { watched_[path] = std::make_shared<Entry>(); }

void FaultySources::MarkUnreadableRange(const std::string& path, uint64_t firstByte,
                                        uint64_t length) {
  auto& e = watched_[path];
  if (!e) e = std::make_shared<Entry>();
  e->unreadable.emplace_back(firstByte, firstByte + length);
}

void FaultySources::MarkUnreadable(const std::string& path, std::initializer_list<uint64_t> sectors,
                                   uint32_t sectorSize) {
  for (uint64_t s : sectors) MarkUnreadableRange(path, s * sectorSize, sectorSize);
}

void FaultySources::FailSyncAfter(const std::string& path, int goodSyncs) {
  auto& e = watched_[path];
  if (!e) e = std::make_shared<Entry>();
  e->goodSyncs = goodSyncs;
}

FaultySources::Counters FaultySources::Get(const std::string& path) const {
  auto it = watched_.find(path);
  return it == watched_.end() ? Counters{} : it->second->counters;
}

std::unique_ptr<SectorSource> FaultySources::Open(const std::string& path, bool forRead,
                                                  bool writeThrough, SourceWindow window) {
  auto file = std::make_unique<SourceFile>();
  if (!file->Open(path, forRead, writeThrough, window)) return nullptr;
  auto it = watched_.find(path);
  if (it == watched_.end()) return file;
  ++(forRead ? it->second->counters.opensForRead : it->second->counters.opensForWrite);
  return std::make_unique<FaultySource>(std::move(file), it->second);
}

void FaultyOutputFiles::FailCreate(const std::string& folder, int err) {
  std::lock_guard<std::mutex> lock(mutex_);
  folders_[Normal(folder)].createError = err;
}

void FaultyOutputFiles::LimitBytes(const std::string& folder, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  folders_[Normal(folder)].byteLimit = bytes;
}

void FaultyOutputFiles::FailRename(const std::string& folder, int err) {
  std::lock_guard<std::mutex> lock(mutex_);
  folders_[Normal(folder)].renameError = err;
}

int FaultyOutputFiles::Rename(const std::string& from, const std::string& to) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Entry* e = Lookup(to)) {
      // A folder that refuses new files refuses them by rename too.
      if (e->createError != 0) {
        ++e->counters.failedCreates;
        return e->createError;
      }
      if (e->renameError != 0) return e->renameError;
    }
  }
  const int err = OutputFiles::Rename(from, to);
  std::lock_guard<std::mutex> lock(mutex_);
  if (Entry* e = Lookup(to); e != nullptr && err == 0) ++e->counters.renames;
  return err;
}

int FaultyOutputFiles::SyncFileSystem(int fd) {
  ++syncs_;
  return syncError_ != 0 ? syncError_.load() : OutputFiles::SyncFileSystem(fd);
}

FaultyOutputFiles::Counters FaultyOutputFiles::Get(const std::string& folder) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = folders_.find(Normal(folder));
  return it == folders_.end() ? Counters{} : it->second.counters;
}

FaultyOutputFiles::Entry* FaultyOutputFiles::Lookup(const std::string& path) {
  // The deepest watched folder holding the path.
  const std::string p = Normal(path);
  Entry* best = nullptr;
  size_t bestLength = 0;
  for (auto& [folder, entry] : folders_) {
    const bool inside = p.size() > folder.size() && p.compare(0, folder.size(), folder) == 0 &&
                        (folder == "/" || p[folder.size()] == '/');
    if (inside && folder.size() >= bestLength) {
      best = &entry;
      bestLength = folder.size();
    }
  }
  return best;
}

int FaultyOutputFiles::Open(const std::string& path, int flags, mode_t mode) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Entry* e = Lookup(path)) {
      if (e->createError != 0) {
        ++e->counters.failedCreates;
        errno = e->createError;
        return -1;
      }
      ++e->counters.creates;
    }
  }
  const int fd = OutputFiles::Open(path, flags, mode);
  if (fd >= 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_[fd] = path;
  }
  return fd;
}

size_t FaultyOutputFiles::Room(int fd, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = open_.find(fd);
  Entry* e = it == open_.end() ? nullptr : Lookup(it->second);
  if (e == nullptr) return length;
  const uint64_t left = e->byteLimit - std::min(e->byteLimit, e->counters.bytesWritten);
  const size_t room = static_cast<size_t>(std::min<uint64_t>(left, length));
  if (room < length) ++e->counters.failedWrites;
  e->counters.bytesWritten += room;
  return room;
}

ssize_t FaultyOutputFiles::Write(int fd, const void* data, size_t length) {
  const size_t room = Room(fd, length);
  if (room == 0 && length > 0) {
    errno = ENOSPC;
    return -1;
  }
  return OutputFiles::Write(fd, data, room);
}

ssize_t FaultyOutputFiles::CopyRange(int in, int out, size_t length) {
  const size_t room = Room(out, length);
  if (room == 0 && length > 0) {
    errno = ENOSPC;
    return -1;
  }
  return OutputFiles::CopyRange(in, out, room);
}

uint64_t FaultyOutputFiles::FreeSpace(const std::string& folder) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    freeSpaceAskedFor_ = folder;
  }
  return freeSpace_ ? *freeSpace_ : OutputFiles::FreeSpace(folder);
}

bool FaultyOutputFiles::Writable(const std::string& folder) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Entry* e = Lookup(folder + "/x");
    if (e != nullptr && e->createError != 0) return false;
  }
  return OutputFiles::Writable(folder);
}

std::string FaultyOutputFiles::FreeSpaceAskedFor() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return freeSpaceAskedFor_;
}

}  // namespace kestrella::test
