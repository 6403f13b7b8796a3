// The writer thread of the raw scan: order, buffer reuse and failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/foundfilequeue.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr size_t kSector = 512;

// Fills the sector at `index` of the buffer with a pattern of its own.
void Stamp(uint8_t* buffer, size_t index, uint8_t value) {
  std::memset(buffer + index * kSector, value, kSector);
}

class FoundFileQueueTest : public ::testing::Test {
 protected:
  fs::path Path(int n) const { return dir / test::Numbered("f", n); }
  std::unique_ptr<OutputFile> NewFile(const fs::path& p) {
    auto f = std::make_unique<OutputFile>(files);
    EXPECT_EQ(f->CreateNew(p.string()), OutputFile::NewFile::Created) << p;
    return f;
  }
  test::TempDir dir;
  OutputFiles files;
};

// Two buffers of four sectors, twelve blocks: the scan must wait for buffers
// to come back, and a buffer it overwrites must already be written out.
TEST_F(FoundFileQueueTest, BuffersComeBackOnlyWhenWrittenAndFilesCloseInOrder) {
  std::vector<Bytes> expected(5);
  {
    FoundFileQueue q(2, 4 * kSector);
    int file = -1;
    for (int block = 0; block < 12; ++block) {
      uint8_t* b = q.Buffer();
      for (size_t i = 0; i < 4; ++i) {
        const uint8_t value = static_cast<uint8_t>(block * 4 + i + 1);
        Stamp(b, i, value);
        // A new file at every tenth sector, so files span blocks and some
        // blocks hold the end of one file and the start of the next.
        if ((block * 4 + i) % 10 == 0) {
          if (file >= 0) q.End();
          ++file;
          q.Begin(NewFile(Path(file)));
        }
        q.Append(b + i * kSector, kSector);
        expected[file].insert(expected[file].end(), kSector, value);
      }
      q.Submit();
    }
    q.End();
    q.Finish();
    const std::vector<FoundFileQueue::Closed> closed = q.TakeClosed();
    ASSERT_EQ(closed.size(), 5u);
    for (int n = 0; n < 5; ++n) {
      EXPECT_EQ(closed[n].path, Path(n).string());
      EXPECT_TRUE(closed[n].ok);
      EXPECT_EQ(closed[n].error, "");
      // Finished means written and closed: the bytes are all there now.
      EXPECT_EQ(test::ReadFileBytes(Path(n)), expected[n]) << n;
    }
    EXPECT_TRUE(q.TakeClosed().empty());
  }
}

TEST_F(FoundFileQueueTest, AFailedWriteIsReportedForItsFileOnly) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  FoundFileQueue q(2, 2 * kSector);
  uint8_t* b = q.Buffer();
  Stamp(b, 0, 7);
  Stamp(b, 1, 8);
  q.Begin(NewFile(Path(0)));
  q.Append(b, kSector);
  q.End();
  // Every write to /dev/full fails with "no space".
  auto full = std::make_unique<OutputFile>(files);
  ASSERT_TRUE(full->Create("/dev/full"));
  q.Begin(std::move(full));
  q.Append(b + kSector, kSector);
  q.End();
  q.Begin(NewFile(Path(2)));
  q.Append(b + kSector, kSector);
  q.End();
  q.Finish();
  const std::vector<FoundFileQueue::Closed> closed = q.TakeClosed();
  ASSERT_EQ(closed.size(), 3u);
  EXPECT_TRUE(closed[0].ok);
  EXPECT_EQ(closed[1].path, "/dev/full");
  EXPECT_FALSE(closed[1].ok);
  EXPECT_EQ(closed[1].error, std::strerror(ENOSPC));
  EXPECT_FALSE(closed[1].partlyWritten);
  EXPECT_TRUE(closed[2].ok);
  EXPECT_EQ(test::ReadFileBytes(Path(0)), Bytes(kSector, 7));
  EXPECT_EQ(test::ReadFileBytes(Path(2)), Bytes(kSector, 8));
}

// What is still queued when the queue goes away is written, not dropped.
TEST_F(FoundFileQueueTest, DestroyingTheQueueFinishesItsWork) {
  {
    FoundFileQueue q(2, kSector);
    uint8_t* b = q.Buffer();
    Stamp(b, 0, 3);
    q.Begin(NewFile(Path(0)));
    q.Append(b, kSector);
    q.End();
  }
  EXPECT_EQ(test::ReadFileBytes(Path(0)), Bytes(kSector, 3));
}

}  // namespace
}  // namespace kestrella
