// A whole recovery run from the main window on a card image: two photos that
// were deleted from the card come back into the destination folder, by the
// folder route and by the scan route, with the preview turned off so that the
// save step copies everything without asking. A cancelled analysis starts
// nothing. With the preview on, the save step is the modal preview in which
// the user ticks what to keep; Cancel during a run ends it early with the
// save step still following; Preview switched during a run hides and shows
// the preview, while OK in it only hides it until the save step. Closing the
// window during a run stops it, asks about the files found so far and
// closes with no dialog left. Every run ends with a summary. Found files the
// temporary folder could not take are named.
// The window and kestrella-cli refuse the same destinations (the card image,
// a folder inside it) in the same words, before anything is read.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "folderdialogsupport.h"
#include "gui/fanalyzedrive.h"
#include "gui/fmain.h"
#include "gui/fpreview.h"
#include "gui/runsummarydialog.h"
#include "gui/thumbnailbox.h"
#include "gui/guiui.h"
#include "support/fakes.h"
#include "support/testsupport.h"

using kestrella::gui::TFrmAnalyzeDrive;
using kestrella::gui::TFrmMain;
using kestrella::gui::RunSummaryDialog;
using kestrella::gui::TFrmPreview;
namespace fs = std::filesystem;
namespace test = kestrella::test;
using kestrella::test::Child;

namespace {

constexpr int kRunTimeoutMs = 120000;

bool Mtools(const std::string& tool, const fs::path& card, const std::string& args) {
  return test::Run("MTOOLS_SKIP_CHECK=1 " + tool + " -i " + test::Quote(card.string()) + " " +
                   args).exitCode == 0;
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

// The program's interface with a hook that runs whenever the engine lets
// events run (once per sector or cluster): the test acts inside the run.
class HookedUi : public kestrella::gui::GuiUserInterface {
 public:
  std::function<void()> hook;
  void ProcessMessages() override {
    if (hook) hook();
    GuiUserInterface::ProcessMessages();
  }
};

}  // namespace

class FrmMainRunTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TempDir> dir_;
  // An engine of its own for every test: an empty drive table, no hook and
  // a temporary folder that takes everything.
  std::unique_ptr<test::FrontEngine<HookedUi>> rig_;
  std::vector<fs::path> photos_;
  fs::path dest_;
  fs::path temp_;
  QByteArray savedTmpdir_;
  bool hadTmpdir_ = false;

  kestrella::Engine& engine() { return rig_->engine; }
  HookedUi& ui() { return rig_->ui; }

  // A fresh FAT16 card onto which two photos were copied and then deleted;
  // their long names keep the first letter a deletion takes from the short
  // ones.
  fs::path card() {
    const fs::path card = *dir_ / "card.img";
    bool ok = test::Run("mkfs.fat -C -F 16 " + test::Quote(card.string()) + " 16384").exitCode == 0;
    ok = ok && Mtools("mcopy", card, test::Quote(photos_.at(0).string()) + " '::Photo one.jpg'");
    ok = ok && Mtools("mcopy", card, test::Quote(photos_.at(1).string()) + " '::Photo two.jpg'");
    ok = ok && Mtools("mdel", card, "'::Photo one.jpg' '::Photo two.jpg'");
    if (!ok) qFatal("could not build %s", card.c_str());
    return card;
  }

