// kestrella-cli analyze and recover: the whole recovery of the desktop
// application's Start button, from the command line.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>

#include "app/analysis.h"
#include "app/recoveryrun.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/runsupport.h"
#include "util/sizetext.h"

namespace kestrella::cli {

const char* const kAnalyzeHelp =
    "usage: kestrella-cli analyze SOURCE [--partition N]\n"
    "\n"
    "Counts the folders and the deleted pictures that the FAT file system of\n"
    "SOURCE still describes, and proposes how to recover: the folder route\n"
    "(deleted files, or a hunt for lost files) or the raw scan.\n"
    "\n"
    "options:\n"
    KESTRELLA_PARTITION_HELP;

const char* const kRecoverHelp =
    "usage: kestrella-cli recover SOURCE -o DEST [options]\n"
    "\n"
    "Analyses SOURCE, then recovers by the proposed route (or the one chosen):\n"
    "  folder  the deleted pictures its folders still describe, and with --lost\n"
    "          the pictures found in clusters no folder claims\n"
    "  scan    every sector is tested for picture signatures (kestrella-cli scan)\n"
    "Found files are written once, to a private folder of the run\n"
    "(.kestrella-XXXXXX in DEST, or in the --temp folder), then moved into DEST\n"
    "under their names on the card; DEST is flushed to its drive and the folder\n"
    "deleted. Files a run could not save stay there: see kestrella-cli leftovers.\n"
    "\n"
    "options:\n"
    "  -o, --output DEST      folder for the recovered files (created if missing)\n"
    "  --method M             auto (default: as proposed), folder or scan\n"
    "  --no-deleted           folder route: leave out the deleted files\n"
    "  --lost                 folder route: also hunt lost clusters\n"
    KESTRELLA_NAMING_HELP
    KESTRELLA_TEMP_HELP
    KESTRELLA_PARTITION_HELP
    "  --sectors-at-once N    scan route: sectors per read\n"
    "  --retries N            scan route: attempts on an unreadable sector (1-20)\n"
    "  --force                allow DEST or the temporary folder on the device\n"
    "                         being recovered\n"
    "  -q, --quiet            no progress and no summary\n"
    "\n"
    "Ctrl+C stops the run; what was found so far is still saved.\n";

namespace {

void PrintProposal(const TRouteProposal& p) {
  std::printf("Found %d deleted folders\n", p.Folders);
  std::printf("Found %d deleted files\n", p.Files);
  if (!p.FolderMethod) {
    std::printf("Proposed: the raw scan (Use scan method recover)\n");
  } else {
    std::printf("Proposed: the folder route (Use folder based recover)%s%s\n",
                p.RecoverDeletedFiles ? ", recovering the deleted files" : "",
                p.RecoverLostFiles ? ", looking for additional lost files" : "");
  }
}

}  // namespace

int RunAnalyze(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.withValue = {"--partition"};
  Options opts(args, spec);
  if (opts.Positional().size() != 1) throw UsageError("analyze needs exactly one SOURCE");
  InterruptibleUi terminal;
  Engine engine(terminal);
  const OpenedSource src = OpenFatSourceFor(engine, opts, false);
  TFrmFATScan driver(engine.Context());
  terminal.OnInterrupt([&driver] { driver.StopScan(); });
  const TRouteProposal p = AnalyzeDrive(driver, src.drive, [&] { return terminal.Interrupted(); });
  if (p.Cancelled) return kExitIncomplete;
  PrintProposal(p);
  return kExitOk;
}

int RunRecover(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.withValue = {"-o",       "--output", "--temp",          "--partition", "--method",
                    "--names",  "--prefix", "--sectors-at-once", "--retries"};
  spec.flags = {"-q", "--quiet", "--force", "--no-deleted", "--lost", "--by-kind", "--no-cut"};
  Options opts(args, spec);
  if (opts.Positional().size() != 1) throw UsageError("recover needs exactly one SOURCE");
  auto dest = opts.Value("-o") ? opts.Value("-o") : opts.Value("--output");
  if (!dest || dest->empty()) throw UsageError("recover needs a destination folder: -o DEST");
  const std::string method = opts.Value("--method").value_or("auto");
  if (method != "auto" && method != "folder" && method != "scan")
    throw UsageError("--method is auto, folder or scan, not '" + method + "'");
  const bool quiet = opts.Flag("-q") || opts.Flag("--quiet");
  const SaveNaming naming = NamingFor(opts);  // a bad value is an error before anything runs
  opts.Number("--retries", 1, kMaxRetries);  // a bad value is an error before anything runs

  InterruptibleUi terminal;
  Engine engine(terminal);
  const OpenedSource src = OpenFatSourceFor(engine, opts, quiet);
  TFrmFATScan driver(engine.Context());
  RawScan scan(engine.Context());
  FoundFileList found(engine.Context().files());
  TRecoveryRun run(driver, scan, found);
  terminal.OnInterrupt([&run] { run.Stop(); });
  const std::filesystem::path temp = RunLocationFor(opts, *dest);
  CheckFolders(engine, *dest, temp, src, opts.Flag("--force"));
  NoteLeftovers(temp);

  TRunChoice choice;
  if (method == "auto") {
    const TRouteProposal p = AnalyzeDrive(driver, src.drive, [&] { return terminal.Interrupted(); });
    if (p.Cancelled) return kExitIncomplete;
    if (!quiet) {
      std::fflush(stdout);
      PrintProposal(p);
      std::fflush(stdout);
    }
    choice.FolderMethod = p.FolderMethod;
    choice.RecoverDeleted = p.RecoverDeletedFiles;
    choice.RecoverLost = p.RecoverLostFiles;
  } else {
    choice.FolderMethod = method == "folder";
    choice.RecoverDeleted = true;
    choice.RecoverLost = false;
  }
  if (opts.Flag("--no-deleted")) choice.RecoverDeleted = false;
  if (opts.Flag("--lost")) choice.RecoverLost = true;

  const RawScanSettings settings = ScanSettingsFor(src, opts, temp);

  ProgressLine progress(quiet);
  int64_t maxPos = 0, cluster = 0;
  size_t foundCount = 0;
  driver.OnStartScanData = [&](int64_t, int64_t start, int64_t end, int32_t) {
    (void)start;
    (void)end;
    maxPos = driver.Max;  // both passes and the reserve for the hand-over
  };
  auto folderProgress = [&](int64_t pos) {
    char detail[128];
    std::snprintf(detail, sizeof detail, "cluster %lld, %zu found", static_cast<long long>(cluster),
                  foundCount);
    progress.Update(static_cast<uint64_t>(std::max<int64_t>(pos, 0)),
                    static_cast<uint64_t>(std::max<int64_t>(maxPos, 1)), detail);
  };
  driver.OnScanProgress = folderProgress;
  driver.OnScanClustorProgress = [&](int64_t c) { cluster = c; };
  scan.OnProgress = [&](const RawScanStatus& s) {
    char detail[160];
    std::snprintf(detail, sizeof detail, "sector %" PRIu64 " of %" PRIu64 ", %d found, %u read errors",
                  s.currentSector, s.totalSectors, s.imagesFound, s.readErrors);
    progress.Update(s.currentSector, s.totalSectors, detail);
  };
  // The folder route hands over the files its folders name before any pass
  // over the clusters reports: on a card with thousands of deleted photos
  // that takes a while, and the count is what there is to show of it.
  auto lastFoundShown = std::chrono::steady_clock::time_point{};
  run.OnFound = [&](const std::string&) {
    ++foundCount;
    if (!choice.FolderMethod || maxPos != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (foundCount > 1 && now - lastFoundShown < std::chrono::milliseconds(500)) return;
    lastFoundShown = now;
    progress.Update(0, 1, std::to_string(foundCount) + " found");
  };

  if (!quiet) {
    std::fprintf(stderr, "Recovering %s (%c:) by the %s into %s\n", src.entry.source.path.c_str(),
                 src.entry.Letter(), choice.FolderMethod ? "folder route" : "raw scan", dest->c_str());
  }
  const auto started = std::chrono::steady_clock::now();
  run.Run(choice, settings);
  progress.Finish();
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const size_t total = run.Found().ImageCount();
  const std::string runFolder = run.Found().RunFolderPath().string();  // gone once saved
  SaveReport saved;
  const size_t notSaved = SaveFoundFiles(run.Found(), *dest, naming, run.Problems(), &saved, quiet, &terminal);
  const size_t notWritten = PrintProblems(run.Problems(), false);
  if (!quiet) {
    std::fprintf(stderr,
                 "%s.\n"
                 "  files found:  %zu\n"
                 "  saved:        %zu into %s\n",
                 terminal.Interrupted() ? "Stopped" : "Finished", total, total - notSaved,
                 dest->c_str());
    if (!choice.FolderMethod) {
      const RawScanStatus& st = scan.Status();
      std::fprintf(stderr, "  read errors:  %u\n  bytes read:   %s in %.1f s\n", st.readErrors,
                   FormatByteSize(st.bytesRead).c_str(), elapsed);
    } else {
      if (notWritten > 0) std::fprintf(stderr, "  not written:  %zu\n", notWritten);
      std::fprintf(stderr, "  read errors:  %llu\n  time:         %.1f s\n",
                   static_cast<unsigned long long>(driver.ReadErrors()),
                   elapsed);
    }
    RunFacts facts;
    facts.choice = choice;
    facts.runProblems = &run.Problems();
    facts.found = &run.Found();
    facts.saves.push_back({*dest, std::move(saved)});
    facts.tempFolder = runFolder;
    PrintSummary(facts);
  }
  // A sector that could not be read may have held a photo: not complete.
  const uint64_t readErrors = choice.FolderMethod ? driver.ReadErrors() : scan.Status().readErrors;
  const bool complete = notSaved == 0 && notWritten == 0 && scan.Status().writeFailures == 0 &&
                        readErrors == 0 && run.Problems().AbortReason().empty() && !terminal.Interrupted();
  return complete ? kExitOk : kExitIncomplete;
}

}  // namespace kestrella::cli
