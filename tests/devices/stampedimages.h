// Image files whose every sector names itself, registered as drives, and a
// clock that ticks to a script: what the device tests are built on.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "devices/device.h"
#include "diskio/drivetable.h"
#include "diskio/ldiskio.h"
#include "diskio/pdiskio.h"
#include "diskio/sourceprobe.h"
#include "support/testsupport.h"

namespace kestrella::test {

inline constexpr uint32_t kSector = 512;

// Sector `s` of the image tagged `tag`: its number, the tag, then bytes that
// differ from sector to sector and image to image.
inline std::vector<uint8_t> StampedSector(uint32_t tag, uint32_t s) {
  std::vector<uint8_t> b(kSector);
  for (uint32_t k = 0; k < kSector; ++k) b[k] = static_cast<uint8_t>(s * 31 + k * 7 + tag * 101);
  for (int k = 0; k < 4; ++k) {
    b[k] = static_cast<uint8_t>(s >> (8 * k));
    b[4 + k] = static_cast<uint8_t>(tag >> (8 * k));
  }
  return b;
}

// Whether `buffer` holds sectors first .. first + count - 1 of image `tag`.
inline ::testing::AssertionResult HoldsSectors(const std::vector<uint8_t>& buffer, uint32_t tag,
                                               uint32_t first, uint32_t count) {
  if (buffer.size() < static_cast<size_t>(count) * kSector)
    return ::testing::AssertionFailure() << "buffer too small";
  for (uint32_t i = 0; i < count; ++i) {
    const std::vector<uint8_t> want = StampedSector(tag, first + i);
    if (!std::equal(want.begin(), want.end(), buffer.begin() + static_cast<ptrdiff_t>(i) * kSector))
      return ::testing::AssertionFailure()
             << "sector " << first + i << " (buffer sector " << i << ") of image " << tag
             << " differs";
  }
  return ::testing::AssertionSuccess();
}

// Drive table, sector modules, cache and probes start empty for every test
// and are left empty behind it; the cache is switched on as at start-up.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCacheOption_ = optCacheEnabled;
    optCacheEnabled = true;
    Forget();
  }
  void TearDown() override {
    Forget();
    optCacheEnabled = savedCacheOption_;
  }

  // Writes an image of `sectors` stamped sectors and registers it; returns
  // its drive number.
  uint8_t AddStampedImage(const std::string& name, uint32_t sectors, uint32_t tag) {
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(sectors) * kSector);
    for (uint32_t s = 0; s < sectors; ++s) {
      const std::vector<uint8_t> one = StampedSector(tag, s);
      bytes.insert(bytes.end(), one.begin(), one.end());
    }
    WriteFileBytes(dir_ / name, bytes);
    return Register(name);
  }

  uint8_t Register(const std::string& name) {
    const uint8_t drive = Drives().AddImage((dir_ / name).string());
    EXPECT_NE(drive, 0) << name;
    return drive;
  }

  static std::string PathOf(uint8_t drive) { return Drives().Find(drive)->source.path; }

  // Starts counting the reads that reach the drive's file (handles are
  // reopened so that they see the probe).
  static void Watch(uint8_t drive) {
    sourceprobe::Watch(PathOf(drive));
    CloseHandles();
  }
  static void MarkUnreadable(uint8_t drive, std::initializer_list<uint64_t> sectors) {
    sourceprobe::MarkUnreadable(PathOf(drive), sectors);
    CloseHandles();
  }
  static uint64_t Reads(uint8_t drive) { return sourceprobe::Get(PathOf(drive)).reads; }

  // A drive-letter device over `drive`, cache switched on.
  static std::unique_ptr<TDevice> LogicalDevice(uint8_t drive, uint32_t totalSectors,
                                                uint32_t lineSize) {
    auto d = std::make_unique<TDevice>();
    d->Kind = kDeviceLogical;
    d->DriveNumber = drive;
    d->TotalSectors = totalSectors;
    d->BytesPerSector = kSector;
    d->CacheLineSize = lineSize;
    d->UseCache(true);
    return d;
  }

  static void CloseHandles() {
    ldiskio::Module().NT_CloseDrive();
    pdiskio::CloseDrive();
  }

  TempDir dir_;

 private:
  static void Forget() {
    CloseHandles();
    Drives().Clear();
    sourceprobe::Reset();
    sectorcache::Reset();
  }
  bool savedCacheOption_ = false;
};

// A clock that answers from a script and then stays at its last answer.
class ClockScript : public ScriptedUi {
 public:
  explicit ClockScript(std::deque<uint32_t> script) : script_(std::move(script)) {}
  // The start of a measurement, `reads` answers inside its 100 ms, then one
  // at its end.
  static ClockScript Managing(uint32_t reads) {
    std::deque<uint32_t> s{5000};
    for (uint32_t i = 0; i < reads; ++i) s.push_back(5000 + 99 * i / std::max<uint32_t>(reads, 1));
    s.push_back(5100);
    return ClockScript(std::move(s));
  }
  uint32_t TickCount() override {
    if (script_.size() > 1) {
      const uint32_t t = script_.front();
      script_.pop_front();
      return t;
    }
    return script_.empty() ? 0 : script_.front();
  }

 private:
  std::deque<uint32_t> script_;
};

}  // namespace kestrella::test
