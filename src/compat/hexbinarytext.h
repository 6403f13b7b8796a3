// Bytes and 16-bit words as hexadecimal and binary digits, and back. Nothing
// in the engine shows numbers this way any more; the routines keep their
// exact results, odd corners included (Bin2Word reads its lowest bit first).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrella {

// Upper-case hex digits, most significant first: "0A", "AB02".
std::string Byte2Hex(uint8_t v);
std::string Word2Hex(uint16_t v);
// Binary digits, most significant first.
std::string Byte2Bin(uint8_t v);
std::string Word2Bin(uint16_t v);
// The first character is the lowest bit; at most 16 characters are read and
// anything but '1' is a 0 bit.
uint16_t Bin2Word(std::string_view bits);
// 2*count hex digits, last byte first, at most 127 bytes (a short string).
// A null pointer gives "??" per byte.
std::string Data2Hex(const uint8_t* data, int count);
// Undoes Data2Hex: digit pairs from the end of the text fill dest[0], dest[1],
// ...; a pair that is not hex gives 0, and an odd leading digit is unused.
void Hex2Data(std::string_view hex, uint8_t* dest);

}  // namespace kestrella
