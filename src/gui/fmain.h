// The program's main window: a column of page buttons beside three pages
// (recovery, card tools, settings), the drive list with its information
// panel, the settings kept between runs, and the recovery run: Start asks the
// analysis dialog for a route and hands it to the run controller, which runs
// it inside the click handler with the preview filling as files turn up and
// ends with the save step.
//
// The window's code is spread over the files named for what they hold:
// fmain.cpp (the window, its page column, settings, help and the busy
// animation), mainpages.cpp (the pages' controls), fmain_drives.cpp (the drive
// list and its information panel), fmain_tools.cpp (Format and Wipe) and
// runcontroller.cpp (the run and its save step).
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "app/engine.h"
#include "gui/mainpages.h"

class QButtonGroup;
class QMovie;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace kestrella {
class TWipe;
}  // namespace kestrella

namespace kestrella::gui {

class RunController;
class TFrmPreview;

class TFrmMain : public QWidget {
  Q_OBJECT

 public:
  // `engine` (not owned) outlives the window.
  explicit TFrmMain(Engine& engine, QWidget* parent = nullptr);
  ~TFrmMain() override;

  // Fills the drive list from the drive table in the engine's order, selects
  // the drive whose source `keep` names (the list's source key) or else the
  // engine's preferred drive, and examines the selection.
  void FillDriveList(const QString& keep = QString());
  // Enabled: the idle state. Disabled: a run or a wipe owns the drive, only
  // the two Cancel buttons answer.
  void EnableControls(bool enabled);
  void LoadSettings();
  void SaveSettings();
  // Adds an image file to the drive table and selects it; false when the
  // table refuses it.
  bool OpenImage(const QString& path);
  // Lists the system's drives anew, keeping the selected drive if it is still
  // there. Does nothing while a run or a wipe is going on.
  void RefreshDrives();
  // A selected drive that needs permission is asked of the system (polkit
  // shows its dialog; the window keeps drawing meanwhile). True when the
  // drive can be read now or needed nothing; false, after saying why, when
  // access was refused.
  bool GainAccess();

  // The card utilities of the Tools page, for the selected drive. Format:
  // refuses the drives the engine refuses (with its warning and no dialog),
  // otherwise runs the Format dialog; returns mkfs.fat's exit status, or -1
  // when nothing was formatted. Wipe: the engine's wipe with the window
  // busy and the Wipe gauge moving; true when its loop ran (to the end or
  // until stopped), false when it was refused or declined.
  int FormatDrive();
  bool WipeDrive();

  // The busy animation shown while a run or a wipe goes on; a file that is
  // missing or no animation leaves it hidden. The program's own is built in.
  static QString DefaultBusyAnimation();
  void SetBusyAnimation(const QString& path);

  // The help manual in share/kestrella/help beside the program's bin folder
  // (installed or in the build tree); empty when there is none.
  static QString HelpFilePath();
  // The manual in the first of `folders` that holds one, empty when none does.
  static QString HelpFilePath(const QStringList& folders);

  const TLogDriveParams& DriveParams() const { return driveParams_; }
  uint32_t CurDriveNumber() const { return curDriveNumber_; }
  char CurDriveLetter() const { return curDriveLetter_; }
  RootKind CurDriveType() const { return curDriveType_; }
  bool StopRequested() const { return stopRequested_; }
  // The preview of the current or last run; null once it was closed.
  TFrmPreview* Preview() const;
  const QString& UpdateURL() const { return updateURL_; }

 public slots:
  void ListBoxDrivesChange();
  // One recovery run: the analysis, the chosen route and the save step.
  // Returns when the run and its save step are over.
  void ButtonStartClick();
  void ButtonCancelClick();
  void cb_previewClick();
  void FormatButtonClick();
  // Wipe, then the question whether to format the wiped card.
  void WipeButtonClick();
  void WipeCancelButtonClick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  void ButtonMainClick();
  void ButtonUtilClick();
  void ButtonOptionsClick();
  void ButtonHelpClick();
  void ButtonAboutClick();
  void ButtonOpenImageClick();
  // The folder dialog, opened at the destination (or its nearest existing
  // parent); OK puts the chosen folder into the destination, Cancel leaves it.
  void ButtonBrowseClick();
  void PollBlockDevices();

 private:
  void BuildUi();
  void ShowPage(QWidget* page);
  // The drive Format and Wipe act on, null when none is selected; the Tools
  // page names it and follows the selection.
  const DriveEntry* ToolsDrive() const;
  void ShowToolsDrive();
  // Busy: the stop flag down, every control but the Cancel buttons off, the
  // busy animation on; idle: the other way round. A run and a wipe share it.
  void SetBusyState(bool busy);
  void ShowBusyAnimation(bool on);
  void SelectDriveNumber(uint32_t number);
  // The block devices with their sizes, as the poll compares them.
  QStringList BlockDeviceNames() const;
  // Starts watching /sys/class/block for card readers coming and going.
  void WatchBlockDevices();

  // Left column.
  QToolButton* ButtonMain = nullptr;
  QToolButton* ButtonUtil = nullptr;
  QToolButton* ButtonOptions = nullptr;
  QToolButton* ButtonHelp = nullptr;
  QToolButton* ButtonAbout = nullptr;
  QButtonGroup* pageButtons_ = nullptr;

  QStackedWidget* PageControl = nullptr;
  RecoverPage recoverPage_;
  ToolsPage toolsPage_;
  SettingsPage settingsPage_;
  QMovie* busyMovie_ = nullptr;

  Engine& engine_;
  TLogDriveParams driveParams_{};
  uint32_t curDriveNumber_ = 0;
  char curDriveLetter_ = 0;
  RootKind curDriveType_ = RootKind::Unknown;
  bool stopRequested_ = false;
  QString updateURL_;
  bool busy_ = false;
  // Leftover folders of earlier runs the user chose to keep for later.
  std::set<std::string> leftoversDeclined_;
  bool closing_ = false;
  bool closeAfterRun_ = false;  // closed during a run: close once it is over
  TWipe* wipe_ = nullptr;  // the wipe in progress, if any

  QTimer* devicePoll_ = nullptr;
  QStringList knownBlockDevices_;

  std::unique_ptr<RunController> runController_;
};

}  // namespace kestrella::gui
