// What the recovering commands share: Ctrl+C as the Cancel button, and the
// save step with its report.
#pragma once

#include <functional>
#include <string>

#include "app/foundfiles.h"
#include "app/rawscan.h"
#include "cli/options.h"
#include "cli/source.h"
#include "cli/terminal.h"

namespace kestrella::cli {

// A terminal user interface whose pending-events call notices Ctrl+C and
// calls `stop` once, the way the Cancel button stops a run. A second Ctrl+C
// ends the program at once.
class InterruptibleUi : public TerminalUi {
 public:
  explicit InterruptibleUi(std::function<void()> stop);
  ~InterruptibleUi() override;
  void ProcessMessages() override;
  bool Interrupted() const;

 private:
  std::function<void()> stop_;
  bool stopped_ = false;
  UserInterface* previous_;
};

// The raw scan's settings for SOURCE from the command line's --prefix (given
// as `prefix`), --retries and --sectors-at-once (default: 1% of the drive).
RawScanSettings ScanSettingsFor(const OpenedSource& src, const Options& opts,
                                const std::string& prefix, const std::filesystem::path& temp);

// Says which found files the raw scan could not write, or only in part.
void ReportWriteFailures(const RawScan& scan);

// The save step as it runs without a preview: every found file is copied to
// DEST as PREFIX + number + extension, the temporary copies deleted. Prints
// the saved paths on stdout and every failure on stderr; returns how many
// found files are not in DEST.
size_t SaveFoundFiles(FoundFileList& found, const std::string& dest, const std::string& prefix);

}  // namespace kestrella::cli
