// The preview dialog on the offscreen platform: thumbnail geometry, pictures
// and caption-only thumbnails, saving through the found-file list, the OK and
// Cancel paths (Cancel discards only when the user says Yes), a failed save
// that goes on into another folder, and a run with ten thousand found files.
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>

#include "folderdialogsupport.h"
#include "gui/fpreview.h"
#include "gui/thumbnailbox.h"
#include "support/fakes.h"
#include "support/testsupport.h"

using kestrella::FoundFileList;
using kestrella::SaveReport;
using kestrella::gui::TFrmPreview;
namespace fs = std::filesystem;
namespace kt = kestrella::test;

namespace {

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

fs::path CorpusPhoto(const std::string& name) {
  for (const fs::path& p : kt::CorpusPhotos()) {
    if (p.filename() == name) return p;
  }
  return {};
}

// 640 x 480.
fs::path GoodPhoto() { return CorpusPhoto("exif-org_canon-ixus.jpg"); }
// 100 x 66: smaller than the picture box.
fs::path SmallPhoto() { return CorpusPhoto("Nikon_D70.jpg"); }

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
    d->AddImage(Q(Found(temp, "f" + std::to_string(i) + ext, GoodPhoto())));
  }
}

// The main window after its run ended.
TFrmPreview::Hooks RunEnded(const fs::path& dest, const QString& prefix) {
  return {[] { return false; }, [dest] { return Q(dest); },
          [prefix] { return kestrella::SaveNaming::Numbered(prefix.toStdString()); }, {}, {}};
}

QPushButton* Button(TFrmPreview* d, const char* name) {
  return d->findChild<QPushButton*>(name);
}

}  // namespace

class FPreviewTest : public QObject {
  Q_OBJECT

  // The save step writes through the system's files, as in the program.
  kestrella::OutputFiles output_;

 private slots:
  void init() {
    if (GoodPhoto().empty() || SmallPhoto().empty()) QSKIP("corpus photos not available");
  }

  void LayoutAndSecondRow() {
    kt::TempDir temp;
    FoundFileList found(output_);
    TFrmPreview d(found);
    QCOMPARE(d.windowTitle(), QString("Preview"));
    QCOMPARE(d.size(), QSize(537, 408));
    for (const char* name : {"ButtonSelectAll", "ButtonSelectNone", "ButtonOK", "ButtonCancel"}) {
      QVERIFY2(Button(&d, name), name);
    }
    QVERIFY(d.findChild<QScrollArea*>("scrollbox_preview"));
    QWidget* box = d.findChild<QWidget*>("PanelBox");
    QVERIFY(box);
    QCOMPARE(box->width(), 525);
    QVERIFY(Button(&d, "ButtonOK")->isDefault());
    QVERIFY(Button(&d, "ButtonCancel")->isHidden());

    AddCopies(&d, temp, 5, ".CRW");
    QCOMPARE(d.ImageCount(), 5);
    // The files went into the caller's list, which the dialog only shows.
    QCOMPARE(found.ImageCount(), size_t(5));
    QCOMPARE(d.PanelGeometry(4), QRect(3 * 127 + 2, 2, 125, 161));
    QCOMPARE(d.PanelGeometry(5), QRect(2, 165, 125, 161));
    QCOMPARE(d.PanelBoxHeight(), 328);
    QCOMPARE(box->height(), 328);

    // The tick box is where the geometry says: a click there unticks only
    // thumbnail 5, a click on its picture area does nothing.
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
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
    // (The corpus's damaged photos still decode in part with Qt's reader.)
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
                 [] { return kestrella::SaveNaming::Numbered("image"); }, {}, {}});
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
  // first save could not.
  void FailedSaveOffersAnotherFolderAndSavesThere() {
    kt::TempDir temp, dest, other;
    kt::FaultyOutputFiles files;
    files.LimitBytes(dest.path().string(), fs::file_size(GoodPhoto()) + 10);
    FoundFileList found(files);
    QPointer<TFrmPreview> d = new TFrmPreview(found);
    d->SetHooks(RunEnded(dest.path(), "image"));
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
                  }});
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
        const fs::path p = temp / ("f" + std::to_string(i) + ".jpg");
        fs::create_hard_link(original, p);
        d.AddImage(Q(p));
        if (i % 1000 == 0) QCoreApplication::processEvents();
      }
      QCOMPARE(d.ImageCount(), kCount);
      QCOMPARE(d.PanelBoxHeight(), (kCount - 1) / 4 * 163 + 165);
      kestrella::gui::ThumbnailBox* box = d.Box();
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
      const int between = (bar->maximum() * 21 / 40) / 147 * 4 + 1;
      QVERIFY(!box->HasPicture(between));
    }
    // Only the hard-linked source is left after the dialog went.
    QCOMPARE(FilesIn(temp.path()), size_t(1));
  }
};

QTEST_MAIN(FPreviewTest)
#include "fpreview_test.moc"
