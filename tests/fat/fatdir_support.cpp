#include "fatdir_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "diskio/drivetable.h"

namespace kestrella::test {

bool Sh(const std::string& commandLine) {
  const CommandResult r = Run(commandLine);
  if (r.exitCode != 0) ADD_FAILURE() << commandLine << "\n" << r.output;
  return r.exitCode == 0;
}

bool Mtools(const std::string& tool, const fs::path& image, const std::string& args) {
  return Sh("MTOOLS_SKIP_CHECK=1 " + tool + " -i " + Quote(image.string()) + " " + args);
}

bool MakeCard(const fs::path& image, const std::string& mkfsOptions, uint32_t sizeKb) {
  fs::remove(image);
  return Sh("mkfs.fat " + mkfsOptions + " -C " + Quote(image.string()) + " " + std::to_string(sizeKb) + " >/dev/null");
}

fs::path MakeFile(const fs::path& dir, const std::string& name, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + name.size());
  WriteFileBytes(dir / name, bytes);
  return dir / name;
}

Layout::Layout(const std::vector<uint8_t>& b) {
  reserved = Le16(&b[14]);
  fats = b[16];
  sectorsPerFat = Le16(&b[22]) != 0 ? Le16(&b[22]) : Le32(&b[36]);
  perCluster = b[13];
  const uint32_t rootEntries = Le16(&b[17]);
  firstData = reserved + fats * sectorsPerFat + (rootEntries * 32 + 511) / 512;
  rootCluster = rootEntries == 0 ? Le32(&b[44]) : 0;
  rootStart = rootCluster == 0 ? reserved + fats * sectorsPerFat : (rootCluster - 2) * perCluster + firstData;
}

void SetFat(std::vector<uint8_t>& image, const Layout& l, int bits, uint32_t cluster, uint32_t value) {
  for (uint32_t copy = 0; copy < l.fats; ++copy) {
    uint8_t* p = image.data() + l.FatOffset(copy) + (bits == 12 ? cluster + cluster / 2 : cluster * bits / 8);
    if (bits == 12) {
      const uint16_t old = static_cast<uint16_t>(p[0] | (p[1] << 8));
      const uint16_t word = (cluster & 1) != 0 ? static_cast<uint16_t>((old & 0x000F) | (value << 4))
                                               : static_cast<uint16_t>((old & 0xF000) | (value & 0x0FFF));
      p[0] = static_cast<uint8_t>(word);
      p[1] = static_cast<uint8_t>(word >> 8);
    } else {
      for (int i = 0; i < bits / 8; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
    }
  }
}

TDirEntry ShortEntry(const std::string& name11, uint8_t attributes, uint32_t cluster, uint32_t size) {
  TDirEntry e;
  for (size_t i = 0; i < 11; ++i) e.raw[i] = i < name11.size() ? static_cast<uint8_t>(name11[i]) : ' ';
  e.raw[11] = attributes;
  const uint32_t words[] = {cluster >> 16, (12u << 11) | (34u << 5), (41u << 9) | (6u << 5) | 15u, cluster};
  for (int w = 0; w < 4; ++w) {  // cluster high, time 12:34, date 15.06.2021, cluster low
    e.raw[20 + 2 * w] = static_cast<uint8_t>(words[w]);
    e.raw[21 + 2 * w] = static_cast<uint8_t>(words[w] >> 8);
  }
  for (int i = 0; i < 4; ++i) e.raw[28 + i] = static_cast<uint8_t>(size >> (8 * i));
  return e;
}

std::vector<TDirEntry> Named(const std::u16string& name, const TDirEntry& shortEntry) {
  static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + shortEntry.raw[i]);
  const size_t parts = (name.size() + 12) / 13;
  std::vector<TDirEntry> out;
  for (size_t k = parts; k >= 1; --k) {
    TDirEntry e;
    e.raw[0] = static_cast<uint8_t>(k | (k == parts ? 0x40 : 0));
    e.raw[11] = kAttrLongName;
    e.raw[13] = sum;
    for (size_t j = 0; j < 13; ++j) {
      const size_t at = (k - 1) * 13 + j;  // after the name: one 0, then 0xFFFF
      const uint16_t unit = at < name.size() ? name[at] : at == name.size() ? 0 : 0xFFFF;
      e.raw[kOffsets[j]] = static_cast<uint8_t>(unit);
      e.raw[kOffsets[j] + 1] = static_cast<uint8_t>(unit >> 8);
    }
    out.push_back(e);
  }
  out.push_back(shortEntry);
  return out;
}

void Put(std::vector<uint8_t>& image, uint64_t offset, const std::vector<TDirEntry>& entries) {
  for (const TDirEntry& e : entries) {
    std::copy(e.raw.begin(), e.raw.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
    offset += 32;
  }
}

bool ImageVolume::Mount(const fs::path& image, bool silent) {
  DriveTable& drives = engine.context.drives();
  drives.Clear();
  TDevice& device = *devices_.emplace_back(std::make_unique<TDevice>(engine.context));
  device.DriveNumber = drives.AddImage(image.string());
  device.Kind = kDeviceLogical;
  device.TotalSectors = static_cast<uint32_t>(fs::file_size(image) / 512);
  device.BytesPerSector = 512;
  drive.Device = &device;
  drive.SectorCount = device.TotalSectors;
  return device.DriveNumber != 0 && drive.MountDrive(silent);
}

std::vector<Listed> Walk(TFATDirectory& dir, bool includeDeleted, bool deletedOnly, bool recurse) {
  std::vector<Listed> out;
  auto visit = [&](TCustomNode& node, intptr_t) {
    Listed l;
    if (auto* d = dynamic_cast<TFATDirectory*>(&node)) {
      l = {d->GetPath(&dir) + "\\", d->Name, 0, d->FirstCluster, true, (d->Flags & kNodeDeleted) != 0, d->Condition};
    } else if (auto* f = dynamic_cast<TFATFile*>(&node)) {
      const std::string parent = f->GetPath(&dir);
      l = {(parent.empty() ? "" : parent + "\\") + ReplaceDeletedChar(f->Utf8Name), f->Name, f->Size,
           f->FirstCluster, false, (f->Flags & kNodeDeleted) != 0, f->Condition};
    }
    out.push_back(l);
    return true;
  };
  EXPECT_TRUE(dir.ForEachChild(visit, includeDeleted, deletedOnly, recurse, 0));
  return out;
}

std::vector<std::string> Paths(const std::vector<Listed>& listed) {
  std::vector<std::string> out;
  for (const Listed& l : listed) out.push_back(l.path);
  std::sort(out.begin(), out.end());
  return out;
}

const Listed* Find(const std::vector<Listed>& listed, const std::string& path) {
  for (const Listed& l : listed)
    if (l.path == path) return &l;
  return nullptr;
}

}  // namespace kestrella::test
