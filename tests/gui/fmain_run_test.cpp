// A whole recovery run from the main window on a card image: two photos that
// were deleted from the card come back into the destination folder, by the
// folder route and by the scan route, with the preview turned off so that the
// save step copies everything without asking. A cancelled analysis starts
// nothing.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "diskio/drivetable.h"
#include "gui/fanalyzedrive.h"
#include "gui/fmain.h"
#include "gui/guiui.h"
#include "support/testsupport.h"

using kestrella::Drives;
using kestrella::gui::TFrmAnalyzeDrive;
using kestrella::gui::TFrmMain;
namespace fs = std::filesystem;
namespace test = kestrella::test;

namespace {

constexpr int kRunTimeoutMs = 120000;

bool Mtools(const std::string& tool, const fs::path& card, const std::string& args) {
  return test::Run("MTOOLS_SKIP_CHECK=1 " + tool + " -i " + test::Quote(card.string()) + " " +
                   args).exitCode == 0;
}

template <typename T>
T* Child(const QObject& parent, const char* name) {
  T* c = parent.findChild<T*>(QString::fromLatin1(name));
  if (c == nullptr) qFatal("no control %s", name);
  return c;
}

bool StartsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& head) {
  return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
}

QStringList Entries(const fs::path& folder) {
  QStringList names = QDir(QString::fromStdString(folder.string()))
                          .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  names.sort();
  return names;
}

}  // namespace

class FrmMainRunTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TempDir> dir_;
  kestrella::gui::GuiUserInterface ui_;
  std::unique_ptr<test::UiScope> scope_;
  std::vector<fs::path> photos_;
  fs::path dest_;
  fs::path temp_;
  QByteArray savedTmpdir_;
  bool hadTmpdir_ = false;

  // A fresh FAT16 card onto which two photos were copied and then deleted.
  fs::path card() {
    const fs::path card = *dir_ / "card.img";
    bool ok = test::Run("mkfs.fat -C -F 16 " + test::Quote(card.string()) + " 16384").exitCode == 0;
    ok = ok && Mtools("mcopy", card, test::Quote(photos_.at(0).string()) + " ::ONE.JPG");
    ok = ok && Mtools("mcopy", card, test::Quote(photos_.at(1).string()) + " ::TWO.JPG");
    ok = ok && Mtools("mdel", card, "::ONE.JPG ::TWO.JPG");
    if (!ok) qFatal("could not build %s", card.c_str());
    return card;
  }

  // Starts a run on the card and answers the analysis dialog the way the
  // user would: on the scan route by choosing the scan first. Returns once
  // the run and its save step are over.
  void run(TFrmMain& w, bool scanRoute) {
    QVERIFY(w.OpenImage(QString::fromStdString(card().string())));
    Child<QLineEdit>(w, "EditDestPath")->setText(QString::fromStdString(dest_.string()));
    Child<QCheckBox>(w, "cb_preview")->setChecked(false);
    auto* start = Child<QPushButton>(w, "ButtonStart");
    QVERIFY(start->isEnabled());

    int continues = 0;
    bool sawDialog = false;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, [&] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* dlg = qobject_cast<TFrmAnalyzeDrive*>(top);
        if (dlg == nullptr || !dlg->isVisible()) continue;
        sawDialog = true;
        auto* cont = Child<QPushButton>(*dlg, "ButtonContinue");
        if (!cont->isEnabled() || !cont->isVisible()) return;
        auto* scan = Child<QRadioButton>(*dlg, "RBScanMethod");
        if (scanRoute && scan->isVisible() && !scan->isChecked()) scan->click();
        ++continues;
        cont->click();
        return;
      }
    });
    answer.start();
    start->click();
    answer.stop();

    QVERIFY(sawDialog);
    QCOMPARE(continues, scanRoute ? 1 : 2);
  }

  void checkIdle(TFrmMain& w) {
    QCOMPARE(Child<QLabel>(w, "LabelInfoStatus")->text(), QStringLiteral("Ready"));
    QCOMPARE(Child<QLabel>(w, "LabelCurrSec")->text(), QStringLiteral("Current sector:"));
    QVERIFY(Child<QLabel>(w, "LabelInfoCurrentSector")->text().isEmpty());
    QCOMPARE(Child<QProgressBar>(w, "GProgress")->value(), 0);
    QCOMPARE(Child<QLabel>(w, "LabelInfoImagesFound")->text(), QStringLiteral("2"));
    QCOMPARE(Child<QLabel>(w, "LabelInfoReadErrors")->text(), QStringLiteral("0"));
    QVERIFY(Child<QPushButton>(w, "ButtonStart")->isEnabled());
    QVERIFY(!Child<QPushButton>(w, "ButtonCancel")->isEnabled());
    QVERIFY(w.StopRequested());
    // The preview was closed after saving, and its temporary files with it.
    QTRY_VERIFY_WITH_TIMEOUT(w.Preview() == nullptr, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(Entries(temp_), QStringList(), 5000);
  }

 private slots:
  void initTestCase() {
    hadTmpdir_ = qEnvironmentVariableIsSet("TMPDIR");
    savedTmpdir_ = qgetenv("TMPDIR");
  }

  void init() {
    if (!test::CorpusAvailable()) QSKIP("corpus not found");
    photos_ = test::CorpusPhotos();
    if (photos_.size() < 2) QSKIP("corpus has fewer than two photos");
    dir_ = std::make_unique<test::TempDir>();
    dest_ = *dir_ / "dest";
    temp_ = *dir_ / "temp";
    fs::create_directories(dest_);
    fs::create_directories(temp_);
    fs::create_directories(*dir_ / "home");
    // Settings, the default destination and the found files' temporary
    // folder all stay inside the test's folder.
    qputenv("HOME", QByteArray::fromStdString((*dir_ / "home").string()));
    qputenv("TMPDIR", QByteArray::fromStdString(temp_.string()));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString((*dir_ / "settings").string()));
    scope_ = std::make_unique<test::UiScope>(ui_);
    Drives().Clear();
  }

  void cleanup() {
    Drives().Clear();
    scope_.reset();
    // The test's folders live under the build's temporary area, which is
    // found through TMPDIR: it must point there again before they go.
    if (hadTmpdir_) qputenv("TMPDIR", savedTmpdir_);
    else qunsetenv("TMPDIR");
    dir_.reset();
  }

  void folderRouteSavesTheDeletedPhotos() {
    TFrmMain w;
    w.show();
    run(w, false);
    if (QTest::currentTestFailed()) return;

    QCOMPARE(Entries(dest_), QStringList({"image1.JPG", "image2.JPG"}));
    QCOMPARE(test::ReadFileBytes(dest_ / "image1.JPG"), test::ReadFileBytes(photos_.at(0)));
    QCOMPARE(test::ReadFileBytes(dest_ / "image2.JPG"), test::ReadFileBytes(photos_.at(1)));
    checkIdle(w);
  }

  void cancelledAnalysisChangesNothing() {
    TFrmMain w;
    w.show();
    QVERIFY(w.OpenImage(QString::fromStdString(card().string())));
    auto* preview = Child<QCheckBox>(w, "cb_preview");
    preview->setChecked(true);
    bool cancelled = false;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, [&] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* dlg = qobject_cast<TFrmAnalyzeDrive*>(top);
        if (dlg == nullptr || !dlg->isVisible()) continue;
        if (!Child<QPushButton>(*dlg, "ButtonContinue")->isEnabled()) return;
        cancelled = true;
        Child<QPushButton>(*dlg, "ButtonCancel")->click();
        return;
      }
    });
    answer.start();
    Child<QPushButton>(w, "ButtonStart")->click();
    answer.stop();

    QVERIFY(cancelled);
    QVERIFY(w.Preview() == nullptr);
    QVERIFY(!w.StopRequested());
    QCOMPARE(Child<QLabel>(w, "LabelInfoStatus")->text(), QStringLiteral("Ready"));
    QVERIFY(Child<QLabel>(w, "LabelInfoImagesFound")->text().isEmpty());
    QVERIFY(Child<QPushButton>(w, "ButtonStart")->isEnabled());
    QCOMPARE(Entries(dest_), QStringList());
    QCOMPARE(Entries(temp_), QStringList());
  }

  void scanRouteSavesTheDeletedPhotos() {
    TFrmMain w;
    w.show();
    run(w, true);
    if (QTest::currentTestFailed()) return;

    QCOMPARE(Entries(dest_), QStringList({"image1.JPG", "image2.JPG"}));
    // A cut file runs on to the next start or the end of the card: it holds
    // the photo and whatever followed it on the card.
    QVERIFY(StartsWith(test::ReadFileBytes(dest_ / "image1.JPG"), test::ReadFileBytes(photos_.at(0))));
    QVERIFY(StartsWith(test::ReadFileBytes(dest_ / "image2.JPG"), test::ReadFileBytes(photos_.at(1))));
    checkIdle(w);
  }
};

QTEST_MAIN(FrmMainRunTest)
#include "fmain_run_test.moc"
