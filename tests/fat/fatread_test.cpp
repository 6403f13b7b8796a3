// Reading file data from FAT cards built with mkfs.fat and mtools: chains,
// deleted files, block boundaries, unreadable sectors, seeking and the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "fat/fatanalyser.h"
#include "fat/fatread_testcard.h"
#include "fat/fatstream.h"

namespace kestrella::test {
namespace {

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t count) {
  return std::vector<uint8_t>(v.begin() + static_cast<long>(from),
                              v.begin() + static_cast<long>(from + count));
}

// FAT16, 1 KiB clusters. Photos A..D are copied, B and D deleted, then E is
// written: it fills B's hole, skips the live C and goes on in D's old place.
class FragmentedCard : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = std::make_unique<FatCard>(16, 8192, 2);
    card_->Copy(Photo("Nikon_D70.jpg"), "A.JPG");
    card_->Copy(Photo("Pentax_K10D.jpg"), "B.JPG");
    card_->Copy(Photo("Canon_40D.jpg"), "C.JPG");
    card_->Copy(Photo("Kodak_CX7530.jpg"), "D.JPG");
    card_->Delete("B.JPG");
    card_->Delete("D.JPG");
    card_->Copy(Photo("Canon_PowerShot_S40.jpg"), "E.JPG");
    eChain_ = card_->Chain("E.JPG");
    cChain_ = card_->Chain("C.JPG");
    e_ = ReadFileBytes(Photo("Canon_PowerShot_S40.jpg"));
    // The layout the tests rely on: E is split around the live C.
    ASSERT_EQ(eChain_.size(), (e_.size() + 1023) / 1024);
    ASSERT_LT(eChain_.front(), cChain_.front());
    ASSERT_GT(eChain_.back(), cChain_.back());
  }
  FatCard& card() { return *card_; }

  std::unique_ptr<FatCard> card_;
  std::vector<uint32_t> eChain_, cChain_;
  std::vector<uint8_t> e_;
};

TEST_F(FragmentedCard, LiveFragmentedFileFollowsTheChain) {
  card().Mount();
  EXPECT_EQ(card().drive().UseFAT(), 1);
  EXPECT_EQ(ReadAll(card().drive(), eChain_.front(), static_cast<uint32_t>(e_.size()), 1), e_);
}

TEST_F(FragmentedCard, DeletedFileGoesOnWithTheNextFreeClusters) {
  card().Delete("E.JPG");
  card().Mount();
  // The erased chain gives 0 after every cluster; the free clusters after
  // each one are where the rest of the photo was written.
  EXPECT_EQ(card().drive().GetFAT(eChain_.front(), 0), 0u);
  EXPECT_EQ(ReadAll(card().drive(), eChain_.front(), static_cast<uint32_t>(e_.size()), 1), e_);
}

TEST_F(FragmentedCard, AFruitlessSearchForAFreeClusterDoesNotHideEarlierOnes) {
  card().Delete("E.JPG");
  card().Mount();
  TFATdrive& d = card().drive();
  const uint32_t early = d.NextFreeCluster(eChain_.front());
  const uint32_t last = d.ClusterCount() + 1;
  EXPECT_EQ(d.NextFreeCluster(last), last + 1);  // nothing after the last cluster
  EXPECT_EQ(d.NextFreeCluster(eChain_.front()), early);
  EXPECT_EQ(ReadAll(d, eChain_.front(), static_cast<uint32_t>(e_.size()), 1), e_);
}

TEST_F(FragmentedCard, WithoutTheTableClustersAreConsecutive) {
  card().Delete("E.JPG");
  card().Mount();
  const uint32_t size = static_cast<uint32_t>(e_.size());
  std::vector<uint32_t> consecutive(eChain_.size());
  std::iota(consecutive.begin(), consecutive.end(), eChain_.front());
  const std::vector<uint8_t> got = ReadAll(card().drive(), eChain_.front(), size, 0);
  EXPECT_EQ(got, card().ClusterBytes(consecutive, size));
  EXPECT_NE(got, e_);  // C's clusters are read in the middle
}

