// What the fuzz harnesses share: a private folder per process in which the
// input becomes a card image, a fresh engine per input that answers every
// question silently, and the checks that run after every input (the image
// was not written, nothing appeared outside the output folders).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "diskio/enginecontext.h"
#include "util/userinterface.h"

namespace kestrella::fuzz {

// Cards between 64 KiB and 2 MiB: big enough for a boot sector, tables and a
// few clusters, small enough for thousands of inputs a second.
constexpr std::size_t kMinImage = 64 * 1024;
constexpr std::size_t kMaxImage = 2 * 1024 * 1024;

// The input cut to kMaxImage, padded with zeros to kMinImage and then to a
// whole sector.
std::vector<uint8_t> ShapeImage(const uint8_t* data, std::size_t size);

class Sandbox {
 public:
  Sandbox();  // a fresh folder in /dev/shm (else the temporary folder)
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::filesystem::path& Image() const { return image_; }
  const std::filesystem::path& Out() const { return out_; }
  const std::filesystem::path& Temp() const { return temp_; }

  // Writes the image and adds it to `drives` (a fresh engine's table).
  // Returns the drive number of the image (0 if it could not be added).
  uint8_t Load(const std::vector<uint8_t>& image, DriveTable& drives);
  // Aborts (so the fuzzer records the input) when the image changed or
  // anything but the image and the two output folders is in the sandbox, or
  // a link was made in them; then empties the output folders.
  void CheckAndClean();

 private:
  std::filesystem::path root_, image_, out_, temp_;
  std::vector<uint8_t> loaded_;
};

// Silent answers (Abort, No, Ok), the sandbox's temporary folder, and a
// clock that advances one millisecond per look: what the engine times (the
// device's read-speed measurement, progress throttles) then takes the same
// turns for the same input, and no input waits on the real clock.
class FuzzUserInterface : public SilentUserInterface {
 public:
  explicit FuzzUserInterface(std::filesystem::path temp) : temp_(std::move(temp)) {}
  std::filesystem::path TempFolder() override { return temp_; }
  uint32_t TickCount() override { return ++ticks_; }

 private:
  std::filesystem::path temp_;
  uint32_t ticks_ = 0;
};

// The engine one input runs on. Nothing of an input outlives it (drives,
// open handles, the clock), so every input runs as if it came first and a
// crash replays from the input alone.
struct FuzzEngine {
  explicit FuzzEngine(const Sandbox& box) : ui(box.Temp()) {}
  FuzzUserInterface ui;
  EngineContext context{ui};
};

}  // namespace kestrella::fuzz
