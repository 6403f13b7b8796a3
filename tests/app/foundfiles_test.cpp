// The save step: the card's names or numbers, skipping taken names, and what
// is deleted after.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/foundfiles.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class FoundFilesTest : public ::testing::Test {
 protected:
  // Four found files; the fourth has a lower-case extension.
  void AddFour() {
    const Strings names{"image1.JPG", "image2.JPG", "image3.TIF", "image4.jpg"};
    for (size_t i = 0; i < names.size(); ++i) {
      temps.push_back((temp / names[i]).string());
      test::WriteFileBytes(temps.back(), Bytes(i));
      list.AddImage(temps.back());
    }
    list.Image(3).ticked = false;
  }
  std::string Dest(const std::string& name) const { return (dest / name).string(); }

  // The bytes a found file was written with.
  static std::vector<uint8_t> Bytes(size_t i) { return {static_cast<uint8_t>(i + 1), 0xD8}; }

  test::TempDir temp, dest;
  Strings temps;
  test::FaultyOutputFiles files;
  FoundFileList list{files};
};

TEST_F(FoundFilesTest, TickedFilesKeepTheirNumberAndExtension) {
  AddFour();
  const SaveReport r = list.SaveSelectedImages(dest.path(), SaveNaming::Numbered("image"));
  EXPECT_TRUE(r.problems.Problems().empty());
  ASSERT_EQ(r.saved, (Strings{Dest("image1.JPG"), Dest("image2.JPG"), Dest("image4.jpg")}));
  EXPECT_EQ(test::ReadFileBytes(r.saved[2]), Bytes(3));
  EXPECT_FALSE(fs::exists(dest / "image3.TIF"));

  EXPECT_TRUE(list.DeleteImageFiles().empty());
  for (const std::string& t : temps) EXPECT_FALSE(fs::exists(t)) << t;
}

TEST_F(FoundFilesTest, ATakenNameRaisesTheNumbersForTheRestOfTheSave) {
  AddFour();
  test::WriteFileBytes(dest / "image2.JPG", {42});
  const SaveReport r = list.SaveSelectedImages(dest.path(), SaveNaming::Numbered("image"));
  EXPECT_EQ(r.saved, (Strings{Dest("image1.JPG"), Dest("image3.JPG"), Dest("image5.jpg")}));
  EXPECT_EQ(test::ReadFileBytes(dest / "image2.JPG"), std::vector<uint8_t>{42});
  EXPECT_EQ(test::ReadFileBytes(dest / "image3.JPG"), Bytes(1));
}

// The copy is made inside the kernel where it can be; between two file
// systems that cannot, it goes through a buffer. Both give the same bytes,
// also for files larger than one pass of the buffer.
TEST_F(FoundFilesTest, CopiesAreWholeWithinAndAcrossFileSystems) {
  std::vector<uint8_t> big(3 * 1024 * 1024 + 517);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  std::vector<fs::path> sources{temp / "image1.JPG"};
  // A RAM file system, where the machine has one, holds the second file.
  const fs::path shm = fs::path("/dev/shm") / ("kestrella-" + temp.path().filename().string());
  struct Remove {
    fs::path p;
    ~Remove() {
      std::error_code ec;
      fs::remove_all(p, ec);
    }
  } removeShm{shm};
  std::error_code ec;
  if (fs::create_directory(shm, ec)) sources.push_back(shm / "image2.JPG");
  for (const fs::path& p : sources) {
    test::WriteFileBytes(p, big);
    list.AddImage(p.string());
  }
  const SaveReport r = list.SaveSelectedImages(dest.path(), SaveNaming::Numbered("image"));
  ASSERT_TRUE(r.problems.Problems().empty()) << r.problems.Problems()[0].reason;
  ASSERT_EQ(r.saved.size(), sources.size());
  for (const std::string& saved : r.saved) EXPECT_EQ(test::ReadFileBytes(saved), big) << saved;
}

