#include "gui/fanalyzedrive.h"

#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/analysis.h"
#include "app/ffatscan.h"

namespace kestrella::gui {

namespace {

const char* const kAnalyzingText = "Analyzing Drive ";
constexpr int kMaxDots = 7;

QLabel* boldLabel(QWidget* parent, const char* name, const QString& text, int pixelHeight = 0) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  QFont f = label->font();
  f.setBold(true);
  if (pixelHeight > 0) f.setPixelSize(pixelHeight);
  label->setFont(f);
  return label;
}

}  // namespace

TFrmAnalyzeDrive::TFrmAnalyzeDrive(TFrmFATScan& driver, uint8_t drive, QWidget* parent)
    : QDialog(parent), driver_(driver), drive_(drive) {
  setObjectName("FrmAnalyzeDrive");
  setWindowTitle("Analyze Drive");
  setFixedSize(271, 129);

  // Pages without tabs: the dialog moves the user through them itself.
  PCDriveMethod = new QStackedWidget(this);
  PCDriveMethod->setObjectName("PCDriveMethod");
  PCDriveMethod->setGeometry(0, 0, 271, 97);

  TSAnalyzingDrive = whitePage("TSAnalyzingDrive");
  LabelBlinkAnalyzingDrive =
      boldLabel(TSAnalyzingDrive, "LabelBlinkAnalyzingDrive", kAnalyzingText, 13);
  LabelBlinkAnalyzingDrive->setGeometry(16, 36, 240, 20);

  TSSelectMethod = whitePage("TSSelectMethod");
  LabelTotalFolders = boldLabel(TSSelectMethod, "LabelTotalFolders", "Found 9999 folders");
  LabelTotalFolders->setGeometry(16, 12, 240, 18);
  RBFolderMethod = new QRadioButton("Use folder based recover  (Recommended)", TSSelectMethod);
  RBFolderMethod->setObjectName("RBFolderMethod");
  RBFolderMethod->setGeometry(16, 38, 250, 20);
  RBFolderMethod->setChecked(true);
  RBScanMethod = new QRadioButton("Use scan method recover", TSSelectMethod);
  RBScanMethod->setObjectName("RBScanMethod");
  RBScanMethod->setGeometry(16, 62, 250, 20);

  TSSelectType = whitePage("TSSelectType");
  LabelTotalDeletedFiles =
      boldLabel(TSSelectType, "LabelTotalDeletedFiles", "Found 9999 deleted files");
  LabelTotalDeletedFiles->setGeometry(16, 12, 240, 18);
  CBRecoverDeletedFiles = new QCheckBox("Recover these files", TSSelectType);
  CBRecoverDeletedFiles->setObjectName("CBRecoverDeletedFiles");
  CBRecoverDeletedFiles->setGeometry(16, 38, 250, 20);
  CBRecoverDeletedFiles->setChecked(true);
  CBRecoverLostFiles = new QCheckBox("Look for additional lost files", TSSelectType);
  CBRecoverLostFiles->setObjectName("CBRecoverLostFiles");
  CBRecoverLostFiles->setGeometry(16, 62, 250, 20);

  PCDriveMethod->setCurrentWidget(TSAnalyzingDrive);

  ButtonContinue = new QPushButton("Continue", this);
  ButtonContinue->setObjectName("ButtonContinue");
  ButtonContinue->setGeometry(104, 101, 75, 25);
  ButtonContinue->setEnabled(false);
  ButtonCancel = new QPushButton("Cancel", this);
  ButtonCancel->setObjectName("ButtonCancel");
  ButtonCancel->setGeometry(187, 101, 75, 25);

  AnalyzeTimer = new QTimer(this);
  AnalyzeTimer->setObjectName("AnalyzeTimer");
  AnalyzeTimer->setInterval(1000);
  AnalyzeTimer->setSingleShot(true);
  BlinkAnalyzeTimer = new QTimer(this);
  BlinkAnalyzeTimer->setObjectName("BlinkAnalyzeTimer");
  BlinkAnalyzeTimer->setInterval(250);
  BlinkAnalyzeTimer->setSingleShot(true);

  connect(AnalyzeTimer, &QTimer::timeout, this, &TFrmAnalyzeDrive::analyzeTimerTimer);
  connect(BlinkAnalyzeTimer, &QTimer::timeout, this, &TFrmAnalyzeDrive::blinkAnalyzeTimerTimer);
  connect(ButtonContinue, &QPushButton::clicked, this, &TFrmAnalyzeDrive::buttonContinueClick);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFrmAnalyzeDrive::buttonCancelClick);

  if (QScreen* screen = QApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

QWidget* TFrmAnalyzeDrive::whitePage(const char* name) {
  auto* page = new QWidget(PCDriveMethod);
  page->setObjectName(name);
  page->setAutoFillBackground(true);
  QPalette pal = page->palette();
  pal.setColor(QPalette::Window, Qt::white);
  page->setPalette(pal);
  PCDriveMethod->addWidget(page);
  return page;
}

bool TFrmAnalyzeDrive::folderMethod() const { return RBFolderMethod->isChecked(); }
bool TFrmAnalyzeDrive::recoverDeleted() const { return CBRecoverDeletedFiles->isChecked(); }
bool TFrmAnalyzeDrive::recoverLost() const { return CBRecoverLostFiles->isChecked(); }

void TFrmAnalyzeDrive::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  BlinkCount = 1;
  // Until the count actually starts there is nothing to stop; a Cancel in
  // that second still closes the dialog and the timer never runs the count.
  Cancelled = true;
  AnalyzeTimer->start();
}

