#include "cli/runsupport.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <iterator>
#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "util/sizetext.h"

namespace kestrella::cli {

namespace {

// The first stop signal's number, and how many arrived; lock-free atomics
// are all a handler may touch.
std::atomic<int> g_signal{0};
std::atomic<int> g_signals{0};

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void InterruptHandler(int sig) {
  int none = 0;
  g_signal.compare_exchange_strong(none, sig);
  g_signals.fetch_add(1);
}

}  // namespace

InterruptibleUi::InterruptibleUi() {
  g_signal = 0;
  g_signals = 0;
  struct sigaction action {};
  action.sa_handler = InterruptHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &action, &previous_[i]);
}

InterruptibleUi::~InterruptibleUi() {
  for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &previous_[i], nullptr);
}

void InterruptibleUi::ProcessMessages() {
  if (!stopped_ && Interrupted()) {
    stopped_ = true;
    if (stop_) stop_();
  }
}

bool InterruptibleUi::Interrupted() const { return g_signals.load(std::memory_order_relaxed) > 0; }

int InterruptibleUi::Signals() const { return g_signals.load(); }

int ReceivedSignal() { return g_signal.load(); }

void CheckFolders(Engine& engine, const std::filesystem::path& dest,
                  const std::filesystem::path& temp, const OpenedSource& source, bool force) {
  const DestinationState state = InspectDestination(dest, source.entry, engine.Context().files());
  const std::string refusal = DestinationRefusal(state, dest, source.entry, force);
  if (!refusal.empty()) {
    if (state.clash == DestinationClash::OnTheSourceDevice)
      throw CliError(refusal + " (or pass --force if you are sure)");
    throw CliError(refusal);
  }
  if (!state.exists) std::fprintf(stderr, "kestrella-cli: creating %s\n", dest.c_str());
  try {
    PrepareFolders(dest, temp, source.entry, force);
  } catch (const DestinationClashError& e) {
    throw CliError(std::string(e.what()) + " (or pass --force if you are sure)");
  }
  if (state.LowRoom()) std::fprintf(stderr, "kestrella-cli: %s\n", LowRoomWarning(state).c_str());
}

void NoteLeftovers(const std::filesystem::path& temp) {
  for (const LeftoverRun& run : FindLeftoverRuns(temp)) {
    std::fprintf(stderr,
                 "kestrella-cli: found files of an earlier run that did not finish are still in "
                 "%s (%zu files); 'kestrella-cli leftovers %s' saves or deletes them\n",
                 run.folder.c_str(), run.files, temp.c_str());
  }
}

SaveNaming NamingFor(const Options& opts) {
  SaveNaming naming;
  const auto prefix = opts.Value("--prefix");
  if (prefix) {
    if (prefix->find('/') != std::string::npos) throw UsageError("the prefix cannot contain '/'");
    naming.prefix = *prefix;
  }
  const std::string names = opts.Value("--names").value_or(prefix ? "numbered" : "card");
  if (names != "card" && names != "numbered")
    throw UsageError("--names must be card or numbered, not '" + names + "'");
  naming.cardNames = names == "card";
  naming.folderPerKind = opts.Flag("--by-kind");
  return naming;
}

RawScanSettings ScanSettingsFor(const OpenedSource& src, const Options& opts,
                                const std::filesystem::path& temp) {
  RawScanSettings settings;
  settings.drive = src.drive;
  settings.bytesPerSector = src.params.BytesPerSector;
  settings.totalSectors = src.params.TotalSectors;
  settings.totalBytes = src.params.TotalBytes;
  settings.prefix = NamingFor(opts).prefix;
  settings.cutAtEnd = !opts.Flag("--no-cut");
  settings.retryLimit = static_cast<uint32_t>(opts.Number("--retries", 1, kMaxRetries).value_or(1));
  settings.tempFolder = temp;
  settings.sectorsAtOnce = static_cast<uint32_t>(
      opts.Number("--sectors-at-once", 1, MaxSectorsAtOnce(settings.bytesPerSector))
          .value_or(DefaultSectorsAtOnce(settings.totalSectors, settings.bytesPerSector)));
  return settings;
}

