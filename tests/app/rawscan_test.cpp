// The raw scan over card images built sector by sector in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "app/rawscan.h"
#include "detect/fileend.h"
#include "detect/recoverutils.h"
#include "diskio/drivetable.h"
#include "diskio/enginecontext.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr uint32_t kSector = 512;

// Every sector is stamped "sec:" + its number, then filler above 0x80: no
// start signature can match it.
Bytes StampedCard(uint32_t sectors) {
  Bytes card(static_cast<size_t>(sectors) * kSector, 0xA5);
  for (uint32_t s = 0; s < sectors; ++s) {
    uint8_t* p = card.data() + static_cast<size_t>(s) * kSector;
    std::copy_n("sec:", 4, p);
    std::copy_n(reinterpret_cast<const uint8_t*>(&s), 4, p + 4);
  }
  return card;
}

void Put(Bytes& card, uint32_t sector, const Bytes& data) {
  std::copy(data.begin(), data.end(), card.begin() + static_cast<ptrdiff_t>(sector) * kSector);
}

const Bytes kJpegStart{0xFF, 0xD8, 0xFF, 0xE1};
const Bytes kTiffStart{'I', 'I', 0x2A, 0x00};

Bytes Sectors(const Bytes& card, uint32_t first, uint32_t end) {
  return Bytes(card.begin() + static_cast<ptrdiff_t>(first) * kSector,
               card.begin() + static_cast<ptrdiff_t>(end) * kSector);
}

class RawScanTest : public ::testing::Test {
 protected:
  RawScanTest() {
    ui.temp = temp.path();
    ui.tickStep = 1;
    scan.OnFileClosed = [this](const std::string& p, const FoundOrigin&) { closed.push_back(p); };
    scan.OnProgress = [this](const RawScanStatus& s) { progress.push_back(s.currentSector); };
    scan.OnCountsChanged = [this](const RawScanStatus&) { ++countChanges; };
  }
  // Writes the card image and makes it a drive; returns its settings.
  RawScanSettings Mount(const Bytes& card, uint32_t sectorsAtOnce, uint32_t retryLimit = 1) {
    test::WriteFileBytes(dir / "card.img", card);
    DriveTable& drives = engine.context.drives();
    drives.Clear();
    RawScanSettings s;
    s.drive = drives.AddImage((dir / "card.img").string());
    const DriveEntry* entry = drives.Find(s.drive);
    EXPECT_NE(entry, nullptr);
    if (entry != nullptr) imagePath = entry->source.path;
    engine.sources.Watch(imagePath);
    s.totalSectors = static_cast<uint32_t>(card.size() / kSector);
    s.sectorsAtOnce = sectorsAtOnce;
    s.retryLimit = retryLimit;
    return s;
  }
  std::string TempFile(const std::string& name) const { return (temp / name).string(); }

  test::TempDir dir, temp;
  test::TestEngine engine;
  test::ScriptedUi& ui = engine.ui;
  RawScan scan{engine.context};
  std::string imagePath;
  std::vector<std::string> closed;
  std::vector<uint32_t> progress;
  int countChanges = 0;
};

// A photo that, laid on the card, shows no start at any later sector.
bool OneStartOnly(Bytes photo) {
  photo.resize((photo.size() + kSector - 1) / kSector * kSector, 0xA5);
  std::string ext;
  for (size_t at = kSector; at < photo.size(); at += kSector)
    if (DetectImageStart(photo.data() + at, kSector, ext)) return false;
  return true;
}

