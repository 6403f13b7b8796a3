// A destination that fills up or refuses new files, on both routes and in
// the save step: what could not be written is reported by name, the rest is
// carried on with, nothing that failed passes for saved, and no found file is
// deleted before it is safe somewhere.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/ffatscan.h"
#include "app/foundfiles.h"
#include "app/rawscan.h"
#include "diskio/drivetable.h"
#include "diskio/enginecontext.h"
#include "fat/fatdrive.h"
#include "fat/fatread_testcard.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella::test {
namespace {

using Bytes = std::vector<uint8_t>;

const std::vector<std::string> kPhotos = {"Nikon_D70.jpg", "Pentax_K10D.jpg", "Canon_PowerShot_S40.jpg"};

Bytes Photo(const std::string& name) { return ReadFileBytes(DataPhoto(name)); }
uint64_t PhotoSize(const std::string& name) { return fs::file_size(DataPhoto(name)); }

std::set<std::string> FilesIn(const fs::path& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) out.insert(fs::relative(e.path(), folder).string());
  return out;
}

class DestFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_.temp = dir_ / "tmp";
    ui_.tickStep = 1;
    fs::create_directories(ui_.temp);
    fs::create_directories(dest_);
  }
  // A card with the three photos deleted from its root, mounted as a drive.
  uint8_t DeletedPhotosCard() {
    card_ = std::make_unique<FatCard>(16, 8192, 2);
    for (size_t i = 0; i < kPhotos.size(); ++i)
      card_->Copy(DataPhoto(kPhotos[i]), "P" + std::to_string(i) + ".JPG");
    for (size_t i = 0; i < kPhotos.size(); ++i) card_->Delete("P" + std::to_string(i) + ".JPG");
    const uint8_t n = context_.drives().AddImage(card_->image().string());
    EXPECT_NE(n, 0);
    return n;
  }

  TempDir dir_;
  fs::path dest_ = dir_ / "dest";
  TestEngine engine_;
  EngineContext& context_ = engine_.context;
  ScriptedUi& ui_ = engine_.ui;
  FaultyOutputFiles& files_ = engine_.files;
  std::unique_ptr<FatCard> card_;
};

// ---- the save step ---------------------------------------------------------

TEST_F(DestFailureTest, SaveStepReportsWhatDidNotFitAndKeepsThoseFoundFiles) {
  FoundFileList found(context_.files());
  for (const std::string& name : kPhotos) {
    const fs::path temp = ui_.temp / name;
    fs::copy_file(DataPhoto(name), temp);
    found.AddImage(temp.string());
  }
  // Room for the first photo and half of the second, on another file system
  // than the temporary folder's: the files are copied.
  const uint64_t room = PhotoSize(kPhotos[0]) + PhotoSize(kPhotos[1]) / 2;
  files_.LimitBytes(dest_.string(), room);
  files_.FailRename(dest_.string(), EXDEV);
  const SaveReport report = found.SaveSelectedImages(dest_, SaveNaming::Numbered("image"));

  ASSERT_EQ(report.saved, std::vector<std::string>{(dest_ / "image1.jpg").string()});
  EXPECT_EQ(report.savedFrom, std::vector<std::string>{(ui_.temp / kPhotos[0]).string()});
  EXPECT_EQ(Md5Of(dest_ / "image1.jpg"), Md5Of(DataPhoto(kPhotos[0])));
  ASSERT_EQ(report.problems.Problems().size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(report.problems.Problems()[i].file, (ui_.temp / kPhotos[i + 1]).string());
    EXPECT_EQ(report.problems.Problems()[i].reason, std::strerror(ENOSPC));
  }
  // The copy cut short is not left behind under a name that looks saved.
  EXPECT_EQ(FilesIn(dest_), (std::set<std::string>{"image1.jpg"}));
  // Every copy was tried, and the two that failed met the full disk: the
  // second only once it had filled the room left (a copy may take several
  // writes, each refused one counts).
  const FaultyOutputFiles::Counters c = files_.Get(dest_.string());
  EXPECT_EQ(c.creates, 3u);
  EXPECT_EQ(c.bytesWritten, room);
  EXPECT_GE(c.failedWrites, 2u);

  const std::vector<std::string> kept = found.DeleteImageFiles();
  EXPECT_EQ(kept, (std::vector<std::string>{report.problems.Problems()[0].file, report.problems.Problems()[1].file}));
  EXPECT_FALSE(fs::exists(ui_.temp / kPhotos[0]));
  for (const std::string& k : kept) EXPECT_EQ(Md5Of(k), Md5Of(DataPhoto(fs::path(k).filename().string())));
}