TEST_F(FragmentedCard, SeekLandsWhereASequentialReadWould) {
  card().Delete("E.JPG");
  card().Mount();
  TFATdrive& d = card().drive();
  TFATFileInfo info;
  d.ResetByCluster(eChain_.front(), static_cast<uint32_t>(e_.size()), info);
  // Past the live C: the 20th cluster of E is its 8th after the gap.
  const uint32_t pos = 19 * 1024 + 100;
  ASSERT_TRUE(d.Seek(info, pos, 1));
  EXPECT_EQ(info.CurrentCluster, eChain_[19]);
  EXPECT_EQ(info.Position, pos);
  std::vector<uint8_t> buf(300);
  uint32_t got = 0;
  ASSERT_TRUE(d.BlockRead(info, 300, buf.data(), 1, got));
  EXPECT_EQ(got, 300u);
  EXPECT_EQ(buf, Slice(e_, pos, 300));
}

TEST_F(FragmentedCard, SeekToTheSizeOrBeyondIsRefused) {
  card().Mount();
  TFATdrive& d = card().drive();
  TFATFileInfo info;
  const uint32_t size = static_cast<uint32_t>(e_.size());
  d.ResetByCluster(eChain_.front(), size, info);
  ASSERT_TRUE(d.Seek(info, 2000, 1));
  const TFATFileInfo before = info;
  EXPECT_FALSE(d.Seek(info, size, 1));
  EXPECT_FALSE(d.Seek(info, size + 5000, 1));
  EXPECT_EQ(info.Position, before.Position);
  EXPECT_EQ(info.CurrentCluster, before.CurrentCluster);
  // A file without a first cluster cannot be positioned at all.
  TFATFileInfo none;
  d.ResetByCluster(0, size, none);
  EXPECT_FALSE(d.Seek(none, 10, 1));
  EXPECT_EQ(none.Position, 0u);
}

// FAT12, 4 KiB clusters: three one-cluster photos X, Y, Z; Y deleted; the
// three-cluster W takes Y's cluster and the two after Z.
class ThreeClusterCard : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = std::make_unique<FatCard>(12, 8192, 8);
    card_->Copy(Photo("Olympus_C8080WZ.jpg"), "X.JPG");
    card_->Copy(Photo("Sony_HDR-HC3.jpg"), "Y.JPG");
    card_->Copy(Photo("Ricoh_Caplio_RR330.jpg"), "Z.JPG");
    card_->Delete("Y.JPG");
    card_->Copy(Photo("Canon_DIGITAL_IXUS_400.jpg"), "W.JPG");
    wChain_ = card_->Chain("W.JPG");
    zChain_ = card_->Chain("Z.JPG");
    w_ = ReadFileBytes(Photo("Canon_DIGITAL_IXUS_400.jpg"));
    ASSERT_EQ(wChain_.size(), 3u);
    ASSERT_EQ(zChain_.size(), 1u);
    ASSERT_EQ(wChain_[1], zChain_[0] + 1);  // W jumps over Z
    card_->Delete("W.JPG");
    card_->Mount();
  }
  std::unique_ptr<FatCard> card_;
  std::vector<uint32_t> wChain_, zChain_;
  std::vector<uint8_t> w_;
};

TEST_F(ThreeClusterCard, UseFatZeroReadsTheFirstClusterAndTheTwoAfterIt) {
  const uint32_t first = wChain_.front();
  const uint32_t size = static_cast<uint32_t>(w_.size());
  EXPECT_EQ(ReadAll(card_->drive(), first, size, 0),
            card_->ClusterBytes({first, first + 1, first + 2}, size));
}

TEST_F(ThreeClusterCard, UseFatOneSkipsTheLiveClusterAndRecoversThePhoto) {
  const std::vector<uint8_t> got =
      ReadAll(card_->drive(), wChain_.front(), static_cast<uint32_t>(w_.size()), 1);
  EXPECT_EQ(got, w_);
  // Not the first cluster over and over.
  EXPECT_NE(Slice(got, 4096, 4096), Slice(got, 0, 4096));
}