  // Starts a run on the card and answers the analysis dialog the way the
  // user would: on the scan route by choosing the scan first. Returns once
  // the run and its save step are over. Unless asked for the card's names,
  // files are numbered: most tests follow the flow, not the names.
  void run(TFrmMain& w, bool scanRoute, bool preview = false, bool cardNames = false) {
    QVERIFY(w.OpenImage(QString::fromStdString(card().string())));
    Child<QLineEdit>(w, "EditDestPath")->setText(QString::fromStdString(dest_.string()));
    Child<QCheckBox>(w, "cb_preview")->setChecked(preview);
    Child<QCheckBox>(w, "CheckCardNames")->setChecked(cardNames);
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

  void checkIdle(TFrmMain& w, const QString& imagesFound = QStringLiteral("2")) {
    QCOMPARE(Child<QLabel>(w, "LabelInfoStatus")->text(), QStringLiteral("Ready"));
    QCOMPARE(Child<QLabel>(w, "LabelCurrSec")->text(), QStringLiteral("Current sector:"));
    QVERIFY(Child<QLabel>(w, "LabelInfoCurrentSector")->text().isEmpty());
    QCOMPARE(Child<QProgressBar>(w, "GProgress")->value(), 0);
    QCOMPARE(Child<QLabel>(w, "LabelInfoImagesFound")->text(), imagesFound);
    QCOMPARE(Child<QLabel>(w, "LabelInfoReadErrors")->text(), QStringLiteral("0"));
    QVERIFY(Child<QPushButton>(w, "ButtonStart")->isEnabled());
    QVERIFY(!Child<QPushButton>(w, "ButtonCancel")->isEnabled());
    QVERIFY(w.StopRequested());
    // The preview was closed after saving, and its temporary files with it.
    QTRY_VERIFY_WITH_TIMEOUT(w.Preview() == nullptr, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(test::NoRunFolderIn(dest_), 5000);
  }

 private slots:
  void initTestCase() {
    hadTmpdir_ = qEnvironmentVariableIsSet("TMPDIR");
    savedTmpdir_ = qgetenv("TMPDIR");
  }

  void init() {
    photos_ = test::DataPhotos();
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
    rig_ = std::make_unique<test::FrontEngine<HookedUi>>();
  }

  void cleanup() {
    rig_.reset();
    // The test's folders live under the build's temporary area, which is
    // found through TMPDIR: it must point there again before they go.
    if (hadTmpdir_) qputenv("TMPDIR", savedTmpdir_);
    else qunsetenv("TMPDIR");
    dir_.reset();
  }

  void folderRouteSavesTheDeletedPhotos() {
    TFrmMain w(engine());
    w.show();
    run(w, false, false, true);
    if (QTest::currentTestFailed()) return;

    // Under their names on the card.
    QCOMPARE(Entries(dest_), QStringList({"Photo one.jpg", "Photo two.jpg"}));
    QCOMPARE(test::ReadFileBytes(dest_ / "Photo one.jpg"), test::ReadFileBytes(photos_.at(0)));
    QCOMPARE(test::ReadFileBytes(dest_ / "Photo two.jpg"), test::ReadFileBytes(photos_.at(1)));
    checkIdle(w);
    // The summary stays beside the window, Close its default button.
    auto* summary = w.findChild<RunSummaryDialog*>();
    QVERIFY(summary != nullptr && summary->isVisible());
    const QString dest = QString::fromStdString(dest_.string());
    // The hunt for lost files did not run: the summary says more may be there.
    QCOMPARE(summary->Lines().mid(0, 2), QStringList({"Found: 2 files", "Saved: 2 files into " + dest}));
    QVERIFY(summary->Lines().value(2).startsWith("More photos may be on the card"));
    QVERIFY(summary->Destination() == dest && Child<QPushButton>(*summary, "ButtonClose")->isDefault());
  }

  void cancelledAnalysisChangesNothing() {
    TFrmMain w(engine());
    w.show();
    QVERIFY(w.OpenImage(QString::fromStdString(card().string())));
    Child<QLineEdit>(w, "EditDestPath")->setText(QString::fromStdString(dest_.string()));
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
  }

  // Before anything is read, the window and kestrella-cli check the folders
  // through the one destination check: a destination that is the card image,
  // or would lie inside it, is refused by both in the same words, with
  // nothing read or written; a normal folder is taken by both. A missing
  // one the window makes only when the user says Yes to making it (No
  // starts nothing); kestrella-cli makes it and says so.
  void windowAndCliShareTheDestinationCheck_data() {
    QTest::addColumn<QString>("dest");  // in the test's folder, beside the card
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("makeIt");  // the answer to the window's question
    QTest::newRow("the image itself") << "card.img" << true << true;
    QTest::newRow("below the image") << "card.img/DCIM/100KEST" << true << true;
    QTest::newRow("a missing folder, made") << "recovered/new" << false << true;
    QTest::newRow("a missing folder, not made") << "recovered/new" << false << false;
  }

  void windowAndCliShareTheDestinationCheck() {
    QFETCH(QString, dest);
    QFETCH(bool, refused);
    QFETCH(bool, makeIt);
    const std::string cli = KESTRELLA_CLI_PATH;
    QVERIFY2(fs::exists(cli), "kestrella-cli is not built");
    const fs::path image = card();
    const fs::path folder = *dir_ / dest.toStdString();
    const std::string md5 = test::Md5Of(image);

    // The window. Reads of the card are counted from before it is opened:
    // a source the window still holds open counts on.
    rig_->sources.Watch(fs::weakly_canonical(image).string());
    TFrmMain w(engine());
    w.show();
    QVERIFY(w.OpenImage(QString::fromStdString(image.string())));
    Child<QLineEdit>(w, "EditDestPath")->setText(QString::fromStdString(folder.string()));
    Child<QCheckBox>(w, "cb_preview")->setChecked(true);
    const auto before = rig_->sources.Get(fs::weakly_canonical(image).string());
    QStringList warnings, captions, questions;
    bool analysed = false;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, [&] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        if (auto* box = qobject_cast<QMessageBox*>(top)) {
          if (box->button(QMessageBox::Yes) != nullptr) {
            questions << box->text();
            box->button(makeIt ? QMessageBox::Yes : QMessageBox::No)->click();
            return;
          }
          warnings << box->text();
          captions << box->windowTitle();
          box->accept();
          return;
        }
        // Getting as far as the analysis is the folder taken. Its count is
        // let finish (it reads the card), then no run follows.
        if (auto* dlg = qobject_cast<TFrmAnalyzeDrive*>(top)) {
          analysed = true;
          if (Child<QPushButton>(*dlg, "ButtonContinue")->isEnabled())
            Child<QPushButton>(*dlg, "ButtonCancel")->click();
          return;
        }
      }
    });
    answer.start();
    Child<QPushButton>(w, "ButtonStart")->click();
    answer.stop();
    const auto after = rig_->sources.Get(fs::weakly_canonical(image).string());
    const bool windowMadeIt = fs::is_directory(folder);

