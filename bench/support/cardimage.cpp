#include "cardimage.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace kestrella::bench {

void Die(const std::string& msg) {
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, msg.c_str());
  std::exit(1);
}

uint64_t ParseNumber(const std::string& name, const char* text, uint64_t lo, uint64_t hi) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) {
    Die(name + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi));
  }
  return v;
}

fs::path PhotoFolder(const fs::path& given, const fs::path& testData) {
  std::error_code ec;
  if (!given.empty()) {
    if (!fs::is_directory(given, ec)) Die("no photo folder " + given.string() + " (--corpus)");
    return given;
  }
  if (const char* corpus = std::getenv("KESTRELLA_CORPUS"); corpus != nullptr && *corpus != '\0') {
    const fs::path photos = fs::path(corpus) / "photos";
    if (!fs::is_directory(photos, ec))
      Die("KESTRELLA_CORPUS is " + std::string(corpus) + ", but there is no photos folder in it");
    return photos;
  }
  if (!fs::is_directory(testData, ec))
    Die("no photos at " + testData.string() + "; set KESTRELLA_CORPUS or use --corpus DIR");
  return testData;
}

std::vector<Photo> LoadCorpus(const fs::path& dir) {
  std::vector<Photo> photos;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return photos;
  for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
    if (!e.is_regular_file() || e.path().extension() != ".jpg") continue;
    std::ifstream in(e.path(), std::ios::binary);
    Photo p{e.path().filename().string(),
            std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})};
    // Only photos the scan can see as a start count.
    if (p.bytes.size() >= 4 && p.bytes[0] == 0xFF && p.bytes[1] == 0xD8 && p.bytes[2] == 0xFF &&
        (p.bytes[3] == 0xE0 || p.bytes[3] == 0xE1)) {
      photos.push_back(std::move(p));
    }
  }
  std::sort(photos.begin(), photos.end(),
            [](const Photo& a, const Photo& b) { return a.name < b.name; });
  return photos;
}

// The bytes come from a fixed pseudo-random sequence, none of whose sectors
// looks like a start; each file is laid out as a JPEG (segments, then
// entropy-coded data), so that a carver finds where it ends.
std::vector<Photo> SyntheticPhotos() {
  std::vector<Photo> photos;
  uint64_t x = 0x9E3779B97F4A7C15ull;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  for (int i = 0; i < 64; ++i) {
    const size_t size = 40000 + next() % 760000;
    std::vector<uint8_t> b(size);
    for (size_t k = 0; k < size; ++k) b[k] = static_cast<uint8_t>(next() >> 24);
    // Start of image, a 16-byte Exif segment, a start-of-scan segment.
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0,
                            0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01,
                            0x00, 0x00, 0x3F, 0x00};
    std::memcpy(b.data(), head, sizeof head);
    // Entropy-coded data stuffs every FF with a 00, so the first marker after
    // the scan is the end of image, as in a real JPEG.
    for (size_t k = sizeof head; k + 2 < size; ++k) {
      if (b[k] != 0xFF) continue;
      if (k + 3 < size) {
        b[++k] = 0x00;
      } else {
        b[k] = 0x00;
      }
    }
    b[size - 2] = 0xFF;
    b[size - 1] = 0xD9;
    photos.push_back({"synthetic" + std::to_string(i), std::move(b)});
  }
  return photos;
}

uint64_t Padded(uint64_t n) { return (n + kSector - 1) / kSector * kSector; }

namespace {

uint64_t PictureSize(const std::vector<uint8_t>& b) {
  for (size_t i = b.size(); i >= 2; --i) {
    if (b[i - 2] == 0xFF && b[i - 1] == 0xD9) return i;
  }
  return b.size();
}

}  // namespace

std::vector<PhotoSpot> LayOut(const std::vector<Photo>& photos, uint64_t imageBytes) {
  std::vector<uint64_t> pictureSizes;
  for (const Photo& p : photos) pictureSizes.push_back(PictureSize(p.bytes));
  std::vector<PhotoSpot> spots;
  uint64_t used = 0;
  for (size_t i = 0; !photos.empty(); i = (i + 1) % photos.size()) {
    const uint64_t need = Padded(photos[i].bytes.size());
    if (used + need > imageBytes) break;
    spots.push_back({used, photos[i].bytes.size(), pictureSizes[i], i});
    used += need;
  }
  return spots;
}

uint64_t TotalSize(const std::vector<PhotoSpot>& spots) {
  uint64_t sum = 0;
  for (const PhotoSpot& s : spots) sum += s.size;
  return sum;
}

uint64_t TotalPictureSize(const std::vector<PhotoSpot>& spots) {
  uint64_t sum = 0;
  for (const PhotoSpot& s : spots) sum += s.pictureSize;
  return sum;
}

void WriteCardImage(const fs::path& path, const std::vector<Photo>& photos,
                    const std::vector<PhotoSpot>& layout, uint64_t imageBytes) {
  const fs::path part = path.string() + ".part";
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("cannot create " + part.string() + ": " + std::strerror(errno));
  std::vector<uint8_t> buf;
  buf.reserve(8 * kMiB);
  uint64_t written = 0;
  auto flush = [&] {
    size_t done = 0;
    while (done < buf.size()) {
      const ssize_t n = ::write(fd, buf.data() + done, buf.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Die("cannot write " + part.string() + ": " + std::strerror(errno));
      done += static_cast<size_t>(n);
    }
    written += buf.size();
    buf.clear();
  };
  for (const PhotoSpot& s : layout) {
    const std::vector<uint8_t>& b = photos[s.photo].bytes;
    buf.insert(buf.end(), b.begin(), b.end());
    buf.resize(buf.size() + (Padded(b.size()) - b.size()), 0);
    if (buf.size() >= 4 * kMiB) flush();
  }
  while (written + buf.size() < imageBytes) {
    buf.resize(std::min<uint64_t>(imageBytes - written, 4 * kMiB), 0);
    flush();
  }
  flush();
  if (::close(fd) != 0) Die("cannot write " + part.string() + ": " + std::strerror(errno));
  fs::rename(part, path);
}

}  // namespace kestrella::bench
