// The progress service of the long searches: the stop flag, the progress
// position with its timing, the start and progress events for the window,
// and pending events let run. The FAT scan driver is one; the searches of
// the device and FAT layers reach it as their ScanHost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "devices/scanhost.h"
#include "util/userinterface.h"

namespace kestrella {

using TOnStartScanDataEvent =
    std::function<void(int64_t totalClustor, int64_t startClustor, int64_t endClustor,
                        int32_t bytesPerClustor)>;
using TOnStartScanClustorEvent = TOnStartScanDataEvent;
using TOnScanProgressEvent = std::function<void(int64_t currentProgressPos)>;
using TOnScanClustorProgressEvent = std::function<void(int64_t currentClustor)>;
struct FoundOrigin;
// A found file was saved into the temporary folder: its path there, and
// what the card told of it.
using TOnFoundImageEvent =
    std::function<void(const std::string& fileName, const FoundOrigin& origin)>;

class ScanProgress : public ScanHost {
 public:
  explicit ScanProgress(UserInterface& ui) : ui_(ui) {}

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
  void SetTotals(int32_t totalFiles, int32_t totalFolders) override;
  void StopScan() { StopRequestedFlag = true; }

  TOnStartScanDataEvent OnStartScanData;
  TOnStartScanClustorEvent OnStartScanClustor;
  TOnScanProgressEvent OnScanProgress;
  TOnScanClustorProgressEvent OnScanClustorProgress;
  bool StopRequestedFlag = false;
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

 private:
  bool ReportDue(uint32_t now) const;

  UserInterface& ui_;
};

}  // namespace kestrella
