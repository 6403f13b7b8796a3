// A file the lost hunt found by its first bytes is saved through the end
// finder of its kind: cut where the finder says it ends, whole where it
// finds none. The finders here are scripted: they say when they learn of
// an end and where it is.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "detect/fileend.h"
#include "fat/fatread_testcard.h"

namespace kestrella::test {
namespace {

class ScriptedFinder : public FileEndFinder {
 public:
  // After `knownAt` bytes the state turns to `outcome`, with the end at `end`.
  ScriptedFinder(State outcome, uint64_t knownAt, uint64_t end, std::vector<uint8_t>& fed)
      : outcome_(outcome), knownAt_(knownAt), end_(end), fed_(fed) {}
  State Feed(const uint8_t* data, size_t size) override {
    if (state_ != State::NeedMore) return state_;
    fed_.insert(fed_.end(), data, data + size);
    if (fed_.size() >= knownAt_) state_ = outcome_;
    return state_;
  }
  State Current() const override { return state_; }
  uint64_t End() const override { return end_; }

 private:
  State state_ = State::NeedMore;
  State outcome_;
  uint64_t knownAt_, end_;
  std::vector<uint8_t>& fed_;
};

using State = FileEndFinder::State;
constexpr uint32_t kBlock = 65536;  // what a save reads at a time

struct CutCase {
  const char* what;
  bool foundBySignature;
  std::optional<State> outcome;  // nullopt: no finder for the kind
  uint64_t knownAt, end;
  uint64_t savedSize;
};

class EndCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(EndCut, SavesUpToTheEndTheFinderFound) {
  const CutCase c = GetParam();
  FatCard card(16, 8192, 1);
  std::vector<uint8_t> image = ReadFileBytes(card.image());
  for (size_t i = image.size() / 2; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 37 >> 5);
  WriteFileBytes(card.image(), image);
  card.Mount();
  TFATdrive& drive = card.drive();
  const uint32_t first = drive.ClusterCount() - 4000;
  const uint32_t size = 300000;
  std::vector<uint8_t> fed;
  drive.EndFinders = [&](std::string_view kind) -> std::unique_ptr<FileEndFinder> {
    EXPECT_EQ(kind, "JPG");
    if (!c.outcome) return nullptr;
    return std::make_unique<ScriptedFinder>(*c.outcome, c.knownAt, c.end, fed);
  };
  auto file = card.File("found.JPG", first, size);
  if (c.foundBySignature) file->SignatureKind = "JPG";
  ASSERT_TRUE(file->SaveTo(card.dir(), drive.UseFAT()));
  std::vector<uint32_t> clusters;
  for (uint32_t k = 0; k * 512 < size; ++k) clusters.push_back(first + k);
  const std::vector<uint8_t> whole = card.ClusterBytes(clusters, size);
  const std::vector<uint8_t> saved = ReadFileBytes(card.dir() / "found.JPG");
  EXPECT_EQ(saved.size(), c.savedSize);
  EXPECT_TRUE(std::equal(saved.begin(), saved.end(), whole.begin()));
  // The finder saw the file's bytes from its first on, in order.
  ASSERT_LE(fed.size(), whole.size());
  EXPECT_TRUE(std::equal(fed.begin(), fed.end(), whole.begin()));
  EXPECT_TRUE(drive.SaveProblems.Clean());
}

INSTANTIATE_TEST_SUITE_P(
    Finders, EndCut,
    ::testing::Values(
        CutCase{"NoFinderForTheKind", true, std::nullopt, 0, 0, 300000},
        CutCase{"EndInsideTheBlockThatShowsIt", true, State::Ended, 70000, 70000, 70000},
        CutCase{"EndLearntOneBlockLater", true, State::Ended, 70000 + kBlock, 70000, 70000},
        // Learnt so late that more was written: nothing is cut away.
        CutCase{"EndLearntTooLate", true, State::Ended, 4 * kBlock, 1000, 2 * kBlock},
        CutCase{"NoEndInTheBytes", true, State::NoEnd, 100000, 0, 300000},
        CutCase{"EndNeverFoundBeforeTheSize", true, State::Ended, 400000, 350000, 300000},
        // A file with an entry has its own size.
        CutCase{"FileWithAnEntry", false, State::Ended, 1, 1, 300000}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace kestrella::test
