// The MPEG audio frame walk behind the MP3 test of the lost-file hunt.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrella {

// The length in bytes of the MPEG audio frame whose four header bytes start at
// `header`, or 0 when they are not a frame header: no sync pattern (eleven set
// bits), or a field holding a reserved or unusable value. The factor 144000 is
// used for Layers II and III of every version alike.
uint32_t MpegFrameLength(const uint8_t* header);

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