TEST_F(RawScanTest, BackToBackPhotosEndWhereTheirDataEnds) {
  std::vector<Bytes> photos;
  for (const auto& p : test::DataPhotos()) {
    Bytes b = test::ReadFileBytes(p);
    if (b.size() % kSector != 0 && b.size() < 40 * kSector && OneStartOnly(b)) photos.push_back(b);
    if (photos.size() == 2) break;
  }
  ASSERT_EQ(photos.size(), 2u);
  const uint32_t first = 3;
  const uint32_t second = first + static_cast<uint32_t>((photos[0].size() + kSector - 1) / kSector);
  Bytes card = StampedCard(120);
  Put(card, first, photos[0]);
  Put(card, second, photos[1]);
  // A copy of the second cut short: no end to find in it.
  const uint32_t third = second + 20;
  const Bytes cutShort(photos[1].begin(), photos[1].begin() + 9 * kSector);
  Put(card, third, cutShort);

  // Blocks of 7 sectors: every file crosses read boundaries. Each file ends
  // where its photo does, but the one without an end runs to the drive's
  // end; without cutting, each runs to the next start.
  for (const bool cut : {true, false}) {
    RawScanSettings s = Mount(card, 7);
    s.cutAtEnd = cut;
    closed.clear();
    scan.Run(s);
    ASSERT_EQ(closed.size(), 3u);
    const Bytes one = test::ReadFileBytes(closed[0]);
    const Bytes two = test::ReadFileBytes(closed[1]);
    const Bytes three = test::ReadFileBytes(closed[2]);
    EXPECT_EQ(one, cut ? photos[0] : Sectors(card, first, second)) << cut;
    EXPECT_EQ(two, cut ? photos[1] : Sectors(card, second, third)) << cut;
    EXPECT_EQ(three, Sectors(card, third, 120)) << cut;
    EXPECT_EQ(scan.Status().imagesFound, 3);
    EXPECT_EQ(scan.Status().currentSector, 120u);
    EXPECT_EQ(scan.Status().bytesRead, 120u * kSector);
    EXPECT_FALSE(scan.Status().busy);
    EXPECT_TRUE(scan.StopRequested());
    EXPECT_TRUE(scan.Problems().Clean());
    for (const std::string& f : closed) fs::remove(f);
  }
}

// A file whose end is not found stops at its kind's limit (64 MiB for a
// GIF) instead of taking the rest of the card, and the report says so.
TEST_F(RawScanTest, AFileWithoutAnEndStopsAtItsKindsLimit) {
  const uint64_t limit = SizeLimitFor("GIF");
  Bytes card(limit + 64 * kSector, 0);
  Put(card, 0, Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0xFF});  // no known block
  scan.Run(Mount(card, 2048));
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(fs::file_size(closed[0]), limit);
  ASSERT_EQ(scan.Problems().Problems().size(), 1u);
  EXPECT_EQ(scan.Problems().Problems()[0].kind, FileProblem::Kind::Damaged);
  EXPECT_EQ(scan.Problems().Problems()[0].reason,
            "no end was found: stopped at 64 MiB, the size limit of GIF files");
}

TEST_F(RawScanTest, StartInSectorZeroAndNamesFromPrefixAndType) {
  Bytes card = StampedCard(12);
  Put(card, 0, kJpegStart);
  Put(card, 5, kTiffStart);
  Put(card, 9, kJpegStart);
  RawScanSettings s = Mount(card, 4);
  s.prefix = "card_";
  scan.Run(s);
  ASSERT_EQ(closed, (std::vector<std::string>{TempFile("card_1.JPG"), TempFile("card_2.TIF"),
                                               TempFile("card_3.JPG")}));
  EXPECT_EQ(test::ReadFileBytes(closed[0]), Sectors(card, 0, 5));
  EXPECT_EQ(test::ReadFileBytes(closed[1]), Sectors(card, 5, 9));
  EXPECT_EQ(test::ReadFileBytes(closed[2]), Sectors(card, 9, 12));
}

struct ReadErrorCase {
  uint32_t bad, retryLimit, readErrors;
};

class RawScanReadErrors : public RawScanTest, public ::testing::WithParamInterface<ReadErrorCase> {};

