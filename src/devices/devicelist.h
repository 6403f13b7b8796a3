// Creates and owns devices: one for a chosen drive letter, or all of them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "diskio/driveparams.h"

#include "devices/device.h"
#include "devices/scanhost.h"

namespace kestrella {

class EngineContext;

class TDeviceList {
 public:
  // `host` (not owned) hears of the drives checked; none: a quiet one.
  explicit TDeviceList(EngineContext& context, ScanHost* host = nullptr)
      : context_(context), host_(host != nullptr ? host : &quiet_) {}
  virtual ~TDeviceList() { clear(); }
  TDeviceList(const TDeviceList&) = delete;
  TDeviceList& operator=(const TDeviceList&) = delete;

  void clear() { DeviceItems.clear(); }
  int count() const { return static_cast<int>(DeviceItems.size()); }
  TDevice* GetDevice(int index) const { return DeviceItems.at(static_cast<size_t>(index)).get(); }
  int IndexOf(const TDevice* device) const;
  // "removable disk #2   (61.25 MB)", "Windows drive E:   (1.95 GB)".
  std::string GetDeviceText(int index, bool withSize) const;
  // Every BIOS disk and every FAT drive letter.
  void DetectDevices();
  // A new device for a drive letter holding a FAT file system, or nullptr.
  TDevice* GetWindowsDrive(uint8_t drive);

  std::vector<std::unique_ptr<TDevice>> DeviceItems;

 private:
  void ShowChecking(const std::string& line);
  std::unique_ptr<TDevice> NewWindowsDevice(uint8_t drive, const TLogDriveParams& params);

  EngineContext& context_;
  QuietScanHost quiet_;
  ScanHost* host_;
};

// Whether a FAT file system starts at sector 0 of the drive (the question a
// volume's file system name answers).
bool DriveHoldsFat(EngineContext& context, uint8_t drive);

}  // namespace kestrella
