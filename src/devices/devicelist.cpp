#include "devices/devicelist.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "compat/drivenumbers.h"
#include "compat/drivetypes.h"
#include "diskio/bootsector.h"
#include "diskio/enginecontext.h"
#include "diskio/pdiskio.h"

namespace kestrella {

namespace {

const char kStatusTitle[] = "Scanning drives";
const char kStatusWait[] = "Please wait...";

std::string Printf(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The media type of the drive's root; unknown for a drive not in the table.
MediaKind RootMediaType(const DriveTable& drives, uint8_t drive) {
  const DriveEntry* entry = drives.Find(drive);
  return entry == nullptr ? MediaKind::Unknown : MediaOfRoot(entry->source.rootType);
}

}  // namespace

void TDeviceList::ShowChecking(const std::string& line) {
  host_->UpdateStatus(kStatusTitle, line, kStatusWait, "", "");
  host_->ProcessMessages();
}

std::unique_ptr<TDevice> TDeviceList::NewWindowsDevice(uint8_t drive,
                                                       const TLogDriveParams& params) {
  auto device = std::make_unique<TDevice>(context_);
  device->Kind = kDeviceLogical;
  device->Partitioned = 0;
  device->DriveNumber = drive;
  device->MediaType = RootMediaType(context_.drives(), drive);
  device->TotalSectors = params.TotalSectors;
  device->BytesPerSector = params.BytesPerSector;
  device->Removable = static_cast<int16_t>(params.Removable & 1);
  return device;
}

namespace {

// Whether sector 0 of the device holds a FAT boot sector.
bool HoldsFat(TDevice& device) {
  std::vector<uint8_t> sector(std::max<uint32_t>(device.BytesPerSector, 512));
  if (!device.ReadSec(0, 1, sector.data(), false)) return false;
  return !ProbeFatBootSector(sector.data(), sector.size()).empty();
}

}  // namespace

bool DriveHoldsFat(EngineContext& context, uint8_t drive) {
  TLogDriveParams params;
  if (!LogicalSectorAccess(kLdiskioTraits, context).GetLogDriveParams(drive, params)) return false;
  TDevice device(context);
  device.Kind = kDeviceLogical;
  device.DriveNumber = drive;
  device.TotalSectors = params.TotalSectors;
  device.BytesPerSector = params.BytesPerSector;
  return HoldsFat(device);
}

int TDeviceList::IndexOf(const TDevice* device) const {
  for (size_t i = 0; i < DeviceItems.size(); ++i)
    if (DeviceItems[i].get() == device) return static_cast<int>(i);
  return -1;
}

std::string TDeviceList::GetDeviceText(int index, bool withSize) const {
  const TDevice& device = *GetDevice(index);
  std::string text;
  if (device.Kind == kDevicePhysical) {
    switch (device.MediaType) {
      case MediaKind::Floppy: text = "floppy disk #"; break;
      case MediaKind::Removable: text = "removable disk #"; break;
      case MediaKind::Fixed: text = "fixed disk #"; break;
      case MediaKind::CDROM: text = "CD-ROM #"; break;
      default: text = "unknown disk #"; break;
    }
    text += std::to_string(index + 1);
  } else if (device.Kind == kDeviceLogical) {
    text = "Windows drive ";
    text += DriveLetter(device.DriveNumber);
    text += ":";
  } else {
    return "";
  }
  if (withSize) {
    // Counted in the device's own sectors: a drive of 2048- or 4096-byte
    // sectors has four or eight times the bytes of as many 512-byte ones.
    const uint64_t bytesPerSector = device.BytesPerSector != 0 ? device.BytesPerSector : 512;
    const double megabytes =
        static_cast<double>(static_cast<uint64_t>(device.TotalSectors) * bytesPerSector) / 1048576.0;
    if (megabytes >= 1000)
      text += "   (" + Printf("%.2f GB)", megabytes / 1024);
    else
      text += "   (" + Printf("%.2f MB)", megabytes);
  }
  return text;
}

void TDeviceList::DetectDevices() {
  host_->SetStatus(kStatusTitle, "", kStatusWait, "", "", false, false);
  PhysicalSectorAccess physical(context_);
  LogicalSectorAccess logical(kLdiskioTraits, context_);

  // Whole disks by BIOS number; the drive table decides which exist.
  for (int i = 0; i <= 255; ++i) {
    const auto bios = static_cast<uint8_t>(i);
    ShowChecking("Checking BIOS drive " + std::to_string(i));
    TPhysDriveParams params;
    if (!physical.GetPhysDriveParams(bios, params)) continue;
    auto device = std::make_unique<TDevice>(context_);
    device->Kind = kDevicePhysical;
    device->DriveNumber = bios;
    device->TotalSectors = params.TotalSectors;
    device->BytesPerSector = params.BytesPerSector;
    device->Partitioned = params.DriveType == DriveKind::Floppy ? 0 : 1;
    device->MediaType = MediaOfDrive(params.DriveType);
    device->Removable = static_cast<int16_t>(params.Removable & 1);
    TDevice* added = device.get();
    DeviceItems.push_back(std::move(device));
    added->DetectCacheLineSize();
  }

  // Drive letters that hold a FAT file system.
  for (int j = kDriveA; j <= kDriveZ; ++j) {
    const auto drive = static_cast<uint8_t>(j);
    TLogDriveParams params;
    if (!logical.GetLogDriveParams(drive, params)) continue;
    ShowChecking("Checking Windows drive " + DriveRootPath(drive));
    // The device itself looks at sector 0, so the card is opened once.
    std::unique_ptr<TDevice> device = NewWindowsDevice(drive, params);
    if (!HoldsFat(*device)) continue;
    DeviceItems.push_back(std::move(device));
    DeviceItems.back()->DetectCacheLineSize();
  }

  for (int k = 0; k < count(); ++k) GetDevice(k)->Name = GetDeviceText(k, true);
}

TDevice* TDeviceList::GetWindowsDrive(uint8_t drive) {
  TLogDriveParams params;
  if (!LogicalSectorAccess(kLdiskioTraits, context_).GetLogDriveParams(drive, params))
    return nullptr;
  host_->ProcessMessages();
  // Always a new device, even when the list has one for this drive already.
  // It looks at sector 0 itself, so the card is opened once.
  std::unique_ptr<TDevice> candidate = NewWindowsDevice(drive, params);
  if (!HoldsFat(*candidate)) return nullptr;
  DeviceItems.push_back(std::move(candidate));
  TDevice* device = DeviceItems.back().get();
  device->DetectCacheLineSize();
  return device;
}

}  // namespace kestrella
