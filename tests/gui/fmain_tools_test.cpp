// The Tools page of the main window: Format and Wipe on card images and on
// made-up system drives. Refusals by drive type, the wipe's questions, what
// reaches the image (zeros, or nothing), the gauge and the busy state, Cancel
// and closing the window during a wipe, writes the image refuses, the Format
// dialog driving mkfs.fat, the drive the page names, and the busy animation.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "diskio/bootsector.h"
#include "diskio/drivetable.h"
#include "gui/fformat.h"
#include "gui/fmain.h"
#include "gui/guiui.h"
#include "support/fakes.h"
#include "support/testsupport.h"

using kestrella::MsgResult;
using kestrella::gui::TFrmFormat;
using kestrella::gui::TFrmMain;
namespace fs = std::filesystem;
namespace test = kestrella::test;

namespace {

constexpr uint32_t kCardSectors = 32768;  // 16 MB

template <typename T>
T* Child(const QObject& parent, const char* name) {
  T* c = parent.findChild<T*>(QString::fromLatin1(name));
  if (c == nullptr) qFatal("no control %s", name);
  return c;
}

// Scripted answers, and the window's events run at every sector as the real
// interface does now and then: Cancel and close arrive inside the wipe.
class ToolsUi : public test::ScriptedUi {
 public:
  void ProcessMessages() override {
    ++processCalls;
    QApplication::processEvents();
  }
};

std::vector<std::string> Texts(const test::ScriptedUi& ui) {
  std::vector<std::string> out;
  for (const auto& s : ui.shown) out.push_back(s.text);
  return out;
}

bool AllBytes(const std::vector<uint8_t>& bytes, size_t from, size_t to, uint8_t value) {
  return std::all_of(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to),
                     [value](uint8_t b) { return b == value; });
}

// The FAT type and volume label in an image's boot sector.
std::pair<std::string, std::string> FatOf(const fs::path& image) {
  const std::vector<uint8_t> b = test::ReadFileBytes(image);
  if (b.size() < 512) return {};
  const std::string type = kestrella::ProbeFatBootSector(b.data(), 512);
  const size_t at = type == "FAT32" ? 71 : 43;
  return {type, std::string(reinterpret_cast<const char*>(&b[at]), 11)};
}

// Drives the Format dialog once it is showing: `act` gets the dialog.
class FormatDialogDriver {
 public:
  explicit FormatDialogDriver(std::function<void(TFrmFormat&)> act) : act_(std::move(act)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* dlg = qobject_cast<TFrmFormat*>(top);
        if (dlg == nullptr || !dlg->isVisible() || acted_) continue;
        acted_ = true;
        act_(*dlg);
      }
    });
    timer_.start();
  }
  bool acted() const { return acted_; }

 private:
  std::function<void(TFrmFormat&)> act_;
  QTimer timer_;
  bool acted_ = false;
};

}  // namespace

class FrmMainToolsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<test::FrontEngine<ToolsUi>> rig_;
  fs::path card_;

  kestrella::Engine& engine() { return rig_->engine; }
  ToolsUi& ui() { return rig_->ui; }

  // An engine of its own for every window: an empty drive table (the card
  // is D: again) and no answers or messages left from before.
  void freshEngine() {
    rig_ = std::make_unique<test::FrontEngine<ToolsUi>>();
    rig_->ui.defaultAnswer = MsgResult::No;
  }

  // A card image of 16 MB filled with 0xAB, opened and selected; the window
  // shows the Tools page.
  void openCard(TFrmMain& w, uint32_t sectors = kCardSectors) {
    card_ = *dir_ / "card.img";
    test::WriteFileBytes(card_, std::vector<uint8_t>(static_cast<size_t>(sectors) * 512, 0xAB));
    QVERIFY(w.OpenImage(QString::fromStdString(card_.string())));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    Child<QToolButton>(w, "ButtonUtil")->click();
    QCOMPARE(Child<QStackedWidget>(w, "PageControl")->currentWidget()->objectName(),
             QStringLiteral("TSUtil"));
  }

  // The 16 MB card as the page and the questions name it.
  std::string described() const { return fs::weakly_canonical(card_).string() + " (card image, 16.8 MB)"; }
  std::string wipeQuestion() const {
    return "Wipe every sector of " + described() + "? Everything on it will be lost.";
  }
  std::string formatQuestion() const {
    return "Format " + described() +
           " now? A wiped card has no file system: cameras and computers cannot use it until it "
           "is formatted.";
  }

  void checkIdle(TFrmMain& w) {
    QVERIFY(Child<QPushButton>(w, "WipeButton")->isEnabled());
    QVERIFY(Child<QPushButton>(w, "FormatButton")->isEnabled());
    QVERIFY(!Child<QPushButton>(w, "WipeCancelButton")->isEnabled());
    QVERIFY(Child<QPushButton>(w, "ButtonStart")->isEnabled());
    QCOMPARE(Child<QProgressBar>(w, "WipeGauge")->value(), 0);
    QVERIFY(!Child<QLabel>(w, "AnimateWipe")->isVisible());
  }

 private slots:
  void init() {
    dir_ = std::make_unique<test::TempDir>();
    fs::create_directories(*dir_ / "home");
    qputenv("HOME", QByteArray::fromStdString((*dir_ / "home").string()));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString((*dir_ / "settings").string()));
    freshEngine();
  }

  void cleanup() {
    rig_.reset();
    dir_.reset();
  }

  void toolsPageNamesTheSelectedDrive() {
    TFrmMain w(engine());
    auto* label = Child<QLabel>(w, "LabelToolsDrive");
    QCOMPARE(label->text(), QStringLiteral("No drive selected."));
    openCard(w);
    if (QTest::currentTestFailed()) return;
    QCOMPARE(label->text().toStdString(), described());
    // Nothing selected: the wipe does not fall back on the card selected before.
    Child<QComboBox>(w, "ListBoxDrives")->setCurrentIndex(-1);
    QCOMPARE(label->text(), QStringLiteral("No drive selected."));
    ui().defaultAnswer = MsgResult::Yes;
    Child<QPushButton>(w, "WipeButton")->click();
    QVERIFY(ui().shown.empty());
  }

  void enterDeclinesTheWipeQuestion() {
    test::FrontEngine<kestrella::gui::GuiUserInterface> real;  // the program's own message boxes
    TFrmMain w(real.engine);
    openCard(w);
    if (QTest::currentTestFailed()) return;
    const std::string md5 = test::Md5Of(card_);
    QStringList asked;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      asked << box->text();
      // Enter to the wipe question; anything after it (were it wiped) is left with Esc.
      QTest::keyClick(box, asked.size() == 1 ? Qt::Key_Return : Qt::Key_Escape);
    });
    answer.start(20);
    Child<QPushButton>(w, "WipeButton")->click();
    QCOMPARE(test::Md5Of(card_), md5);
    QCOMPARE(asked.join('|').toStdString(), wipeQuestion());
  }

  void fixedAndOpticalDrivesAreRefusedWithoutADialog() {
    const fs::path classDir = *dir_ / "sys", devDir = *dir_ / "dev";
    fs::create_directories(devDir);
    test::FakeDisk(classDir, "sda", 16 * 2048, 0, "8:0");   // the system disk: C:
    test::FakeDisk(classDir, "sr0", 8 * 2048, 1, "11:0");   // a CD-ROM with a disc: D:
    test::WriteFileBytes(devDir / "sda", std::vector<uint8_t>(16u << 20, 0xAB));
    test::WriteFileBytes(devDir / "sr0", std::vector<uint8_t>(8u << 20, 0xCD));
    const std::string md5Disk = test::Md5Of(devDir / "sda");
    const std::string md5Cd = test::Md5Of(devDir / "sr0");
    kestrella::SystemRoots roots;
    roots.sysClassBlock = classDir.string();
    roots.devDir = devDir.string();
    roots.rootDevice = "8:0";
    engine().ScanDrives(roots);
    TFrmMain w(engine());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // The system disk is listed last, after the CD-ROM.
    Child<QComboBox>(w, "ListBoxDrives")->setCurrentIndex(1);
    QCOMPARE(w.CurDriveLetter(), 'C');
    Child<QToolButton>(w, "ButtonUtil")->click();
    ui().defaultAnswer = MsgResult::Yes;  // any question would be answered yes
    FormatDialogDriver dialog([](TFrmFormat& d) { d.reject(); });

    Child<QPushButton>(w, "FormatButton")->click();
    Child<QPushButton>(w, "WipeButton")->click();
    QCOMPARE(Texts(ui()), std::vector<std::string>({"Can not format fixed drive.", "Cannot wipe fixed drive."}));

    Child<QComboBox>(w, "ListBoxDrives")->setCurrentIndex(0);
    QCOMPARE(w.CurDriveLetter(), 'D');
    QCOMPARE(Child<QLabel>(w, "LabelInfoMedia")->text(), QStringLiteral("CD-ROM"));
    ui().shown.clear();
    Child<QPushButton>(w, "FormatButton")->click();
    Child<QPushButton>(w, "WipeButton")->click();
    QCOMPARE(Texts(ui()), std::vector<std::string>({"Can not format cd-rom.", "Cannot wipe cd-rom."}));

    QTest::qWait(100);
    QVERIFY(!dialog.acted());
    QCOMPARE(test::Md5Of(devDir / "sda"), md5Disk);
    QCOMPARE(test::Md5Of(devDir / "sr0"), md5Cd);
    checkIdle(w);
  }

  void noToTheWipeQuestionWritesNothingAndAsksNothingMore() {
    TFrmMain w(engine());
    openCard(w);
    if (QTest::currentTestFailed()) return;
    const std::string md5 = test::Md5Of(card_);
    int gaugeMoves = 0;
    connect(Child<QProgressBar>(w, "WipeGauge"), &QProgressBar::valueChanged, [&] { ++gaugeMoves; });
    ui().answers = {MsgResult::No};
    Child<QPushButton>(w, "WipeButton")->click();
    QCOMPARE(Texts(ui()), std::vector<std::string>({wipeQuestion()}));
    QCOMPARE(test::Md5Of(card_), md5);
    QCOMPARE(gaugeMoves, 0);
    checkIdle(w);
  }

  void wipeLeavesZerosThenNoToFormatRefreshesTheInformation() {
    TFrmMain w(engine());
    openCard(w);
    if (QTest::currentTestFailed()) return;
    QCOMPARE(Child<QSlider>(w, "TrackBarSecAtOnce")->value(), 327);
    auto* gauge = Child<QProgressBar>(w, "WipeGauge");
    int highest = -1, moves = 0;
    bool busyChecked = false;
    connect(gauge, &QProgressBar::valueChanged, [&](int v) {
      highest = std::max(highest, v);
      ++moves;
      if (v == 1000) {
        busyChecked = true;
        QCOMPARE(gauge->maximum(), int(kCardSectors));
        QVERIFY(Child<QPushButton>(w, "WipeCancelButton")->isEnabled());
        QVERIFY(!Child<QPushButton>(w, "WipeButton")->isEnabled());
        QVERIFY(!Child<QPushButton>(w, "FormatButton")->isEnabled());
        QVERIFY(!Child<QPushButton>(w, "ButtonStart")->isEnabled());
        QVERIFY(Child<QLabel>(w, "AnimateWipe")->isVisible());
        // The pages stay locked while the wipe runs.
        QTest::mouseClick(Child<QToolButton>(w, "ButtonMain"), Qt::LeftButton);
        QCOMPARE(Child<QStackedWidget>(w, "PageControl")->currentWidget()->objectName(),
                 QStringLiteral("TSUtil"));
        QVERIFY(!w.StopRequested());
      }
    });
    // Something stale in the panel shows whether the information was read anew.
    Child<QLabel>(w, "LabelInfoCapacity")->setText(QStringLiteral("stale"));
    ui().answers = {MsgResult::Yes, MsgResult::No};
    Child<QPushButton>(w, "WipeButton")->click();

    QVERIFY(busyChecked);
    QCOMPARE(Texts(ui()), std::vector<std::string>({wipeQuestion(), formatQuestion()}));
    const std::vector<uint8_t> bytes = test::ReadFileBytes(card_);
    QCOMPARE(bytes.size(), size_t(kCardSectors) * 512);
    QVERIFY(AllBytes(bytes, 0, bytes.size(), 0));
    // One step per sector, the last at the last sector, then back to 0.
    QCOMPARE(highest, int(kCardSectors) - 1);
    QCOMPARE(moves, int(kCardSectors));
    QCOMPARE(Child<QLabel>(w, "LabelInfoCapacity")->text(), QStringLiteral("16.8 MB"));
    QVERIFY(w.StopRequested());
    checkIdle(w);
  }

  void yesToFormatAfterAWipeOpensTheFormatDialog() {
    TFrmMain w(engine());
    openCard(w);
    if (QTest::currentTestFailed()) return;
    QString outcome;
    FormatDialogDriver dialog([&](TFrmFormat& d) {
      Child<QComboBox>(d, "CBFileSystem")->setCurrentText(QStringLiteral("FAT16"));
      // Typed in lower case with a character FAT labels cannot hold.
      QTest::keyClicks(Child<QLineEdit>(d, "EditVolumeLabel"), QStringLiteral("fresh.card"));
      QCOMPARE(Child<QLineEdit>(d, "EditVolumeLabel")->text(), QStringLiteral("FRESHCARD"));
      Child<QPushButton>(d, "ButtonStart")->click();
      outcome = Child<QLabel>(d, "LabelResult")->text();
      Child<QPushButton>(d, "ButtonClose")->click();
    });
    Child<QLabel>(w, "LabelInfoCapacity")->setText(QStringLiteral("stale"));
    ui().answers = {MsgResult::Yes, MsgResult::Yes};
    Child<QPushButton>(w, "WipeButton")->click();

    QVERIFY(dialog.acted());
    QCOMPARE(Texts(ui()), std::vector<std::string>({wipeQuestion(), formatQuestion()}));
    QCOMPARE(outcome, QStringLiteral("Format complete: FAT16, label FRESHCARD."));
    QCOMPARE(FatOf(card_), std::make_pair(std::string("FAT16"), std::string("FRESHCARD  ")));
    const test::CommandResult fsck = test::Run("fsck.fat -n " + test::Quote(card_.string()));
    QVERIFY2(fsck.exitCode == 0, fsck.output.c_str());
    QCOMPARE(Child<QLabel>(w, "LabelInfoCapacity")->text(), QStringLiteral("16.8 MB"));
    checkIdle(w);
  }

  void cancelStopsTheWipeEarlyAndTheFormatQuestionFollows() {
    TFrmMain w(engine());
    openCard(w);
    if (QTest::currentTestFailed()) return;
    auto* gauge = Child<QProgressBar>(w, "WipeGauge");
    int highest = -1;
    connect(gauge, &QProgressBar::valueChanged, [&](int v) {
      highest = std::max(highest, v);
      if (v == 5000) QTest::mouseClick(Child<QPushButton>(w, "WipeCancelButton"), Qt::LeftButton);
    });
    ui().answers = {MsgResult::Yes, MsgResult::Ok, MsgResult::No};
    Child<QPushButton>(w, "WipeButton")->click();

    QCOMPARE(highest, 5000);
    // 5232 sectors of 512 bytes are 2.68 MB.
    QCOMPARE(Texts(ui()),
             std::vector<std::string>(
                 {wipeQuestion(),
                  "The wipe was stopped after 2.7 MB of 16.8 MB: the card is partly wiped and "
                  "its file system is damaged. Format it before use.",
                  formatQuestion()}));
    QCOMPARE(ui().shown[1].icon, kestrella::MsgIcon::Warning);
    // Sector 5000 lies in the block of sectors 4905 to 5231 (327 at once):
    // that block was written whole, nothing after it.
    const std::vector<uint8_t> bytes = test::ReadFileBytes(card_);
    QVERIFY(AllBytes(bytes, 0, 5232 * 512, 0));
    QVERIFY(AllBytes(bytes, 5232 * 512, bytes.size(), 0xAB));
    checkIdle(w);
  }

  void closingTheWindowStopsTheWipeAndAsksNothingMore() {
    TFrmMain w(engine());
    openCard(w);
    if (QTest::currentTestFailed()) return;
    connect(Child<QProgressBar>(w, "WipeGauge"), &QProgressBar::valueChanged, [&](int v) {
      if (v == 700) w.close();
    });
    ui().answers = {MsgResult::Yes, MsgResult::Yes};
    FormatDialogDriver dialog([](TFrmFormat& d) { d.reject(); });
    Child<QPushButton>(w, "WipeButton")->click();
    QTest::qWait(100);

    // Nothing more, not even that the wipe was stopped: the user is gone.
    QCOMPARE(Texts(ui()), std::vector<std::string>({wipeQuestion()}));
    QVERIFY(!dialog.acted());
    const std::vector<uint8_t> bytes = test::ReadFileBytes(card_);
    QVERIFY(AllBytes(bytes, 0, 981 * 512, 0));  // the block of sectors 654 to 980
    QVERIFY(AllBytes(bytes, 981 * 512, bytes.size(), 0xAB));
    QVERIFY(w.StopRequested());
  }

  void writesTheCardRefusesAreReportedAndTheWipeGoesOn() {
    TFrmMain w(engine());
    openCard(w);
    if (QTest::currentTestFailed()) return;
    // The card shrinks under the window: writes past its new end fail, as on
    // a card that gives up half way.
    fs::resize_file(card_, kCardSectors / 2 * 512);
    int highest = -1;
    connect(Child<QProgressBar>(w, "WipeGauge"), &QProgressBar::valueChanged,
            [&](int v) { highest = std::max(highest, v); });
    ui().answers = {MsgResult::Yes, MsgResult::Ok, MsgResult::No};
    Child<QPushButton>(w, "WipeButton")->click();

    QCOMPARE(highest, int(kCardSectors) - 1);  // every block was tried
    // 50 blocks of 327 sectors fit; the 51st runs past the end.
    QCOMPARE(Texts(ui()),
             std::vector<std::string>(
                 {wipeQuestion(),
                  "Some sectors of [D:] could not be written and still hold their old data "
                  "(16350 of 32768 sectors were wiped). Sectors not wiped: 16350-32767.",
                  formatQuestion()}));
    QCOMPARE(ui().shown[1].icon, kestrella::MsgIcon::Warning);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(card_);
    QVERIFY(AllBytes(bytes, 0, 16350 * 512, 0));
    checkIdle(w);
  }

  void formatDialogFormatsTheCard_data() {
    QTest::addColumn<QString>("fileSystem");
    QTest::addColumn<uint>("sectors");
    QTest::addColumn<QString>("cluster");
    QTest::addColumn<int>("sectorsPerCluster");
    QTest::newRow("FAT12") << "FAT12" << 8192u << "Automatic" << 0;
    QTest::newRow("FAT16") << "FAT16" << 32768u << "2 KB" << 4;
    QTest::newRow("FAT32") << "FAT32" << 81920u << "512 bytes" << 1;
  }

  void formatDialogFormatsTheCard() {
    QFETCH(QString, fileSystem);
    QFETCH(uint, sectors);
    QFETCH(QString, cluster);
    QFETCH(int, sectorsPerCluster);
    TFrmMain w(engine());
    openCard(w, sectors);
    if (QTest::currentTestFailed()) return;
    const std::string md5 = test::Md5Of(card_);
    QString outcome;
    kestrella::TFormatOptions chosen;
    FormatDialogDriver dialog([&](TFrmFormat& d) {
      const QString warning = Child<QLabel>(d, "LabelWarning")->text();
      // The card by its path and kind, as the Tools page names it.
      QVERIFY2(warning.contains(QString::fromStdString(
                   "erases everything on " + fs::weakly_canonical(card_).string() + " (card image, ")),
               qPrintable(warning));
      Child<QComboBox>(d, "CBFileSystem")->setCurrentText(fileSystem);
      Child<QComboBox>(d, "CBClusterSize")->setCurrentText(cluster);
      Child<QLineEdit>(d, "EditVolumeLabel")->setText(QStringLiteral("CAM"));
      chosen = d.Options();
      Child<QPushButton>(d, "ButtonStart")->click();
      outcome = Child<QLabel>(d, "LabelResult")->text();
      d.reject();  // the window's close box
    });
    Child<QLabel>(w, "LabelInfoCapacity")->setText(QStringLiteral("stale"));
    Child<QPushButton>(w, "FormatButton")->click();

    QVERIFY(dialog.acted());
    QVERIFY(ui().shown.empty());  // Start is the confirmation; no other question
    QCOMPARE(chosen.fatBits, fileSystem.mid(3).toInt());
    QCOMPARE(chosen.label, std::string("CAM"));
    QCOMPARE(outcome, QStringLiteral("Format complete: %1, label CAM.").arg(fileSystem));
    QVERIFY(test::Md5Of(card_) != md5);
    QCOMPARE(FatOf(card_), std::make_pair(fileSystem.toStdString(), std::string("CAM        ")));
    if (sectorsPerCluster != 0) QCOMPARE(int(test::ReadFileBytes(card_)[13]), sectorsPerCluster);
    const test::CommandResult fsck = test::Run("fsck.fat -n " + test::Quote(card_.string()));
    QVERIFY2(fsck.exitCode == 0, fsck.output.c_str());
    QVERIFY(Child<QLabel>(w, "LabelInfoCapacity")->text() != QStringLiteral("stale"));
    checkIdle(w);
  }

  void formatResultIsTheStatusOrMinusOneWhenClosedWithoutFormatting() {
    TFrmMain w(engine());
    openCard(w, 8192);
    if (QTest::currentTestFailed()) return;
    const std::string md5 = test::Md5Of(card_);
    {
      FormatDialogDriver dialog([](TFrmFormat& d) { Child<QPushButton>(d, "ButtonClose")->click(); });
      QCOMPARE(w.FormatDrive(), -1);
      QVERIFY(dialog.acted());
    }
    QCOMPARE(test::Md5Of(card_), md5);
    {
      // FAT32 needs far more clusters than 4 MB holds: the format fails and
      // the dialog shows why.
      QString outcome;
      FormatDialogDriver dialog([&](TFrmFormat& d) {
        Child<QComboBox>(d, "CBFileSystem")->setCurrentText(QStringLiteral("FAT32"));
        Child<QPushButton>(d, "ButtonStart")->click();
        outcome = Child<QLabel>(d, "LabelResult")->text();
        Child<QComboBox>(d, "CBFileSystem")->setCurrentText(QStringLiteral("Automatic"));
        Child<QPushButton>(d, "ButtonStart")->click();
        Child<QPushButton>(d, "ButtonClose")->click();
      });
      QCOMPARE(w.FormatDrive(), 0);  // the last Start counts
      QVERIFY2(outcome.startsWith(QStringLiteral("Format failed (status 1): ")), qPrintable(outcome));
      QVERIFY2(outcome.contains(QStringLiteral("FAT32")), qPrintable(outcome));
      QCOMPARE(FatOf(card_).first, std::string("FAT12"));
    }
    QVERIFY(ui().shown.empty());
  }

  void volumeLabelKeepsToWhatFatAllows() {
    QCOMPARE(TFrmFormat::CleanLabel(QStringLiteral("my card.2024!")), QStringLiteral("MY CARD2024"));
    QCOMPARE(TFrmFormat::CleanLabel(QStringLiteral("a*b?c/d\\e:f\"g<h>i|j+k,l;m=n[o]p")),
             QStringLiteral("ABCDEFGHIJK"));
    QCOMPARE(TFrmFormat::CleanLabel(QStringLiteral("fotos_ä~1")), QStringLiteral("FOTOS_~1"));
    kestrella::DriveEntry drive;
    drive.number = 4;
    TFrmFormat d(engine(), drive);
    auto* label = Child<QLineEdit>(d, "EditVolumeLabel");
    QTest::keyClicks(label, QStringLiteral("holiday 2024 spain"));
    QCOMPARE(label->text(), QStringLiteral("HOLIDAY 202"));
    label->setText(QStringLiteral("   "));
    QCOMPARE(d.Options().label, std::string());  // blanks are no label
    Child<QComboBox>(d, "CBClusterSize")->setCurrentText(QStringLiteral("64 KB"));
    QCOMPARE(d.Options().clusterBytes, 65536u);
    QCOMPARE(d.Options().fatBits, 0);
    QCOMPARE(d.windowTitle(), QStringLiteral("Format [D:]"));
  }

  void busyAnimationRunsDuringAWipeAndIsHiddenWithoutItsFile() {
    {
      TFrmMain w(engine());
      openCard(w, 4096);
      if (QTest::currentTestFailed()) return;
      auto* movie = w.findChild<QMovie*>(QStringLiteral("BusyAnimation"));
      QVERIFY(movie != nullptr);
      QVERIFY(movie->frameCount() > 1);
      bool seen = false;
      connect(Child<QProgressBar>(w, "WipeGauge"), &QProgressBar::valueChanged, [&](int v) {
        if (v != 2000) return;
        seen = Child<QLabel>(w, "AnimateWipe")->isVisible() && movie->state() == QMovie::Running;
      });
      ui().answers = {MsgResult::Yes, MsgResult::No};
      QVERIFY(!Child<QLabel>(w, "AnimateWipe")->isVisible());
      Child<QPushButton>(w, "WipeButton")->click();
      QVERIFY(seen);
      QVERIFY(!Child<QLabel>(w, "AnimateWipe")->isVisible());
      QCOMPARE(movie->state(), QMovie::NotRunning);
    }
    freshEngine();
    {
      TFrmMain w(engine());
      w.SetBusyAnimation(QString::fromStdString((*dir_ / "missing.gif").string()));
      QVERIFY(w.findChild<QMovie*>(QStringLiteral("BusyAnimation")) == nullptr);
      openCard(w, 4096);
      if (QTest::currentTestFailed()) return;
      bool shown = true;
      connect(Child<QProgressBar>(w, "WipeGauge"), &QProgressBar::valueChanged, [&](int v) {
        if (v == 2000) shown = Child<QLabel>(w, "AnimateWipe")->isVisible();
      });
      ui().answers = {MsgResult::Yes, MsgResult::No};
      Child<QPushButton>(w, "WipeButton")->click();
      QVERIFY(!shown);
      // Only the two questions: a missing animation is not worth a word.
      QCOMPARE(ui().shown.size(), size_t(2));
    }
  }
};

QTEST_MAIN(FrmMainToolsTest)
#include "fmain_tools_test.moc"
