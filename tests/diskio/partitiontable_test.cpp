// The one partition-table reader, on disks held in memory: the rules the
// drive table (disk images) and the FAT layer (devices) both follow, case by
// case, and the sector size of a device with large sectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "diskio/partitiontable.h"

namespace kestrella::test {
namespace {

struct Entry {
  uint8_t type;
  uint32_t first, count;
};

struct Table {
  uint64_t sector;
  std::vector<Entry> entries;
  bool withSignature = true;
};

// A disk of `sectors` sectors of `sectorBytes` bytes, zero but for its
// tables; counts the sectors read.
class MemoryDisk {
 public:
  MemoryDisk(uint64_t sectors, uint32_t sectorBytes, const std::vector<Table>& tables)
      : sectors_(sectors), sectorBytes_(sectorBytes) {
    for (const Table& t : tables) {
      std::vector<uint8_t>& s = content_[t.sector];
      s.assign(sectorBytes, 0);
      size_t at = 446;
      for (const Entry& e : t.entries) {
        s[at + 4] = e.type;
        for (size_t k = 0; k < 4; ++k) {
          s[at + 8 + k] = static_cast<uint8_t>(e.first >> (8 * k));
          s[at + 12 + k] = static_cast<uint8_t>(e.count >> (8 * k));
        }
        at += 16;
      }
      if (t.withSignature) {
        s[510] = 0x55;
        s[511] = 0xAA;
      }
    }
  }

  PartitionedDisk Disk() {
    PartitionedDisk d;
    d.sectors = sectors_;
    d.sectorBytes = sectorBytes_;
    d.read = [this](uint64_t sector, uint8_t* buffer) {
      reads.push_back(sector);
      if (unreadable.count(sector) != 0) return false;
      const auto it = content_.find(sector);
      if (it == content_.end())
        std::fill_n(buffer, sectorBytes_, 0);
      else
        std::copy(it->second.begin(), it->second.end(), buffer);
      return true;
    };
    return d;
  }

  // Puts `bytes` at byte `offset` of sector `sector`.
  void Put(uint64_t sector, size_t offset, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t>& s = content_[sector];
    s.resize(sectorBytes_, 0);
    std::copy(bytes.begin(), bytes.end(), s.begin() + static_cast<std::ptrdiff_t>(offset));
  }

  std::vector<uint64_t> reads;
  std::map<uint64_t, bool> unreadable;

