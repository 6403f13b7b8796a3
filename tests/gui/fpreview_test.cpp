// The preview dialog on the offscreen platform: thumbnail geometry as the width
// allows, pictures (turned upright, enlarged) and caption-only thumbnails, the
// captions, the keys, where the dialog is placed, saving through the found-file
// list, the OK and Cancel paths (Cancel discards only when the user says Yes),
// a failed save that goes on into another folder, and a run with ten thousand
// found files.
#include <QBuffer>
#include <QCheckBox>
#include <QDateTime>
#include <QHelpEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <filesystem>

#include "folderdialogsupport.h"
#include "gui/fpreview.h"
#include "gui/photoview.h"
#include "gui/windowplace.h"
#include "gui/thumbnailbox.h"
#include "support/fakes.h"
#include "support/testsupport.h"

using kestrella::FoundFileList;
using kestrella::SaveReport;
using kestrella::gui::PhotoView;
using kestrella::gui::TFrmPreview;
namespace fs = std::filesystem;
namespace kt = kestrella::test;

namespace {

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

// 480 x 360.
fs::path GoodPhoto() { return kt::DataPhoto("Canon_PowerShot_S40.jpg"); }
// 100 x 66: smaller than the picture box.
fs::path SmallPhoto() { return kt::DataPhoto("Nikon_D70.jpg"); }

// Copies src into the temporary folder of a run under the given name.
fs::path Found(const kt::TempDir& temp, const std::string& name, const fs::path& src) {
  fs::copy_file(src, temp / name, fs::copy_options::overwrite_existing);
  return temp / name;
}

size_t FilesIn(const fs::path& dir) {
  size_t n = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

// Adds count copies of the good photo as f1.ext, f2.ext, ...
void AddCopies(TFrmPreview* d, const kt::TempDir& temp, int count, const std::string& ext) {
  for (int i = 1; i <= count; ++i) {
    d->AddImage(Q(Found(temp, kt::Numbered("f", i, ext), GoodPhoto())));
  }
}

// The main window after its run ended.
TFrmPreview::Hooks RunEnded(const fs::path& dest, const QString& prefix) {
  return {[] { return false; }, [dest] { return Q(dest); },
          [prefix] { return kestrella::SaveNaming::Numbered(prefix.toStdString()); }, {}, {}, {}};
}

QPushButton* Button(TFrmPreview* d, const char* name) {
  return d->findChild<QPushButton*>(name);
}

// A JPEG stored `stored` in size whose EXIF says to turn it a quarter
// clockwise (Orientation 6), as cameras write photos taken upright.
void WriteTurnedJpeg(const fs::path& path, QSize stored) {
  QImage image(stored, QImage::Format_RGB32);
  image.fill(Qt::darkGreen);
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPG");
  // APP1 "Exif", a big-endian TIFF header and one IFD entry: tag 0x0112
  // (Orientation), type SHORT, count 1, value 6.
  const QByteArray exif = QByteArray("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01", 16) +
                          QByteArray("\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 16);
  QByteArray app1("\xff\xe1", 2);
  app1.append(char((exif.size() + 2) >> 8)).append(char((exif.size() + 2) & 0xff)).append(exif);
  jpeg.insert(2, app1);  // right after SOI
  kt::WriteFileBytes(path, std::vector<uint8_t>(jpeg.begin(), jpeg.end()));
}

// The enlarged views the dialog has open.
QList<PhotoView*> Views(TFrmPreview& d) { return d.findChildren<PhotoView*>(); }

}  // namespace

class FPreviewTest : public QObject {
  Q_OBJECT

  // The save step writes through the system's files, as in the program.
  kestrella::OutputFiles output_;

 private slots:
  void LayoutAndSecondRow() {
    kt::TempDir temp;
    FoundFileList found(output_);
    TFrmPreview d(found);
    QCOMPARE(d.windowTitle(), QString("Preview"));
    for (const char* name : {"ButtonSelectAll", "ButtonSelectNone", "ButtonOK", "ButtonCancel"}) {
      QVERIFY2(Button(&d, name), name);
    }
    QVERIFY(d.findChild<QScrollArea*>("scrollbox_preview"));
    kestrella::gui::ThumbnailBox* box = d.findChild<kestrella::gui::ThumbnailBox*>("PanelBox");
    QVERIFY(box);
    QVERIFY(Button(&d, "ButtonOK")->isDefault());
    QVERIFY(Button(&d, "ButtonCancel")->isHidden());
    // Resizable, four columns to begin with.
    QVERIFY(d.minimumWidth() < d.maximumWidth() && d.minimumHeight() < d.maximumHeight());

    AddCopies(&d, temp, 5, ".CRW");
    QCOMPARE(d.ImageCount(), 5);
    // The files went into the caller's list, which the dialog only shows.
    QCOMPARE(found.ImageCount(), size_t(5));
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QCOMPARE(box->Columns(), 4);
    const int pitch = box->RowPitch();
    QCOMPARE(d.PanelGeometry(5).topLeft(), d.PanelGeometry(1).topLeft() + QPoint(0, pitch));
    QCOMPARE(d.PanelBoxHeight(), 2 * pitch + 2);

    // The columns follow the dialog's width, the rows follow the columns.
    const int chrome = d.width() - box->width();
    for (int columns : {2, 3, 5}) {
      d.resize(chrome + box->WidthFor(columns) + 3, d.height());
      QTRY_COMPARE(box->Columns(), columns);
      QCOMPARE(d.PanelBoxHeight(), (5 + columns - 1) / columns * pitch + 2);
      QVERIFY(box->rect().contains(d.PanelGeometry(5)));
    }

    // The tick box is where the geometry says: a click there unticks only
    // thumbnail 5, a click on its picture area does nothing.
    QVERIFY(d.IsTicked(5));
    QTest::mouseClick(box, Qt::LeftButton, {}, d.CheckBoxGeometry(5).center());
    QVERIFY(!d.IsTicked(5));
    QVERIFY(d.IsTicked(4));
    QTest::mouseClick(box, Qt::LeftButton, {}, d.PanelGeometry(4).center() + QPoint(0, 30));
    QVERIFY(d.IsTicked(4));
    QTest::mouseClick(Button(&d, "ButtonSelectNone"), Qt::LeftButton);
    for (int n = 1; n <= 5; ++n) QVERIFY(!d.IsTicked(n));
    QTest::mouseClick(Button(&d, "ButtonSelectAll"), Qt::LeftButton);
    for (int n = 1; n <= 5; ++n) QVERIFY(d.IsTicked(n));
  }

  void PicturesAndCaptionOnlyThumbnails() {
    kt::TempDir temp;
    // A JPEG cut off inside its header: the decoder has nothing to show.
    // (The damaged photos of tests/data still decode in part with Qt's reader.)
    const fs::path damaged = temp / "cut.jpg";
    {
      std::vector<uint8_t> bytes = kt::ReadFileBytes(GoodPhoto());
      bytes.resize(2000);
      kt::WriteFileBytes(temp / "cut.src", bytes);
    }
    FoundFileList found(output_);
    TFrmPreview d(found);
    d.AddImage(Q(Found(temp, "raw.CRW", GoodPhoto())));
    d.AddImage(Q(Found(temp, "cut.JPG", temp / "cut.src")));
    d.AddImage(Q(Found(temp, "good.jpg", GoodPhoto())));
    d.AddImage(Q(Found(temp, "small.jpeg", SmallPhoto())));
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    kestrella::gui::ThumbnailBox* box = d.Box();
    QCOMPARE(box->Caption(1), QString("CRW File"));
    QVERIFY(!box->HasPicture(1));
    QTRY_COMPARE(box->Caption(2), QString("JPG File"));
    QVERIFY(!box->HasPicture(2));
    QTRY_VERIFY(box->HasPicture(3));
    QVERIFY(box->Caption(3).isEmpty());
    // Shrunk proportionally into the 115 x 115 box; a smaller picture is
    // shown at its own size.
    QCOMPARE(box->PictureSize(3), QSize(115, 86));
    QTRY_VERIFY(box->HasPicture(4));
    QCOMPARE(box->PictureSize(4), QSize(100, 66));
  }

  void PicturesTurnedByExifAndEnlargedOnDoubleClick() {
    kt::TempDir temp;
    WriteTurnedJpeg(temp / "turned.src", QSize(160, 80));
    FoundFileList found(output_);
    TFrmPreview d(found);
    d.AddImage(Q(Found(temp, "turned.jpg", temp / "turned.src")));
    d.AddImage(Q(Found(temp, "raw.CRW", GoodPhoto())));
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    kestrella::gui::ThumbnailBox* box = d.Box();
    // Stored wide, shown upright: shrunk into the box, half as wide as tall.
    QTRY_VERIFY(box->HasPicture(1));
    QCOMPARE(box->PictureSize(1).height(), 115);
    QVERIFY(box->PictureSize(1).width() < 60);

    // A double-click on the picture shows it as large as the screen allows,
    // upright too; Escape closes it, and so does a click.
    for (bool byKey : {true, false}) {
      QTest::mouseDClick(box, Qt::LeftButton, {}, box->PictureGeometry(1).center());
      QCOMPARE(Views(d).size(), 1);
      QPointer<PhotoView> view = Views(d).front();
      QCOMPARE(view->PictureSize(), QSize(80, 160));
      if (byKey) QTest::keyClick(view, Qt::Key_Escape);
      else QTest::mouseClick(view, Qt::LeftButton);
      QTRY_VERIFY(view.isNull());
    }
    // A file with no picture opens nothing; a double-click on a tick box
    // only ticks, like a second click.
    QTest::mouseDClick(box, Qt::LeftButton, {}, box->PictureGeometry(2).center());
    QTest::mouseDClick(box, Qt::LeftButton, {}, box->CheckBoxGeometry(1).center());
    QCOMPARE(Views(d).size(), 0);
    QVERIFY(!d.IsTicked(1));
  }

  void CaptionsFitTheirPanels() {
    kt::TempDir temp;
    FoundFileList found(output_);
    TFrmPreview d(found);
    const std::string longName = "Holiday at the seaside with the whole family 2024 (final).JPG";
    kt::WriteFileBytes(temp / "f1.CRW", std::vector<uint8_t>(2'400'000, 0));
    kestrella::FoundOrigin named;
    named.name = longName;
    named.modified = QDateTime(QDate(2024, 5, 12), QTime(14, 32)).toSecsSinceEpoch();
    found.AddImage((temp / "f1.CRW").string(), named);
    kt::WriteFileBytes(temp / "f2.jpg", std::vector<uint8_t>(999, 0));
    found.AddImage((temp / "f2.jpg").string());
    d.ShowAdded();
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    kestrella::gui::ThumbnailBox* box = d.Box();

    // The tick box's whole caption fits, as a QCheckBox would lay it out.
    QCheckBox tick("Recover Image");
    tick.setFont(box->font());
    QVERIFY(tick.sizeHint().width() <= d.CheckBoxGeometry(1).width());
    QVERIFY(tick.sizeHint().height() <= d.CheckBoxGeometry(1).height());

    // Name shortened in the middle, size, date; all within the panel.
    const QStringList lines = box->Lines(1);
    QVERIFY(lines[0].startsWith("Holiday") && lines[0].endsWith("JPG") && lines[0].contains(QChar(0x2026)));
    QCOMPARE(lines[1], QString("2.4 MB"));
    QCOMPARE(lines[2], QString("2024-05-12 14:32"));
    for (const QString& line : lines) {
      QVERIFY2(box->fontMetrics().horizontalAdvance(line) <= d.PanelGeometry(1).width() - 8, qPrintable(line));
    }
    // No date from the card, no date line.
    QCOMPARE(box->Lines(2), QStringList({"f2.jpg", "999 bytes", ""}));

    // The whole name in the tooltip.
    const QPoint at = box->PictureGeometry(1).center();
    QHelpEvent help(QEvent::ToolTip, at, box->mapToGlobal(at));
    QApplication::sendEvent(box, &help);
    QTRY_COMPARE(QToolTip::text(), QString::fromStdString(longName));
  }

  void KeyboardMovesAndTicks() {
    kt::TempDir temp;
    FoundFileList found(output_);
    TFrmPreview d(found);
    AddCopies(&d, temp, 6, ".CRW");
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    kestrella::gui::ThumbnailBox* box = d.Box();
    QCOMPARE(box->Columns(), 4);
    box->setFocus();
    QCOMPARE(box->Current(), 1);
    // key, then the thumbnail that is current
    const std::pair<Qt::Key, int> moves[] = {
        {Qt::Key_Right, 2}, {Qt::Key_Down, 6}, {Qt::Key_Down, 6}, {Qt::Key_Right, 6},
        {Qt::Key_Left, 5},  {Qt::Key_Up, 1},   {Qt::Key_Up, 1},   {Qt::Key_Left, 1},
        {Qt::Key_End, 6},   {Qt::Key_Home, 1},
    };
    for (const auto& [key, current] : moves) {
      QTest::keyClick(box, key);
      QCOMPARE(box->Current(), current);
    }
    QTest::keyClick(box, Qt::Key_Right);
    QTest::keyClick(box, Qt::Key_Space);
    QVERIFY(!d.IsTicked(2) && d.IsTicked(1) && d.IsTicked(3));
    QTest::keyClick(box, Qt::Key_Space);
    QVERIFY(d.IsTicked(2));
  }

  void PlacedBesideTheWindow_data() {
    QTest::addColumn<QRect>("window");
    QTest::addColumn<QRect>("expected");
    // A 1920 x 1080 screen, a 680 x 300 window, a dialog of 540 x 430 that
    // may be narrowed to 300 x 250, the window's Cancel at its bottom right.
    QTest::newRow("room on the right") << QRect(100, 100, 680, 300) << QRect(784, 100, 540, 430);
    QTest::newRow("room on the left only") << QRect(1200, 100, 680, 300) << QRect(656, 100, 540, 430);
    QTest::newRow("kept on the screen") << QRect(100, 900, 680, 150) << QRect(784, 650, 540, 430);
    QTest::newRow("narrowed on the right") << QRect(300, 100, 1300, 300) << QRect(1604, 100, 316, 430);
    QTest::newRow("narrowed on the left") << QRect(350, 100, 1500, 300) << QRect(0, 100, 346, 430);
    // No side holds even a narrowed dialog: below the window, clear of it.
    QTest::newRow("no room beside") << QRect(100, 100, 1800, 300) << QRect(1380, 650, 540, 430);
    // The window fills the screen: a corner, narrowed to stay left of Cancel,
    // covers the least of it.
    QTest::newRow("window fills the screen") << QRect(0, 0, 1920, 1080) << QRect(1380, 650, 435, 430);
  }

  void PlacedBesideTheWindow() {
    QFETCH(QRect, window);
    QFETCH(QRect, expected);
    const QRect screen(0, 0, 1920, 1080);
    const QRect cancel(window.right() - 100, window.bottom() - 40, 90, 30);
    const QRect place = kestrella::gui::PlaceBeside(window, QSize(540, 430), QSize(300, 250), screen, cancel);
    QCOMPARE(place, expected);
    QVERIFY(screen.contains(place) && !place.intersects(cancel));
  }

  void SaveLeavesGapsAndKeepsExtension() {
    kt::TempDir temp, dest;
    FoundFileList found(output_);
    TFrmPreview d(found);
    AddCopies(&d, temp, 4, ".JPG");
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QTest::mouseClick(d.Box(), Qt::LeftButton, {}, d.CheckBoxGeometry(3).center());
    const SaveReport r = d.SaveSelectedImages(Q(dest.path()), kestrella::SaveNaming::Numbered("image"));
    QCOMPARE(r.saved.size(), size_t(3));
    QVERIFY(r.problems.Problems().empty());
    QVERIFY(fs::exists(dest / "image1.JPG"));
    QVERIFY(fs::exists(dest / "image2.JPG"));
    QVERIFY(!fs::exists(dest / "image3.JPG"));
    QVERIFY(fs::exists(dest / "image4.JPG"));
    QCOMPARE(kt::Md5Of(dest / "image4.JPG"), kt::Md5Of(GoodPhoto()));
  }

  void SaveSkipsTakenNamesForTheRestOfTheSave() {
    kt::TempDir temp, dest;
    kt::WriteFileBytes(dest / "image2.JPG", {'o', 'l', 'd'});
    FoundFileList found(output_);
    TFrmPreview d(found);
    AddCopies(&d, temp, 4, ".JPG");
    d.SelectAll();
    const SaveReport r = d.SaveSelectedImages(Q(dest.path()), kestrella::SaveNaming::Numbered("image"));
    QCOMPARE(r.saved.size(), size_t(4));
    for (const char* name : {"image1.JPG", "image3.JPG", "image4.JPG", "image5.JPG"}) {
      QVERIFY2(fs::exists(dest / name), name);
    }
    QCOMPARE(kt::ReadFileBytes(dest / "image2.JPG").size(), size_t(3));
    QCOMPARE(FilesIn(dest.path()), size_t(5));
  }

  void SelectNoneThenOkSavesNothingAndDeletesTemporaries() {
    kt::TempDir temp, dest;
    FoundFileList found(output_);
    QPointer<TFrmPreview> d = new TFrmPreview(found);
    d->SetHooks(RunEnded(dest.path(), "image"));
    AddCopies(d, temp, 3, ".jpg");
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d));
    QTest::mouseClick(Button(d, "ButtonSelectNone"), Qt::LeftButton);
    QTest::mouseClick(Button(d, "ButtonOK"), Qt::LeftButton);
    QTRY_VERIFY(d.isNull());
    QCOMPARE(FilesIn(dest.path()), size_t(0));
    QCOMPARE(FilesIn(temp.path()), size_t(0));
  }

