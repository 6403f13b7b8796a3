// Saving files and directory trees of a FAT card into a folder: the output,
// the overwrite questions, the free-space refusal, failures and names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <sys/resource.h>

#include <csignal>
#include <map>

#include "devices/scanhost.h"
#include "fat/fatread_testcard.h"
#include "fat/fatsave.h"

namespace kestrella::test {
namespace {

// A scan driver that the tests can stop, and that counts how often the
// progress timer was stopped for a dialog.
class TestHost : public QuietScanHost {
 public:
  bool stop = false;
  int progressStops = 0;
  bool StopRequested() const override { return stop; }
  void ProcessMessages() override {}
  void ProgressStopTime() override { ++progressStops; }
};

const std::string kFileQuestionTail = "\r\rWould you like to replace the existing file?";
const std::string kFolderQuestionTail =
    "\r\rIf the files in the existing folder have the same name as files you are saving, "
    "do you want to replace the existing files?";

// A FAT16 card with two photos, a file one block and three bytes long, and a
// three-byte file; a destination folder; a scripted user and scan driver.
class SaveCard : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = std::make_unique<FatCard>(16, 8192, 2);
    const std::vector<uint8_t> kodak = ReadFileBytes(Photo("exif-org_kodak-dc240.jpg"));
    originals_["A.JPG"] = ReadFileBytes(Photo("Nikon_D70.jpg"));
    originals_["C.JPG"] = ReadFileBytes(Photo("Canon_40D.jpg"));
    originals_["BLOCK3.JPG"].assign(kodak.begin(), kodak.begin() + fatsave::kSaveBufferSize + 3);
    originals_["TINY.JPG"].assign(kodak.begin() + 100, kodak.begin() + 103);
    for (auto& [name, bytes] : originals_) {
      const fs::path local = card_->dir() / ("src-" + name);
      WriteFileBytes(local, bytes);
      card_->Copy(local, name);
    }
    for (auto& [name, bytes] : originals_) first_[name] = card_->Chain(name).front();
    Mount();
    dest_ = tmp_ / "dest";
    fs::create_directory(dest_);
  }

  std::unique_ptr<TFATFile> File(const std::string& name) {
    return card_->File(name, first_.at(name), static_cast<uint32_t>(originals_.at(name).size()));
  }
  std::unique_ptr<TFATFile> FileAs(const std::string& name, const std::string& outName) {
    auto f = File(name);
    f->Name = outName;
    f->Utf8Name = outName;
    return f;
  }
  // A directory whose children are listed already (as if the directory code
  // had done it), so that saving it reads no directory.
  std::unique_ptr<TFATDirectory> Dir(const std::string& name, uint32_t cluster) {
    auto d = std::make_unique<TFATDirectory>();
    d->Drive = &card_->drive();
    d->Name = name;
    d->Utf8Name = name;
    d->FirstCluster = cluster;
    d->Nodes = std::make_shared<TNodeList>();
    return d;
  }
  TFATdrive& drive() { return card_->drive(); }
  // Mounts the card (again), its drive reporting to the test's scan driver.
  void Mount() {
    card_->Mount();
    card_->drive().SetHost(&host_);
  }
  ScriptedUi& ui() { return card_->engine().ui; }
  FaultyOutputFiles& files() { return card_->engine().files; }

  TestHost host_;  // the card's drive reports to it: declared first
  std::unique_ptr<FatCard> card_;
  std::map<std::string, std::vector<uint8_t>> originals_;
  std::map<std::string, uint32_t> first_;
  TempDir tmp_;
  fs::path dest_;
};

// ---- SaveTo -----------------------------------------------------------------

TEST_F(SaveCard, SaveToWritesTheFileUnderItsName) {
  auto a = File("A.JPG");
  EXPECT_TRUE(a->SaveTo(dest_, 1));
  EXPECT_EQ(ReadFileBytes(dest_ / "A.JPG"), originals_["A.JPG"]);
  EXPECT_TRUE(ui().shown.empty());
}

