#include "app/partitions.h"

#include "app/ffatscan.h"
#include "compat/drivenumbers.h"
#include "diskio/bootsector.h"
#include "diskio/pdiskio.h"
#include "fat/fatdrivelist.h"

namespace kestrella {

namespace {

std::string TypeOf(const TCustomDrive& drive) {
  const auto* fat = dynamic_cast<const TFATdrive*>(&drive);
  if (fat == nullptr) return "";
  switch (fat->FATType()) {
    case kFat12: return "FAT12";
    case kFat16: return "FAT16";
    case kFat32: return "FAT32";
    default: return "?";
  }
}

}  // namespace

DiskSurvey::DiskSurvey(Engine& engine, const OpenedSource& source)
    : driver_(std::make_unique<TFrmFATScan>(engine.Context())) {
  // The whole disk behind the source, read by its BIOS number.
  uint8_t bios = 0;
  bool found = false;
  for (const auto& [number, path] : engine.Context().drives().PhysicalDisks()) {
    if (path == source.entry.source.path && IsHardDiskBiosNumber(number)) {
      bios = number;
      found = true;
    }
  }
  if (!found) {
    throw UserError(source.entry.source.path +
                    " is not a whole disk (name the disk, not a partition)");
  }
  TPhysDriveParams params;
  if (!PhysicalSectorAccess(engine.Context()).GetPhysDriveParams(bios, params))
    throw UserError("cannot read " + source.entry.source.path);

  auto device = std::make_unique<TDevice>(engine.Context());
  device->Kind = kDevicePhysical;
  device->DriveNumber = bios;
  device->TotalSectors = params.TotalSectors;
  device->BytesPerSector = params.BytesPerSector;
  device->Removable = params.Removable;
  std::vector<uint8_t> sector0(params.BytesPerSector);
  // A card formatted without a table is one volume; otherwise sector 0 holds
  // the table.
  device->Partitioned = device->ReadSec(0, 1, sector0.data(), false) &&
                                ProbeFatBootSector(sector0.data(), sector0.size()).empty()
                            ? 1
                            : 0;
  device_ = device.get();
  driver_->DeviceList->DeviceItems.push_back(std::move(device));
  DetectDrives(*driver_->DriveList(), *device_);
}

DiskSurvey::~DiskSurvey() = default;

bool DiskSurvey::Partitioned() const { return device_->Partitioned != 0; }

std::vector<DriveRow> DiskSurvey::Rows(int from) const {
  std::vector<DriveRow> rows;
  TDriveList& list = *driver_->DriveList();
  for (int i = from; i < list.count(); ++i) {
    const TCustomDrive& drive = *list.GetDrive(i);
    std::string name = drive.Name;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    rows.push_back({drive.StartSector, drive.SectorCount, TypeOf(drive), name});
  }
  return rows;
}

std::vector<DriveRow> DiskSurvey::Drives() { return Rows(0); }

std::vector<DriveRow> DiskSurvey::FindLostDrives(uint32_t first, uint32_t last) {
  const int known = driver_->DriveList()->count();
  driver_->StopRequestedFlag = false;
  driver_->OnScanClustorProgress = [this](int64_t sector) {
    if (OnProgress) OnProgress(static_cast<uint32_t>(sector));
  };
  kestrella::FindLostDrives(*driver_, *device_, driver_->DeviceList.get(), first, last);
  return Rows(known);
}

void DiskSurvey::Stop() { driver_->StopScan(); }

}  // namespace kestrella
