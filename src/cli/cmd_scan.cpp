// kestrella-cli scan: the scan route end to end, then the save step.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "app/foundfiles.h"
#include "app/rawscan.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/runsupport.h"
#include "cli/terminal.h"
#include "util/sizetext.h"

namespace kestrella::cli {

const char* const kScanHelp =
    "usage: kestrella-cli scan SOURCE -o DEST [options]\n"
    "\n"
    "Reads SOURCE sector by sector, ignoring its file system, and cuts a new file\n"
    "at every sector that begins a picture, sound, video or camera-raw file.\n"
    "Each file is cut where its data ends (a JPEG at its end-of-image marker, a\n"
    "PNG at its IEND chunk, ...); one whose end is not found runs to the next\n"
    "file found, at most to a size limit for its kind. Found files are written\n"
    "once, to a private folder of the run (.kestrella-XXXXXX in DEST, or in the\n"
    "--temp folder), then moved into DEST (names already in DEST are never\n"
    "replaced), DEST is flushed to its drive and the folder deleted. Files that\n"
    "could not be saved stay there: see kestrella-cli leftovers.\n"
    "\n"
    "SOURCE  a card image file, a block device such as /dev/sdb, or a drive\n"
    "        letter such as E: (see kestrella-cli drives). Only read, never written.\n"
    "\n"
    "options:\n"
    "  -o, --output DEST      folder for the recovered files (created if missing)\n"
    KESTRELLA_NAMING_HELP
    KESTRELLA_TEMP_HELP
    "  --sectors-at-once N    sectors per read (default: 1% of the drive, at most\n"
    "                         2,047,999 bytes' worth)\n"
    "  --retries N            attempts on an unreadable sector, 1 to 20 (default: 1)\n"
    "  --from SECTOR          begin at SECTOR, as to go on with a stopped scan from\n"
    "                         the sector it stopped at (default: 0)\n"
    "  --force                allow DEST or the temporary folder on the device\n"
    "                         being recovered\n"
    "  -q, --quiet            no progress and no summary\n"
    "\n"
    "Ctrl+C stops the scan; what was found so far is still saved.\n";

int RunScan(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.withValue = {"-o",       "--output",          "--temp",    "--names",
                    "--prefix", "--sectors-at-once", "--retries", "--from"};
  spec.flags = {"-q", "--quiet", "--force", "--by-kind", "--no-cut"};
  Options opts(args, spec);
  if (opts.Positional().size() != 1) throw UsageError("scan needs exactly one SOURCE");
  auto dest = opts.Value("-o") ? opts.Value("-o") : opts.Value("--output");
  if (!dest || dest->empty()) throw UsageError("scan needs a destination folder: -o DEST");
  const bool quiet = opts.Flag("-q") || opts.Flag("--quiet");
  const SaveNaming naming = NamingFor(opts);  // a bad value is an error before anything runs
  opts.Number("--retries", 1, kMaxRetries);  // a bad value is an error before anything runs

  InterruptibleUi terminal;
  Engine engine(terminal);
  RawScan scan(engine.Context());
  terminal.OnInterrupt([&scan] { scan.Stop(); });

  const OpenedSource src = OpenSource(engine, opts.Positional()[0]);
  const auto from = opts.Number(
      "--from", 0, static_cast<long long>(std::min<uint64_t>(src.params.TotalSectors, INT64_MAX)) - 1);
  const std::filesystem::path temp = RunLocationFor(opts, *dest);
  CheckFolders(engine, *dest, temp, src, opts.Flag("--force"));
  NoteLeftovers(temp);

  // Found files go into a private folder of this run.
  FoundFileList found(engine.Context().files());
  RawScanSettings settings = ScanSettingsFor(src, opts, found.OpenRunFolder(temp));
  settings.firstSector = static_cast<uint64_t>(from.value_or(0));

  if (!quiet) {
    std::fprintf(stderr, "Scanning %s (%c:, %s, %" PRIu64 " sectors of %u bytes) into %s\n",
                 src.entry.source.path.c_str(), src.entry.Letter(),
                 FormatByteSize(static_cast<uint64_t>(settings.totalSectors) * settings.bytesPerSector).c_str(),
                 settings.totalSectors, settings.bytesPerSector, dest->c_str());
    if (settings.firstSector != 0)
      std::fprintf(stderr, "Beginning at sector %" PRIu64 "\n", settings.firstSector);
  }

  ProgressLine progress(quiet);
  const auto started = std::chrono::steady_clock::now();
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  scan.OnProgress = [&](const RawScanStatus& s) {
    char detail[160];
    std::snprintf(detail, sizeof detail, "sector %" PRIu64 " of %" PRIu64 ", %d found, %u read errors",
                  s.currentSector, s.totalSectors, s.imagesFound, s.readErrors);
    progress.Update(s.currentSector, s.totalSectors, detail);
  };
  scan.OnFileClosed = [&](const std::string& path, const FoundOrigin& origin) {
    found.AddImage(path, origin);
  };

  scan.Run(settings);
  progress.Finish();
  const double elapsed = seconds();
  const RawScanStatus& st = scan.Status();

  const std::string runFolder = found.RunFolderPath().string();  // gone once saved
  SaveReport saved;
  const size_t notSaved = SaveFoundFiles(found, *dest, naming, scan.Problems(), &saved, quiet, &terminal);
  PrintProblems(scan.Problems(), false);
  if (!quiet) {
    const double mbps = elapsed > 0 ? static_cast<double>(st.bytesRead) / 1e6 / elapsed : 0.0;
    std::fprintf(stderr,
                 "%s at sector %" PRIu64 " of %" PRIu64 ".\n"
                 "  files found:  %d\n"
                 "  saved:        %zu into %s\n"
                 "  read errors:  %u\n"
                 "  bytes read:   %s in %.1f s (%.1f MB/s)\n",
                 terminal.Interrupted() ? "Stopped" : "Finished", st.currentSector, st.totalSectors,
                 st.imagesFound, found.ImageCount() - notSaved, dest->c_str(), st.readErrors,
                 FormatByteSize(st.bytesRead).c_str(), elapsed, mbps);
    if (st.writeFailures > 0) std::fprintf(stderr, "  not written:  %u\n", st.writeFailures);
    RunFacts facts;
    facts.choice.FolderMethod = false;
    facts.runProblems = &scan.Problems();
    facts.found = &found;
    facts.saves.push_back({*dest, std::move(saved)});
    facts.tempFolder = runFolder;
    PrintSummary(facts);
  }
  // A sector that could not be read may have held a photo: not complete.
  const bool complete = st.writeFailures == 0 && st.readErrors == 0 && notSaved == 0 &&
                        scan.AbortReason().empty() && !terminal.Interrupted();
  return complete ? kExitOk : kExitIncomplete;
}

}  // namespace kestrella::cli
