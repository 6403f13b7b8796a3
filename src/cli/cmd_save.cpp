// kestrella-cli save: copies what the folders of a FAT card describe, deleted
// files included, into a destination folder.
#include <cstdio>
#include <optional>

#include "app/mountedcard.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/runsupport.h"
#include "cli/terminal.h"

namespace kestrella::cli {

const char* const kSaveHelp =
    "usage: kestrella-cli save SOURCE -o DEST [--deleted-only] [--overwrite ask|all|never]\n"
    "                         [--partition N]\n"
    "\n"
    "Mounts the FAT file system of SOURCE and saves its whole folder tree into\n"
    "DEST/Root, deleted files included, reading each file along its cluster\n"
    "chain (or, for a deleted file whose chain was erased, along the free\n"
    "clusters that follow its first one).\n"
    "\n"
    "options:\n"
    "  -o, --output DEST     destination folder (created if missing)\n"
    "  --deleted-only        save the deleted files only (folders are kept for\n"
    "                        their place in the tree)\n"
    "  --overwrite MODE      when a file or folder of that name exists in DEST:\n"
    "                        ask (default; on a terminal), all (replace),\n"
    "                        never (keep the existing one)\n"
    "  --force                allow DEST on the device being recovered\n"
    KESTRELLA_PARTITION_HELP;

namespace {

// Answers every replace question the same way, for scripts (or asks on the
// terminal without an answer given); Ctrl+C stops the save.
class AnsweringUi : public InterruptibleUi {
 public:
  explicit AnsweringUi(std::optional<MsgResult> answer) : answer_(answer) {}
  MsgResult MessageBox(std::string_view text, std::string_view caption, MsgIcon icon,
                       MsgButtons buttons) override {
    if (buttons == MsgButtons::YesNoAll && answer_) return *answer_;
    return InterruptibleUi::MessageBox(text, caption, icon, buttons);
  }

 private:
  std::optional<MsgResult> answer_;
};

}  // namespace

int RunSave(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.withValue = {"-o", "--output", "--overwrite", "--partition"};
  spec.flags = {"--deleted-only", "--force"};
  Options opts(args, spec);
  if (opts.Positional().size() != 1) throw UsageError("save needs exactly one SOURCE");
  auto dest = opts.Value("-o") ? opts.Value("-o") : opts.Value("--output");
  if (!dest || dest->empty()) throw UsageError("save needs a destination folder: -o DEST");
  const std::string mode = opts.Value("--overwrite").value_or("ask");
  if (mode != "ask" && mode != "all" && mode != "never")
    throw UsageError("--overwrite is ask, all or never, not '" + mode + "'");

  AnsweringUi terminal(mode == "never" ? std::optional<MsgResult>(MsgResult::No) : std::nullopt);
  Engine engine(terminal);

  MountedCard card(engine, OpenFatSourceFor(engine, opts, false));
  // A file cut short by the stop is removed, never left under its name.
  terminal.OnInterrupt([&card] { card.Stop(); });
  CheckFolders(engine, *dest, *dest, card.Source(), opts.Flag("--force"));

  const bool deletedOnly = opts.Flag("--deleted-only");
  const TreeSave saved = card.SaveTree(*dest, deletedOnly, mode == "all");
  const bool ok = saved.completed;
  const size_t notWritten = PrintProblems(saved.problems, true);
  std::fprintf(stderr, "%s %s into %s/%s\n", ok ? "Saved" : "Stopped saving",
               deletedOnly ? "the deleted files" : "the folder tree", dest->c_str(),
               saved.folder.c_str());
  if (notWritten > 0) std::fprintf(stderr, "  not written:  %zu\n", notWritten);
  return ok && notWritten == 0 ? kExitOk : kExitIncomplete;
}

}  // namespace kestrella::cli