TEST_F(DestFailureTest, SaveStepIntoAFolderThatRefusesNewFiles) {
  FoundFileList found(context_.files());
  for (const std::string& name : kPhotos) {
    fs::copy_file(DataPhoto(name), ui_.temp / name);
    found.AddImage((ui_.temp / name).string());
  }
  files_.FailCreate(dest_.string(), EACCES);
  const SaveReport report = found.SaveSelectedImages(dest_, SaveNaming::Numbered("image"));
  EXPECT_TRUE(report.saved.empty());
  ASSERT_EQ(report.problems.Problems().size(), 3u);
  for (const FileProblem& f : report.problems.Problems()) EXPECT_EQ(f.reason, std::strerror(EACCES));
  EXPECT_TRUE(FilesIn(dest_).empty());
  EXPECT_EQ(found.DeleteImageFiles().size(), 3u);
  EXPECT_EQ(FilesIn(ui_.temp).size(), 3u);
}

// ---- the raw scan ----------------------------------------------------------

TEST_F(DestFailureTest, RawScanIntoAFullTemporaryFolder) {
  const uint8_t drive = DeletedPhotosCard();
  // Room for the first found file (the photo plus the slack up to the next
  // one) and a little of the second.
  const uint64_t room = 14336 + 1000;
  files_.LimitBytes(ui_.temp.string(), room);
  RawScan scan(context_);
  std::vector<std::string> closed;
  scan.OnFileClosed = [&](const std::string& p, const FoundOrigin&) { closed.push_back(p); };
  RawScanSettings s;
  s.drive = drive;
  s.totalSectors = static_cast<uint32_t>(fs::file_size(card_->image()) / 512);
  s.sectorsAtOnce = 64;
  s.tempFolder = ui_.temp;
  scan.Run(s);

  EXPECT_EQ(scan.Status().imagesFound, 3);
  EXPECT_EQ(scan.AbortReason(), "");
  ASSERT_EQ(scan.Problems().Problems().size(), 2u);
  EXPECT_EQ(scan.Status().writeFailures, 2u);
  EXPECT_EQ(scan.Problems().Problems()[0].file, (ui_.temp / "image2.JPG").string());
  EXPECT_EQ(scan.Problems().Problems()[0].kind, FileProblem::Kind::Damaged);
  EXPECT_EQ(scan.Problems().Problems()[1].file, (ui_.temp / "image3.JPG").string());
  EXPECT_EQ(scan.Problems().Problems()[1].kind, FileProblem::Kind::Lost);
  for (const FileProblem& f : scan.Problems().Problems())
    EXPECT_NE(f.reason.find(std::strerror(ENOSPC)), std::string::npos) << f.reason;

  // The first is whole, the second keeps its start and is handed on, the
  // third got nothing and is neither handed on nor left as an empty file.
  ASSERT_EQ(closed.size(), 2u);
  const Bytes first = ReadFileBytes(closed[0]);
  const Bytes photo = Photo(kPhotos[0]);
  ASSERT_GE(first.size(), photo.size());
  EXPECT_TRUE(std::equal(photo.begin(), photo.end(), first.begin()));
  EXPECT_EQ(fs::file_size(closed[1]), room - first.size());
  EXPECT_FALSE(fs::exists(ui_.temp / "image3.JPG"));
}

TEST_F(DestFailureTest, RawScanIntoATemporaryFolderThatRefusesNewFiles) {
  const uint8_t drive = DeletedPhotosCard();
  files_.FailCreate(ui_.temp.string(), EACCES);
  RawScan scan(context_);
  int closed = 0;
  scan.OnFileClosed = [&](const std::string&, const FoundOrigin&) { ++closed; };
  RawScanSettings s;
  s.drive = drive;
  s.totalSectors = static_cast<uint32_t>(fs::file_size(card_->image()) / 512);
  s.sectorsAtOnce = 64;
  s.tempFolder = ui_.temp;
  scan.Run(s);
  EXPECT_EQ(scan.Status().imagesFound, 3);
  EXPECT_EQ(scan.Status().currentSector, s.totalSectors);  // read on to the end
  EXPECT_EQ(closed, 0);
  ASSERT_EQ(scan.Problems().Problems().size(), 3u);
  for (const FileProblem& f : scan.Problems().Problems()) EXPECT_EQ(f.reason, std::strerror(EACCES));
  EXPECT_TRUE(FilesIn(ui_.temp).empty());
}

