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

uint32_t TFATdrive::DeviceSectorSize() const {
  return Device != nullptr && Device->BytesPerSector >= 512 ? Device->BytesPerSector : 512;
}

void TFATdrive::FollowSectorSize(const TBootRecord& boot) {
  // A volume's sectors may be larger than the medium's: a card formatted
  // with 4096-byte sectors and then copied to an image file, whose sectors
  // are 512 bytes, or a 512e disk. Such a volume sector is read as the run
  // of whole device sectors it covers. Anything that is not a power-of-two
  // multiple of the device's sector is read as the device gives it.
  const uint32_t device = DeviceSectorSize();
  const uint32_t bps = boot.BytesPerSector();
  deviceSectorsPer_ = 1;
  if (bps > device && bps <= 32768 && bps % device == 0 && (bps & (bps - 1)) == 0)
    deviceSectorsPer_ = bps / device;
}

void TFATdrive::SizeWindows() {
  sectorSize_ = DeviceSectorSize() * deviceSectorsPer_;
  table_.Reset(sectorSize_);
  dirs_.Reset(sectorSize_);
  files_.Reset(sectorSize_);
}

uint64_t TFATdrive::MediumSectors() const {
  uint64_t deviceSectors = 0;
  if (SectorCount != 0) {
    deviceSectors = SectorCount;
  } else if (Device != nullptr && Device->TotalSectors > StartSector) {
    deviceSectors = Device->TotalSectors - StartSector;
  }
  return deviceSectors / deviceSectorsPer_;
}

bool TFATdrive::ReadSec(uint32_t sector, uint16_t count, void* buffer, bool showErrors) {
  if (Device == nullptr) return false;
  if (deviceSectorsPer_ == 1) return Device->ReadSec(uint64_t{sector} + StartSector, count, buffer, showErrors);
  // Volume sectors to device sectors, in runs the device's count can hold.
  uint64_t first = static_cast<uint64_t>(sector) * deviceSectorsPer_ + StartSector;
  uint64_t remaining = static_cast<uint64_t>(count) * deviceSectorsPer_;
  auto* out = static_cast<uint8_t*>(buffer);
  const uint64_t run = (UINT16_MAX / deviceSectorsPer_) * deviceSectorsPer_;
  while (remaining > 0) {
    const auto n = static_cast<uint16_t>(std::min(remaining, run));
    if (!Device->ReadSec(first, n, out, showErrors)) return false;
    out += static_cast<size_t>(n) * DeviceSectorSize();
    first += n;
    remaining -= n;
  }
  return true;
}

std::vector<TListColumn> TFATdrive::AddListViewColumns() const {
  return {{"Name", 150}, {"Size", 60},      {"Date modified", 100},
          {"Cluster", 60}, {"Condition", 60}, {"Type", 100}};
}

bool TFATdrive::MountDrive(bool silent) {
  // The boot sector is read in the device's own sectors.
  deviceSectorsPer_ = 1;
  SizeWindows();
  std::vector<uint8_t> sector(sectorSize_);
  if (!ReadSec(BootSector - StartSector, 1, sector.data(), true)) return false;
  TBootRecord boot;
  std::copy_n(sector.begin(), kBootRecordSize, boot.raw.begin());
  const bool ok = CalcDriveInfo(boot, silent);
  CreateStartItems();
  return ok;
}

bool TFATdrive::CalcDriveInfo(const TBootRecord& boot, bool silent) {
  // Drives rebuilt without a boot sector come here without being mounted:
  // their windows must fit the device's sectors too.
  FollowSectorSize(boot);
  SizeWindows();
  if (!geometry_.Derive(boot, MediumSectors())) {
    if (!silent) {
      UI().MessageBox("Bad parameters for calculating logical drive information from Boot Sector",
                      "Error", MsgIcon::Error, MsgButtons::Ok);
    }
    return false;
  }
  if (BytesPerCluster() > 32768) {
    Inform(UI(), silent, "bad parameter in boot sector: bytes per sector (" +
                       std::to_string(BytesPerCluster()) + ") > 32768 !");
  }
  if (FATType() == kFat32) {
    const uint32_t root = boot.RootCluster();
    if (root > ClusterCount()) {
      Inform(UI(), silent, "bad parameter in boot sector: root directory cluster (" +
                         std::to_string(root) + ") > count of clusters !");
    } else if (root < 2) {
      Inform(UI(), silent, "bad parameter in boot sector: root directory cluster (" +
                         std::to_string(root) + ") < 2 !");
    }
  }
  useFAT_ = 1;

  const int labelAt = FATType() == kFat32 ? 71 : 43;
  std::string label(reinterpret_cast<const char*>(&boot.raw[labelAt]), 11);
  if (auto zero = label.find('\0'); zero != std::string::npos) label.resize(zero);
  Name = label;

  // An empty table (a quick format wipes it): chains cannot be followed, so
  // clusters are taken as consecutive.
  const uint32_t limit = std::min<uint32_t>(16, ClusterCount() + 1);
  bool inUse = false;
  for (uint32_t k = 2; k <= limit && !inUse; ++k) {
    const uint32_t v = GetFAT(k, 0);
    inUse = v != RootCluster() && TFATAnalyser::ClusterType(FATType(), v) == kClusterLink;
  }
  if (!inUse) {
    StateFlags |= kDriveTableEmpty;
    useFAT_ = 0;
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
  RootItem = make("Root", RootCluster(), static_cast<uint32_t>(RootDirStart()));
  DeletedItem = make("Deleted", RootCluster(), static_cast<uint32_t>(RootDirStart()));
  LostItem = make("Lost", 0, 0);
  LostItem->Nodes = std::make_shared<TNodeList>();
  SearchedItem = make("Searched", 0, 0);
  SearchedItem->Nodes = std::make_shared<TNodeList>();
}

}  // namespace kestrella
