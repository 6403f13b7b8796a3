// A private D-Bus bus with a stand-in UDisks2 on it (fakeudisks/), named
// in DBUS_SYSTEM_BUS_ADDRESS for as long as the object lives, so that the
// engine's UDisks2 client talks to it as to the system's.
#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "support/testsupport.h"

namespace kestrella::test {

class FakeUDisks {
 public:
  struct Setup {
    std::vector<std::pair<std::string, std::string>> cards;  // device node, image file
    std::vector<std::string> refused;  // nodes answered NotAuthorized
    std::vector<std::string> noAgent;  // nodes answered NotAuthorizedCanObtain
    int delayMs = 0;                   // before each OpenDevice answer
  };
  explicit FakeUDisks(const Setup& setup);
  ~FakeUDisks();
  FakeUDisks(const FakeUDisks&) = delete;
  FakeUDisks& operator=(const FakeUDisks&) = delete;

  // False when dbus-daemon is not installed or the service did not start.
  bool Running() const { return service_ > 0; }
  const std::string& Address() const { return address_; }

 private:
  TempDir dir_;  // the bus's socket, open to every user
  pid_t bus_ = -1;
  pid_t service_ = -1;
  std::string address_;
  std::string previous_;  // DBUS_SYSTEM_BUS_ADDRESS before
  bool hadPrevious_ = false;
};

// A block-device node at `path` that only root may open (0600); false when
// device nodes cannot be made here.
bool MakeRootOnlyNode(const fs::path& path);
// A FAT16 card image at `image` holding the first three photos of the test
// data as P100.JPG to P102.JPG, readable by root only; false when it could
// not be made.
bool MakeRootOnlyCard(const fs::path& image);

}  // namespace kestrella::test
