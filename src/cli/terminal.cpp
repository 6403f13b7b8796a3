#include "cli/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <utility>

namespace kestrella::cli {

namespace {

// The code point of the UTF-8 sequence at `text[at]` and its length; length
// 0 when the bytes there are no valid sequence.
std::pair<uint32_t, size_t> DecodeUtf8(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  const size_t length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead >= 0xF5 || at + length > text.size()) return {0, 0};
  uint32_t cp = lead & (0xFFu >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {0, 0};
    cp = (cp << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms and surrogates are no characters.
  const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return {0, 0};
  return {cp, length};
}

bool Unprintable(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x061C;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const auto [cp, length] = DecodeUtf8(text, at);
    if (length == 0 || Unprintable(cp)) {
      out += '?';
      at += length == 0 ? 1 : length;
    } else {
      out.append(text.substr(at, length));
      at += length;
    }
  }
  return out;
}

TerminalUi::~TerminalUi() {
  if (agent_ > 0) {
    ::kill(agent_, SIGTERM);
    ::waitpid(agent_, nullptr, 0);
  }
}

void TerminalUi::BeforeAskingPermission() {
  if (agentTried_) return;
  agentTried_ = true;
  // Root is never asked; without a terminal to type into nobody could answer.
  if (::geteuid() == 0 || !::isatty(STDIN_FILENO)) return;
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return;
  // Made before the fork: the child of a process with threads may not
  // allocate memory.
  const std::string fd = std::to_string(ready[1]);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // The agent closes its end of the pipe once polkit knows it; it asks
    // for this process (its parent), as a fallback to a session's agent.
    ::fcntl(ready[1], F_SETFD, 0);
    // It asks on the terminal itself (/dev/tty); why it could not register
    // is told by the refusal kestrella-cli prints.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, STDERR_FILENO);
    ::execlp("pkttyagent", "pkttyagent", "--notify-fd", fd.c_str(), "--fallback", nullptr);
    ::_exit(127);
  }
  ::close(ready[1]);
  if (pid > 0) {
    agent_ = pid;
    // Registered, or gone (not installed): either closes the pipe.
    pollfd wait{ready[0], POLLIN, 0};
    ::poll(&wait, 1, 5000);
  }
  ::close(ready[0]);
}

MsgResult TerminalUi::MessageBox(std::string_view text, std::string_view caption, MsgIcon icon,
                                 MsgButtons buttons) {
  std::string flat;
  for (char c : text) {
    if (c != '\r') flat += c;
  }
  // Questions and warnings name files from the card.
  std::fprintf(stderr, "%s: %s\n", std::string(caption).c_str(), Printable(flat).c_str());
  if (buttons == MsgButtons::Ok || !isatty(STDIN_FILENO)) {
    return SilentUserInterface::MessageBox(text, caption, icon, buttons);
  }
  const char* prompt = buttons == MsgButtons::AbortRetryIgnore ? "[a]bort, [r]etry, [i]gnore? "
                       : buttons == MsgButtons::YesNoAll      ? "[y]es, [n]o, [a]ll? "
                                                              : "[y]es, [n]o? ";
  for (;;) {
    std::fprintf(stderr, "%s", prompt);
    // Waits for the answer a little at a time: a stop signal meanwhile
    // gives the question its safe answer instead of leaving it open.
    for (;;) {
      if (StopAsked()) {
        std::fprintf(stderr, "\n");
        return SilentUserInterface::MessageBox(text, caption, icon, buttons);
      }
      pollfd in{STDIN_FILENO, POLLIN, 0};
      const int ready = ::poll(&in, 1, 200);
      if (ready > 0 || (ready < 0 && errno != EINTR)) break;
    }
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