TEST_F(ThreeClusterCard, ShortLastChunksAndTheEnd) {
  TFATdrive& d = card_->drive();
  TFATFileInfo info;
  const uint32_t size = static_cast<uint32_t>(w_.size());  // 9198
  d.ResetByCluster(wChain_.front(), size, info);
  std::vector<uint8_t> buf(4000);
  std::vector<uint32_t> sizes;
  std::vector<uint8_t> all;
  for (int i = 0; i < 7; ++i) {
    uint32_t got = 99;
    ASSERT_TRUE(d.BlockRead(info, 4000, buf.data(), 1, got));
    sizes.push_back(got);
    all.insert(all.end(), buf.begin(), buf.begin() + got);
  }
  // A call that starts inside a sector already read delivers only the rest
  // of that sector; the last one delivers what is left of the file.
  EXPECT_EQ(sizes, (std::vector<uint32_t>{4000, 96, 4000, 96, 1006, 0, 0}));
  EXPECT_EQ(all, w_);
  EXPECT_EQ(info.Position, size);
  // Past the end is an error, at the end is not.
  info.Position = size + 1;
  uint32_t got = 99;
  EXPECT_FALSE(d.BlockRead(info, 10, buf.data(), 1, got));
  EXPECT_EQ(got, 0u);
}

TEST_F(ThreeClusterCard, AFirstChunkFromTheWindowEndsTheCall) {
  TFATdrive& d = card_->drive();
  TFATFileInfo info;
  d.ResetByCluster(wChain_.front(), static_cast<uint32_t>(w_.size()), info);
  std::vector<uint8_t> buf(2000);
  uint32_t got = 0;
  ASSERT_TRUE(d.BlockRead(info, 10, buf.data(), 1, got));
  ASSERT_EQ(got, 10u);
  // The rest of the sector is already held: only it is delivered.
  ASSERT_TRUE(d.BlockRead(info, 2000, buf.data(), 1, got));
  EXPECT_EQ(got, 502u);
  EXPECT_EQ(Slice(buf, 0, 502), Slice(w_, 10, 502));
  // The next call starts with a fresh sector and goes on across sectors.
  ASSERT_TRUE(d.BlockRead(info, 2000, buf.data(), 1, got));
  EXPECT_EQ(got, 2000u);
  EXPECT_EQ(buf, Slice(w_, 512, 2000));
}

TEST_F(ThreeClusterCard, AnUnreadableSectorIsZerosAndEndsTheCall) {
  const uint32_t bad = card_->drive().Cluster2Sec(wChain_.front()) + 1;
  card_->sources().MarkUnreadable(card_->sourcePath(), {bad});
  card_->Mount();
  TFATdrive& d = card_->drive();
  TFATFileInfo info;
  d.ResetByCluster(wChain_.front(), static_cast<uint32_t>(w_.size()), info);
  std::vector<uint8_t> buf(4096, 0xAA);
  uint32_t got = 0;
  ASSERT_TRUE(d.BlockRead(info, 4096, buf.data(), 1, got));
  ASSERT_EQ(got, 1024u);
  EXPECT_EQ(Slice(buf, 0, 512), Slice(w_, 0, 512));
  EXPECT_EQ(Slice(buf, 512, 512), std::vector<uint8_t>(512, 0));
  // The failed sector is not taken as held: reading in it asks again.
  const uint64_t failedBefore = card_->sources().Get(card_->sourcePath()).failedReads;
  info.Position = 600;
  info.CurrentCluster = wChain_.front();
  ASSERT_TRUE(d.BlockRead(info, 10, buf.data(), 1, got));
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(card_->sources().Get(card_->sourcePath()).failedReads, failedBefore + 1);
  // The sectors after it read as usual.
  info.Position = 1024;
  ASSERT_TRUE(d.BlockRead(info, 1000, buf.data(), 1, got));
  EXPECT_EQ(got, 1000u);
  EXPECT_EQ(Slice(buf, 0, 1000), Slice(w_, 1024, 1000));
}

TEST_F(ThreeClusterCard, ClustersOutsideTheVolumeCannotBeRead) {
  TFATdrive& d = card_->drive();
  std::vector<uint8_t> buf(100);
  for (uint32_t first : {0u, 1u, d.ClusterCount() + 2}) {
    TFATFileInfo info;
    d.ResetByCluster(first, 100, info);
    uint32_t got = 99;
    EXPECT_FALSE(d.BlockRead(info, 100, buf.data(), 1, got)) << first;
    EXPECT_EQ(got, 0u);
  }
}

