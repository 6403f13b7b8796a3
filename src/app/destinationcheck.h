// Guards against saving recovered files where they would destroy what is
// being recovered: on the card itself, or inside the card image.
#pragma once

#include <filesystem>
#include <string>

#include "diskio/drivetable.h"

namespace kestrella {

enum class DestinationClash {
  None,
  IsTheImage,       // the folder is the image file's own path, or below it
  OnTheSourceDevice // the folder's file system lives on the device being read
};

// `folder` need not exist yet: its nearest existing ancestor decides.
DestinationClash CheckDestination(const std::filesystem::path& folder, const DriveSource& source,
                                  const std::string& sysDevBlock = "/sys/dev/block");

// True when the file system of `devNumber` ("major:minor") sits on the block
// device `sourceDev`: the same device, a partition of it, or a mapping over it.
bool DeviceStacksOn(const std::string& devNumber, const std::string& sourceDev,
                    const std::string& sysDevBlock = "/sys/dev/block");

}  // namespace kestrella
