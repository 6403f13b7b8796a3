#include "gui/fmain.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMovie>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <optional>

#include "app/analysis.h"
#include "app/cardtools.h"
#include "app/rawscan.h"
#include "app/recoveryrun.h"
#include "gui/fanalyzedrive.h"
#include "gui/fselectfolderdialog.h"
#include "gui/runcontroller.h"
#include "gui/settings.h"
#include "gui/startfolders.h"
#include "util/userinterface.h"

namespace kestrella::gui {

namespace {

// The size the window opens at when its contents need no more.
constexpr int kClientWidth = 680;
constexpr int kClientHeight = 298;

const char* const kStyleSheet =
    "#TFrmMain { background: rgb(103,150,16); }"
    "#menupanel, #PageControl { background: white; border: 4px solid rgb(211,250,159); }"
    "QFrame[role=\"content\"] { background: rgb(249,253,235); }"
    "QLabel[role=\"title\"] { background: rgb(211,250,159); padding: 1px 3px; }"
    "QLabel, QToolButton, QCheckBox { color: rgb(69,97,5); }"
    "QToolButton { border: none; background: transparent; }"
    "QToolButton:checked { background: rgb(211,250,159); }"
    // Bold only: the family and the size are the desktop's.
    "QToolButton, QLabel[role=\"title\"] { font-weight: bold; }";

}  // namespace

TFrmMain::TFrmMain(Engine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window),
      engine_(engine) {
  setObjectName(QStringLiteral("TFrmMain"));
  setWindowTitle(QStringLiteral("Kestrella"));
  BuildUi();

  RunController::Hooks hooks;
  hooks.windowBusy = [this] { return busy_; };
  hooks.setRunning = [this](bool running) { SetBusyState(running); };
  runController_ =
      std::make_unique<RunController>(engine_, this, recoverPage_, settingsPage_, std::move(hooks));

  recoverPage_.ButtonCancel->setEnabled(false);
  recoverPage_.ButtonStart->setEnabled(false);

  FillDriveList();
  LoadSettings();
  // The prefix starts fresh every time: a stored one from an earlier card
  // would number new photos into an old series.
  settingsPage_.EditFilenamePrefix->setText(QStringLiteral("image"));

  updateURL_ = ReadUpdateURL(QDir(ProgramFolder()).filePath(QStringLiteral("Kestrella.ini")));

  WatchBlockDevices();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

TFrmMain::~TFrmMain() = default;

void TFrmMain::BuildUi() {
  setAttribute(Qt::WA_StyledBackground, true);
  setStyleSheet(QString::fromLatin1(kStyleSheet));
  setWindowIcon(DriveIcon(RootKind::Removable));

  auto* outer = new QHBoxLayout(this);
  outer->setContentsMargins(4, 4, 4, 4);
  outer->setSpacing(4);

  auto* menupanel = new QFrame(this);
  menupanel->setObjectName(QStringLiteral("menupanel"));
  menupanel->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
  auto* menu = new QVBoxLayout(menupanel);
  menu->setContentsMargins(4, 6, 4, 6);
  menu->setSpacing(2);
  auto speedButton = [&](QToolButton*& b, const char* name, const QString& caption,
                         const QString& hint, bool page, const QIcon& icon) {
    b = new QToolButton(menupanel);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(caption);
    b->setToolTip(hint);
    b->setIcon(icon);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setIconSize(QSize(24, 24));
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    b->setAutoRaise(true);
    if (page) {
      b->setCheckable(true);
      b->installEventFilter(this);
    }
    menu->addWidget(b);
  };
  speedButton(ButtonMain, "ButtonMain", "Recovery", "Media Recovery", true,
              ThemeIcon("document-revert", QStyle::SP_BrowserReload));
  speedButton(ButtonUtil, "ButtonUtil", "Tools", "Tools", true, DriveIcon(RootKind::Removable));
  speedButton(ButtonOptions, "ButtonOptions", "Settings", "Settings", true,
              ThemeIcon("preferences-system", QStyle::SP_FileDialogDetailedView));
  speedButton(ButtonHelp, "ButtonHelp", "Help", "Help", false,
              ThemeIcon("help-contents", QStyle::SP_MessageBoxQuestion));
  speedButton(ButtonAbout, "ButtonAbout", "About", "About Kestrella", false,
              ThemeIcon("help-about", QStyle::SP_MessageBoxInformation));
  menu->addStretch();
  pageButtons_ = new QButtonGroup(this);
  pageButtons_->setExclusive(true);
  pageButtons_->addButton(ButtonMain, 1);
  pageButtons_->addButton(ButtonUtil, 2);
  pageButtons_->addButton(ButtonOptions, 3);
  ButtonMain->setChecked(true);
  outer->addWidget(menupanel);

  PageControl = new QStackedWidget(this);
  PageControl->setObjectName(QStringLiteral("PageControl"));
  recoverPage_ = BuildRecoverPage();
  toolsPage_ = BuildToolsPage();
  settingsPage_ = BuildSettingsPage();
  PageControl->addWidget(recoverPage_.TSRecover);
  PageControl->addWidget(toolsPage_.TSUtil);
  PageControl->addWidget(settingsPage_.TSOptions);
  PageControl->setCurrentWidget(recoverPage_.TSRecover);
  outer->addWidget(PageControl, 1);

  connect(ButtonMain, &QToolButton::clicked, this, &TFrmMain::ButtonMainClick);
  connect(ButtonUtil, &QToolButton::clicked, this, &TFrmMain::ButtonUtilClick);
  connect(ButtonOptions, &QToolButton::clicked, this, &TFrmMain::ButtonOptionsClick);
  connect(ButtonHelp, &QToolButton::clicked, this, &TFrmMain::ButtonHelpClick);
  connect(ButtonAbout, &QToolButton::clicked, this, &TFrmMain::ButtonAboutClick);
  const RecoverPage& r = recoverPage_;
  connect(r.ButtonOpenImage, &QPushButton::clicked, this, &TFrmMain::ButtonOpenImageClick);
  connect(r.ButtonBrowse, &QPushButton::clicked, this, &TFrmMain::ButtonBrowseClick);
  connect(r.ListBoxDrives, &QComboBox::currentIndexChanged, this, &TFrmMain::ListBoxDrivesChange);
  connect(r.ButtonStart, &QPushButton::clicked, this, &TFrmMain::ButtonStartClick);
  connect(r.ButtonCancel, &QPushButton::clicked, this, &TFrmMain::ButtonCancelClick);
  connect(r.cb_preview, &QCheckBox::toggled, this, &TFrmMain::cb_previewClick);
  const ToolsPage& t = toolsPage_;
  connect(t.FormatButton, &QPushButton::clicked, this, &TFrmMain::FormatButtonClick);
  connect(t.WipeButton, &QPushButton::clicked, this, &TFrmMain::WipeButtonClick);
  connect(t.WipeCancelButton, &QPushButton::clicked, this, &TFrmMain::WipeCancelButtonClick);
  SetBusyAnimation(DefaultBusyAnimation());
  // Resizable down to what its contents need; it opens a little roomier.
  resize(sizeHint().expandedTo(QSize(kClientWidth, kClientHeight)));
}

void TFrmMain::EnableControls(bool enabled) {
  busy_ = !enabled;
  recoverPage_.ButtonStart->setEnabled(enabled);
  recoverPage_.ButtonBrowse->setEnabled(enabled);
  recoverPage_.ListBoxDrives->setEnabled(enabled);
  recoverPage_.EditDestPath->setEnabled(enabled);
  toolsPage_.FormatButton->setEnabled(enabled);
  toolsPage_.WipeButton->setEnabled(enabled);
  recoverPage_.ButtonOpenImage->setEnabled(enabled);
  recoverPage_.ButtonCancel->setEnabled(!enabled);
  toolsPage_.WipeCancelButton->setEnabled(!enabled);
}

void TFrmMain::LoadSettings() {
  const StoredOptions o = ReadOptions();
  QString path = o.savePath;
  if (path.isEmpty() || !QFileInfo(path).isDir()) path = DefaultDestination();
  recoverPage_.EditDestPath->setText(path);
  settingsPage_.EditFilenamePrefix->setText(o.prefix);
  settingsPage_.CheckCardNames->setChecked(o.cardNames);
  settingsPage_.CheckFolderPerKind->setChecked(o.folderPerKind);
  settingsPage_.CheckCutAtEnd->setChecked(o.cutAtEnd);
  recoverPage_.cb_preview->setChecked(o.preview == QStringLiteral("1"));
}

void TFrmMain::ButtonBrowseClick() {
  TFrmSelectFolderDialog dlg(this);
  dlg.selectFolder(NearestExistingFolder(recoverPage_.EditDestPath->text()));
  if (dlg.exec() != TFrmSelectFolderDialog::kResultOk) return;
  const QString chosen = dlg.selectedFolder();
  if (!chosen.isEmpty()) recoverPage_.EditDestPath->setText(chosen);
}

void TFrmMain::SaveSettings() {
  WriteOptions(recoverPage_.EditDestPath->text(), settingsPage_.EditFilenamePrefix->text(),
               recoverPage_.cb_preview->isChecked());
  WriteNamingOptions(settingsPage_.CheckCardNames->isChecked(),
                     settingsPage_.CheckFolderPerKind->isChecked(),
                     settingsPage_.CheckCutAtEnd->isChecked());
}

void TFrmMain::closeEvent(QCloseEvent* event) {
  if (runController_->Running()) {
    // The run's loop runs inside the Start click: the window stays until the
    // run has stopped and the found files are saved or discarded, then
    // closes for good (see ButtonStartClick). Closing it now would leave a
    // run and its dialogs going without a window.
    closeAfterRun_ = true;
    runController_->StopForClose();
    event->ignore();
    return;
  }
  // Any loop still running sees the flag after its current sector.
  stopRequested_ = true;
  closing_ = true;
  runController_->CloseSummary();
  if (wipe_ != nullptr) wipe_->Stop();
  devicePoll_->stop();
  SaveSettings();
  event->accept();
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
  // While Start is disabled the drive is not ready or busy: the page buttons
  // swallow the press so that their down state does not change either.
  if ((watched == ButtonMain || watched == ButtonUtil || watched == ButtonOptions) &&
      !recoverPage_.ButtonStart->isEnabled()) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseButtonRelease:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
        return true;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TFrmMain::ShowPage(QWidget* page) {
  if (recoverPage_.ButtonStart->isEnabled()) {
    PageControl->setCurrentWidget(page);
    return;
  }
  // A click that got past the filter (e.g. a shortcut): put the down state
  // back on the page that is showing.
  if (PageControl->currentWidget() == recoverPage_.TSRecover) ButtonMain->setChecked(true);
  else if (PageControl->currentWidget() == toolsPage_.TSUtil) ButtonUtil->setChecked(true);
  else ButtonOptions->setChecked(true);
}

void TFrmMain::ButtonMainClick() { ShowPage(recoverPage_.TSRecover); }
void TFrmMain::ButtonUtilClick() { ShowPage(toolsPage_.TSUtil); }
void TFrmMain::ButtonOptionsClick() { ShowPage(settingsPage_.TSOptions); }

namespace {

// The first of `folders` that holds `name`, as a canonical path; empty when
// none does.
QString FirstFileIn(const QStringList& folders, const QString& name) {
  for (const QString& folder : folders) {
    const QFileInfo file(QDir(folder).filePath(name));
    if (!folder.isEmpty() && file.isFile()) return file.canonicalFilePath();
  }
  return QString();
}

// The licence, built into the program, in a window of its own: it is there
// whether or not the documentation was installed.
void ShowLicence(QWidget* parent) {
  QFile file(QStringLiteral(":/kestrella/LICENSE"));
  const bool read = file.open(QIODevice::ReadOnly);
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("LicenceDialog"));
  dialog.setWindowTitle(QStringLiteral("Kestrella Licence"));
  auto* text = new QPlainTextEdit(&dialog);
  text->setObjectName(QStringLiteral("LicenceText"));
  text->setReadOnly(true);
  text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  text->setPlainText(read ? QString::fromUtf8(file.readAll())
                          : QStringLiteral("GNU General Public License, version 3 or later: "
                                           "https://www.gnu.org/licenses/gpl-3.0.html"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(text);
  layout->addWidget(buttons);
  // The licence's lines are under 80 columns: wide enough for them whole.
  const QFontMetrics metrics(text->font());
  dialog.resize(metrics.horizontalAdvance(QLatin1Char('M')) * 84, metrics.height() * 30);
  dialog.exec();
}

}  // namespace

QString TFrmMain::HelpFilePath(const QStringList& folders) {
  return FirstFileIn(folders, QStringLiteral("index.html"));
}

QString TFrmMain::HelpFilePath() {
  // Relative to the program (normally ../share/kestrella/help), so that an
  // installed tree works wherever its prefix is; the build tree copies the
  // manual to the same place beside its bin folder.
  return HelpFilePath({QDir(ProgramFolder()).filePath(QStringLiteral(KESTRELLA_HELP_FROM_BIN))});
}

void TFrmMain::ButtonHelpClick() {
  const QString path = HelpFilePath();
  if (path.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    QMessageBox::warning(this, QStringLiteral("Kestrella"),
                         QStringLiteral("The help file could not be opened."));
  }
}

void TFrmMain::ButtonAboutClick() {
  const QString text =
      QStringLiteral(
          "<p><b>Kestrella %1</b></p>"
          "<p>Brings back photos, videos and sound files from FAT memory cards, USB sticks "
          "and card images.</p>"
          "<p>Kestrella is free software: you can redistribute it and/or modify it under the "
          "terms of the GNU General Public License, version 3 or later. It comes with no "
          "warranty.</p>"
          "<p>Credits: the Qt toolkit.</p>"
          "<p>Updates: %2<br>(updates come through your distribution on Linux; the program "
          "does not check this address itself)</p>")
          .arg(QStringLiteral(KESTRELLA_VERSION), updateURL_.toHtmlEscaped());
  QMessageBox box(this);
  box.setObjectName(QStringLiteral("AboutBox"));
  box.setWindowTitle(QStringLiteral("About Kestrella"));
  box.setIconPixmap(windowIcon().pixmap(QSize(64, 64), devicePixelRatioF()));
  box.setTextFormat(Qt::RichText);
  box.setText(text);
  QPushButton* licence = box.addButton(QStringLiteral("&Licence"), QMessageBox::HelpRole);
  licence->setObjectName(QStringLiteral("ButtonLicence"));
  box.setDefaultButton(box.addButton(QMessageBox::Close));
  // Every button of a message box closes it: after the licence is opened the
  // box comes back, so that the user ends where they were.
  for (;;) {
    box.exec();
    if (box.clickedButton() != licence) break;
    ShowLicence(&box);
  }
}

// ---- the recovery run ---------------------------------------------------------

void TFrmMain::ButtonStartClick() {
  if (busy_) return;
  if (!GainAccess()) return;
  // Before anything is read, as kestrella-cli does: a destination or a
  // temporary folder on the card being recovered would overwrite the photos
  // still to be found.
  if (const DriveEntry* drive = engine_.FindDrive(static_cast<uint8_t>(curDriveNumber_))) {
    if (!ReadyFolders(engine_, this, recoverPage_.EditDestPath->text(), *drive)) return;
    OfferLeftovers(engine_, this, recoverPage_.EditDestPath->text(), NamingFrom(settingsPage_),
                   leftoversDeclined_);
  }
  TRunChoice choice;
  {
    TFrmAnalyzeDrive analyze(runController_->FolderScan(), static_cast<uint8_t>(curDriveNumber_),
                             this);
    if (analyze.exec() != TFrmAnalyzeDrive::kResultContinue) return;
    choice.FolderMethod = analyze.folderMethod();
    choice.RecoverDeleted = analyze.recoverDeleted();
    choice.RecoverLost = analyze.recoverLost();
  }
  // An empty drive has nothing to scan: no preview, no save step.
  if (!choice.FolderMethod && driveParams_.TotalSectors == 0) return;

  RawScanSettings settings;
  settings.drive = static_cast<uint8_t>(curDriveNumber_);
  settings.bytesPerSector = driveParams_.BytesPerSector;
  settings.totalSectors = driveParams_.TotalSectors;
  settings.totalBytes = driveParams_.TotalBytes;
  settings.prefix = settingsPage_.EditFilenamePrefix->text().toStdString();
  settings.sectorsAtOnce = static_cast<uint32_t>(settingsPage_.TrackBarSecAtOnce->value());
  settings.retryLimit = static_cast<uint32_t>(settingsPage_.TrackBarRetryCount->value());
  settings.cutAtEnd = settingsPage_.CheckCutAtEnd->isChecked();
  settings.tempFolder = RunLocation(recoverPage_.EditDestPath->text().toStdString(), engine_.TempFolder());
  runController_->Run(choice, settings);
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    close();
  }
}

void TFrmMain::ButtonCancelClick() {
  stopRequested_ = true;
  if (wipe_ != nullptr) wipe_->Stop();
  runController_->Cancel();
}

void TFrmMain::cb_previewClick() { runController_->PreviewSwitched(); }

TFrmPreview* TFrmMain::Preview() const { return runController_->Preview(); }

// ---- the busy animation -------------------------------------------------------

QString TFrmMain::DefaultBusyAnimation() { return QStringLiteral(":/kestrella/busy.gif"); }

void TFrmMain::SetBusyAnimation(const QString& path) {
  const bool running = busyMovie_ != nullptr && busyMovie_->state() == QMovie::Running;
  recoverPage_.Animate1->setMovie(nullptr);
  toolsPage_.AnimateWipe->setMovie(nullptr);
  delete busyMovie_;
  busyMovie_ = nullptr;
  auto* movie = new QMovie(path, QByteArray(), this);
  movie->setObjectName(QStringLiteral("BusyAnimation"));
  if (!QFileInfo(path).isReadable() || !movie->isValid() || movie->frameCount() == 0) {
    // No animation is no reason to bother the user: the label stays hidden.
    delete movie;
    recoverPage_.Animate1->hide();
    toolsPage_.AnimateWipe->hide();
    return;
  }
  movie->setScaledSize(QSize(kAnimationSize, kAnimationSize));
  busyMovie_ = movie;
  recoverPage_.Animate1->setMovie(busyMovie_);
  toolsPage_.AnimateWipe->setMovie(busyMovie_);
  if (running) ShowBusyAnimation(true);
}

void TFrmMain::SetBusyState(bool busy) {
  stopRequested_ = !busy;
  EnableControls(!busy);
  ShowBusyAnimation(busy);
}

void TFrmMain::ShowBusyAnimation(bool on) {
  if (busyMovie_ == nullptr || !on) {
    if (busyMovie_ != nullptr) busyMovie_->stop();
    recoverPage_.Animate1->hide();
    toolsPage_.AnimateWipe->hide();
    return;
  }
  busyMovie_->start();
  recoverPage_.Animate1->show();
  toolsPage_.AnimateWipe->show();
}

}  // namespace kestrella::gui
