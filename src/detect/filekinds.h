// The file kinds Kestrella knows: how a file of each kind starts (the
// signature table both detectors read) and which kinds it recovers.
#pragma once

#include <cstdint>
#include <string_view>

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

// Whether a file of this name is of a kind Kestrella recovers: pictures,
// camera raw files and the sound and video clips cameras record. The name's
// extension decides, in any case ("IMG_0001.JPG", "clip.mov").
bool IsRecoverableName(std::string_view name);

}  // namespace kestrella
