// The input is one cluster of a card. Both signature tests run on it: the
// lost-file hunt's kind test on the whole cluster, and the raw scan's
// start-of-file test on each of its sectors, as the scans call them. Then
// the end finders read it as the start of a file of each kind they know.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "detect/filedet.h"
#include "detect/fileend.h"
#include "detect/mpegframes.h"
#include "detect/recoverutils.h"

using namespace kestrella;

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// The bytes fed whole, and again in pieces of 1 to 61 bytes whose sizes the
// bytes themselves pick, each piece a buffer of its own so that a read past
// it is caught: both must give the same result, an end must lie within the
// bytes fed, and a finished finder must stay as it is when fed more.
void CheckEndFinders(const std::vector<uint8_t>& bytes) {
  using State = FileEndFinder::State;
  for (const char* kind : {"JPG", "PNG", "GIF", "BMP", "WAV", "AVI", "MOV", "MP3", "TIF"}) {
    std::unique_ptr<FileEndFinder> whole = MakeEndFinder(kind);
    const State state = whole->Feed(bytes.data(), bytes.size());
    const uint64_t end = whole->End();
    if (state == State::Ended && end > bytes.size()) Fail("an end past the bytes fed");
    const std::optional<uint64_t> found = FindFileEnd(kind, bytes.data(), bytes.size());
    if (found != (state == State::Ended ? std::optional<uint64_t>(end) : std::nullopt))
      Fail("FindFileEnd differs from a finder fed the same bytes");
    if (state != State::NeedMore &&
        (whole->Feed(bytes.data(), bytes.size()) != state || whole->End() != end))
      Fail("a finished finder changed when fed more");

    std::unique_ptr<FileEndFinder> pieces = MakeEndFinder(kind);
    State pieceState = pieces->Current();
    for (size_t at = 0; at < bytes.size();) {
      const size_t n = std::min<size_t>(1 + bytes[at] % 61, bytes.size() - at);
      const std::vector<uint8_t> piece(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                       bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
      pieceState = pieces->Feed(piece.data(), piece.size());
      at += n;
    }
    if (pieceState != state || pieces->End() != end) Fail("the end depends on how bytes are split");
  }
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
  CheckEndFinders(cluster);
  return 0;
}
