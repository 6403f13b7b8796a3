#include "fuzzsupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "diskio/drivetable.h"

namespace kestrella::fuzz {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::abort();
}

void Empty(const fs::path& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) fs::remove_all(entry.path(), ec);
}

}  // namespace

std::vector<uint8_t> ShapeImage(const uint8_t* data, std::size_t size) {
  std::vector<uint8_t> image(data, data + std::min(size, kMaxImage));
  std::size_t padded = std::max(image.size(), kMinImage);
  padded = (padded + 511) / 512 * 512;
  image.resize(padded, 0);
  return image;
}

Sandbox::Sandbox() {
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : SystemTempFolder();
  std::string pattern = (base / "kestrella-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make a sandbox in " + base.string());
  root_ = pattern;
  image_ = root_ / "card.img";
  out_ = root_ / "out";
  temp_ = root_ / "tmp";
  fs::create_directories(out_);
  fs::create_directories(temp_);
}

Sandbox::~Sandbox() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

uint8_t Sandbox::Load(const std::vector<uint8_t>& image, DriveTable& drives) {
  {
    std::ofstream f(image_, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!f) Fail("cannot write " + image_.string());
  }
  loaded_ = image;
  return drives.AddImage(image_.string());
}

void Sandbox::CheckAndClean() {
  // One read of the whole file: a byte-by-byte stream would cost more than
  // the engine's run.
  std::vector<uint8_t> now(loaded_.size() + 1);
  FILE* f = std::fopen(image_.c_str(), "rb");
  const std::size_t got = f != nullptr ? std::fread(now.data(), 1, now.size(), f) : 0;
  if (f != nullptr) std::fclose(f);
  if (got != loaded_.size() || std::memcmp(now.data(), loaded_.data(), got) != 0)
    Fail("the card image was written to");
  for (const auto& entry : fs::directory_iterator(root_)) {
    const fs::path p = entry.path();
    if (p != image_ && p != out_ && p != temp_) Fail("a file escaped the output folders: " + p.string());
  }
  for (const fs::path& folder : {out_, temp_}) {
    if (fs::is_symlink(folder) || !fs::is_directory(folder)) Fail("an output folder was replaced");
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (entry.is_symlink()) Fail("a link was made: " + entry.path().string());
    }
    Empty(folder);
  }
}

}  // namespace kestrella::fuzz
