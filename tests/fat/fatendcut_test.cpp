// A file the lost hunt found by its first bytes is saved through the end
// finder of its kind (scripted here: when it learns of an end, and where).
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "detect/fileend.h"
#include "fat/fatread_testcard.h"

namespace kestrella::test {
namespace {

using State = FileEndFinder::State;
constexpr uint32_t kBlock = 65536;  // what a save reads at a time

struct ScriptedFinder : FileEndFinder {
  ScriptedFinder(State outcome, uint64_t knownAt, uint64_t end, std::vector<uint8_t>& fed)
      : outcome(outcome), knownAt(knownAt), end(end), fed(fed) {}
  State Feed(const uint8_t* data, size_t size) override {
    if (state != State::NeedMore) return state;
    fed.insert(fed.end(), data, data + size);
    if (fed.size() >= knownAt) state = outcome;
    return state;
  }
  State Current() const override { return state; }
  uint64_t End() const override { return end; }
  State state = State::NeedMore, outcome;
  uint64_t knownAt, end;
  std::vector<uint8_t>& fed;
};

TEST(EndCut, SavesUpToTheEndTheFinderFoundAndNeverCutsWhatWasWritten) {
  const struct {
    bool bySignature;
    std::optional<State> outcome;  // nullopt: no finder for the kind
    uint64_t knownAt, end, saved;
  } cases[] = {
      {true, std::nullopt, 0, 0, 300000},
      {true, State::Ended, 70000, 70000, 70000},
      {true, State::Ended, 70000 + kBlock, 70000, 70000},  // learnt one block later
      {true, State::Ended, 4 * kBlock, 1000, 2 * kBlock},  // learnt after more was written
      {true, State::NoEnd, 100000, 0, 300000},
      {false, State::Ended, 1, 1, 300000},  // a file with an entry has its own size
  };
  FatCard card(16, 8192, 1);
  std::vector<uint8_t> image = ReadFileBytes(card.image());
  for (size_t i = image.size() / 2; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 37 >> 5);
  WriteFileBytes(card.image(), image);
  card.Mount();
  const uint32_t first = card.drive().ClusterCount() - 4000, size = 300000;
  std::vector<uint32_t> clusters;
  for (uint32_t k = 0; k * 512 < size; ++k) clusters.push_back(first + k);
  const std::vector<uint8_t> whole = card.ClusterBytes(clusters, size);
  for (const auto& c : cases) {
    std::vector<uint8_t> fed;
    card.drive().EndFinders = [&](std::string_view kind) -> std::unique_ptr<FileEndFinder> {
      EXPECT_EQ(kind, "JPG");
      return c.outcome ? std::make_unique<ScriptedFinder>(*c.outcome, c.knownAt, c.end, fed) : nullptr;
    };
    auto file = card.File("found.JPG", first, size);
    if (c.bySignature) file->SignatureKind = "JPG";
    ASSERT_TRUE(file->SaveTo(card.dir(), card.drive().UseFAT()));
    const std::vector<uint8_t> saved = ReadFileBytes(card.dir() / "found.JPG");
    EXPECT_EQ(saved.size(), c.saved) << c.knownAt;
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), whole.begin())) << c.knownAt;
    // The finder saw the file's bytes from its first on, in order.
    EXPECT_TRUE(fed.size() <= size && std::equal(fed.begin(), fed.end(), whole.begin())) << c.knownAt;
  }
  EXPECT_TRUE(card.drive().SaveProblems.Clean());
}

}  // namespace
}  // namespace kestrella::test
