// kestrella-cli partitions: the FAT drives on a whole disk or card image, and
// the search for volumes no partition table lists any more.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/partitions.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/runsupport.h"

namespace kestrella::cli {

const char* const kPartitionsHelp =
    "usage: kestrella-cli partitions SOURCE [--lost-drives FIRST LAST]\n"
    "\n"
    "Lists the FAT drives of SOURCE: the partitions of its partition table\n"
    "(extended partitions followed), or the one volume of a card without a table.\n"
    "With --lost-drives, sectors FIRST to LAST are also searched for boot sectors\n"
    "of volumes no table lists (\"(lost)\"), and for volumes whose boot sector is\n"
    "gone, rebuilt from their allocation tables and folders (\"without BootSec\").\n";

namespace {

void PrintDrive(const DriveRow& drive) {
  std::printf("  start %10u  sectors %10u  %-6s %s\n", drive.start, drive.sectors,
              drive.fatType.c_str(), drive.name.c_str());
}

}  // namespace

int RunPartitions(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.withValue = {"--lost-drives"};
  Options opts(args, spec);
  // --lost-drives takes two values: the second arrives as a positional one.
  std::vector<std::string> positional = opts.Positional();
  std::optional<long long> first, last;
  if (auto v = opts.Value("--lost-drives")) {
    if (positional.size() != 2) throw UsageError("--lost-drives needs FIRST and LAST");
    try {
      first = std::stoll(*v);
      last = std::stoll(positional[1]);
    } catch (...) {
      throw UsageError("--lost-drives needs two sector numbers");
    }
    if (*first < 0 || *last < *first || *last > UINT32_MAX)
      throw UsageError("--lost-drives needs 0 <= FIRST <= LAST");
    positional.pop_back();
  }
  if (positional.size() != 1) throw UsageError("partitions needs exactly one SOURCE");
  InterruptibleUi terminal;
  Engine engine(terminal);
  const OpenedSource src = OpenSource(engine, positional[0]);
  DiskSurvey survey(engine, src);
  terminal.OnInterrupt([&survey] { survey.Stop(); });
  const std::vector<DriveRow> drives = survey.Drives();
  std::printf("%s: %s\n", src.entry.source.path.c_str(),
              survey.Partitioned() ? "partition table" : "one volume, no partition table");
  for (const DriveRow& d : drives) PrintDrive(d);
  if (drives.empty()) std::printf("  (no FAT drive)\n");
  if (first) {
    std::fprintf(stderr, "Searching sectors %lld to %lld for lost drives...\n", *first, *last);
    ProgressLine progress(false);
    survey.OnProgress = [&](uint32_t sector) {
      const std::string detail = "sector " + std::to_string(sector) + " of " + std::to_string(*last);
      progress.Update(sector - static_cast<uint64_t>(*first), static_cast<uint64_t>(*last - *first + 1),
                      detail);
    };
    const std::vector<DriveRow> lost =
        survey.FindLostDrives(static_cast<uint32_t>(*first), static_cast<uint32_t>(*last));
    progress.Finish();
    std::printf("lost drives found: %zu\n", lost.size());
    for (const DriveRow& d : lost) PrintDrive(d);
  }
  return terminal.Interrupted() ? kExitIncomplete : kExitOk;
}

}  // namespace kestrella::cli
