#include "gui/runcontroller.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <cmath>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "app/ffatscan.h"
#include "app/rawscan.h"
#include "app/recoveryrun.h"
#include "gui/mainpages.h"
#include "gui/runsummarydialog.h"
#include "gui/startfolders.h"
#include "util/userinterface.h"

namespace kestrella::gui {

RunController::RunController(Engine& engine, QWidget* window, RecoverPage& recover,
                             const SettingsPage& settings, Hooks hooks)
    : engine_(engine),
      window_(window),
      recover_(recover),
      settings_(settings),
      hooks_(std::move(hooks)) {
  frmFATScan_ = std::make_unique<TFrmFATScan>(engine_.Context());
  rawScan_ = std::make_unique<RawScan>(engine_.Context());
  frmFATScan_->OnStartScanData = [this](int64_t, int64_t, int64_t, int32_t) { StartScanData(); };
  frmFATScan_->OnScanProgress = [this](int64_t position) { ScanProgress(position); };
  frmFATScan_->OnScanClustorProgress = [this](int64_t clustor) { ScanClustorProgress(clustor); };
  rawScan_->OnProgress = [this](const RawScanStatus& status) { ShowScanProgress(status); };
  rawScan_->OnCountsChanged = [this](const RawScanStatus& status) { ShowScanCounts(status); };
}

// The preview shows the list: it goes first.
RunController::~RunController() { delete preview_.data(); }

void RunController::Run(const TRunChoice& choice, const RawScanSettings& settings) {
  folderRoute_ = choice.FolderMethod;
  drive_ = settings.drive;
  closing_ = false;
  saves_.clear();
  CloseSummary();
  PrepareRun();
  if (folderRoute_) {
    recover_.LabelCurrSec->setText(QStringLiteral("Current clustor:"));
  } else {
    recover_.GProgress->setMaximum(GaugePosition(settings.totalSectors, settings.totalSectors));
    recover_.GProgress->setValue(0);
  }

  runFolder_.clear();
  TRecoveryRun run(*frmFATScan_, *rawScan_, *found_);
  run.OnFound = [this](const std::string&) { FoundImage(); };
  run_ = &run;
  QString failure;
  try {
    run.Run(choice, settings);
  } catch (const std::exception& e) {
    failure = QString::fromLocal8Bit(e.what());
  }
  run_ = nullptr;
  // The summary names it after the save step let go of it.
  runFolder_ = found_->RunFolderPath().string();
  // Either route tells why it ended early; so does a failure thrown past it.
  if (failure.isEmpty()) failure = QString::fromStdString(run.Problems().AbortReason());
  FinishRun();
  // A window being closed asks only what to do with the found files.
  if (!failure.isEmpty() && !closing_) {
    QMessageBox::warning(window_, QStringLiteral("Kestrella"),
                         QStringLiteral("The recovery stopped early:\n%1").arg(failure));
  }
  if (!closing_) ShowRunProblems(run.Problems());
  const bool discarded = SaveStep();
  if (!closing_) ShowSummary(choice, run.Problems(), discarded);
}

void RunController::ShowSummary(const TRunChoice& choice, const Report& problems, bool discarded) {
  RunFacts facts;
  facts.choice = choice;
  facts.runProblems = &problems;
  facts.found = found_.get();
  // Handed over, not copied: the reports list every file saved. The next
  // run starts with none.
  facts.saves = std::move(saves_);
  saves_.clear();
  facts.discarded = discarded;
  facts.tempFolder = runFolder_;
  // "Open folder" opens where the files went: the last folder saved into,
  // else the destination chosen.
  QString dest = recover_.EditDestPath->text();
  for (const SaveAttempt& a : facts.saves)
    if (!a.report.saved.empty()) dest = QString::fromStdString(a.destination);
  summary_ = new RunSummaryDialog(SummarizeRun(facts), dest, window_);
  summary_->show();
}

void RunController::CloseSummary() {
  if (summary_) summary_->close();
}

void RunController::ShowRunProblems(const Report& report) {
  const std::vector<FileProblem>& problems = report.Problems();
  if (problems.empty()) return;
  // A found file the temporary folder could not take is lost to the save
  // step: the user must hear of it, and where it stands.
  constexpr size_t kShown = 20;
  QString text = QStringLiteral("%1 found file(s) could not be written completely to the temporary folder %2:\n")
                     .arg(problems.size())
                     .arg(QString::fromStdString(found_->RunFolderPath().string()));
  for (size_t i = 0; i < problems.size() && i < kShown; ++i)
    text += QStringLiteral("\n") + QString::fromStdString(Report::Describe(problems[i]));
  if (problems.size() > kShown) text += QStringLiteral("\n... and %1 more").arg(problems.size() - kShown);
  QMessageBox::warning(window_, QStringLiteral("Kestrella"), text);
}

void RunController::PrepareRun() {
  CreatePreview();
  hooks_.setRunning(true);
  imagesFound_ = 0;
  recover_.LabelInfoImagesFound->setText(QStringLiteral("0"));
  recover_.LabelInfoReadErrors->setText(QStringLiteral("0"));
  recover_.LabelInfoStatus->setText(QStringLiteral("Busy"));
  recover_.LabelCurrSec->setText(QStringLiteral("Current sector:"));
}

void RunController::CreatePreview() {
  // A preview left from an earlier run goes with the files it still holds,
  // then the list it showed.
  delete preview_.data();
  found_ = std::make_unique<FoundFileList>(engine_.Context().files());
  preview_ = new TFrmPreview(*found_, window_);
  TFrmPreview::Hooks hooks;
  hooks.runInProgress = hooks_.windowBusy;
  hooks.destFolder = [this] { return recover_.EditDestPath->text(); };
  hooks.naming = [this] { return NamingFrom(settings_); };
  hooks.saved = [this](const SaveAttempt& attempt) { saves_.push_back(attempt); };
  hooks.acceptFolder = [this](const QString& folder) {
    const DriveEntry* drive = engine_.FindDrive(drive_);
    return drive == nullptr || ReadyFolders(engine_, window_, folder, *drive);
  };
  preview_->SetHooks(std::move(hooks));
  // Beside the window, not over its Cancel button; also when Preview is
  // ticked only later in the run.
  preview_->PlaceBesideWindow(window_, recover_.ButtonCancel);
  if (recover_.cb_preview->isChecked()) preview_->show();
}

void RunController::FinishRun() {
  recover_.LabelInfoStatus->setText(QStringLiteral("Ready"));
  recover_.GProgress->setValue(0);
  recover_.LabelInfoCurrentSector->clear();
  recover_.LabelCurrSec->setText(QStringLiteral("Current sector:"));
  hooks_.setRunning(false);
  engine_.ReleaseDrive();
  frmFATScan_->StopScan();
}

bool RunController::SaveStep() {
  if (!preview_) return false;
  const QString dest = recover_.EditDestPath->text();
  if (closing_) {
    // The user closed the window during the run: nothing is thrown away
    // unless they say so, and Save is what Enter does.
    bool discard = false;
    if (found_->ImageCount() > 0) {
      QMessageBox box(QMessageBox::Question, QStringLiteral("Kestrella"),
                      QStringLiteral("Discard the %1 found photos?").arg(found_->ImageCount()),
                      QMessageBox::Save | QMessageBox::Discard, window_);
      box.setObjectName(QStringLiteral("CloseQuestion"));
      box.setDefaultButton(QMessageBox::Save);
      discard = box.exec() == QMessageBox::Discard;
    }
    if (!discard) preview_->SaveSelectedImages(dest, NamingFrom(settings_));
    delete preview_.data();
    return discard;
  }
  if (recover_.cb_preview->isChecked()) {
    // Also when OK hid the preview during the run: the user still chooses.
    preview_->hide();
    // It stays where it was placed or the user moved it.
    preview_->BeginSaveStep();
    // The dialog saves or discards on its own buttons and frees itself.
    return preview_->exec() == TFrmPreview::kResultDiscarded;
  }
  // Preview turned off: every found file is kept without asking.
  preview_->SaveSelectedImages(dest, NamingFrom(settings_));
  delete preview_.data();
  return false;
}

void RunController::Cancel() {
  if (run_ != nullptr) run_->Stop();
  else frmFATScan_->StopScan();
}

void RunController::StopForClose() {
  if (run_ == nullptr) return;
  closing_ = true;
  run_->Stop();
}

void RunController::PreviewSwitched() {
  if (preview_) preview_->setVisible(recover_.cb_preview->isChecked());
}

void RunController::FoundImage() {
  ++imagesFound_;
  // The scan route counts a file when it begins; its count arrives through
  // ShowScanCounts.
  if (folderRoute_) recover_.LabelInfoImagesFound->setText(QString::number(imagesFound_));
  if (preview_) preview_->ShowAdded();
}

void RunController::ShowScanProgress(const RawScanStatus& status) {
  recover_.LabelInfoCurrentSector->setText(QString::number(status.currentSector));
  recover_.GProgress->setValue(GaugePosition(status.currentSector, status.totalSectors));
}

void RunController::ShowScanCounts(const RawScanStatus& status) {
  recover_.LabelInfoImagesFound->setText(QString::number(status.imagesFound));
  recover_.LabelInfoReadErrors->setText(QString::number(status.readErrors));
}

void RunController::StartScanData() {
  // The driver has set the range of the search (both passes over the
  // clusters and a reserve for the hand-over of the found files).
  recover_.GProgress->setMaximum(frmFATScan_->Max);
  recover_.GProgress->setValue(0);
}

void RunController::ScanProgress(int64_t position) {
  recover_.GProgress->setValue(static_cast<int32_t>(position));
  engine_.UI().ProcessMessages();
}

void RunController::ScanClustorProgress(int64_t clustor) {
  recover_.LabelInfoCurrentSector->setText(QString::number(clustor));
}

}  // namespace kestrella::gui