  void OkAfterTheRunSavesTickedAndCloses() {
    kt::TempDir temp, dest;
    FoundFileList found(output_);
    QPointer<TFrmPreview> d = new TFrmPreview(found);
    d->SetHooks(RunEnded(dest.path(), "pic"));
    AddCopies(d, temp, 2, ".jpg");
    d->BeginSaveStep();
    QCOMPARE(d->windowTitle(), QString("Save Images"));
    QCOMPARE(Button(d, "ButtonOK")->text(), QString("Save Images"));
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d));
    QVERIFY(Button(d, "ButtonCancel")->isVisible());
    QTest::mouseClick(Button(d, "ButtonOK"), Qt::LeftButton);
    QTRY_VERIFY(d.isNull());
    QVERIFY(fs::exists(dest / "pic1.jpg"));
    QVERIFY(fs::exists(dest / "pic2.jpg"));
    QCOMPARE(FilesIn(temp.path()), size_t(0));
  }

  // Cancel and Escape in the save step ask first, No by default: No keeps
  // the dialog and the files, only Yes discards them.
  void CancelInTheSaveStepDiscardsOnlyOnYes() {
    kt::TempDir temp, dest;
    FoundFileList found(output_);
    QPointer<TFrmPreview> d = new TFrmPreview(found);
    d->SetHooks(RunEnded(dest.path(), "image"));
    AddCopies(d, temp, 3, ".jpg");
    d->AddImage(Q(Found(temp, "f4.CRW", GoodPhoto())));
    d->BeginSaveStep();
    QSignalSpy finished(d.data(), &QDialog::finished);
    d->open();
    QVERIFY(QTest::qWaitForWindowExposed(d));
    QString asked;
    kt::AnswerMessageBox(QMessageBox::NoButton, &asked);  // Enter: the default
    QTest::mouseClick(Button(d, "ButtonCancel"), Qt::LeftButton);
    QCOMPARE(asked, QString("Discard the 4 found photos?"));
    QVERIFY(!d.isNull() && d->isVisible() && finished.isEmpty());
    QCOMPARE(FilesIn(temp.path()), size_t(4));

    kt::AnswerMessageBox(QMessageBox::Yes);
    QTest::keyClick(d, Qt::Key_Escape);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.front().front().toInt(), TFrmPreview::kResultDiscarded);
    QTRY_VERIFY(d.isNull());
    QCOMPARE(FilesIn(temp.path()) + FilesIn(dest.path()), size_t(0));
  }

  // OK or Escape during a run hides the dialog and nothing more: nothing is
  // saved or deleted, so the save step can show it again.
  void OkDuringARunOnlyHides() {
    kt::TempDir temp, dest;
    FoundFileList found(output_);
    auto* d = new TFrmPreview(found);
    QPointer<TFrmPreview> guard = d;
    d->SetHooks({[] { return true; }, [&] { return Q(dest.path()); },
                 [] { return kestrella::SaveNaming::Numbered("image"); }, {}, {}, {}});
    const fs::path f = Found(temp, "f1.jpg", GoodPhoto());
    d->AddImage(Q(f));
    for (const bool escape : {false, true}) {
      d->show();
      QVERIFY(QTest::qWaitForWindowExposed(d));
      if (escape) QTest::keyClick(d, Qt::Key_Escape);
      else QTest::mouseClick(Button(d, "ButtonOK"), Qt::LeftButton);
      QTest::qWait(20);
      QVERIFY(!guard.isNull());
      QVERIFY(!d->isVisible());
    }
    QCOMPARE(FilesIn(dest.path()), size_t(0));
    QVERIFY(fs::exists(f));
    delete d;
    QVERIFY(!fs::exists(f));
  }

  // A save that fails offers another folder; what is saved there is what the
  // first save could not. A folder the window's check refuses (the card
  // being recovered) takes nothing: the rest stays in the temporary folder.
  void FailedSaveOffersAnotherFolderAndSavesThere_data() {
    QTest::addColumn<bool>("accepted");
    QTest::newRow("accepted") << true;
    QTest::newRow("refused") << false;
  }

  void FailedSaveOffersAnotherFolderAndSavesThere() {
    QFETCH(bool, accepted);
    kt::TempDir temp, dest, other;
    kt::FaultyOutputFiles files;
    files.LimitBytes(dest.path().string(), fs::file_size(GoodPhoto()) + 10);
    files.FailRename(dest.path().string(), EXDEV);  // the found files are copied
    FoundFileList found(files);
    QPointer<TFrmPreview> d = new TFrmPreview(found);
    TFrmPreview::Hooks hooks = RunEnded(dest.path(), "image");
    hooks.acceptFolder = [&](const QString& folder) { return accepted && folder == Q(other.path()); };
    d->SetHooks(hooks);
    AddCopies(d, temp, 3, ".jpg");
    QString asked;
    kt::AnswerMessageBox(QMessageBox::Yes, &asked);
    kt::WhenFolderDialogShown([&](kestrella::gui::TFrmSelectFolderDialog& dlg) {
      dlg.selectFolder(Q(other.path()));
      dlg.findChild<QPushButton*>("OKBtn")->click();
    });
    QTest::mouseClick(Button(d, "ButtonOK"), Qt::LeftButton);
    QTRY_VERIFY(d.isNull());
    QCOMPARE(asked, QString("2 files could not be saved to %1: No space left on device. "
                            "Choose another folder?").arg(Q(dest.path())));
    QVERIFY(fs::exists(dest / "image1.jpg") && FilesIn(dest.path()) == 1);
    if (!accepted) {
      QCOMPARE(FilesIn(other.path()), size_t(0));
      return;
    }
    // Numbered by their place in the list, as in the first folder.
    QVERIFY(fs::exists(other / "image2.jpg") && fs::exists(other / "image3.jpg"));
    QCOMPARE(FilesIn(temp.path()), size_t(0));
  }

  void FailedSaveKeepsTheTemporaryFileAndSaysSo() {
    kt::TempDir temp;
    std::vector<std::string> told;
    const fs::path f = Found(temp, "f1.jpg", GoodPhoto());
    // The list outlives the dialog: what is checked below is the dialog's
    // own clean-up.
    FoundFileList found(output_);
    {
      TFrmPreview d(found);
      d.SetHooks({{}, {}, {}, {}, [&](const SaveReport& r) {
                    for (const auto& x : r.problems.Problems()) told.push_back(x.file);
                  }, {}});
      d.AddImage(Q(f));
      // A destination folder that does not exist: the copy fails.
      const SaveReport r = d.SaveSelectedImages(Q(temp / "missing" / "folder"), kestrella::SaveNaming::Numbered("image"));
      QCOMPARE(r.problems.Problems().size(), size_t(1));
    }
    QCOMPARE(told, std::vector<std::string>{f.string()});
    QVERIFY(fs::exists(f));
  }

  void TenThousandFilesScrollWithBoundedDecoding() {
    kt::TempDir temp;
    const fs::path original = Found(temp, "original.src", GoodPhoto());
    constexpr int kCount = 10000;
    FoundFileList found(output_);
    {
      TFrmPreview d(found);
      d.show();
      QVERIFY(QTest::qWaitForWindowExposed(&d));
      for (int i = 1; i <= kCount; ++i) {
        const fs::path p = temp / kt::Numbered("f", i, ".jpg");
        fs::create_hard_link(original, p);
        d.AddImage(Q(p));
        if (i % 1000 == 0) QCoreApplication::processEvents();
      }
      QCOMPARE(d.ImageCount(), kCount);
      kestrella::gui::ThumbnailBox* box = d.Box();
      const int columns = box->Columns();
      QCOMPARE(d.PanelBoxHeight(), (kCount + columns - 1) / columns * box->RowPitch() + 2);
      QTRY_VERIFY(box->HasPicture(1));

      QScrollBar* bar = d.ScrollBox()->verticalScrollBar();
      for (int step = 0; step < 20; ++step) {
        bar->setValue(bar->maximum() * step / 20);
        QCoreApplication::processEvents();
      }
      bar->setValue(bar->maximum());
      QTRY_VERIFY(box->HasPicture(kCount));
      QVERIFY(box->HasPicture(kCount - 4));
      qInfo() << "decodes started:" << box->DecodesStarted();
      // About three rows are in view at a time; every stop of the scroll may
      // start a screenful, nothing like the ten thousand files.
      QVERIFY2(box->DecodesStarted() <= 22 * 16, qPrintable(QString::number(box->DecodesStarted())));
      QVERIFY(box->DecodesStarted() >= 2);
      // Halfway between two stops of the scroll: never in view, never decoded.
      const int between = (bar->maximum() * 21 / 40) / box->RowPitch() * columns + 1;
      QVERIFY(!box->HasPicture(between));
    }
    // Only the hard-linked source is left after the dialog went.
    QCOMPARE(FilesIn(temp.path()), size_t(1));
  }
};

QTEST_MAIN(FPreviewTest)
#include "fpreview_test.moc"