// Where the found files and the destination share a file system, the save
// renames them: nothing is written again. Across file systems it copies; a
// file system that cannot rename without replacing gets the name claimed
// first. Each way, a taken name is passed over, the card's time is kept and
// the destination is flushed; a failed flush is told.
TEST_F(FoundFilesTest, MovedWithinAFileSystemCopiedAcrossFlushedAtTheEnd) {
  struct Case {
    int renameError;
    int syncError;
    uint64_t bytesWritten;  // into the destination by the save
  };
  for (const Case c : {Case{0, 0, 0}, Case{EXDEV, 0, 6}, Case{EINVAL, 0, 0}, Case{0, EIO, 0}}) {
    SCOPED_TRACE(c.renameError);
    test::TempDir from, to;
    test::FaultyOutputFiles sink;
    sink.FailRename(to.path().string(), c.renameError);
    sink.FailSync(c.syncError);
    FoundFileList found(sink);
    for (size_t i = 0; i < 3; ++i) {
      test::WriteFileBytes(from / ("f" + std::to_string(i)), Bytes(i));
      FoundOrigin origin;
      origin.name = "IMG_1.JPG";
      origin.modified = 1000000000 + static_cast<int64_t>(i);
      found.AddImage((from / ("f" + std::to_string(i))).string(), origin);
    }
    test::WriteFileBytes(to / "IMG_1.JPG", {42});
    const SaveReport r = found.SaveSelectedImages(to.path(), SaveNaming{});
    ASSERT_EQ(r.saved, (Strings{(to / "IMG_1 (2).JPG").string(), (to / "IMG_1 (3).JPG").string(),
                                (to / "IMG_1 (4).JPG").string()}));
    EXPECT_TRUE(r.problems.Problems().empty());
    EXPECT_EQ(test::ReadFileBytes(to / "IMG_1.JPG"), std::vector<uint8_t>{42});
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(test::ReadFileBytes(r.saved[i]), Bytes(i));
      EXPECT_EQ(fs::last_write_time(r.saved[i]).time_since_epoch(),
                fs::last_write_time(r.saved[0]).time_since_epoch() + std::chrono::seconds(i));
    }
    EXPECT_EQ(sink.Get(to.path().string()).bytesWritten, c.bytesWritten);
    EXPECT_EQ(r.moved, c.bytesWritten == 0 ? 3u : 0u);
    EXPECT_GE(sink.Syncs(), 1);
    EXPECT_EQ(r.flushError, c.syncError == 0 ? "" : std::strerror(c.syncError));
  }
}

TEST_F(FoundFilesTest, SelectNoneSavesNothingAndTheListDeletesItsFiles) {
  {
    FoundFileList own(files);
    for (const char* n : {"a.JPG", "b.CRW"}) {
      test::WriteFileBytes(temp / n, {1});
      own.AddImage((temp / n).string());
    }
    own.SelectAll(false);
    const SaveReport r = own.SaveSelectedImages(dest.path(), SaveNaming::Numbered("image"));
    EXPECT_TRUE(r.saved.empty());
    EXPECT_TRUE(r.problems.Problems().empty());
    EXPECT_TRUE(fs::is_empty(dest.path()));
  }
  EXPECT_TRUE(fs::is_empty(temp.path()));
}

TEST_F(FoundFilesTest, AFailedCopyKeepsItsTemporaryFile) {
  AddFour();
  list.SelectAll(false);
  list.Image(2).ticked = true;
  test::WriteFileBytes(dest / "not-a-folder", {0});
  const SaveReport r = list.SaveSelectedImages(dest / "not-a-folder", SaveNaming::Numbered("image"));
  EXPECT_TRUE(r.saved.empty());
  ASSERT_EQ(r.problems.Problems().size(), 1u);
  EXPECT_EQ(r.problems.Problems()[0].file, temps[1]);
  EXPECT_EQ(r.problems.Problems()[0].target, (dest / "not-a-folder" / "image2.JPG").string());
  EXPECT_NE(r.problems.Problems()[0].reason, "");

  EXPECT_EQ(list.DeleteImageFiles(), Strings{temps[1]});
  EXPECT_TRUE(fs::exists(temps[1]));
  EXPECT_FALSE(fs::exists(temps[0]));
  EXPECT_FALSE(fs::exists(temps[3]));
}

// Stopped after the first file, the save leaves the rest in the temporary
// folder; the next save copies only those. A large file tells its progress
// in pieces, so that a window can repaint during it.
TEST_F(FoundFilesTest, AStoppedSaveKeepsTheRestForTheNextOne) {
  AddFour();
  files.FailRename(dest.path().string(), EXDEV);  // copied, in pieces
  test::WriteFileBytes(temps[0], std::vector<uint8_t>(20u << 20, 7));
  std::vector<SaveProgress> told;
  const auto stopAfterOne = [&](const SaveProgress& p) { return told.emplace_back(p).filesDone == 0; };
  const SaveReport r = list.SaveSelectedImages(dest.path(), SaveNaming::Numbered("image"), stopAfterOne);
  EXPECT_EQ(r.saved, Strings{Dest("image1.JPG")});
  EXPECT_EQ(r.notTried, (Strings{temps[1], temps[3]}));
  ASSERT_GE(told.size(), 7u);  // before, five pieces of 4 MiB, after
  EXPECT_EQ(told.front().bytesTotal, (20u << 20) + 4u);
  EXPECT_EQ(told.back().bytesDone, 20u << 20);
  const SaveReport rest = list.SaveSelectedImages(dest.path(), SaveNaming::Numbered("image"));
  EXPECT_EQ(rest.saved, (Strings{Dest("image2.JPG"), Dest("image4.jpg")}));
  EXPECT_EQ(list.UnsavedCount(), 0u);
  EXPECT_TRUE(list.DeleteImageFiles().empty());
}

