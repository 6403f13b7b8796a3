// The short analysis before a run: what the FAT file system of a drive still
// knows about, and the route proposed from it.
#pragma once

#include <cstdint>
#include <functional>

#include "app/ffatscan.h"

namespace kestrella {

struct TRouteProposal {
  int32_t Folders = 0;  // deleted folders (live ones only steer the route)
  int32_t Files = 0;    // deleted files of the recoverable kinds
  bool FolderMethod = true;         // otherwise the raw scan
  bool RecoverDeletedFiles = true;
  bool RecoverLostFiles = false;
  bool Cancelled = false;           // the counts were stopped
};

// Counts through the driver and proposes: the raw scan when nothing was
// counted, else the folder route; deleted files when there are any, the
// lost-file hunt when there are none. `cancelled` is the front end's Cancel:
// it is asked between the two counts (Cancel also calls the driver's
// StopScan, which ends a running count).
TRouteProposal AnalyzeDrive(TFrmFATScan& driver, uint8_t drive,
                            const std::function<bool()>& cancelled = {});

}  // namespace kestrella
