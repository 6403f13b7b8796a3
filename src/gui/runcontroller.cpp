#include "gui/runcontroller.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QWidget>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "app/ffatscan.h"
#include "app/rawscan.h"
#include "app/recoveryrun.h"
#include "gui/mainpages.h"
#include "util/userinterface.h"

namespace kestrella::gui {

namespace {

// The preview opens beside the window, not over its Cancel button.
constexpr int kPreviewOffset = 250;

}  // namespace

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
  PrepareRun();
  if (folderRoute_) {
    recover_.LabelCurrSec->setText(QStringLiteral("Current clustor:"));
  } else {
    recover_.GProgress->setMaximum(ClampToInt(settings.totalSectors));
    recover_.GProgress->setValue(0);
  }

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
  // Either route tells why it ended early; so does a failure thrown past it.
  if (failure.isEmpty()) failure = QString::fromStdString(run.Problems().AbortReason());
  FinishRun();
  if (!failure.isEmpty()) {
    QMessageBox::warning(window_, QStringLiteral("Kestrella"),
                         QStringLiteral("The recovery stopped early:\n%1").arg(failure));
  }
  ShowRunProblems(run.Problems());
  SaveStep();
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
  hooks.previewOff = [this] { recover_.cb_preview->setChecked(false); };
  preview_->SetHooks(std::move(hooks));
  if (recover_.cb_preview->isChecked()) {
    preview_->move(window_->x() + kPreviewOffset, window_->y());
    preview_->show();
  }
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

void RunController::SaveStep() {
  if (!preview_) return;
  if (preview_->isVisible()) {
    preview_->hide();
    preview_->BeginSaveStep();
    if (const QScreen* s = preview_->screen()) {
      const QRect area = s->geometry();
      preview_->move(area.width() / 2 - preview_->width() / 2,
                     area.height() / 2 - preview_->height() / 2);
    }
    // The dialog saves or discards on its own buttons and frees itself.
    preview_->exec();
    return;
  }
  // Preview turned off: every found file is kept without asking.
  preview_->SaveSelectedImages(recover_.EditDestPath->text(), NamingFrom(settings_));
  delete preview_.data();
}

void RunController::Cancel() {
  if (run_ != nullptr) run_->Stop();
  else frmFATScan_->StopScan();
}

void RunController::Stop() {
  if (run_ != nullptr) run_->Stop();
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
  recover_.GProgress->setValue(ClampToInt(status.currentSector));
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
