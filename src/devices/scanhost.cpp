#include "devices/scanhost.h"

#include "util/userinterface.h"

namespace kestrella {

namespace {

// The host of an engine used without a scan driver: never stopped, reports
// nothing, still lets pending events run.
class QuietHost : public ScanHost {
 public:
  bool StopRequested() const override { return false; }
  void ProcessMessages() override { ui().ProcessMessages(); }
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
  void AddRecoverFile(TFATFile&) override {}
};

QuietHost g_quiet;
ScanHost* g_host = &g_quiet;

}  // namespace

ScanHost& Host() { return *g_host; }

void SetHost(ScanHost* h) { g_host = h != nullptr ? h : &g_quiet; }

}  // namespace kestrella
