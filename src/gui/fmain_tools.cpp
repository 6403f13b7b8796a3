#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QSlider>
#include <exception>
#include <string>

#include "app/cardtools.h"
#include "gui/fformat.h"
#include "gui/fmain.h"
#include "util/userinterface.h"

// The card utilities of the Tools page: Format through its dialog, Wipe with
// its gauge and Cancel, then the question whether to format the wiped card.
namespace kestrella::gui {

const DriveEntry* TFrmMain::ToolsDrive() const {
  // With nothing selected the number is a leftover of the last selection;
  // the tools must not act on it.
  if (recoverPage_.ListBoxDrives->currentIndex() < 0) return nullptr;
  return engine_.FindDrive(static_cast<uint8_t>(curDriveNumber_));
}

void TFrmMain::ShowToolsDrive() {
  const DriveEntry* drive = ToolsDrive();
  toolsPage_.LabelToolsDrive->setText(drive == nullptr
                                          ? QStringLiteral("No drive selected.")
                                          : QString::fromStdString(DriveDescription(*drive)));
}

void TFrmMain::FormatButtonClick() {
  if (busy_) return;
  FormatDrive();
  ListBoxDrivesChange();
}

int TFrmMain::FormatDrive() {
  const DriveEntry* found = ToolsDrive();
  if (found == nullptr) return TFrmFormat::kNotFormatted;
  const DriveEntry drive = *found;
  // A refused drive gets the warning and no dialog.
  if (!kestrella::FormatAllowed(engine_.Context(), drive)) return TFrmFormat::kNotFormatted;
  TFrmFormat dialog(engine_, drive, this);
  // The drive list must not be read anew under the open dialog.
  busy_ = true;
  const int status = dialog.Run();
  busy_ = false;
  return status;
}

bool TFrmMain::WipeDrive() {
  const DriveEntry* found = ToolsDrive();
  if (found == nullptr) return false;
  // Copies: the wipe lets events run, and nothing may change what it wipes.
  const DriveEntry drive = *found;
  const TLogDriveParams params = driveParams_;
  TWipe wipe(engine_.Context());
  bool started = false;
  wipe.OnProgress = [&](uint64_t position, uint64_t maximum) {
    if (!started) {
      // The first sector is written: the question was answered yes.
      started = true;
      SetBusyState(true);
      toolsPage_.WipeGauge->setMaximum(GaugePosition(maximum, maximum));
    }
    toolsPage_.WipeGauge->setValue(GaugePosition(position, maximum));
  };
  wipe_ = &wipe;
  // From the question on nothing else may start, before the controls show it.
  busy_ = true;
  TWipeResult result;
  try {
    result = wipe.WipeDrive(drive, params,
                            static_cast<uint32_t>(settingsPage_.TrackBarSecAtOnce->value()));
  } catch (const std::exception&) {
    // The engine ends its loop quietly; a failure before it is a wipe not run.
  }
  wipe_ = nullptr;
  busy_ = false;
  // Once a sector was written the window was busy: put it back either way.
  if (!result.ran && !started) return false;
  SetBusyState(false);
  toolsPage_.WipeGauge->setValue(0);
  // Stopped part way or sectors the card refused: saying nothing would pass
  // the card off as wiped. Closed during the wipe: the user is gone.
  const std::string outcome = WipeOutcome(drive, params, result);
  if (!outcome.empty() && !closing_)
    engine_.UI().MessageBox(outcome, "Warning", MsgIcon::Warning, MsgButtons::Ok);
  return true;
}

void TFrmMain::WipeButtonClick() {
  if (busy_) return;
  // The wipe needs the card's size, which only an opened card tells.
  if (!GainAccess()) return;
  if (!WipeDrive()) return;
  // Closed during the wipe: the user is gone, ask nothing more.
  if (closing_) return;
  const DriveEntry* drive = ToolsDrive();
  if (drive == nullptr) return;
  if (engine_.UI().MessageBox(FormatAfterWipeQuestion(*drive), "Confirm", MsgIcon::Question,
                              MsgButtons::YesNo) == MsgResult::Yes) {
    engine_.UI().ProcessMessages();
    FormatDrive();
  }
  ListBoxDrivesChange();
}

void TFrmMain::WipeCancelButtonClick() {
  stopRequested_ = true;
  if (wipe_ != nullptr) wipe_->Stop();
}

}  // namespace kestrella::gui
