#include "diskio/partitiontable.h"

#include <algorithm>

#include "util/bytes.h"

namespace kestrella {

namespace {

// A table sector: four 16-byte entries from offset 446.
constexpr size_t kTableOffset = 446;
constexpr size_t kEntrySize = 16;
constexpr int kEntries = 4;

// A chain of extended tables longer than this is taken as broken: real disks
// hold a few dozen logical partitions at most.
constexpr size_t kMaxTables = 128;

bool IsFatPartitionType(uint8_t type) {
  switch (type) {
    case 0x01: case 0x04: case 0x06: case 0x0B: case 0x0C: case 0x0E: return true;
    default: return false;
  }
}

bool IsExtendedPartitionType(uint8_t type) { return type == 0x05 || type == 0x0F; }

class TableWalk {
 public:
  explicit TableWalk(const PartitionedDisk& disk)
      : disk_(disk), sector_(std::max<uint32_t>(disk.sectorBytes, 512), 0) {}

  // One table of the chain, then the tables it links to.
  void Read(uint64_t table, uint64_t extendedBase) {
    if (table >= disk_.sectors || visited_.size() >= kMaxTables ||
        std::find(visited_.begin(), visited_.end(), table) != visited_.end())
      return;
    visited_.push_back(table);
    if (!disk_.read || !disk_.read(table, sector_.data())) return;
    if (sector_[510] != 0x55 || sector_[511] != 0xAA) return;
    // The links are taken before the recursion reuses the sector buffer.
    uint64_t links[kEntries];
    int linkCount = 0;
    for (int i = 0; i < kEntries; ++i) {
      const uint8_t* e = sector_.data() + kTableOffset + static_cast<size_t>(i) * kEntrySize;
      const uint8_t type = e[4];
      if (IsFatPartitionType(type)) {
        const uint64_t first = table + Le32(e + 8), count = Le32(e + 12);
        if (count != 0 && first < disk_.sectors) found_.push_back({first, count});
      } else if (IsExtendedPartitionType(type)) {
        links[linkCount++] = Le32(e + 8);
      }
    }
    for (int i = 0; i < linkCount; ++i) {
      if (extendedBase == 0)
        Read(links[i], links[i]);
      else
        Read(extendedBase + links[i], extendedBase);
    }
  }

  std::vector<FatPartition> Found() && { return std::move(found_); }

 private:
  const PartitionedDisk& disk_;
  std::vector<uint8_t> sector_;
  std::vector<uint64_t> visited_;
  std::vector<FatPartition> found_;
};

}  // namespace

std::vector<FatPartition> ReadFatPartitions(const PartitionedDisk& disk, uint64_t tableSector,
                                            uint64_t extendedBase) {
  TableWalk walk(disk);
  walk.Read(tableSector, extendedBase);
  return std::move(walk).Found();
}

}  // namespace kestrella
