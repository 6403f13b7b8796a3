// The summary a run ends with, as both front ends print it: what was found,
// saved and not, where it went, and when to look further on the card.
#include <gtest/gtest.h>


#include "app/runsummary.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

using Strings = std::vector<std::string>;

const char* const kHint =
    "More photos may be on the card: run again with \"Look for additional lost files\" or use the "
    "signature scan.";

struct Case {
  const char* name;
  bool folderRoute, lostHunt;
  size_t found, failedSaves;  // the saves of the last ones fail
  Strings expected;
};

TEST(RunSummaryTest, LinesByRouteLostHuntAndFailedSave) {
  const std::string err = "No space left on device";
  const std::vector<Case> cases = {
      {"scan, all saved", false, false, 2, 0, {"Found: 2 files", "Saved: 2 files into /d"}},
      {"folder route without the hunt", true, false, 1, 0, {"Found: 1 file", "Saved: 1 file into /d", kHint}},
      {"folder route with the hunt", true, true, 1, 0, {"Found: 1 file", "Saved: 1 file into /d"}},
      {"nothing found without the hunt", true, false, 0, 0, {"Found: 0 files", "Saved: 0 files", kHint}},
      {"a failed save", false, false, 3, 1,
       {"Found: 3 files", "Saved: 2 files into /d", "Failed: 1 file",
        "  /t/f3.jpg: " + err + " (not copied to /d/image3.jpg)", "Left in the temporary folder: /t"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OutputFiles files;
    FoundFileList found(files);
    SaveAttempt save{"/d", {}};
    for (size_t n = 1; n <= c.found; ++n) {
      const std::string path = "/t/f" + std::to_string(n) + ".jpg", target = "/d/image" + std::to_string(n) + ".jpg";
      found.AddImage(path);
      const bool fails = n + c.failedSaves > c.found;
      (fails ? found.Image(n).keep : found.Image(n).saved) = true;
      if (fails) save.report.problems.Add(FileProblem::Kind::NotCopied, path, err, target);
      if (!fails) save.report.saved.push_back(target);
      if (!fails) save.report.savedFrom.push_back(path);
    }
    const Report run;
    const RunFacts facts{{c.folderRoute, true, c.lostHunt}, &run,
                         &found, {save}, false, "/t"};
    EXPECT_EQ(SummaryLines(SummarizeRun(facts)), c.expected);
  }
}

// A failure a second save into another folder mended is no failure; one
// that stayed is told with its last reason, after the run's lost files, and
// a long list is cut after twenty.
TEST(RunSummaryTest, RetriedSavesAndALongList) {
  OutputFiles files;
  FoundFileList found(files);
  SaveAttempt first{"/d", {}}, second{"/e", {{"/e/a"}, {"/t/a"}, {}, {}, 0, {}}};
  for (const char* f : {"/t/a", "/t/b"}) {
    found.AddImage(f);
    first.report.problems.Add(FileProblem::Kind::NotCopied, f, "Permission denied", "/d/x");
  }
  second.report.problems.Add(FileProblem::Kind::NotCopied, "/t/b", "Disk quota exceeded", "/e/b");
  found.Image(1).saved = true;
  found.Image(2).keep = true;
  Report run;
  for (int n = 0; n < 20; ++n) run.Add(FileProblem::Kind::Lost, test::Numbered("L", n), "full");
  RunFacts facts{{false, true, false}, &run, &found, {first, second}, false, "/t"};
  const Strings lines = SummaryLines(SummarizeRun(facts));
  ASSERT_EQ(lines.size(), 25u);
  EXPECT_EQ(lines[1], "Saved: 1 file into /e");
  EXPECT_EQ(lines[2], "Failed: 21 files");
  EXPECT_EQ(lines[3], "  L0: full (not saved)");
  EXPECT_EQ(SummarizeRun(facts).failed.back().reason, "Disk quota exceeded");
  EXPECT_EQ(lines[23], "  ... and 1 more");
  EXPECT_EQ(lines[24], "Left in the temporary folder: /t");
  facts.discarded = true;
  EXPECT_EQ(SummaryLines(SummarizeRun(facts))[2], "Discarded: 2 files");
}

}  // namespace
}  // namespace kestrella
