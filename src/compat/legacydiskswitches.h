// Switches for the DOS and BIOS disk services the engine was first written
// for: absolute disk reads (INT 25h), BIOS disk access (INT 13h) and its
// extended form. Linux has none of them; every read goes through the block
// device or the image file. The switches are kept because callers set and
// test them, and they change nothing.
#pragma once

namespace kestrella {

struct LegacyDiskSwitches {
  bool optUseINT25 = true;
  bool OptUseINT13 = true;
  bool OptUseINT13EXT = true;
};

}  // namespace kestrella
