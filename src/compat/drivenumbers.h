// Drive letters and BIOS disk numbers: the addresses the engine has always
// used. A logical drive is a number, 1 = A: ... 26 = Z:; a whole disk is a
// BIOS number, 0 and 1 the floppies, 80h + n the n-th hard disk. The drive
// table decides which Linux device or image stands behind each; only the
// arithmetic of the numbers themselves is kept here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrella {

// Letters with a meaning of their own: the two floppies, the system's own
// disk, and D:, where the letters handed out in order begin.
inline constexpr uint8_t kDriveA = 1;
inline constexpr uint8_t kDriveB = 2;
inline constexpr uint8_t kDriveC = 3;
inline constexpr uint8_t kDriveD = 4;
inline constexpr uint8_t kDriveZ = 26;

// 'A' for 1 ... 'Z' for 26.
constexpr char DriveLetter(uint8_t number) { return static_cast<char>(64 + number); }
// Letter, colon, backslash: "E:\" for 5.
std::string DriveRootPath(uint8_t number);
// The same for a letter given as such: "E:\" for 'E'.
std::string LetterRootPath(char letter);
// "E:", "e:", "E:\", "E:/" or "E" -> 5; 0 when not a drive letter.
uint8_t ParseDriveLetter(std::string_view text);

// BIOS numbers of whole disks.
inline constexpr uint8_t kBiosFloppyA = 0;
inline constexpr uint8_t kBiosFloppyB = 1;
inline constexpr uint8_t kBiosFirstHardDisk = 0x80;

constexpr bool IsFloppyBiosNumber(uint8_t bios) { return bios < kBiosFirstHardDisk; }
constexpr bool IsHardDiskBiosNumber(uint8_t bios) { return bios >= kBiosFirstHardDisk; }
// The BIOS number of hard disk `index` (0 = 80h); none once the numbers
// run out past FFh.
std::optional<uint8_t> HardDiskBiosNumber(unsigned index);

}  // namespace kestrella