 private:
  uint64_t sectors_;
  uint32_t sectorBytes_;
  std::map<uint64_t, std::vector<uint8_t>> content_;
};

struct Case {
  const char* what;
  uint64_t sectors;
  std::vector<Table> tables;
  std::vector<FatPartition> want;
  std::vector<uint64_t> reads;
};

TEST(PartitionTable, RulesCaseByCase) {
  const std::vector<Case> cases = {
      {"a master table", 1000, {{0, {{0x0C, 63, 900}}}}, {{63, 900}}, {0}},
      {"a master table without 55 AA lists nothing", 1000,
       {{0, {{0x0C, 63, 900}}, false}}, {}, {0}},
      {"an extended table without 55 AA lists nothing of its own", 1000,
       {{0, {{0x06, 10, 90}, {0x05, 500, 400}}}, {500, {{0x06, 10, 90}}, false}},
       {{10, 90}}, {0, 500}},
      {"empty entries and entries starting at or past the end are left out, those running past it cut there",
       1000, {{0, {{0x06, 10, 0}, {0x06, 1000, 10}, {0x0B, 999, 50}, {0x04, 4000000000u, 10}}}},
       {{999, 1}}, {0}},
      {"only the FAT types; 07h and 83h are no drives", 1000,
       {{0, {{0x07, 10, 10}, {0x83, 20, 10}, {0x01, 30, 10}, {0x0E, 40, 10}}}},
       {{30, 10}, {40, 10}}, {0}},
      {"a link past the end is not read", 1000,
       {{0, {{0x06, 10, 90}, {0x0F, 1000, 10}}}}, {{10, 90}}, {0}},
      {"primaries first, then each chain depth first, links relative to the first extended",
       3000,
       {{0, {{0x05, 1000, 1900}, {0x0C, 200, 300}, {0x0F, 2500, 100}}},
        {1000, {{0x06, 10, 100}, {0x05, 500, 400}}},
        {1500, {{0x0E, 20, 50}}},
        {2500, {{0x04, 5, 30}}}},
       {{200, 300}, {1010, 100}, {1520, 50}, {2505, 30}}, {0, 1000, 1500, 2500}},
      {"a chain that links back to a table read before ends", 2000,
       {{0, {{0x05, 100, 1800}}},
        {100, {{0x06, 10, 50}, {0x05, 400, 300}}},
        {500, {{0x06, 10, 50}, {0x05, 0, 300}, {0x05, 400, 300}}}},
       {{110, 50}, {510, 50}}, {0, 100, 500}},
  };
  for (const Case& c : cases) {
    MemoryDisk disk(c.sectors, 512, c.tables);
    EXPECT_EQ(ReadFatPartitions(disk.Disk()), c.want) << c.what;
    EXPECT_EQ(disk.reads, c.reads) << c.what;
  }
}

std::vector<uint8_t> Le(uint64_t v, size_t n) {
  std::vector<uint8_t> out(n);
  for (size_t k = 0; k < n; ++k) out[k] = static_cast<uint8_t>(v >> (8 * k));
  return out;
}

// A GUID partition table behind its protective master entry: the FAT types
// are listed, other types and entries that do not fit the disk are not.
TEST(PartitionTable, GuidTableListsItsFatPartitions) {
  const std::vector<uint8_t> basicData = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                          0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
  const std::vector<uint8_t> efiSystem = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                          0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
  const std::vector<uint8_t> linuxData = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                          0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};
  for (const bool signedHeader : {true, false}) {
    MemoryDisk disk(100000, 512, {{0, {{0xEE, 1, 99999}}}});
    disk.Put(1, 0, signedHeader ? std::vector<uint8_t>{'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'}
                                : std::vector<uint8_t>{'E', 'F', 'I', ' ', 'P', 'A', 'R', 'X'});
    disk.Put(1, 72, Le(2, 8));    // the entries start in sector 2
    disk.Put(1, 80, Le(128, 4));  // 128 entries
    disk.Put(1, 84, Le(128, 4));  // of 128 bytes: 4 a sector
    const struct {
      const std::vector<uint8_t>& type;
      uint64_t first, last;
    } entries[] = {{basicData, 2048, 4095}, {linuxData, 4096, 8191}, {efiSystem, 8192, 10239},
                   {basicData, 90000, 200000}, {basicData, 5000, 4000}, {basicData, 20000, 29999}};
    for (size_t i = 0; i < std::size(entries); ++i) {
      disk.Put(2 + i / 4, (i % 4) * 128, entries[i].type);
      disk.Put(2 + i / 4, (i % 4) * 128 + 32, Le(entries[i].first, 8));
      disk.Put(2 + i / 4, (i % 4) * 128 + 40, Le(entries[i].last, 8));
    }
    const std::vector<FatPartition> want =
        signedHeader ? std::vector<FatPartition>{{2048, 2048}, {8192, 2048}, {20000, 10000}}
                     : std::vector<FatPartition>{};
    EXPECT_EQ(ReadFatPartitions(disk.Disk()), want) << signedHeader;
  }
}

TEST(PartitionTable, UnreadableTableEndsItsBranchOnly) {
  MemoryDisk disk(3000, 512,
                  {{0, {{0x05, 1000, 1000}, {0x0F, 2000, 500}}},
                   {1000, {{0x06, 10, 100}}},
                   {2000, {{0x06, 10, 100}}}});
  disk.unreadable[1000] = true;
  EXPECT_EQ(ReadFatPartitions(disk.Disk()), (std::vector<FatPartition>{{2010, 100}}));
}

// Each table of the chain holds a volume and links to the next sector: the
// walk gives up after 128 tables, the master table among them.
TEST(PartitionTable, OverlongChainEndsAfter128Tables) {
  std::vector<Table> tables = {{0, {{0x05, 1, 999}}}};
  for (uint32_t k = 0; k < 300; ++k) tables.push_back({1 + k, {{0x06, 1, 1}, {0x05, k + 1, 1}}});
  MemoryDisk disk(1000, 512, tables);
  EXPECT_EQ(ReadFatPartitions(disk.Disk()).size(), 127u);
  EXPECT_EQ(disk.reads.size(), 128u);
}

// A device of 4096-byte sectors: its table sectors are read whole, the
// entries sit at 446 as on any disk, and sectors count in 4096-byte units.
TEST(PartitionTable, LargeSectorsAreReadWhole) {
  MemoryDisk disk(500, 4096, {{0, {{0x0C, 256, 200}, {0x05, 300, 100}}}, {300, {{0x06, 8, 50}}}});
  EXPECT_EQ(ReadFatPartitions(disk.Disk()), (std::vector<FatPartition>{{256, 200}, {308, 50}}));
}

// The FAT layer may start at a table other than the master one.
TEST(PartitionTable, StartsAtTheTableItIsGiven) {
  MemoryDisk disk(3000, 512, {{1000, {{0x06, 10, 100}, {0x05, 500, 100}}}, {1500, {{0x06, 10, 100}}}});
  EXPECT_EQ(ReadFatPartitions(disk.Disk(), 1000, 1000),
            (std::vector<FatPartition>{{1010, 100}, {1510, 100}}));
  EXPECT_TRUE(ReadFatPartitions(disk.Disk(), 0, 0).empty());
}

}  // namespace
}  // namespace kestrella::test
