#include "gui/startfolders.h"

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include "app/destinationcheck.h"
#include "app/runfolder.h"
#include "util/userinterface.h"

namespace kestrella::gui {

namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }

// A question with Yes and No; `yesFirst` makes Yes the default button.
bool Ask(QWidget* window, const std::string& text, bool yesFirst) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Kestrella"), Text(text),
                  QMessageBox::Yes | QMessageBox::No, window);
  box.setDefaultButton(yesFirst ? QMessageBox::Yes : QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void Refuse(Engine& engine, const std::string& text) {
  engine.UI().MessageBox(text, "Warning", MsgIcon::Warning, MsgButtons::Ok);
}

}  // namespace

bool ReadyFolders(Engine& engine, QWidget* window, const QString& destText, const DriveEntry& drive) {
  const std::filesystem::path dest = destText.toStdString();
  const DestinationState state = InspectDestination(dest, drive, engine.Context().files());
  const std::string refusal = DestinationRefusal(state, dest, drive);
  if (!refusal.empty()) {
    Refuse(engine, refusal);
    return false;
  }
  // Making a folder is harmless: Yes is the default.
  if (!state.exists && !Ask(window, CreateFolderQuestion(dest), true)) return false;
  try {
    PrepareFolders(dest, RunLocation(dest, engine.TempFolder()), drive);
  } catch (const UserError& e) {
    Refuse(engine, e.what());
    return false;
  }
  return !state.LowRoom() || Ask(window, LowRoomQuestion(state), false);
}

void OfferLeftovers(Engine& engine, QWidget* window, const QString& dest, const SaveNaming& naming,
                    std::set<std::string>& declined) {
  for (const LeftoverRun& run : FindLeftoverRuns(RunLocation(dest.toStdString(), engine.TempFolder()))) {
    if (declined.count(run.folder.string()) != 0) continue;
    QMessageBox box(QMessageBox::Question, QStringLiteral("Kestrella"), Text(LeftoverQuestion(run)),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Discard, window);
    // Nothing is deleted, nor saved, without a deliberate answer.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    const int answer = box.exec();
    if (answer == QMessageBox::Discard) {
      if (Ask(window, DiscardLeftoverQuestion(run), false)) DiscardLeftoverRun(run.folder);
      else declined.insert(run.folder.string());
      continue;
    }
    if (answer != QMessageBox::Yes) {
      declined.insert(run.folder.string());
      continue;
    }
    FoundFileList found(engine.Context().files());
    if (!LoadLeftoverRun(run.folder, found)) continue;  // taken by a run meanwhile
    const SaveReport report = found.SaveSelectedImages(dest.toStdString(), naming);
    found.DeleteImageFiles();
    const size_t failed = report.problems.Problems().size();
    if (failed > 0) {
      declined.insert(run.folder.string());
      QString text = QStringLiteral("%1 found file(s) could not be saved into %2; they stay in %3:\n")
                         .arg(failed)
                         .arg(dest, Text(run.folder.string()));
      for (const FileProblem& p : report.problems.Problems())
        text += QStringLiteral("\n") + Text(Report::Describe(p));
      QMessageBox::warning(window, QStringLiteral("Kestrella"), text);
    }
  }
}

}  // namespace kestrella::gui
