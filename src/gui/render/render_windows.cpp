// Renders every window and dialog of the desktop application to PNG files,
// offscreen, for the README and for reviewing the layout without a display.
//   kestrella-render OUTDIR [CARD_IMAGE] [PHOTO...]
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <cstdio>

#include "app/ffatscan.h"
#include "app/engine.h"
#include "gui/fanalyzedrive.h"
#include "gui/fformat.h"
#include "gui/fmain.h"
#include "gui/fpreview.h"
#include "gui/fselectfolderdialog.h"
#include "gui/guiui.h"
#include "gui/runsummarydialog.h"

namespace {

bool Save(QWidget& w, const QDir& out, const QString& name) {
  w.adjustSize();
  w.show();
  QApplication::processEvents();
  const bool ok = w.grab().save(out.filePath(name + ".png"));
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(out.filePath(name + ".png")));
  return ok;
}

void Click(QWidget& w, const char* name) {
  if (auto* b = w.findChild<QAbstractButton*>(name)) b->click();
  QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Kestrella");
  const QStringList args = QApplication::arguments();
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: kestrella-render OUTDIR [CARD_IMAGE] [PHOTO...]\n");
    return 2;
  }
  QDir out(args[1]);
  out.mkpath(".");
  kestrella::gui::GuiUserInterface ui;
  kestrella::Engine engine(ui);
  bool ok = true;

  kestrella::gui::TFrmMain window(engine);
  if (args.size() >= 3) window.OpenImage(args[2]);
  ok &= Save(window, out, "main-recovery");
  Click(window, "ButtonUtil");
  ok &= Save(window, out, "main-tools");
  Click(window, "ButtonOptions");
  ok &= Save(window, out, "main-settings");
  Click(window, "ButtonMain");

  kestrella::TFrmFATScan driver(engine.Context());
  const uint8_t drive = args.size() >= 3 ? engine.AddImage(args[2].toStdString()) : 0;
  if (const kestrella::DriveEntry* entry = engine.FindDrive(drive)) {
    kestrella::gui::TFrmFormat format(engine, *entry);
    ok &= Save(format, out, "format");
    format.hide();
  }
  {
    kestrella::gui::TFrmAnalyzeDrive analyze(driver, drive);
    ok &= Save(analyze, out, "analyze-analyzing");
    auto* pages = analyze.findChild<QStackedWidget*>("PCDriveMethod");
    for (int i = 1; pages != nullptr && i < pages->count(); ++i) {
      pages->setCurrentIndex(i);
      ok &= Save(analyze, out, QString("analyze-page%1").arg(i + 1));
    }
    analyze.hide();
  }

  // The preview deletes the files it is given, so it gets copies.
  QTemporaryDir temp;
  kestrella::FoundFileList found(engine.Context().files());
  auto* preview = new kestrella::gui::TFrmPreview(found);
  for (int i = 3; i < args.size(); ++i) {
    const QString copy = temp.filePath(QString("image%1.%2").arg(i - 2).arg(QFileInfo(args[i]).suffix()));
    QFile::copy(args[i], copy);
    preview->AddImage(copy);
  }
  preview->show();
  // Thumbnails are decoded in the background: give them a moment.
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < 1500) QApplication::processEvents(QEventLoop::AllEvents, 50);
  ok &= Save(*preview, out, "preview");
  preview->close();

  kestrella::gui::TFrmSelectFolderDialog folders;
  ok &= Save(folders, out, "select-folder");

  // A run's end as a card with one photo that could not be saved shows it.
  kestrella::RunSummary summary;
  summary.found = 12;
  summary.saved = {{QDir::home().filePath("Recovered").toStdString(), 11}};
  summary.damaged = 1;
  summary.failed = {{kestrella::FileProblem::Kind::NotCopied, "/var/tmp/kestrella/image7.JPG",
                     "No space left on device", QDir::home().filePath("Recovered/image7.JPG").toStdString()}};
  summary.tempFolder = "/var/tmp/kestrella";
  summary.keptInTemp = true;
  summary.moreOnCard = true;
  kestrella::gui::RunSummaryDialog summaryDialog(summary, QDir::home().filePath("Recovered"));
  summaryDialog.setAttribute(Qt::WA_DeleteOnClose, false);
  ok &= Save(summaryDialog, out, "run-summary");
  return ok ? 0 : 1;
}
