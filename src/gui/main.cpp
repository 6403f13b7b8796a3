// The desktop program: the main window over the engine. Image files named on
// the command line are offered as drives beside the system's block devices.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "diskio/drivetable.h"
#include "gui/fmain.h"
#include "gui/guiui.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestrella"));
  QApplication::setApplicationDisplayName(QStringLiteral("Kestrella"));
  kestrella::gui::GuiUserInterface ui;
  kestrella::SetUserInterface(&ui);
  int rc = 1;
  try {
    kestrella::Drives().ScanSystem();
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
      if (kestrella::Drives().AddImage(args[i].toStdString()) == 0) {
        QMessageBox::warning(nullptr, QStringLiteral("Kestrella"),
                             QStringLiteral("The image could not be added:\n%1").arg(args[i]));
      }
    }
    kestrella::gui::TFrmMain window;
    window.show();
    rc = QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("Kestrella"), QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, QStringLiteral("Kestrella"),
                          QStringLiteral("An unexpected error ended the program."));
  }
  kestrella::SetUserInterface(nullptr);
  return rc;
}
