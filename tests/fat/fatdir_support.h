// Shared pieces of the FAT directory tests: cards made with mkfs.fat and
// mtools, entries written by hand, volumes mounted from image files, and
// listings of their trees.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/device.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"
#include "support/fakes.h"
#include "support/testsupport.h"

namespace kestrella::test {

// A command line that must succeed (a failure fails the calling test).
bool Sh(const std::string& commandLine);
// mtools on an image: Mtools("mmd", img, "::/DCIM").
bool Mtools(const std::string& tool, const fs::path& image, const std::string& args);
bool MakeCard(const fs::path& image, const std::string& mkfsOptions, uint32_t sizeKb);
fs::path MakeFile(const fs::path& dir, const std::string& name, size_t size);

// Where things lie in an image, read by the test from its boot sector.
struct Layout {
  uint32_t reserved, fats, sectorsPerFat, perCluster, rootStart, firstData, rootCluster;
  explicit Layout(const std::vector<uint8_t>& image);
  uint64_t FatOffset(uint32_t copy) const { return (reserved + uint64_t{copy} * sectorsPerFat) * 512; }
  uint64_t RootOffset() const { return uint64_t{rootStart} * 512; }
  uint64_t ClusterOffset(uint32_t c) const { return (uint64_t{c - 2} * perCluster + firstData) * 512; }
};
// A table entry written into every copy.
void SetFat(std::vector<uint8_t>& image, const Layout& l, int bits, uint32_t cluster, uint32_t value);

TDirEntry ShortEntry(const std::string& name11, uint8_t attributes, uint32_t cluster, uint32_t size = 0);
// A long name's entries as stored (last part first), then the short entry.
std::vector<TDirEntry> Named(const std::u16string& longName, const TDirEntry& shortEntry);
void Put(std::vector<uint8_t>& image, uint64_t offset, const std::vector<TDirEntry>& entries);

// A FAT volume of an image file, read through the logical drive path of an
// engine of its own (whose user the volume's messages go to).
class ImageVolume {
 public:
  bool Mount(const fs::path& image, bool silent = true);
  TFATDirectory& Root() { return static_cast<TFATDirectory&>(*drive.RootItem); }
  TFATDirectory& Deleted() { return static_cast<TFATDirectory&>(*drive.DeletedItem); }
  // The device of the latest Mount.
  TDevice& device() { return *devices_.back(); }

  TestEngine engine;
  TFATdrive drive;

 private:
  // A new device for every Mount, so that sector access starts from a fresh
  // open: the image may have been made anew under the same name since.
  // Earlier ones stay for drives that still read through them.
  std::vector<std::unique_ptr<TDevice>> devices_;
};

// A node met by a tree walk; path = GetPath of the node plus its shown name,
// directories ending with "\".
struct Listed {
  std::string path, name;
  uint32_t size = 0, cluster = 0;
  bool dir = false, deleted = false;
  uint8_t condition = 0;
};
std::vector<Listed> Walk(TFATDirectory& dir, bool includeDeleted, bool deletedOnly, bool recurse = true);
std::vector<std::string> Paths(const std::vector<Listed>& listed);  // sorted
const Listed* Find(const std::vector<Listed>& listed, const std::string& path);

}  // namespace kestrella::test
