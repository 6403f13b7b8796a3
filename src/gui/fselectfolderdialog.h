// Choosing the folder recovered files are saved into: a tree of the
// computer's folders with a New Folder button, OK and Cancel.
#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;
class QWidget;

namespace kestrella::gui {

class TFrmSelectFolderDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResultOk = 1;
  static constexpr int kResultCancel = 2;

  explicit TFrmSelectFolderDialog(QWidget* parent = nullptr);

  // Selects a folder in the tree (opening its parents); false when the tree
  // does not know the path.
  bool selectFolder(const QString& path);
  // The path of the folder selected in the tree, empty when none is.
  QString selectedFolder() const;
  // Creates "New Folder" (or "New Folder (2)", ...) inside the selected
  // folder, selects it and opens its name for editing. Returns its path,
  // empty when it could not be created (the user is warned).
  QString newFolder();

  void reject() override;

 private:
  QLabel* Label1 = nullptr;
  QTreeView* ShellTreeView1 = nullptr;
  QFileSystemModel* model_ = nullptr;
  QPushButton* NewBtn = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
};

// Where a destination that no longer exists falls back to: the folder
// "Recovered" inside `base` (created), or `base` itself with a trailing
// slash when that cannot be created. An existing `start` is kept.
QString DestFolderOrFallback(const QString& start, const QString& base);

// `path` itself when it is a folder, else its nearest parent that is one; the
// home folder for an empty path. A typed destination that does not exist yet
// still opens the dialog near where the user meant, and nothing is created
// just by looking.
QString NearestExistingFolder(const QString& path);

// Shows the dialog at `start` (or its fallback under the user's home folder)
// and returns the chosen folder, or the folder it started at on Cancel.
// `fallbackBase` is the home folder unless given.
QString SelectDestFolder(const QString& start, QWidget* parent = nullptr,
                         const QString& fallbackBase = QString());

}  // namespace kestrella::gui
