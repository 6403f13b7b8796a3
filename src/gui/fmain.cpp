#include "gui/fmain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "app/cardtools.h"
#include "app/ffatscan.h"
#include "app/rawscan.h"
#include "app/recoveryrun.h"
#include "diskio/diskutils.h"
#include "diskio/drivetable.h"
#include "gui/fanalyzedrive.h"
#include "gui/fformat.h"
#include "gui/fpreview.h"
#include "gui/settings.h"
#include "util/userinterface.h"

namespace kestrella::gui {

namespace {

constexpr int kClientWidth = 680;
constexpr int kClientHeight = 298;
constexpr int kColumnWidth = 137;
constexpr int kSpeedButtonWidth = 120;
constexpr int kSpeedButtonHeight = 50;
// One read must fit the engine's 2,048,000-byte sector buffer.
constexpr uint32_t kLargestReadBytes = 2047999;
constexpr int kDrivePollMs = 2000;
constexpr int kDriveNumberRole = Qt::UserRole;
constexpr int kRootPathRole = Qt::UserRole + 1;
constexpr int kSourcePathRole = Qt::UserRole + 2;
// The preview opens beside the window, not over its Cancel button.
constexpr int kPreviewOffset = 250;
// The busy animation fits the row of the Start and Wipe buttons.
constexpr int kAnimationSize = 22;

int ClampToInt(uint64_t v) { return static_cast<int>(std::min<uint64_t>(v, INT_MAX)); }

const char* const kStyleSheet =
    "#TFrmMain { background: rgb(103,150,16); }"
    "#menupanel, #PageControl { background: white; border: 4px solid rgb(211,250,159); }"
    "QFrame[role=\"content\"] { background: rgb(249,253,235); }"
    "QLabel[role=\"title\"] { background: rgb(211,250,159); padding: 1px 3px; }"
    "QLabel, QToolButton, QCheckBox { color: rgb(69,97,5); }"
    "QToolButton { border: none; background: transparent; }"
    "QToolButton:checked { background: rgb(211,250,159); }";

// Bold 8 pt sans serif: the old dialog font when it is installed, otherwise
// whatever sans serif the system offers.
QFont CaptionFont() {
  QFont f;
  if (QFontDatabase::families().contains(QStringLiteral("MS Sans Serif"))) {
    f.setFamily(QStringLiteral("MS Sans Serif"));
  } else {
    f.setFamily(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
  }
  f.setPointSize(8);
  f.setBold(true);
  return f;
}

QIcon DriveIcon(uint32_t rootType) {
  const QStyle* style = QApplication::style();
  switch (rootType) {
    case kRootRemovable:
      return QIcon::fromTheme(QStringLiteral("drive-removable-media"),
                              style->standardIcon(QStyle::SP_DriveFDIcon));
    case kRootCDROM:
      return QIcon::fromTheme(QStringLiteral("drive-optical"),
                              style->standardIcon(QStyle::SP_DriveCDIcon));
    case kRootRamDisk:
      return QIcon::fromTheme(QStringLiteral("media-flash"),
                              style->standardIcon(QStyle::SP_DriveHDIcon));
    default:
      return QIcon::fromTheme(QStringLiteral("drive-harddisk"),
                              style->standardIcon(QStyle::SP_DriveHDIcon));
  }
}

QString MediaText(uint32_t rootType) {
  switch (rootType) {
    case kRootRemovable: return QStringLiteral("Removable");
    case kRootFixed: return QStringLiteral("Fixed");
    case kRootRemote: return QStringLiteral("Remote");
    case kRootCDROM: return QStringLiteral("CD-ROM");
    case kRootRamDisk: return QStringLiteral("RAMdisk");
    default: return QString();
  }
}

// Kilobytes in single precision, as the size has always been shown: the
// rounding of float is part of the figure users compare with the label.
QString CapacityText(uint32_t totalSectors, uint32_t bytesPerSector) {
  float k = static_cast<float>(totalSectors) * (1.0f / 1024.0f);
  k = k * static_cast<float>(bytesPerSector);
  // The user's decimal separator, but no grouping: "1023.50 KB".
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  if (k < 1024.0f) return locale.toString(k, 'f', 2) + QStringLiteral(" KB");
  if (k < 1048576.0f) return locale.toString(k * (1.0f / 1024.0f), 'f', 2) + QStringLiteral(" MB");
  return locale.toString(k * (1.0f / 1048576.0f), 'f', 2) + QStringLiteral(" GB");
}

QFrame* ContentPanel(const QString& title, QLayout* body, QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setProperty("role", "content");
  auto* v = new QVBoxLayout(panel);
  v->setContentsMargins(0, 0, 0, 2);
  v->setSpacing(2);
  auto* caption = new QLabel(title, panel);
  caption->setProperty("role", "title");
  caption->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  v->addWidget(caption);
  body->setContentsMargins(4, 0, 4, 0);
  v->addLayout(body);
  return panel;
}

QLabel* NamedLabel(const char* name, const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  return l;
}

QPushButton* NamedButton(const char* name, const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  return b;
}

// A place for the busy animation that keeps its room when hidden, so that the
// buttons beside it do not jump when it appears.
QLabel* BusyLabel(const char* name, QWidget* parent) {
  auto* l = NamedLabel(name, QString(), parent);
  l->setFixedSize(kAnimationSize, kAnimationSize);
  QSizePolicy policy = l->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  l->setSizePolicy(policy);
  l->hide();
  return l;
}

}  // namespace

TFrmMain::TFrmMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("TFrmMain"));
  setWindowTitle(QStringLiteral("Kestrella"));
  BuildUi();