TEST_F(ThreeClusterCard, AnEmptyFileReadsNothing) {
  card_->sources().Watch(card_->sourcePath());
  card_->Mount();
  TFATdrive& d = card_->drive();
  const uint64_t before = card_->sources().Get(card_->sourcePath()).reads;
  TFATFileInfo info;
  d.ResetByCluster(wChain_.front(), 0, info);
  std::vector<uint8_t> buf(10);
  uint32_t got = 99;
  EXPECT_TRUE(d.BlockRead(info, 10, buf.data(), 1, got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(card_->sources().Get(card_->sourcePath()).reads, before);
}

// Damaged tables on a FAT16 card: one photo on clusters 2..15.
class DamagedChainCard : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = std::make_unique<FatCard>(16, 8192, 2);
    card_->Copy(Photo("Nikon_D70.jpg"), "A.JPG");
    chain_ = card_->Chain("A.JPG");
    a_ = ReadFileBytes(Photo("Nikon_D70.jpg"));
    ASSERT_EQ(chain_.size(), 14u);
  }
  std::unique_ptr<FatCard> card_;
  std::vector<uint32_t> chain_;
  std::vector<uint8_t> a_;
};

TEST_F(DamagedChainCard, ALoopingChainEndsWithTheFileSize) {
  card_->PokeFat16(chain_[1], static_cast<uint16_t>(chain_[1]));  // points at itself
  card_->Mount();
  TFATdrive& d = card_->drive();
  const uint32_t size = static_cast<uint32_t>(a_.size());
  const std::vector<uint8_t> got = ReadAll(d, chain_.front(), size, 1, 65536);
  ASSERT_EQ(got.size(), a_.size());
  EXPECT_EQ(Slice(got, 0, 2048), Slice(a_, 0, 2048));
  EXPECT_EQ(Slice(got, 2048, 1024), Slice(a_, 1024, 1024));  // the looping cluster again
  uint32_t cluster = chain_.front();
  EXPECT_TRUE(d.GetRecPosCluster(cluster, size - 1, 1));
  EXPECT_EQ(cluster, chain_[1]);
}

TEST_F(DamagedChainCard, AnEarlyEndOfChainGoesOnWithFreeClusters) {
  card_->PokeFat16(chain_[3], 0xFFFF);
  card_->Mount();
  const uint32_t size = static_cast<uint32_t>(a_.size());
  // The clusters after the cut are still marked used; the next free ones
  // come after the photo.
  std::vector<uint32_t> expected(chain_.begin(), chain_.begin() + 4);
  for (uint32_t c = chain_.back() + 1; expected.size() < chain_.size(); ++c) expected.push_back(c);
  EXPECT_EQ(ReadAll(card_->drive(), chain_.front(), size, 1), card_->ClusterBytes(expected, size));
}

TEST_F(DamagedChainCard, AnUnreadableTableSectorGivesUnknownLinks) {
  card_->Mount();
  const uint32_t firstTableSector = card_->drive().BootRec().ReservedSectors();
  card_->sources().MarkUnreadable(card_->sourcePath(), {firstTableSector + 1});
  card_->Mount();
  TFATdrive& d = card_->drive();
  // A link in the first table sector, then the entry at the same place of
  // the second: what the first sector held there is no answer for it, and
  // neither is "free".
  const uint32_t perTableSector = 512 / 2;
  ASSERT_EQ(d.GetFAT(chain_[1], 0), chain_[2]);
  const uint32_t unknown = d.GetFAT(chain_[1] + perTableSector, 0);
  EXPECT_EQ(unknown, kFatEntryUnknown);
  EXPECT_EQ(TFATAnalyser::ClusterType(d.FATType(), unknown), kClusterUnknown);
  EXPECT_EQ(d.GetFAT(chain_[1], 0), chain_[2]);
  // The search for free clusters passes over the unknown ones.
  const uint32_t free = d.NextFreeCluster(perTableSector - 1);
  EXPECT_GE(free, 2 * perTableSector);
  EXPECT_EQ(TFATAnalyser::ClusterType(d.FATType(), d.GetFAT(free, 0)), kClusterFree);
}

