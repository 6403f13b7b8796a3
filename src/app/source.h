// Opening what the user named as the card to recover: an image file, a block
// device, or a drive letter such as "E:".
#pragma once

#include <cstdint>
#include <string>

#include "app/engine.h"

namespace kestrella {

struct OpenedSource {
  uint8_t drive = 0;
  DriveEntry entry;
  TLogDriveParams params;
};

// Why `path` cannot be opened for reading, in a few words ("" when it can).
std::string AccessProblem(const std::string& path);

// Finds or adds the drive, checks that it can be read and has a medium.
// Throws UserError saying what to do (join the 'disk' group, insert the
// card, ...).
OpenedSource OpenSource(Engine& engine, const std::string& source);
// The same for a drive already in the table (the window's list).
OpenedSource OpenDrive(Engine& engine, uint8_t drive);

}  // namespace kestrella