  frmFATScan_ = std::make_unique<TFrmFATScan>();
  rawScan_ = std::make_unique<RawScan>();
  frmFATScan_->OnStartScanData = [this](int64_t, int64_t startClustor, int64_t endClustor,
                                        int32_t) { StartScanData(startClustor, endClustor); };
  frmFATScan_->OnScanProgress = [this](int64_t position) { ScanProgress(position); };
  frmFATScan_->OnScanClustorProgress = [this](int64_t clustor) { ScanClustorProgress(clustor); };
  rawScan_->OnProgress = [this](const RawScanStatus& status) { ShowScanProgress(status); };
  rawScan_->OnCountsChanged = [this](const RawScanStatus& status) { ShowScanCounts(status); };

  ButtonCancel->setEnabled(false);
  ButtonStart->setEnabled(false);

  FillDriveList();
  LoadSettings();
  // The prefix starts fresh every time: a stored one from an earlier card
  // would number new photos into an old series.
  EditFilenamePrefix->setText(QStringLiteral("image"));

  updateURL_ = ReadUpdateURL(QDir(ProgramFolder()).filePath(QStringLiteral("Kestrella.ini")));

  // Card readers come and go; a new card shows up as a new block device.
  knownBlockDevices_ = BlockDeviceNames();
  devicePoll_ = new QTimer(this);
  devicePoll_->setInterval(kDrivePollMs);
  connect(devicePoll_, &QTimer::timeout, this, &TFrmMain::PollBlockDevices);
  devicePoll_->start();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

TFrmMain::~TFrmMain() = default;

void TFrmMain::BuildUi() {
  setFixedSize(kClientWidth, kClientHeight);
  setAttribute(Qt::WA_StyledBackground, true);
  // The font goes into the style sheet too: with a sheet set, a widget's own
  // font is not passed on to every kind of child control.
  const QFont font = CaptionFont();
  setFont(font);
  setStyleSheet(QString::fromLatin1(kStyleSheet) +
                QStringLiteral("QLabel, QToolButton, QCheckBox, QPushButton, QLineEdit, QComboBox "
                               "{ font-family: \"%1\"; font-size: 8pt; font-weight: bold; }")
                    .arg(font.family()) +
                QStringLiteral("QLabel[role=\"heading\"] { font-size: 9pt; text-decoration: underline; }"));

  auto* outer = new QHBoxLayout(this);
  outer->setContentsMargins(4, 4, 4, 4);
  outer->setSpacing(4);

  auto* menupanel = new QFrame(this);
  menupanel->setObjectName(QStringLiteral("menupanel"));
  menupanel->setFixedWidth(kColumnWidth);
  auto* menu = new QVBoxLayout(menupanel);
  menu->setContentsMargins(4, 6, 4, 6);
  menu->setSpacing(2);
  auto speedButton = [&](QToolButton*& b, const char* name, const QString& caption,
                         const QString& hint, bool page) {
    b = new QToolButton(menupanel);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(caption);
    b->setToolTip(hint);
    b->setFixedSize(kSpeedButtonWidth, kSpeedButtonHeight);
    b->setAutoRaise(true);
    if (page) {
      b->setCheckable(true);
      b->installEventFilter(this);
    }
    menu->addWidget(b, 0, Qt::AlignHCenter);
  };
  speedButton(ButtonMain, "ButtonMain", "Recovery", "Media Recovery", true);
  speedButton(ButtonUtil, "ButtonUtil", "Tools", "Tools", true);
  speedButton(ButtonOptions, "ButtonOptions", "Settings", "Settings", true);
  speedButton(ButtonHelp, "ButtonHelp", "Help", "Help", false);
  speedButton(ButtonAbout, "ButtonAbout", "About", "About Kestrella", false);
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
  TSRecover = BuildRecoverPage();
  TSUtil = BuildUtilPage();
  TSOptions = BuildOptionsPage();
  PageControl->addWidget(TSRecover);
  PageControl->addWidget(TSUtil);
  PageControl->addWidget(TSOptions);
  PageControl->setCurrentWidget(TSRecover);
  outer->addWidget(PageControl, 1);

  connect(ButtonMain, &QToolButton::clicked, this, &TFrmMain::ButtonMainClick);
  connect(ButtonUtil, &QToolButton::clicked, this, &TFrmMain::ButtonUtilClick);
  connect(ButtonOptions, &QToolButton::clicked, this, &TFrmMain::ButtonOptionsClick);
  connect(ButtonHelp, &QToolButton::clicked, this, &TFrmMain::ButtonHelpClick);
  connect(ButtonAbout, &QToolButton::clicked, this, &TFrmMain::ButtonAboutClick);
  connect(ButtonOpenImage, &QPushButton::clicked, this, &TFrmMain::ButtonOpenImageClick);
  connect(ListBoxDrives, &QComboBox::currentIndexChanged, this, &TFrmMain::ListBoxDrivesChange);
  connect(ButtonStart, &QPushButton::clicked, this, &TFrmMain::ButtonStartClick);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFrmMain::ButtonCancelClick);
  connect(cb_preview, &QCheckBox::toggled, this, &TFrmMain::cb_previewClick);
  connect(FormatButton, &QPushButton::clicked, this, &TFrmMain::FormatButtonClick);
  connect(WipeButton, &QPushButton::clicked, this, &TFrmMain::WipeButtonClick);
  connect(WipeCancelButton, &QPushButton::clicked, this, &TFrmMain::WipeCancelButtonClick);
  SetBusyAnimation(DefaultBusyAnimation());
}

