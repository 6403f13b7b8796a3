// Test-only fault injection and counting for sources.
//
// A test marks chosen sectors of a source path unreadable, and every read that
// reaches the source through SourceFile is counted. Nothing in the program
// itself registers a path, so these hooks cost one null check per read.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kestrella::sourceprobe {

struct Counters {
  uint64_t opensForRead = 0;
  uint64_t opensForWrite = 0;
  uint64_t reads = 0;        // positioned reads that reached the source
  uint64_t failedReads = 0;  // of which failed because of a marked sector
  uint64_t writes = 0;
  uint64_t bytesRead = 0;
};

struct Entry {
  std::vector<std::pair<uint64_t, uint64_t>> unreadable;  // [begin, end) bytes
  Counters counters;
};

// Starts watching `path` (as the drive table names it): counters from zero.
void Watch(const std::string& path);
// Marks sectors of `sectorSize` bytes unreadable; watches the path too.
void MarkUnreadable(const std::string& path, std::initializer_list<uint64_t> sectors,
                    uint32_t sectorSize = 512);
void MarkUnreadableRange(const std::string& path, uint64_t firstByte, uint64_t length);
Counters Get(const std::string& path);
// Forgets every path (open files keep their old entry until reopened).
void Reset();

// Used by SourceFile: the entry of a watched path, or null.
std::shared_ptr<Entry> Lookup(const std::string& path);

}  // namespace kestrella::sourceprobe
