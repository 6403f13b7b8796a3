#include "fat/fatdrive.h"

#include <algorithm>

#include "devices/device.h"
#include "fat/fatanalyser.h"
#include "fat/fatnodes.h"
#include "util/userinterface.h"

namespace kestrella {

namespace {

void Inform(UserInterface& ui, bool silent, const std::string& text) {
  if (!silent) ui.MessageBox(text, "Information", MsgIcon::Information, MsgButtons::Ok);
}

}  // namespace

std::string ReplaceDeletedChar(const std::string& name) {
  std::string out = name;
  if (!out.empty() && static_cast<uint8_t>(out[0]) == kDeletedMarker) out[0] = '_';
  return out;
}

TFATdrive::TFATdrive() : Analyser(std::make_unique<TFATAnalyser>(this)) { SizeWindows(); }

TFATdrive::~TFATdrive() = default;

void TFATdrive::SizeWindows() {
  sectorSize_ = 512;
  if (Device != nullptr && Device->BytesPerSector >= 512) sectorSize_ = Device->BytesPerSector;
  FATWindow.assign(2 * static_cast<size_t>(sectorSize_), 0);
  DirWindow.assign(sectorSize_, 0);
  DataWindow.assign(sectorSize_, 0);
}

bool TFATdrive::ReadSec(uint32_t sector, uint16_t count, void* buffer, bool showErrors) {
  if (Device == nullptr) return false;
  return Device->ReadSec(sector + StartSector, count, buffer, showErrors);
}

std::vector<TListColumn> TFATdrive::AddListViewColumns() const {
  return {{"Name", 150}, {"Size", 60},      {"Date modified", 100},
          {"Cluster", 60}, {"Condition", 60}, {"Type", 100}};
}

bool TFATdrive::MountDrive(bool silent) {
  SizeWindows();
  std::vector<uint8_t> sector(sectorSize_);
  if (!ReadSec(BootSector - StartSector, 1, sector.data(), true)) return false;
  std::copy_n(sector.begin(), kBootRecordSize, BootRec.raw.begin());
  const bool ok = CalcDriveInfo(BootRec, silent);
  CreateStartItems();
  return ok;
}

bool TFATdrive::CalcDriveInfo(const TBootRecord& boot, bool silent) {
  // Drives rebuilt without a boot sector come here without being mounted:
  // their windows must fit the device's sectors too.
  SizeWindows();
  noFreeFrom_ = 0;
  BootRec = boot;
  const uint32_t bytesPerSector = boot.BytesPerSector();
  const uint32_t perCluster = boot.SectorsPerCluster();
  const uint32_t fats = boot.NumberOfFATs();
  const uint32_t reserved = boot.ReservedSectors();
  auto fail = [&] {
    if (!silent) {
      UI().MessageBox("Bad parameters for calculating logical drive information from Boot Sector",
                      "Error", MsgIcon::Error, MsgButtons::Ok);
    }
    return false;
  };
  if (bytesPerSector == 0) return fail();
  RootDirSectors = (boot.RootEntries() * 32u + bytesPerSector - 1) / bytesPerSector;
  SectorsPerFAT = static_cast<int32_t>(boot.SectorsPerFAT16() != 0 ? boot.SectorsPerFAT16()
                                                                   : boot.SectorsPerFAT32());
  FATAreaSectors = static_cast<uint32_t>(SectorsPerFAT) * fats;
  FirstDataSector = fats * static_cast<uint32_t>(SectorsPerFAT) + reserved + RootDirSectors;
  TotalSectors = static_cast<int32_t>(boot.TotalSectors16() != 0 ? boot.TotalSectors16()
                                                                 : boot.TotalSectors32());
  if (perCluster == 0) return fail();
  // A data area that starts past the end of the volume holds no clusters.
  const uint32_t total = static_cast<uint32_t>(TotalSectors);
  DataSectors = total > FirstDataSector ? total - FirstDataSector : 0;
  ClusterCount = DataSectors / perCluster;
  FATType = ClusterCount < 4085 ? kFat12 : ClusterCount < 65525 ? kFat16 : kFat32;
  // A boot sector may claim more clusters than its table can describe, or
  // than the medium holds (a truncated image, a crafted card). Walks never go
  // past either: nothing beyond them can be read back.
  const uint64_t entryBits = FATType == kFat12 ? 12 : FATType == kFat16 ? 16 : 32;
  const uint64_t tableEntries = static_cast<uint64_t>(SectorsPerFAT) * bytesPerSector * 8 / entryBits;
  uint64_t usable = ClusterCount;
  if (tableEntries >= 2) usable = std::min<uint64_t>(usable, tableEntries - 2);
  uint64_t mediumSectors = SectorCount;
  if (mediumSectors == 0 && Device != nullptr && Device->TotalSectors > StartSector)
    mediumSectors = Device->TotalSectors - StartSector;
  if (mediumSectors != 0) {
    const uint64_t inMedium =
        mediumSectors > FirstDataSector ? (mediumSectors - FirstDataSector) / perCluster : 0;
    usable = std::min(usable, inMedium);
  }
  ClusterCount = static_cast<uint32_t>(usable);

  BytesPerCluster = bytesPerSector * perCluster;
  if (BytesPerCluster > 32768) {
    Inform(UI(), silent, "bad parameter in boot sector: bytes per sector (" +
                       std::to_string(BytesPerCluster) + ") > 32768 !");
  }
  if (FATType == kFat32) {
    const uint32_t root = boot.RootCluster();
    if (root > ClusterCount) {
      Inform(UI(), silent, "bad parameter in boot sector: root directory cluster (" +
                         std::to_string(root) + ") > count of clusters !");
    } else if (root < 2) {
      Inform(UI(), silent, "bad parameter in boot sector: root directory cluster (" +
                         std::to_string(root) + ") < 2 !");
    }
    RootDirStart = static_cast<int32_t>((root - 2) * perCluster + FirstDataSector);
    RootCluster = root;
  } else {
    RootDirStart = static_cast<int32_t>(fats * static_cast<uint32_t>(SectorsPerFAT) + reserved);
    RootCluster = 0;
  }
  FATWindowSector = 0;
  DirWindowSector = 0;
  DataWindowSector = 0;
  UseFAT = 1;

  const int labelAt = FATType == kFat32 ? 71 : 43;
  std::string label(reinterpret_cast<const char*>(&boot.raw[labelAt]), 11);
  if (auto zero = label.find('\0'); zero != std::string::npos) label.resize(zero);
  Name = label;

  // An empty table (a quick format wipes it): chains cannot be followed, so
  // clusters are taken as consecutive.
  const uint32_t limit = std::min<uint32_t>(16, ClusterCount + 1);
  bool inUse = false;
  for (uint32_t k = 2; k <= limit && !inUse; ++k) {
    const uint32_t v = GetFAT(k, 0);
    inUse = v != RootCluster && TFATAnalyser::ClusterType(FATType, v) == kClusterLink;
  }
  if (!inUse) {
    StateFlags |= kDriveTableEmpty;
    UseFAT = 0;
  }
  return true;
}

void TFATdrive::CreateStartItems() {
  auto make = [this](const char* name, uint32_t cluster, uint32_t sector) {
    auto d = std::make_unique<TFATDirectory>();
    d->Drive = this;
    d->Name = name;
    d->Utf8Name = name;
    d->FirstCluster = cluster;
    d->Sector = sector;
    return d;
  };
  RootItem = make("Root", RootCluster, static_cast<uint32_t>(RootDirStart));
  DeletedItem = make("Deleted", RootCluster, static_cast<uint32_t>(RootDirStart));
  LostItem = make("Lost", 0, 0);
  LostItem->Nodes = std::make_shared<TNodeList>();
  SearchedItem = make("Searched", 0, 0);
  SearchedItem->Nodes = std::make_shared<TNodeList>();
}

uint32_t TFATdrive::GetFAT(uint32_t cluster, uint32_t copy) {
  if (cluster < 2 || cluster > ClusterCount + 1) return 0;
  const uint32_t bps = BootRec.BytesPerSector();
  if (bps == 0) return 0;
  uint64_t offset;
  switch (FATType) {
    case kFat16: offset = static_cast<uint64_t>(cluster) * 2; break;
    case kFat32: offset = static_cast<uint64_t>(cluster) * 4; break;
    case kFat12: offset = cluster + cluster / 2; break;
    default: return 0;
  }
  const uint64_t sector64 = offset / bps + static_cast<uint64_t>(copy) * static_cast<uint32_t>(SectorsPerFAT) +
                            BootRec.ReservedSectors();
  if (sector64 > INT32_MAX) return 0;
  const int32_t sector = static_cast<int32_t>(sector64);
  // The window holds one volume sector; larger logical sectors than the
  // device's cannot be served through it.
  if (bps > sectorSize_) return 0;
  if (sector != FATWindowSector) {
    FATWindowSector = sector;
    ReadSec(static_cast<uint32_t>(sector), 1, FATWindow.data(), true);
  }
  const uint32_t at = static_cast<uint32_t>(offset % bps);
  if (FATType == kFat12 && at == bps - 1) {
    ReadSec(static_cast<uint32_t>(sector) + 1, 1, FATWindow.data() + sectorSize_, true);
    const uint16_t word = static_cast<uint16_t>(FATWindow[at] | (FATWindow[sectorSize_] << 8));
    return (cluster & 1) != 0 ? word >> 4 : word & 0xFFFu;
  }
  switch (FATType) {
    case kFat16: return Le16(&FATWindow[at]);
    case kFat32: return Le32(&FATWindow[at]) & 0x0FFFFFFFu;
    default: {
      const uint16_t word = Le16(&FATWindow[at]);
      return (cluster & 1) != 0 ? word >> 4 : word & 0xFFFu;
    }
  }
}

uint32_t TFATdrive::GetClusterMask(uint8_t kind) const {
  uint32_t base = 0;
  switch (FATType) {
    case kFat12: base = 0xFF7; break;
    case kFat16: base = 0xFFF7; break;
    case kFat32: base = 0xFFFFFF7; break;
    default: base = 0;
  }
  if (kind == kClusterEnd) return base + 8;
  if (kind == kClusterBad) return base;
  return 0;
}

bool TFATdrive::IsEOF(uint32_t value) const {
  switch (FATType) {
    case kFat12: return value > 0xFF7;
    case kFat16: return value > 0xFFF7;
    case kFat32: return value > 0xFFFFFF7;
    default: return false;
  }
}

uint32_t TFATdrive::Cluster2Sec(uint32_t cluster) const {
  return (cluster - 2) * BootRec.SectorsPerCluster() + FirstDataSector;
}

uint32_t TFATdrive::Sec2Cluster(uint32_t sector) const {
  const uint32_t perCluster = BootRec.SectorsPerCluster();
  if (perCluster == 0) return 0;
  return (sector - FirstDataSector) / perCluster + 2;
}

uint32_t TFATdrive::NextCluster(uint32_t cluster, uint8_t useFAT) {
  if (useFAT == 0) return cluster + 1;
  return GetFAT(cluster, useFAT - 1u);
}

uint32_t TFATdrive::NextFreeCluster(uint32_t cluster) {
  if (noFreeFrom_ != 0 && cluster + 1 >= noFreeFrom_) return cluster + 1;
  for (uint32_t c = cluster + 1; c <= ClusterCount + 1; ++c) {
    if (TFATAnalyser::ClusterType(FATType, GetFAT(c, 0)) == kClusterFree) return c;
  }
  noFreeFrom_ = noFreeFrom_ == 0 ? cluster + 1 : std::min(noFreeFrom_, cluster + 1);
  return cluster + 1;
}

}  // namespace kestrella
