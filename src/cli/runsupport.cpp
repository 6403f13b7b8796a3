#include "cli/runsupport.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace kestrella::cli {

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void InterruptHandler(int) {
  g_interrupted = true;
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace

InterruptibleUi::InterruptibleUi() {
  g_interrupted = false;
  std::signal(SIGINT, InterruptHandler);
}

InterruptibleUi::~InterruptibleUi() { std::signal(SIGINT, SIG_DFL); }

void InterruptibleUi::ProcessMessages() {
  if (!stopped_ && g_interrupted.load(std::memory_order_relaxed)) {
    stopped_ = true;
    if (stop_) stop_();
  }
}

bool InterruptibleUi::Interrupted() const { return g_interrupted.load(); }

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
                 "%s (%zu files); 'kestrella-cli leftovers' saves or deletes them\n",
                 run.folder.c_str(), run.files);
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
        std::fprintf(stderr, "kestrella-cli: could not write %s: %s\n", p.file.c_str(), p.reason.c_str());
        ++lost;
        break;
      case FileProblem::Kind::Damaged:
        if (withDamaged) std::fprintf(stderr, "kestrella-cli: %s: %s\n", p.file.c_str(), p.reason.c_str());
        break;
      case FileProblem::Kind::NotCopied:
        std::fprintf(stderr, "kestrella-cli: could not save %s as %s: %s (the found file stays at %s)\n",
                     p.file.c_str(), p.target.c_str(), p.reason.c_str(), p.file.c_str());
        break;
    }
  }
  if (!report.AbortReason().empty())
    std::fprintf(stderr, "kestrella-cli: the run stopped early: %s\n", report.AbortReason().c_str());
  return lost;
}

size_t SaveFoundFiles(FoundFileList& found, const std::string& dest, const SaveNaming& naming,
                      const Report& run, SaveReport* saved) {
  SaveReport report = found.SaveSelectedImages(dest, naming);
  found.DeleteImageFiles();
  for (const std::string& saved : report.saved) std::printf("%s\n", saved.c_str());
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
    std::fprintf(stderr, "kestrella-cli: %s: %s\n", name.c_str(), p.reason.c_str());
  }
  const size_t notSaved = found.ImageCount() - report.saved.size();
  // Handed over, not copied: with a card's worth of found files the report
  // is as large as the list of them.
  if (saved != nullptr) *saved = std::move(report);
  return notSaved;
}

void PrintSummary(const RunFacts& facts) {
  for (const std::string& line : SummaryLines(SummarizeRun(facts)))
    std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace kestrella::cli
