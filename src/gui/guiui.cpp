#include "gui/guiui.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace kestrella::gui {

namespace {
constexpr qint64 kEventIntervalMs = 20;
}

GuiUserInterface::GuiUserInterface() { sinceEvents_.start(); }

MsgResult GuiUserInterface::MessageBox(std::string_view text, std::string_view caption,
                                       MsgIcon icon, MsgButtons buttons) {
  QString body = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  body.replace("\r\n", "\n").replace('\r', '\n');
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
  box.setText(body);
  switch (icon) {
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
  }
  switch (buttons) {
    case MsgButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      box.exec();
      return MsgResult::Ok;
    case MsgButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      // The engine asks Yes or No only before what cannot be undone (a wipe,
      // a format): Enter, pressed out of habit, must decline.
      box.setDefaultButton(QMessageBox::No);
      return box.exec() == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
    case MsgButtons::YesNoAll: {
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll);
      box.button(QMessageBox::YesToAll)->setText("All");
      const int r = box.exec();
      return r == QMessageBox::Yes ? MsgResult::Yes
             : r == QMessageBox::YesToAll ? MsgResult::All
                                          : MsgResult::No;
    }
    case MsgButtons::AbortRetryIgnore: {
      box.setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
      const int r = box.exec();
      return r == QMessageBox::Retry    ? MsgResult::Retry
             : r == QMessageBox::Ignore ? MsgResult::Ignore
                                        : MsgResult::Abort;
    }
  }
  return MsgResult::Cancel;
}

void GuiUserInterface::ProcessMessages() {
  // Called per sector: letting events run every time would cost more than
  // the scan itself; every 20 ms keeps the window live and Cancel prompt.
  if (sinceEvents_.elapsed() < kEventIntervalMs) return;
  sinceEvents_.restart();
  QApplication::processEvents();
}

}  // namespace kestrella::gui
