#include "compat/hexbinarytext.h"

#include "util/helpers.h"

namespace kestrella {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Value of one hexadecimal digit, or -1 when the character is not one.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendHexByte(std::string& out, uint8_t v) {
  out.push_back(kHexDigits[v >> 4]);
  out.push_back(kHexDigits[v & 0x0F]);
}

std::string BitsText(uint32_t v, int bits) {
  std::string out;
  for (int bit = bits - 1; bit >= 0; --bit) out.push_back(((v >> bit) & 1u) ? '1' : '0');
  return out;
}

}  // namespace

std::string Byte2Hex(uint8_t v) {
  std::string out;
  AppendHexByte(out, v);
  return out;
}

std::string Word2Hex(uint16_t v) {
  std::string out;
  AppendHexByte(out, static_cast<uint8_t>(v >> 8));
  AppendHexByte(out, static_cast<uint8_t>(v & 0xFF));
  return out;
}

std::string Byte2Bin(uint8_t v) { return BitsText(v, 8); }

std::string Word2Bin(uint16_t v) { return BitsText(v, 16); }

uint16_t Bin2Word(std::string_view bits) {
  // Unlike Word2Bin, the first character is the lowest bit.
  uint16_t v = 0;
  const std::size_t n = bits.size() < 16 ? bits.size() : 16;
  for (std::size_t i = 0; i < n; ++i) {
    if (bits[i] == '1') v = static_cast<uint16_t>(v | (1u << i));
  }
  return v;
}

std::string Data2Hex(const uint8_t* data, int count) {
  // 127 bytes is the most whose digits fit a short string.
  constexpr int kMaxBytes = static_cast<int>(kShortStringMax / 2);
  if (count > kMaxBytes) count = kMaxBytes;
  std::string out;
  for (int i = count - 1; i >= 0; --i) {
    if (data == nullptr) {
      out += "??";
    } else {
      AppendHexByte(out, data[i]);
    }
  }
  return out;
}

void Hex2Data(std::string_view hex, uint8_t* dest) {
  // The text is a short string: anything past 255 characters never arrives.
  if (hex.size() > kShortStringMax) hex = hex.substr(0, kShortStringMax);
  // Pairs are taken from the end, so an odd leading digit is never used.
  const std::size_t pairs = hex.size() / 2;
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::size_t at = hex.size() - 2 * (i + 1);
    const int high = HexDigitValue(hex[at]);
    const int low = HexDigitValue(hex[at + 1]);
    dest[i] = (high < 0 || low < 0) ? 0 : static_cast<uint8_t>(high * 16 + low);
  }
}

}  // namespace kestrella