QWidget* TFrmMain::BuildRecoverPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TSRecover"));
  page->setWindowTitle(QStringLiteral("Recover images"));
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(4, 4, 4, 4);
  v->setSpacing(3);

  auto* driveRow = new QHBoxLayout;
  ListBoxDrives = new QComboBox(page);
  ListBoxDrives->setObjectName(QStringLiteral("ListBoxDrives"));
  ButtonOpenImage = NamedButton("ButtonOpenImage", QStringLiteral("Open image..."), page);
  ButtonOpenImage->setToolTip(QStringLiteral("Recover from a card image file"));
  driveRow->addWidget(ListBoxDrives, 1);
  driveRow->addWidget(ButtonOpenImage);
  v->addWidget(ContentPanel(QStringLiteral("Drive to recover"), driveRow, page));

  auto* destRow = new QHBoxLayout;
  EditDestPath = new QLineEdit(page);
  EditDestPath->setObjectName(QStringLiteral("EditDestPath"));
  ButtonBrowse = NamedButton("ButtonBrowse", QStringLiteral("..."), page);
  ButtonBrowse->setFixedWidth(28);
  destRow->addWidget(EditDestPath, 1);
  destRow->addWidget(ButtonBrowse);
  v->addWidget(
      ContentPanel(QStringLiteral("Where do you want to save recovered files?"), destRow, page));

  auto* grid = new QGridLayout;
  grid->setVerticalSpacing(0);
  QFont heading = CaptionFont();
  heading.setPointSize(9);
  heading.setUnderline(true);
  auto* media = new QLabel(QStringLiteral("Media"), page);
  media->setFont(heading);
  media->setProperty("role", "heading");
  auto* current = new QLabel(QStringLiteral("Current Status"), page);
  current->setFont(heading);
  current->setProperty("role", "heading");
  grid->addWidget(media, 0, 0, 1, 2);
  grid->addWidget(current, 0, 2, 1, 2);
  LabelInfoMedia = NamedLabel("LabelInfoMedia", QString(), page);
  LabelInfoCapacity = NamedLabel("LabelInfoCapacity", QString(), page);
  LabelInfoBytesPerSec = NamedLabel("LabelInfoBytesPerSec", QString(), page);
  LabelInfoStatus = NamedLabel("LabelInfoStatus", QString(), page);
  LabelInfoImagesFound = NamedLabel("LabelInfoImagesFound", QString(), page);
  LabelInfoReadErrors = NamedLabel("LabelInfoReadErrors", QString(), page);
  LabelCurrSec = NamedLabel("LabelCurrSec", QStringLiteral("Current sector:"), page);
  LabelInfoCurrentSector = NamedLabel("LabelInfoCurrentSector", QString(), page);
  grid->addWidget(new QLabel(QStringLiteral("Media:"), page), 1, 0);
  grid->addWidget(LabelInfoMedia, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Capacity:"), page), 2, 0);
  grid->addWidget(LabelInfoCapacity, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("Sector Size:"), page), 3, 0);
  grid->addWidget(LabelInfoBytesPerSec, 3, 1);
  grid->addWidget(new QLabel(QStringLiteral("Status:"), page), 1, 2);
  grid->addWidget(LabelInfoStatus, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("Images found:"), page), 2, 2);
  grid->addWidget(LabelInfoImagesFound, 2, 3);
  grid->addWidget(new QLabel(QStringLiteral("Read errors:"), page), 3, 2);
  grid->addWidget(LabelInfoReadErrors, 3, 3);
  grid->addWidget(LabelCurrSec, 4, 2);
  grid->addWidget(LabelInfoCurrentSector, 4, 3);
  GProgress = new QProgressBar(page);
  GProgress->setObjectName(QStringLiteral("GProgress"));
  GProgress->setFixedHeight(14);
  GProgress->setValue(0);
  grid->addWidget(new QLabel(QStringLiteral("Progress:"), page), 5, 0);
  grid->addWidget(GProgress, 5, 1, 1, 3);
  v->addWidget(ContentPanel(QStringLiteral("Status"), grid, page), 1);

  auto* actions = new QHBoxLayout;
  cb_preview = new QCheckBox(QStringLiteral("Preview"), page);
  cb_preview->setObjectName(QStringLiteral("cb_preview"));
  cb_preview->setChecked(true);
  ButtonStart = NamedButton("ButtonStart", QStringLiteral("&Start"), page);
  ButtonCancel = NamedButton("ButtonCancel", QStringLiteral("&Cancel"), page);
  Animate1 = BusyLabel("Animate1", page);
  actions->addWidget(cb_preview);
  actions->addStretch();
  actions->addWidget(Animate1);
  actions->addWidget(ButtonStart);
  actions->addWidget(ButtonCancel);
  v->addLayout(actions);
  return page;
}

