// kestrella-cli list: what the folders of a FAT card still describe.
#include <cstdio>

#include "app/mountedcard.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/runsupport.h"
#include "cli/terminal.h"

namespace kestrella::cli {

const char* const kListHelp =
    "usage: kestrella-cli list SOURCE [--deleted-only] [--partition N]\n"
    "\n"
    "Mounts the FAT12, FAT16 or FAT32 file system of SOURCE and lists its\n"
    "\"Root\" tree (what its folders hold) and its \"Deleted\" tree (the deleted\n"
    "files and folders they still describe): path, size, first cluster, date\n"
    "and time written. A deleted entry is marked with its condition:\n"
    "  1  its first cluster is still free: it can most likely be recovered\n"
    "  2  its first cluster was used again: it may be damaged\n"
    "\n"
    "SOURCE  a card image file, a block device, or a drive letter such as E:.\n"
    "\n"
    "options:\n"
    "  --deleted-only         list the Deleted tree only\n"
    KESTRELLA_PARTITION_HELP;

namespace {

std::string Mark(const TreeRow& row) {
  if (!row.deleted) return "";
  return "  deleted, condition " + std::to_string(row.condition);
}

void PrintTree(const std::string& name, const std::vector<TreeRow>& rows) {
  std::printf("%s\n", Printable(name).c_str());
  for (const TreeRow& row : rows) {
    const std::string indent(static_cast<size_t>(row.depth) * 2, ' ');
    if (row.directory) {
      std::printf("%s%s/  cluster %u%s\n", indent.c_str(), Printable(row.path).c_str(),
                  row.firstCluster, Mark(row).c_str());
    } else {
      std::printf("%s%s  %u bytes  cluster %u  %s%s\n", indent.c_str(), Printable(row.path).c_str(),
                  row.size, row.firstCluster, row.written.c_str(), Mark(row).c_str());
    }
  }
  if (rows.empty()) std::printf("  (empty)\n");
}

}  // namespace

int RunList(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.withValue = {"--partition"};
  spec.flags = {"--deleted-only"};
  Options opts(args, spec);
  if (opts.Positional().size() != 1) throw UsageError("list needs exactly one SOURCE");
  TerminalUi terminal;
  Engine engine(terminal);
  MountedCard card(engine, OpenFatSourceFor(engine, opts, false));
  const CardSummary s = card.Summary();
  std::printf("%s: %s volume \"%s\", %u clusters of %u bytes%s\n",
              card.Source().entry.source.path.c_str(), s.fatType.c_str(),
              Printable(s.label).c_str(), s.clusters, s.bytesPerCluster,
              s.tableEmpty ? " (allocation table empty: files read as consecutive clusters)" : "");
  if (!opts.Flag("--deleted-only")) PrintTree("Root", card.ListRoot());
  PrintTree("Deleted", card.ListDeleted());
  const Report& cut = card.ListProblems();
  for (const FileProblem& p : cut.Problems())
    std::fprintf(stderr, "kestrella-cli: not listed: %s: %s\n", Printable(p.file).c_str(), p.reason.c_str());
  return cut.Clean() ? kExitOk : kExitIncomplete;
}

}  // namespace kestrella::cli