    // kestrella-cli on the same card and folder.
    if (!refused) fs::remove_all(folder);  // so that it must make it too
    const test::CommandResult out =
        test::Run(test::Quote(cli) + " scan " +
                  test::Quote(image.string()) + " -o " + test::Quote(folder.string()));

    if (refused) {
      QVERIFY(questions.isEmpty());
      QCOMPARE(warnings.size(), 1);
      QCOMPARE(captions, QStringList({"Warning"}));
      QVERIFY2(warnings[0].contains(QString::fromStdString(folder.string())), qPrintable(warnings[0]));
      QVERIFY(!analysed);
      QVERIFY(w.Preview() == nullptr);
      QCOMPARE(after.opensForRead, before.opensForRead);
      QCOMPARE(after.reads, before.reads);
      QVERIFY(Child<QPushButton>(w, "ButtonStart")->isEnabled());
      // The same words, after the program's name, and nothing else.
      QVERIFY(out.exitCode != 0);
      QCOMPARE(QString::fromStdString(out.output).trimmed(),
               QStringLiteral("kestrella-cli: ") + warnings[0]);
      QCOMPARE(test::Md5Of(image), md5);
    } else {
      QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join("\n")));
      // The folder was missing: made only once the user said so.
      QCOMPARE(questions, QStringList({QStringLiteral("The folder %1 does not exist. Create it?")
                                           .arg(QString::fromStdString(folder.string()))}));
      QCOMPARE(analysed, makeIt);
      // The count's reads were seen: the counting above would see a read.
      QCOMPARE(after.reads > before.reads, makeIt);
      QCOMPARE(windowMadeIt, makeIt);
      QVERIFY2(out.exitCode == 0, out.output.c_str());
      QVERIFY2(out.output.find("kestrella-cli: creating " + folder.string() + "\n") != std::string::npos,
               out.output.c_str());
      QVERIFY(fs::is_directory(folder));
      QVERIFY(test::NoRunFolderIn(folder));
      QCOMPARE(test::Md5Of(image), md5);
    }
  }

  void scanRouteSavesTheDeletedPhotos() {
    TFrmMain w(engine());
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

  void saveStepWithPreviewLetsTheUserChoose() {
    TFrmMain w(engine());
    w.show();
    // During the run the preview shows beside the window, not modally, and
    // never over the window's Cancel. OK in it hides it, and the save step
    // still shows it to choose.
    bool sawPreview = false;
    bool overCancel = false;
    ui().hook = [&] {
      TFrmPreview* p = w.Preview();
      if (sawPreview || p == nullptr || !p->isVisible() || p->isModal() || p->ImageCount() == 0) return;
      sawPreview = p->windowTitle() != "Save Images";
      const QWidget* cancel = Child<QPushButton>(w, "ButtonCancel");
      overCancel |= p->frameGeometry().intersects(QRect(cancel->mapToGlobal(QPoint()), cancel->size()));
      Child<QPushButton>(*p, "ButtonOK")->click();
    };
    // The save step: untick the second photo, keep the first.
    bool saved = false;
    QTimer save;
    save.setInterval(20);
    connect(&save, &QTimer::timeout, [&] {
      TFrmPreview* p = w.Preview();
      if (saved || p == nullptr || !p->isVisible() || !p->isModal()) return;
      saved = true;
      QCOMPARE(p->windowTitle(), QStringLiteral("Save Images"));
      QCOMPARE(p->ImageCount(), 2);
      auto* ok = Child<QPushButton>(*p, "ButtonOK");
      QCOMPARE(ok->text(), QStringLiteral("Save Images"));
      QVERIFY(Child<QPushButton>(*p, "ButtonCancel")->isVisible());
      QVERIFY(p->IsTicked(1) && p->IsTicked(2));
      QTest::mouseClick(p->Box(), Qt::LeftButton, {}, p->CheckBoxGeometry(2).center());
      QVERIFY(p->IsTicked(1));
      QVERIFY(!p->IsTicked(2));
      ok->click();
    });
    save.start();
    run(w, false, true);
    save.stop();
    if (QTest::currentTestFailed()) return;

    QVERIFY(sawPreview);
    QVERIFY(!overCancel);
    QVERIFY(saved);
    QVERIFY(Child<QCheckBox>(w, "cb_preview")->isChecked());
    QCOMPARE(Entries(dest_), QStringList({"image1.jpg"}));
    QCOMPARE(test::ReadFileBytes(dest_ / "image1.jpg"), test::ReadFileBytes(photos_.at(0)));
    checkIdle(w);
  }

  void cancelDuringTheScanEndsItAndTheSaveStepFollows() {
    TFrmMain w(engine());
    w.show();
    auto* gauge = Child<QProgressBar>(w, "GProgress");
    int highest = 0;
    connect(gauge, &QProgressBar::valueChanged, [&](int v) { highest = std::max(highest, v); });
    bool cancelled = false, animated = false;
    ui().hook = [&] {
      // Cancel as soon as the first photo has begun.
      if (cancelled || Child<QLabel>(w, "LabelInfoImagesFound")->text() != QStringLiteral("1")) return;
      auto* cancel = Child<QPushButton>(w, "ButtonCancel");
      if (!cancel->isEnabled()) return;
      cancelled = true;
      animated = Child<QLabel>(w, "Animate1")->isVisible();
      cancel->click();
    };
    run(w, true);
    if (QTest::currentTestFailed()) return;

    QVERIFY(cancelled);
    // The busy animation ran during the scan and is gone afterwards.
    QVERIFY(animated);
    QVERIFY(!Child<QLabel>(w, "Animate1")->isVisible());
    const int total = static_cast<int>(w.DriveParams().TotalSectors);
    QVERIFY2(highest < total / 2, qPrintable(QString::number(highest)));
    // The file that was open is closed and saved: the beginning of the photo.
    QCOMPARE(Entries(dest_), QStringList({"image1.JPG"}));
    const std::vector<uint8_t> cut = test::ReadFileBytes(dest_ / "image1.JPG");
    const std::vector<uint8_t> photo = test::ReadFileBytes(photos_.at(0));
    QVERIFY(!cut.empty());
    const size_t common = std::min(cut.size(), photo.size());
    QVERIFY(std::equal(cut.begin(), cut.begin() + static_cast<long>(common), photo.begin()));
    checkIdle(w, QStringLiteral("1"));
  }

  void previewSwitchedDuringTheRunHidesAndShowsIt() {
    TFrmMain w(engine());
    w.show();
    auto* box = Child<QCheckBox>(w, "cb_preview");
    int calls = 0;
    std::vector<bool> visibleAfter;
    ui().hook = [&] {
      TFrmPreview* p = w.Preview();
      if (p == nullptr || !Child<QPushButton>(w, "ButtonCancel")->isEnabled()) return;
      ++calls;
      if (calls <= 3) {
        box->setChecked(calls == 2);
        visibleAfter.push_back(p->isVisible());
      }
    };
    run(w, false, true);
    if (QTest::currentTestFailed()) return;

    QCOMPARE(visibleAfter, std::vector<bool>({false, true, false}));
    // Off at the end: every found file was kept without asking.
    QCOMPARE(Entries(dest_), QStringList({"image1.jpg", "image2.jpg"}));
    checkIdle(w);
  }

  // Closing the window while the run goes on stops the run, asks about the
  // files found so far (Enter saves them), and closes the window: no dialog
  // is left, no summary waits for an answer. A discard is only on the word.
  void closeDuringTheRunStopsAsksAndCloses_data() {
    QTest::addColumn<bool>("preview");
    QTest::addColumn<int>("answer");  // QMessageBox::StandardButton
    QTest::newRow("preview, Enter saves") << true << int(QMessageBox::NoButton);
    QTest::newRow("no preview, Enter saves") << false << int(QMessageBox::NoButton);
    QTest::newRow("discard") << true << int(QMessageBox::Discard);
  }

  void closeDuringTheRunStopsAsksAndCloses() {
    QFETCH(bool, preview);
    QFETCH(int, answer);
    TFrmMain w(engine());
    w.show();
    bool closed = false;
    ui().hook = [&] {
      if (closed || Child<QLabel>(w, "LabelInfoImagesFound")->text() != QStringLiteral("1")) return;
      closed = true;
      QVERIFY(!w.close());  // refused until the run has wound down
    };
    QString asked;
    test::AnswerMessageBox(static_cast<QMessageBox::StandardButton>(answer), &asked);
    run(w, true, preview);
    if (QTest::currentTestFailed()) return;

    QCOMPARE(asked, QStringLiteral("Discard the 1 found photos?"));  // asked, so closed
    for (QWidget* top : QApplication::topLevelWidgets())
      QVERIFY2(!top->isVisible(), qPrintable(top->metaObject()->className()));  // the window too
    // Entries shows hidden ones: the run's folder is gone too.
    QCOMPARE(Entries(dest_), answer == QMessageBox::Discard ? QStringList() : QStringList({"image1.JPG"}));
  }

  void filesTheTemporaryFolderCouldNotTakeAreNamed() {
    TFrmMain w(engine());
    w.show();
    // Room for the first kilobyte only: the first found file is cut short,
    // the second gets nothing.
    rig_->files.LimitBytes(dest_.string(), 1024);  // the run's folder is in there
    QStringList warnings;
    QTimer boxes;
    boxes.setInterval(20);
    connect(&boxes, &QTimer::timeout, [&] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(top);
        if (box == nullptr || !box->isVisible()) continue;
        warnings << box->text();
        box->button(QMessageBox::Ok) != nullptr ? box->button(QMessageBox::Ok)->click() : box->reject();
        return;
      }
    });
    boxes.start();
    run(w, true);
    boxes.stop();
    if (QTest::currentTestFailed()) return;

    const QStringList listed = warnings.filter(QStringLiteral("could not be written completely"));
    QCOMPARE(listed.size(), 1);
    QVERIFY2(listed[0].startsWith(QStringLiteral("2 found file(s)")), qPrintable(listed[0]));
    QVERIFY2(listed[0].contains(QStringLiteral("(incomplete)")), qPrintable(listed[0]));
    QVERIFY2(listed[0].contains(QStringLiteral("(not saved)")), qPrintable(listed[0]));
    // What did arrive still reaches the destination: the cut first file.
    QCOMPARE(Entries(dest_), QStringList({"image1.JPG"}));
    QCOMPARE(fs::file_size(dest_ / "image1.JPG"), 1024u);
  }
};

QTEST_MAIN(FrmMainRunTest)
#include "fmain_run_test.moc"
