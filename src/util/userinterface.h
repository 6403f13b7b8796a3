// The one door through which the engine reaches the person in front of it.
//
// Everything below the front ends (sector access, the FAT engine, the scans)
// asks questions, shows messages, lets pending events run, reads the clock and
// finds the temporary folder only through this interface, reached through
// the engine context. The desktop window, the command line and the tests
// each create their own implementation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrella {

enum class MsgIcon { Information, Warning, Error, Question };

enum class MsgButtons { Ok, YesNo, YesNoAll, AbortRetryIgnore };

// Values follow the classic dialog result codes so that callers can store and
// compare them as plain numbers.
enum class MsgResult : int {
  Ok = 1,
  Cancel = 2,
  Abort = 3,
  Retry = 4,
  Ignore = 5,
  Yes = 6,
  No = 7,
  All = 8,
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message box. `text` may contain "\r\n" line breaks.
  virtual MsgResult MessageBox(std::string_view text, std::string_view caption,
                               MsgIcon icon, MsgButtons buttons) = 0;
  // Let pending window events run. Called per sector by long loops, so an
  // implementation must be cheap when there is nothing to do.
  virtual void ProcessMessages() = 0;
  // Milliseconds since some fixed point, wrapping at 2^32 like a tick count.
  virtual uint32_t TickCount() = 0;
  // The folder the user chose to keep found files in until they are saved;
  // empty: a hidden folder in the destination (see RunLocation).
  virtual std::filesystem::path TempFolder() = 0;
  // The engine is about to ask the system for access to a device, and
  // polkit may want to ask the user. The desktop's own agent does that; a
  // terminal has none unless the front end starts one here.
  virtual void BeforeAskingPermission() {}
};

// What an engine without a front end does: no messages (every question gets
// its safe answer: Abort, No, Ok), the monotonic clock, and found files kept
// in the destination.
class SilentUserInterface : public UserInterface {
 public:
  MsgResult MessageBox(std::string_view text, std::string_view caption,
                       MsgIcon icon, MsgButtons buttons) override;
  void ProcessMessages() override {}
  uint32_t TickCount() override;
  std::filesystem::path TempFolder() override;
};

// $TMPDIR when set and non-empty, else /var/tmp: /tmp is often a RAM file
// system and a card's worth of photos must not land in memory.
std::filesystem::path SystemTempFolder();

// Milliseconds of the monotonic clock, truncated to 32 bits.
uint32_t MonotonicTickCount();

}  // namespace kestrella
