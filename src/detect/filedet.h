// Names a file's kind from the first bytes of a cluster (the lost-file hunt).
#pragma once

#include <cstdint>
#include <string>

namespace kestrella {

// StartKind values.
inline constexpr uint8_t kStartNewFile = 1;
inline constexpr uint8_t kStartContinuesStream = 2;  // MP3 frames only

// True when a file of a known kind starts in `buffer` (one whole cluster of
// `size` bytes). On a hit `typeName` is set to the kind ("JPG", "MP3", ...);
// otherwise it is left untouched. `startKind` is set to 1 on entry and to 2
// only by the MP3 test. Never reads at or past `size`.
bool IsFile(const uint8_t* buffer, uint32_t size, std::string& typeName, uint8_t& startKind);

}  // namespace kestrella
