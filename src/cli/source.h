// Turning what the user typed as SOURCE into a drive of the drive table, with
// errors that say what to do.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "diskio/driveparams.h"
#include "diskio/drivetable.h"

namespace kestrella::cli {

// A failure the user can act on; the message is printed as it stands.
class CliError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OpenedSource {
  uint8_t drive = 0;
  DriveEntry entry;
  TLogDriveParams params;
};

// Why `path` cannot be opened for reading, in a few words ("" when it can).
std::string AccessProblem(const std::string& path);

// SOURCE is an image file, a block device, or a drive letter such as "E:".
// Checks that it exists, can be read, and has a medium. Throws CliError.
OpenedSource OpenSource(const std::string& source);

}  // namespace kestrella::cli
