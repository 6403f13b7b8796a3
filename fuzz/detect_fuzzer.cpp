// The input is one cluster of a card. Both signature tests run on it: the
// lost-file hunt's kind test on the whole cluster, and the raw scan's
// start-of-file test on each of its sectors, as the scans call them.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "detect/filedet.h"
#include "detect/mpegframes.h"
#include "detect/recoverutils.h"

using namespace kestrella;

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kMaxCluster = 64 * 1024;
  if (size > kMaxCluster) size = kMaxCluster;
  // A buffer of exactly the cluster's size, so that a read past it is caught.
  const std::vector<uint8_t> cluster(data, data + size);

  std::string kind = "unchanged";
  uint8_t startKind = 0;
  const bool isFile = IsFile(cluster.data(), static_cast<uint32_t>(size), kind, startKind);
  if (!isFile && kind != "unchanged") Fail("IsFile named a kind without a hit");
  if (isFile && kind.empty()) Fail("IsFile hit without a kind");
  if (startKind != kStartNewFile && startKind != kStartContinuesStream) Fail("bad start kind");
  if (startKind == kStartContinuesStream && kind != "MP3") Fail("only MP3 frames continue a stream");
  std::string again = "unchanged";
  uint8_t againKind = 0;
  if (IsFile(cluster.data(), static_cast<uint32_t>(size), again, againKind) != isFile || again != kind)
    Fail("IsFile is not repeatable");
  CountMpegAudioFrames(cluster.data(), static_cast<uint32_t>(size));

  for (size_t at = 0; at < size; at += 512) {
    const size_t n = std::min<size_t>(512, size - at);
    const std::vector<uint8_t> sector(cluster.begin() + static_cast<std::ptrdiff_t>(at),
                                      cluster.begin() + static_cast<std::ptrdiff_t>(at + n));
    std::string ext = "unchanged";
    const bool start = DetectImageStart(sector.data(), static_cast<int32_t>(n), ext);
    if (!start && ext != "unchanged") Fail("DetectImageStart named a type without a hit");
    if (start && ext.empty()) Fail("DetectImageStart hit without a type");
    if (DetectImageEnd(sector.data(), static_cast<int32_t>(n), ext)) Fail("an end was recognised");
  }
  return 0;
}