QWidget* TFrmMain::BuildUtilPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TSUtil"));
  page->setWindowTitle(QStringLiteral("Utility"));
  auto* h = new QHBoxLayout(page);
  h->setContentsMargins(4, 4, 4, 4);
  auto* picture = new QLabel(page);
  picture->setPixmap(DriveIcon(kRootRemovable).pixmap(48, 48));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  h->addWidget(picture);
  auto* v = new QVBoxLayout;
  h->addLayout(v, 1);

  auto* format = new QVBoxLayout;
  auto* formatText = new QLabel(
      QStringLiteral("The Format Option helps when the camera/PC states that the card is "
                     "\"Corrupt, Not Initialized or Not Mounting\".  Selecting the Format Option "
                     "and then using the Recovery Option will normally get your files back."),
      page);
  formatText->setWordWrap(true);
  FormatButton = NamedButton("FormatButton", QStringLiteral("Format"), page);
  format->addWidget(formatText);
  format->addWidget(FormatButton, 0, Qt::AlignRight);
  v->addWidget(ContentPanel(QStringLiteral("Format"), format, page));

  auto* wipe = new QGridLayout;
  auto* wipeText = new QLabel(
      QStringLiteral("Select the Wipe Option after using your card to wipe old data off of the "
                     "card.  This allows the media to start with a 'clean slate'."),
      page);
  wipeText->setWordWrap(true);
  WipeGauge = new QProgressBar(page);
  WipeGauge->setObjectName(QStringLiteral("WipeGauge"));
  WipeGauge->setFixedHeight(14);
  WipeGauge->setValue(0);
  WipeButton = NamedButton("WipeButton", QStringLiteral("Wipe"), page);
  WipeCancelButton = NamedButton("WipeCancelButton", QStringLiteral("Cancel"), page);
  WipeCancelButton->setEnabled(false);
  wipe->addWidget(wipeText, 0, 0, 1, 4);
  wipe->addWidget(new QLabel(QStringLiteral("Progress:"), page), 1, 0);
  wipe->addWidget(WipeGauge, 1, 1);
  wipe->addWidget(WipeButton, 1, 2);
  wipe->addWidget(WipeCancelButton, 1, 3);
  AnimateWipe = BusyLabel("AnimateWipe", page);
  wipe->addWidget(AnimateWipe, 1, 4);
  v->addWidget(ContentPanel(QStringLiteral("Wipe"), wipe, page));
  return page;
}

QWidget* TFrmMain::BuildOptionsPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TSOptions"));
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(4, 4, 4, 4);

  auto* prefix = new QHBoxLayout;
  EditFilenamePrefix = new QLineEdit(page);
  EditFilenamePrefix->setObjectName(QStringLiteral("EditFilenamePrefix"));
  prefix->addWidget(EditFilenamePrefix);
  v->addWidget(ContentPanel(QStringLiteral("Recovered File Prefix"), prefix, page));

  auto* tune = new QGridLayout;
  auto slider = [&](QSlider*& s, const char* name, int max, int tick) {
    s = new QSlider(Qt::Horizontal, page);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(1, max);
    s->setTickInterval(tick);
    s->setTickPosition(QSlider::TicksBelow);
    s->setValue(1);
  };
  slider(TrackBarSecAtOnce, "TrackBarSecAtOnce", 1000, 250);
  slider(TrackBarRetryCount, "TrackBarRetryCount", 20, 5);
  tune->addWidget(new QLabel(QStringLiteral("My reader connection is "), page), 0, 0, 1, 3);
  tune->addWidget(new QLabel(QStringLiteral("Slow"), page), 1, 0);
  tune->addWidget(TrackBarSecAtOnce, 1, 1);
  tune->addWidget(new QLabel(QStringLiteral("Fast"), page), 1, 2);
  tune->addWidget(new QLabel(QStringLiteral("Give up on recovery"), page), 2, 0, 1, 3);
  tune->addWidget(new QLabel(QStringLiteral("Easily"), page), 3, 0);
  tune->addWidget(TrackBarRetryCount, 3, 1);
  tune->addWidget(new QLabel(QStringLiteral("Persist"), page), 3, 2);
  v->addWidget(ContentPanel(QStringLiteral("Tune Your Recovery"), tune, page));
  v->addStretch();
  return page;
}