// Blocks of 10 sectors; the photo covers the whole drive. The sector that
// cannot be read keeps its place as zeros (left out, it would shift every
// later byte), and the report names it.
TEST_P(RawScanReadErrors, CountsAttemptsAndKeepsTheBadSectorsPlaceAsZeros) {
  const ReadErrorCase c = GetParam();
  Bytes card = StampedCard(40);
  Put(card, 0, kJpegStart);
  RawScanSettings s = Mount(card, 10, c.retryLimit);
  engine.sources.MarkUnreadable(imagePath, {c.bad});
  scan.Run(s);

  EXPECT_EQ(scan.Status().readErrors, c.readErrors);
  EXPECT_EQ(engine.sources.Get(imagePath).failedReads, c.readErrors);
  ASSERT_EQ(closed.size(), 1u);
  Bytes expected = Sectors(card, 0, c.bad);
  expected.resize(expected.size() + kSector, 0);
  const Bytes rest = Sectors(card, c.bad + 1, 40);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(test::ReadFileBytes(closed[0]), expected);
  ASSERT_EQ(scan.Problems().Problems().size(), 1u);
  EXPECT_EQ(scan.Problems().Problems()[0].kind, FileProblem::Kind::Damaged);
  EXPECT_EQ(scan.Problems().Problems()[0].reason,
            "sector " + std::to_string(c.bad) + " could not be read and holds zeros");
  EXPECT_EQ(scan.Status().currentSector, 40u);
  EXPECT_EQ(scan.Status().bytesRead, 39u * kSector);
}

INSTANTIATE_TEST_SUITE_P(Retries, RawScanReadErrors,
                         ::testing::Values(ReadErrorCase{10, 5, 5},   // first in its block
                                           ReadErrorCase{13, 5, 6},   // further in
                                           ReadErrorCase{10, 1, 2},   // block, then the sector
                                           ReadErrorCase{13, 1, 2},   // sector 10 is still read
                                           ReadErrorCase{39, 50, 21}),  // 20 at most per sector
                         [](const ::testing::TestParamInfo<ReadErrorCase>& i) {
                           return "Bad" + std::to_string(i.param.bad) + "Retry" +
                                  std::to_string(i.param.retryLimit);
                         });

// Neighbouring bad sectors are told as one range, however long the stretch.
TEST_F(RawScanTest, BadSectorsOfOneFileAreToldAsRanges) {
  Bytes card = StampedCard(40);
  Put(card, 0, kJpegStart);
  RawScanSettings s = Mount(card, 10);
  engine.sources.MarkUnreadable(imagePath, {12, 13, 14, 20, 30, 31});
  scan.Run(s);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(fs::file_size(closed[0]), 40u * kSector);
  ASSERT_EQ(scan.Problems().Problems().size(), 1u);
  EXPECT_EQ(scan.Problems().Problems()[0].reason,
            "sectors 12-14, 20 and 30-31 could not be read and hold zeros");
}

TEST_F(RawScanTest, NamesAlreadyTakenArePassedOver) {
  test::WriteFileBytes(temp / "image1.JPG", {1});
  test::WriteFileBytes(temp / "image2.JPG", {2});
  Bytes card = StampedCard(8);
  Put(card, 1, kJpegStart);
  Put(card, 4, kJpegStart);
  scan.Run(Mount(card, 3));
  EXPECT_EQ(closed, (std::vector<std::string>{TempFile("image3.JPG"), TempFile("image4.JPG")}));
  EXPECT_EQ(test::ReadFileBytes(temp / "image1.JPG"), Bytes{1});
  EXPECT_EQ(test::ReadFileBytes(temp / "image2.JPG"), Bytes{2});
  EXPECT_EQ(test::ReadFileBytes(closed[1]), Sectors(card, 4, 8));
}

