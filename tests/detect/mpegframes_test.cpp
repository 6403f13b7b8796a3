#include "detect/mpegframes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/filedet.h"
#include "detectbytes.h"

namespace kestrella::test {
namespace {

// Field values of a frame header as they are stored in its bits.
struct Header {
  unsigned version = 3;     // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
  unsigned layer = 1;       // 1 Layer III, 2 Layer II, 3 Layer I, 0 reserved
  unsigned protection = 0;  // 1 asks for the check word
  unsigned bitrate = 9;     // index; 9 is 128 kbit/s for MPEG-1 Layer III
  unsigned sampleRate = 0;  // index; 0 is 44100 Hz for MPEG-1
  unsigned padding = 0;
  unsigned emphasis = 0;
};

void PutHeader(std::vector<uint8_t>& buf, std::size_t pos, const Header& h) {
  buf[pos] = 0xFF;
  buf[pos + 1] = static_cast<uint8_t>(0xE0 | h.version << 3 | h.layer << 1 | h.protection);
  buf[pos + 2] = static_cast<uint8_t>(h.bitrate << 4 | h.sampleRate << 2 | h.padding << 1);
  buf[pos + 3] = static_cast<uint8_t>(h.emphasis);
}

// `count` frames of `length` bytes back to back from `pos`, each a header and
// a payload of `fill` bytes, cut off at the end of the buffer.
void PutFrames(std::vector<uint8_t>& buf, std::size_t pos, int count, std::size_t length,
               const Header& h = {}, uint8_t fill = 0) {
  for (int i = 0; i < count && pos + 4 <= buf.size(); ++i, pos += length) {
    std::fill(buf.begin() + pos, buf.begin() + std::min(buf.size(), pos + length), fill);
    PutHeader(buf, pos, h);
  }
}

// A bit-by-bit CRC of the same definition, kept apart from the one under test.
uint16_t CrcStep(uint16_t r, uint8_t byte) {
  r ^= static_cast<uint16_t>(byte << 8);
  for (int bit = 0; bit < 8; ++bit) r = static_cast<uint16_t>(r & 0x8000 ? (r << 1) ^ 0x8005 : r << 1);
  return r;
}

// A protected frame of `length` bytes at 0 whose check word is `word` and whose
// CRC (bytes 4 .. length-1) is `crc`: the last two bytes are chosen to get it.
std::vector<uint8_t> ProtectedFrame(std::size_t length, uint16_t word, uint16_t crc) {
  std::vector<uint8_t> frame(length);
  for (std::size_t i = 6; i < length; ++i) frame[i] = static_cast<uint8_t>(i * 7 + 3);
  Header h;
  h.protection = 1;
  PutHeader(frame, 0, h);
  frame[4] = static_cast<uint8_t>(word);
  frame[5] = static_cast<uint8_t>(word >> 8);
  uint16_t prefix = 0;
  for (std::size_t i = 4; i < length - 2; ++i) prefix = CrcStep(prefix, frame[i]);
  for (unsigned tail = 0; tail <= 0xFFFF; ++tail) {
    if (CrcStep(CrcStep(prefix, uint8_t(tail >> 8)), uint8_t(tail)) == crc) {
      frame[length - 2] = static_cast<uint8_t>(tail >> 8);
      frame[length - 1] = static_cast<uint8_t>(tail);
      return frame;
    }
  }
  ADD_FAILURE() << "no tail gives CRC " << crc;
  return frame;
}

uint32_t Count(const std::vector<uint8_t>& buf) {
  return CountMpegAudioFrames(buf.data(), static_cast<uint32_t>(buf.size()));
}

std::string KindOf(const std::vector<uint8_t>& buf, uint8_t* startKind = nullptr) {
  std::string type = "-";
  uint8_t kind = 0;
  IsFile(buf.data(), static_cast<uint32_t>(buf.size()), type, kind);
  if (startKind != nullptr) *startKind = kind;
  return type;
}

TEST(Crc16, MatchesTheCheckValueAndTheBitwiseForm) {
  const std::string_view check = "123456789";
  EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xFEE8);
  std::vector<uint8_t> data(300);
  uint16_t expected = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(i * 31 + 17);
    expected = CrcStep(expected, data[i]);
  }
  EXPECT_EQ(Crc16(data.data(), data.size()), expected);
}

TEST(MpegFrames, LengthFollowsVersionLayerBitrateAndRate) {
  struct Case {
    Header h;
    std::size_t length;
  };
  const std::vector<Case> cases = {
      {{3, 1, 0, 9, 0, 0, 0}, 417},    // MPEG-1 Layer III 128 kbit/s 44100 Hz
      {{3, 1, 0, 9, 0, 1, 0}, 418},    // the same, padded
      {{3, 3, 0, 1, 1, 0, 0}, 32},     // MPEG-1 Layer I 32 kbit/s 48000 Hz
      {{3, 3, 0, 1, 1, 1, 0}, 36},     // padding counts four bytes in Layer I
      {{3, 2, 0, 14, 2, 0, 0}, 1728},  // MPEG-1 Layer II 384 kbit/s 32000 Hz
      {{2, 1, 0, 1, 0, 0, 0}, 52},     // MPEG-2 Layer III 8 kbit/s 22050 Hz
      {{2, 3, 0, 14, 2, 0, 0}, 768},   // MPEG-2 Layer I 256 kbit/s 16000 Hz
      {{0, 2, 0, 14, 2, 0, 0}, 2880},  // MPEG-2.5 Layer II 160 kbit/s 8000 Hz
      {{0, 1, 0, 8, 0, 0, 1}, 835},    // MPEG-2.5 Layer III 64 kbit/s 11025 Hz
  };
  for (const Case& c : cases) {
    // Payloads of FF bytes: a step to any other place lands on a bad header
    // and the walk gives 0.
    std::vector<uint8_t> buf(3 * c.length);
    PutFrames(buf, 0, 3, c.length, c.h, 0xFF);
    EXPECT_EQ(Count(buf), 3u) << "frame length " << c.length;
  }
}

