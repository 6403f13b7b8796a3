// Small text, number and pattern routines shared by the engine.
//
// "Short strings" are byte strings of at most 255 characters: every routine
// that builds one stops growing it at kShortStringMax and drops the rest.
// Byte patterns are short strings whose characters are raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrella {

inline constexpr std::size_t kShortStringMax = 255;

// ---- byte patterns ----------------------------------------------------------

// True when the bytes at `data` equal `pattern` for the pattern's length.
// An empty pattern is always equal. Reads pattern.size() bytes.
bool IsDataEqual(const uint8_t* data, std::string_view pattern);
// True when `pattern` occurs wholly inside data[0 .. size-1]. Never reads at or
// past `size`.
bool IsFoundDataEqual(const uint8_t* data, uint32_t size, std::string_view pattern);
// The number of positions in 0 .. n-1 where a and b differ (0 = equal).
uint32_t BytesEqual(const uint8_t* a, const uint8_t* b, uint32_t n);

// ---- text in buffers and names ----------------------------------------------

// The characters from p up to the line break (CR, or a byte followed by LF),
// at most 255 of them; advances p past the two-byte break when p < end.
std::string GetNextTextLine(const uint8_t*& p, const uint8_t* end);
// Low bytes of the 16-bit (little-endian) characters at `chars`, up to a zero
// character or maxLen characters.
std::string Unicode2ASCII(const uint8_t* chars, uint8_t maxLen);
std::string replace(std::string_view s, char from, char to);

// ---- numbers and dates as text ------------------------------------------------

std::string LongWordToStr(uint32_t v);
std::string fsTimeDate2Str(uint16_t fatTime, uint16_t fatDate);

// "stem (n).ext" for the n-th file of one name (n = 1: the name itself).
std::string NumberedName(const std::string& name, int n);

// ---- system queries -------------------------------------------------------------

// Free bytes on the file system holding `path`, 0 when it cannot be queried.
uint64_t NewDiskFree(const std::string& path);
// Bytes written by programs that the kernel still holds in memory, on their
// way to their drives (Dirty plus Writeback of /proc/meminfo); 0 when that
// cannot be read.
uint64_t UnwrittenBytes();
// The name of the group owning `path`, or "" when it cannot be told.
std::string OwningGroupOf(const std::string& path);

// What the file lists show of a file, from its extension (or from the
// directory attribute): a freedesktop icon name and a type name.
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
struct FileTypeInfo {
  const char* icon;
  std::string typeName;
};
FileTypeInfo FileTypeOf(const std::string& path, uint32_t attributes);
// The type name alone; false (and typeName untouched) for an empty path.
bool ShellGetFileType(const std::string& path, uint32_t attributes, std::string& typeName);

}  // namespace kestrella
