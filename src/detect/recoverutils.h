// The raw scan's start-of-file test and its small companions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrella {

// True when the sector at `data` (size bytes) begins a known picture, sound,
// video or camera-raw file; `ext` is then set to its type text ("JPG", "TIF",
// ...), else left as it was. Never reads at or past `size`.
bool DetectImageStart(const uint8_t* data, int32_t size, std::string& ext);
// Whether the sector ends the file of type `ext` being written: no format's end
// is recognised from its content, so this is false for every sector.
bool DetectImageEnd(const uint8_t* data, int32_t size, const std::string& ext);
// True when `text` occurs at one of the offsets 0, L, 2L, ... (L = its length)
// wholly inside the buffer.
bool ContainsText(const uint8_t* data, int32_t size, std::string_view text);
// Sets `count` bytes to `value`; nothing for count <= 0.
void FillBytes(void* buffer, int32_t count, uint8_t value);

}  // namespace kestrella
