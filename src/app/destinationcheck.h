// Guards against saving recovered files where they would destroy what is
// being recovered: on the card itself, or inside the card image.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/source.h"
#include "util/outputfile.h"

namespace kestrella {

enum class DestinationClash {
  None,
  IsTheImage,        // the folder is the image file's own path, or below it
  OnTheSourceDevice, // the folder's file system lives on the device being read
  InsideTheImage     // the folder's file system is the image, loop-mounted
};

// `folder` need not exist yet: its nearest existing ancestor decides.
DestinationClash CheckDestination(const std::filesystem::path& folder, const DriveSource& source,
                                  const std::string& sysDevBlock = "/sys/dev/block");

// True when the file system of `devNumber` ("major:minor") sits on the block
// device `sourceDev`: the same device, a partition of it, or a mapping over it.
bool DeviceStacksOn(const std::string& devNumber, const std::string& sourceDev,
                    const std::string& sysDevBlock = "/sys/dev/block");

// True when the file system of `devNumber` sits on a loop device whose
// backing file is `image` (directly, on a partition of it, or mapped over it).
bool DeviceBackedBy(const std::string& devNumber, const std::filesystem::path& image,
                    const std::string& sysDevBlock = "/sys/dev/block");

// What a front end learns of a destination before a run, changing nothing.
struct DestinationState {
  bool exists = false;    // as a folder
  bool notAFolder = false;  // something else has its name
  // This user may create files in it (or, when it is missing, in the
  // nearest existing folder above it, where it would be made).
  bool writable = false;
  uint64_t freeBytes = 0;  // on the file system that would take the files
  uint64_t cardBytes = 0;  // the size of the card being recovered
  DestinationClash clash = DestinationClash::None;

  // The card may hold more than fits.
  bool LowRoom() const { return cardBytes > 0 && freeBytes < cardBytes; }
};

DestinationState InspectDestination(const std::filesystem::path& dest, const DriveEntry& source,
                                    OutputFiles& files,
                                    const std::string& sysDevBlock = "/sys/dev/block");

// Why a run may not save into `dest`, in words a user can act on; "" when
// nothing stands in the way (a missing folder does not: it can be made).
std::string DestinationRefusal(const DestinationState& state, const std::filesystem::path& dest,
                               const DriveEntry& source, bool allowOnSource = false);
// "The folder DEST does not exist. Create it?"
std::string CreateFolderQuestion(const std::filesystem::path& dest);
// "The destination has X free; the card holds Y. Recovered files may not
// all fit." (the warning kestrella-cli prints)
std::string LowRoomWarning(const DestinationState& state);
// The warning followed by "Start anyway?" (what the window asks).
std::string LowRoomQuestion(const DestinationState& state);

// A destination or temporary folder on the device being recovered.
class DestinationClashError : public UserError {
 public:
  using UserError::UserError;
};

// Before a run, in every front end: neither the destination nor the
// temporary folder may be the card image, the file system inside it, or lie
// on the device being recovered (`allowOnSource` lets a user who insists put them on the
// device, never inside the image); the destination is created if need be;
// both must take files. Throws UserError (DestinationClashError for a folder
// on the device) saying what to do.
void PrepareFolders(const std::filesystem::path& dest, const std::filesystem::path& temp,
                    const DriveEntry& source, bool allowOnSource = false);

}  // namespace kestrella
