#include "util/userinterface.h"

#include <ctime>
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
  // The coarse clock is read without a system call and costs a few
  // nanoseconds; its resolution of a few milliseconds is plenty for pacing
  // progress reports, and the scans ask for it once per sector.
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

uint32_t SilentUserInterface::TickCount() { return MonotonicTickCount(); }

std::filesystem::path SystemTempFolder() {
  const char* t = std::getenv("TMPDIR");
  if (t != nullptr && *t != '\0') return std::filesystem::path(t);
  return std::filesystem::path("/var/tmp");
}

std::filesystem::path SilentUserInterface::TempFolder() { return {}; }

}  // namespace kestrella