TEST_F(SaveCard, AnEmptyFileGivesAnEmptyOutputWithoutReading) {
  card_->sources().Watch(card_->sourcePath());
  Mount();
  const uint64_t before = card_->sources().Get(card_->sourcePath()).reads;
  auto empty = card_->File("EMPTY.JPG", first_["A.JPG"], 0);
  EXPECT_TRUE(empty->SaveTo(dest_, 1));
  ASSERT_TRUE(fs::is_regular_file(dest_ / "EMPTY.JPG"));
  EXPECT_EQ(fs::file_size(dest_ / "EMPTY.JPG"), 0u);
  EXPECT_EQ(card_->sources().Get(card_->sourcePath()).reads, before);
}

TEST_F(SaveCard, AReadOfThreeBytesOrLessIsWrittenBeforeTheSaveEnds) {
  // The second read of BLOCK3 delivers its last three bytes.
  for (const char* name : {"BLOCK3.JPG", "TINY.JPG"}) {
    EXPECT_TRUE(File(name)->SaveTo(dest_, 1)) << name;
    EXPECT_EQ(ReadFileBytes(dest_ / name), originals_[name]) << name;
  }
}

// An entry that starts at cluster 0 names no data: nothing is read, no
// read error is shown, and the problem says why the file is not there.
TEST_F(SaveCard, AFileStartingOutsideTheClustersIsReportedAndLeavesNoOutput) {
  card_->sources().Watch(card_->sourcePath());
  const uint64_t before = card_->sources().Get(card_->sourcePath()).reads;
  auto bad = card_->File("BAD.JPG", 0, 100);
  EXPECT_FALSE(bad->SaveTo(dest_, 1));
  EXPECT_FALSE(fs::exists(dest_ / "BAD.JPG"));
  EXPECT_TRUE(ui().shown.empty());
  EXPECT_EQ(card_->sources().Get(card_->sourcePath()).reads, before);
  const std::vector<FileProblem>& problems = card_->drive().SaveProblems.Problems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].kind, FileProblem::Kind::Lost);
  EXPECT_EQ(problems[0].reason, "its entry starts at cluster 0, which the card does not have: there is nothing to read");
}

TEST_F(SaveCard, AStoppedScanDeletesTheFileBeingWritten) {
  host_.stop = true;
  EXPECT_FALSE(File("A.JPG")->SaveTo(dest_, 1));
  EXPECT_FALSE(fs::exists(dest_ / "A.JPG"));
  EXPECT_TRUE(ui().shown.empty());
}

// The file-size limit makes the write fail as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  bool ok() const { return ok_; }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
  bool ok_ = false;
};

// A file too large for the destination (a FAT stick's 4 GiB limit, here the
// process's file-size limit) is told as such, not as a full disk.
TEST_F(SaveCard, AFailingWriteIsToldWithItsReasonAndRemovesTheOutput) {
  bool saved = true;
  {
    FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.ok());
    saved = File("A.JPG")->SaveTo(dest_, 1);
  }
  EXPECT_FALSE(saved);
  EXPECT_FALSE(fs::exists(dest_ / "A.JPG"));
  ASSERT_EQ(ui().shown.size(), 1u);
  EXPECT_EQ(ui().shown[0].text, "Could not write " + (dest_ / "A.JPG").string() + ": " + std::strerror(EFBIG));
  EXPECT_EQ(ui().shown[0].icon, MsgIcon::Warning);
  EXPECT_EQ(ui().shown[0].buttons, MsgButtons::Ok);
  EXPECT_EQ(host_.progressStops, 1);
}

