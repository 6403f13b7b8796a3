#include "compat/drivenumbers.h"

#include <cctype>

namespace kestrella {

std::string DriveRootPath(uint8_t number) { return LetterRootPath(DriveLetter(number)); }

std::string LetterRootPath(char letter) { return std::string(1, letter) + ":\\"; }

uint8_t ParseDriveLetter(std::string_view text) {
  if (text.empty() || text.size() > 3) return 0;
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  if (c < 'A' || c > 'Z') return 0;
  if (text.size() >= 2 && text[1] != ':') return 0;
  // Linux users type the slash as often as the backslash.
  if (text.size() == 3 && text[2] != '\\' && text[2] != '/') return 0;
  return static_cast<uint8_t>(c - 64);
}

std::optional<uint8_t> HardDiskBiosNumber(unsigned index) {
  if (index > 0xFFu - kBiosFirstHardDisk) return std::nullopt;
  return static_cast<uint8_t>(kBiosFirstHardDisk + index);
}

}  // namespace kestrella