TEST_F(FoundFilesTest, APrefixCannotLeaveTheDestination) {
  AddFour();
  list.SelectAll(false);
  list.Image(1).ticked = true;
  const SaveReport r = list.SaveSelectedImages(dest.path(), SaveNaming::Numbered("../up/"));
  ASSERT_EQ(r.saved.size(), 1u);
  EXPECT_EQ(r.saved[0], (dest.path() / ".._up_1.JPG").string());
  EXPECT_TRUE(fs::exists(dest.path() / ".._up_1.JPG"));
}

FoundOrigin Named(Strings folders, std::string name, int64_t modified = 0) {
  FoundOrigin o;
  o.folders = std::move(folders);
  o.name = std::move(name);
  if (modified != 0) o.modified = modified;
  return o;
}

FoundOrigin Placed(std::string kind, FoundOrigin::Unit unit, uint64_t position, bool lost) {
  FoundOrigin o;
  o.kind = std::move(kind);
  o.unit = unit;
  o.position = position;
  o.lost = lost;
  return o;
}

// With the card's names every file lands under its folders and name, a file
// nothing names under its kind and place; a name already taken (by an older
// file or by an earlier one of this save) is never replaced, and parts that
// would climb out of the destination are made plain names.
TEST_F(FoundFilesTest, CardNamesKeepFoldersNamesAndPlaces) {
  using U = FoundOrigin::Unit;
  const struct {
    FoundOrigin origin;
    const char* found;    // its name in the temporary folder
    const char* saved;    // below the destination
    const char* byKind;   // the same with one folder per kind
  } rows[] = {
      {Named({"DCIM", "100CANON"}, "IMG_0001.JPG"), "IMG_0001.JPG", "DCIM/100CANON/IMG_0001.JPG",
       "JPG/DCIM/100CANON/IMG_0001.JPG"},
      {Named({"DCIM", "101CANON"}, "IMG_0001.JPG"), "IMG_0001 (2).JPG",
       "DCIM/101CANON/IMG_0001.JPG", "JPG/DCIM/101CANON/IMG_0001.JPG"},
      {Named({"DCIM", "100CANON"}, "IMG_0001.JPG"), "IMG_0001 (3).JPG",
       "DCIM/100CANON/IMG_0001 (2).JPG", "JPG/DCIM/100CANON/IMG_0001 (2).JPG"},
      {Named({"DCIM", "100CANON"}, "IMG_0002.JPG"), "IMG_0002.JPG",
       "DCIM/100CANON/IMG_0002 (2).JPG", "JPG/DCIM/100CANON/IMG_0002.JPG"},
      {Named({"..", "a/b"}, ".."), "x.NEF", "_./a_b/_.", "NEF/_./a_b/_."},
      {Placed("JPG", U::Cluster, 1234, true), "image7.JPG", "lost/JPG-cluster-1234.JPG",
       "JPG/lost/JPG-cluster-1234.JPG"},
      {Placed("TIF", U::Sector, 2048, false), "image8.TIF", "found-by-scan/TIF-sector-2048.TIF",
       "TIF/found-by-scan/TIF-sector-2048.TIF"},
  };
  for (const bool byKind : {false, true}) {
    test::TempDir out;
    // An older file of the destination keeps its name and bytes.
    fs::create_directories(out / "DCIM" / "100CANON");
    test::WriteFileBytes(out / "DCIM" / "100CANON" / "IMG_0002.JPG", {42});
    FoundFileList own(files);
    for (size_t i = 0; i < std::size(rows); ++i) {
      const fs::path found = temp / (std::to_string(byKind) + rows[i].found);
      test::WriteFileBytes(found, {static_cast<uint8_t>(i)});
      own.AddImage(found.string(), rows[i].origin);
    }
    SaveNaming naming;
    naming.folderPerKind = byKind;
    const SaveReport r = own.SaveSelectedImages(out.path(), naming);
    EXPECT_TRUE(r.problems.Clean());
    ASSERT_EQ(r.saved.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
      const fs::path want = out / (byKind ? rows[i].byKind : rows[i].saved);
      EXPECT_EQ(r.saved[i], want.string());
      EXPECT_EQ(test::ReadFileBytes(want), std::vector<uint8_t>{static_cast<uint8_t>(i)}) << want;
    }
    EXPECT_EQ(test::ReadFileBytes(out / "DCIM" / "100CANON" / "IMG_0002.JPG"), std::vector<uint8_t>{42});
  }
}

// Numbered names can be sorted by kind as well.
TEST_F(FoundFilesTest, NumberedNamesByKind) {
  AddFour();
  SaveNaming naming = SaveNaming::Numbered("p");
  naming.folderPerKind = true;
  const SaveReport r = list.SaveSelectedImages(dest.path(), naming);
  EXPECT_EQ(r.saved, (Strings{Dest("JPG/p1.JPG"), Dest("JPG/p2.JPG"), Dest("JPG/p4.jpg")}));
}

}  // namespace
}  // namespace kestrella
