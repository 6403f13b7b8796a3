// What the long searches of the device and FAT layers need from the scan
// driver above them: the stop flag, throttled progress, status lines, pending
// events and the list that found drives go into. The driver hands itself to
// the searches it starts; a search given no host answers to a quiet one
// (never stopped, no events).
#pragma once

#include <cstdint>
#include <string>

namespace kestrella {

class TDriveList;

class ScanHost {
 public:
  virtual ~ScanHost() = default;

  virtual bool StopRequested() const = 0;
  virtual void ProcessMessages() = 0;

  // Five status lines (not shown anywhere, kept for callers), and whether
  // progress steps measure elapsed time.
  virtual void SetStatus(const std::string& l1, const std::string& l2, const std::string& l3,
                         const std::string& l4, const std::string& l5, bool flag,
                         bool measureTime) = 0;
  virtual void UpdateStatus(const std::string& l1, const std::string& l2, const std::string& l3,
                            const std::string& l4, const std::string& l5) = 0;
  virtual void ProgressStepIt() = 0;
  virtual bool TimeForUserUpdate() = 0;
  virtual void ProgressStopTime() = 0;
  virtual void UpdateCurrentClustorProgress(int64_t cluster) = 0;
  virtual void OnStartScanLostData(uint32_t totalClustor, uint32_t startClustor,
                                   uint32_t endClustor, uint32_t bytesPerClustor) = 0;
  virtual void OnStartScanLostDataClustor(uint32_t totalClustor, uint32_t startClustor,
                                          uint32_t endClustor, uint32_t bytesPerClustor) = 0;
  // Progress fields the searches set directly (the lost-drive search).
  virtual void SetProgressRange(int32_t max, int32_t step, int32_t interval) = 0;

  // The lists the searches work on (the analyser adds rebuilt drives).
  virtual TDriveList* DriveList() = 0;
  // Counters written by the folder and file count of the FAT layer.
  virtual void SetTotals(int32_t totalFiles, int32_t totalFolders) = 0;
};

// The host of a search run without a scan driver: never stopped, reports
// nothing. Tests derive from it and override what they watch.
class QuietScanHost : public ScanHost {
 public:
  bool StopRequested() const override { return false; }
  void ProcessMessages() override {}
  void SetStatus(const std::string&, const std::string&, const std::string&, const std::string&,
                 const std::string&, bool, bool) override {}
  void UpdateStatus(const std::string&, const std::string&, const std::string&, const std::string&,
                    const std::string&) override {}
  void ProgressStepIt() override { ProcessMessages(); }
  bool TimeForUserUpdate() override { return false; }
  void ProgressStopTime() override {}
  void UpdateCurrentClustorProgress(int64_t) override {}
  void OnStartScanLostData(uint32_t, uint32_t, uint32_t, uint32_t) override {}
  void OnStartScanLostDataClustor(uint32_t, uint32_t, uint32_t, uint32_t) override {}
  void SetProgressRange(int32_t, int32_t, int32_t) override {}
  TDriveList* DriveList() override { return nullptr; }
  void SetTotals(int32_t, int32_t) override {}
};

}  // namespace kestrella
