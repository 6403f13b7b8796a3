// The window as a user who may not open the card's device: the drive is
// listed as needing permission, Start asks UDisks2 (a stand-in on a private
// bus) and the run reads the card through the descriptor it handed over; a
// refusal is shown in the service's words and starts nothing. The device is
// a block-device node only root may open, which the stand-in answers with a
// card image. The test sets everything up as root, then gives up root for
// the rest of the process before any window or engine exists.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <grp.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "folderdialogsupport.h"
#include "gui/fanalyzedrive.h"
#include "gui/fmain.h"
#include "gui/guiui.h"
#include "support/fakeudisks.h"
#include "support/testsupport.h"

using kestrella::gui::TFrmAnalyzeDrive;
using kestrella::gui::TFrmMain;
namespace fs = std::filesystem;
namespace test = kestrella::test;
using kestrella::test::Child;

namespace {

constexpr uid_t kNobody = 65534;

}  // namespace

class FrmMainUDisksTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<test::FakeUDisks> service_;
  std::vector<fs::path> photos_;
  std::string card_, refused_;  // the device nodes
  bool dropped_ = false;

  fs::path dest() const { return *dir_ / "dest"; }

  // The window on the real engine (the system's source opener, which asks
  // UDisks2), with `node` chosen and the destination set.
  struct Window {
    kestrella::gui::GuiUserInterface ui;
    kestrella::Engine engine{ui};
    TFrmMain w{engine};
  };
  std::unique_ptr<Window> open(const std::string& node) {
    auto win = std::make_unique<Window>();
    win->w.show();
    if (!win->w.OpenImage(QString::fromStdString(node))) qFatal("cannot add %s", node.c_str());
    Child<QLineEdit>(win->w, "EditDestPath")->setText(QString::fromStdString(dest().string()));
    Child<QCheckBox>(win->w, "cb_preview")->setChecked(false);
    return win;
  }

 private slots:
  void initTestCase() {
    if (::geteuid() != 0 || test::Run("command -v setpriv").exitCode != 0)
      QSKIP("needs root, to make a device node only root may open and then give root up");
    dir_ = std::make_unique<test::TempDir>();
    card_ = (*dir_ / "sdk").string();
    refused_ = (*dir_ / "sdr").string();
    if (!test::MakeRootOnlyNode(card_) || !test::MakeRootOnlyNode(refused_))
      QSKIP("device nodes cannot be made here");
    // Three photos on a card only root can read.
    photos_ = test::DataPhotos();
    QVERIFY(photos_.size() >= 3);
    const fs::path image = *dir_ / "card.img";
    QVERIFY(test::MakeRootOnlyCard(image));
    test::FakeUDisks::Setup setup;
    setup.cards = {{card_, image.string()}, {refused_, image.string()}};
    setup.refused = {refused_};
    service_ = std::make_unique<test::FakeUDisks>(setup);
    if (!service_->Running()) QSKIP("dbus-daemon is not installed");

    // What nobody writes: the destination, settings, the found files'
    // temporary folder.
    ::chmod(dir_->path().c_str(), 0755);
    for (const char* open : {"dest", "home", "temp", "settings"}) {
      fs::create_directories(*dir_ / open);
      ::chmod((*dir_ / open).c_str(), 0777);
    }
    qputenv("HOME", QByteArray::fromStdString((*dir_ / "home").string()));
    qputenv("TMPDIR", QByteArray::fromStdString((*dir_ / "temp").string()));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString((*dir_ / "settings").string()));
    // Nobody, outside every group. Root stays the saved user id only, which
    // grants nothing until taken back: the test takes it back at the end to
    // stop the bus it started as root and remove the card.
    QCOMPARE(::setgroups(0, nullptr), 0);
    QCOMPARE(::setresgid(kNobody, kNobody, kNobody), 0);
    QCOMPARE(::setresuid(kNobody, kNobody, 0), 0);
    dropped_ = true;
    QVERIFY(::access(card_.c_str(), R_OK) != 0);
  }

  void cleanupTestCase() {
    if (dropped_ && (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0)) qWarning("root not regained");
    service_.reset();
    dir_.reset();
  }

  // The drive needs permission before Start; Start asks the service, and
  // the scan finds and saves the card's three photos.
  void startReadsTheCardThroughUDisks() {
    auto win = open(card_);
    TFrmMain& w = win->w;
    QCOMPARE(Child<QLabel>(w, "LabelInfoStatus")->text(), QStringLiteral("needs permission"));
    auto* start = Child<QPushButton>(w, "ButtonStart");
    QVERIFY(start->isEnabled());

    int continues = 0;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, [&] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* dlg = qobject_cast<TFrmAnalyzeDrive*>(top);
        if (dlg == nullptr || !dlg->isVisible()) continue;
        auto* cont = Child<QPushButton>(*dlg, "ButtonContinue");
        if (!cont->isEnabled() || !cont->isVisible()) return;
        auto* scan = Child<QRadioButton>(*dlg, "RBScanMethod");
        if (scan->isVisible() && !scan->isChecked()) scan->click();
        ++continues;
        cont->click();
        return;
      }
    });
    answer.start();
    start->click();
    answer.stop();

    QVERIFY(win->engine.Context().opener().Granted(card_));
    QCOMPARE(continues, 1);
    QCOMPARE(Child<QLabel>(w, "LabelInfoImagesFound")->text(), QStringLiteral("3"));
    // Each photo back, at the start of a file of its own (a cut file runs on
    // to the next start).
    std::vector<std::vector<uint8_t>> saved;
    for (const auto& f : fs::recursive_directory_iterator(dest()))
      if (f.is_regular_file()) saved.push_back(test::ReadFileBytes(f.path()));
    QCOMPARE(saved.size(), size_t{3});
    for (int i = 0; i < 3; ++i) {
      const std::vector<uint8_t> photo = test::ReadFileBytes(photos_[i]);
      QVERIFY2(std::any_of(saved.begin(), saved.end(),
                           [&](const std::vector<uint8_t>& file) {
                             return file.size() >= photo.size() &&
                                    std::equal(photo.begin(), photo.end(), file.begin());
                           }),
               photos_[i].c_str());
    }
    QCOMPARE(Child<QLabel>(w, "LabelInfoStatus")->text(), QStringLiteral("Ready"));
  }

  // Refused: the service's words in a warning, nothing read, Start again.
  void refusalIsShownAndStartsNothing() {
    auto win = open(refused_);
    TFrmMain& w = win->w;
    QCOMPARE(Child<QLabel>(w, "LabelInfoStatus")->text(), QStringLiteral("needs permission"));
    QString text;
    test::AnswerMessageBox(QMessageBox::Ok, &text);
    Child<QPushButton>(w, "ButtonStart")->click();
    QCOMPARE(text, QString::fromStdString("Permission to read " + refused_ + " was refused."));
    QVERIFY(!win->engine.Context().opener().Granted(refused_));
    QCOMPARE(Child<QLabel>(w, "LabelInfoStatus")->text(), QStringLiteral("needs permission"));
    QVERIFY(Child<QPushButton>(w, "ButtonStart")->isEnabled());
  }
};

QTEST_MAIN(FrmMainUDisksTest)
#include "fmain_udisks_test.moc"
