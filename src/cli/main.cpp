// kestrella-cli: photo recovery from memory cards and card images.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/runsupport.h"

namespace {

const char* const kMainHelp =
    "usage: kestrella-cli COMMAND [ARGS]\n"
    "\n"
    "Brings back photos, videos and sound files from camera memory cards, USB\n"
    "sticks, floppies and card images. The card is only ever read.\n"
    "\n"
    "commands:\n"
    "  drives                       list the drives that can be recovered\n"
    "  scan SOURCE -o DEST          recover by scanning every sector for file\n"
    "                               signatures\n"
    "  list SOURCE                  list the files and deleted files that a FAT\n"
    "                               card's folders still describe\n"
    "  save SOURCE -o DEST          save a FAT card's folder tree, deleted files\n"
    "                               included\n"
    "  analyze SOURCE               count deleted folders and pictures, propose\n"
    "                               a route\n"
    "  recover SOURCE -o DEST       analyse, then recover by the folder route or\n"
    "                               the raw scan\n"
    "  partitions SOURCE            the FAT drives of a disk, and lost ones\n"
    "  wipe SOURCE                  overwrite a card with zeros (destroys it all)\n"
    "  format SOURCE                put a fresh FAT file system on a card\n"
    "  leftovers [FOLDER] [--save DEST | --discard]\n"
    "                               found files earlier runs left in FOLDER\n"
    "                               (their DEST or --temp): list, save or delete\n"
    "\n"
    "kestrella-cli COMMAND --help shows a command's options.\n"
    "kestrella-cli --version shows the version.\n"
    "\n"
    "exit status: 0 when everything found was saved; 1 when the run ended but a\n"
    "file could not be written or saved (each one is named on stderr; found\n"
    "files that could not be saved stay in the run's folder: see leftovers)\n"
    "or the run was stopped; 2 for a bad command line, source or destination;\n"
    "128 + the signal's number (130 for Ctrl+C) when Ctrl+C, SIGTERM or SIGHUP\n"
    "stopped it: the run stops after the file in hand and saves what it found; a\n"
    "second signal stops that save too, leaving the rest in the run's folder.\n";

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "-h" || a == "--help") return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrella::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kMainHelp, stderr);
    return kExitUsage;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kMainHelp, stdout);
    return kExitOk;
  }
  if (command == "--version") {
    std::printf("kestrella-cli %s\n", KESTRELLA_VERSION);
    return kExitOk;
  }
  struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&);
    const char* help;
  };
  static const Command kCommands[] = {
      {"drives", RunDrives, kDrivesHelp},
      {"scan", RunScan, kScanHelp},
      {"list", RunList, kListHelp},
      {"save", RunSave, kSaveHelp},
      {"analyze", RunAnalyze, kAnalyzeHelp},
      {"recover", RunRecover, kRecoverHelp},
      {"partitions", RunPartitions, kPartitionsHelp},
      {"wipe", RunWipe, kWipeHelp},
      {"format", RunFormat, kFormatHelp},
      {"leftovers", RunLeftovers, kLeftoversHelp},
  };
  for (const Command& c : kCommands) {
    if (command != c.name) continue;
    if (WantsHelp(args)) {
      std::fputs(c.help, stdout);
      return kExitOk;
    }
    try {
      const int status = c.run(args);
      // Stopped by a signal: told as a shell tells of a program it ended,
      // though the command wound down and saved what it had.
      return ReceivedSignal() != 0 ? 128 + ReceivedSignal() : status;
    } catch (const UsageError& e) {
      std::fprintf(stderr, "kestrella-cli %s: %s\n\n%s", c.name, e.what(), c.help);
      return kExitUsage;
    } catch (const CliError& e) {
      std::fprintf(stderr, "kestrella-cli: %s\n", e.what());
      return kExitUsage;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kestrella-cli: %s\n", e.what());
      return kExitIncomplete;
    }
  }
  std::fprintf(stderr, "kestrella-cli: unknown command '%s'\n\n%s", command.c_str(), kMainHelp);
  return kExitUsage;
}
