// The partition tables of a disk: the master table in its first sector and
// the chain of extended tables behind it. One reader serves disk images (the
// drive table gives their FAT partitions letters of their own) and devices
// (the FAT layer lists their partitions as drives), so both see the same
// partitions of the same disk.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace kestrella {

// A partition of one of the FAT types: first sector and sector count, in
// the disk's own sectors.
struct FatPartition {
  uint64_t firstSector = 0;
  uint64_t sectors = 0;
  bool operator==(const FatPartition&) const = default;
};

// The disk the tables are read from.
struct PartitionedDisk {
  uint64_t sectors = 0;       // the disk's size: nothing at or past it is read or listed
  uint32_t sectorBytes = 512;  // a table sector is read whole into this many bytes (>= 512)
  // Reads sector `sector` whole into `buffer`; false when it cannot be read.
  std::function<bool(uint64_t sector, uint8_t* buffer)> read;
};

// The FAT partitions (types 01h, 04h, 06h, 0Bh, 0Ch, 0Eh) of the table at
// `tableSector`: that table's in table order, then each extended chain (05h,
// 0Fh) depth first. Volumes are relative to their own table; links of the
// master table (extendedBase 0) are absolute and every later link is
// relative to the first extended partition.
//
// A master table whose entry of type EEh protects a GUID partition table
// lists that table's FAT partitions (Microsoft basic data and EFI system
// types) after its own, in entry order.
//
// A sector without the signature 55 AA is no table, and lists nothing: a
// link into garbage would otherwise list whatever the bytes say. Entries
// that are empty or start past the end of the disk are left out, as are
// links past it; a link back to a table read before in this pass, or a
// chain of more than 128 tables, ends the chain.
std::vector<FatPartition> ReadFatPartitions(const PartitionedDisk& disk, uint64_t tableSector = 0,
                                            uint64_t extendedBase = 0);

}  // namespace kestrella