TEST_F(RawScanTest, StopFinishesTheSectorAndClosesTheFile) {
  Bytes card = StampedCard(100);
  Put(card, 0, kJpegStart);
  Put(card, 60, kJpegStart);
  ui.tickStep = 1000;  // progress at every sector
  scan.OnProgress = [this](const RawScanStatus& st) {
    if (st.currentSector == 30) scan.Stop();
  };
  scan.Run(Mount(card, 8));  // sector 30 lies inside the block 24..31
  EXPECT_EQ(scan.Status().currentSector, 31u);
  EXPECT_EQ(scan.Status().imagesFound, 1);
  ASSERT_EQ(closed, std::vector<std::string>{TempFile("image1.JPG")});
  EXPECT_EQ(test::ReadFileBytes(closed[0]), Sectors(card, 0, 31));
}

// Files are written by another thread; the hand-off must still come on the
// scan's thread, in order, with every byte of the file already in place.
TEST_F(RawScanTest, EveryFileIsCompleteWhenHandedOnInOrderOnTheScansThread) {
  Bytes card = StampedCard(400);
  std::vector<uint32_t> starts;
  for (uint32_t s = 0; s < 400; s += 7 + s % 5) {
    Put(card, s, kJpegStart);
    starts.push_back(s);
  }
  starts.push_back(400);
  const std::thread::id scanThread = std::this_thread::get_id();
  std::vector<Bytes> seen;
  scan.OnFileClosed = [&](const std::string& p, const FoundOrigin&) {
    EXPECT_EQ(std::this_thread::get_id(), scanThread);
    closed.push_back(p);
    seen.push_back(test::ReadFileBytes(p));
  };
  scan.Run(Mount(card, 3));  // files of 7 to 11 sectors over blocks of 3
  ASSERT_EQ(closed.size(), starts.size() - 1);
  for (size_t i = 0; i + 1 < starts.size(); ++i) {
    EXPECT_EQ(closed[i], TempFile("image" + std::to_string(i + 1) + ".JPG"));
    EXPECT_EQ(seen[i], Sectors(card, starts[i], starts[i + 1])) << closed[i];
  }
  EXPECT_EQ(scan.Status().imagesFound, static_cast<int32_t>(starts.size() - 1));
  EXPECT_TRUE(scan.Problems().Problems().empty());
}

// The stop comes while earlier blocks may still be with the writer: the
// sector in hand is finished, and every file cut so far is written whole.
TEST_F(RawScanTest, StopWithBlocksStillBeingWrittenLosesNothing) {
  Bytes card = StampedCard(3000);
  for (uint32_t s = 0; s < 3000; s += 100) Put(card, s, kJpegStart);
  ui.tickStep = 1000;  // progress at every sector
  scan.OnProgress = [this](const RawScanStatus& st) {
    if (st.currentSector == 2345) scan.Stop();
  };
  scan.Run(Mount(card, 50));
  EXPECT_EQ(scan.Status().currentSector, 2346u);
  ASSERT_EQ(closed.size(), 24u);
  for (uint32_t i = 0; i < 24; ++i) {
    EXPECT_EQ(test::ReadFileBytes(closed[i]),
              Sectors(card, i * 100, std::min<uint32_t>(i * 100 + 100, 2346)))
        << closed[i];
  }
}

TEST_F(RawScanTest, DriveSmallerThanOneBlockIsReadInOneGo) {
  Bytes card = StampedCard(100);
  Put(card, 0, kJpegStart);
  scan.Run(Mount(card, MaxSectorsAtOnce(kSector)));
  EXPECT_EQ(engine.sources.Get(imagePath).reads, 1u);
  EXPECT_EQ(engine.sources.Get(imagePath).bytesRead, card.size());
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(test::ReadFileBytes(closed[0]), card);
}

TEST_F(RawScanTest, DriveOfNoSectorsDoesNothing) {
  Bytes card = StampedCard(4);
  Put(card, 0, kJpegStart);
  RawScanSettings s = Mount(card, 4);
  s.totalSectors = 0;
  scan.Run(s);
  EXPECT_EQ(engine.sources.Get(imagePath).reads, 0u);
  EXPECT_TRUE(closed.empty());
  EXPECT_TRUE(progress.empty());
  EXPECT_EQ(countChanges, 0);
  EXPECT_TRUE(fs::is_empty(temp.path()));
}