TEST(MpegFrames, NextHeaderIsSearchedForAfterEachFrame) {
  std::vector<uint8_t> buf(2000, 0);
  for (std::size_t pos : {0, 420, 900, 1318}) PutFrames(buf, pos, 1, 417);
  EXPECT_EQ(Count(buf), 4u);
}

TEST(MpegFrames, ABadHeaderAfterGoodFramesGivesNoFrames) {
  std::vector<Header> bad(6);
  bad[0].version = 1;
  bad[1].layer = 0;
  bad[2].bitrate = 0;
  bad[3].bitrate = 15;
  bad[4].sampleRate = 3;
  bad[5].emphasis = 2;
  for (const Header& h : bad) {
    std::vector<uint8_t> buf(4096, 0);
    PutFrames(buf, 0, 9, 417);
    PutHeader(buf, 9 * 417, h);
    EXPECT_EQ(Count(buf), 0u);
    EXPECT_EQ(KindOf(buf), "-");
  }
  for (unsigned emphasis : {1, 3}) {
    std::vector<uint8_t> buf(4096, 0);
    Header h;
    h.emphasis = emphasis;
    PutFrames(buf, 0, 10, 417, h);
    EXPECT_EQ(Count(buf), 10u) << emphasis;
  }
}

TEST(MpegFrames, ProtectedFrameNeedsItsCrcWithinEightOfTheWord) {
  constexpr std::size_t kLength = 417;
  struct Case {
    uint16_t word, crc;
    bool passes;
  };
  const std::vector<Case> cases = {
      {0x1234, 0x1234, true},  {0x1234, 0x123C, true},  {0x1234, 0x123D, false},
      {0x1234, 0x122C, true},  {0x1234, 0x122B, false}, {0x0003, 0x0000, true},
      {0x0003, 0x000B, true},  {0x0003, 0x000C, false}, {0xFFFA, 0x0001, false},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> frame = ProtectedFrame(kLength, c.word, c.crc);
    ASSERT_EQ(Crc16(frame.data() + 4, kLength - 4), c.crc);
    std::vector<uint8_t> buf(2 * kLength, 0);
    PutFrames(buf, 0, 1, kLength);
    std::copy(frame.begin(), frame.end(), buf.begin() + kLength);
    EXPECT_EQ(Count(buf), c.passes ? 2u : 0u) << std::hex << c.word << " " << c.crc;
  }
  // A zero word passes whatever the frame holds.
  std::vector<uint8_t> zeroWord = ProtectedFrame(kLength, 0, 0x4321);
  EXPECT_EQ(Count(zeroWord), 1u);
  // Without the protection bit the word is not looked at.
  std::vector<uint8_t> unprotected = ProtectedFrame(kLength, 0x1234, 0x5678);
  unprotected[1] &= 0xFE;
  EXPECT_EQ(Count(unprotected), 1u);
}

TEST(MpegFrames, LastFrameRunningPastTheEndCountsOnItsHeader) {
  // Nine frames, then a protected one whose check word does not fit its CRC.
  std::vector<uint8_t> whole(10 * 417, 0);
  PutFrames(whole, 0, 9, 417);
  const std::vector<uint8_t> bad = ProtectedFrame(417, 0x1234, 0x4000);
  std::copy(bad.begin(), bad.end(), whole.begin() + 9 * 417);
  EXPECT_EQ(Count(whole), 0u);
  // Cut inside that frame (even between the two bytes of its word), the
  // frame cannot be checked and counts.
  for (std::size_t size : {4096, 9 * 417 + 7, 9 * 417 + 5}) {
    const auto cut = ExactCopy(whole, size);
    EXPECT_EQ(CountMpegAudioFrames(cut.get(), static_cast<uint32_t>(size)), 10u) << size;
  }
  // A header needs all four bytes before the last one of the buffer.
  const auto cut = ExactCopy(whole, 9 * 417 + 4);
  EXPECT_EQ(CountMpegAudioFrames(cut.get(), 9 * 417 + 4), 9u);
}

TEST(MpegFrames, ClusterIsMp3WithOneFramePer512Bytes) {
  // 4096 bytes need 8 frames; the frames sit at the end after zero bytes.
  std::vector<uint8_t> eight(4096, 0);
  PutFrames(eight, 4096 - 8 * 417, 8, 417);
  uint8_t startKind = 0;
  EXPECT_EQ(KindOf(eight, &startKind), "MP3");
  EXPECT_EQ(startKind, kStartContinuesStream);

  std::vector<uint8_t> seven(4096, 0);
  PutFrames(seven, 4096 - 7 * 417, 7, 417);
  EXPECT_EQ(Count(seven), 7u);
  EXPECT_EQ(KindOf(seven, &startKind), "-");
  EXPECT_EQ(startKind, kStartNewFile);

  // A full cluster of padded and unpadded frames, the last one cut off.
  std::vector<uint8_t> full(4096, 0);
  Header padded;
  padded.padding = 1;
  for (std::size_t pos = 0, i = 0; pos + 4 <= full.size(); ++i) {
    PutFrames(full, pos, 1, i % 2 ? 418 : 417, i % 2 ? padded : Header{});
    pos += i % 2 ? 418 : 417;
  }
  EXPECT_EQ(Count(full), 10u);
  EXPECT_EQ(KindOf(full), "MP3");
}

}  // namespace
}  // namespace kestrella::test
