// The file kinds Kestrella knows: how a file of each kind starts (the
// signature table both detectors read).
#pragma once

#include <cstdint>

namespace kestrella {

// The two readers of the signature table. Each takes the signatures marked
// for it, in table order, and the first that matches names the kind.
enum class SignatureReader : uint8_t {
  // The lost-cluster hunt on FAT volumes (IsFile): whole clusters, and
  // document and archive kinds as well as pictures.
  LostClusterHunt = 1,
  // The raw scan (DetectImageStart): every sector of a card, pictures,
  // sound, video and camera raw files only.
  RawScan = 2,
};

// The kind ("JPG", "NEF", ...) of the first signature for `reader` that lies
// wholly inside data[0 .. size-1], or nullptr. Never reads at or past `size`.
const char* MatchSignature(SignatureReader reader, const uint8_t* data, uint32_t size);

}  // namespace kestrella
