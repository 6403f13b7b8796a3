// Shared pieces of the sector access tests: image files whose sectors carry
// their own numbers, a fixture that gives every test an engine of its own,
// and a look at the descriptors this process holds open.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "diskio/drivetable.h"
#include "diskio/enginecontext.h"
#include "diskio/logicalio.h"
#include "diskio/pdiskio.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella::test {

inline constexpr size_t kSector = 512;

// Byte `i` of a sector stamped `stamp`: the stamp in the first four bytes,
// then a pattern that differs from stamp to stamp.
inline uint8_t StampByte(uint64_t stamp, size_t i) {
  if (i < 4) return static_cast<uint8_t>(stamp >> (8 * i));
  return static_cast<uint8_t>(stamp * 131 + i * 7 + 1);
}

// `count` sectors stamped firstStamp, firstStamp + 1, ...
inline std::vector<uint8_t> Stamped(uint64_t firstStamp, uint64_t count) {
  std::vector<uint8_t> out(count * kSector);
  for (uint64_t s = 0; s < count; ++s)
    for (size_t i = 0; i < kSector; ++i) out[s * kSector + i] = StampByte(firstStamp + s, i);
  return out;
}

// An image of `sectors` stamped sectors (the first stamped `firstStamp`),
// followed by `tailBytes` bytes of a partial sector.
inline fs::path MakeImage(const fs::path& p, uint64_t sectors, size_t tailBytes = 0,
                          uint64_t firstStamp = 0) {
  std::vector<uint8_t> bytes = Stamped(firstStamp, sectors);
  bytes.insert(bytes.end(), tailBytes, 0xAB);
  WriteFileBytes(p, bytes);
  return p;
}

// Open flags of every descriptor of this process that refers to `path`.
inline std::vector<int> OpenFlagsOf(const std::string& path) {
  std::vector<int> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc/self/fd", ec)) {
    std::error_code lec;
    if (fs::read_symlink(e.path(), lec) != fs::path(path) || lec) continue;
    std::ifstream info("/proc/self/fdinfo/" + e.path().filename().string());
    std::string key, value;
    while (info >> key >> value) {
      if (key == "flags:") {
        out.push_back(std::stoi(value, nullptr, 8));
        break;
      }
    }
  }
  return out;
}

// Every test runs on a fresh engine: an empty drive table, sources opened
// through the counting fake, and no handle open.
class DiskioTest : public ::testing::Test {
 protected:
  DriveTable& Drives() { return engine.context.drives(); }

  // Writes a stamped image into the test folder and gives it a drive letter.
  uint8_t AddImage(const std::string& name, uint64_t sectors, size_t tailBytes = 0,
                   uint64_t firstStamp = 0) {
    const uint8_t n = Drives().AddImage(MakeImage(dir / name, sectors, tailBytes, firstStamp));
    EXPECT_NE(n, 0) << name;
    return n;
  }

  // The source path of a drive, as the fake sources and the descriptors name it.
  std::string PathOf(uint8_t drive) {
    const DriveEntry* e = Drives().Find(drive);
    return e == nullptr ? std::string() : e->source.path;
  }

  // Declared first, so that it outlives every handle open on its images.
  TempDir dir;
  TestEngine engine;
  // The sector access a device reads a drive letter through (128 sectors per
  // call, writes through), and the whole-disk access.
  LogicalSectorAccess deviceAccess{kLdiskioTraits, engine.context};
  PhysicalSectorAccess physical{engine.context};
};

}  // namespace kestrella::test
