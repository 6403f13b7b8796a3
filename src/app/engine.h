// The engine as the front ends see it. The window, kestrella-cli, the tests
// and the benchmark each create one, with the user interface they talk
// through, and hand it to everything they start: nothing below keeps state
// of its own, so two engines can work side by side.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "diskio/enginecontext.h"

namespace kestrella {

// A failure the user can act on (a source that cannot be read, a
// destination on the card itself); the message says what to do and is shown
// as it stands.
class UserError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What starts at a drive's sector 0.
struct FileSystemFound {
  std::string type;   // "FAT12", "FAT16", "FAT32"; "" when no FAT file system starts there
  std::string label;  // the boot sector's volume label, trailing blanks removed
};

class Engine {
 public:
  // `sources` and `files` default to the system's (tests pass fakes); none
  // of the three is owned.
  explicit Engine(UserInterface& ui, SourceOpener* sources = nullptr, OutputFiles* files = nullptr)
      : context_(ui, sources, files) {}
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  EngineContext& Context() { return context_; }
  UserInterface& UI() const { return context_.ui(); }
  // Where found files are written first.
  std::filesystem::path TempFolder() const { return context_.ui().TempFolder(); }

  // ---- the drive table -------------------------------------------------------
  // Lists the block devices anew; images stay. Letters are reassigned. The
  // places looked at are the last ones given (a test's made-up tree is read
  // again when the window refreshes its list), at first the system's.
  // Access granted through UDisks2 is let go: a card put in since is asked
  // for anew.
  void ScanDrives() {
    context_.opener().ForgetGrants();
    context_.drives().ScanSystem(roots_);
  }
  void ScanDrives(const SystemRoots& roots) {
    roots_ = roots;
    ScanDrives();
  }
  const SystemRoots& Roots() const { return roots_; }
  // The drive number of an image file (added if new), 0 when it cannot be.
  uint8_t AddImage(const std::string& path) { return context_.drives().AddImage(path); }
  const std::vector<DriveEntry>& Drives() const { return context_.drives().Drives(); }
  const DriveEntry* FindDrive(uint8_t number) const { return context_.drives().Find(number); }
  const DriveEntry* FindDrive(const std::string& path) const {
    return context_.drives().FindByPath(path);
  }

  // ---- one drive -------------------------------------------------------------
  // Size and kind of the medium; false when there is none (an empty card
  // reader) or it cannot be asked.
  bool DriveParams(uint8_t drive, TLogDriveParams& params);
  // The FAT file system that starts at sector 0; nullopt when sector 0
  // cannot be read.
  std::optional<FileSystemFound> FileSystemAt(uint8_t drive);
  // Lets go of the drive the window's sector access holds open, so that a
  // card can be formatted or taken out.
  void ReleaseDrive() { context_.diskutils().NT_CloseDrive(); }

 private:
  EngineContext context_;
  SystemRoots roots_;
};

}  // namespace kestrella