// ---- the folder route --------------------------------------------------------

TEST_F(DestFailureTest, FolderRouteIntoAFullFolderNamesTheFilesThatDidNotFit) {
  const uint8_t drive = DeletedPhotosCard();
  TFrmFATScan driver(context_);
  driver.DestFolder = dest_.string();
  std::vector<std::string> found;
  driver.OnFoundImage = [&](const std::string& p, const FoundOrigin&) { found.push_back(p); };
  // The first photo fits, the second does not, nor the third.
  files_.LimitBytes(dest_.string(), PhotoSize(kPhotos[0]) + 100);
  driver.ScanDrive(drive, false, true, false);

  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(Md5Of(found[0]), Md5Of(DataPhoto(kPhotos[0])));
  ASSERT_EQ(driver.SaveProblems.Problems().size(), 2u);
  for (const FileProblem& p : driver.SaveProblems.Problems()) {
    EXPECT_EQ(p.kind, FileProblem::Kind::Lost);
    EXPECT_EQ(p.reason, std::strerror(ENOSPC));
  }
  EXPECT_EQ(driver.SaveProblems.Problems()[0].file, "_1.JPG");
  EXPECT_EQ(driver.SaveProblems.Problems()[1].file, "_2.JPG");
  // Nothing cut short stays behind.
  EXPECT_EQ(FilesIn(dest_), (std::set<std::string>{fs::path(found[0]).filename().string()}));
  EXPECT_FALSE(fs::exists(dest_ / ".kestrella-incoming"));
  size_t diskFull = 0;
  for (const auto& m : ui_.shown) diskFull += m.text == "Disk Full";
  EXPECT_EQ(diskFull, 2u);
}

TEST_F(DestFailureTest, FolderRouteIntoAFolderThatRefusesNewFiles) {
  const uint8_t drive = DeletedPhotosCard();
  TFrmFATScan driver(context_);
  driver.DestFolder = dest_.string();
  int found = 0;
  driver.OnFoundImage = [&](const std::string&, const FoundOrigin&) { ++found; };
  files_.FailCreate(dest_.string(), EACCES);
  driver.ScanDrive(drive, false, true, true);
  EXPECT_EQ(found, 0);
  ASSERT_EQ(driver.SaveProblems.Problems().size(), 3u);
  for (const FileProblem& p : driver.SaveProblems.Problems()) EXPECT_EQ(p.reason, std::strerror(EACCES));
  EXPECT_TRUE(FilesIn(dest_).empty());
  EXPECT_TRUE(driver.StopRequestedFlag);  // the route ran to its end
}

// ---- saving a volume's tree ----------------------------------------------------

TEST_F(DestFailureTest, SavingTheTreeRecordsEveryFileNotWritten) {
  DeletedPhotosCard();
  card_->Mount();
  TFATdrive& drive = card_->drive();
  // The mounted card saves through its own engine's output files.
  card_->engine().files.LimitBytes(dest_.string(),
                                   PhotoSize(kPhotos[0]) + PhotoSize(kPhotos[1]) + 10);
  bool replaceAll = true, replaceAnswer = true;
  EXPECT_TRUE(drive.SaveDirectory(static_cast<TFATDirectory&>(*drive.RootItem), dest_, true, true,
                                  false, drive.UseFAT(), replaceAll, replaceAnswer));
  ASSERT_EQ(drive.SaveProblems.Problems().size(), 1u);
  EXPECT_EQ(drive.SaveProblems.Problems()[0].kind, FileProblem::Kind::Lost);
  EXPECT_EQ(drive.SaveProblems.Problems()[0].reason, std::strerror(ENOSPC));
  EXPECT_FALSE(fs::exists(drive.SaveProblems.Problems()[0].file));
  EXPECT_EQ(FilesIn(dest_).size(), 2u);
  for (const std::string& f : FilesIn(dest_)) {
    const std::string md5 = Md5Of(dest_ / f);
    EXPECT_TRUE(md5 == Md5Of(DataPhoto(kPhotos[0])) ||
                md5 == Md5Of(DataPhoto(kPhotos[1])))
        << f;
  }
}

}  // namespace
}  // namespace kestrella::test