TEST(FatReadBigClusters, SixtyFourKiBClusters) {
  FatCard card(12, 16384, 128);
  // Four clusters and a part of a fifth, no two clusters alike anywhere.
  std::vector<uint8_t> m(4 * 65536 + 1000);
  for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<uint8_t>(i * 7 + i / 65536);
  WriteFileBytes(card.dir() / "m.src", m);
  card.Copy(card.dir() / "m.src", "M.JPG");
  const std::vector<uint32_t> chain = card.Chain("M.JPG");
  card.Mount();
  TFATdrive& d = card.drive();
  ASSERT_EQ(d.BytesPerCluster(), 65536u);
  const uint32_t size = static_cast<uint32_t>(m.size());
  EXPECT_EQ(ReadAll(d, chain.front(), size, 1, 65536), m);
  TFATFileInfo info;
  d.ResetByCluster(chain.front(), size, info);
  ASSERT_TRUE(d.Seek(info, 3 * 65536 + 7, 1));
  EXPECT_EQ(info.CurrentCluster, chain[3]);
  std::vector<uint8_t> buf(50);
  uint32_t got = 0;
  ASSERT_TRUE(d.BlockRead(info, 50, buf.data(), 1, got));
  EXPECT_EQ(buf, Slice(m, 3 * 65536 + 7, 50));
}

// ---- the stream -------------------------------------------------------------

TEST_F(ThreeClusterCard, StreamReadsAndSeeksFromEachOrigin) {
  const uint32_t size = static_cast<uint32_t>(w_.size());
  TFATStream s(card_->drive(), wChain_.front(), size, 1);
  EXPECT_EQ(s.Size(), size);
  EXPECT_EQ(s.Position(), 0);
  std::vector<uint8_t> buf(100);
  ASSERT_EQ(s.read(buf.data(), 100), 100u);
  EXPECT_EQ(buf, Slice(w_, 0, 100));
  EXPECT_EQ(s.seek(0, 1), 100);
  EXPECT_EQ(s.seek(5000, 0), 5000);
  ASSERT_EQ(s.read(buf.data(), 100), 100u);
  EXPECT_EQ(buf, Slice(w_, 5000, 100));
  EXPECT_EQ(s.seek(-200, 1), 4900);
  ASSERT_EQ(s.read(buf.data(), 100), 100u);
  EXPECT_EQ(buf, Slice(w_, 4900, 100));
  EXPECT_EQ(s.seek(-10, 2), size - 10);
  EXPECT_EQ(s.read(buf.data(), 100), 10u);
  EXPECT_EQ(Slice(buf, 0, 10), Slice(w_, size - 10, 10));
  EXPECT_EQ(s.read(buf.data(), 100), 0u);
  EXPECT_EQ(s.Position(), size);
}

TEST_F(ThreeClusterCard, StreamSeekToTheEndMovesOnlyTheStreamsPosition) {
  const uint32_t size = static_cast<uint32_t>(w_.size());
  TFATStream s(card_->drive(), wChain_.front(), size, 1);
  ASSERT_EQ(s.seek(300, 0), 300);
  EXPECT_EQ(s.seek(0, 2), size);
  EXPECT_EQ(s.Position(), size);
  EXPECT_EQ(s.Info().Position, 300u);
  std::vector<uint8_t> buf(4);
  ASSERT_EQ(s.read(buf.data(), 4), 4u);
  EXPECT_EQ(buf, Slice(w_, 300, 4));
  EXPECT_EQ(s.Position(), 304);
  // Unknown origins and impossible positions leave the reads where they are.
  EXPECT_EQ(s.seek(10, 7), 304);
  EXPECT_EQ(s.seek(-1000, 1), -696);
  EXPECT_EQ(s.Info().Position, 304u);
}

TEST_F(ThreeClusterCard, StreamSetPositionAnswersWithTheDrive) {
  const uint32_t size = static_cast<uint32_t>(w_.size());
  TFATStream s(card_->drive(), wChain_.front(), size, 1);
  EXPECT_TRUE(s.SetPosition(8000));
  EXPECT_EQ(s.Position(), 8000);
  EXPECT_FALSE(s.SetPosition(size));
  EXPECT_FALSE(s.SetPosition(-1));
  EXPECT_EQ(s.Position(), 8000);
  std::vector<uint8_t> buf(16);
  ASSERT_EQ(s.read(buf.data(), 16), 16u);
  EXPECT_EQ(buf, Slice(w_, 8000, 16));
}

TEST_F(ThreeClusterCard, StreamOverAnUnreadableFileReadsNothing) {
  TFATStream s(card_->drive(), 0, 500, 1);
  std::vector<uint8_t> buf(100);
  EXPECT_EQ(s.read(buf.data(), 100), 0u);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_FALSE(s.SetPosition(10));
}

}  // namespace
}  // namespace kestrella::test