TEST_F(RawScanTest, ProgressAtMostEvery500MsAndAtTheEnd) {
  const std::vector<uint32_t> throttled{0, 501, 1002, 1503, 2000};
  RawScanSettings s = Mount(StampedCard(2000), 100);
  scan.Run(s);
  EXPECT_EQ(progress, throttled);

  // Across the wrap of the tick count the pace is the same.
  progress.clear();
  ui.tick = std::numeric_limits<uint32_t>::max() - 700;
  scan.Run(s);
  EXPECT_EQ(progress, throttled);

  progress.clear();
  ui.tickStep = 501;
  s.totalSectors = 50;
  scan.Run(s);
  ASSERT_EQ(progress.size(), 51u);
  for (uint32_t i = 0; i <= 50; ++i) EXPECT_EQ(progress[i], i);
}

TEST_F(RawScanTest, UnwritableTempFolderCountsEveryFileAndGoesOn) {
  Bytes card = StampedCard(30);
  Put(card, 2, kJpegStart);
  Put(card, 10, kTiffStart);
  Put(card, 20, kJpegStart);
  RawScanSettings s = Mount(card, 6);
  s.tempFolder = dir / "card.img" / "found";  // below a regular file
  scan.Run(s);
  EXPECT_EQ(scan.Status().imagesFound, 3);
  EXPECT_EQ(scan.Status().writeFailures, 3u);
  EXPECT_EQ(scan.Status().currentSector, 30u);
  EXPECT_EQ(scan.AbortReason(), "");
  EXPECT_TRUE(closed.empty());
  ASSERT_EQ(scan.Problems().Problems().size(), 3u);
  EXPECT_EQ(scan.Problems().Problems()[1].file, (s.tempFolder / "image2.TIF").string());
  for (const FileProblem& f : scan.Problems().Problems()) {
    EXPECT_NE(f.reason, "");
    EXPECT_EQ(f.kind, FileProblem::Kind::Lost);
  }
}

// A file size limit makes the first file lose its tail; it is still handed on.
TEST_F(RawScanTest, AFileCutShortIsReportedAndStillHandedOn) {
  Bytes card = StampedCard(10);
  Put(card, 0, kJpegStart);
  Put(card, 6, kJpegStart);
  const RawScanSettings s = Mount(card, 2);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit cut = old;
  cut.rlim_cur = 5 * kSector;
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &cut), 0);
  scan.Run(s);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);

  EXPECT_EQ(closed, (std::vector<std::string>{TempFile("image1.JPG"), TempFile("image2.JPG")}));
  ASSERT_EQ(scan.Problems().Problems().size(), 1u);
  EXPECT_EQ(scan.Status().writeFailures, 1u);
  EXPECT_EQ(scan.Problems().Problems()[0].file, TempFile("image1.JPG"));
  EXPECT_EQ(scan.Problems().Problems()[0].kind, FileProblem::Kind::Damaged);
  EXPECT_NE(scan.Problems().Problems()[0].reason, "");
  EXPECT_EQ(test::ReadFileBytes(TempFile("image1.JPG")), Sectors(card, 0, 5));
  EXPECT_EQ(test::ReadFileBytes(TempFile("image2.JPG")), Sectors(card, 6, 10));
}

TEST(SectorsAtOnce, LimitAndDefault) {
  EXPECT_EQ(MaxSectorsAtOnce(512), 3999u);
  EXPECT_EQ(MaxSectorsAtOnce(2048), 999u);
  EXPECT_EQ(DefaultSectorsAtOnce(2097152, 512), 3999u);
  EXPECT_EQ(DefaultSectorsAtOnce(32768, 512), 327u);
  EXPECT_EQ(DefaultSectorsAtOnce(150, 512), 1u);
  EXPECT_EQ(DefaultSectorsAtOnce(2097152, 2048), 999u);
}

}  // namespace
}  // namespace kestrella
