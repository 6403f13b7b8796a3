#include "util/userinterface.h"

#include <chrono>
#include <cstdlib>

namespace kestrella {

MsgResult SilentUserInterface::MessageBox(std::string_view, std::string_view,
                                          MsgIcon, MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::Ok: return MsgResult::Ok;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoAll: return MsgResult::No;
    case MsgButtons::AbortRetryIgnore: return MsgResult::Abort;
  }
  return MsgResult::Cancel;
}

uint32_t MonotonicTickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t SilentUserInterface::TickCount() { return MonotonicTickCount(); }

std::filesystem::path SystemTempFolder() {
  const char* t = std::getenv("TMPDIR");
  if (t != nullptr && *t != '\0') return std::filesystem::path(t);
  return std::filesystem::path("/var/tmp");
}

std::filesystem::path SilentUserInterface::TempFolder() { return SystemTempFolder(); }

namespace {
SilentUserInterface g_silent;
UserInterface* g_current = &g_silent;
}  // namespace

UserInterface& ui() { return *g_current; }

UserInterface* SetUserInterface(UserInterface* u) {
  UserInterface* old = g_current == &g_silent ? nullptr : g_current;
  g_current = u != nullptr ? u : &g_silent;
  return old;
}

}  // namespace kestrella
