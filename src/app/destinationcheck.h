// Guards against saving recovered files where they would destroy what is
// being recovered: on the card itself, or inside the card image.
#pragma once

#include <filesystem>
#include <string>

#include "app/source.h"

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

// A destination or temporary folder on the device being recovered.
class DestinationClashError : public UserError {
 public:
  using UserError::UserError;
};

// Before a run, in every front end: neither the destination nor the
// temporary folder may be the card image or lie on the device being
// recovered (`allowOnSource` lets a user who insists put them on the
// device, never inside the image); the destination is created if need be;
// both must take files. Throws UserError (DestinationClashError for a folder
// on the device) saying what to do.
void PrepareFolders(const std::filesystem::path& dest, const std::filesystem::path& temp,
                    const DriveEntry& source, bool allowOnSource = false);

}  // namespace kestrella
