// A quick look at a volume's first sector: does a FAT file system start here?
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrella {

// "FAT12", "FAT16" or "FAT32" when `sector` holds a plausible FAT boot sector
// (jump instruction, sane parameter block, boot signature), else "".
std::string ProbeFatBootSector(const uint8_t* sector, size_t size);

}  // namespace kestrella
