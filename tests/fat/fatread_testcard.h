// A FAT card image built with mkfs.fat and mtools, mounted as a volume the
// way the drive list does it: the image as a drive letter of the card's own
// engine, a logical device over it, and a TFATdrive on the device.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "devices/device.h"
#include "diskio/drivetable.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella::test {

inline CommandResult Mtools(const std::string& args) { return Run("MTOOLS_SKIP_CHECK=1 " + args); }

class FatCard {
 public:
  // A blank card: `kib` KiB formatted with `fatBits`-bit tables and
  // `sectorsPerCluster` sectors of 512 bytes per cluster.
  FatCard(int fatBits, int kib, int sectorsPerCluster) : image_(dir_ / "card.dd") {
    const CommandResult r = Run("mkfs.fat -C -F " + std::to_string(fatBits) + " -s " +
                                std::to_string(sectorsPerCluster) + " -S 512 -n TESTCARD " +
                                Quote(image_.string()) + " " + std::to_string(kib));
    EXPECT_EQ(r.exitCode, 0) << r.output;
  }
  // A card image that exists already (it is read, never changed).
  explicit FatCard(const fs::path& existing) : image_(existing) {}

  const fs::path& image() const { return image_; }
  const fs::path& dir() const { return dir_.path(); }

  void Copy(const fs::path& from, const std::string& name) {
    const CommandResult r =
        Mtools("mcopy -i " + Quote(image_.string()) + " " + Quote(from.string()) + " ::" + name);
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  void Delete(const std::string& name) {
    const CommandResult r = Mtools("mdel -i " + Quote(image_.string()) + " ::" + name);
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  void MakeDir(const std::string& name) {
    const CommandResult r = Mtools("mmd -i " + Quote(image_.string()) + " ::" + name);
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  // The clusters of a live file, in chain order, as mtools reports them.
  std::vector<uint32_t> Chain(const std::string& name) {
    const CommandResult r = Mtools("mshowfat -i " + Quote(image_.string()) + " ::" + name);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::vector<uint32_t> chain;
    static const std::regex run("<([0-9]+)(-([0-9]+))?>");
    for (std::sregex_iterator it(r.output.begin(), r.output.end(), run), end; it != end; ++it) {
      const uint32_t first = static_cast<uint32_t>(std::stoul((*it)[1]));
      const uint32_t last = (*it)[3].matched ? static_cast<uint32_t>(std::stoul((*it)[3])) : first;
      for (uint32_t c = first; c <= last; ++c) chain.push_back(c);
    }
    return chain;
  }

  // Mounts the card (again) on a new device: sector access starts from a
  // fresh open, so faults marked on the image since apply.
  void Mount() {
    drive_.reset();
    device_.reset();
    DriveTable& drives = engine_.context.drives();
    drives.Clear();
    const uint8_t n = drives.AddImage(image_.string());
    ASSERT_NE(n, 0);
    sourcePath_ = drives.Find(n)->source.path;
    device_ = std::make_unique<TDevice>(engine_.context);
    device_->Name = "testcard";
    device_->Kind = kDeviceLogical;
    device_->DriveNumber = n;
    device_->BytesPerSector = 512;
    device_->TotalSectors = static_cast<uint32_t>(fs::file_size(image_) / 512);
    drive_ = std::make_unique<TFATdrive>();
    drive_->Device = device_.get();
    drive_->SectorCount = device_->TotalSectors;
    drive_->BootSector = 0;
    drive_->StartSector = 0;
    ASSERT_TRUE(drive_->MountDrive(true));
  }

  TFATdrive& drive() { return *drive_; }
  TDevice& device() { return *device_; }
  // The engine the card is read on: its user, its sources, its output files.
  TestEngine& engine() { return engine_; }
  FaultySources& sources() { return engine_.sources; }
  // The image's path as sector access opens it (what the fake sources watch).
  const std::string& sourcePath() const { return sourcePath_; }

  // The image's bytes of `clusters`, one after the other, cut to `size`.
  std::vector<uint8_t> ClusterBytes(const std::vector<uint32_t>& clusters, size_t size) {
    const std::vector<uint8_t> all = ReadFileBytes(image_);
    const size_t bytesPerCluster = drive_->BytesPerCluster();
    std::vector<uint8_t> out;
    for (uint32_t c : clusters) {
      const size_t at = static_cast<size_t>(drive_->Cluster2Sec(c)) * 512;
      out.insert(out.end(), all.begin() + static_cast<long>(at),
                 all.begin() + static_cast<long>(at + bytesPerCluster));
    }
    if (out.size() > size) out.resize(size);
    return out;
  }

  // Writes `value` into entry `cluster` of both copies of a FAT16 table of
  // the image (the card is mounted again afterwards to read it).
  void PokeFat16(uint32_t cluster, uint16_t value) {
    std::vector<uint8_t> all = ReadFileBytes(image_);
    const uint32_t reserved = all[14] | (all[15] << 8);
    const uint32_t perFat = all[22] | (all[23] << 8);
    for (uint32_t copy = 0; copy < all[16]; ++copy) {
      const size_t at = (reserved + copy * perFat) * 512 + cluster * 2;
      all[at] = static_cast<uint8_t>(value & 0xFF);
      all[at + 1] = static_cast<uint8_t>(value >> 8);
    }
    WriteFileBytes(image_, all);
  }

  // A file node as the directory code would make it, built by hand.
  std::unique_ptr<TFATFile> File(const std::string& name, uint32_t firstCluster, uint32_t size) {
    auto f = std::make_unique<TFATFile>();
    f->Drive = drive_.get();
    f->Name = name;
    f->Utf8Name = name;
    f->FirstCluster = firstCluster;
    f->Size = size;
    return f;
  }

 private:
  TempDir dir_;
  TestEngine engine_;
  fs::path image_;
  std::string sourcePath_;
  std::unique_ptr<TDevice> device_;
  std::unique_ptr<TFATdrive> drive_;  // reads through device_: goes first
};

// A named photo of tests/data.
inline fs::path Photo(const std::string& name) { return DataPhoto(name); }

// Reads a whole file through BlockRead in calls of `count` bytes.
inline std::vector<uint8_t> ReadAll(TFATdrive& drive, uint32_t firstCluster, uint32_t size,
                                    uint8_t useFAT, uint32_t count = 4096) {
  TFATFileInfo info;
  drive.ResetByCluster(firstCluster, size, info);
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(count);
  // Each successful call delivers at least one byte until the end.
  for (uint32_t calls = 0; calls <= size; ++calls) {
    uint32_t got = 0;
    if (!drive.BlockRead(info, count, buffer.data(), useFAT, got)) {
      ADD_FAILURE() << "BlockRead failed at " << info.Position;
      break;
    }
    if (got == 0) break;
    out.insert(out.end(), buffer.begin(), buffer.begin() + got);
  }
  return out;
}

}  // namespace kestrella::test
