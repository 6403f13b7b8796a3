// The MPEG audio frame walk behind the MP3 test of the lost-file hunt.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrella {

// Walks the MPEG audio frame headers in buffer[0 .. size-1] and returns how
// many frames it accepted, or 0 as soon as it meets a sync pattern whose header
// is invalid. Between frames it slides byte by byte to the next sync pattern.
// Never reads at or past `size`.
uint32_t CountMpegAudioFrames(const uint8_t* buffer, uint32_t size);

// CRC-16 with polynomial 0x8005, initial value 0, bits fed most significant
// first, no reflection and no final inversion (the "123456789" check value is
// 0xFEE8).
uint16_t Crc16(const uint8_t* data, std::size_t count);

}  // namespace kestrella
