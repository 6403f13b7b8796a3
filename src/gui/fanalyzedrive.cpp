#include "gui/fanalyzedrive.h"

#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QHBoxLayout>
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
const char* const kFolderText = "Use folder based recover";
const char* const kScanText = "Use scan method recover";
const char* const kRecommended = "  (Recommended)";

// Bold in the system's font; `scale` enlarges it relative to that font, so
// that it follows the desktop's font size.
QLabel* boldLabel(QWidget* parent, const char* name, const QString& text, qreal scale = 1.0) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  QFont f = label->font();
  f.setBold(true);
  if (scale != 1.0 && f.pointSizeF() > 0) f.setPointSizeF(f.pointSizeF() * scale);
  label->setFont(f);
  return label;
}

}  // namespace

TFrmAnalyzeDrive::TFrmAnalyzeDrive(TFrmFATScan& driver, uint8_t drive, QWidget* parent)
    : QDialog(parent), driver_(driver), drive_(drive) {
  setObjectName("FrmAnalyzeDrive");
  setWindowTitle("Analyze Drive");

  // Pages without tabs: the dialog moves the user through them itself.
  PCDriveMethod = new QStackedWidget(this);
  PCDriveMethod->setObjectName("PCDriveMethod");

  TSAnalyzingDrive = whitePage("TSAnalyzingDrive");
  LabelBlinkAnalyzingDrive =
      boldLabel(TSAnalyzingDrive, "LabelBlinkAnalyzingDrive", kAnalyzingText, 1.2);
  // The dots come and go; a width for all seven keeps the dialog from jumping.
  LabelBlinkAnalyzingDrive->setMinimumWidth(LabelBlinkAnalyzingDrive->fontMetrics().horizontalAdvance(
      QString(kAnalyzingText) + QString(kMaxDots, '.')));
  pageLayout(TSAnalyzingDrive, {LabelBlinkAnalyzingDrive});

  TSSelectMethod = whitePage("TSSelectMethod");
  LabelTotalFolders = boldLabel(TSSelectMethod, "LabelTotalFolders", "Found 9999 folders");
  RBFolderMethod = new QRadioButton(TSSelectMethod);
  RBFolderMethod->setObjectName("RBFolderMethod");
  RBFolderMethod->setChecked(true);
  RBScanMethod = new QRadioButton(TSSelectMethod);
  RBScanMethod->setObjectName("RBScanMethod");
  markRecommended(true);
  pageLayout(TSSelectMethod, {LabelTotalFolders, RBFolderMethod, RBScanMethod});

  TSSelectType = whitePage("TSSelectType");
  LabelTotalDeletedFiles =
      boldLabel(TSSelectType, "LabelTotalDeletedFiles", "Found 9999 deleted files");
  CBRecoverDeletedFiles = new QCheckBox("Recover these files", TSSelectType);
  CBRecoverDeletedFiles->setObjectName("CBRecoverDeletedFiles");
  CBRecoverDeletedFiles->setChecked(true);
  CBRecoverLostFiles = new QCheckBox("Look for additional lost files", TSSelectType);
  CBRecoverLostFiles->setObjectName("CBRecoverLostFiles");
  pageLayout(TSSelectType, {LabelTotalDeletedFiles, CBRecoverDeletedFiles, CBRecoverLostFiles});

  PCDriveMethod->setCurrentWidget(TSAnalyzingDrive);

  ButtonContinue = new QPushButton("Continue", this);
  ButtonContinue->setObjectName("ButtonContinue");
  ButtonContinue->setEnabled(false);
  // Enter is the expected step on, never a way out: Continue is the default
  // and Cancel does not take Enter even when it has the focus. Esc and the
  // button itself still cancel.
  ButtonContinue->setDefault(true);
  ButtonCancel = new QPushButton("Cancel", this);
  ButtonCancel->setObjectName("ButtonCancel");
  ButtonCancel->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ButtonContinue);
  buttons->addWidget(ButtonCancel);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 4);
  outer->addWidget(PCDriveMethod, 1);
  auto* buttonRow = new QWidget(this);
  buttons->setContentsMargins(8, 0, 8, 0);
  buttonRow->setLayout(buttons);
  outer->addWidget(buttonRow);
  // The dialog is at least the size its texts need, whatever the font; it
  // grows when a count's text is longer than the one before, and the user
  // may make it larger.
  outer->setSizeConstraint(QLayout::SetMinimumSize);

  // While Continue waits for the count the focus rests on the pages, so it
  // does not start on Cancel.
  PCDriveMethod->setFocusPolicy(Qt::ClickFocus);
  PCDriveMethod->setFocus();

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

  adjustSize();
  if (QScreen* screen = QApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TFrmAnalyzeDrive::pageLayout(QWidget* page, std::initializer_list<QWidget*> rows) {
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(16, 10, 16, 6);
  bool first = true;
  for (QWidget* row : rows) {
    layout->addWidget(row);
    if (first) layout->addSpacing(6);  // the count stands apart from the choices
    first = false;
  }
  layout->addStretch(1);
}

void TFrmAnalyzeDrive::markRecommended(bool folderRoute) {
  RBFolderMethod->setText(folderRoute ? QString(kFolderText) + kRecommended : kFolderText);
  RBScanMethod->setText(folderRoute ? kScanText : QString(kScanText) + kRecommended);
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
  markRecommended(p.FolderMethod);
  CBRecoverDeletedFiles->setChecked(p.RecoverDeletedFiles);
  CBRecoverLostFiles->setChecked(p.RecoverLostFiles);
  LabelTotalFolders->setText(QString("Found %1 deleted folders").arg(p.Folders));
  LabelTotalDeletedFiles->setText(QString("Found %1 deleted files").arg(p.Files));
  PCDriveMethod->setCurrentWidget(TSSelectMethod);
  ButtonContinue->setFocus();
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
