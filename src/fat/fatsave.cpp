// Writing a volume's files and directory trees into a folder on another file
// system: one file as found, or with the questions of an interactive save.
#include "fat/fatsave.h"

#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include "devices/device.h"
#include "devices/scanhost.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"
#include "util/destprobe.h"
#include "util/helpers.h"
#include "util/userinterface.h"

namespace kestrella {

namespace fs = std::filesystem;

namespace fatsave {

namespace {
FreeSpaceQuery g_freeSpace = nullptr;
}  // namespace

FreeSpaceQuery SetFreeSpaceQuery(FreeSpaceQuery query) {
  return std::exchange(g_freeSpace, query);
}

bool IsNetworkFolder(const fs::path& folder) {
  struct statfs info {};
  if (statfs(folder.c_str(), &info) != 0) return false;
  switch (static_cast<uint64_t>(info.f_type)) {
    case 0x6969:      // NFS
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x517B:      // SMB
    case 0x65735546:  // FUSE
      return true;
    default:
      return false;
  }
}

}  // namespace fatsave

namespace {

uint64_t FreeSpaceOf(const fs::path& folder) {
  const fatsave::FreeSpaceQuery query = fatsave::g_freeSpace;
  return query != nullptr ? query(folder.string()) : NewDiskFree(folder.string());
}

// The folder, or the nearest folder above it that exists: where the file
// system that a save would land on can be asked. A destination folder that
// could not be created must not read as a full disk.
fs::path ExistingFolder(const fs::path& folder) {
  std::error_code ec;
  fs::path p = fs::absolute(folder, ec);
  if (ec) p = folder;
  for (int guard = 0; guard < 4096 && !p.empty(); ++guard) {
    if (fs::is_directory(p, ec)) return p;
    if (!p.has_relative_path()) break;
    p = p.parent_path();
  }
  return folder;
}

// A name from the medium is written only as one entry of the folder.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

void Warn(const std::string& text) {
  ui().MessageBox(text, "Warning", MsgIcon::Warning, MsgButtons::Ok);
}

// The output file of a save. Every failure of the file system (no space,
// file too large, a failing close) is remembered with its reason, so the
// output can be removed again rather than left cut short.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { Close(); }

  // Never follows a link planted under the output's name.
  bool Create(const fs::path& path) {
    path_ = path.string();
    if (const int err = destprobe::CreateError(path_)) {
      Fail(err);
      return false;
    }
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ < 0) Fail(errno);
    return fd_ >= 0;
  }
  bool IsOpen() const { return fd_ >= 0; }

  // Bytes written; fewer than asked only after a failure.
  size_t Write(const uint8_t* data, size_t count) {
    if (fd_ < 0) return 0;
    const size_t room = destprobe::WriteRoom(path_, count);
    size_t done = 0;
    while (done < room) {
      const ssize_t n = ::write(fd_, data + done, room - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Fail(n < 0 ? errno : ENOSPC);
        return done;
      }
      done += static_cast<size_t>(n);
    }
    if (room < count) Fail(ENOSPC);
    return done;
  }

  void Close() {
    if (fd_ < 0) return;
    if (::close(fd_) != 0) Fail(errno);
    fd_ = -1;
  }

  bool Failed() const { return err_ != 0; }
  std::string Reason() const { return std::strerror(err_); }

 private:
  void Fail(int err) {
    if (err_ == 0) err_ = err != 0 ? err : EIO;
  }

  int fd_ = -1;
  int err_ = 0;
  std::string path_;
};

// Directories being saved, from the one the save started at down to the one
// in hand. A directory entry that points back at one of them (a reused or
// damaged cluster) would otherwise be saved inside itself without end.
struct ActiveDir {
  const TFATdrive* drive;
  uint32_t cluster;
};
std::vector<ActiveDir> g_activeDirs;

// Deeper than any card is organised; a chain of damaged entries that keeps
// naming new clusters ends here.
constexpr size_t kMaxDirDepth = 128;

class ActiveDirScope {
 public:
  ActiveDirScope(const TFATdrive* drive, uint32_t cluster) { g_activeDirs.push_back({drive, cluster}); }
  ~ActiveDirScope() { g_activeDirs.pop_back(); }
  ActiveDirScope(const ActiveDirScope&) = delete;
  ActiveDirScope& operator=(const ActiveDirScope&) = delete;
};

bool IsActiveDir(const TFATdrive* drive, uint32_t cluster) {
  for (const ActiveDir& a : g_activeDirs)
    if (a.drive == drive && a.cluster == cluster) return true;
  return false;
}

// The child list of a directory for the time of its save: one the caller
// had is used as it is; one listed here is disposed of again afterwards.
class ListedForSave {
 public:
  ListedForSave(TFATDirectory& dir, bool includeDeleted, bool deletedOnly)
      : dir_(dir), listedHere_(!dir.Nodes) {
    if (listedHere_) dir_.AddChildren(includeDeleted, deletedOnly);
  }
  ~ListedForSave() {
    if (!listedHere_ || !dir_.Nodes) return;
    dir_.DeleteChildren();
    dir_.Nodes.reset();
  }
  ListedForSave(const ListedForSave&) = delete;
  ListedForSave& operator=(const ListedForSave&) = delete;

 private:
  TFATDirectory& dir_;
  bool listedHere_;
};

std::string DirOutputName(const TFATDirectory& dir) {
  return SafeFileName(dir.Utf8Name.empty() ? ReplaceDeletedChar(dir.Name) : dir.Utf8Name);
}

}  // namespace

