// Opening block devices through UDisks2, the system's disk service, for a
// user who may not open them directly (not root, not in the group owning
// the device). UDisks2 lets polkit ask the user (a password dialog on the
// desktop, a text agent in a terminal) and passes back a descriptor it
// opened itself; the engine then uses it like one of its own.
//
// The service is reached on the system bus; DBUS_SYSTEM_BUS_ADDRESS names
// another bus, as for every D-Bus client.
#pragma once

#include <functional>
#include <string>

struct sd_bus;

namespace kestrella {

enum class BrokerAnswer {
  Opened,      // `fd` is the device, opened as asked
  Unknown,     // UDisks2 does not manage this device
  Refused,     // polkit said no, or the user dismissed the question
  NoAgent,     // nobody could be asked: no polkit agent for this program
  NotRunning,  // no system bus, or no UDisks2 on it
  NoAnswer,    // the question stayed unanswered past the time allowed
  Failed,      // the service could not open it; `detail` says why
};

struct BrokerResult {
  BrokerAnswer answer = BrokerAnswer::Failed;
  int fd = -1;         // the caller's to close when Opened
  std::string detail;  // the service's own words, for Failed
};

// Whether a direct open that failed with `err` is one UDisks2 may get
// past: a block device refused to a user other than root for lack of
// permission. Any other failure (no medium, busy, no such device) would
// fail for the service too, and what refuses root (a container, a security
// module) is no question of permission the user could answer.
bool AskBrokerAfter(int err, bool blockDevice, bool asRoot);

class UDisksClient {
 public:
  UDisksClient() = default;
  ~UDisksClient();
  UDisksClient(const UDisksClient&) = delete;
  UDisksClient& operator=(const UDisksClient&) = delete;

  // Whether UDisks2 manages `path`. Asks nobody, answers within seconds.
  bool Knows(const std::string& path);
  // Opens `path` read-only, or for writing exclusively (refused while
  // anything holds the device, as the engine's own open is) and with
  // `sync` each write on the medium before it returns. The user may be
  // asked; `whileWaiting` runs every few tens of milliseconds until the
  // answer comes (the window's events), for at most `timeoutSeconds`.
  BrokerResult Open(const std::string& path, bool forWrite, bool sync,
                    const std::function<void()>& whileWaiting, unsigned timeoutSeconds = 300);

 private:
  // The bus, connected at first use; nullptr when there is none.
  sd_bus* Bus();
  // The UDisks2 object of the device: "" with `answer` set when none.
  std::string BlockObject(const std::string& path, BrokerAnswer& answer, std::string& detail);

  sd_bus* bus_ = nullptr;
};

// What an answer other than Opened means to the user, in plain words:
// "Permission to read /dev/sdb was refused." "" for Opened and Unknown.
std::string BrokerProblem(const std::string& path, bool forWrite, const BrokerResult& result);

}  // namespace kestrella
