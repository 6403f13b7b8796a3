#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "app/drivechoice.h"
#include "app/rawscan.h"
#include "app/source.h"
#include "util/sizetext.h"
#include "gui/fmain.h"

// The drive list of the recovery page and its information panel: filled
// from the drive table, read anew when block devices come and go, and the
// card images the user opens.
namespace kestrella::gui {

namespace {

constexpr int kDrivePollMs = 2000;
constexpr int kDriveNumberRole = Qt::UserRole;
constexpr int kRootPathRole = Qt::UserRole + 1;
constexpr int kSourcePathRole = Qt::UserRole + 2;

QString MediaText(RootKind rootType) {
  switch (rootType) {
    case RootKind::Removable: return QStringLiteral("Removable");
    case RootKind::Fixed: return QStringLiteral("Fixed");
    case RootKind::Remote: return QStringLiteral("Remote");
    case RootKind::CDROM: return QStringLiteral("CD-ROM");
    case RootKind::RamDisk: return QStringLiteral("RAMdisk");
    default: return QString();
  }
}

}  // namespace

void TFrmMain::FillDriveList(const QString& keep) {
  QComboBox* const list = recoverPage_.ListBoxDrives;
  const QSignalBlocker block(list);
  list->clear();
  const uint8_t preferred = PreferredDrive(engine_.Drives());
  int chosen = -1, kept = -1;
  for (const DriveEntry* e : DriveListOrder(engine_.Drives())) {
    list->addItem(DriveIcon(e->source.rootType), QString::fromStdString(DriveListText(*e)));
    const int row = list->count() - 1;
    const QString source = QString::fromStdString(e->source.path) + QLatin1Char('#') +
                           QString::number(e->source.partition);
    list->setItemData(row, static_cast<uint>(e->number), kDriveNumberRole);
    list->setItemData(row, QString::fromStdString(e->RootPath()), kRootPathRole);
    list->setItemData(row, source, kSourcePathRole);
    if (e->number == preferred) chosen = row;
    if (!keep.isEmpty() && source == keep) kept = row;
  }
  list->setCurrentIndex(kept >= 0 ? kept : chosen);
  ListBoxDrivesChange();
}

void TFrmMain::ListBoxDrivesChange() {
  const auto namedOnTools = qScopeGuard([this] { ShowToolsDrive(); });  // however it returns
  const int row = recoverPage_.ListBoxDrives->currentIndex();
  if (row < 0) return;
  recoverPage_.ButtonStart->setEnabled(false);
  recoverPage_.LabelInfoMedia->clear();
  recoverPage_.LabelInfoBytesPerSec->clear();
  recoverPage_.LabelInfoCapacity->clear();
  recoverPage_.LabelInfoHint->clear();
  recoverPage_.LabelInfoHint->hide();
  recoverPage_.MediaInfo->show();

  const QString root = recoverPage_.ListBoxDrives->itemData(row, kRootPathRole).toString();
  if (root.isEmpty()) return;
  curDriveLetter_ = root.at(0).toLatin1();
  curDriveNumber_ = recoverPage_.ListBoxDrives->itemData(row, kDriveNumberRole).toUInt();

  const DriveStatus status =
      ProbeDrive(engine_, static_cast<uint8_t>(curDriveNumber_), driveParams_);
  recoverPage_.LabelInfoStatus->setText(QString::fromStdString(status.text));
  if (status.state != DriveStatus::State::Ready) {
    // The advice takes the place of the media figures there are none of.
    if (!status.advice.empty()) {
      recoverPage_.MediaInfo->hide();
      recoverPage_.LabelInfoHint->setText(QString::fromStdString(status.advice));
      recoverPage_.LabelInfoHint->show();
    }
    // Start asks for the permission first (GainAccess).
    recoverPage_.ButtonStart->setEnabled(status.state == DriveStatus::State::NeedsPermission);
    return;
  }
  const DriveEntry* entry = engine_.FindDrive(static_cast<uint8_t>(curDriveNumber_));
  curDriveType_ = entry != nullptr ? entry->source.rootType : RootKind::Unknown;
  recoverPage_.LabelInfoMedia->setText(MediaText(curDriveType_));
  recoverPage_.LabelInfoBytesPerSec->setText(QString::number(driveParams_.BytesPerSector));
  recoverPage_.LabelInfoCapacity->setText(QString::fromStdString(FormatByteSize(
      static_cast<uint64_t>(driveParams_.TotalSectors) * driveParams_.BytesPerSector)));
  recoverPage_.ButtonStart->setEnabled(true);

  QSlider* const slider = settingsPage_.TrackBarSecAtOnce;
  slider->setMinimum(1);
  if (driveParams_.BytesPerSector != 0)
    slider->setMaximum(static_cast<int>(MaxSectorsAtOnce(driveParams_.BytesPerSector)));
  slider->setValue(static_cast<int>(
      DefaultSectorsAtOnce(driveParams_.TotalSectors, driveParams_.BytesPerSector)));
  if (slider->maximum() >= 4)
    slider->setTickInterval(slider->maximum() / 4);
}

bool TFrmMain::OpenImage(const QString& path) {
  const uint8_t number = engine_.AddImage(path.toStdString());
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
  QComboBox* const list = recoverPage_.ListBoxDrives;
  for (int i = 0; i < list->count(); ++i) {
    if (list->itemData(i, kDriveNumberRole).toUInt() == number) {
      if (list->currentIndex() == i) ListBoxDrivesChange();
      else list->setCurrentIndex(i);  // runs ListBoxDrivesChange
      return;
    }
  }
}

void TFrmMain::RefreshDrives() {
  if (busy_) return;
  QComboBox* const list = recoverPage_.ListBoxDrives;
  const int row = list->currentIndex();
  const QString selected = row >= 0 ? list->itemData(row, kSourcePathRole).toString() : QString();
  engine_.ScanDrives();
  FillDriveList(selected);
}

QStringList TFrmMain::BlockDeviceNames() const {
  QStringList lines;
  for (const std::string& line : BlockDeviceSnapshot(engine_.Roots().sysClassBlock))
    lines << QString::fromStdString(line);
  return lines;
}

bool TFrmMain::GainAccess() {
  const int row = recoverPage_.ListBoxDrives->currentIndex();
  if (row < 0) return true;
  const auto drive = static_cast<uint8_t>(curDriveNumber_);
  TLogDriveParams params;
  if (ProbeDrive(engine_, drive, params).state != DriveStatus::State::NeedsPermission) return true;
  // The answer may take a while (a password typed); meanwhile the window
  // draws itself, but nothing may start or read the drive list anew.
  busy_ = true;
  recoverPage_.ButtonStart->setEnabled(false);
  recoverPage_.ListBoxDrives->setEnabled(false);
  recoverPage_.LabelInfoStatus->setText(QStringLiteral("asking for permission"));
  const DriveStatus status = RequestAccess(engine_, drive, params);
  busy_ = false;
  recoverPage_.ListBoxDrives->setEnabled(true);
  // Closed while the question was open: the user is gone.
  if (closing_) return false;
  ListBoxDrivesChange();
  if (status.state == DriveStatus::State::Ready) return true;
  QMessageBox::warning(this, QStringLiteral("Kestrella"), QString::fromStdString(status.text));
  return false;
}

void TFrmMain::PollBlockDevices() {
  if (busy_) return;  // the list is read again once the run is over
  const QStringList now = BlockDeviceNames();
  if (now == knownBlockDevices_) return;
  knownBlockDevices_ = now;
  RefreshDrives();
}

void TFrmMain::WatchBlockDevices() {
  // Card readers come and go. A card put into a reader and a loop device
  // attached keep their device's name and change only its size, so the
  // poll compares sizes as well as names.
  knownBlockDevices_ = BlockDeviceNames();
  devicePoll_ = new QTimer(this);
  devicePoll_->setInterval(kDrivePollMs);
  connect(devicePoll_, &QTimer::timeout, this, &TFrmMain::PollBlockDevices);
  devicePoll_->start();
}

}  // namespace kestrella::gui
