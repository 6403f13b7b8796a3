// Byte-building helpers shared by the detector tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace kestrella::test {

// Writes raw bytes (std::string_view literals may hold zero bytes) at `offset`.
inline void Put(std::vector<uint8_t>& buf, std::size_t offset, std::string_view bytes) {
  std::memcpy(buf.data() + offset, bytes.data(), bytes.size());
}

// `size` zero bytes with the given pieces written into them.
inline std::vector<uint8_t> Bytes(std::size_t size,
                                  std::initializer_list<std::pair<std::size_t, std::string_view>> pieces) {
  std::vector<uint8_t> buf(size, 0);
  for (const auto& [offset, bytes] : pieces) Put(buf, offset, bytes);
  return buf;
}

// The first `size` bytes of `buf` in a heap block of exactly that size, so
// that a read past the end lands outside the allocation (where a sanitizer or
// valgrind reports it).
inline std::unique_ptr<uint8_t[]> ExactCopy(const std::vector<uint8_t>& buf, std::size_t size) {
  auto copy = std::make_unique<uint8_t[]>(size);
  if (size > 0) std::memcpy(copy.get(), buf.data(), size);
  return copy;
}

}  // namespace kestrella::test
