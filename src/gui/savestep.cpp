#include "gui/savestep.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>

#include <algorithm>

#include "gui/fselectfolderdialog.h"
#include "util/sizetext.h"

namespace kestrella::gui {

namespace {

// The gauge counts kibibytes: a card's worth of bytes does not fit an int.
int Kib(uint64_t bytes) { return static_cast<int>(std::min<uint64_t>(bytes / 1024, INT32_MAX)); }

}  // namespace

SaveReport SaveWithProgress(QWidget* parent, FoundFileList& files, const QString& dest,
                            const SaveNaming& naming) {
  QProgressDialog progress(QObject::tr("Saving the found files to %1").arg(dest), QObject::tr("Cancel"),
                           0, 1, parent);
  progress.setObjectName(QStringLiteral("SaveProgress"));
  progress.setWindowTitle(QObject::tr("Save Images"));
  // Modal from the start: the window lets events run during the copy, and
  // neither Start nor the preview's buttons may be pressed meanwhile.
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  progress.setMinimumDuration(0);
  progress.show();
  return files.SaveSelectedImages(dest.toStdString(), naming, [&](const SaveProgress& p) {
    if (p.flushing) {
      // Every file is in place; the drive still has to take them. Pulling
      // a USB stick now would lose them, so the window says so until the
      // flush is over. It cannot be stopped.
      progress.setCancelButton(nullptr);
      progress.setRange(0, 0);
      progress.setLabelText(QObject::tr("Writing the saved files to the drive of %1 (%2 to go). "
                                        "Do not remove the drive yet.")
                                .arg(dest, QString::fromStdString(FormatByteSize(p.unwritten))));
      QApplication::processEvents();
      return true;
    }
    progress.setMaximum(std::max(1, Kib(p.bytesTotal)));
    progress.setValue(Kib(p.bytesDone));
    progress.setLabelText(QObject::tr("Saving file %1 of %2 to %3")
                              .arg(std::min(p.filesDone + 1, p.filesTotal))
                              .arg(p.filesTotal)
                              .arg(dest));
    QApplication::processEvents();
    return !progress.wasCanceled();
  });
}

std::vector<SaveAttempt> SaveUntilDone(QWidget* parent, FoundFileList& files, const QString& dest,
                                       const SaveNaming& naming,
                                       const std::function<void(const SaveReport&)>& reportFailures,
                                       const std::function<bool(const QString&)>& acceptFolder) {
  std::vector<SaveAttempt> attempts;
  QString folder = dest;
  for (;;) {
    attempts.push_back({folder.toStdString(), SaveWithProgress(parent, files, folder, naming)});
    const SaveReport& report = attempts.back().report;
    const std::vector<FileProblem>& failed = report.problems.Problems();
    // Stopped by the user, or nothing failed: the rest stays where it is.
    if (failed.empty() || !report.notTried.empty()) break;
    if (reportFailures) {
      reportFailures(report);
      break;
    }
    const QString question = QObject::tr("%1 files could not be saved to %2: %3. Choose another folder?")
                                 .arg(failed.size())
                                 .arg(folder, QString::fromStdString(failed.front().reason));
    if (QMessageBox::question(parent, QObject::tr("Save Images"), question,
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) != QMessageBox::Yes)
      break;
    TFrmSelectFolderDialog dlg(parent);
    dlg.selectFolder(NearestExistingFolder(folder));
    if (dlg.exec() != TFrmSelectFolderDialog::kResultOk || dlg.selectedFolder().isEmpty()) break;
    // The folder picked now passes the same check as the destination did
    // before the run: never onto the card the photos came from.
    if (acceptFolder && !acceptFolder(dlg.selectedFolder())) break;
    folder = dlg.selectedFolder();
  }
  return attempts;
}

}  // namespace kestrella::gui