size_t PrintProblems(const Report& report, bool withDamaged) {
  size_t lost = 0;
  for (const FileProblem& p : report.Problems()) {
    switch (p.kind) {
      case FileProblem::Kind::Lost:
        std::fprintf(stderr, "kestrella-cli: not saved: %s: %s\n", Printable(p.file).c_str(), p.reason.c_str());
        ++lost;
        break;
      case FileProblem::Kind::Damaged:
        if (withDamaged) std::fprintf(stderr, "kestrella-cli: %s: %s\n", Printable(p.file).c_str(), p.reason.c_str());
        break;
      case FileProblem::Kind::NotCopied:
        std::fprintf(stderr, "kestrella-cli: could not save %s as %s: %s (the found file stays at %s)\n",
                     Printable(p.file).c_str(), Printable(p.target).c_str(), p.reason.c_str(),
                     Printable(p.file).c_str());
        break;
    }
  }
  if (!report.AbortReason().empty())
    std::fprintf(stderr, "kestrella-cli: the run stopped early: %s\n", report.AbortReason().c_str());
  return lost;
}

OpenedSource OpenFatSourceFor(Engine& engine, const Options& opts, bool quiet) {
  const uint32_t partition = static_cast<uint32_t>(opts.Number("--partition", 1, 128).value_or(0));
  std::string note;
  OpenedSource src = OpenFatSource(engine, opts.Positional()[0], partition, &note);
  if (!note.empty() && !quiet) std::fprintf(stderr, "kestrella-cli: %s\n", note.c_str());
  return src;
}

std::filesystem::path RunLocationFor(const Options& opts, const std::string& dest) {
  const auto temp = opts.Value("--temp");
  if (temp && temp->empty()) throw UsageError("--temp needs a folder");
  return RunLocation(dest, temp.value_or(std::string()));
}

size_t SaveFoundFiles(FoundFileList& found, const std::string& dest, const SaveNaming& naming,
                      const Report& run, SaveReport* saved, bool quiet, const InterruptibleUi* terminal) {
  const int signalsBefore = terminal != nullptr ? terminal->Signals() : 0;
  const std::string runFolder = found.RunFolderPath().string();
  // Only a flush that takes a while is shown: on a local disk it is over
  // before a line would be worth drawing.
  ProgressLine flushing(quiet);
  uint64_t unwrittenAtFirst = 0;
  SaveReport report = found.SaveSelectedImages(dest, naming, [&](const SaveProgress& p) {
    if (p.flushing && p.flushSeconds >= 1.0) {
      unwrittenAtFirst = std::max(unwrittenAtFirst, p.unwritten);
      flushing.Update(unwrittenAtFirst - std::min(p.unwritten, unwrittenAtFirst), unwrittenAtFirst,
                      "writing the saved files to the drive, " + FormatByteSize(p.unwritten) + " to go");
    }
    return terminal == nullptr || terminal->Signals() == signalsBefore;
  });
  flushing.Finish();
  found.DeleteImageFiles();
  for (const std::string& saved : report.saved) std::printf("%s\n", Printable(saved).c_str());
  std::fflush(stdout);  // the list comes before the summary on a shared terminal or log
  PrintProblems(report.problems, false);
  // What the run kept only in part is told under the name it was saved as.
  // The index is made only when there is such a file: it costs as much
  // again as the report's lists.
  std::unordered_map<std::string_view, size_t> savedAs;
  for (const FileProblem& p : run.Problems()) {
    if (p.kind != FileProblem::Kind::Damaged) continue;
    if (savedAs.empty()) {
      // The last save of a found file stands, as it did when the list was
      // searched from front to back.
      for (size_t i = 0; i < report.savedFrom.size(); ++i) savedAs[report.savedFrom[i]] = i;
    }
    const auto it = savedAs.find(p.file);
    const std::string& name = it != savedAs.end() ? report.saved[it->second] : p.file;
    std::fprintf(stderr, "kestrella-cli: %s: %s\n", Printable(name).c_str(), p.reason.c_str());
  }
  if (!report.notTried.empty()) {
    std::fprintf(stderr,
                 "kestrella-cli: the save was stopped: %zu found files were not saved and stay in %s; "
                 "'kestrella-cli leftovers %s --save %s' saves them\n",
                 report.notTried.size(), runFolder.c_str(),
                 std::filesystem::path(runFolder).parent_path().c_str(), dest.c_str());
  }
  if (!report.flushError.empty()) {
    std::fprintf(stderr, "kestrella-cli: the drive of %s reported an error while the saved files were written "
                 "to it (%s); they may be damaged\n", dest.c_str(), report.flushError.c_str());
  }
  const size_t notSaved = found.ImageCount() - (report.flushError.empty() ? report.saved.size() : 0);
  // Handed over, not copied: with a card's worth of found files the report
  // is as large as the list of them.
  if (saved != nullptr) *saved = std::move(report);
  return notSaved;
}

void PrintSummary(const RunFacts& facts) {
  for (const std::string& line : SummaryLines(SummarizeRun(facts)))
    std::fprintf(stderr, "%s\n", Printable(line).c_str());
}

}  // namespace kestrella::cli
