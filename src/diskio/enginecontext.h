// The state one engine runs on, created by each front end (the window,
// kestrella-cli, a test, a fuzzer) and handed down: the user it talks to,
// the drive table, how sources are opened and output files written, the
// switches of the sector-access and device layers, and the main window's
// own sector access. Nothing below the front ends keeps state of its own
// beyond what it is given here, so two engines can run side by side.
#pragma once

#include "compat/legacydiskswitches.h"
#include "diskio/drivetable.h"
#include "diskio/logicalio.h"
#include "diskio/sectorsource.h"
#include "util/outputfile.h"
#include "util/userinterface.h"

namespace kestrella {

// Module switches.
struct EngineOptions {
  // Kept for callers; they change nothing on Linux.
  LegacyDiskSwitches legacy;
  // The devices' sector caches serve only while this is on.
  bool optCacheEnabled = false;
};

class EngineContext {
 public:
  // `opener` and `files` default to the system's; they are not owned.
  explicit EngineContext(UserInterface& ui, SourceOpener* opener = nullptr,
                         OutputFiles* files = nullptr);
  EngineContext(const EngineContext&) = delete;
  EngineContext& operator=(const EngineContext&) = delete;

  UserInterface& ui() const { return *ui_; }
  DriveTable& drives() { return drives_; }
  const DriveTable& drives() const { return drives_; }
  SourceOpener& opener() const { return *opener_; }
  OutputFiles& files() const { return *files_; }
  // The main window's sector access: drive information, the raw scan and
  // wipe. Reads up to 1000 sectors per system call; the drive stays open
  // until another drive or access mode is asked for, or NT_CloseDrive.
  LogicalSectorAccess& diskutils() { return diskutils_; }

  EngineOptions options;

 private:
  UserInterface* ui_;
  SourceOpener plainOpener_;
  OutputFiles plainFiles_;
  SourceOpener* opener_;
  OutputFiles* files_;
  DriveTable drives_;
  LogicalSectorAccess diskutils_;
};

}  // namespace kestrella
