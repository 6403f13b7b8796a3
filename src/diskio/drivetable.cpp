#include "diskio/drivetable.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "diskio/bootsector.h"
#include "diskio/sourcefile.h"
#include "diskio/systemdisk.h"
#include "util/sizetext.h"

namespace kestrella {

namespace fs = std::filesystem;

namespace {


uint64_t ReadSysNumber(const fs::path& p, uint64_t fallback) {
  std::string s = ReadSysText(p);
  if (s.empty()) return fallback;
  try {
    return std::stoull(s);
  } catch (...) {
    return fallback;
  }
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string RootDeviceNumber() {
  struct stat st {};
  if (::stat("/", &st) != 0) return {};
  return std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
}

// Whether an mmcblk disk is built-in eMMC rather than a card in a slot: the
// MMC core names its kind in device/type ("MMC" for eMMC, "SD" for cards).
bool InternalEmmc(const fs::path& diskDir) {
  return ReadSysText(diskDir / "device" / "type") == "MMC";
}

// Reads one block device's description from its sysfs folder. Returns false
// for devices that are not drives a user would pick.
bool DescribeBlockDevice(const fs::path& dir, const std::string& name, const std::string& devDir,
                         DriveSource& out) {
  const bool partition = fs::exists(dir / "partition");
  std::error_code ec;
  // A partition's folder sits inside its disk's folder; the disk holds the
  // removable flag and the queue limits.
  fs::path parent = fs::canonical(dir, ec).parent_path();
  if (ec) parent = dir.parent_path();

  out = DriveSource{};
  out.name = name;
  out.path = (fs::path(devDir) / name).string();
  out.wholeDisk = !partition;
  out.sizeBytes = ReadSysNumber(dir / "size", 0) * 512;  // sysfs counts 512-byte units
  uint64_t lbs = ReadSysNumber(dir / "queue" / "logical_block_size", 0);
  if (lbs == 0 && partition) lbs = ReadSysNumber(parent / "queue" / "logical_block_size", 0);
  out.sectorSize = lbs == 0 ? 512 : static_cast<uint32_t>(lbs);
  uint64_t removable = ReadSysNumber(dir / "removable", 2);
  if (removable == 2 && partition) removable = ReadSysNumber(parent / "removable", 0);
  const bool readOnly = ReadSysNumber(dir / "ro", 0) != 0;
  out.readOnly = readOnly;

  // Unused loop devices, and attached read-only ones (packaged software
  // images), are not media anybody recovers.
  if (StartsWith(name, "loop") && (out.sizeBytes == 0 || readOnly)) return false;
  // eMMC hardware boot areas and the replay-protected block.
  if (StartsWith(name, "mmcblk") &&
      (name.find("boot") != std::string::npos || EndsWith(name, "rpmb")))
    return false;

  if (StartsWith(name, "sr")) {
    out.rootType = RootKind::CDROM;
    out.removable = true;
  } else if (StartsWith(name, "fd")) {
    out.rootType = RootKind::Removable;
    out.removable = true;
    out.floppy = true;
  } else if (StartsWith(name, "ram") || StartsWith(name, "zram")) {
    out.rootType = RootKind::RamDisk;
  } else if (removable == 1 || (StartsWith(name, "mmcblk") && !InternalEmmc(partition ? parent : dir))) {
    // SD slots on laptops report themselves fixed, but hold camera cards;
    // the eMMC soldered into a laptop or board is the system's own disk.
    out.rootType = RootKind::Removable;
    out.removable = true;
  } else {
    out.rootType = RootKind::Fixed;
  }
  // A reader without a card has size 0 and stays listed ("not ready"); any
  // other empty device is no drive.
  if (out.sizeBytes == 0 && !out.removable) return false;
  return true;
}

constexpr uint32_t kImageSector = 512;

}  // namespace

std::vector<FatPartition> ImageFatPartitions(const std::string& path) {
  // Opened for a query only: the look at the table is no read a test's
  // probe should count.
  SourceFile file;
  uint64_t bytes = 0;
  uint32_t sectorSize = 0;
  if (!file.OpenForQuery(path) || !file.QuerySize(bytes, sectorSize)) return {};
  // A card formatted without a table starts with its boot sector, which ends
  // in 55 AA as a table does.
  uint8_t first[kImageSector];
  if (!file.ReadAt(0, first, sizeof first) || LooksLikeBootSector(first, sizeof first)) return {};
  PartitionedDisk disk;
  disk.sectors = bytes / kImageSector;
  disk.sectorBytes = kImageSector;
  disk.read = [&file](uint64_t sector, uint8_t* buffer) {
    return file.ReadAt(sector * kImageSector, buffer, kImageSector);
  };
  return ReadFatPartitions(disk);
}

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      size_t i2 = i, j2 = j;
      while (i2 < a.size() && std::isdigit(static_cast<unsigned char>(a[i2]))) ++i2;
      while (j2 < b.size() && std::isdigit(static_cast<unsigned char>(b[j2]))) ++j2;
      std::string da = a.substr(i, i2 - i), db = b.substr(j, j2 - j);
      da.erase(0, std::min(da.find_first_not_of('0'), da.size()));
      db.erase(0, std::min(db.find_first_not_of('0'), db.size()));
      if (da.size() != db.size()) return da.size() < db.size();
      if (da != db) return da < db;
      i = i2;
      j = j2;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

std::string DriveEntry::Caption() const {
  std::string shown = source.path;
  if (source.partition != 0) shown += " (partition " + std::to_string(source.partition) + ")";
  return shown + " - " + FormatByteSize(source.sizeBytes);
}

void DriveTable::Clear() {
  devices_.clear();
  images_.clear();
  rootName_.clear();
  drives_.clear();
}

void DriveTable::ScanSystem(const SystemRoots& roots) {
  devices_.clear();
  rootName_.clear();
  const std::string rootDev = roots.rootDevice.empty() ? RootDeviceNumber() : roots.rootDevice;
  std::string mountInfo = roots.mountInfo;
  if (mountInfo.empty() && roots.rootDevice.empty()) mountInfo = "/proc/self/mountinfo";
  const std::set<std::string> systemDisks = SystemDiskNames(mountInfo, roots.sysClassBlock, rootDev);
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(roots.sysClassBlock, ec)) {
    std::string name = e.path().filename().string();
    DriveSource src;
    if (!DescribeBlockDevice(e.path(), name, roots.devDir, src)) continue;
    if (!rootDev.empty() && ReadSysText(e.path() / "dev") == rootDev) rootName_ = name;
    src.systemDisk = systemDisks.count(WholeDiskName(roots.sysClassBlock, name)) != 0;
    devices_.push_back(std::move(src));
  }
  std::sort(devices_.begin(), devices_.end(),
            [](const DriveSource& a, const DriveSource& b) { return NaturalLess(a.name, b.name); });
  AssignLetters();
}

uint8_t DriveTable::AddImage(const std::string& path) {
  std::error_code ec;
  fs::path canon = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) return 0;
  if (const DriveEntry* e = FindByPath(canon.string())) return e->number;