void TFrmMain::FillDriveList() {
  const QSignalBlocker block(ListBoxDrives);
  ListBoxDrives->clear();
  std::vector<const DriveEntry*> kept;
  for (const DriveEntry& e : Drives().Drives()) {
    const uint32_t t = e.source.rootType;
    if (t == kRootRemovable || t == kRootFixed || t == kRootCDROM || t == kRootRamDisk)
      kept.push_back(&e);
  }
  std::stable_sort(kept.begin(), kept.end(), [](const DriveEntry* a, const DriveEntry* b) {
    return QString::fromStdString(a->RootPath())
               .compare(QString::fromStdString(b->RootPath()), Qt::CaseInsensitive) < 0;
  });
  int cDrive = -1;
  for (const DriveEntry* e : kept) {
    const QString root = QString::fromStdString(e->RootPath());
    ListBoxDrives->addItem(DriveIcon(e->source.rootType),
                           root + QLatin1Char(' ') + QString::fromStdString(e->Caption()));
    const int row = ListBoxDrives->count() - 1;
    ListBoxDrives->setItemData(row, static_cast<uint>(e->number), kDriveNumberRole);
    ListBoxDrives->setItemData(row, root, kRootPathRole);
    ListBoxDrives->setItemData(
        row, QString::fromStdString(e->source.path) + QLatin1Char('#') +
                 QString::number(e->source.partition),
        kSourcePathRole);
    if (root.toUpper() == QStringLiteral("C:\\")) cDrive = row;
  }
  ListBoxDrives->setCurrentIndex(cDrive);
  ListBoxDrivesChange();
}

void TFrmMain::ListBoxDrivesChange() {
  const int row = ListBoxDrives->currentIndex();
  if (row < 0) return;
  ButtonStart->setEnabled(false);
  LabelInfoMedia->clear();
  LabelInfoBytesPerSec->clear();
  LabelInfoCapacity->clear();

  const QString root = ListBoxDrives->itemData(row, kRootPathRole).toString();
  if (root.isEmpty()) return;
  curDriveLetter_ = root.at(0).toLatin1();
  curDriveNumber_ = static_cast<uint32_t>(static_cast<unsigned char>(curDriveLetter_)) - 64;

  if (!diskutils::GetLogDriveParams(static_cast<uint8_t>(curDriveNumber_), driveParams_)) {
    LabelInfoStatus->setText(QStringLiteral("not ready"));
    return;
  }
  const DriveEntry* entry = Drives().Find(static_cast<uint8_t>(curDriveNumber_));
  curDriveType_ = entry != nullptr ? entry->source.rootType : kRootUnknown;
  LabelInfoMedia->setText(MediaText(curDriveType_));
  LabelInfoBytesPerSec->setText(QString::number(driveParams_.BytesPerSector));
  LabelInfoCapacity->setText(CapacityText(driveParams_.TotalSectors, driveParams_.BytesPerSector));
  LabelInfoStatus->setText(QStringLiteral("Ready"));
  ButtonStart->setEnabled(true);

  TrackBarSecAtOnce->setMinimum(1);
  if (driveParams_.BytesPerSector != 0)
    TrackBarSecAtOnce->setMaximum(static_cast<int>(kLargestReadBytes / driveParams_.BytesPerSector));
  // The slider clamps: 1% of a large card is more than one read can hold.
  const uint32_t hundredth = driveParams_.TotalSectors / 100;
  TrackBarSecAtOnce->setValue(static_cast<int>(std::min<uint32_t>(hundredth, INT32_MAX)));
  if (TrackBarSecAtOnce->maximum() >= 4)
    TrackBarSecAtOnce->setTickInterval(TrackBarSecAtOnce->maximum() / 4);
}

void TFrmMain::EnableControls(bool enabled) {
  busy_ = !enabled;
  ButtonStart->setEnabled(enabled);
  ButtonBrowse->setEnabled(enabled);
  ListBoxDrives->setEnabled(enabled);
  EditDestPath->setEnabled(enabled);
  FormatButton->setEnabled(enabled);
  WipeButton->setEnabled(enabled);
  ButtonOpenImage->setEnabled(enabled);
  ButtonCancel->setEnabled(!enabled);
  WipeCancelButton->setEnabled(!enabled);
}

void TFrmMain::LoadSettings() {
  const StoredOptions o = ReadOptions();
  QString path = o.savePath;
  if (path.isEmpty() || !QFileInfo(path).isDir()) path = DefaultDestination();
  EditDestPath->setText(path);
  EditFilenamePrefix->setText(o.prefix);
  cb_preview->setChecked(o.preview == QStringLiteral("1"));
}

void TFrmMain::SaveSettings() {
  WriteOptions(EditDestPath->text(), EditFilenamePrefix->text(), cb_preview->isChecked());
}

