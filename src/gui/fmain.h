// The program's main window: a column of page buttons beside three pages
// (recovery, card tools, settings), the drive list with its information
// panel, and the settings kept between runs.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>

#include "diskio/driveparams.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace kestrella::gui {

class TFrmMain : public QWidget {
  Q_OBJECT

 public:
  explicit TFrmMain(QWidget* parent = nullptr);
  ~TFrmMain() override;

  // Fills the drive list from the drive table, selects C: when there is one
  // and examines the selection.
  void FillDriveList();
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

  // The help manual: beside the program, in the installed share folder, or
  // in the source tree; empty when none is found.
  static QString HelpFilePath();

  const TLogDriveParams& DriveParams() const { return driveParams_; }
  uint32_t CurDriveNumber() const { return curDriveNumber_; }
  char CurDriveLetter() const { return curDriveLetter_; }
  uint32_t CurDriveType() const { return curDriveType_; }
  bool StopRequested() const { return stopRequested_; }
  const QString& UpdateURL() const { return updateURL_; }

 public slots:
  void ListBoxDrivesChange();

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
  void PollBlockDevices();

 private:
  void BuildUi();
  QWidget* BuildRecoverPage();
  QWidget* BuildUtilPage();
  QWidget* BuildOptionsPage();
  void ShowPage(QWidget* page);
  void SelectDriveNumber(uint32_t number);
  static QStringList BlockDeviceNames();

  // Left column.
  QToolButton* ButtonMain = nullptr;
  QToolButton* ButtonUtil = nullptr;
  QToolButton* ButtonOptions = nullptr;
  QToolButton* ButtonHelp = nullptr;
  QToolButton* ButtonAbout = nullptr;
  QButtonGroup* pageButtons_ = nullptr;

  QStackedWidget* PageControl = nullptr;
  QWidget* TSRecover = nullptr;
  QWidget* TSUtil = nullptr;
  QWidget* TSOptions = nullptr;

  // Recovery page.
  QComboBox* ListBoxDrives = nullptr;
  QPushButton* ButtonOpenImage = nullptr;
  QLineEdit* EditDestPath = nullptr;
  QPushButton* ButtonBrowse = nullptr;
  QLabel* LabelInfoMedia = nullptr;
  QLabel* LabelInfoCapacity = nullptr;
  QLabel* LabelInfoBytesPerSec = nullptr;
  QLabel* LabelInfoStatus = nullptr;
  QLabel* LabelInfoImagesFound = nullptr;
  QLabel* LabelInfoReadErrors = nullptr;
  QLabel* LabelCurrSec = nullptr;
  QLabel* LabelInfoCurrentSector = nullptr;
  QProgressBar* GProgress = nullptr;
  QCheckBox* cb_preview = nullptr;
  QPushButton* ButtonStart = nullptr;
  QPushButton* ButtonCancel = nullptr;

  // Tools page.
  QPushButton* FormatButton = nullptr;
  QProgressBar* WipeGauge = nullptr;
  QPushButton* WipeButton = nullptr;
  QPushButton* WipeCancelButton = nullptr;

  // Settings page.
  QLineEdit* EditFilenamePrefix = nullptr;
  QSlider* TrackBarSecAtOnce = nullptr;
  QSlider* TrackBarRetryCount = nullptr;

  TLogDriveParams driveParams_{};
  uint32_t curDriveNumber_ = 0;
  char curDriveLetter_ = 0;
  uint32_t curDriveType_ = 0;
  bool stopRequested_ = false;
  QString updateURL_;
  bool busy_ = false;

  QTimer* devicePoll_ = nullptr;
  QStringList knownBlockDevices_;
};

}  // namespace kestrella::gui
