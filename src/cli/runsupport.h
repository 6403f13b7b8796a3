// What the recovering commands share: Ctrl+C as the Cancel button, and the
// save step with its report.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/destinationcheck.h"
#include "app/ffatscan.h"
#include "app/foundfiles.h"
#include "app/rawscan.h"
#include "cli/options.h"
#include "cli/terminal.h"

namespace kestrella::cli {

// A failure the user can act on; the message is printed as it stands.
using CliError = UserError;

// A terminal user interface whose pending-events call notices Ctrl+C and
// calls the stop set with OnInterrupt once, the way the Cancel button stops
// a run. A second Ctrl+C ends the program at once.
class InterruptibleUi : public TerminalUi {
 public:
  InterruptibleUi();
  ~InterruptibleUi() override;
  void OnInterrupt(std::function<void()> stop) { stop_ = std::move(stop); }
  void ProcessMessages() override;
  bool Interrupted() const;

 private:
  std::function<void()> stop_;
  bool stopped_ = false;
};

// The folder checks every front end makes before a run (see
// kestrella::PrepareFolders); a refusal because a folder lies on the device
// being recovered says that --force overrides it.
void CheckFolders(const std::filesystem::path& dest, const std::filesystem::path& temp,
                  const OpenedSource& source, bool force);

// The raw scan's settings for SOURCE from the command line's --prefix (given
// as `prefix`), --retries and --sectors-at-once (default: 1% of the drive).
RawScanSettings ScanSettingsFor(const OpenedSource& src, const Options& opts,
                                const std::string& prefix, const std::filesystem::path& temp);

// Prints on stderr what a run or a save could not bring back: each file it
// lost (and, when `withDamaged`, each it kept in part) and why it stopped
// early. Returns how many files were lost.
size_t PrintProblems(const Report& report, bool withDamaged);

// The save step as it runs without a preview: every found file is copied to
// DEST as PREFIX + number + extension, the temporary copies deleted. Prints
// the saved paths on stdout, every failure on stderr, and each file the run
// kept only in part (`run`'s Damaged problems) under the name it was saved
// as; returns how many found files are not in DEST.
size_t SaveFoundFiles(FoundFileList& found, const std::string& dest, const std::string& prefix,
                      const Report& run);

}  // namespace kestrella::cli
