#include "diskio/partitiontable.h"

#include <algorithm>
#include <string_view>

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

// The master table of a GUID-partitioned disk holds one entry of this type
// over the whole disk; the real table follows in sector 1.
constexpr uint8_t kProtectiveType = 0xEE;

// GPT partition types that hold FAT volumes, as their 16 bytes lie on disk:
// Microsoft basic data (what cameras, phones and Windows give a FAT card or
// stick) and the EFI system partition.
constexpr uint8_t kGptBasicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                       0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
constexpr uint8_t kGptEfiSystem[16] = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                       0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
// More entries than this are taken as a damaged header: the standard array
// holds 128.
constexpr uint32_t kMaxGptEntries = 1024;

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
    bool protective = false;
    for (int i = 0; i < kEntries; ++i) {
      const uint8_t* e = sector_.data() + kTableOffset + static_cast<size_t>(i) * kEntrySize;
      const uint8_t type = e[4];
      if (type == kProtectiveType && table == 0) protective = true;
      if (IsFatPartitionType(type)) {
        const uint64_t first = table + Le32(e + 8), count = Le32(e + 12);
        // One that runs past the disk (a damaged entry, or an image cut
        // short) ends with it: the disk holds no more of it to read, and a
        // size it does not have would be shown and reported as the drive's.
        if (count != 0 && first < disk_.sectors) found_.push_back({first, std::min(count, disk_.sectors - first)});
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
    if (protective) ReadGpt();
  }

  // The GUID partition table: its header in sector 1, its entries where the
  // header says. Only entries of a FAT-holding type that start and end
  // inside the disk are listed.
  void ReadGpt() {
    const size_t bytes = sector_.size();
    if (disk_.sectors < 2 || !disk_.read(1, sector_.data())) return;
    if (std::string_view(reinterpret_cast<const char*>(sector_.data()), 8) != "EFI PART") return;
    const uint64_t entriesAt = Le64(sector_.data() + 72);
    const uint32_t count = std::min(Le32(sector_.data() + 80), kMaxGptEntries);
    const uint32_t entrySize = Le32(sector_.data() + 84);
    // Entries are 128 bytes or a larger power of two, never across sectors.
    if (entrySize < 128 || entrySize > bytes || bytes % entrySize != 0) return;
    const uint32_t perSector = static_cast<uint32_t>(bytes / entrySize);
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t sector = entriesAt + i / perSector;
      if (i % perSector == 0 && (sector >= disk_.sectors || !disk_.read(sector, sector_.data()))) return;
      const uint8_t* e = sector_.data() + static_cast<size_t>(i % perSector) * entrySize;
      if (!std::equal(e, e + 16, kGptBasicData) && !std::equal(e, e + 16, kGptEfiSystem)) continue;
      const uint64_t first = Le64(e + 32), last = Le64(e + 40);
      if (first == 0 || first > last || last >= disk_.sectors) continue;
      found_.push_back({first, last - first + 1});
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
