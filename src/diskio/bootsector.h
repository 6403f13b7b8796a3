// Telling a FAT boot sector from anything else that may start a volume or a
// disk: a partition table, boot code, picture data. Every part of the engine
// that asks "does a FAT volume start here?" asks it here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrella {

// The shape every FAT boot sector has: a jump to the boot code (EB or E9), a
// sector size of 512, 1024, 2048 or 4096 bytes, and the signature 55 AA at
// 510. A partition table shares only the signature. False for a buffer
// shorter than 512 bytes. Cheap enough for every sector of a device.
bool LooksLikeBootSector(const uint8_t* sector, size_t size);

// "FAT12", "FAT16" or "FAT32" when `sector` has the shape above and its
// parameter block describes a volume (cluster size, reserved sectors, table
// copies and size, more sectors than the tables and root take), else "".
// The width follows from the cluster count alone.
std::string ProbeFatBootSector(const uint8_t* sector, size_t size);

}  // namespace kestrella
