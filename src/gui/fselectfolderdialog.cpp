#include "gui/fselectfolderdialog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>

namespace kestrella::gui {

namespace {
const char* const kNewFolderName = "New Folder";
}

TFrmSelectFolderDialog::TFrmSelectFolderDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("FrmSelectFolderDialog");
  setWindowTitle("Choose directory...");

  Label1 = new QLabel("Directory:", this);
  Label1->setObjectName("Label1");

  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  // Writable so that a new folder can be renamed in place.
  model_->setReadOnly(false);
  model_->setRootPath(QDir::rootPath());

  ShellTreeView1 = new QTreeView(this);
  ShellTreeView1->setObjectName("ShellTreeView1");
  ShellTreeView1->setModel(model_);
  // A folder tree, not a file list: size, type and date say nothing here.
  for (int c = 1; c < model_->columnCount(); ++c) ShellTreeView1->hideColumn(c);
  ShellTreeView1->header()->hide();
  ShellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ShellTreeView1->setEditTriggers(QAbstractItemView::EditKeyPressed |
                                  QAbstractItemView::SelectedClicked);

  NewBtn = new QPushButton("New Folder", this);
  NewBtn->setObjectName("NewBtn");
  NewBtn->setAutoDefault(true);
  OKBtn = new QPushButton("OK", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton("Cancel", this);
  CancelBtn->setObjectName("CancelBtn");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(NewBtn);
  buttons->addStretch(1);
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addWidget(ShellTreeView1, 1);
  layout->addLayout(buttons);
  // A deep folder tree wants room; the user can make it larger still.
  resize(QSize(fontMetrics().averageCharWidth() * 55, fontMetrics().height() * 20)
             .expandedTo(minimumSizeHint()));

  setTabOrder(ShellTreeView1, NewBtn);
  setTabOrder(NewBtn, OKBtn);
  setTabOrder(OKBtn, CancelBtn);

  connect(NewBtn, &QPushButton::clicked, this, [this] { newFolder(); });
  connect(OKBtn, &QPushButton::clicked, this, [this] { done(kResultOk); });
  connect(CancelBtn, &QPushButton::clicked, this, &TFrmSelectFolderDialog::reject);

  if (QScreen* screen = QApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

bool TFrmSelectFolderDialog::selectFolder(const QString& path) {
  const QModelIndex index = model_->index(QDir::cleanPath(path));
  if (!index.isValid()) return false;
  ShellTreeView1->setCurrentIndex(index);
  ShellTreeView1->scrollTo(index);
  return true;
}

QString TFrmSelectFolderDialog::selectedFolder() const {
  const QModelIndex index = ShellTreeView1->currentIndex();
  return index.isValid() ? model_->filePath(index) : QString();
}

QString TFrmSelectFolderDialog::newFolder() {
  const QModelIndex parent = ShellTreeView1->currentIndex();
  const QString parentPath = parent.isValid() ? model_->filePath(parent) : QString();
  QModelIndex created;
  if (!parentPath.isEmpty()) {
    // Never reuse a name: a second new folder next to the first gets a number.
    const QDir dir(parentPath);
    QString name = kNewFolderName;
    for (int n = 2; dir.exists(name); ++n) name = QString("%1 (%2)").arg(kNewFolderName).arg(n);
    created = model_->mkdir(parent, name);
  }
  if (!created.isValid()) {
    QMessageBox::warning(this, windowTitle(),
                         parentPath.isEmpty()
                             ? QString("Select the folder to create the new folder in.")
                             : QString("Cannot create a new folder in %1.").arg(parentPath));
    return QString();
  }
  ShellTreeView1->setCurrentIndex(created);
  ShellTreeView1->scrollTo(created);
  ShellTreeView1->edit(created);
  return model_->filePath(created);
}

void TFrmSelectFolderDialog::reject() { done(kResultCancel); }

QString DestFolderOrFallback(const QString& start, const QString& base) {
  if (!start.isEmpty() && QFileInfo(start).isDir()) return start;
  const QString recovered = QDir(base).filePath("Recovered");
  if (QFileInfo(recovered).isDir() || QDir().mkpath(recovered)) return recovered;
  return base.endsWith('/') ? base : base + '/';
}

QString NearestExistingFolder(const QString& path) {
  if (path.trimmed().isEmpty()) return QDir::homePath();
  QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  while (!QFileInfo(folder).isDir()) {
    const QString parent = QFileInfo(folder).path();
    if (parent == folder) break;  // only the root is left
    folder = parent;
  }
  return folder;
}

QString SelectDestFolder(const QString& start, QWidget* parent, const QString& fallbackBase) {
  // The program's own folder is rarely writable on Linux (/usr/bin), so a
  // vanished destination falls back under the user's home folder instead.
  QString folder =
      DestFolderOrFallback(start, fallbackBase.isEmpty() ? QDir::homePath() : fallbackBase);
  TFrmSelectFolderDialog dlg(parent);
  dlg.selectFolder(folder);
  if (dlg.exec() == TFrmSelectFolderDialog::kResultOk) {
    const QString chosen = dlg.selectedFolder();
    if (!chosen.isEmpty()) folder = chosen;
  }
  return folder;
}

}  // namespace kestrella::gui
