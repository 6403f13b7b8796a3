// The FAT scan driver of the folder route. Before it drives anything it is
// the service the long searches of the device and FAT layers call back into:
// it owns the device and drive lists, holds the stop flag, keeps the progress
// position with its timing, turns the searches' start and progress calls into
// events for the window, and lets pending events run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/devicelist.h"
#include "devices/drivebase.h"
#include "devices/scanhost.h"
#include "fat/fatdrive.h"

namespace kestrella {

class EngineContext;
class TFATdrive;

using TOnStartScanDataEvent =
    std::function<void(int64_t totalClustor, int64_t startClustor, int64_t endClustor,
                        int32_t bytesPerClustor)>;
using TOnStartScanClustorEvent = TOnStartScanDataEvent;
using TOnScanProgressEvent = std::function<void(int64_t currentProgressPos)>;
using TOnScanClustorProgressEvent = std::function<void(int64_t currentClustor)>;
using TOnFoundImageEvent = std::function<void(const std::string& fileName)>;

class TFrmFATScan : public ScanHost {
 public:
  // Creates the lists (whose devices and drives report to this driver) and
  // switches on the options of the lower layers.
  explicit TFrmFATScan(EngineContext& context);
  ~TFrmFATScan() override;
  TFrmFATScan(const TFrmFATScan&) = delete;
  TFrmFATScan& operator=(const TFrmFATScan&) = delete;

  // ---- services for the lower layers ----------------------------------------
  bool StopRequested() const override { return StopRequestedFlag; }
  void ProcessMessages() override;
  void SetStatus(const std::string& l1, const std::string& l2, const std::string& l3,
                 const std::string& l4, const std::string& l5, bool flag, bool measureTime) override;
  void UpdateStatus(const std::string& l1, const std::string& l2, const std::string& l3,
                    const std::string& l4, const std::string& l5) override;
  void ProgressStepIt() override;
  bool TimeForUserUpdate() override;
  void ProgressStopTime() override;
  // Estimated remaining seconds.
  int32_t ProgressUpdateTime() const;
  void UpdateCurrentClustorProgress(int64_t cluster) override;
  void OnStartScanLostData(uint32_t totalClustor, uint32_t startClustor, uint32_t endClustor,
                           uint32_t bytesPerClustor) override;
  void OnStartScanLostDataClustor(uint32_t totalClustor, uint32_t startClustor,
                                  uint32_t endClustor, uint32_t bytesPerClustor) override;
  void SetProgressRange(int32_t max, int32_t step, int32_t interval) override;
  TDriveList* DriveList() override { return DriveListItems.get(); }
  void SetTotals(int32_t totalFiles, int32_t totalFolders) override;
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
  void StopScan() { StopRequestedFlag = true; }
  // Sectors of the current device that could not be read.
  uint64_t ReadErrors() const { return Device != nullptr ? Device->ReadErrors : 0; }

  // ---- fields ----------------------------------------------------------------
  TOnStartScanDataEvent OnStartScanData;
  TOnStartScanClustorEvent OnStartScanClustor;
  TOnScanProgressEvent OnScanProgress;
  TOnScanClustorProgressEvent OnScanClustorProgress;
  TOnFoundImageEvent OnFoundImage;
  std::unique_ptr<TDeviceList> DeviceList;
  std::unique_ptr<TDriveList> DriveListItems;
  TDevice* Device = nullptr;
  TCustomDrive* Drive = nullptr;
  bool StopRequestedFlag = false;
  bool SkipOption = true;
  uint32_t LastUpdateTick = 0;
  uint32_t TimeMark = 0;
  int32_t ElapsedSeconds = 0;
  bool MeasureTime = false;
  bool UpdatePending = false;
  int32_t Position = 0;
  int32_t Max = 0;
  int32_t Step = 0;
  int32_t Interval = 0;
  int32_t TotalFiles = 0;
  int32_t TotalFolders = 0;
  std::string DestFolder;
  // The report of the last ScanDrive: found files that could not be saved
  // into DestFolder (Lost, by their name on the card), or were saved with
  // unreadable sectors (Damaged, the saved file), and why the route ended
  // early if it did.
  Report SaveProblems;

 private:
  bool ReportDue(uint32_t now) const;

  EngineContext& context_;
  uint8_t mountedDrive_ = 0;  // the drive letter Drive was mounted from
  // The FAT drive behind a drive letter (Device and Drive set), or nullptr.
  TFATdrive* OpenFatDrive(uint8_t drive);
  // Hands over every file of the drive's "Searched" item; false when stopped.
  bool HandOverSearched(TFATdrive& fat);
};

}  // namespace kestrella
