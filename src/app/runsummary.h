// What a recovery run ends with, told the same way by the window and by
// kestrella-cli: how many files were found, saved, damaged and not saved
// (with the reasons), where they went, and whether the card may hold more.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "app/analysis.h"
#include "app/foundfiles.h"
#include "app/recoveryrun.h"
#include "util/report.h"

namespace kestrella {

// One save into one folder: the save step saves again into another folder
// what a failed save left behind.
struct SaveAttempt {
  std::string destination;
  SaveReport report;
};

struct RunSummary {
  size_t found = 0;
  struct Saved {
    std::string destination;
    size_t count = 0;
  };
  std::vector<Saved> saved;  // per folder, in the order they were saved into
  size_t damaged = 0;        // found with parts missing or filled with zeros
  // Files the run could not write into the temporary folder, and found
  // files no save brought into a destination (the last reason given).
  std::vector<FileProblem> failed;
  size_t notTried = 0;     // the user stopped the save before these
  size_t notChosen = 0;    // unticked in the preview
  bool discarded = false;  // the user chose to discard the found files
  std::string tempFolder;  // where the files not saved stay
  bool keptInTemp = false; // some found files stay there
  std::string abortReason;
  // Saves whose files could not be flushed to their drive: the folder and
  // the reason.
  std::vector<std::pair<std::string, std::string>> notFlushed;
  // The folder route ran without the lost-file hunt although the analysis
  // suggests the card holds pictures no folder names any more.
  bool moreOnCard = false;
};

// The facts of a finished run.
struct RunFacts {
  TRunChoice choice;
  const Report* runProblems = nullptr;  // the route's report
  const FoundFileList* found = nullptr;
  std::vector<SaveAttempt> saves;
  bool discarded = false;
  std::string tempFolder;
};

// Whether the hint to look further belongs under a run: after the folder
// route without the hunt for lost clusters. That route reads only the
// clusters some entry still names; photos whose entries were overwritten,
// or a card that was formatted, leave theirs in clusters nobody searched.
// The analysis cannot tell how many those hold without searching them, so
// the hint says "may".
bool MayHoldMore(const TRunChoice& choice);

RunSummary SummarizeRun(const RunFacts& facts);

// The summary as lines of plain text, as both front ends show it. At most
// kListedFailures failed files are named, then "... and N more".
constexpr size_t kListedFailures = 20;
std::vector<std::string> SummaryLines(const RunSummary& summary);

}  // namespace kestrella
