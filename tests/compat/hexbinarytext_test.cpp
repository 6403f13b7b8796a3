// Bytes and words as hex and binary digits.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "compat/hexbinarytext.h"

namespace kestrella {
namespace {

TEST(HexBinaryText, HexAndBinaryText) {
  EXPECT_EQ(Byte2Hex(0x0A), "0A");
  EXPECT_EQ(Word2Hex(0xAB02), "AB02");
  EXPECT_EQ(Byte2Bin(0x81), "10000001");
  EXPECT_EQ(Word2Bin(1), std::string(15, '0') + "1");
  EXPECT_EQ(Bin2Word("1000"), 1);
  EXPECT_EQ(Bin2Word("0x1"), 4);
  EXPECT_EQ(Bin2Word(std::string(16, '0') + "1"), 0);  // 17th character unread
}

TEST(HexBinaryText, Data2HexWritesLastByteFirst) {
  const uint8_t bytes[] = {0x01, 0x02};
  EXPECT_EQ(Data2Hex(bytes, 2), "0201");
  EXPECT_EQ(Data2Hex(nullptr, 2), "????");
  EXPECT_EQ(Data2Hex(bytes, -1), "");
  std::vector<uint8_t> many(200);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint8_t>(i);
  const std::string text = Data2Hex(many.data(), 200);
  EXPECT_EQ(text.size(), 254u);
  EXPECT_EQ(text.substr(0, 2), "7E");
}

TEST(HexBinaryText, Hex2DataUndoesData2Hex) {
  uint8_t out[3] = {0xAA, 0xAA, 0xAA};
  Hex2Data("G1ff", out);
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_EQ(out[1], 0x00);
  Hex2Data("F0304", out);  // the odd leading digit is ignored
  EXPECT_EQ(out[0], 0x04);
  EXPECT_EQ(out[1], 0x03);
  EXPECT_EQ(out[2], 0xAA);
  Hex2Data("7", out);
  EXPECT_EQ(out[0], 0x04);

  std::vector<uint8_t> bytes(127), back(128, 0xEE);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  Hex2Data(Data2Hex(bytes.data(), 127), back.data());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin()));
  EXPECT_EQ(back[127], 0xEE);
  Hex2Data(std::string(300, '1'), back.data());  // cut to a short string first
  EXPECT_EQ(back[126], 0x11);
  EXPECT_EQ(back[127], 0xEE);
}

}  // namespace
}  // namespace kestrella
