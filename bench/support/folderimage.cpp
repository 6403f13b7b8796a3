#include "folderimage.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "benchtools.h"

namespace fs = std::filesystem;

namespace kestrella::bench {
namespace {

// mkfs.fat refuses FAT32 with fewer clusters than this (and so do readers
// that tell the FAT type by the cluster count).
constexpr uint64_t kMinFat32Clusters = 65600;
constexpr uint32_t kReservedSectors = 32;
constexpr uint32_t kEntry = 32;
constexpr uint64_t kMaxPhotos = 65534;  // a folder holds 65536 entries, two are . and ..

uint64_t ClustersFor(uint64_t bytes, uint64_t clusterBytes) {
  return std::max<uint64_t>(1, (bytes + clusterBytes - 1) / clusterBytes);
}

// Clusters of DCIM, of 100TEST and of the photos.
uint64_t DataClusters(const std::vector<PhotoSpot>& layout, uint64_t clusterBytes) {
  uint64_t n = 1 + ClustersFor((2 + layout.size()) * kEntry, clusterBytes);
  for (const PhotoSpot& s : layout) n += ClustersFor(s.size, clusterBytes);
  return n;
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | static_cast<uint32_t>(Get16(p + 2)) << 16; }
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// A short-name entry dated 1 May 2024, 12:00, at byte `at` of `folder`;
// returns where it was put. An entry past the end of the folder stops the
// program rather than writing past the buffer.
uint8_t* PutEntry(std::vector<uint8_t>& folder, size_t at, const char (&name)[12], uint8_t attr,
                  uint32_t cluster, uint32_t size) {
  if (at + kEntry > folder.size()) Die("a folder entry past the end of its folder");
  uint8_t* e = folder.data() + at;
  std::memset(e, 0, kEntry);
  std::memcpy(e, name, 11);
  e[11] = attr;
  const uint32_t date = (2024 - 1980) << 9 | 5 << 5 | 1, time = 12 << 11;
  Put16(e + 14, time);
  Put16(e + 16, date);
  Put16(e + 18, date);
  Put16(e + 20, cluster >> 16);
  Put16(e + 22, time);
  Put16(e + 24, date);
  Put16(e + 26, cluster & 0xFFFF);
  Put32(e + 28, size);
  return e;
}

class ImageFile {
 public:
  explicit ImageFile(const fs::path& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) Die("cannot open " + path.string() + ": " + std::strerror(errno));
  }
  ~ImageFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  void Read(uint64_t at, void* data, size_t n) {
    if (::pread(fd_, data, n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) Fail("read");
  }
  void Write(uint64_t at, const void* data, size_t n) {
    size_t done = 0;
    while (done < n) {
      const ssize_t w = ::pwrite(fd_, static_cast<const uint8_t*>(data) + done, n - done,
                                 static_cast<off_t>(at + done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) Fail("write");
      done += static_cast<size_t>(w);
    }
  }
  void Close() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail("write");
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    Die(std::string("cannot ") + what + " " + path_.string() + ": " + std::strerror(errno));
  }
  fs::path path_;
  int fd_ = -1;
};

}  // namespace

FolderImagePlan PlanFolderImage(const std::vector<PhotoSpot>& layout) {
  if (layout.size() > kMaxPhotos) {
    Die("the folder image holds at most " + std::to_string(kMaxPhotos) +
        " photos in one folder; use a smaller --size-mib or --no-folder");
  }
  FolderImagePlan plan;
  uint64_t clusters = 0;
  // The largest clusters (up to 4 KiB) that still make a FAT32 volume.
  for (uint32_t spc : {8u, 4u, 2u, 1u}) {
    plan.sectorsPerCluster = spc;
    clusters = DataClusters(layout, uint64_t{spc} * kSector);
    if (clusters >= kMinFat32Clusters) break;
  }
  clusters = std::max(clusters + clusters / 100 + 16, kMinFat32Clusters);
  const uint64_t fatSectors = ((clusters + 2) * 4 + kSector - 1) / kSector;
  const uint64_t sectors = kReservedSectors + 2 * fatSectors + clusters * plan.sectorsPerCluster;
  // mkfs.fat aligns the data area and rounds the FAT its own way: one MiB more.
  plan.bytes = (sectors * kSector + 2 * kMiB - 1) / kMiB * kMiB;
  return plan;
}

void WriteFolderImage(const fs::path& path, const std::string& mkfs, const FolderImagePlan& plan,
                      const std::vector<Photo>& photos, const std::vector<PhotoSpot>& layout) {
  const fs::path part = path.string() + ".part";
  std::error_code ec;
  fs::remove(part, ec);
  // Zeros throughout, not a sparse file: holes would not stay in the page
  // cache, and a card dump has none.
  {
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Die("cannot create " + part.string() + ": " + std::strerror(errno));
    const std::vector<uint8_t> zeros(4 * kMiB);
    for (uint64_t done = 0; done < plan.bytes;) {
      const ssize_t n = ::write(fd, zeros.data(), std::min<uint64_t>(zeros.size(), plan.bytes - done));
      if (n <= 0) Die("cannot write " + part.string() + ": " + std::strerror(errno));
      done += static_cast<uint64_t>(n);
    }
    if (::close(fd) != 0) Die("cannot write " + part.string() + ": " + std::strerror(errno));
  }
  const fs::path log = path.string() + ".mkfs.log";
  const ChildRun mk = Spawn({mkfs, "-F", "32", "-S", "512", "-s", std::to_string(plan.sectorsPerCluster),
                             "-R", std::to_string(kReservedSectors), "-i", "4B455354", part.string()},
                            {}, log);
  if (mk.exitCode != 0) Die(mkfs + " failed:\n" + Tail(log));
  fs::remove(log, ec);

  ImageFile img(part);
  uint8_t boot[512];
  img.Read(0, boot, sizeof boot);
  const uint32_t bps = Get16(boot + 11), spc = boot[13], reserved = Get16(boot + 14);
  const uint32_t fats = boot[16], totalSectors = Get32(boot + 32), fatSectors = Get32(boot + 36);
  const uint32_t rootCluster = Get32(boot + 44), fsInfo = Get16(boot + 48);
  const uint32_t backupBoot = Get16(boot + 50);
  if (bps != kSector || spc != plan.sectorsPerCluster) Die(mkfs + " made another geometry");
  const uint64_t clusterBytes = uint64_t{bps} * spc;
  const uint64_t dataStart = (uint64_t{reserved} + uint64_t{fats} * fatSectors) * bps;
  const uint64_t clusterCount = (totalSectors - dataStart / bps) / spc;
  auto at = [&](uint64_t cluster) { return dataStart + (cluster - 2) * clusterBytes; };

  // Clusters in order after the root folder's: DCIM, 100TEST, then the photos.
  const uint32_t dcim = rootCluster + 1, test = dcim + 1;
  const uint64_t testClusters = ClustersFor((2 + layout.size()) * kEntry, clusterBytes);
  uint64_t next = test + testClusters;
  std::vector<uint32_t> starts;
  for (const PhotoSpot& s : layout) {
    starts.push_back(static_cast<uint32_t>(next));
    next += ClustersFor(s.size, clusterBytes);
  }
  if (next > clusterCount + 2) Die("the folder image is too small for its photos");

  // The FAT: the folders' chains; the deleted photos' clusters stay free (0).
  std::vector<uint8_t> fat((test + testClusters) * 4);
  img.Read(uint64_t{reserved} * bps, fat.data(), 12);  // media and end marks, the root folder
  Put32(&fat[dcim * 4], 0x0FFFFFFF);
  for (uint64_t c = test; c < test + testClusters; ++c) {
    Put32(&fat[c * 4], c + 1 < test + testClusters ? static_cast<uint32_t>(c + 1) : 0x0FFFFFFF);
  }
  for (uint32_t f = 0; f < fats; ++f) {
    img.Write((uint64_t{reserved} + uint64_t{f} * fatSectors) * bps, fat.data(), fat.size());
  }

  // DCIM in the first free entry of the root folder.
  std::vector<uint8_t> dir(clusterBytes);
  img.Read(at(rootCluster), dir.data(), dir.size());
  size_t slot = 0;
  while (slot < dir.size() && dir[slot] != 0) slot += kEntry;
  if (slot >= dir.size()) Die("no free entry in the root folder of the folder image");
  PutEntry(dir, slot, "DCIM       ", 0x10, dcim, 0);
  img.Write(at(rootCluster), dir.data(), dir.size());

  std::fill(dir.begin(), dir.end(), 0);
  PutEntry(dir, 0, ".          ", 0x10, dcim, 0);
  PutEntry(dir, 32, "..         ", 0x10, 0, 0);
  PutEntry(dir, 64, "100TEST    ", 0x10, test, 0);
  img.Write(at(dcim), dir.data(), dir.size());

  std::vector<uint8_t> entries(testClusters * clusterBytes);
  PutEntry(entries, 0, ".          ", 0x10, test, 0);
  PutEntry(entries, 32, "..         ", 0x10, dcim, 0);
  for (size_t i = 0; i < layout.size(); ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "DSC%05uJPG", static_cast<unsigned>((i + 1) % 100000));
    uint8_t* e = PutEntry(entries, (2 + i) * kEntry, name, 0x20, starts[i],
                          static_cast<uint32_t>(layout[i].size));
    e[0] = 0xE5;
  }
  img.Write(at(test), entries.data(), entries.size());

  for (size_t i = 0; i < layout.size(); ++i) {
    const std::vector<uint8_t>& b = photos[layout[i].photo].bytes;
    img.Write(at(starts[i]), b.data(), b.size());
  }

  // The free count and the next free cluster: unknown, for the reader to count.
  for (uint32_t sector : {fsInfo, backupBoot + fsInfo}) {
    if (sector == 0 || sector == 0xFFFF || sector >= reserved) continue;
    uint8_t info[512];
    img.Read(uint64_t{sector} * bps, info, sizeof info);
    Put32(info + 488, 0xFFFFFFFF);
    Put32(info + 492, 0xFFFFFFFF);
    img.Write(uint64_t{sector} * bps, info, sizeof info);
  }
  img.Close();
  fs::rename(part, path);
}

}  // namespace kestrella::bench
