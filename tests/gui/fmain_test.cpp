// The main window: its state after start, the drive information of cards of
// several sizes, a drive that does not answer, the settings it keeps, the
// manual and licence it shows, and windows that can be resized.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>

#include "app/ffatscan.h"
#include "diskio/drivetable.h"
#include "gui/fanalyzedrive.h"
#include "gui/fformat.h"
#include "gui/fmain.h"
#include "gui/fselectfolderdialog.h"
#include "folderdialogsupport.h"
#include "gui/settings.h"
#include "support/fakes.h"
#include "support/testsupport.h"

using kestrella::gui::TFrmMain;
using kestrella::gui::TFrmSelectFolderDialog;
namespace fs = std::filesystem;

namespace {

// A card image of `bytes` bytes: sparse, so a 1 GB card costs no disk space.
QString MakeImage(const fs::path& path, uint64_t bytes) {
  std::ofstream(path, std::ios::binary).flush();
  fs::resize_file(path, bytes);
  return QString::fromStdString(path.string());
}

template <typename T>
T* Child(const QWidget& w, const char* name) {
  T* c = w.findChild<T*>(QString::fromLatin1(name));
  if (c == nullptr) qFatal("no control %s", name);
  return c;
}


QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

void Store(const QString& savePath, const QString& prefix, const QString& preview) {
  QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Kestrella2"));
  s.beginGroup(QStringLiteral("Options"));
  s.setValue(QStringLiteral("Save Path"), savePath);
  s.setValue(QStringLiteral("Prefix"), prefix);
  s.setValue(QStringLiteral("Preview"), preview);
}

}  // namespace

class FrmMainTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<kestrella::test::TempDir> dir_;
  fs::path home_;
  // Every test starts with an empty drive table of its own.
  std::unique_ptr<kestrella::test::FrontEngine<>> rig_;

  kestrella::Engine& engine() { return rig_->engine; }

  // Block device `name` of `mib` MiB (0: empty) in the test's made-up sysfs
  // tree, its device a plain file of that size; 8:0 holds the root.
  void FakeDevice(const char* name, uint64_t mib, int removable, const char* dev) {
    kestrella::test::FakeDisk(dir_->path() / "sys", name, mib * 2048, removable, dev);
    fs::create_directories(dir_->path() / "dev");
    if (mib != 0) MakeImage(dir_->path() / "dev" / name, mib << 20);
  }
  void ScanFakeDevices() {
    kestrella::SystemRoots roots;
    roots.sysClassBlock = (dir_->path() / "sys").string();
    roots.devDir = (dir_->path() / "dev").string();
    roots.rootDevice = "8:0";
    engine().ScanDrives(roots);
  }

 private slots:
  void init() {
    dir_ = std::make_unique<kestrella::test::TempDir>();
    home_ = dir_->path() / "home";
    fs::create_directories(home_);
    fs::create_directories(dir_->path() / "settings");
    // Settings and the default destination go to the test's folder, never to
    // the real user's.
    qputenv("HOME", QByteArray::fromStdString(home_.string()));
    // The pictures folder is read from $XDG_CONFIG_HOME/user-dirs.dirs.
    fs::create_directories(dir_->path() / "config");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir_->path() / "config").string()));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString((dir_->path() / "settings").string()));
    // A locale that groups thousands, so that "1023.50 KB" shows none.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    rig_ = std::make_unique<kestrella::test::FrontEngine<>>();
  }

  void cleanup() {
    rig_.reset();
    dir_.reset();
  }

  void startsWithStartAndCancelDisabled() {
    Store(QString::fromStdString((dir_->path() / "gone").string()), "holiday", "0");
    TFrmMain w(engine());
    QVERIFY(!Child<QPushButton>(w, "ButtonStart")->isEnabled());
    QVERIFY(!Child<QPushButton>(w, "ButtonCancel")->isEnabled());
    QCOMPARE(w.windowTitle(), QStringLiteral("Kestrella"));
    QVERIFY(w.width() >= 680 && w.height() >= 298);
    QCOMPARE(Child<QToolButton>(w, "ButtonMain")->toolTip(), QStringLiteral("Media Recovery"));
    QCOMPARE(Child<QToolButton>(w, "ButtonAbout")->toolTip(), QStringLiteral("About Kestrella"));
    QCOMPARE(Child<QComboBox>(w, "ListBoxDrives")->currentIndex(), -1);
    QVERIFY(Child<QLabel>(w, "LabelInfoStatus")->text().isEmpty());
    // Whatever prefix was stored, a new start numbers "image...".
    QCOMPARE(Child<QLineEdit>(w, "EditFilenamePrefix")->text(), QStringLiteral("image"));
    QVERIFY(!Child<QCheckBox>(w, "cb_preview")->isChecked());
    // A stored destination that is gone gives way to ~/Recovered, made only
    // when a run starts.
    const fs::path recovered = home_ / "Recovered";
    QCOMPARE(Child<QLineEdit>(w, "EditDestPath")->text(), QString::fromStdString(recovered.string()));
    QVERIFY(!fs::exists(recovered));
    QCOMPARE(Child<QSlider>(w, "TrackBarRetryCount")->value(), 1);
    QCOMPARE(Child<QSlider>(w, "TrackBarRetryCount")->maximum(), 20);
  }

  void keepsStoredDestinationAndPreview() {
    const QString kept = QString::fromStdString((dir_->path() / "photos").string());
    QDir().mkpath(kept);
    Store(kept, "image", "1");
    TFrmMain w(engine());
    QCOMPARE(Child<QLineEdit>(w, "EditDestPath")->text(), kept);
    QVERIFY(Child<QCheckBox>(w, "cb_preview")->isChecked());
  }

  void driveInformation_data() {
    QTest::addColumn<qulonglong>("bytes");
    QTest::addColumn<QString>("capacity");
    QTest::addColumn<int>("position");
    // Decimal units, as card makers print them on the card.
    QTest::newRow("16 MiB") << qulonglong(16) * 1024 * 1024 << "16.8 MB" << 327;
    QTest::newRow("64 MiB") << qulonglong(64) * 1024 * 1024 << "67.1 MB" << 1310;
    QTest::newRow("1 GiB") << qulonglong(1024) * 1024 * 1024 << "1.1 GB" << 3999;
    QTest::newRow("300 KiB") << qulonglong(300) * 1024 << "307.2 KB" << 6;
    QTest::newRow("2047 sectors") << qulonglong(2047) * 512 << "1.0 MB" << 20;
  }

  void driveInformation() {
    QFETCH(qulonglong, bytes);
    QFETCH(QString, capacity);
    QFETCH(int, position);
    QVERIFY(engine().AddImage(MakeImage(dir_->path() / "card.img", bytes).toStdString()) != 0);
    TFrmMain w(engine());
    auto* list = Child<QComboBox>(w, "ListBoxDrives");
    QCOMPARE(list->count(), 1);
    list->setCurrentIndex(0);
    QCOMPARE(Child<QLabel>(w, "LabelInfoCapacity")->text(), capacity);
    // The list gives the same figure as the panel.
    QVERIFY(list->itemText(0).endsWith(QStringLiteral(" - ") + capacity));
    QCOMPARE(Child<QLabel>(w, "LabelInfoMedia")->text(), QStringLiteral("Removable"));
    QCOMPARE(Child<QLabel>(w, "LabelInfoBytesPerSec")->text(), QStringLiteral("512"));
    QCOMPARE(Child<QLabel>(w, "LabelInfoStatus")->text(), QStringLiteral("Ready"));
    QVERIFY(Child<QPushButton>(w, "ButtonStart")->isEnabled());
    auto* slider = Child<QSlider>(w, "TrackBarSecAtOnce");
    QCOMPARE(slider->minimum(), 1);
    QCOMPARE(slider->maximum(), 3999);
    QCOMPARE(slider->value(), position);
    QCOMPARE(slider->tickInterval(), 999);
    QCOMPARE(w.DriveParams().TotalSectors, static_cast<uint32_t>(bytes / 512));
    QCOMPARE(w.CurDriveLetter(), 'D');
    QCOMPARE(w.CurDriveNumber(), 4u);
  }

  void unreadableDriveIsNotReadyAndLocksPages() {
    engine().AddImage(MakeImage(dir_->path() / "card.img", 16 * 1024 * 1024).toStdString());
    // An empty file reads as a card reader without a card.
    engine().AddImage(MakeImage(dir_->path() / "empty.img", 0).toStdString());
    TFrmMain w(engine());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* list = Child<QComboBox>(w, "ListBoxDrives");
    auto* pages = Child<QStackedWidget>(w, "PageControl");
    list->setCurrentIndex(0);
    QCOMPARE(Child<QLabel>(w, "LabelInfoStatus")->text(), QStringLiteral("Ready"));

    list->setCurrentIndex(1);
    QCOMPARE(Child<QLabel>(w, "LabelInfoStatus")->text(), QStringLiteral("no medium"));
    QCOMPARE(Child<QLabel>(w, "LabelInfoHint")->text(),
             QStringLiteral("Insert the card into the reader."));
    QVERIFY(Child<QLabel>(w, "LabelInfoHint")->isVisible());
    QVERIFY(!w.findChild<QWidget*>(QStringLiteral("MediaInfo"))->isVisible());
    QVERIFY(Child<QLabel>(w, "LabelInfoCapacity")->text().isEmpty());
    QVERIFY(Child<QLabel>(w, "LabelInfoMedia")->text().isEmpty());
    QVERIFY(!Child<QPushButton>(w, "ButtonStart")->isEnabled());
    QTest::mouseClick(Child<QToolButton>(w, "ButtonUtil"), Qt::LeftButton);
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("TSRecover"));
    QVERIFY(Child<QToolButton>(w, "ButtonMain")->isChecked());
    QVERIFY(!Child<QToolButton>(w, "ButtonUtil")->isChecked());

    // With the ready card selected again the same click opens the Tools page.
    list->setCurrentIndex(0);
    QVERIFY(!Child<QLabel>(w, "LabelInfoHint")->isVisible());
    QVERIFY(w.findChild<QWidget*>(QStringLiteral("MediaInfo"))->isVisible());
    QTest::mouseClick(Child<QToolButton>(w, "ButtonUtil"), Qt::LeftButton);
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("TSUtil"));
    QTest::mouseClick(Child<QToolButton>(w, "ButtonOptions"), Qt::LeftButton);
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("TSOptions"));
  }

  void busyWindowOnlyAnswersCancel() {
    engine().AddImage(MakeImage(dir_->path() / "card.img", 16 * 1024 * 1024).toStdString());
    TFrmMain w(engine());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    Child<QComboBox>(w, "ListBoxDrives")->setCurrentIndex(0);
    w.EnableControls(false);
    QVERIFY(Child<QPushButton>(w, "ButtonCancel")->isEnabled());
    QVERIFY(Child<QPushButton>(w, "WipeCancelButton")->isEnabled());
    for (const char* name : {"ButtonStart", "ButtonBrowse", "FormatButton", "WipeButton"})
      QVERIFY2(!Child<QPushButton>(w, name)->isEnabled(), name);
    QVERIFY(!Child<QComboBox>(w, "ListBoxDrives")->isEnabled());
    QVERIFY(!Child<QLineEdit>(w, "EditDestPath")->isEnabled());
    QTest::mouseClick(Child<QToolButton>(w, "ButtonOptions"), Qt::LeftButton);
    QCOMPARE(Child<QStackedWidget>(w, "PageControl")->currentWidget()->objectName(),
             QStringLiteral("TSRecover"));
    w.EnableControls(true);
    QVERIFY(!Child<QPushButton>(w, "ButtonCancel")->isEnabled());
    QVERIFY(Child<QPushButton>(w, "ButtonStart")->isEnabled());
  }

  void listsDrivesInLetterOrderWithCaptions() {
    const QString first = MakeImage(dir_->path() / "b.img", 1024 * 1024);
    const QString second = MakeImage(dir_->path() / "a.img", 2 * 1024 * 1024);
    QCOMPARE(engine().AddImage(first.toStdString()), 4);
    QCOMPARE(engine().AddImage(second.toStdString()), 5);
    TFrmMain w(engine());
    auto* list = Child<QComboBox>(w, "ListBoxDrives");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->itemText(0),
             QStringLiteral("D:\\ ") + QString::fromStdString(engine().FindDrive(4)->Caption()));
    QCOMPARE(list->itemText(1),
             QStringLiteral("E:\\ ") + QString::fromStdString(engine().FindDrive(5)->Caption()));
    QVERIFY(list->itemText(0).contains(first));
    QVERIFY(!list->itemIcon(0).isNull());
  }

  void preselectsTheCardAndPutsTheSystemDiskLast() {
    FakeDevice("sda", 64, 0, "8:0");   // the system disk: C:
    FakeDevice("sdb", 16, 1, "8:16");  // a card reader: D:
    FakeDevice("sr0", 0, 1, "11:0");   // an empty optical drive: E:
    ScanFakeDevices();
    TFrmMain w(engine());
    auto* list = Child<QComboBox>(w, "ListBoxDrives");
    QCOMPARE(list->count(), 3);
    QVERIFY(list->itemText(0).startsWith(QStringLiteral("D:\\ ")));
    QVERIFY(list->itemText(1).startsWith(QStringLiteral("E:\\ ")));
    QVERIFY(list->itemText(2).startsWith(QStringLiteral("C:\\ ")));
    QVERIFY(list->itemText(2).endsWith(QStringLiteral(" (system disk)")));
    QVERIFY(!list->itemText(0).contains(QStringLiteral("system disk")));
    QCOMPARE(list->currentIndex(), 0);
    QCOMPARE(Child<QLabel>(w, "LabelInfoCapacity")->text(), QStringLiteral("16.8 MB"));
    list->setCurrentIndex(2);
    QCOMPARE(Child<QLabel>(w, "LabelInfoMedia")->text(), QStringLiteral("Fixed"));
  }

  // losetup attaches a file to a loop device that was listed all along with
  // size 0: only its size changes, and the next poll lists it.
  void pollListsALoopDeviceOnceAttached() {
    FakeDevice("sda", 64, 0, "8:0");
    FakeDevice("loop0", 0, 0, "7:0");
    ScanFakeDevices();
    TFrmMain w(engine());
    auto* list = Child<QComboBox>(w, "ListBoxDrives");
    QCOMPARE(list->count(), 1);
    FakeDevice("loop0", 8, 0, "7:0");
    QVERIFY(QMetaObject::invokeMethod(&w, "PollBlockDevices"));
    QCOMPARE(list->count(), 2);
    QVERIFY(list->itemText(0).contains(QStringLiteral("/dev/loop0")));
    // A refresh does not move the selection.
    QCOMPARE(w.CurDriveLetter(), 'C');
  }

  void refreshKeepsSelectionAndWaitsWhileBusy() {
    const QString card = MakeImage(dir_->path() / "card.img", 16 * 1024 * 1024);
    engine().AddImage(card.toStdString());
    TFrmMain w(engine());
    auto* list = Child<QComboBox>(w, "ListBoxDrives");
    list->setCurrentIndex(0);
    engine().AddImage(MakeImage(dir_->path() / "later.img", 1024 * 1024).toStdString());
    // A run owns the drive: the list stays as it is.
    w.EnableControls(false);
    w.RefreshDrives();
    QCOMPARE(list->count(), 1);
    w.EnableControls(true);
    // Idle again: the new image shows up (with whatever block devices this
    // machine has) and the card stays selected.
    w.RefreshDrives();
    QVERIFY(list->count() >= 2);
    QVERIFY(list->currentText().contains(card));
    QCOMPARE(Child<QLabel>(w, "LabelInfoCapacity")->text(), QStringLiteral("16.8 MB"));
  }

  void openImageAddsAndSelectsIt() {
    TFrmMain w(engine());
    QCOMPARE(Child<QComboBox>(w, "ListBoxDrives")->count(), 0);
    QVERIFY(w.OpenImage(MakeImage(dir_->path() / "card.img", 64 * 1024 * 1024)));
    QCOMPARE(Child<QComboBox>(w, "ListBoxDrives")->currentIndex(), 0);
    QCOMPARE(Child<QLabel>(w, "LabelInfoCapacity")->text(), QStringLiteral("67.1 MB"));
    QVERIFY(!w.OpenImage(QString::fromStdString((dir_->path() / "missing.img").string())));
  }

  void writesSettingsOnClose() {
    Store("", "old", "1");
    const QString dest = QString::fromStdString((dir_->path() / "out").string());
    {
      TFrmMain w(engine());
      Child<QLineEdit>(w, "EditDestPath")->setText(dest);
      Child<QLineEdit>(w, "EditFilenamePrefix")->setText("trip");
      Child<QCheckBox>(w, "cb_preview")->setChecked(false);
      Child<QCheckBox>(w, "CheckCardNames")->setChecked(false);
      Child<QCheckBox>(w, "CheckFolderPerKind")->setChecked(true);
      QVERIFY(w.close());
      QVERIFY(w.StopRequested());
    }
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Kestrella2"));
    s.beginGroup(QStringLiteral("Options"));
    QCOMPARE(s.value("Save Path").toString(), dest);
    QCOMPARE(s.value("Prefix").toString(), QStringLiteral("trip"));
    QCOMPARE(s.value("Preview").toString(), QStringLiteral("0"));
    // How files are named comes back with the next start.
    QCOMPARE(s.value("Card Names").toString(), QStringLiteral("0"));
    QCOMPARE(s.value("Folder Per Kind").toString(), QStringLiteral("1"));
    QCOMPARE(s.value("Cut Files").toString(), QStringLiteral("1"));
    {
      TFrmMain w(engine());
      QVERIFY(!Child<QCheckBox>(w, "CheckCardNames")->isChecked());
      QVERIFY(Child<QCheckBox>(w, "CheckFolderPerKind")->isChecked());
      QVERIFY(Child<QLineEdit>(w, "EditFilenamePrefix")->isEnabled());
    }
    for (const char* key : {"ShowExistsFiles", "RecoverDeletedFiles", "RecoverLostFiles"}) {
      QVERIFY2(s.contains(key), key);
      QVERIFY2(s.value(key).toString().isEmpty(), key);
    }
  }

  // Folders are under the test folder; user-dirs.dirs is written when given.
  void defaultDestination_data() {
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("made");
    QTest::addColumn<QString>("userDirs");
    QTest::addColumn<QString>("expected");
    const char* fotos = "XDG_PICTURES_DIR=\"$HOME/Fotos\"\n";
    QTest::newRow("pictures") << "home" << "home/Pictures" << "" << "home/Pictures/Recovered";
    QTest::newRow("moved pictures") << "home" << "home/Fotos" << fotos << "home/Fotos/Recovered";
    QTest::newRow("no pictures") << "home" << "home/Photos" << "" << "home/Recovered";
    QTest::newRow("named pictures gone") << "home" << "home/Pictures" << fotos << "home/Recovered";
    // A file where the home folder should be: nothing can be made in it.
    QTest::newRow("unwritable home") << "blocked" << "home" << "" << "tmp";
  }

  void defaultDestination() {
    QFETCH(QString, home);
    QFETCH(QString, made);
    QFETCH(QString, userDirs);
    QFETCH(QString, expected);
    const fs::path root = dir_->path();
    std::ofstream(root / "blocked") << "x";
    fs::create_directories(root / made.toStdString());
    if (!userDirs.isEmpty()) std::ofstream(root / "config/user-dirs.dirs") << userDirs.toStdString();
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("HOME", QByteArray::fromStdString((root / home.toStdString()).string()));
    qputenv("TMPDIR", QByteArray::fromStdString((root / "tmp").string()));
    const QString got = kestrella::gui::DefaultDestination();
    oldTmp.isNull() ? void(qunsetenv("TMPDIR")) : void(qputenv("TMPDIR", oldTmp));
    QCOMPARE(got, Q(root / expected.toStdString()));
    // Nothing is made before the user starts a run.
    QVERIFY(!fs::exists(root / expected.toStdString()));
  }

  // The destination typed in, the folder picked (Cancel when empty), where
  // the dialog opened and the destination after it.
  void browseButtonChoosesTheDestination_data() {
    for (const char* c : {"start", "pick", "shownAt", "expected"}) QTest::addColumn<QString>(c);
    QTest::newRow("ok") << "a" << "b/c" << "a" << "b/c";
    QTest::newRow("cancel") << "a" << "" << "a" << "a";
    QTest::newRow("cancel, typed folder missing") << "b/gone/x" << "" << "b" << "b/gone/x";
    QTest::newRow("ok, typed folder missing") << "b/gone" << "a" << "b" << "a";
  }

  void browseButtonChoosesTheDestination() {
    QFETCH(QString, start);
    QFETCH(QString, pick);
    QFETCH(QString, shownAt);
    QFETCH(QString, expected);
    const fs::path root = dir_->path();
    fs::create_directories(root / "a");
    fs::create_directories(root / "b/c");
    TFrmMain w(engine());
    auto* edit = Child<QLineEdit>(w, "EditDestPath");
    edit->setText(Q(root / start.toStdString()));
    QString seen = "(not opened)";
    kestrella::test::WhenFolderDialogShown([&](TFrmSelectFolderDialog& dlg) {
      seen = dlg.selectedFolder();
      if (!pick.isEmpty()) dlg.selectFolder(Q(root / pick.toStdString()));
      dlg.findChild<QPushButton*>(pick.isEmpty() ? "CancelBtn" : "OKBtn")->click();
    });
    Child<QPushButton>(w, "ButtonBrowse")->click();
    QCOMPARE(seen, Q(root / shownAt.toStdString()));
    QCOMPARE(edit->text(), Q(root / expected.toStdString()));
    // Looking does not create the folder typed in.
    QCOMPARE(fs::exists(root / start.toStdString()), start == "a");
  }

  void updateAddressFromProfile() {
    const fs::path ini = dir_->path() / "Kestrella.ini";
    const QString iniPath = QString::fromStdString(ini.string());
    QCOMPARE(kestrella::gui::ReadUpdateURL(iniPath),
             QString::fromLatin1(kestrella::gui::kDefaultUpdateURL));
    std::ofstream(ini) << "[LiveUpdate]\nURL=https://mirror.invalid/u.inf\n";
    QCOMPARE(kestrella::gui::ReadUpdateURL(iniPath), QStringLiteral("https://mirror.invalid/u.inf"));
  }

  void helpManualIsFound() {
    const QString path = TFrmMain::HelpFilePath();
    QVERIFY(!path.isEmpty());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().contains("Kestrella"));
    // The installed manual is taken before the source tree's; a folder
    // without one is passed over.
    const fs::path installed = dir_->path() / "usr/share/kestrella/help";
    fs::create_directories(installed);
    std::ofstream(installed / "index.html") << "<p>installed</p>";
    const QStringList folders = {Q(dir_->path() / "gone"), Q(dir_->path()), Q(installed),
                                 QFileInfo(path).path()};
    QCOMPARE(TFrmMain::HelpFilePath(folders), Q(fs::canonical(installed / "index.html")));
    QCOMPARE(TFrmMain::HelpFilePath({Q(dir_->path()), Q(dir_->path() / "gone")}), QString());
  }

  // About's Licence button shows the licence built into the program, whether
  // or not one was installed; the box comes back after it.
  void aboutShowsTheLicence() {
    using kestrella::test::WhenModalShown;
    TFrmMain w(engine());
    QString licence;
    int boxes = 0;
    WhenModalShown<QMessageBox>([&](QMessageBox& box) {
      ++boxes;
      WhenModalShown<QDialog>([&](QDialog& dialog) {
        if (auto* text = dialog.findChild<QPlainTextEdit*>("LicenceText")) licence = text->toPlainText();
        WhenModalShown<QMessageBox>([&](QMessageBox& again) {
          ++boxes;
          again.button(QMessageBox::Close)->click();
        });
        dialog.reject();
      });
      Child<QPushButton>(box, "ButtonLicence")->click();
    });
    Child<QToolButton>(w, "ButtonAbout")->click();
    QCOMPARE(boxes, 2);
    QVERIFY(licence.contains("GNU GENERAL PUBLIC LICENSE"));
    QVERIFY(licence.contains("version 3 of the License, or"));
  }

  // Every window can be made larger than it opens, and no smaller than a
  // small screen holds.
  void windowsAreResizable_data() {
    QTest::addColumn<QString>("window");
    for (const char* w : {"main", "analysis", "format", "folder"}) QTest::newRow(w) << QString(w);
  }

  void windowsAreResizable() {
    QFETCH(QString, window);
    const uint8_t card = engine().AddImage(MakeImage(dir_->path() / "card.img", 1 << 24).toStdString());
    kestrella::TFrmFATScan driver(engine().Context());
    std::unique_ptr<QWidget> w;
    if (window == "main") w = std::make_unique<TFrmMain>(engine());
    if (window == "analysis") w = std::make_unique<kestrella::gui::TFrmAnalyzeDrive>(driver, card);
    if (window == "format") w = std::make_unique<kestrella::gui::TFrmFormat>(engine(), *engine().FindDrive(card));
    if (window == "folder") w = std::make_unique<TFrmSelectFolderDialog>();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const QSize min = w->minimumSize(), max = w->maximumSize();
    QVERIFY(min.width() < max.width() && min.height() < max.height());
    QVERIFY(min.width() <= 800 && min.height() <= 600);
    const QSize larger = w->size() + QSize(100, 80);
    w->resize(larger);
    QCOMPARE(w->size(), larger);
  }
};

QTEST_MAIN(FrmMainTest)
#include "fmain_test.moc"
