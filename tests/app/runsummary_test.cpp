// The summary a run ends with, as both front ends print it: what was found,
// saved and not, where it went, and when to look further on the card.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/runsummary.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

using Strings = std::vector<std::string>;

const char* const kHint =
    "More photos may be on the card: run again with \"Look for additional lost files\" or use the "
    "signature scan.";

TRouteProposal Counted(int32_t deletedFiles) {
  TRouteProposal p;
  p.Files = deletedFiles;
  p.RecoverDeletedFiles = deletedFiles != 0;
  p.RecoverLostFiles = deletedFiles == 0;
  return p;
}

struct Case {
  const char* name;
  bool folderRoute;
  bool lostHunt;
  std::optional<TRouteProposal> proposal;  // none: the route was given
  size_t found;
  size_t failedSaves;  // the last ones found
  Strings expected;
};

TEST(RunSummaryTest, LinesByRouteLostHuntAndFailedSave) {
  const std::string err = "No space left on device";
  const std::vector<Case> cases = {
      {"scan, all saved", false, false, Counted(0), 2, 0, {"Found: 2 files", "Saved: 2 files into /d"}},
      {"folder route, no deleted file counted, no hunt", true, false, Counted(0), 1, 0,
       {"Found: 1 file", "Saved: 1 file into /d", kHint}},
      {"folder route with the hunt", true, true, Counted(0), 1, 0, {"Found: 1 file", "Saved: 1 file into /d"}},
      {"fewer came back than were counted", true, false, Counted(3), 2, 0,
       {"Found: 2 files", "Saved: 2 files into /d", kHint}},
      {"all counted came back", true, false, Counted(2), 2, 0, {"Found: 2 files", "Saved: 2 files into /d"}},
      {"route given, no analysis", true, false, std::nullopt, 0, 0, {"Found: 0 files", "Saved: 0 files"}},
      {"a failed save", false, false, std::nullopt, 3, 1,
       {"Found: 3 files", "Saved: 2 files into /d", "Failed: 1 file",
        "  /t/f3.jpg: " + err + " (not copied to /d/image3.jpg)", "Left in the temporary folder: /t"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OutputFiles files;
    FoundFileList found(files);
    SaveAttempt save{"/d", {}};
    for (size_t n = 1; n <= c.found; ++n) {
      const std::string path = "/t/f" + std::to_string(n) + ".jpg";
      found.AddImage(path);
      if (n + c.failedSaves > c.found) {
        found.Image(n).keep = true;
        save.report.problems.Add(FileProblem::Kind::NotCopied, path, err, "/d/image" + std::to_string(n) + ".jpg");
      } else {
        found.Image(n).saved = true;
        save.report.saved.push_back("/d/image" + std::to_string(n) + ".jpg");
        save.report.savedFrom.push_back(path);
      }
    }
    Report run;
    RunFacts facts;
    facts.choice = {c.folderRoute, true, c.lostHunt};
    facts.proposal = c.proposal ? &*c.proposal : nullptr;
    facts.runProblems = &run;
    facts.found = &found;
    facts.saves = {save};
    facts.tempFolder = "/t";
    EXPECT_EQ(SummaryLines(SummarizeRun(facts)), c.expected);
  }
}

// A failure the second save into another folder mended is no failure; one
// that stayed is told with its last reason. Lost and damaged files of the
// run count too, and a long list is cut after twenty.
TEST(RunSummaryTest, RetriedSavesRunProblemsAndALongList) {
  test::TempDir temp;
  OutputFiles files;
  FoundFileList found(files);
  for (int n = 1; n <= 3; ++n) found.AddImage((temp / ("f" + std::to_string(n))).string());
  const std::string f1 = found.Image(1).path, f2 = found.Image(2).path;
  found.Image(3).ticked = false;
  SaveAttempt first{"/d", {}}, second{"/e", {}};
  first.report.problems.Add(FileProblem::Kind::NotCopied, f1, "Permission denied", "/d/a");
  first.report.problems.Add(FileProblem::Kind::NotCopied, f2, "Permission denied", "/d/b");
  second.report.saved = {"/e/a"};
  second.report.savedFrom = {f1};
  second.report.problems.Add(FileProblem::Kind::NotCopied, f2, "Disk quota exceeded", "/e/b");
  found.Image(1).saved = true;
  found.Image(2).keep = true;
  Report run;
  run.Add(FileProblem::Kind::Damaged, f1, "2 unreadable sectors");
  for (int n = 0; n < 21; ++n) run.Add(FileProblem::Kind::Lost, "LOST" + std::to_string(n) + ".JPG", "full");
  RunFacts facts;
  facts.runProblems = &run;
  facts.found = &found;
  facts.saves = {first, second};
  facts.tempFolder = temp.path().string();
  const RunSummary s = SummarizeRun(facts);
  EXPECT_EQ(s.failed.size(), 22u);
  EXPECT_EQ(s.failed.back().reason, "Disk quota exceeded");
  const Strings lines = SummaryLines(s);
  ASSERT_EQ(lines.size(), 2u + 2u + 1u + 20u + 1u + 1u);
  EXPECT_EQ(lines[1], "Saved: 1 file into /e");
  EXPECT_EQ(lines[2], "Not chosen: 1 file");
  EXPECT_EQ(lines[3], "Damaged: 1 file (parts missing or filled with zeros)");
  EXPECT_EQ(lines[4], "Failed: 22 files");
  EXPECT_EQ(lines[5], "  LOST0.JPG: full (not saved)");
  EXPECT_EQ(lines[25], "  ... and 2 more");
  EXPECT_EQ(lines[26], "Left in the temporary folder: " + temp.path().string());

  facts.discarded = true;
  EXPECT_EQ(SummaryLines(SummarizeRun(facts))[2], "Discarded: 3 files");
}

}  // namespace
}  // namespace kestrella
