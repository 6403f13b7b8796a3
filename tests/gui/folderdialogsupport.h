// Answering the program's modal dialogs from a test, as a user would: the
// folder dialog and the message boxes that ask a question.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

#include "gui/fselectfolderdialog.h"

namespace kestrella::test {

// The window's control of that object name; a missing one ends the test.
template <typename T>
T* Child(const QObject& parent, const char* name) {
  T* c = parent.findChild<T*>(QString::fromLatin1(name));
  if (c == nullptr) qFatal("no control %s", name);
  return c;
}

// Runs `act` on the next dialog of type T once it is up as the modal window.
template <typename T>
void WhenModalShown(const std::function<void(T&)>& act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    auto* dlg = qobject_cast<T*>(QApplication::activeModalWidget());
    if (dlg == nullptr || !dlg->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    act(*dlg);
  });
  poll->start();
}

inline void WhenFolderDialogShown(const std::function<void(gui::TFrmSelectFolderDialog&)>& act) {
  WhenModalShown<gui::TFrmSelectFolderDialog>(act);
}

// Answers the next message box with `button` (NoButton: its default button,
// as Enter would), after noting its text in `text` if given.
inline void AnswerMessageBox(QMessageBox::StandardButton button, QString* text = nullptr) {
  WhenModalShown<QMessageBox>([button, text](QMessageBox& box) {
    if (text != nullptr) *text = box.text();
    (button == QMessageBox::NoButton ? box.defaultButton() : box.button(button))->click();
  });
}

}  // namespace kestrella::test
