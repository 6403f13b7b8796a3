#include "app/runsummary.h"

#include <algorithm>
#include <map>

namespace kestrella {

namespace {

std::string Files(size_t n) { return std::to_string(n) + (n == 1 ? " file" : " files"); }

}  // namespace

bool MayHoldMore(const TRunChoice& choice) { return choice.FolderMethod && !choice.RecoverLost; }

RunSummary SummarizeRun(const RunFacts& facts) {
  RunSummary s;
  s.tempFolder = facts.tempFolder;
  s.discarded = facts.discarded;
  if (facts.runProblems != nullptr) {
    s.abortReason = facts.runProblems->AbortReason();
    s.damaged = facts.runProblems->Count(FileProblem::Kind::Damaged);
    for (const FileProblem& p : facts.runProblems->Problems())
      if (p.kind == FileProblem::Kind::Lost) s.failed.push_back(p);
  }
  // The last reason a save gave for a file stands: a later save into
  // another folder may have failed for another reason, or succeeded.
  std::map<std::string, FileProblem> lastFailure;
  for (const SaveAttempt& a : facts.saves) {
    if (!a.report.saved.empty()) s.saved.push_back({a.destination, a.report.saved.size()});
    if (!a.report.flushError.empty()) s.notFlushed.emplace_back(a.destination, a.report.flushError);
    for (const FileProblem& p : a.report.problems.Problems()) lastFailure[p.file] = p;
    for (const std::string& f : a.report.savedFrom) lastFailure.erase(f);
    s.notTried = a.report.notTried.size();
    for (const std::string& f : a.report.notTried) lastFailure.erase(f);
  }
  if (facts.found != nullptr) {
    const auto& files = facts.found->Files();
    s.found = files.size();
    for (const FoundFile& f : files) {
      if (!f.ticked && !facts.discarded) ++s.notChosen;
      if (f.keep) s.keptInTemp = true;
      if (f.saved) continue;
      const auto it = lastFailure.find(f.path);
      if (it != lastFailure.end()) s.failed.push_back(it->second);
    }
  }
  s.moreOnCard = MayHoldMore(facts.choice);
  return s;
}

std::vector<std::string> SummaryLines(const RunSummary& s) {
  std::vector<std::string> lines;
  lines.push_back("Found: " + Files(s.found));
  if (s.saved.empty()) lines.push_back("Saved: " + Files(0));
  for (const RunSummary::Saved& saved : s.saved)
    lines.push_back("Saved: " + Files(saved.count) + " into " + saved.destination);
  if (s.discarded) lines.push_back("Discarded: " + Files(s.found));
  else if (s.notChosen > 0) lines.push_back("Not chosen: " + Files(s.notChosen));
  if (s.damaged > 0) lines.push_back("Damaged: " + Files(s.damaged) + " (parts missing or filled with zeros)");
  if (!s.failed.empty()) {
    lines.push_back("Failed: " + Files(s.failed.size()));
    for (size_t i = 0; i < s.failed.size() && i < kListedFailures; ++i)
      lines.push_back("  " + Report::Describe(s.failed[i]));
    if (s.failed.size() > kListedFailures)
      lines.push_back("  ... and " + std::to_string(s.failed.size() - kListedFailures) + " more");
  }
  for (const auto& [folder, reason] : s.notFlushed)
    lines.push_back("Not safely written: the drive of " + folder + " reported an error (" + reason +
                    "); the files saved there may be damaged");
  if (s.notTried > 0) lines.push_back("Not saved, the save was stopped: " + Files(s.notTried));
  if (s.keptInTemp) lines.push_back("Left in the temporary folder: " + s.tempFolder);
  if (!s.abortReason.empty()) lines.push_back("The run stopped early: " + s.abortReason);
  if (s.moreOnCard) {
    lines.push_back(
        "More photos may be on the card: run again with \"Look for additional lost files\" or use the "
        "signature scan.");
  }
  return lines;
}

}  // namespace kestrella
