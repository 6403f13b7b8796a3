// One recovery run without its windows: the chosen route writes every found
// file into the temporary folder and adds it to the run's list of found
// files; the save step then copies the ticked ones into the destination (see
// FoundFileList). The desktop window and kestrella-cli both drive runs
// through this.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/ffatscan.h"
#include "app/foundfiles.h"
#include "app/rawscan.h"

namespace kestrella {

class EngineContext;

// Caps what one job reading a card of `cardBytes` writes at the card's size
// and a small margin: more than that can only be the same data described
// again and again (deleted entries sharing clusters). Past the cap the
// engine's user is asked whether to go on. Nothing is capped when the size
// is not known.
void LimitOutputToCard(EngineContext& context, uint64_t cardBytes);

struct TRunChoice {
  bool FolderMethod = true;
  bool RecoverDeleted = true;
  bool RecoverLost = false;
};

class TRecoveryRun {
 public:
  // `found` (not owned) is the list the run fills: its owner keeps it for
  // the save step and the preview shows it.
  TRecoveryRun(TFrmFATScan& driver, RawScan& scan, FoundFileList& found)
      : driver_(driver), scan_(scan), found_(found) {}

  // Every found file as it arrives (after it was added to Found()).
  std::function<void(const std::string& path)> OnFound;

  // Runs the chosen route. `settings` describes the drive and the raw
  // scan's tuning; found files go on both routes into the list's run
  // folder, made in the settings' temporary folder when the list has none
  // yet (throws UserError when it cannot be made).
  void Run(const TRunChoice& choice, const RawScanSettings& settings);
  // Cancel: the running route stops after the sector or cluster in hand.
  void Stop();
  bool Stopped() const { return stopped_; }

  FoundFileList& Found() { return found_; }

  // The report of the route that ran: what it could not write into the
  // temporary folder (Lost), or wrote only in part (Damaged: a found file cut
  // short, a photo with unreadable sectors filled with zeros), and why it
  // ended early if it did. Clean after a clean run.
  const Report& Problems() const;

 private:
  void Add(const std::string& path, const FoundOrigin& origin);

  TFrmFATScan& driver_;
  RawScan& scan_;
  FoundFileList& found_;
  bool stopped_ = false;
  bool folderRoute_ = true;
};

}  // namespace kestrella