bool TFATFile::SaveTo(const fs::path& folder, uint8_t useFAT) {
  auto* drive = dynamic_cast<TFATdrive*>(Drive);
  if (drive == nullptr) return false;
  const std::string name = OutputName();
  if (!IsPlainName(name)) return false;
  const fs::path target = folder / name;

  TFATFileInfo info;
  drive->ResetByCluster(FirstCluster, Size, info);
  Host().ProcessMessages();
  std::vector<uint8_t> buffer(fatsave::kSaveBufferSize);

  OutputFile out;
  bool readOk = true;
  const uint64_t unreadableBefore = drive->UnreadableSectors;
  if (out.Create(target) && Size != 0) {
    uint32_t got = 0;
    size_t written = 0;
    // A read of 3 bytes or fewer is taken as the file's last: it is written
    // and the save ends.
    do {
      readOk = drive->BlockRead(info, fatsave::kSaveBufferSize, buffer.data(), useFAT, got);
      if (!readOk) {
        const std::string device = drive->Device != nullptr ? drive->Device->Name : std::string();
        Warn("Could not read source file! (dev:" + device + ", cluster:" +
             std::to_string(FirstCluster) + ", size: " + std::to_string(Size) + ")");
        Host().ProgressStopTime();
        break;
      }
      written = out.Write(buffer.data(), got);
    } while (written > 0 && !out.Failed() && got > 3 && !Host().StopRequested());
  }
  const bool created = out.IsOpen();
  out.Close();

  std::error_code ec;
  bool kept = created;
  if (created && (!readOk || Host().StopRequested())) {
    fs::remove(target, ec);
    kept = false;
  }
  if (out.Failed()) {
    if (created) fs::remove(target, ec);
    kept = false;
    drive->SaveProblems.push_back({target.string(), out.Reason(), false});
    Warn("Disk Full");
    Host().ProgressStopTime();
  } else if (!readOk) {
    drive->SaveProblems.push_back({target.string(), "could not read the source", false});
  } else if (kept && drive->UnreadableSectors != unreadableBefore) {
    const uint64_t n = drive->UnreadableSectors - unreadableBefore;
    drive->SaveProblems.push_back({target.string(),
                                   std::to_string(n) + (n == 1 ? " sector" : " sectors") +
                                       " could not be read and hold zeros",
                                   true});
  }
  drive->Close(info);
  return kept;
}

bool TFATdrive::SaveFile(TFATFile& file, const fs::path& folder, uint8_t useFAT, bool& replaceAll) {
  const std::string name = file.OutputName();
  // Such a name is never written (SaveTo refuses it too); nothing to ask.
  if (!IsPlainName(name)) return true;
  const fs::path target = folder / name;
  std::error_code ec;
  if (!replaceAll && fs::exists(fs::symlink_status(target, ec))) {
    const MsgResult answer = ui().MessageBox(
        "This folder already contains a file called '" + target.string() + "'." +
            "\r\rWould you like to replace the existing file?",
        "Confirm", MsgIcon::Question, MsgButtons::YesNoAll);
    Host().ProgressStopTime();
    if (answer == MsgResult::All) {
      replaceAll = true;
    } else if (answer != MsgResult::Yes) {
      return true;  // the existing file stays
    }
  }

  const fs::path probe = ExistingFolder(folder);
  if (!fatsave::IsNetworkFolder(probe) && FreeSpaceOf(probe) < file.Size) {
    ui().MessageBox("Cannot save file " + name + ". There is not enough free space on drive " +
                        folder.string() + ".",
                    "Error", MsgIcon::Error, MsgButtons::Ok);
    SaveProblems.push_back({target.string(), "not enough free space", false});
    return false;
  }
  file.SaveTo(folder, useFAT);
  return true;
}

bool TFATdrive::SaveDirectory(TFATDirectory& dir, const fs::path& folder, bool recurse,
                              bool includeDeleted, bool deletedOnly, uint8_t useFAT,
                              bool& replaceAll, bool& replaceAnswer) {
  if (Host().StopRequested()) return false;
  const std::string name = DirOutputName(dir);
  // Such a name is never created; the entries after it are still saved.
  if (!IsPlainName(name)) return true;
  const fs::path target = folder / name;

  std::error_code ec;
  if (!fs::is_directory(target, ec)) {
    if (!fs::create_directory(target, ec) || ec) {
      // The files below then fail one by one as they are saved.
      Warn("Could not create directory: " + target.string() + "!");
    }
  } else if (!replaceAll) {
    const MsgResult answer = ui().MessageBox(
        "This folder already contains a folder called '" + name + "'" +
            "\r\rIf the files in the existing folder have the same name as files you are saving, "
            "do you want to replace the existing files?",
        "Confirm", MsgIcon::Question, MsgButtons::YesNoAll);
    Host().ProgressStopTime();
    if (answer == MsgResult::All) {
      replaceAll = true;
      replaceAnswer = true;
    } else if (answer == MsgResult::Yes) {
      replaceAnswer = true;
    } else {
      replaceAnswer = false;
      return false;
    }
  }

  ActiveDirScope active(this, dir.FirstCluster);
  ListedForSave listed(dir, includeDeleted, deletedOnly);

  bool result = true;
  if (dir.Nodes) {
    for (auto& node : *dir.Nodes) {
      if (auto* file = dynamic_cast<TFATFile*>(node.get())) {
        result = SaveFile(*file, target, useFAT, replaceAnswer);
      } else if (auto* sub = dynamic_cast<TFATDirectory*>(node.get()); sub != nullptr && recurse) {
        if (g_activeDirs.size() >= kMaxDirDepth || IsActiveDir(this, sub->FirstCluster)) continue;
        result = SaveDirectory(*sub, target, recurse, includeDeleted, deletedOnly, useFAT,
                               replaceAll, replaceAnswer);
      }
      if (!result || Host().StopRequested()) break;
    }
  }

  return result;
}

}  // namespace kestrella
