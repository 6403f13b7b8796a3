#include "cli/fatsource.h"

namespace kestrella::cli {

MountedSource MountSource(const std::string& source) {
  MountedSource m;
  m.source = OpenSource(source);
  m.driver = std::make_unique<TFrmFATScan>();
  TDevice* device = m.driver->DeviceList->GetWindowsDrive(m.source.drive);
  if (device == nullptr) {
    throw CliError("no FAT file system starts on " + m.source.entry.source.path +
                   " (try kestrella-cli scan, which does not need one)");
  }
  m.driver->Device = device;
  m.drive = std::make_unique<TFATdrive>();
  m.drive->Device = device;
  m.drive->BootSector = 0;
  m.drive->StartSector = 0;
  m.drive->SectorCount = device->TotalSectors;
  if (!m.drive->MountDrive(false)) {
    throw CliError("the boot sector of " + m.source.entry.source.path + " cannot be used");
  }
  m.driver->Drive = m.drive.get();
  return m;
}

}  // namespace kestrella::cli
