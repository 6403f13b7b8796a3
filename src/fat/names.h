// Names read from a FAT medium turned into UTF-8 text for Linux: long names
// are UTF-16, short names are bytes of the DOS code page 437.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fat/fattypes.h"

namespace kestrella {

// Appends one code point as UTF-8 (values past U+10FFFF and surrogates
// become U+FFFD).
void AppendUtf8(std::string& out, uint32_t codePoint);

// UTF-16 units up to the first 0 unit or `count` units. Surrogate pairs are
// combined; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const uint16_t* units, std::size_t count);

// Bytes of code page 437: ASCII stays, bytes from 0x80 map to their
// characters (0x82 -> "é", 0xE1 -> "ß").
std::string Cp437ToUtf8(std::string_view bytes);

// The short name of an entry as UTF-8: the same characters as
// TFATAnalyser::CnvName, with a leading deleted marker 0xE5 shown as "_", a
// leading 0x05 as the character 0xE5 it stands for, and the lower-case flags
// of byte 12 applied (0x08 to the base name, 0x10 to the extension), as
// Windows writes names like "photo.jpg" without a long-name entry.
std::string ShortNameUtf8(const TDirEntry& entry);

}  // namespace kestrella
