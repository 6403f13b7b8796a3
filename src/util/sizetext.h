#pragma once

#include <cstdint>
#include <string>

namespace kestrella {

// "15.9 GB", "512 bytes": decimal units with one decimal, as disk makers
// label their cards.
std::string FormatByteSize(uint64_t bytes);

// "64.0 MiB", "1.5 KiB", "512 bytes": binary units with one decimal, the
// figures Linux tools (lsblk, file managers) show for a device.
std::string FormatBinaryByteSize(uint64_t bytes);

}  // namespace kestrella
