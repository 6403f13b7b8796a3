// The command line's user interface: messages on stderr, questions asked on
// the terminal (or answered with their safe default when nobody is there),
// and the progress line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/userinterface.h"

namespace kestrella::cli {

// A name from a card as it may reach a terminal: control characters (C0,
// DEL and C1: an escape sequence could rewrite the screen), the bidirectional
// controls that can make a name read as another, and bytes that are no UTF-8
// are each shown as "?".
std::string Printable(std::string_view text);

class TerminalUi : public SilentUserInterface {
 public:
  TerminalUi() = default;
  ~TerminalUi() override;
  TerminalUi(const TerminalUi&) = delete;
  TerminalUi& operator=(const TerminalUi&) = delete;

  MsgResult MessageBox(std::string_view text, std::string_view caption, MsgIcon icon,
                       MsgButtons buttons) override;
  // polkit asks through an agent; outside a desktop session nobody runs one
  // for this program. pkttyagent, started as our child, asks on the terminal
  // (as systemctl does), unless the session's agent answers first.
  void BeforeAskingPermission() override;

 protected:
  // Whether the user asked to stop while a question waits for its answer.
  virtual bool StopAsked() const { return false; }

 private:
  int agent_ = -1;  // pkttyagent's process id
  bool agentTried_ = false;
};

// Draws a progress bar on stderr when it is a terminal, plain lines at every
// tenth otherwise, nothing when quiet.
class ProgressLine {
 public:
  explicit ProgressLine(bool quiet);
  ~ProgressLine() { Finish(); }
  void Update(uint64_t done, uint64_t total, const std::string& detail);
  void Finish();

 private:
  bool quiet_;
  bool tty_;
  int lastTenth_ = -1;
  bool drawn_ = false;
};

}  // namespace kestrella::cli