void TFrmMain::closeEvent(QCloseEvent* event) {
  // Any loop still running sees the flag after its current sector.
  stopRequested_ = true;
  closing_ = true;
  if (run_ != nullptr) run_->Stop();
  if (wipe_ != nullptr) wipe_->Stop();
  devicePoll_->stop();
  SaveSettings();
  event->accept();
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
  // While Start is disabled the drive is not ready or busy: the page buttons
  // swallow the press so that their down state does not change either.
  if ((watched == ButtonMain || watched == ButtonUtil || watched == ButtonOptions) &&
      !ButtonStart->isEnabled()) {
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
  if (ButtonStart->isEnabled()) {
    PageControl->setCurrentWidget(page);
    return;
  }
  // A click that got past the filter (e.g. a shortcut): put the down state
  // back on the page that is showing.
  if (PageControl->currentWidget() == TSRecover) ButtonMain->setChecked(true);
  else if (PageControl->currentWidget() == TSUtil) ButtonUtil->setChecked(true);
  else ButtonOptions->setChecked(true);
}

void TFrmMain::ButtonMainClick() { ShowPage(TSRecover); }
void TFrmMain::ButtonUtilClick() { ShowPage(TSUtil); }
void TFrmMain::ButtonOptionsClick() { ShowPage(TSOptions); }

QString TFrmMain::HelpFilePath() {
  const QString program = ProgramFolder();
  const QStringList candidates = {
      QDir(program).filePath(QStringLiteral("help/index.html")),
      QDir(program).filePath(QStringLiteral("../share/kestrella/help/index.html")),
      // A build that runs from its build tree finds the manual in the source.
      QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../docs/help/index.html")),
  };
  for (const QString& c : candidates)
    if (QFileInfo(c).isFile()) return QFileInfo(c).canonicalFilePath();
  return QString();
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
          "<p>Provided as is, without any warranty; see the README of the source "
          "distribution for the licence terms.</p>"
          "<p>Credits: the Qt toolkit.</p>"
          "<p>Updates: %2<br>(updates come through your distribution on Linux; the program "
          "does not check this address itself)</p>")
          .arg(QStringLiteral(KESTRELLA_VERSION), updateURL_.toHtmlEscaped());
  QMessageBox::about(this, QStringLiteral("About Kestrella"), text);
}

bool TFrmMain::OpenImage(const QString& path) {
  const uint8_t number = Drives().AddImage(path.toStdString());
  if (number == 0) return false;
  FillDriveList();
  SelectDriveNumber(number);
  return true;
}

void TFrmMain::ButtonOpenImageClick() {
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("Open card image"), QDir::homePath(),
      QStringLiteral("Card images (*.img *.dd *.raw *.bin *.ima);;All files (*)"));
  if (path.isEmpty()) return;
  if (!OpenImage(path)) {
    QMessageBox::warning(this, QStringLiteral("Kestrella"),
                         QStringLiteral("The image could not be added:\n%1").arg(path));
  }
}

void TFrmMain::SelectDriveNumber(uint32_t number) {
  for (int i = 0; i < ListBoxDrives->count(); ++i) {
    if (ListBoxDrives->itemData(i, kDriveNumberRole).toUInt() == number) {
      if (ListBoxDrives->currentIndex() == i) ListBoxDrivesChange();
      else ListBoxDrives->setCurrentIndex(i);  // runs ListBoxDrivesChange
      return;
    }
  }
}

void TFrmMain::RefreshDrives() {
  if (busy_) return;
  const int row = ListBoxDrives->currentIndex();
  const QString selected =
      row >= 0 ? ListBoxDrives->itemData(row, kSourcePathRole).toString() : QString();
  Drives().ScanSystem();
  FillDriveList();
  if (selected.isEmpty()) return;
  for (int i = 0; i < ListBoxDrives->count(); ++i) {
    if (ListBoxDrives->itemData(i, kSourcePathRole).toString() == selected) {
      if (ListBoxDrives->currentIndex() != i) ListBoxDrives->setCurrentIndex(i);
      return;
    }
  }
}

QStringList TFrmMain::BlockDeviceNames() {
  QStringList names = QDir(QStringLiteral("/sys/class/block"))
                          .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
  names.sort();
  return names;
}

void TFrmMain::PollBlockDevices() {
  if (busy_) return;  // the list is read again once the run is over
  const QStringList now = BlockDeviceNames();
  if (now == knownBlockDevices_) return;
  knownBlockDevices_ = now;
  RefreshDrives();
}

// ---- the recovery run ---------------------------------------------------------

