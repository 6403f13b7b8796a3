// The analyze-drive dialog on real FAT card images: the route it proposes for
// each kind of card, where Continue leads, Cancel during the count, and the
// growing dots.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "app/ffatscan.h"
#include "diskio/drivetable.h"
#include "gui/fanalyzedrive.h"
#include "gui/guiui.h"
#include "support/fakes.h"
#include "support/testsupport.h"

using kestrella::TFrmFATScan;
using kestrella::gui::TFrmAnalyzeDrive;
namespace test = kestrella::test;
namespace fs = std::filesystem;

namespace {

constexpr int kCountTimeoutMs = 10000;

bool Mtools(const std::string& tool, const fs::path& card, const std::string& args) {
  return test::Run("MTOOLS_SKIP_CHECK=1 " + tool + " -i " + test::Quote(card.string()) + " " +
                   args).exitCode == 0;
}

// A user interface that presses Cancel the first time the count lets events
// run, i.e. in the middle of the count.
class CancellingUi : public kestrella::gui::GuiUserInterface {
 public:
  QPushButton* cancel = nullptr;
  int calls = 0;
  void ProcessMessages() override {
    if (++calls == 1 && cancel != nullptr) cancel->click();
    GuiUserInterface::ProcessMessages();
  }
};

}  // namespace

class AnalyzeDriveTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TempDir> dir_;
  // An engine of its own for every test: an empty drive table.
  std::unique_ptr<test::FrontEngine<kestrella::gui::GuiUserInterface>> rig_;

  kestrella::Engine& engine() { return rig_->engine; }

  // A fresh card; with `folders` two folders holding one live photo, with
  // `deleted` three more photos there that were deleted again.
  fs::path card(const std::string& name, bool folders, bool deleted) {
    const fs::path card = *dir_ / name;
    const auto photos = test::DataPhotos();
    bool ok = test::Run("mkfs.fat -C -F 16 " + test::Quote(card.string()) + " 16384").exitCode == 0;
    if (folders)
      ok = ok && Mtools("mmd", card, "::DCIM ::DCIM/100KEST") &&
           Mtools("mcopy", card, test::Quote(photos.at(0).string()) + " ::DCIM/100KEST/LIVE.JPG");
    std::string del;
    for (size_t i = 1; deleted && i <= 3; ++i) {
      const std::string at = " ::DCIM/100KEST/DEL" + std::to_string(i) + ".JPG";
      ok = ok && Mtools("mcopy", card, test::Quote(photos.at(i).string()) + at);
      del += at;
    }
    if (deleted) ok = ok && Mtools("mdel", card, del);
    if (!ok) qFatal("could not build %s", card.c_str());
    return card;
  }
  // Shows the dialog on a card and waits until the count is done.
  void analyze(TFrmAnalyzeDrive& dlg) {
    dlg.show();
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(dlg, "ButtonContinue")->isEnabled(),
                             kCountTimeoutMs);
  }

  template <typename T>
  static T* child(QObject& dlg, const char* name) {
    T* w = dlg.findChild<T*>(name);
    if (w == nullptr) qFatal("no child %s", name);
    return w;
  }

 private slots:
  void init() {
    dir_ = std::make_unique<test::TempDir>();
    rig_ = std::make_unique<test::FrontEngine<kestrella::gui::GuiUserInterface>>();
  }
  void cleanup() {
    rig_.reset();
    dir_.reset();
  }

  void layoutAndCaptions() {
    TFrmFATScan driver(engine().Context());
    TFrmAnalyzeDrive dlg(driver, 0);
    QCOMPARE(dlg.windowTitle(), QString("Analyze Drive"));
    QCOMPARE(child<QLabel>(dlg, "LabelBlinkAnalyzingDrive")->text(), QString("Analyzing Drive "));
    QCOMPARE(child<QRadioButton>(dlg, "RBFolderMethod")->text(),
             QString("Use folder based recover  (Recommended)"));
    QCOMPARE(child<QRadioButton>(dlg, "RBScanMethod")->text(), QString("Use scan method recover"));
    QCOMPARE(child<QCheckBox>(dlg, "CBRecoverDeletedFiles")->text(), QString("Recover these files"));
    QCOMPARE(child<QCheckBox>(dlg, "CBRecoverLostFiles")->text(),
             QString("Look for additional lost files"));
    QVERIFY(!child<QPushButton>(dlg, "ButtonContinue")->isEnabled());
    QCOMPARE(child<QPushButton>(dlg, "ButtonCancel")->text(), QString("Cancel"));
    auto* pages = child<QStackedWidget>(dlg, "PCDriveMethod");
    QCOMPARE(pages->currentWidget()->objectName(), QString("TSAnalyzingDrive"));
    QCOMPARE(child<QTimer>(dlg, "AnalyzeTimer")->interval(), 1000);
    QCOMPARE(child<QTimer>(dlg, "BlinkAnalyzeTimer")->interval(), 250);
  }

  void freshCardProposesTheScanAndContinueClosesAtOnce() {
    TFrmFATScan driver(engine().Context());
    TFrmAnalyzeDrive dlg(driver, engine().AddImage(card("fresh.img", false, false).string()));
    QSignalSpy finished(&dlg, &QDialog::finished);
    analyze(dlg);
    QVERIFY(child<QRadioButton>(dlg, "RBScanMethod")->isChecked());
    QVERIFY(!dlg.folderMethod());
    QVERIFY(!dlg.recoverDeleted());
    QVERIFY(dlg.recoverLost());
    QCOMPARE(child<QLabel>(dlg, "LabelTotalFolders")->text(), QString("Found 0 deleted folders"));
    child<QPushButton>(dlg, "ButtonContinue")->click();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), TFrmAnalyzeDrive::kResultContinue);
  }

  void foldersWithoutDeletedPhotosAskForTheTypeThenContinue() {
    TFrmFATScan driver(engine().Context());
    TFrmAnalyzeDrive dlg(driver, engine().AddImage(card("folders.img", true, false).string()));
    QSignalSpy finished(&dlg, &QDialog::finished);
    analyze(dlg);
    auto* pages = child<QStackedWidget>(dlg, "PCDriveMethod");
    QCOMPARE(pages->currentWidget()->objectName(), QString("TSSelectMethod"));
    QVERIFY(dlg.folderMethod());
    QVERIFY(!dlg.recoverDeleted());
    QVERIFY(dlg.recoverLost());
    QCOMPARE(child<QLabel>(dlg, "LabelTotalDeletedFiles")->text(), QString("Found 0 deleted files"));

    child<QPushButton>(dlg, "ButtonContinue")->click();
    QCOMPARE(finished.count(), 0);
    QCOMPARE(pages->currentWidget()->objectName(), QString("TSSelectType"));
    child<QPushButton>(dlg, "ButtonContinue")->click();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), TFrmAnalyzeDrive::kResultContinue);
  }

  void deletedPhotosAreCountedAndTicked() {
    TFrmFATScan driver(engine().Context());
    TFrmAnalyzeDrive dlg(driver, engine().AddImage(card("deleted.img", true, true).string()));
    analyze(dlg);
    // The two folders are live: the deleted tree lists them only on the way.
    QCOMPARE(child<QLabel>(dlg, "LabelTotalFolders")->text(), QString("Found 0 deleted folders"));
    QCOMPARE(child<QLabel>(dlg, "LabelTotalDeletedFiles")->text(), QString("Found 3 deleted files"));
    QVERIFY(dlg.folderMethod());
    QVERIFY(dlg.recoverDeleted());
    QVERIFY(!dlg.recoverLost());
  }

  // "(Recommended)" sits on the proposed route only, and every choice is shown
  // whole on the page the user sees.
  void recommendedMarkFollowsTheProposalAndFits() {
    const struct {
      const char* card;
      bool folders;
      const char* folderText;
      const char* scanText;
    } cases[] = {
        {"scan.img", false, "Use folder based recover", "Use scan method recover  (Recommended)"},
        {"folder.img", true, "Use folder based recover  (Recommended)", "Use scan method recover"},
    };
    for (const auto& c : cases) {
      TFrmFATScan driver(engine().Context());
      TFrmAnalyzeDrive dlg(driver, engine().AddImage(card(c.card, c.folders, false).string()));
      analyze(dlg);
      QCOMPARE(child<QRadioButton>(dlg, "RBFolderMethod")->text(), QString(c.folderText));
      QCOMPARE(child<QRadioButton>(dlg, "RBScanMethod")->text(), QString(c.scanText));
      QCoreApplication::processEvents();
      for (const char* name : {"LabelTotalFolders", "RBFolderMethod", "RBScanMethod"}) {
        auto* w = child<QWidget>(dlg, name);
        QVERIFY2(w->width() >= w->sizeHint().width(), name);
        QVERIFY2(dlg.rect().contains(QRect(w->mapTo(&dlg, QPoint()), w->size())), name);
      }
    }
  }

  // Enter steps on, never out: not while counting (Continue waits then), not
  // on either page after it.
  void enterNeverCancels() {
    TFrmFATScan driver(engine().Context());
    TFrmAnalyzeDrive dlg(driver, engine().AddImage(card("enter.img", true, false).string()));
    QSignalSpy finished(&dlg, &QDialog::finished);
    auto* cont = child<QPushButton>(dlg, "ButtonContinue");
    QVERIFY(cont->isDefault());
    dlg.show();
    QVERIFY(dlg.focusWidget() != child<QPushButton>(dlg, "ButtonCancel"));
    QTest::keyClick(&dlg, Qt::Key_Return);
    QCOMPARE(finished.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(cont->isEnabled(), kCountTimeoutMs);
    // Even with the focus on Cancel, Enter goes to Continue.
    child<QPushButton>(dlg, "ButtonCancel")->setFocus();
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dlg, Qt::Key_Return);
    QCOMPARE(finished.count(), 0);
    auto* pages = child<QStackedWidget>(dlg, "PCDriveMethod");
    QCOMPARE(pages->currentWidget()->objectName(), QString("TSSelectType"));
    QTest::keyClick(&dlg, Qt::Key_Return);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), TFrmAnalyzeDrive::kResultContinue);
  }

  void cancelDuringTheCountClosesWithoutFillingTheLabels() {
    // The interface is the engine's from its start: this count runs on an
    // engine built on the cancelling one.
    test::FrontEngine<CancellingUi> cancelling;
    TFrmFATScan driver(cancelling.engine.Context());
    TFrmAnalyzeDrive dlg(driver, cancelling.engine.AddImage(card("cancel.img", true, true).string()));
    cancelling.ui.cancel = child<QPushButton>(dlg, "ButtonCancel");
    QSignalSpy finished(&dlg, &QDialog::finished);
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kCountTimeoutMs);
    QCOMPARE(finished.at(0).at(0).toInt(), TFrmAnalyzeDrive::kResultCancel);
    // The count of the deleted tree, which would have found the three
    // deleted photos, never ran; the live tree holds one photo at most.
    QVERIFY2(driver.TotalFiles <= 1, qPrintable(QString::number(driver.TotalFiles)));
    QCOMPARE(child<QLabel>(dlg, "LabelTotalFolders")->text(), QString("Found 9999 folders"));
    QCOMPARE(child<QLabel>(dlg, "LabelTotalDeletedFiles")->text(),
             QString("Found 9999 deleted files"));
    QVERIFY(!child<QPushButton>(dlg, "ButtonContinue")->isEnabled());
    QCOMPARE(child<QStackedWidget>(dlg, "PCDriveMethod")->currentWidget()->objectName(),
             QString("TSAnalyzingDrive"));
  }

  void cancelBeforeTheCountStartsNeverCounts() {
    TFrmFATScan driver(engine().Context());
    TFrmAnalyzeDrive dlg(driver, engine().AddImage(card("early.img", true, true).string()));
    QSignalSpy finished(&dlg, &QDialog::finished);
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);  // Esc cancels like the button
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), TFrmAnalyzeDrive::kResultCancel);
    QVERIFY(!child<QTimer>(dlg, "AnalyzeTimer")->isActive());
    QTest::qWait(1200);  // past the moment the count would have started
    QCOMPARE(child<QLabel>(dlg, "LabelTotalFolders")->text(), QString("Found 9999 folders"));
  }

  void blinkGrowsByDotsAndWrapsAfterSeven() {
    TFrmFATScan driver(engine().Context());
    TFrmAnalyzeDrive dlg(driver, 0);
    dlg.show();
    child<QTimer>(dlg, "AnalyzeTimer")->stop();
    auto* label = child<QLabel>(dlg, "LabelBlinkAnalyzingDrive");
    const QString base = "Analyzing Drive ";
    child<QTimer>(dlg, "BlinkAnalyzeTimer")->start();

    // Every text the label shows, in order, until it has started again twice.
    QStringList seen{label->text()};
    int restarts = 0;
    QElapsedTimer clock;
    clock.start();
    while (restarts < 2 && clock.elapsed() < 8000) {
      QTest::qWait(10);
      if (label->text() != seen.last()) {
        seen << label->text();
        if (label->text() == base) ++restarts;
      }
    }
    // Shown once the dialog appears, the label already counts as one dot.
    QStringList expected{base};
    for (int i = 1; i <= 6; ++i) expected << base + QString(i, '.');
    expected << base;
    for (int i = 1; i <= 7; ++i) expected << base + QString(i, '.');
    expected << base;
    QCOMPARE(seen, expected);
  }
};

QTEST_MAIN(AnalyzeDriveTest)
#include "fanalyzedrive_test.moc"
