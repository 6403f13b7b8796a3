#pragma once

#include <cstdint>
#include <string>

namespace kestrella {

// "15.9 GB", "512 bytes": decimal units with one decimal, as disk makers
// label their cards.
std::string FormatByteSize(uint64_t bytes);

}  // namespace kestrella