void TFrmMain::ButtonStartClick() {
  if (busy_) return;
  TRunChoice choice;
  {
    TFrmAnalyzeDrive analyze(*frmFATScan_, static_cast<uint8_t>(curDriveNumber_), this);
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
  settings.prefix = EditFilenamePrefix->text().toStdString();
  settings.sectorsAtOnce = static_cast<uint32_t>(TrackBarSecAtOnce->value());
  settings.retryLimit = static_cast<uint32_t>(TrackBarRetryCount->value());
  settings.tempFolder = ui().TempFolder();

  folderRoute_ = choice.FolderMethod;
  PrepareRun();
  if (folderRoute_) {
    LabelCurrSec->setText(QStringLiteral("Current clustor:"));
  } else {
    GProgress->setMaximum(ClampToInt(driveParams_.TotalSectors));
    GProgress->setValue(0);
  }

  TRecoveryRun run(*frmFATScan_, *rawScan_);
  run.OnFound = [this](const std::string& path) { FoundImage(path); };
  run_ = &run;
  QString failure;
  try {
    run.Run(choice, settings);
  } catch (const std::exception& e) {
    failure = QString::fromLocal8Bit(e.what());
  }
  run_ = nullptr;
  // The preview was handed every found file and deletes them once the save
  // step is over; the run's own list must not delete them before that.
  if (preview_) {
    for (size_t n = 1; n <= run.Found().ImageCount(); ++n) run.Found().Image(n).keep = true;
  }
  FinishRun();
  if (!failure.isEmpty()) {
    QMessageBox::warning(this, QStringLiteral("Kestrella"),
                         QStringLiteral("The recovery stopped early:\n%1").arg(failure));
  }
  ShowRunProblems(run.Problems());
  SaveStep();
}

void TFrmMain::ShowRunProblems(const std::vector<std::string>& problems) {
  if (problems.empty()) return;
  // A found file the temporary folder could not take is lost to the save
  // step: the user must hear of it, and where it stands.
  constexpr size_t kShown = 20;
  QString text = QStringLiteral("%1 found file(s) could not be written completely to the temporary folder %2:\n")
                     .arg(problems.size())
                     .arg(QString::fromStdString(ui().TempFolder().string()));
  for (size_t i = 0; i < problems.size() && i < kShown; ++i)
    text += QStringLiteral("\n") + QString::fromStdString(problems[i]);
  if (problems.size() > kShown) text += QStringLiteral("\n... and %1 more").arg(problems.size() - kShown);
  QMessageBox::warning(this, QStringLiteral("Kestrella"), text);
}

void TFrmMain::PrepareRun() {
  stopRequested_ = false;
  CreatePreview();
  EnableControls(false);
  ShowBusyAnimation(true);
  imagesFound_ = 0;
  LabelInfoImagesFound->setText(QStringLiteral("0"));
  LabelInfoReadErrors->setText(QStringLiteral("0"));
  LabelInfoStatus->setText(QStringLiteral("Busy"));
  LabelCurrSec->setText(QStringLiteral("Current sector:"));
}

void TFrmMain::CreatePreview() {
  // A preview left from an earlier run goes with the files it still holds.
  delete preview_.data();
  preview_ = new TFrmPreview(this);
  TFrmPreview::Hooks hooks;
  hooks.runInProgress = [this] { return busy_; };
  hooks.destFolder = [this] { return EditDestPath->text(); };
  hooks.filenamePrefix = [this] { return EditFilenamePrefix->text(); };
  hooks.previewOff = [this] { cb_preview->setChecked(false); };
  preview_->SetHooks(std::move(hooks));
  if (cb_preview->isChecked()) {
    preview_->move(x() + kPreviewOffset, y());
    preview_->show();
  }
}

void TFrmMain::FinishRun() {
  LabelInfoStatus->setText(QStringLiteral("Ready"));
  ShowBusyAnimation(false);
  GProgress->setValue(0);
  LabelInfoCurrentSector->clear();
  LabelCurrSec->setText(QStringLiteral("Current sector:"));
  EnableControls(true);
  diskutils::NT_CloseDrive();
  stopRequested_ = true;
  frmFATScan_->StopScan();
}

void TFrmMain::SaveStep() {
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
  preview_->SaveSelectedImages(EditDestPath->text(), EditFilenamePrefix->text());
  delete preview_.data();
}

void TFrmMain::ButtonCancelClick() {
  stopRequested_ = true;
  if (wipe_ != nullptr) wipe_->Stop();
  if (run_ != nullptr) run_->Stop();
  else frmFATScan_->StopScan();
}

void TFrmMain::cb_previewClick() {
  if (preview_) preview_->setVisible(cb_preview->isChecked());
}

void TFrmMain::FoundImage(const std::string& path) {
  ++imagesFound_;
  // The scan route counts a file when it begins; its count arrives through
  // ShowScanCounts.
  if (folderRoute_) LabelInfoImagesFound->setText(QString::number(imagesFound_));
  if (preview_) preview_->AddImage(QString::fromStdString(path));
}

void TFrmMain::ShowScanProgress(const RawScanStatus& status) {
  LabelInfoCurrentSector->setText(QString::number(status.currentSector));
  GProgress->setValue(ClampToInt(status.currentSector));
}

void TFrmMain::ShowScanCounts(const RawScanStatus& status) {
  LabelInfoImagesFound->setText(QString::number(status.imagesFound));
  LabelInfoReadErrors->setText(QString::number(status.readErrors));
}

void TFrmMain::StartScanData(int64_t startClustor, int64_t endClustor) {
  // Two passes over the clusters, and a hundredth more for the hand-over of
  // the found files; 32 bits is what the gauge holds.
  int32_t maximum = static_cast<int32_t>(2 * (endClustor - startClustor + 1));
  maximum += static_cast<int32_t>(std::nearbyint(static_cast<double>(maximum) * 0.01));
  GProgress->setMaximum(maximum);
  GProgress->setValue(0);
}

void TFrmMain::ScanProgress(int64_t position) {
  GProgress->setValue(static_cast<int32_t>(position));
  ui().ProcessMessages();
}

void TFrmMain::ScanClustorProgress(int64_t clustor) {
  LabelInfoCurrentSector->setText(QString::number(clustor));
}

// ---- the card utilities -----------------------------------------------------

void TFrmMain::FormatButtonClick() {
  if (busy_) return;
  FormatDrive();
  ListBoxDrivesChange();
}

int TFrmMain::FormatDrive() {
  const DriveEntry* found = Drives().Find(static_cast<uint8_t>(curDriveNumber_));
  if (found == nullptr) return TFrmFormat::kNotFormatted;
  const DriveEntry drive = *found;
  // A refused drive gets the warning and no dialog.
  if (!kestrella::FormatAllowed(drive)) return TFrmFormat::kNotFormatted;
  TFrmFormat dialog(drive, this);
  // The drive list must not be read anew under the open dialog.
  busy_ = true;
  const int status = dialog.Run();
  busy_ = false;
  return status;
}

bool TFrmMain::WipeDrive() {
  const DriveEntry* found = Drives().Find(static_cast<uint8_t>(curDriveNumber_));
  if (found == nullptr) return false;
  // Copies: the wipe lets events run, and nothing may change what it wipes.
  const DriveEntry drive = *found;
  const TLogDriveParams params = driveParams_;
  TWipe wipe;
  bool started = false;
  wipe.OnProgress = [&](uint32_t position, uint32_t maximum) {
    if (!started) {
      // The first sector is written: the question was answered yes.
      started = true;
      stopRequested_ = false;
      EnableControls(false);
      WipeGauge->setMaximum(ClampToInt(maximum));
      ShowBusyAnimation(true);
    }
    WipeGauge->setValue(ClampToInt(position));
  };
  wipe_ = &wipe;
  // From the question on nothing else may start, before the controls show it.
  busy_ = true;
  TWipeResult result;
  try {
    result = wipe.WipeDrive(drive, params, static_cast<uint32_t>(TrackBarSecAtOnce->value()));
  } catch (const std::exception&) {
    // The engine ends its loop quietly; a failure before it is a wipe not run.
  }
  wipe_ = nullptr;
  busy_ = false;
  // Once a sector was written the window was busy: put it back either way.
  if (!result.ran && !started) return false;
  stopRequested_ = true;
  WipeGauge->setValue(0);
  ShowBusyAnimation(false);
  EnableControls(true);
  if (result.failedWrites > 0) {
    // The card refused some writes: saying nothing would pass old photos off
    // as wiped.
    ui().MessageBox("Some sectors of [" + std::string(1, drive.Letter()) +
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
  if (ui().MessageBox(question, "Confirm", MsgIcon::Question, MsgButtons::YesNo) == MsgResult::Yes) {
    ui().ProcessMessages();
    FormatDrive();
  }
  ListBoxDrivesChange();
}

void TFrmMain::WipeCancelButtonClick() {
  stopRequested_ = true;
  if (wipe_ != nullptr) wipe_->Stop();
}

// ---- the busy animation -------------------------------------------------------

QString TFrmMain::DefaultBusyAnimation() { return QStringLiteral(":/kestrella/busy.gif"); }

void TFrmMain::SetBusyAnimation(const QString& path) {
  const bool running = busyMovie_ != nullptr && busyMovie_->state() == QMovie::Running;
  Animate1->setMovie(nullptr);
  AnimateWipe->setMovie(nullptr);
  delete busyMovie_;
  busyMovie_ = nullptr;
  auto* movie = new QMovie(path, QByteArray(), this);
  movie->setObjectName(QStringLiteral("BusyAnimation"));
  if (!QFileInfo(path).isReadable() || !movie->isValid() || movie->frameCount() == 0) {
    // No animation is no reason to bother the user: the label stays hidden.
    delete movie;
    Animate1->hide();
    AnimateWipe->hide();
    return;
  }
  movie->setScaledSize(QSize(kAnimationSize, kAnimationSize));
  busyMovie_ = movie;
  Animate1->setMovie(busyMovie_);
  AnimateWipe->setMovie(busyMovie_);
  if (running) ShowBusyAnimation(true);
}

void TFrmMain::ShowBusyAnimation(bool on) {
  if (busyMovie_ == nullptr || !on) {
    if (busyMovie_ != nullptr) busyMovie_->stop();
    Animate1->hide();
    AnimateWipe->hide();
    return;
  }
  busyMovie_->start();
  Animate1->show();
  AnimateWipe->show();
}

}  // namespace kestrella::gui
