// The run's private folder, hidden in the destination: made 0700 on both
// routes, its files moved into place by the save (each byte written once),
// gone once its files are saved or discarded, left with its manifest when a
// save failed, and then offered again with the names the files were found
// under.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/recoveryrun.h"
#include "app/runfolder.h"
#include "fat/fatread_testcard.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella::test {
namespace {

mode_t ModeOf(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

enum class End { Saved, Discarded, SaveFailed };

struct RunCase {
  const char* name;
  bool folderRoute;
  End end;
};

class RunFolderTest : public ::testing::TestWithParam<RunCase> {
 protected:
  void SetUp() override {
    engine_.ui.temp = dir_ / "tmp";
    fs::create_directories(engine_.ui.temp);
    fs::create_directories(dest_);
    // Two photos deleted from the card's root.
    card_ = std::make_unique<FatCard>(16, 16384, 4);
    card_->Copy(DataPhoto("Nikon_D70.jpg"), "P0.JPG");
    card_->Copy(DataPhoto("Canon_40D.jpg"), "P1.JPG");
    card_->Delete("P0.JPG");
    card_->Delete("P1.JPG");
    settings_.drive = engine_.context.drives().AddImage(card_->image().string());
    settings_.totalSectors = static_cast<uint32_t>(fs::file_size(card_->image()) / 512);
    settings_.sectorsAtOnce = 64;
    settings_.tempFolder = RunLocation(dest_, {});
    engine_.files.FailCreate(dest_.string(), 0);  // counts what is written there
  }

  // The names the save step would give, in list order.
  static std::vector<std::string> Names(const FoundFileList& list) {
    std::vector<std::string> names;
    for (const FoundFile& f : list.Files()) names.push_back(SavedName(f.origin, f.path, false).string());
    return names;
  }

  TempDir dir_;
  fs::path dest_ = dir_ / "dest";
  TestEngine engine_;
  std::unique_ptr<FatCard> card_;
  RawScanSettings settings_;
};

TEST_P(RunFolderTest, PrivateWhileItRunsGoneWhenDoneKeptWhenASaveFailed) {
  const RunCase c = GetParam();
  FoundFileList found(engine_.files);
  TFrmFATScan driver(engine_.context);
  RawScan scan(engine_.context);
  TRecoveryRun run(driver, scan, found);
  TRunChoice choice;
  choice.FolderMethod = c.folderRoute;
  run.Run(choice, settings_);

  const fs::path folder = found.RunFolderPath();
  ASSERT_EQ(folder.parent_path(), dest_);
  EXPECT_EQ(ModeOf(folder), 0700u);
  ASSERT_EQ(found.ImageCount(), 2u);
  uint64_t foundBytes = 0;
  for (const FoundFile& f : found.Files()) {
    EXPECT_EQ(fs::path(f.path).parent_path(), folder);
    foundBytes += fs::file_size(f.path);
  }
  // A run going on is never taken for a leftover.
  EXPECT_TRUE(FindLeftoverRuns(dest_).empty());
  const std::vector<std::string> names = Names(found);

  if (c.end == End::SaveFailed) engine_.files.FailCreate(dest_.string(), EACCES);
  if (c.end == End::Discarded) found.SelectAll(false);
  const SaveReport saved = found.SaveSelectedImages(dest_, SaveNaming{});
  found.DeleteImageFiles();
  if (c.end != End::SaveFailed) {
    EXPECT_FALSE(fs::exists(folder));
    // Written once by the run; the save only renamed, and flushed.
    const FaultyOutputFiles::Counters written = engine_.files.Get(dest_.string());
    EXPECT_EQ(written.bytesWritten, foundBytes);
    EXPECT_EQ(written.renames, c.end == End::Saved ? 2u : 0u);
    EXPECT_EQ(engine_.files.Syncs() > 0, c.end == End::Saved);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    for (const std::string& s : saved.saved) EXPECT_EQ(ModeOf(s), 0666u & ~mask) << s;
    return;
  }

  // Left for later, and offered again under the names found.
  ASSERT_TRUE(fs::is_directory(folder));
  const std::vector<LeftoverRun> left = FindLeftoverRuns(dest_);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].folder, folder);
  EXPECT_EQ(left[0].files, 2u);
  if (!c.folderRoute) {  // deleted on request instead
    EXPECT_TRUE(DiscardLeftoverRun(folder));
    EXPECT_FALSE(fs::exists(folder));
    return;
  }
  FoundFileList again(engine_.files);
  ASSERT_TRUE(LoadLeftoverRun(folder, again));
  EXPECT_EQ(Names(again), names);
  // Taken over: no second list or listing gets it meanwhile.
  EXPECT_TRUE(FindLeftoverRuns(dest_).empty());
  EXPECT_FALSE(DiscardLeftoverRun(folder));

  engine_.files.FailCreate(dest_.string(), 0);
  const SaveReport second = again.SaveSelectedImages(dest_, SaveNaming{});
  again.DeleteImageFiles();
  EXPECT_TRUE(second.problems.Problems().empty());
  for (const std::string& n : names) EXPECT_TRUE(fs::is_regular_file(dest_ / n)) << n;
  EXPECT_FALSE(fs::exists(folder));
}

INSTANTIATE_TEST_SUITE_P(
    BothRoutes, RunFolderTest,
    ::testing::Values(RunCase{"FolderRouteSaved", true, End::Saved},
                      RunCase{"FolderRouteSaveFailed", true, End::SaveFailed},
                      RunCase{"ScanDiscarded", false, End::Discarded},
                      RunCase{"ScanSaveFailed", false, End::SaveFailed}),
    [](const ::testing::TestParamInfo<RunCase>& i) { return std::string(i.param.name); });

// Only folders that are this user's run folders, closed to others and
// with a manifest, count as leftovers; their names come back.
TEST(LeftoverRuns, OnlyPrivateRunFoldersWithAManifestAndTheirNamesComeBack) {
  TempDir temp;
  auto made = RunFolder::Create(temp.path());
  const fs::path kept = made->Path();
  WriteFileBytes(kept / "image1.JPG", {0xFF, 0xD8});
  FoundFile f;
  f.path = (kept / "image1.JPG").string();
  f.origin.folders = {"DCIM", "100\tÄ\\"};  // odd names from a card survive
  f.origin.name = "IMG 1.JPG";
  made->Record(f);
  made.reset();  // the run died

  fs::create_directory(temp / "kestrella-nomanf");  // no manifest
  fs::create_directory(temp / "kestrella-opened");
  WriteFileBytes(temp / "kestrella-opened" / "manifest", {});
  fs::permissions(temp / "kestrella-opened", fs::perms::owner_all | fs::perms::others_read);
  fs::create_directory_symlink(kept, temp / "kestrella-linked");  // never followed

  const std::vector<LeftoverRun> left = FindLeftoverRuns(temp.path());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].folder, kept);
  EXPECT_EQ(left[0].files, 1u);
  OutputFiles files;
  FoundFileList list(files);
  ASSERT_TRUE(LoadLeftoverRun(kept, list));
  ASSERT_EQ(list.ImageCount(), 1u);
  EXPECT_EQ(SavedName(list.Files()[0].origin, list.Files()[0].path, false),
            SavedName(f.origin, f.path, false));
}

}  // namespace
}  // namespace kestrella::test
