#include "gui/mainpages.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QVBoxLayout>

#include "app/engine.h"

namespace kestrella::gui {

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(QString::fromLatin1(name), QApplication::style()->standardIcon(fallback));
}

QIcon DriveIcon(RootKind rootType) {
  const QStyle* style = QApplication::style();
  switch (rootType) {
    case RootKind::Removable:
      return QIcon::fromTheme(QStringLiteral("drive-removable-media"),
                              style->standardIcon(QStyle::SP_DriveFDIcon));
    case RootKind::CDROM:
      return QIcon::fromTheme(QStringLiteral("drive-optical"),
                              style->standardIcon(QStyle::SP_DriveCDIcon));
    case RootKind::RamDisk:
      return QIcon::fromTheme(QStringLiteral("media-flash"),
                              style->standardIcon(QStyle::SP_DriveHDIcon));
    default:
      return QIcon::fromTheme(QStringLiteral("drive-harddisk"),
                              style->standardIcon(QStyle::SP_DriveHDIcon));
  }
}

namespace {

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

// An empty page for the window's page stack, known to the style sheet and
// the tests by its object name.
QWidget* NewPage(const char* name, const QString& title) {
  auto* page = new QWidget;
  page->setObjectName(QString::fromLatin1(name));
  if (!title.isEmpty()) page->setWindowTitle(title);
  return page;
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

RecoverPage BuildRecoverPage() {
  RecoverPage r;
  QWidget* page = r.TSRecover = NewPage("TSRecover", QStringLiteral("Recover images"));
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(4, 4, 4, 4);
  v->setSpacing(3);

  auto* driveRow = new QHBoxLayout;
  r.ListBoxDrives = new QComboBox(page);
  r.ListBoxDrives->setObjectName(QStringLiteral("ListBoxDrives"));
  r.ButtonOpenImage = NamedButton("ButtonOpenImage", QStringLiteral("Open image..."), page);
  r.ButtonOpenImage->setToolTip(QStringLiteral("Recover from a card image file"));
  driveRow->addWidget(r.ListBoxDrives, 1);
  driveRow->addWidget(r.ButtonOpenImage);
  v->addWidget(ContentPanel(QStringLiteral("Drive to recover"), driveRow, page));

  auto* destRow = new QHBoxLayout;
  r.EditDestPath = new QLineEdit(page);
  r.EditDestPath->setObjectName(QStringLiteral("EditDestPath"));
  r.ButtonBrowse = NamedButton("ButtonBrowse", QStringLiteral("&Browse..."), page);
  r.ButtonBrowse->setIcon(ThemeIcon("folder-open", QStyle::SP_DirOpenIcon));
  r.ButtonBrowse->setToolTip(QStringLiteral("Choose the destination folder"));
  destRow->addWidget(r.EditDestPath, 1);
  destRow->addWidget(r.ButtonBrowse);
  v->addWidget(
      ContentPanel(QStringLiteral("Where do you want to save recovered files?"), destRow, page));

  auto* grid = new QGridLayout;
  grid->setVerticalSpacing(0);
  // The system's font, only bold and underlined: sizes are the desktop's to choose.
  QFont heading = page->font();
  heading.setBold(true);
  heading.setUnderline(true);
  auto* media = new QLabel(QStringLiteral("Media"), page);
  media->setFont(heading);
  media->setProperty("role", "heading");
  auto* current = new QLabel(QStringLiteral("Current Status"), page);
  current->setFont(heading);
  current->setProperty("role", "heading");
  grid->addWidget(media, 0, 0, 1, 2);
  grid->addWidget(current, 0, 2, 1, 2);
  r.LabelInfoMedia = NamedLabel("LabelInfoMedia", QString(), page);
  r.LabelInfoCapacity = NamedLabel("LabelInfoCapacity", QString(), page);
  r.LabelInfoBytesPerSec = NamedLabel("LabelInfoBytesPerSec", QString(), page);
  r.LabelInfoStatus = NamedLabel("LabelInfoStatus", QString(), page);
  r.LabelInfoImagesFound = NamedLabel("LabelInfoImagesFound", QString(), page);
  r.LabelInfoReadErrors = NamedLabel("LabelInfoReadErrors", QString(), page);
  r.LabelCurrSec = NamedLabel("LabelCurrSec", QStringLiteral("Current sector:"), page);
  r.LabelInfoCurrentSector = NamedLabel("LabelInfoCurrentSector", QString(), page);
  // The media figures, and in their place the advice for a drive that
  // cannot be read (no permission, no card).
  r.MediaInfo = new QWidget(page);
  r.MediaInfo->setObjectName(QStringLiteral("MediaInfo"));
  auto* mediaGrid = new QGridLayout(r.MediaInfo);
  mediaGrid->setContentsMargins(0, 0, 0, 0);
  mediaGrid->setVerticalSpacing(0);
  mediaGrid->addWidget(new QLabel(QStringLiteral("Media:"), r.MediaInfo), 0, 0);
  mediaGrid->addWidget(r.LabelInfoMedia, 0, 1);
  mediaGrid->addWidget(new QLabel(QStringLiteral("Capacity:"), r.MediaInfo), 1, 0);
  mediaGrid->addWidget(r.LabelInfoCapacity, 1, 1);
  mediaGrid->addWidget(new QLabel(QStringLiteral("Sector Size:"), r.MediaInfo), 2, 0);
  mediaGrid->addWidget(r.LabelInfoBytesPerSec, 2, 1);
  mediaGrid->setColumnStretch(1, 1);
  grid->addWidget(r.MediaInfo, 1, 0, 3, 2);
  r.LabelInfoHint = NamedLabel("LabelInfoHint", QString(), page);
  r.LabelInfoHint->setWordWrap(true);
  r.LabelInfoHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  r.LabelInfoHint->setTextInteractionFlags(Qt::TextSelectableByMouse);
  r.LabelInfoHint->hide();
  grid->addWidget(r.LabelInfoHint, 1, 0, 4, 2);
  grid->addWidget(new QLabel(QStringLiteral("Status:"), page), 1, 2);
  grid->addWidget(r.LabelInfoStatus, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("Images found:"), page), 2, 2);
  grid->addWidget(r.LabelInfoImagesFound, 2, 3);
  grid->addWidget(new QLabel(QStringLiteral("Read errors:"), page), 3, 2);
  grid->addWidget(r.LabelInfoReadErrors, 3, 3);
  grid->addWidget(r.LabelCurrSec, 4, 2);
  grid->addWidget(r.LabelInfoCurrentSector, 4, 3);
  r.GProgress = new QProgressBar(page);
  r.GProgress->setObjectName(QStringLiteral("GProgress"));
  r.GProgress->setValue(0);
  grid->addWidget(new QLabel(QStringLiteral("Progress:"), page), 5, 0);
  grid->addWidget(r.GProgress, 5, 1, 1, 3);
  v->addWidget(ContentPanel(QStringLiteral("Status"), grid, page), 1);

  auto* actions = new QHBoxLayout;
  r.cb_preview = new QCheckBox(QStringLiteral("Preview"), page);
  r.cb_preview->setObjectName(QStringLiteral("cb_preview"));
  r.cb_preview->setChecked(true);
  r.ButtonStart = NamedButton("ButtonStart", QStringLiteral("&Start"), page);
  r.ButtonCancel = NamedButton("ButtonCancel", QStringLiteral("&Cancel"), page);
  r.Animate1 = BusyLabel("Animate1", page);
  actions->addWidget(r.cb_preview);
  actions->addStretch();
  actions->addWidget(r.Animate1);
  actions->addWidget(r.ButtonStart);
  actions->addWidget(r.ButtonCancel);
  v->addLayout(actions);
  return r;
}

ToolsPage BuildToolsPage() {
  ToolsPage t;
  QWidget* page = t.TSUtil = NewPage("TSUtil", QStringLiteral("Utility"));
  auto* h = new QHBoxLayout(page);
  h->setContentsMargins(4, 4, 4, 4);
  auto* picture = new QLabel(page);
  // Drawn for the screen's pixel ratio, so that it stays sharp on a HiDPI screen.
  picture->setPixmap(DriveIcon(RootKind::Removable).pixmap(QSize(48, 48), page->devicePixelRatioF()));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  h->addWidget(picture);
  auto* v = new QVBoxLayout;
  h->addLayout(v, 1);

  auto* driveRow = new QHBoxLayout;
  t.LabelToolsDrive = NamedLabel("LabelToolsDrive", QStringLiteral("No drive selected."), page);
  t.LabelToolsDrive->setWordWrap(true);
  t.LabelToolsDrive->setTextInteractionFlags(Qt::TextSelectableByMouse);
  driveRow->addWidget(t.LabelToolsDrive, 1);
  v->addWidget(ContentPanel(QStringLiteral("Drive (chosen on the Recovery page)"), driveRow, page));

  auto* format = new QVBoxLayout;
  // The same order as the Format dialog's warning: recover first, then format.
  auto* formatText = new QLabel(
      QStringLiteral("Format puts a fresh, empty FAT file system on the card, for a card the "
                     "camera or computer calls corrupt or unformatted. It erases everything on the "
                     "card: recover your photos first on the Recovery page, then format."),
      page);
  formatText->setWordWrap(true);
  t.FormatButton = NamedButton("FormatButton", QStringLiteral("Format"), page);
  format->addWidget(formatText);
  format->addWidget(t.FormatButton, 0, Qt::AlignRight);
  v->addWidget(ContentPanel(QStringLiteral("Format"), format, page));

  auto* wipe = new QGridLayout;
  auto* wipeText = new QLabel(
      QStringLiteral("Wipe overwrites every sector of the card with zeros, so that nothing on it "
                     "can be recovered any more, for instance before you pass the card on. Format "
                     "it afterwards."),
      page);
  wipeText->setWordWrap(true);
  t.WipeGauge = new QProgressBar(page);
  t.WipeGauge->setObjectName(QStringLiteral("WipeGauge"));
  t.WipeGauge->setValue(0);
  t.WipeButton = NamedButton("WipeButton", QStringLiteral("Wipe"), page);
  t.WipeCancelButton = NamedButton("WipeCancelButton", QStringLiteral("Cancel"), page);
  t.WipeCancelButton->setEnabled(false);
  wipe->addWidget(wipeText, 0, 0, 1, 4);
  wipe->addWidget(new QLabel(QStringLiteral("Progress:"), page), 1, 0);
  wipe->addWidget(t.WipeGauge, 1, 1);
  wipe->addWidget(t.WipeButton, 1, 2);
  wipe->addWidget(t.WipeCancelButton, 1, 3);
  t.AnimateWipe = BusyLabel("AnimateWipe", page);
  wipe->addWidget(t.AnimateWipe, 1, 4);
  v->addWidget(ContentPanel(QStringLiteral("Wipe"), wipe, page));
  v->addStretch();
  return t;
}

SaveNaming NamingFrom(const SettingsPage& page) {
  SaveNaming naming;
  naming.cardNames = page.CheckCardNames->isChecked();
  naming.prefix = page.EditFilenamePrefix->text().toStdString();
  naming.folderPerKind = page.CheckFolderPerKind->isChecked();
  return naming;
}

SettingsPage BuildSettingsPage() {
  SettingsPage o;
  QWidget* page = o.TSOptions = NewPage("TSOptions", QString());
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(4, 4, 4, 4);

  auto* names = new QGridLayout;
  o.CheckCardNames = new QCheckBox(QStringLiteral("Keep the card's file names, folders and times"), page);
  o.CheckCardNames->setObjectName(QStringLiteral("CheckCardNames"));
  o.CheckCardNames->setChecked(true);
  o.EditFilenamePrefix = new QLineEdit(page);
  o.EditFilenamePrefix->setObjectName(QStringLiteral("EditFilenamePrefix"));
  auto* prefixLabel = new QLabel(QStringLiteral("Otherwise number them after:"), page);
  o.CheckFolderPerKind = new QCheckBox(QStringLiteral("Sort into one folder per kind (JPG, NEF, ...)"), page);
  o.CheckFolderPerKind->setObjectName(QStringLiteral("CheckFolderPerKind"));
  o.CheckCutAtEnd = new QCheckBox(QStringLiteral("Cut found files where their data ends"), page);
  o.CheckCutAtEnd->setObjectName(QStringLiteral("CheckCutAtEnd"));
  o.CheckCutAtEnd->setChecked(true);
  names->addWidget(o.CheckCardNames, 0, 0, 1, 2);
  names->addWidget(prefixLabel, 1, 0);
  names->addWidget(o.EditFilenamePrefix, 1, 1);
  names->addWidget(o.CheckFolderPerKind, 2, 0, 1, 2);
  names->addWidget(o.CheckCutAtEnd, 3, 0, 1, 2);
  // The prefix only names files when the card's names are not kept.
  QObject::connect(o.CheckCardNames, &QCheckBox::toggled, o.EditFilenamePrefix, &QWidget::setDisabled);
  QObject::connect(o.CheckCardNames, &QCheckBox::toggled, prefixLabel, &QWidget::setDisabled);
  o.EditFilenamePrefix->setDisabled(true);
  prefixLabel->setDisabled(true);
  v->addWidget(ContentPanel(QStringLiteral("Recovered File Names"), names, page));

  auto* tune = new QGridLayout;
  auto slider = [&](QSlider*& s, const char* name, int max, int tick) {
    s = new QSlider(Qt::Horizontal, page);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(1, max);
    s->setTickInterval(tick);
    s->setTickPosition(QSlider::TicksBelow);
    s->setValue(1);
  };
  slider(o.TrackBarSecAtOnce, "TrackBarSecAtOnce", 1000, 250);
  slider(o.TrackBarRetryCount, "TrackBarRetryCount", 20, 5);
  tune->addWidget(new QLabel(QStringLiteral("My reader connection is "), page), 0, 0, 1, 3);
  tune->addWidget(new QLabel(QStringLiteral("Slow"), page), 1, 0);
  tune->addWidget(o.TrackBarSecAtOnce, 1, 1);
  tune->addWidget(new QLabel(QStringLiteral("Fast"), page), 1, 2);
  tune->addWidget(new QLabel(QStringLiteral("Give up on recovery"), page), 2, 0, 1, 3);
  tune->addWidget(new QLabel(QStringLiteral("Easily"), page), 3, 0);
  tune->addWidget(o.TrackBarRetryCount, 3, 1);
  tune->addWidget(new QLabel(QStringLiteral("Persist"), page), 3, 2);
  v->addWidget(ContentPanel(QStringLiteral("Tune Your Recovery"), tune, page));
  v->addStretch();
  return o;
}

}  // namespace kestrella::gui
