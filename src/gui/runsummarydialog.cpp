#include "gui/runsummarydialog.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace kestrella::gui {

RunSummaryDialog::RunSummaryDialog(const RunSummary& summary, const QString& destination, QWidget* parent)
    : QDialog(parent), destination_(destination) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(QStringLiteral("RunSummary"));
  setWindowTitle(tr("Recovery finished"));
  for (const std::string& line : SummaryLines(summary)) lines_ << QString::fromStdString(line);

  auto* layout = new QVBoxLayout(this);
  // Read-only text rather than a label: a long list of failures scrolls,
  // and paths can be selected and copied.
  auto* text = new QPlainTextEdit(lines_.join(QLatin1Char('\n')), this);
  text->setObjectName(QStringLiteral("SummaryText"));
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  text->setMinimumSize(460, 180);
  layout->addWidget(text);

  auto* buttons = new QDialogButtonBox(this);
  auto* open = buttons->addButton(tr("Open folder"), QDialogButtonBox::ActionRole);
  open->setObjectName(QStringLiteral("ButtonOpenFolder"));
  open->setAutoDefault(false);
  open->setEnabled(QFileInfo(destination_).isDir());
  auto* close = buttons->addButton(QDialogButtonBox::Close);
  close->setObjectName(QStringLiteral("ButtonClose"));
  close->setDefault(true);
  close->setFocus();
  layout->addWidget(buttons);
  connect(open, &QPushButton::clicked, this, &RunSummaryDialog::OpenFolder);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void RunSummaryDialog::OpenFolder() {
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(destination_))) {
    QMessageBox::warning(this, windowTitle(), tr("The folder %1 could not be opened.").arg(destination_));
  }
}

}  // namespace kestrella::gui
