// The command line's user interface: messages on stderr, questions asked on
// the terminal (or answered with their safe default when nobody is there),
// and the progress line.
#pragma once

#include <cstdint>
#include <string>

#include "util/userinterface.h"

namespace kestrella::cli {

class TerminalUi : public SilentUserInterface {
 public:
  MsgResult MessageBox(std::string_view text, std::string_view caption, MsgIcon icon,
                       MsgButtons buttons) override;
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
