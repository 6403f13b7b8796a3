// The summary a recovery run ends with: its lines (see SummaryLines), an
// "Open folder" button that shows where the files went in the desktop's file
// manager, and Close. It stays open beside the window until closed, and
// frees itself then.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include "app/runsummary.h"

class QPlainTextEdit;
class QPushButton;

namespace kestrella::gui {

class RunSummaryDialog : public QDialog {
  Q_OBJECT

 public:
  // `destination` is the folder "Open folder" opens.
  RunSummaryDialog(const RunSummary& summary, const QString& destination, QWidget* parent = nullptr);

  QStringList Lines() const { return lines_; }
  QString Destination() const { return destination_; }

 private:
  void OpenFolder();

  QStringList lines_;
  QString destination_;
};

}  // namespace kestrella::gui
