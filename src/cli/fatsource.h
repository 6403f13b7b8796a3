// Mounting the FAT volume of a SOURCE for the folder commands.
#pragma once

#include <memory>

#include "app/ffatscan.h"
#include "cli/source.h"
#include "fat/fatdrive.h"

namespace kestrella::cli {

struct MountedSource {
  OpenedSource source;
  std::unique_ptr<TFrmFATScan> driver;  // owns the device; host of the searches
  std::unique_ptr<TFATdrive> drive;
};

// Opens SOURCE and mounts the FAT volume at its start. Throws CliError when
// there is none.
MountedSource MountSource(const std::string& source);

}  // namespace kestrella::cli
