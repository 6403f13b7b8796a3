#include "detect/mpegframes.h"

#include <array>
#include <cstring>

#include "util/bytes.h"

namespace kestrella {
namespace {

// Bitrates in kbit/s by bitrate index. Index 0 (free format) and 15 (bad) are
// rejected before a lookup.
constexpr uint16_t kMpeg1Kbps[3][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // Layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // Layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // Layer III
};
// MPEG-2 and MPEG-2.5 share these.
constexpr uint16_t kMpeg2Kbps[2][16] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},  // Layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},       // Layers II, III
};
// Sample rates in Hz by version field and sample-rate index.
constexpr uint32_t kSampleRates[4][3] = {
    {11025, 12000, 8000},   // 0: MPEG-2.5
    {0, 0, 0},              // 1: reserved, rejected before a lookup
    {22050, 24000, 16000},  // 2: MPEG-2
    {44100, 48000, 32000},  // 3: MPEG-1
};

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t r = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      r = static_cast<uint16_t>((r & 0x8000) ? (r << 1) ^ 0x8005 : r << 1);
    }
    table[i] = r;
  }
  return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

// A frame with the protection bit set passes when the little-endian word after
// its header is 0, or lies within 8 of the CRC of the frame from that word to
// the frame's last byte. Reads frame[0 .. length-1].
bool PassesProtectionCheck(const uint8_t* frame, uint32_t length) {
  const int word = Le16(frame + 4);
  if (word == 0) return true;
  const int crc = Crc16(frame + 4, length - 4);
  return word - 8 <= crc && crc <= word + 8;
}

}  // namespace

uint32_t MpegFrameLength(const uint8_t* h) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
  const unsigned version = (h[1] >> 3) & 3;
  const unsigned layerField = (h[1] >> 1) & 3;  // 3 = Layer I, 2 = II, 1 = III
  const unsigned rateIndex = h[2] >> 4;
  const unsigned freqIndex = (h[2] >> 2) & 3;
  const unsigned padding = (h[2] >> 1) & 1;
  const unsigned emphasis = h[3] & 3;
  if (version == 1 || layerField == 0 || rateIndex == 0 || rateIndex == 15 || freqIndex == 3 ||
      emphasis == 2) {
    return 0;
  }
  const bool layerOne = layerField == 3;
  const uint32_t kbps = version == 3 ? kMpeg1Kbps[3 - layerField][rateIndex]
                                     : kMpeg2Kbps[layerOne ? 0 : 1][rateIndex];
  const uint32_t hz = kSampleRates[version][freqIndex];
  const uint32_t length =
      layerOne ? (12000 * kbps / hz + padding) * 4 : 144000 * kbps / hz + padding;
  return static_cast<uint16_t>(length);
}

uint16_t Crc16(const uint8_t* data, std::size_t count) {
  uint16_t r = 0;
  for (std::size_t i = 0; i < count; ++i) {
    r = static_cast<uint16_t>((r << 8) ^ kCrcTable[((r >> 8) ^ data[i]) & 0xFF]);
  }
  return r;
}

uint32_t CountMpegAudioFrames(const uint8_t* buffer, uint32_t size) {
  if (size <= 4) return 0;
  // Headers are looked for at positions below size - 4, so the four header
  // bytes always lie inside the buffer.
  const uint64_t limit = size - 4;
  uint32_t frames = 0;
  uint64_t pos = 0;
  while (pos < limit) {
    const void* sync = std::memchr(buffer + pos, 0xFF, limit - pos);
    if (sync == nullptr) break;
    pos = static_cast<const uint8_t*>(sync) - buffer;
    const uint8_t* h = buffer + pos;
    if ((h[1] & 0xE0) != 0xE0) {
      ++pos;
      continue;
    }
    const uint32_t length = MpegFrameLength(h);
    if (length < 32) return 0;
    // A cluster boundary cuts the stream at an arbitrary byte, so its last
    // frame usually runs past the end of the buffer. Such a frame is counted on
    // its header alone: every header field has already passed, and the check
    // word and CRC range are not all here to be read. Refusing it would throw
    // away every good frame before it.
    const bool wholeFrameHere = length <= size - pos;
    if ((h[1] & 1) != 0 && wholeFrameHere && !PassesProtectionCheck(h, length)) return 0;
    pos += length;
    ++frames;
  }
  return frames;
}

}  // namespace kestrella
