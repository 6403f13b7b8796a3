// On-disk FAT records and the small values shared by the FAT classes.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "util/bytes.h"

namespace kestrella {

// FAT types.
inline constexpr uint8_t kFat12 = 1;
inline constexpr uint8_t kFat16 = 2;
inline constexpr uint8_t kFat32 = 3;

// Classes of allocation-table values.
inline constexpr uint8_t kClusterLink = 1;
inline constexpr uint8_t kClusterFree = 2;
inline constexpr uint8_t kClusterBad = 4;   // reserved or bad
inline constexpr uint8_t kClusterEnd = 8;   // end of chain
// The table sector holding the entry could not be read: the entry may be
// anything, so it is neither free nor the end of a chain.
inline constexpr uint8_t kClusterUnknown = 16;

// What the allocation table gives for an entry it could not read. No FAT
// type has entries this wide (FAT32 keeps 28 bits), so it never stands for
// a real value.
inline constexpr uint32_t kFatEntryUnknown = 0xFFFFFFFFu;

// Directory entry attributes.
inline constexpr uint8_t kAttrReadOnly = 0x01;
inline constexpr uint8_t kAttrHidden = 0x02;
inline constexpr uint8_t kAttrSystem = 0x04;
inline constexpr uint8_t kAttrVolume = 0x08;
inline constexpr uint8_t kAttrDirectory = 0x10;
inline constexpr uint8_t kAttrArchive = 0x20;
inline constexpr uint8_t kAttrLongName = 0x0F;

inline constexpr uint8_t kDeletedMarker = 0xE5;

// Whole allocation-table entries in `bytes` bytes of a table of `fatType`
// (0 for any other value).
inline uint64_t TableEntriesIn(uint64_t bytes, uint8_t fatType) {
  switch (fatType) {
    case kFat32: return bytes / 4;
    case kFat16: return bytes / 2;
    case kFat12: return bytes * 2 / 3;
    default: return 0;
  }
}

// One 32-byte directory entry.
struct TDirEntry {
  std::array<uint8_t, 32> raw{};

  uint8_t FirstByte() const { return raw[0]; }
  uint8_t Attributes() const { return raw[11]; }
  bool IsDeleted() const { return raw[0] == kDeletedMarker; }
  bool IsLongName() const { return raw[11] == kAttrLongName; }
  uint16_t ClusterHigh() const { return Le16(&raw[20]); }
  uint16_t ClusterLow() const { return Le16(&raw[26]); }
  uint32_t FirstCluster() const { return (static_cast<uint32_t>(ClusterHigh()) << 16) | ClusterLow(); }
  // On FAT12 and FAT16 the high word is no part of the cluster number: some
  // systems keep access rights or extended-attribute handles there.
  uint32_t FirstCluster(uint8_t fatType) const {
    return fatType == kFat32 ? FirstCluster() : ClusterLow();
  }
  uint16_t WriteTime() const { return Le16(&raw[22]); }
  uint16_t WriteDate() const { return Le16(&raw[24]); }
  uint32_t FileSize() const { return Le32(&raw[28]); }
  // Long-name entries: the checksum of their short name.
  uint8_t Checksum() const { return raw[13]; }
};

// The first 90 bytes of a boot sector, the part the volume keeps.
inline constexpr size_t kBootRecordSize = 90;
struct TBootRecord {
  std::array<uint8_t, kBootRecordSize> raw{};

  uint16_t BytesPerSector() const { return Le16(&raw[11]); }
  uint8_t SectorsPerCluster() const { return raw[13]; }
  uint16_t ReservedSectors() const { return Le16(&raw[14]); }
  uint8_t NumberOfFATs() const { return raw[16]; }
  uint16_t RootEntries() const { return Le16(&raw[17]); }
  uint16_t TotalSectors16() const { return Le16(&raw[19]); }
  uint8_t MediaDescriptor() const { return raw[21]; }
  uint16_t SectorsPerFAT16() const { return Le16(&raw[22]); }
  uint32_t TotalSectors32() const { return Le32(&raw[32]); }
  uint32_t SectorsPerFAT32() const { return Le32(&raw[36]); }
  uint32_t RootCluster() const { return Le32(&raw[44]); }
};

}  // namespace kestrella
