// kestrella-cli wipe and format: the two card utilities.
#include <cinttypes>
#include <cstdio>

#include "app/cardtools.h"
#include "app/rawscan.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/runsupport.h"

namespace kestrella::cli {

const char* const kWipeHelp =
    "usage: kestrella-cli wipe SOURCE [--yes] [--sectors-at-once N] [-q]\n"
    "\n"
    "Overwrites every sector of a removable drive or card image with zeros, after\n"
    "asking, and then offers to format it. Fixed, remote and optical drives and\n"
    "mounted drives are refused. THIS DESTROYS EVERYTHING ON THE CARD.\n"
    "\n"
    "options:\n"
    "  --yes                  answer yes to the wipe question (and no to the\n"
    "                         format question) without asking\n"
    "  --sectors-at-once N    sectors per write (default: 1% of the drive)\n"
    "  -q, --quiet            no progress\n";

const char* const kFormatHelp =
    "usage: kestrella-cli format SOURCE [--fat 12|16|32] [--label NAME] [--cluster-size BYTES]\n"
    "\n"
    "Puts a fresh, empty FAT file system on a removable drive or card image\n"
    "(with mkfs.fat). Fixed, remote and optical drives and mounted drives are\n"
    "refused. Recover first: a format makes the old files harder to find.\n";

namespace {

// With --yes: answers the wipe question yes and the format question no.
// Ctrl+C still stops the wipe.
class ScriptedAnswers : public InterruptibleUi {
 public:
  explicit ScriptedAnswers(bool answer) : answer_(answer) {}
  MsgResult MessageBox(std::string_view text, std::string_view caption, MsgIcon icon,
                       MsgButtons buttons) override {
    if (answer_ && buttons == MsgButtons::YesNo) {
      const bool wipe = text.rfind("Wipe every sector of ", 0) == 0;
      std::fprintf(stderr, "%s %s\n", std::string(text).c_str(), wipe ? "yes" : "no");
      return wipe ? MsgResult::Yes : MsgResult::No;
    }
    return InterruptibleUi::MessageBox(text, caption, icon, buttons);
  }

 private:
  bool answer_;
};

}  // namespace

int RunWipe(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.withValue = {"--sectors-at-once"};
  spec.flags = {"--yes", "-q", "--quiet"};
  Options opts(args, spec);
  if (opts.Positional().size() != 1) throw UsageError("wipe needs exactly one SOURCE");
  const bool quiet = opts.Flag("-q") || opts.Flag("--quiet");
  ScriptedAnswers terminal(opts.Flag("--yes"));
  Engine engine(terminal);
  const OpenedSource src = OpenSource(engine, opts.Positional()[0]);
  const uint32_t block = static_cast<uint32_t>(
      opts.Number("--sectors-at-once", 1, MaxSectorsAtOnce(src.params.BytesPerSector))
          .value_or(DefaultSectorsAtOnce(src.params.TotalSectors, src.params.BytesPerSector)));

  TWipe wipe(engine.Context());
  terminal.OnInterrupt([&wipe] { wipe.Stop(); });
  ProgressLine progress(quiet);
  uint64_t last = 0;
  bool started = false;
  wipe.OnProgress = [&](uint64_t pos, uint64_t max) {
    // The gauge moves per sector; the terminal only needs a line now and then
    // (and not the gauge's return to 0 at the end).
    if (!started || pos >= last + 4096) {
      started = true;
      last = pos;
      progress.Update(pos, max, "sector " + std::to_string(pos) + " of " + std::to_string(max));
    }
  };
  const TWipeResult r = wipe.WipeDrive(src.entry, src.params, block);
  progress.Finish();
  if (!r.ran) return kExitUsage;
  // Stopped part way, or sectors that kept their old data: the same words as the window's.
  if (const std::string outcome = WipeOutcome(src.entry, src.params, r); !outcome.empty())
    std::fprintf(stderr, "kestrella-cli: %s\n", outcome.c_str());
  if (!quiet)
    std::fprintf(stderr, "Wiped %" PRIu64 " of %" PRIu64 " sectors.\n", r.sectorsWritten,
                 src.params.TotalSectors);
  if (terminal.MessageBox(FormatAfterWipeQuestion(src.entry), "Confirm", MsgIcon::Question,
                          MsgButtons::YesNo) == MsgResult::Yes) {
    std::string out;
    if (FormatDrive(engine.Context(), src.entry, {}, &out) != 0) std::fputs(out.c_str(), stderr);
  }
  return r.failedWrites == 0 && r.sectorsWritten == src.params.TotalSectors ? kExitOk : kExitIncomplete;
}

int RunFormat(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.withValue = {"--fat", "--label", "--cluster-size"};
  Options opts(args, spec);
  if (opts.Positional().size() != 1) throw UsageError("format needs exactly one SOURCE");
  TFormatOptions options;
  if (auto fat = opts.Number("--fat", 12, 32)) {
    if (*fat != 12 && *fat != 16 && *fat != 32) throw UsageError("--fat is 12, 16 or 32");
    options.fatBits = static_cast<int>(*fat);
  }
  options.label = opts.Value("--label").value_or("");
  if (options.label.size() > 11) throw UsageError("--label holds at most 11 characters");
  options.clusterBytes = static_cast<uint32_t>(opts.Number("--cluster-size", 512, 65536).value_or(0));
  TerminalUi terminal;
  Engine engine(terminal);
  const OpenedSource src = OpenSource(engine, opts.Positional()[0]);
  std::string out;
  const int status = FormatDrive(engine.Context(), src.entry, options, &out);
  if (status == -1) return kExitUsage;
  if (status != 0) {
    std::fputs(out.c_str(), stderr);
    return kExitIncomplete;
  }
  std::fprintf(stderr, "Formatted %s.\n", src.entry.source.path.c_str());
  return kExitOk;
}

}  // namespace kestrella::cli
