#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <vector>

#include "app/rawscan.h"
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

}  // namespace

void TFrmMain::FillDriveList() {
  QComboBox* const list = recoverPage_.ListBoxDrives;
  const QSignalBlocker block(list);
  list->clear();
  std::vector<const DriveEntry*> kept;
  for (const DriveEntry& e : engine_.Drives()) {
    const RootKind t = e.source.rootType;
    if (t == RootKind::Removable || t == RootKind::Fixed || t == RootKind::CDROM ||
        t == RootKind::RamDisk)
      kept.push_back(&e);
  }
  std::stable_sort(kept.begin(), kept.end(), [](const DriveEntry* a, const DriveEntry* b) {
    return QString::fromStdString(a->RootPath())
               .compare(QString::fromStdString(b->RootPath()), Qt::CaseInsensitive) < 0;
  });
  int cDrive = -1;
  for (const DriveEntry* e : kept) {
    const QString root = QString::fromStdString(e->RootPath());
    list->addItem(DriveIcon(e->source.rootType),
                  root + QLatin1Char(' ') + QString::fromStdString(e->Caption()));
    const int row = list->count() - 1;
    list->setItemData(row, static_cast<uint>(e->number), kDriveNumberRole);
    list->setItemData(row, root, kRootPathRole);
    list->setItemData(
        row, QString::fromStdString(e->source.path) + QLatin1Char('#') +
                 QString::number(e->source.partition),
        kSourcePathRole);
    if (e->number == kDriveC) cDrive = row;
  }
  list->setCurrentIndex(cDrive);
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

  const QString root = recoverPage_.ListBoxDrives->itemData(row, kRootPathRole).toString();
  if (root.isEmpty()) return;
  curDriveLetter_ = root.at(0).toLatin1();
  curDriveNumber_ = recoverPage_.ListBoxDrives->itemData(row, kDriveNumberRole).toUInt();

  if (!engine_.DriveParams(static_cast<uint8_t>(curDriveNumber_), driveParams_)) {
    recoverPage_.LabelInfoStatus->setText(QStringLiteral("not ready"));
    return;
  }
  const DriveEntry* entry = engine_.FindDrive(static_cast<uint8_t>(curDriveNumber_));
  curDriveType_ = entry != nullptr ? entry->source.rootType : RootKind::Unknown;
  recoverPage_.LabelInfoMedia->setText(MediaText(curDriveType_));
  recoverPage_.LabelInfoBytesPerSec->setText(QString::number(driveParams_.BytesPerSector));
  recoverPage_.LabelInfoCapacity->setText(
      CapacityText(driveParams_.TotalSectors, driveParams_.BytesPerSector));
  recoverPage_.LabelInfoStatus->setText(QStringLiteral("Ready"));
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
  FillDriveList();
  if (selected.isEmpty()) return;
  for (int i = 0; i < list->count(); ++i) {
    if (list->itemData(i, kSourcePathRole).toString() == selected) {
      if (list->currentIndex() != i) list->setCurrentIndex(i);
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

void TFrmMain::WatchBlockDevices() {
  // Card readers come and go; a new card shows up as a new block device.
  knownBlockDevices_ = BlockDeviceNames();
  devicePoll_ = new QTimer(this);
  devicePoll_->setInterval(kDrivePollMs);
  connect(devicePoll_, &QTimer::timeout, this, &TFrmMain::PollBlockDevices);
  devicePoll_->start();
}

}  // namespace kestrella::gui
