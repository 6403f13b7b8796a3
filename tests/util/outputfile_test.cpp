// The one sink of output files, and the report that names what a job lost.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support/fakes.h"
#include "support/testsupport.h"
#include "util/outputfile.h"
#include "util/report.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;

// Counts the write calls that reach the system.
class CountingFiles : public OutputFiles {
 public:
  ssize_t Write(int fd, const void* data, size_t length) override {
    ++writes;
    return OutputFiles::Write(fd, data, length);
  }
  int writes = 0;
};

TEST(OutputFileTest, NeverWritesThroughOrOverSomethingAlreadyThere) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "photo.jpg", {1, 2, 3});
  test::WriteFileBytes(dir / "elsewhere", {4, 5});
  ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "link.jpg").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "missing").c_str(), (dir / "dangling.jpg").c_str()), 0);
  OutputFiles files;
  struct Case {
    const char* name;
    OutputFile::NewFile created;
  } cases[] = {{"photo.jpg", OutputFile::NewFile::Exists},
               {"link.jpg", OutputFile::NewFile::Exists},
               {"dangling.jpg", OutputFile::NewFile::Exists},
               {"new.jpg", OutputFile::NewFile::Created}};
  for (const Case& c : cases) {
    OutputFile out(files);
    EXPECT_EQ(out.CreateNew((dir / c.name).string()), c.created) << c.name;
    // Giving up on a name must not delete what was there.
    out.Remove();
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "photo.jpg"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(test::ReadFileBytes(dir / "elsewhere"), (std::vector<uint8_t>{4, 5}));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.jpg"));
  EXPECT_FALSE(fs::exists(dir / "missing"));
  EXPECT_FALSE(fs::exists(dir / "new.jpg"));

  // Replacing a name refuses a planted link instead of writing through it.
  OutputFile out(files);
  EXPECT_FALSE(out.Create((dir / "link.jpg").string()));
  EXPECT_EQ(out.ErrorCode(), ELOOP);
  EXPECT_EQ(test::ReadFileBytes(dir / "elsewhere"), (std::vector<uint8_t>{4, 5}));
}

TEST(OutputFileTest, AFullDiskIsNamedAndThePartialFileCanBeRemoved) {
  test::TempDir dir;
  test::FaultyOutputFiles files;
  files.LimitBytes(dir.path().string(), 1000);
  const std::vector<uint8_t> data(4096, 7);
  OutputFile out(files);
  ASSERT_TRUE(out.Create((dir / "cut.jpg").string()));
  EXPECT_EQ(out.Write(data.data(), data.size()), 1000u);
  EXPECT_TRUE(out.Failed());
  EXPECT_EQ(out.Error(), std::strerror(ENOSPC));
  EXPECT_EQ(out.Write(data.data(), 10), 0u);  // nothing more after a failure
  EXPECT_FALSE(out.Close());
  EXPECT_EQ(fs::file_size(dir / "cut.jpg"), 1000u);
  out.Remove();
  EXPECT_FALSE(fs::exists(dir / "cut.jpg"));
}

TEST(OutputFileTest, TheCapOnAJobsWritesAsksOnceAndHoldsToTheAnswer) {
  test::TempDir dir;
  const std::vector<uint8_t> data(600, 1);
  for (const bool goOn : {true, false}) {
    OutputFiles files;
    int asked = 0;
    files.LimitWrites(1000, [&](uint64_t written) {
      ++asked;
      EXPECT_EQ(written, 600u);
      return goOn;
    });
    OutputFile first(files), second(files), third(files);
    ASSERT_TRUE(first.Create((dir / "1").string()));
    ASSERT_TRUE(second.Create((dir / "2").string()));
    ASSERT_TRUE(third.Create((dir / "3").string()));
    EXPECT_EQ(first.Write(data.data(), data.size()), 600u);
    second.Append(data.data(), data.size());  // the cap is met when the run is written
    EXPECT_EQ(second.Close(), goOn);
    EXPECT_EQ(third.Write(data.data(), data.size()), goOn ? 600u : 0u);
    EXPECT_EQ(asked, 1) << goOn;
    EXPECT_EQ(files.LimitRefused(), !goOn);
    if (!goOn) {
      EXPECT_EQ(third.ErrorCode(), kOverWriteLimit);
    }
  }
}

TEST(OutputFileTest, AdjacentAppendsBecomeOneWrite) {
  test::TempDir dir;
  CountingFiles files;
  std::vector<uint8_t> block(3 * 512);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i);
  OutputFile out(files);
  ASSERT_TRUE(out.Create((dir / "run.jpg").string()));
  for (size_t at = 0; at < block.size(); at += 512) out.Append(block.data() + at, 512);
  const std::vector<uint8_t> apart(5, 9);
  out.Append(apart.data(), apart.size());  // not adjacent: the run is written first
  EXPECT_TRUE(out.Close());
  EXPECT_EQ(files.writes, 2);
  // Sized at once: GCC 12 at -O2 warns (-Warray-bounds) inside the
  // grow-and-move path of an insert at the end of a copy of `block`.
  std::vector<uint8_t> expected(block.size() + apart.size());
  std::copy(apart.begin(), apart.end(), std::copy(block.begin(), block.end(), expected.begin()));
  EXPECT_EQ(test::ReadFileBytes(dir / "run.jpg"), expected);
  EXPECT_EQ(out.BytesWritten(), expected.size());
}

TEST(ReportTest, CollectsProblemsAndKeepsTheFirstAbortReason) {
  Report run, save;
  run.Add(FileProblem::Kind::Lost, "P1.JPG", "No space left on device");
  run.Add(FileProblem::Kind::Damaged, "/tmp/P2.JPG", "1 sector could not be read and hold zeros");
  save.Add(FileProblem::Kind::NotCopied, "/tmp/P2.JPG", "Permission denied", "/dest/image2.JPG");
  run.Abort("read error");
  run.Abort("later");
  save.Abort("from the save");
  run.Merge(save);

  EXPECT_FALSE(run.Clean());
  EXPECT_EQ(run.AbortReason(), "read error");
  EXPECT_EQ(run.Count(FileProblem::Kind::Lost), 1u);
  EXPECT_EQ(run.Count(FileProblem::Kind::NotCopied), 1u);
  const std::vector<std::string> lines = {
      "P1.JPG: No space left on device (not saved)",
      "/tmp/P2.JPG: 1 sector could not be read and hold zeros (incomplete)",
      "/tmp/P2.JPG: Permission denied (not copied to /dest/image2.JPG)"};
  ASSERT_EQ(run.Problems().size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(Report::Describe(run.Problems()[i]), lines[i]);
  run.Clear();
  EXPECT_TRUE(run.Clean());
}

}  // namespace
}  // namespace kestrella