void TFrmAnalyzeDrive::analyzeTimerTimer() {
  Cancelled = false;
  AnalyzeTimer->stop();
  BlinkAnalyzeTimer->start();
  // The count lets pending events run as it walks the trees, so the dots keep
  // growing and Cancel is heard while it runs inside this timer event.
  const TRouteProposal p = AnalyzeDrive(driver_, drive_, [this] { return Cancelled; });
  BlinkAnalyzeTimer->stop();
  if (Cancelled || p.Cancelled) return;

  ButtonContinue->setEnabled(true);
  if (p.FolderMethod)
    RBFolderMethod->setChecked(true);
  else
    RBScanMethod->setChecked(true);
  CBRecoverDeletedFiles->setChecked(p.RecoverDeletedFiles);
  CBRecoverLostFiles->setChecked(p.RecoverLostFiles);
  LabelTotalFolders->setText(QString("Found %1 deleted folders").arg(p.Folders));
  LabelTotalDeletedFiles->setText(QString("Found %1 deleted files").arg(p.Files));
  PCDriveMethod->setCurrentWidget(TSSelectMethod);
}

void TFrmAnalyzeDrive::blinkAnalyzeTimerTimer() {
  BlinkAnalyzeTimer->stop();
  if (BlinkCount == kMaxDots) {
    LabelBlinkAnalyzingDrive->setText(kAnalyzingText);
    BlinkCount = 0;
  } else {
    LabelBlinkAnalyzingDrive->setText(LabelBlinkAnalyzingDrive->text() + ".");
    ++BlinkCount;
  }
  BlinkAnalyzeTimer->start();
}

void TFrmAnalyzeDrive::buttonContinueClick() {
  if (PCDriveMethod->currentWidget() == TSSelectMethod && RBFolderMethod->isChecked()) {
    // The folder route still asks which files to bring back.
    PCDriveMethod->setCurrentWidget(TSSelectType);
    return;
  }
  done(kResultContinue);
}

void TFrmAnalyzeDrive::buttonCancelClick() { reject(); }

void TFrmAnalyzeDrive::reject() {
  Cancelled = true;
  AnalyzeTimer->stop();
  BlinkAnalyzeTimer->stop();
  driver_.StopScan();
  QApplication::processEvents();
  done(kResultCancel);
}

}  // namespace kestrella::gui
