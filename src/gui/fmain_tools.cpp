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

void TFrmMain::FormatButtonClick() {
  if (busy_) return;
  FormatDrive();
  ListBoxDrivesChange();
}

int TFrmMain::FormatDrive() {
  const DriveEntry* found = engine_.FindDrive(static_cast<uint8_t>(curDriveNumber_));
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
  const DriveEntry* found = engine_.FindDrive(static_cast<uint8_t>(curDriveNumber_));
  if (found == nullptr) return false;
  // Copies: the wipe lets events run, and nothing may change what it wipes.
  const DriveEntry drive = *found;
  const TLogDriveParams params = driveParams_;
  TWipe wipe(engine_.Context());
  bool started = false;
  wipe.OnProgress = [&](uint32_t position, uint32_t maximum) {
    if (!started) {
      // The first sector is written: the question was answered yes.
      started = true;
      SetBusyState(true);
      toolsPage_.WipeGauge->setMaximum(ClampToInt(maximum));
    }
    toolsPage_.WipeGauge->setValue(ClampToInt(position));
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
  if (result.failedWrites > 0) {
    // The card refused some writes: saying nothing would pass old photos off
    // as wiped.
    engine_.UI().MessageBox("Some sectors of [" + std::string(1, drive.Letter()) +
                        ":] could not be written and still hold their old data (" +
                        std::to_string(result.sectorsWritten) + " of " +
                        std::to_string(params.TotalSectors) + " sectors were wiped).",
                    "Warning", MsgIcon::Warning, MsgButtons::Ok);
  }
  return true;
}

void TFrmMain::WipeButtonClick() {
  if (busy_) return;
  if (!WipeDrive()) return;
  // Closed during the wipe: the user is gone, ask nothing more.
  if (closing_) return;
  const std::string question =
      "Do you want to format [" + std::string(1, curDriveLetter_) + ":]?";
  if (engine_.UI().MessageBox(question, "Confirm", MsgIcon::Question, MsgButtons::YesNo) == MsgResult::Yes) {
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
