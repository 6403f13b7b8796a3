// The FAT scan driver of the folder route: it owns the device and drive
// lists, mounts the card once per Start, counts what its trees hold, runs the
// route and hands every recoverable file over into the temporary folder. As
// the progress service (ScanProgress) it is also the host the long searches
// of the device and FAT layers report to.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/scanprogress.h"
#include "devices/devicelist.h"
#include "devices/drivebase.h"
#include "fat/fatdrive.h"

namespace kestrella {

class EngineContext;
class TFATdrive;

class TFrmFATScan : public ScanProgress {
 public:
  // Creates the lists (whose devices and drives report to this driver) and
  // switches on the options of the lower layers.
  explicit TFrmFATScan(EngineContext& context);
  ~TFrmFATScan() override;
  TFrmFATScan(const TFrmFATScan&) = delete;
  TFrmFATScan& operator=(const TFrmFATScan&) = delete;

  // ---- services for the lower layers ----------------------------------------
  TDriveList* DriveList() override { return DriveListItems.get(); }
  // Hands a found file over for recovery (saved into DestFolder when its kind
  // is one Kestrella recovers). Filled in with the folder route.
  void AddRecoverFile(TFATFile& file);
  EngineContext& Context() const { return context_; }

  // ---- the folder route ------------------------------------------------------
  // Runs the whole folder route on a drive letter's FAT volume: the files of
  // the chosen trees (and, with recoverLost, the lost files the cluster hunt
  // finds) are saved into DestFolder and reported through OnFoundImage.
  // Returns false in every case; stopped or impossible scans end early
  // without the final progress event.
  bool ScanDrive(uint8_t drive, bool recoverExisting, bool recoverDeleted, bool recoverLost);
  // Counts the recoverable files and the folders of the chosen trees. False
  // when the drive holds no FAT volume (counts then 0).
  bool AnalyzeTotalFile(uint8_t drive, bool countExisting, bool countDeleted, bool countLost,
                        int32_t& files, int32_t& folders);
  TDevice* GetWindowsDrive(uint8_t drive);
  void FindLostData();
  // Forgets the mounted card and its device (and with it the open handle):
  // the next count or route mounts it afresh. Every Start begins with this,
  // so a card changed in the reader is never read from an old mount.
  void CloseDrive();

  // Switches on the options of the lower layers (sector access, cache).
  void ProcessOptions();
  // Sectors of the current device that could not be read.
  uint64_t ReadErrors() const { return Device != nullptr ? Device->ReadErrors : 0; }

  // ---- fields ----------------------------------------------------------------
  TOnFoundImageEvent OnFoundImage;
  std::unique_ptr<TDeviceList> DeviceList;
  std::unique_ptr<TDriveList> DriveListItems;
  TDevice* Device = nullptr;
  TCustomDrive* Drive = nullptr;
  bool SkipOption = true;
  // Cut a lost file the hunt found by its first bytes where its data ends.
  bool CutAtEnd = true;
  std::string DestFolder;
  // The report of the last ScanDrive: found files that could not be saved
  // into DestFolder (Lost, by their name on the card), or were saved with
  // unreadable sectors (Damaged, the saved file), and why the route ended
  // early if it did.
  Report SaveProblems;

 private:
  EngineContext& context_;
  uint8_t mountedDrive_ = 0;  // the drive letter Drive was mounted from
  // The FAT drive behind a drive letter (Device and Drive set), or nullptr.
  TFATdrive* OpenFatDrive(uint8_t drive);
  // Hands over every file of the drive's "Searched" item; false when stopped.
  bool HandOverSearched(TFATdrive& fat);
};

}  // namespace kestrella
