// The main window's recovery run: the chosen route runs inside the Start
// click, with the status labels, the gauge and the preview following it, and
// ends with the save step and the run's summary. The window asks the analysis dialog for the route
// and hands it over; the run then owns the drive until the save step begins.
#pragma once

#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/analysis.h"
#include "app/engine.h"
#include "app/recoveryrun.h"
#include "app/runsummary.h"
#include "gui/fpreview.h"

class QWidget;

namespace kestrella {
class RawScan;
class TFrmFATScan;
struct RawScanSettings;
struct RawScanStatus;
}  // namespace kestrella

namespace kestrella::gui {

struct RecoverPage;
struct SettingsPage;
class RunSummaryDialog;

class RunController {
 public:
  // What the run needs from the window that holds it.
  struct Hooks {
    // A run, a wipe or the Format dialog owns the drive.
    std::function<bool()> windowBusy;
    // On: the window turns busy (stop flag down, controls off, busy
    // animation on). Off: the other way round, the stop flag up.
    std::function<void(bool)> setRunning;
  };

  // window: the parent of the run's dialogs. The pages' controls and the
  // window outlive the controller.
  RunController(Engine& engine, QWidget* window, RecoverPage& recover,
                const SettingsPage& settings, Hooks hooks);
  ~RunController();

  // The folder route's driver, kept for the window's life, as is the scan
  // route: the scan's read buffer is large and allocated once. The analysis
  // dialog examines the drive through the same driver.
  TFrmFATScan& FolderScan() { return *frmFATScan_; }

  // One recovery run on the chosen route, then the save step, then the
  // summary (left open beside the window). Returns when the save step is
  // over.
  void Run(const TRunChoice& choice, const RawScanSettings& settings);
  bool Running() const { return run_ != nullptr; }
  // The Cancel button: the run in progress, otherwise the folder scan.
  void Cancel();
  // The window is to close: the run in progress stops after its current
  // sector, and its save step asks only whether to save the files found so
  // far (Save by default) instead of showing the preview; no summary follows.
  void StopForClose();
  // The window closes: the summary of the last run goes with it.
  void CloseSummary();
  // The Preview box was switched: the preview follows it.
  void PreviewSwitched();

  // The preview of the current or last run; null once it was closed.
  TFrmPreview* Preview() const { return preview_; }

 private:
  void PrepareRun();
  void ShowRunProblems(const Report& report);
  void CreatePreview();
  void FinishRun();
  // Returns true when the user discarded the found files.
  bool SaveStep();
  void ShowSummary(const TRunChoice& choice, const Report& problems, bool discarded);
  void FoundImage();
  void ShowScanProgress(const RawScanStatus& status);
  void ShowScanCounts(const RawScanStatus& status);
  void StartScanData();
  void ScanProgress(int64_t position);
  void ScanClustorProgress(int64_t clustor);

  Engine& engine_;
  QWidget* window_;
  RecoverPage& recover_;
  const SettingsPage& settings_;
  Hooks hooks_;

  std::unique_ptr<TFrmFATScan> frmFATScan_;
  std::unique_ptr<RawScan> rawScan_;
  TRecoveryRun* run_ = nullptr;  // the run in progress, if any
  // The files of the current or last run; the preview shows them. Kept
  // until the next run, so that the preview (which goes first) can always
  // reach it.
  std::unique_ptr<FoundFileList> found_;
  QPointer<TFrmPreview> preview_;
  QPointer<RunSummaryDialog> summary_;
  std::vector<SaveAttempt> saves_;  // the save step's, for the summary
  std::string runFolder_;  // where the run kept its found files
  int32_t imagesFound_ = 0;
  bool folderRoute_ = false;
  uint8_t drive_ = 0;  // the drive of the current or last run
  bool closing_ = false;
};

}  // namespace kestrella::gui
