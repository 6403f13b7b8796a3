// The destination folder dialog: its controls, New Folder on disk, and the
// folder it hands back for OK, Cancel and a vanished start folder.
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <functional>

#include "gui/fselectfolderdialog.h"
#include "folderdialogsupport.h"
#include "support/testsupport.h"

using kestrella::gui::DestFolderOrFallback;
using kestrella::gui::SelectDestFolder;
using kestrella::gui::TFrmSelectFolderDialog;
namespace test = kestrella::test;
namespace fs = std::filesystem;

namespace {

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

// Closes every message box that comes up and keeps its text, so that a
// warning fails a test instead of hanging it.
class MessageBoxCatcher {
 public:
  MessageBoxCatcher() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        texts << box->text();
        box->reject();
      }
    });
    timer_.start();
  }
  QStringList texts;

 private:
  QTimer timer_;
};

QPushButton* Button(QObject& dlg, const char* name) {
  auto* b = dlg.findChild<QPushButton*>(name);
  if (b == nullptr) qFatal("no button %s", name);
  return b;
}

}  // namespace

class SelectFolderDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void layoutAndCaptions() {
    TFrmSelectFolderDialog dlg;
    QCOMPARE(dlg.windowTitle(), QString("Choose directory..."));
    // Laid out for the font in use, and resizable (fmain_test).
    QVERIFY(dlg.width() >= dlg.minimumSizeHint().width() && dlg.height() >= dlg.minimumSizeHint().height());
    QCOMPARE(dlg.findChild<QLabel*>("Label1")->text(), QString("Directory:"));
    QVERIFY(dlg.findChild<QTreeView*>("ShellTreeView1") != nullptr);
    QCOMPARE(Button(dlg, "NewBtn")->text(), QString("New Folder"));
    QCOMPARE(Button(dlg, "OKBtn")->text(), QString("OK"));
    QVERIFY(Button(dlg, "OKBtn")->isDefault());
    QCOMPARE(Button(dlg, "CancelBtn")->text(), QString("Cancel"));
  }

  void newFolderIsCreatedSelectedAndNamedDistinctly() {
    test::TempDir dir;
    MessageBoxCatcher boxes;
    TFrmSelectFolderDialog dlg;
    dlg.show();
    QVERIFY(dlg.selectFolder(Q(dir.path())));
    QCOMPARE(dlg.selectedFolder(), Q(dir.path()));

    const QString first = dlg.newFolder();
    QCOMPARE(first, Q(dir / "New Folder"));
    QVERIFY(fs::is_directory(dir / "New Folder"));
    QCOMPARE(dlg.selectedFolder(), first);
    // Its name is open for editing in the tree.
    auto* tree = dlg.findChild<QTreeView*>("ShellTreeView1");
    QTRY_VERIFY(tree->findChild<QLineEdit*>() != nullptr);
    QCOMPARE(tree->findChild<QLineEdit*>()->text(), QString("New Folder"));

    QVERIFY(dlg.selectFolder(Q(dir.path())));
    Button(dlg, "NewBtn")->click();
    QVERIFY(fs::is_directory(dir / "New Folder (2)"));
    QCOMPARE(dlg.selectedFolder(), Q(dir / "New Folder (2)"));
    QCOMPARE(boxes.texts, QStringList());
  }

  void aFolderThatCannotBeCreatedIsReported() {
    // Nobody, not even root, can make a folder in /proc.
    MessageBoxCatcher boxes;
    TFrmSelectFolderDialog dlg;
    dlg.show();
    QVERIFY(dlg.selectFolder("/proc"));
    QCOMPARE(dlg.newFolder(), QString());
    QCOMPARE(boxes.texts, QStringList{"Cannot create a new folder in /proc."});
    QCOMPARE(dlg.selectedFolder(), QString("/proc"));
  }

  void cancelReturnsAnExistingStartFolderUnchanged() {
    test::TempDir dir;
    const QString start = Q(dir.path());
    test::WhenFolderDialogShown([](TFrmSelectFolderDialog& dlg) { Button(dlg, "CancelBtn")->click(); });
    QCOMPARE(SelectDestFolder(start, nullptr, Q(dir / "home")), start);
    QVERIFY(!fs::exists(dir / "home" / "Recovered"));
  }

  void aVanishedStartFolderFallsBackToACreatedRecoveredFolder() {
    test::TempDir dir;
    fs::create_directories(dir / "home");
    QString shownAt;
    test::WhenFolderDialogShown([&shownAt](TFrmSelectFolderDialog& dlg) {
      shownAt = dlg.selectedFolder();
      Button(dlg, "CancelBtn")->click();
    });
    const QString got = SelectDestFolder(Q(dir / "gone"), nullptr, Q(dir / "home"));
    QCOMPARE(got, Q(dir / "home" / "Recovered"));
    QVERIFY(fs::is_directory(dir / "home" / "Recovered"));
    QCOMPARE(shownAt, got);
  }

  void withoutARecoveredFolderTheBaseItselfIsUsed() {
    test::TempDir dir;
    // A plain file where the base folder would be: nothing can be made in it.
    test::WriteFileBytes(dir / "base", {1, 2, 3});
    QCOMPARE(DestFolderOrFallback(Q(dir / "gone"), Q(dir / "base")), Q(dir / "base") + "/");
  }

  void okReturnsTheFolderSelectedInTheTree() {
    test::TempDir dir;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b" / "c");
    test::WhenFolderDialogShown([&dir](TFrmSelectFolderDialog& dlg) {
      dlg.selectFolder(Q(dir / "b" / "c"));
      Button(dlg, "OKBtn")->click();
    });
    QCOMPARE(SelectDestFolder(Q(dir / "a")), Q(dir / "b" / "c"));
  }
};

QTEST_MAIN(SelectFolderDialogTest)
#include "fselectfolderdialog_test.moc"
