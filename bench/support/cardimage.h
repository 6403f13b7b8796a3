// The card images the benchmarks read: camera photos (or JPEG-like stand-ins)
// laid back to back on 512-byte boundaries, and where each of them lies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrella::bench {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint32_t kSector = 512;

struct Photo {
  std::string name;
  std::vector<uint8_t> bytes;
};

// The *.jpg files of `dir` that begin as the scan expects (FF D8 FF E0/E1),
// in name order; empty when there are none.
std::vector<Photo> LoadCorpus(const std::filesystem::path& dir);

// The photo folder when --corpus is not given: the large corpus's when
// KESTRELLA_CORPUS names it, else `testData` (the repository's tests/data
// photos). Dies when the folder is missing, KESTRELLA_CORPUS's above all.
std::filesystem::path PhotoFolder(const std::filesystem::path& given,
                                  const std::filesystem::path& testData);

// 64 JPEG-like files: an Exif segment, a start-of-scan segment, pseudo-random
// bytes (each FF followed by 00), an end-of-image marker; 40 KB to 800 KB
// each. Always the same.
std::vector<Photo> SyntheticPhotos();

uint64_t Padded(uint64_t n);

// Where one photo lies in the card image.
struct PhotoSpot {
  uint64_t offset = 0;
  uint64_t size = 0;
  // Up to and with the last end-of-image marker (FF D9): where a carver cuts
  // the picture. Bytes after it are none of the picture's.
  uint64_t pictureSize = 0;
  size_t photo = 0;  // index into the photo set
};

// The photo set in order, round after round, each padded to a whole sector,
// until the next one would not fit into `imageBytes`.
std::vector<PhotoSpot> LayOut(const std::vector<Photo>& photos, uint64_t imageBytes);

uint64_t TotalSize(const std::vector<PhotoSpot>& spots);
uint64_t TotalPictureSize(const std::vector<PhotoSpot>& spots);

// Writes the image of `layout` (the rest zeros) to `path` via `path.part`.
void WriteCardImage(const std::filesystem::path& path, const std::vector<Photo>& photos,
                    const std::vector<PhotoSpot>& layout, uint64_t imageBytes);

[[noreturn]] void Die(const std::string& msg);
// The number `text` gives for option `name`; dies unless it is from lo to hi.
uint64_t ParseNumber(const std::string& name, const char* text, uint64_t lo, uint64_t hi);

}  // namespace kestrella::bench
