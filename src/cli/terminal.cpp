#include "cli/terminal.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace kestrella::cli {

MsgResult TerminalUi::MessageBox(std::string_view text, std::string_view caption, MsgIcon icon,
                                 MsgButtons buttons) {
  std::string flat;
  for (char c : text) {
    if (c != '\r') flat += c;
  }
  std::fprintf(stderr, "%s: %s\n", std::string(caption).c_str(), flat.c_str());
  if (buttons == MsgButtons::Ok || !isatty(STDIN_FILENO)) {
    return SilentUserInterface::MessageBox(text, caption, icon, buttons);
  }
  const char* prompt = buttons == MsgButtons::AbortRetryIgnore ? "[a]bort, [r]etry, [i]gnore? "
                       : buttons == MsgButtons::YesNoAll      ? "[y]es, [n]o, [a]ll? "
                                                              : "[y]es, [n]o? ";
  for (;;) {
    std::fprintf(stderr, "%s", prompt);
    std::string line;
    if (!std::getline(std::cin, line)) return SilentUserInterface::MessageBox(text, caption, icon, buttons);
    const char c = line.empty() ? '\0' : static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
    if (buttons == MsgButtons::AbortRetryIgnore) {
      if (c == 'a') return MsgResult::Abort;
      if (c == 'r') return MsgResult::Retry;
      if (c == 'i') return MsgResult::Ignore;
    } else {
      if (c == 'y') return MsgResult::Yes;
      if (c == 'n') return MsgResult::No;
      if (c == 'a' && buttons == MsgButtons::YesNoAll) return MsgResult::All;
    }
  }
}

ProgressLine::ProgressLine(bool quiet) : quiet_(quiet), tty_(isatty(STDERR_FILENO) != 0) {}

void ProgressLine::Update(uint64_t done, uint64_t total, const std::string& detail) {
  if (quiet_ || total == 0) return;
  const double fraction = static_cast<double>(done) / static_cast<double>(total);
  const int percent = static_cast<int>(fraction * 100.0);
  if (tty_) {
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '-');
    std::fprintf(stderr, "\r[%s] %3d%%  %s\033[K", bar.c_str(), percent, detail.c_str());
    std::fflush(stderr);
    drawn_ = true;
  } else if (percent / 10 != lastTenth_) {
    lastTenth_ = percent / 10;
    std::fprintf(stderr, "%3d%%  %s\n", percent, detail.c_str());
  }
}

void ProgressLine::Finish() {
  if (drawn_) std::fprintf(stderr, "\n");
  drawn_ = false;
}

}  // namespace kestrella::cli