TEST_F(SaveCard, ALinkUnderTheOutputNameIsNotFollowed) {
  const fs::path victim = tmp_ / "victim.txt";
  WriteFileBytes(victim, {'k', 'e', 'e', 'p'});
  fs::create_symlink(victim, dest_ / "A.JPG");
  EXPECT_FALSE(File("A.JPG")->SaveTo(dest_, 1));
  EXPECT_EQ(ReadFileBytes(victim), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_TRUE(fs::is_symlink(dest_ / "A.JPG"));
}

// ---- SaveFile ---------------------------------------------------------------

TEST_F(SaveCard, SaveFileAsksBeforeReplacing_NoKeepsTheOldFile) {
  WriteFileBytes(dest_ / "A.JPG", {'o', 'l', 'd'});
  ui().answers = {MsgResult::No};
  bool replaceAll = false;
  auto a = File("A.JPG");
  EXPECT_TRUE(drive().SaveFile(*a, dest_, 1, replaceAll));
  EXPECT_EQ(ReadFileBytes(dest_ / "A.JPG"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_FALSE(replaceAll);
  ASSERT_EQ(ui().shown.size(), 1u);
  EXPECT_EQ(ui().shown[0].text, "This folder already contains a file called '" +
                                    (dest_ / "A.JPG").string() + "'." + kFileQuestionTail);
  EXPECT_EQ(ui().shown[0].icon, MsgIcon::Question);
  EXPECT_EQ(ui().shown[0].buttons, MsgButtons::YesNoAll);
  EXPECT_EQ(host_.progressStops, 1);
}

TEST_F(SaveCard, SaveFileYesReplacesThisFile) {
  WriteFileBytes(dest_ / "A.JPG", {'o', 'l', 'd'});
  ui().answers = {MsgResult::Yes};
  bool replaceAll = false;
  auto a = File("A.JPG");
  EXPECT_TRUE(drive().SaveFile(*a, dest_, 1, replaceAll));
  EXPECT_EQ(ReadFileBytes(dest_ / "A.JPG"), originals_["A.JPG"]);
  EXPECT_FALSE(replaceAll);
}

TEST_F(SaveCard, SaveFileAllReplacesThisAndLaterFilesWithoutAsking) {
  WriteFileBytes(dest_ / "A.JPG", {'o', 'l', 'd'});
  WriteFileBytes(dest_ / "C.JPG", {'o', 'l', 'd'});
  ui().answers = {MsgResult::All};
  bool replaceAll = false;
  auto a = File("A.JPG");
  auto c = File("C.JPG");
  EXPECT_TRUE(drive().SaveFile(*a, dest_, 1, replaceAll));
  EXPECT_TRUE(replaceAll);
  EXPECT_TRUE(drive().SaveFile(*c, dest_, 1, replaceAll));
  EXPECT_EQ(ui().shown.size(), 1u);
  EXPECT_EQ(ReadFileBytes(dest_ / "A.JPG"), originals_["A.JPG"]);
  EXPECT_EQ(ReadFileBytes(dest_ / "C.JPG"), originals_["C.JPG"]);
}

TEST_F(SaveCard, SaveFileRefusesWhenTheFreeSpaceIsSmallerThanTheFile) {
  const uint32_t size = static_cast<uint32_t>(originals_["A.JPG"].size());
  bool replaceAll = false;
  auto a = File("A.JPG");
  files().SetFreeSpace(size - 1);
  EXPECT_FALSE(drive().SaveFile(*a, dest_, 1, replaceAll));
  EXPECT_EQ(files().FreeSpaceAskedFor(), dest_.string());
  EXPECT_FALSE(fs::exists(dest_ / "A.JPG"));
  ASSERT_EQ(ui().shown.size(), 1u);
  EXPECT_EQ(ui().shown[0].text, "Cannot save file A.JPG. There is not enough free space on drive " +
                                    dest_.string() + ".");
  EXPECT_EQ(ui().shown[0].icon, MsgIcon::Error);
  EXPECT_EQ(ui().shown[0].buttons, MsgButtons::Ok);
  files().SetFreeSpace(size);
  EXPECT_TRUE(drive().SaveFile(*a, dest_, 1, replaceAll));
  EXPECT_EQ(ReadFileBytes(dest_ / "A.JPG"), originals_["A.JPG"]);
}

TEST_F(SaveCard, AFolderNotThereYetIsMeasuredOnTheFileSystemAbove) {
  files().SetFreeSpace(1 << 30);
  bool replaceAll = false;
  auto a = File("A.JPG");
  EXPECT_TRUE(drive().SaveFile(*a, dest_ / "not" / "there", 1, replaceAll));
  EXPECT_EQ(files().FreeSpaceAskedFor(), dest_.string());
}

// ---- SaveDirectory ------------------------------------------------------------

TEST_F(SaveCard, SaveDirectoryWritesTheTree) {
  auto pics = Dir("PICS", 100);
  auto sub = Dir("SUB", 101);
  sub->Nodes->push_back(File("C.JPG"));
  pics->Nodes->push_back(File("A.JPG"));
  pics->Nodes->push_back(std::move(sub));
  bool replaceAll = false, replaceAnswer = false;
  EXPECT_TRUE(drive().SaveDirectory(*pics, dest_, true, false, false, 1, replaceAll, replaceAnswer));
  EXPECT_EQ(ReadFileBytes(dest_ / "PICS" / "A.JPG"), originals_["A.JPG"]);
  EXPECT_EQ(ReadFileBytes(dest_ / "PICS" / "SUB" / "C.JPG"), originals_["C.JPG"]);
  EXPECT_TRUE(ui().shown.empty());
  // A list the caller had is left to the caller.
  ASSERT_TRUE(pics->Nodes);
  EXPECT_EQ(pics->Nodes->size(), 2u);
}

TEST_F(SaveCard, SaveDirectoryWithoutRecursionLeavesSubfoldersOut) {
  auto pics = Dir("PICS", 100);
  auto sub = Dir("SUB", 101);
  sub->Nodes->push_back(File("C.JPG"));
  pics->Nodes->push_back(std::move(sub));
  pics->Nodes->push_back(File("A.JPG"));
  bool replaceAll = false, replaceAnswer = false;
  EXPECT_TRUE(drive().SaveDirectory(*pics, dest_, false, false, false, 1, replaceAll, replaceAnswer));
  EXPECT_TRUE(fs::exists(dest_ / "PICS" / "A.JPG"));
  EXPECT_FALSE(fs::exists(dest_ / "PICS" / "SUB"));
}

TEST_F(SaveCard, NoToASubfolderEndsTheRestOfItsParent) {
  fs::create_directories(dest_ / "PICS" / "SUB");
  auto pics = Dir("PICS", 100);
  auto sub = Dir("SUB", 101);
  sub->Nodes->push_back(File("C.JPG"));
  pics->Nodes->push_back(File("A.JPG"));
  pics->Nodes->push_back(std::move(sub));
  pics->Nodes->push_back(File("TINY.JPG"));
  ui().answers = {MsgResult::Yes, MsgResult::No};
  bool replaceAll = false, replaceAnswer = false;
  EXPECT_FALSE(drive().SaveDirectory(*pics, dest_, true, false, false, 1, replaceAll, replaceAnswer));
  EXPECT_FALSE(replaceAnswer);
  EXPECT_FALSE(replaceAll);
  EXPECT_TRUE(fs::exists(dest_ / "PICS" / "A.JPG"));
  EXPECT_FALSE(fs::exists(dest_ / "PICS" / "SUB" / "C.JPG"));
  EXPECT_FALSE(fs::exists(dest_ / "PICS" / "TINY.JPG"));
  ASSERT_EQ(ui().shown.size(), 2u);
  EXPECT_EQ(ui().shown[0].text, "This folder already contains a folder called 'PICS'" + kFolderQuestionTail);
  EXPECT_EQ(ui().shown[1].text, "This folder already contains a folder called 'SUB'" + kFolderQuestionTail);
  EXPECT_EQ(ui().shown[1].icon, MsgIcon::Question);
  EXPECT_EQ(ui().shown[1].buttons, MsgButtons::YesNoAll);
  EXPECT_EQ(host_.progressStops, 2);
}

TEST_F(SaveCard, YesToAFolderReplacesItsFilesWithoutAskingEach) {
  fs::create_directories(dest_ / "PICS");
  WriteFileBytes(dest_ / "PICS" / "A.JPG", {'o', 'l', 'd'});
  auto pics = Dir("PICS", 100);
  pics->Nodes->push_back(File("A.JPG"));
  ui().answers = {MsgResult::Yes};
  bool replaceAll = false, replaceAnswer = false;
  EXPECT_TRUE(drive().SaveDirectory(*pics, dest_, true, false, false, 1, replaceAll, replaceAnswer));
  EXPECT_TRUE(replaceAnswer);
  EXPECT_FALSE(replaceAll);
  EXPECT_EQ(ui().shown.size(), 1u);
  EXPECT_EQ(ReadFileBytes(dest_ / "PICS" / "A.JPG"), originals_["A.JPG"]);
}

TEST_F(SaveCard, AllToAFolderAsksNoMoreFolderQuestions) {
  fs::create_directories(dest_ / "PICS" / "SUB");
  auto pics = Dir("PICS", 100);
  auto sub = Dir("SUB", 101);
  sub->Nodes->push_back(File("C.JPG"));
  pics->Nodes->push_back(std::move(sub));
  ui().answers = {MsgResult::All};
  bool replaceAll = false, replaceAnswer = false;
  EXPECT_TRUE(drive().SaveDirectory(*pics, dest_, true, false, false, 1, replaceAll, replaceAnswer));
  EXPECT_TRUE(replaceAll);
  EXPECT_TRUE(replaceAnswer);
  EXPECT_EQ(ui().shown.size(), 1u);
  EXPECT_TRUE(fs::exists(dest_ / "PICS" / "SUB" / "C.JPG"));
}

TEST_F(SaveCard, AFolderThatCannotBeCreatedIsReportedAndSavingGoesOn) {
  WriteFileBytes(dest_ / "plain", {'x'});  // a file where a folder is needed
  auto pics = Dir("PICS", 100);
  pics->Nodes->push_back(File("A.JPG"));
  pics->Nodes->push_back(File("C.JPG"));
  bool replaceAll = false, replaceAnswer = false;
  EXPECT_TRUE(drive().SaveDirectory(*pics, dest_ / "plain", true, false, false, 1, replaceAll,
                                    replaceAnswer));
  ASSERT_EQ(ui().shown.size(), 3u);
  EXPECT_EQ(ui().shown[0].text, "Could not create directory: " + (dest_ / "plain" / "PICS").string() + "!");
  EXPECT_EQ(ui().shown[0].icon, MsgIcon::Warning);
  EXPECT_EQ(ui().shown[0].buttons, MsgButtons::Ok);
  // Both files were tried, and failed on their own, with the real reason:
  // the disk is not full.
  for (const char* name : {"A.JPG", "C.JPG"}) {
    const auto at = std::find_if(ui().shown.begin(), ui().shown.end(), [&](const auto& m) {
      return m.text == "Could not write " + (dest_ / "plain" / "PICS" / name).string() + ": " + std::strerror(ENOTDIR);
    });
    EXPECT_NE(at, ui().shown.end()) << name;
  }
}

TEST_F(SaveCard, NotEnoughSpaceStopsTheDirectory) {
  auto pics = Dir("PICS", 100);
  pics->Nodes->push_back(File("A.JPG"));
  pics->Nodes->push_back(File("TINY.JPG"));
  files().SetFreeSpace(10);
  bool replaceAll = false, replaceAnswer = false;
  EXPECT_FALSE(drive().SaveDirectory(*pics, dest_, true, false, false, 1, replaceAll, replaceAnswer));
  EXPECT_FALSE(fs::exists(dest_ / "PICS" / "A.JPG"));
  EXPECT_FALSE(fs::exists(dest_ / "PICS" / "TINY.JPG"));
  EXPECT_EQ(ui().shown.size(), 1u);
}

TEST_F(SaveCard, AStoppedScanSavesNoDirectory) {
  host_.stop = true;
  auto pics = Dir("PICS", 100);
  pics->Nodes->push_back(File("A.JPG"));
  bool replaceAll = false, replaceAnswer = false;
  EXPECT_FALSE(drive().SaveDirectory(*pics, dest_, true, false, false, 1, replaceAll, replaceAnswer));
  EXPECT_FALSE(fs::exists(dest_ / "PICS"));
}

TEST_F(SaveCard, ADirectoryThatPointsBackAtAnAncestorIsNotEnteredAgain) {
  auto pics = Dir("PICS", 100);
  auto sub = Dir("SUB", 101);
  auto back = std::make_unique<TFATDirectory>();  // no list: it would be read
  back->Drive = &drive();
  back->Name = back->Utf8Name = "BACK";
  back->FirstCluster = 100;
  auto self = std::make_unique<TFATDirectory>();
  self->Drive = &drive();
  self->Name = self->Utf8Name = "SELF";
  self->FirstCluster = 101;
  sub->Nodes->push_back(std::move(back));
  sub->Nodes->push_back(std::move(self));
  sub->Nodes->push_back(File("C.JPG"));
  pics->Nodes->push_back(std::move(sub));
  bool replaceAll = false, replaceAnswer = false;
  EXPECT_TRUE(drive().SaveDirectory(*pics, dest_, true, false, false, 1, replaceAll, replaceAnswer));
  EXPECT_TRUE(fs::exists(dest_ / "PICS" / "SUB" / "C.JPG"));
  EXPECT_FALSE(fs::exists(dest_ / "PICS" / "SUB" / "BACK"));
  EXPECT_FALSE(fs::exists(dest_ / "PICS" / "SUB" / "SELF"));
}

// ---- names from the medium ----------------------------------------------------

std::vector<fs::path> EverythingUnder(const fs::path& p) {
  std::vector<fs::path> out;
  for (auto& e : fs::recursive_directory_iterator(p)) out.push_back(e.path());
  return out;
}

TEST_F(SaveCard, NamesNeverLeaveTheDestination) {
  ASSERT_FALSE(fs::exists("/abs"));
  const auto before = EverythingUnder(tmp_.path());
  bool replaceAll = false;
  auto up = FileAs("A.JPG", "../evil");
  auto abs = FileAs("C.JPG", "/abs");
  auto dots = FileAs("TINY.JPG", "..");
  EXPECT_TRUE(up->SaveTo(dest_, 1));
  EXPECT_TRUE(drive().SaveFile(*abs, dest_, 1, replaceAll));
  auto dir = Dir("../../outside", 100);
  dir->Nodes->push_back(std::move(dots));
  bool replaceAnswer = false;
  EXPECT_TRUE(drive().SaveDirectory(*dir, dest_, true, false, false, 1, replaceAll, replaceAnswer));

  EXPECT_FALSE(fs::exists("/abs"));
  EXPECT_FALSE(fs::exists(tmp_ / "evil"));
  EXPECT_FALSE(fs::exists(tmp_.path().parent_path() / "outside"));
  // Everything new lies inside the destination: the two files, one folder
  // and the file in it.
  std::vector<fs::path> added;
  for (const fs::path& p : EverythingUnder(tmp_.path()))
    if (std::find(before.begin(), before.end(), p) == before.end()) added.push_back(p);
  ASSERT_EQ(added.size(), 4u);
  std::vector<std::vector<uint8_t>> contents;
  for (const fs::path& p : added) {
    const fs::path rel = fs::relative(p, dest_);
    EXPECT_TRUE(!rel.empty() && *rel.begin() != "..") << p;
    if (fs::is_regular_file(p)) contents.push_back(ReadFileBytes(p));
  }
  EXPECT_EQ(contents.size(), 3u);
  for (const char* name : {"A.JPG", "C.JPG", "TINY.JPG"})
    EXPECT_NE(std::find(contents.begin(), contents.end(), originals_[name]), contents.end()) << name;
}

// ---- a card's own tree --------------------------------------------------------
// Lists its directories with the directory code (AddChildren).

TEST(FatSaveCardTree, SavesTheRootTreeOfACard) {
  FatCard card(16, 8192, 2);
  const ScriptedUi& ui = card.engine().ui;
  card.MakeDir("DIR1");
  card.MakeDir("DIR1/SUB");
  card.Copy(Photo("Nikon_D70.jpg"), "B.JPG");
  card.Copy(Photo("Canon_40D.jpg"), "DIR1/A.JPG");
  card.Copy(Photo("Pentax_K10D.jpg"), "DIR1/SUB/C.JPG");
  card.Mount();
  TempDir dest;
  bool replaceAll = false, replaceAnswer = false;
  auto* root = dynamic_cast<TFATDirectory*>(card.drive().RootItem.get());
  ASSERT_NE(root, nullptr);
  ASSERT_FALSE(root->Nodes);
  EXPECT_TRUE(card.drive().SaveDirectory(*root, dest.path(), true, false, false, 1, replaceAll,
                                         replaceAnswer));
  EXPECT_FALSE(root->Nodes);  // the list made for the save is gone again
  const fs::path out = dest / SafeFileName(root->Utf8Name);
  EXPECT_EQ(Md5Of(out / "B.JPG"), Md5Of(Photo("Nikon_D70.jpg")));
  EXPECT_EQ(Md5Of(out / "DIR1" / "A.JPG"), Md5Of(Photo("Canon_40D.jpg")));
  EXPECT_EQ(Md5Of(out / "DIR1" / "SUB" / "C.JPG"), Md5Of(Photo("Pentax_K10D.jpg")));
  EXPECT_TRUE(ui.shown.empty());
}

}  // namespace
}  // namespace kestrella::test
