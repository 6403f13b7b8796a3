// The engine once asked which family of Windows it ran on to pick its
// sector access. On Linux devices and images are always read as files,
// which is what the NT family did, so the answer is fixed.
#pragma once

namespace kestrella {

constexpr bool IsWinNT() { return true; }

}  // namespace kestrella
