// What the recovering commands share: Ctrl+C as the Cancel button, and the
// save step with its report.
#pragma once

#include <signal.h>

#include <functional>
#include <string>
#include <vector>

#include "app/destinationcheck.h"
#include "app/ffatscan.h"
#include "app/foundfiles.h"
#include "app/rawscan.h"
#include "app/runfolder.h"
#include "app/runsummary.h"
#include "app/source.h"
#include "cli/options.h"
#include "cli/terminal.h"

namespace kestrella::cli {

// A failure the user can act on; the message is printed as it stands.
using CliError = UserError;

// A terminal user interface whose pending-events call notices Ctrl+C,
// SIGTERM and SIGHUP and calls the stop set with OnInterrupt once, the way
// the Cancel button stops a run. No signal ends the program part way through
// a file: a run stops after the sector or file in hand, and what it found is
// saved; a signal during the save stops the save after the file in hand,
// leaving the rest in the run's folder. One object at a time.
class InterruptibleUi : public TerminalUi {
 public:
  InterruptibleUi();
  ~InterruptibleUi() override;
  void OnInterrupt(std::function<void()> stop) { stop_ = std::move(stop); }
  void ProcessMessages() override;
  bool Interrupted() const;
  // How many stop signals arrived so far.
  int Signals() const;

 protected:
  bool StopAsked() const override { return Interrupted(); }

 private:
  std::function<void()> stop_;
  bool stopped_ = false;
  struct sigaction previous_[3] {};
};

// The first stop signal that arrived (SIGINT, ...), 0 when none did. The
// program then ends with 128 + its number, as a shell reports a program the
// signal ended.
int ReceivedSignal();

// The folder checks every front end makes before a run (see
// kestrella::InspectDestination and PrepareFolders); a refusal because a
// folder lies on the device being recovered says that --force overrides it.
// A missing destination is made, saying so on stderr, as is a destination
// with less room than the card holds.
void CheckFolders(Engine& engine, const std::filesystem::path& dest,
                  const std::filesystem::path& temp, const OpenedSource& source, bool force);
// Names on stderr each folder of found files that an earlier run left in
// the temporary location `temp`.
void NoteLeftovers(const std::filesystem::path& temp);

// The help of the options that say how found files are named and cut
// (--names, --prefix, --by-kind, --no-cut), for the commands' help texts.
#define KESTRELLA_NAMING_HELP                                                          \
  "  --names card|numbered  card (default): each file under its folders and name\n"  \
  "                         on the card (DCIM/100CANON/IMG_0001.JPG), with its\n"   \
  "                         time; files no folder names go to lost/ and\n"         \
  "                         found-by-scan/ as KIND-cluster-N or KIND-sector-N.\n"   \
  "                         numbered: PREFIX1.JPG, PREFIX2.TIF, ...\n"              \
  "  --prefix TEXT          prefix of numbered names (default: image; giving one\n" \
  "                         asks for numbered names)\n"                             \
  "  --by-kind              one folder per kind: JPG/, NEF/, ...\n"                 \
  "  --no-cut               let each found file run to the next one found instead\n" \
  "                         of cutting it where its data ends\n"

#define KESTRELLA_TEMP_HELP                                                            \
  "  --temp DIR             keep the found files in DIR until they are saved\n"      \
  "                         (default: a hidden folder .kestrella-XXXXXX in DEST,\n"  \
  "                         so that saving moves them instead of copying)\n"

#define KESTRELLA_PARTITION_HELP                                                        \
  "  --partition N          the N-th FAT partition of a partitioned disk or image\n"   \
  "                         (see kestrella-cli partitions); without it, the only\n"    \
  "                         one is taken when sector 0 starts no FAT volume\n"

// Opens SOURCE for a command that reads its FAT file system, with
// --partition; says on stderr (unless `quiet`) which partition it took.
OpenedSource OpenFatSourceFor(Engine& engine, const Options& opts, bool quiet);

// Where the run keeps its found files: --temp, else the destination.
std::filesystem::path RunLocationFor(const Options& opts, const std::string& dest);

// How the save step names the files, from --names, --prefix and --by-kind
// (a prefix asks for numbered names unless --names says otherwise).
SaveNaming NamingFor(const Options& opts);

// The raw scan's settings for SOURCE from the command line's --prefix,
// --retries, --sectors-at-once (default: 1% of the drive) and --no-cut.
RawScanSettings ScanSettingsFor(const OpenedSource& src, const Options& opts,
                                const std::filesystem::path& temp);

// Prints on stderr what a run or a save could not bring back: each file it
// lost (and, when `withDamaged`, each it kept in part) and why it stopped
// early. Returns how many files were lost.
size_t PrintProblems(const Report& report, bool withDamaged);

// The save step as it runs without a preview: every found file is moved (or
// copied) to DEST under the names `naming` gives, DEST flushed to its drive
// (with a progress line unless `quiet`), the rest of the run deleted. Prints
// the saved paths on stdout, every failure on stderr, and each file the run
// kept only in part (`run`'s Damaged problems) under the name it was saved
// as; returns how many found files are not in DEST. `saved` (if given)
// receives the save's report. When the flush fails, none of the files
// counts as saved.
// A stop signal stops the save after the file in hand (`terminal`, if given,
// tells of them); what was not saved is named with its folder.
size_t SaveFoundFiles(FoundFileList& found, const std::string& dest, const SaveNaming& naming,
                      const Report& run, SaveReport* saved = nullptr, bool quiet = false,
                      const InterruptibleUi* terminal = nullptr);

// Prints on stderr the run's summary, in the window's words (see
// SummaryLines).
void PrintSummary(const RunFacts& facts);

}  // namespace kestrella::cli
