// The short analysis before a recovery run: counts what the FAT file system
// of the chosen drive still knows about, proposes a route from the counts and
// lets the user confirm it. Closes with 1 (continue) or 2 (cancel); the
// caller then reads the three choices.
#pragma once

#include <QDialog>

#include <cstdint>
#include <initializer_list>

#include "app/analysis.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTimer;
class QWidget;

namespace kestrella {
class TFrmFATScan;
}

namespace kestrella::gui {

class TFrmAnalyzeDrive : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResultContinue = 1;
  static constexpr int kResultCancel = 2;

  TFrmAnalyzeDrive(TFrmFATScan& driver, uint8_t drive, QWidget* parent = nullptr);

  // The user's choices, meaningful after a result of kResultContinue.
  bool folderMethod() const;
  bool recoverDeleted() const;
  bool recoverLost() const;

  // Cancel closes with kResultCancel however the dialog is left (button,
  // Esc or the window's close box), and always stops a running count.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void analyzeTimerTimer();
  void blinkAnalyzeTimerTimer();
  void buttonContinueClick();
  void buttonCancelClick();
  QWidget* whitePage(const char* name);
  static void pageLayout(QWidget* page, std::initializer_list<QWidget*> rows);
  // Puts "(Recommended)" on the route the count proposes, and only there.
  void markRecommended(bool folderRoute);

  TFrmFATScan& driver_;
  uint8_t drive_;
  int32_t BlinkCount = 0;  // dots shown after the label's text
  bool Cancelled = false;

  QStackedWidget* PCDriveMethod = nullptr;
  QWidget* TSAnalyzingDrive = nullptr;
  QWidget* TSSelectMethod = nullptr;
  QWidget* TSSelectType = nullptr;
  QLabel* LabelBlinkAnalyzingDrive = nullptr;
  QLabel* LabelTotalFolders = nullptr;
  QRadioButton* RBFolderMethod = nullptr;
  QRadioButton* RBScanMethod = nullptr;
  QLabel* LabelTotalDeletedFiles = nullptr;
  QCheckBox* CBRecoverDeletedFiles = nullptr;
  QCheckBox* CBRecoverLostFiles = nullptr;
  QPushButton* ButtonContinue = nullptr;
  QPushButton* ButtonCancel = nullptr;
  QTimer* AnalyzeTimer = nullptr;
  QTimer* BlinkAnalyzeTimer = nullptr;
};

}  // namespace kestrella::gui
