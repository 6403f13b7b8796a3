// The desktop program: the main window over the engine. Image files named on
// the command line are offered as drives beside the system's block devices,
// as "Open image..." would; the last one named is selected.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/engine.h"
#include "gui/fmain.h"
#include "gui/guiui.h"

namespace {

const char* const kUsage =
    "usage: kestrella [IMAGE...]\n"
    "\n"
    "Brings back photos, videos and sound files from FAT memory cards and card\n"
    "images. Each IMAGE (a card image file) is listed as a drive beside the\n"
    "system's card readers and disks; the last one is selected.\n"
    "\n"
    "options:\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Qt's own options (-platform, -style, ...) work as in any Qt program.\n";

}  // namespace

int main(int argc, char* argv[]) {
  // Answered before Qt starts, so that they work without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("kestrella %s\n", KESTRELLA_VERSION);
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestrella"));
  QApplication::setApplicationDisplayName(QStringLiteral("Kestrella"));
  // The installed desktop entry's name: the desktop shows its icon for the
  // window (on Wayland it has no other way to pair them).
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.kestrella.Kestrella"));
  // Qt has taken its own options out; what is left are image paths.
  QStringList images = QApplication::arguments().mid(1);
  for (const QString& a : images) {
    if (a.startsWith(QLatin1Char('-'))) {
      std::fprintf(stderr, "kestrella: unknown option %s\n%s", qPrintable(a), kUsage);
      return 2;
    }
  }
  kestrella::gui::GuiUserInterface ui;
  kestrella::Engine engine(ui);
  int rc = 1;
  try {
    engine.ScanDrives();
    kestrella::gui::TFrmMain window(engine);
    window.show();
    for (const QString& image : images) {
      if (!window.OpenImage(image)) {
        QMessageBox::warning(&window, QStringLiteral("Kestrella"),
                             QStringLiteral("The image could not be added:\n%1").arg(image));
      }
    }
    rc = QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("Kestrella"), QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, QStringLiteral("Kestrella"),
                          QStringLiteral("An unexpected error ended the program."));
  }
  return rc;
}
