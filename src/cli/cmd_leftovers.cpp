// kestrella-cli leftovers: the found files that earlier runs left in the
// temporary location (a run that was killed, or whose save failed), listed,
// saved into a destination or deleted.
#include <cstdio>
#include <filesystem>

#include "app/foundfiles.h"
#include "app/runfolder.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/runsupport.h"

namespace kestrella::cli {

const char* const kLeftoversHelp =
    "usage: kestrella-cli leftovers [FOLDER] [--save DEST | --discard] [options]\n"
    "\n"
    "Every run keeps its found files in a private folder (.kestrella-XXXXXX in\n"
    "its destination, or in the folder given with --temp) until they are saved.\n"
    "A run that was stopped short (a crash, a kill, a power cut) or whose save\n"
    "failed leaves that folder behind. Without options, lists those folders of\n"
    "yours in FOLDER (default: the current folder) and how many found files each\n"
    "holds.\n"
    "\n"
    "options:\n"
    "  --save DEST            save them into DEST (created if missing) under the\n"
    "                         names they were found under; each folder is deleted\n"
    "                         once all its files are saved\n"
    "  --discard              delete them\n"
    "  --names, --prefix, --by-kind\n"
    "                         how saved files are named, as for recover\n";

int RunLeftovers(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.withValue = {"--save", "--names", "--prefix"};
  spec.flags = {"--discard", "--by-kind"};
  Options opts(args, spec);
  if (opts.Positional().size() > 1) throw UsageError("leftovers takes at most one FOLDER");
  const auto dest = opts.Value("--save");
  const bool discard = opts.Flag("--discard");
  if (dest && discard) throw UsageError("--save and --discard exclude each other");
  if (dest && dest->empty()) throw UsageError("--save needs a destination folder");
  const SaveNaming naming = NamingFor(opts);

  InterruptibleUi terminal;
  Engine engine(terminal);
  const std::filesystem::path temp = opts.Positional().empty() ? "." : opts.Positional()[0];
  const std::vector<LeftoverRun> runs = FindLeftoverRuns(temp);
  if (runs.empty()) {
    std::fprintf(stderr, "kestrella-cli: no found files of earlier runs in %s\n", temp.c_str());
    return kExitOk;
  }
  if (!dest && !discard) {
    for (const LeftoverRun& run : runs) std::printf("%s\t%zu files\n", run.folder.c_str(), run.files);
    return kExitOk;
  }
  size_t notDone = 0;
  if (discard) {
    for (const LeftoverRun& run : runs) {
      if (DiscardLeftoverRun(run.folder)) {
        std::fprintf(stderr, "kestrella-cli: deleted %s (%zu files)\n", run.folder.c_str(), run.files);
      } else {
        std::fprintf(stderr, "kestrella-cli: %s is in use by a run and was left alone\n",
                     run.folder.c_str());
        ++notDone;
      }
    }
    return notDone == 0 ? kExitOk : kExitIncomplete;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(*dest, ec)) {
    std::fprintf(stderr, "kestrella-cli: creating %s\n", dest->c_str());
    std::filesystem::create_directories(*dest, ec);
    if (ec) throw CliError("cannot create the destination folder " + *dest + ": " + ec.message());
  }
  for (const LeftoverRun& run : runs) {
    if (terminal.Interrupted()) break;  // the rest stay for another time
    FoundFileList found(engine.Context().files());
    if (!LoadLeftoverRun(run.folder, found)) {
      std::fprintf(stderr, "kestrella-cli: %s is in use by a run and was left alone\n",
                   run.folder.c_str());
      ++notDone;
      continue;
    }
    notDone += SaveFoundFiles(found, *dest, naming, Report{}, nullptr, false, &terminal);
  }
  return notDone == 0 ? kExitOk : kExitIncomplete;
}

}  // namespace kestrella::cli
