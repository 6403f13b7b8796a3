// Driving the program's folder dialog from a test, as a user would answer it.
#pragma once

#include <QApplication>
#include <QTimer>

#include <functional>

#include "gui/fselectfolderdialog.h"

namespace kestrella::test {

// Runs `act` on the folder dialog once it is up as the modal window.
inline void WhenFolderDialogShown(const std::function<void(gui::TFrmSelectFolderDialog&)>& act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    auto* dlg = qobject_cast<gui::TFrmSelectFolderDialog*>(QApplication::activeModalWidget());
    if (dlg == nullptr || !dlg->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    act(*dlg);
  });
  poll->start();
}

}  // namespace kestrella::test
