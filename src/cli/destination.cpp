#include "cli/destination.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "app/destinationcheck.h"

namespace kestrella::cli {

namespace fs = std::filesystem;

namespace {

void CheckWritable(const fs::path& folder, const std::string& what) {
  std::string probe = (folder / ".kestrella-write-test-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    throw CliError("cannot write into the " + what + " " + folder.string() + ": " +
                   std::strerror(errno));
  }
  ::close(fd);
  ::unlink(probe.c_str());
}

void CheckClash(const fs::path& folder, const std::string& what, const OpenedSource& source,
                bool force) {
  switch (CheckDestination(folder, source.entry.source)) {
    case DestinationClash::None:
      return;
    case DestinationClash::IsTheImage:
      throw CliError("the " + what + " " + folder.string() + " is the card image " +
                     source.entry.source.path + " itself, or inside it");
    case DestinationClash::OnTheSourceDevice:
      if (force) return;
      throw CliError("the " + what + " " + folder.string() + " lies on " +
                     source.entry.source.path +
                     ", the device being recovered: writing there would overwrite the "
                     "files still to be found.\n  Choose a folder on another disk (or pass "
                     "--force if you are sure).");
  }
}

}  // namespace

void PrepareFolders(const fs::path& dest, const fs::path& temp, const OpenedSource& source,
                    bool force) {
  CheckClash(dest, "destination folder", source, force);
  CheckClash(temp, "temporary folder", source, force);

  std::error_code ec;
  fs::create_directories(dest, ec);
  if (ec) throw CliError("cannot create the destination folder " + dest.string() + ": " + ec.message());
  if (!fs::is_directory(dest, ec)) throw CliError(dest.string() + " is not a folder");
  CheckWritable(dest, "destination folder");

  if (!fs::is_directory(temp, ec)) {
    throw CliError("the temporary folder " + temp.string() +
                   " does not exist; set TMPDIR to a folder with room for the found files");
  }
  CheckWritable(temp, "temporary folder");
}

}  // namespace kestrella::cli
