// The desktop application's side of the engine's user interface: message
// boxes as Qt dialogs (No the default of a Yes/No question), pending events
// run at most every 20 ms (the engine asks once per sector), the monotonic
// clock and the temporary folder.
#pragma once

#include <QElapsedTimer>

#include "util/userinterface.h"

namespace kestrella::gui {

class GuiUserInterface : public SilentUserInterface {
 public:
  GuiUserInterface();
  MsgResult MessageBox(std::string_view text, std::string_view caption, MsgIcon icon,
                       MsgButtons buttons) override;
  void ProcessMessages() override;

 private:
  QElapsedTimer sinceEvents_;
};

}  // namespace kestrella::gui
