#include "cli/runsupport.h"

#include <atomic>
#include <csignal>
#include <cstdio>

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

void CheckFolders(const std::filesystem::path& dest, const std::filesystem::path& temp,
                  const OpenedSource& source, bool force) {
  try {
    PrepareFolders(dest, temp, source.entry, force);
  } catch (const DestinationClashError& e) {
    throw CliError(std::string(e.what()) + " (or pass --force if you are sure)");
  }
}

RawScanSettings ScanSettingsFor(const OpenedSource& src, const Options& opts,
                                const std::string& prefix, const std::filesystem::path& temp) {
  RawScanSettings settings;
  settings.drive = src.drive;
  settings.bytesPerSector = src.params.BytesPerSector;
  settings.totalSectors = src.params.TotalSectors;
  settings.prefix = prefix;
  settings.retryLimit = static_cast<uint32_t>(opts.Number("--retries", 1, kMaxRetries).value_or(1));
  settings.tempFolder = temp;
  settings.sectorsAtOnce = static_cast<uint32_t>(
      opts.Number("--sectors-at-once", 1, MaxSectorsAtOnce(settings.bytesPerSector))
          .value_or(DefaultSectorsAtOnce(settings.totalSectors, settings.bytesPerSector)));
  return settings;
}

std::vector<FoundNote> PartlyWritten(const RawScan& scan) {
  std::vector<FoundNote> notes;
  for (const WriteFailure& f : scan.WriteFailures()) {
    if (f.partlyWritten) notes.push_back({f.path, "only partly written (" + f.reason + "): its end is missing"});
  }
  return notes;
}

void ReportUnwritten(const RawScan& scan) {
  for (const WriteFailure& f : scan.WriteFailures()) {
    if (!f.partlyWritten)
      std::fprintf(stderr, "kestrella-cli: could not write %s: %s\n", f.path.c_str(), f.reason.c_str());
  }
}

size_t ReportFolderRouteProblems(const std::vector<TSaveProblem>& problems,
                                 std::vector<FoundNote>& notes) {
  size_t failed = 0;
  for (const TSaveProblem& p : problems) {
    if (p.saved) {
      notes.push_back({p.target, p.reason});
    } else {
      std::fprintf(stderr, "kestrella-cli: could not write %s: %s\n", p.target.c_str(), p.reason.c_str());
      ++failed;
    }
  }
  return failed;
}

size_t SaveFoundFiles(FoundFileList& found, const std::string& dest, const std::string& prefix,
                      const std::vector<FoundNote>& notes) {
  const SaveReport report = found.SaveSelectedImages(dest, prefix);
  const std::vector<std::string> kept = found.DeleteImageFiles();
  for (const std::string& saved : report.saved) std::printf("%s\n", saved.c_str());
  std::fflush(stdout);  // the list comes before the summary on a shared terminal or log
  for (const SaveFailure& f : report.failed) {
    std::fprintf(stderr, "kestrella-cli: could not save %s as %s: %s (the found file stays at %s)\n",
                 f.source.c_str(), f.target.c_str(), f.reason.c_str(), f.source.c_str());
  }
  for (const FoundNote& note : notes) {
    std::string name = note.path;
    for (size_t i = 0; i < report.savedFrom.size(); ++i) {
      if (report.savedFrom[i] == note.path) name = report.saved[i];
    }
    std::fprintf(stderr, "kestrella-cli: %s: %s\n", name.c_str(), note.text.c_str());
  }
  return found.ImageCount() - report.saved.size();
}

}  // namespace kestrella::cli