  struct stat st {};
  if (::stat(canon.c_str(), &st) != 0) return 0;
  DriveSource src;
  src.path = canon.string();
  src.name = canon.filename().string();
  src.isImage = true;
  // An image is a card taken out of its reader: a removable whole disk.
  src.wholeDisk = true;
  src.removable = true;
  src.rootType = RootKind::Removable;
  if (S_ISREG(st.st_mode)) {
    src.sizeBytes = static_cast<uint64_t>(st.st_size);
  } else if (S_ISBLK(st.st_mode)) {
    // A device the system scan left out (or that was never scanned): its
    // size comes from sector access when it is opened.
    src.sizeBytes = 0;
  } else {
    return 0;
  }
  const size_t firstNew = images_.size();
  images_.push_back(src);
  if (S_ISREG(st.st_mode)) {
    // Each FAT partition of a disk image reads as a card of its own: the
    // engine works on volumes that start at their drive's sector 0.
    uint32_t number = 0;
    for (const FatPartition& p : ImageFatPartitions(src.path)) {
      DriveSource part = src;
      part.partition = ++number;
      part.name = src.name + " (partition " + std::to_string(number) + ")";
      part.wholeDisk = false;
      part.offsetBytes = p.firstSector * kImageSector;
      part.lengthBytes = p.sectors * kImageSector;
      part.sizeBytes = part.lengthBytes;
      images_.push_back(std::move(part));
    }
  }
  AssignLetters();
  const DriveEntry* e = FindByPath(src.path);
  if (e == nullptr) {  // no letter left
    images_.resize(firstNew);
    AssignLetters();
    return 0;
  }
  return e->number;
}

void DriveTable::AssignLetters() {
  drives_.clear();
  auto add = [this](uint8_t number, const DriveSource& s) {
    DriveEntry e;
    e.number = number;
    e.source = s;
    drives_.push_back(std::move(e));
  };
  std::vector<bool> taken(kDriveZ + 1, false);
  std::vector<const DriveSource*> rest;
  for (const DriveSource& d : devices_) {
    uint8_t fixedLetter = 0;
    if (d.name == "fd0") fixedLetter = kDriveA;
    else if (d.name == "fd1") fixedLetter = kDriveB;
    else if (!rootName_.empty() && d.name == rootName_) fixedLetter = kDriveC;
    if (fixedLetter != 0) {
      add(fixedLetter, d);
      taken[fixedLetter] = true;
    } else {
      rest.push_back(&d);
    }
  }
  for (const DriveSource& d : images_) rest.push_back(&d);
  uint8_t next = kDriveD;
  for (const DriveSource* d : rest) {
    while (next <= kDriveZ && taken[next]) ++next;
    if (next > kDriveZ) break;
    add(next, *d);
    taken[next] = true;
  }
  std::sort(drives_.begin(), drives_.end(),
            [](const DriveEntry& a, const DriveEntry& b) { return a.number < b.number; });
}

const DriveEntry* DriveTable::Find(uint8_t number) const {
  for (const DriveEntry& e : drives_)
    if (e.number == number) return &e;
  return nullptr;
}

const DriveEntry* DriveTable::FindByPath(const std::string& path) const {
  for (const DriveEntry& e : drives_)
    if (e.source.path == path && e.source.partition == 0) return &e;
  return nullptr;
}

std::vector<std::pair<uint8_t, std::string>> DriveTable::PhysicalDisks() const {
  std::vector<std::pair<uint8_t, std::string>> out;
  for (const DriveSource& d : devices_) {
    if (d.name == "fd0") out.emplace_back(kBiosFloppyA, d.path);
    if (d.name == "fd1") out.emplace_back(kBiosFloppyB, d.path);
  }
  unsigned disks = 0;
  auto addDisk = [&](const DriveSource& d) {
    if (const std::optional<uint8_t> bios = HardDiskBiosNumber(disks)) {
      out.emplace_back(*bios, d.path);
      ++disks;
    }
  };
  for (const DriveSource& d : devices_)
    if (d.wholeDisk && !d.floppy && d.rootType != RootKind::CDROM) addDisk(d);
  for (const DriveSource& d : images_)
    if (d.wholeDisk) addDisk(d);
  return out;
}

std::optional<std::string> DriveTable::PhysicalDiskPath(uint8_t biosNumber) const {
  for (const auto& [number, path] : PhysicalDisks())
    if (number == biosNumber) return path;
  return std::nullopt;
}

}  // namespace kestrella
