// Writing a volume's files and directory trees into a folder on another file
// system: one file as found, or with the questions of an interactive save.
#include "fat/fatsave.h"

#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "devices/device.h"
#include "detect/fileend.h"
#include "devices/scanhost.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"
#include "diskio/enginecontext.h"
#include "util/helpers.h"
#include "util/outputfile.h"

namespace kestrella {

namespace fs = std::filesystem;

namespace fatsave {

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

void Warn(UserInterface& ui, const std::string& text) {
  ui.MessageBox(text, "Warning", MsgIcon::Warning, MsgButtons::Ok);
}

// Deeper than any card is organised, and as deep as a listing goes; a chain
// of damaged entries that keeps naming new clusters ends here.
constexpr size_t kMaxDirDepth = 256;
// "stem (n).ext" names tried for a file before its name is taken as it is.
constexpr int kMaxNameNumber = 100000;

class ActiveDirScope {
 public:
  ActiveDirScope(std::vector<uint32_t>& active, uint32_t cluster) : active_(active) {
    active_.push_back(cluster);
  }
  ~ActiveDirScope() { active_.pop_back(); }
  ActiveDirScope(const ActiveDirScope&) = delete;
  ActiveDirScope& operator=(const ActiveDirScope&) = delete;

 private:
  std::vector<uint32_t>& active_;
};

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

// Writes a file's bytes into `out` as they are read. A file found by its
// first bytes has no size of its own: its Size is only how far it may run.
// With an end finder of its kind (see detect/fileend.h) its bytes are fed to
// the finder on their way, and one piece is held back before it is written,
// so that an end the finder learns of only from the bytes after it still
// cuts the file there. An end learnt later than that leaves the file as
// long as it was written: keeping too much is better than cutting a photo.
class FileWriter {
 public:
  FileWriter(OutputFile& out, std::unique_ptr<FileEndFinder> finder)
      : out_(out), finder_(std::move(finder)) {}

  // The next `size` bytes of the file. False once nothing more is wanted:
  // the output failed, or the file's end was found.
  bool Take(const uint8_t* data, size_t size) {
    if (finder_ == nullptr) return Emit(data, size);
    const FileEndFinder::State state = finder_->Feed(data, size);
    fed_ += size;
    if (state == FileEndFinder::State::Ended) {
      // The held bytes run from emitted_, these from fed_ - size.
      const uint64_t end = std::max<uint64_t>(finder_->End(), emitted_);
      const uint64_t start = fed_ - size;
      const size_t fromHeld = static_cast<size_t>(std::min<uint64_t>(held_.size(), end - emitted_));
      bool ok = Emit(held_.data(), fromHeld);
      held_.clear();
      if (ok && end > start) ok = Emit(data, static_cast<size_t>(std::min<uint64_t>(size, end - start)));
      (void)ok;
      endFound_ = end;
      return false;
    }
    if (!Emit(held_.data(), held_.size())) return false;
    held_.clear();
    if (state == FileEndFinder::State::NoEnd) {
      // No end will come: everything up to Size is kept.
      finder_.reset();
      return Emit(data, size);
    }
    held_.assign(data, data + size);
    return true;
  }
  // Where the finder said the file ends (0: it did not).
  uint64_t EndFound() const { return endFound_; }
  // The pieces Take wants at most: what the finder holds back is one piece,
  // and how far an end it learns late may lie is counted in them. Without
  // a finder, bytes go out as they come.
  uint32_t Piece(uint32_t got) const {
    return finder_ != nullptr ? std::min(got, fatsave::kSaveBufferSize) : got;
  }
  // Writes what is still held back, at the end of the file's bytes.
  void Finish() {
    Emit(held_.data(), held_.size());
    held_.clear();
  }

 private:
  bool Emit(const uint8_t* data, size_t size) {
    if (size == 0) return !out_.Failed();
    emitted_ += size;
    return out_.Write(data, size) > 0 && !out_.Failed();
  }

  OutputFile& out_;
  std::unique_ptr<FileEndFinder> finder_;
  std::vector<uint8_t> held_;
  uint64_t fed_ = 0;
  uint64_t emitted_ = 0;
  uint64_t endFound_ = 0;
};

// Why a file was saved shorter than its entry says.
std::string CutReason(const TFATFileInfo& info) {
  const std::string cut = "cut after " + std::to_string(info.Size) + " of its " +
                          std::to_string(info.OpenedSize) + " bytes: ";
  if (info.End == ReadEnd::SourceEnd) return cut + "the rest would lie beyond the end of the card";
  return cut + "no more clusters of the card can hold it";
}

std::string DirOutputName(const TFATDirectory& dir) {
  return SafeFileName(dir.Utf8Name.empty() ? ReplaceDeletedChar(dir.Name) : dir.Utf8Name);
}

}  // namespace

bool TFATFile::SaveTo(const fs::path& folder, uint8_t useFAT) {
  auto* drive = dynamic_cast<TFATdrive*>(Drive);
  if (drive == nullptr || drive->Device == nullptr) return false;
  const std::string name = OutputName();
  if (!IsPlainName(name)) return false;
  OutputFile out(drive->Device->Context().files());
  out.Create((folder / name).string());
  return WriteTo(out, useFAT);
}

bool TFATFile::WriteTo(OutputFile& out, uint8_t useFAT) {
  auto* drive = dynamic_cast<TFATdrive*>(Drive);
  if (drive == nullptr || drive->Device == nullptr) {
    out.Remove();
    return false;
  }
  const std::string target = out.Path();
  // An entry that starts at a cluster the volume does not have (0 or 1, or
  // past its last) names no data at all: nothing failed to read, and the
  // problem is said as what it is.
  if (Size != 0 && !drive->IsValidCluster(FirstCluster)) {
    out.Close();
    out.Remove();
    drive->SaveProblems.Add(FileProblem::Kind::Lost, target,
                            "its entry starts at cluster " + std::to_string(FirstCluster) +
                                ", which the card does not have: there is nothing to read");
    return false;
  }
  TFATFileInfo info;
  drive->ResetByCluster(FirstCluster, Size, info);
  ScanHost& host = drive->host();
  host.ProcessMessages();
  // Not zeroed: only what a read delivered is ever used.
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(fatsave::kSaveReadSize);

  bool readOk = true;
  const uint64_t unreadableBefore = drive->UnreadableSectors;
  if (out.IsOpen() && Size != 0) {
    std::unique_ptr<FileEndFinder> finder;
    if (!SignatureKind.empty() && drive->EndFinders) finder = drive->EndFinders(SignatureKind);
    FileWriter writer(out, std::move(finder));
    uint32_t got = 0;
    bool more = true;
    // A read of 3 bytes or fewer is taken as the file's last: it is written
    // and the save ends.
    do {
      readOk = drive->BlockRead(info, fatsave::kSaveReadSize, buffer.get(), useFAT, got);
      if (!readOk) {
        Warn(drive->UI(), "Could not read source file! (dev:" + drive->Device->Name +
                              ", cluster:" + std::to_string(FirstCluster) +
                              ", size: " + std::to_string(Size) + ")");
        host.ProgressStopTime();
        break;
      }
      for (uint32_t at = 0, piece = 0; more && at < got; at += piece) {
        piece = writer.Piece(got - at);
        more = writer.Take(buffer.get() + at, piece);
      }
    } while (more && got > 3 && !host.StopRequested());
    if (readOk) writer.Finish();
    EndFound = writer.EndFound();
  }
  const bool created = out.IsOpen();
  out.Close();

  bool kept = created;
  if (created && (!readOk || host.StopRequested() || out.Failed())) {
    out.Remove();
    kept = false;
  }
  if (out.Failed()) {
    drive->SaveProblems.Add(FileProblem::Kind::Lost, target, out.Error());
    // "Disk Full" only when it is: a folder that refuses the file, a
    // pulled stick or a read-only file system needs another remedy.
    Warn(drive->UI(), out.ErrorCode() == ENOSPC || out.ErrorCode() == EDQUOT
                          ? std::string("Disk Full")
                          : "Could not write " + target + ": " + out.Error());
    host.ProgressStopTime();
  } else if (!readOk) {
    drive->SaveProblems.Add(FileProblem::Kind::Lost, target, "could not read the source");
  } else if (kept) {
    // One problem per file, naming everything that makes it doubtful.
    std::string reasons;
    if (drive->UnreadableSectors != unreadableBefore) {
      const uint64_t n = drive->UnreadableSectors - unreadableBefore;
      reasons = std::to_string(n) + (n == 1 ? " sector" : " sectors") + " could not be read and hold zeros";
    }
    if (info.GuessedAfter != 0) {
      if (!reasons.empty()) reasons += "; ";
      reasons += "allocation table sector " + std::to_string(info.UnreadableTableSector) +
                 " could not be read: clusters after " + std::to_string(info.GuessedAfter) + " guessed";
    }
    // A file found by its first bytes has no size of its own to fall short
    // of: where its read ended is where it ends.
    if (info.End != ReadEnd::Whole && SignatureKind.empty()) {
      if (!reasons.empty()) reasons += "; ";
      reasons += CutReason(info);
    }
    if (!reasons.empty()) drive->SaveProblems.Add(FileProblem::Kind::Damaged, target, reasons);
  }
  drive->Close(info);
  return kept;
}

bool TFATdrive::SaveFile(TFATFile& file, const fs::path& folder, uint8_t useFAT, bool& replaceAll) {
  const std::string name = file.OutputName();
  // Such a name is never written (SaveTo refuses it too); nothing to ask.
  if (!IsPlainName(name)) return true;
  fs::path target = folder / name;
  std::error_code ec;
  // Another file of this save has that name already (two deleted photos
  // whose first letters were lost, a name made safe twice alike): neither
  // replaces the other, whatever was said about files that were there.
  bool replace = false;
  for (int n = 2; savedFiles_.count(target.string()) != 0 && n <= kMaxNameNumber; ++n)
    target = folder / NumberedName(name, n);
  if (target.filename() != name) {
    // The numbered name is looked for on disk as the free one it must be.
  } else if (!replaceAll && fs::exists(fs::symlink_status(target, ec))) {
    const MsgResult answer = UI().MessageBox(
        "This folder already contains a file called '" + target.string() + "'." +
            "\r\rWould you like to replace the existing file?",
        "Confirm", MsgIcon::Question, MsgButtons::YesNoAll);
    host().ProgressStopTime();
    if (answer == MsgResult::All) {
      replaceAll = true;
    } else if (answer != MsgResult::Yes) {
      return true;  // the existing file stays
    }
    replace = true;
  } else {
    replace = replaceAll;
  }

  const fs::path probe = ExistingFolder(folder);
  // No more is written than the volume's clusters hold, whatever the entry
  // claims.
  const uint64_t needed = std::min<uint64_t>(file.Size, geometry_.DataBytes());
  if (!fatsave::IsNetworkFolder(probe) &&
      Device->Context().files().FreeSpace(probe.string()) < needed) {
    UI().MessageBox("Cannot save file " + name + ". There is not enough free space on drive " +
                        folder.string() + ".",
                    "Error", MsgIcon::Error, MsgButtons::Ok);
    SaveProblems.Add(FileProblem::Kind::Lost, target.string(), "not enough free space");
    return false;
  }
  // A name nobody agreed to replace is created only while it is free, in
  // one step: another run saving into the same folder meanwhile keeps its
  // file, and this one takes the next free number.
  OutputFile out(Device->Context().files());
  if (replace) {
    out.Create(target.string());
  } else {
    const std::string wanted = target.filename().string();
    for (int n = 1; n <= kMaxNameNumber; ++n) {
      target = folder / (n == 1 ? wanted : NumberedName(wanted, n));
      if (out.CreateNew(target.string()) != OutputFile::NewFile::Exists) break;
    }
    if (!out.IsOpen() && !out.Failed()) out.Create(target.string());
  }
  savedFiles_.insert(target.string());
  file.WriteTo(out, useFAT);
  return true;
}

bool TFATdrive::SaveDirectory(TFATDirectory& dir, const fs::path& folder, bool recurse,
                              bool includeDeleted, bool deletedOnly, uint8_t useFAT,
                              bool& replaceAll, bool& replaceAnswer) {
  if (host().StopRequested()) return false;
  if (savingDirs_.empty()) {  // a new save of a tree
    savedDirs_.clear();
    savedFiles_.clear();
  }
  const std::string name = DirOutputName(dir);
  // Such a name is never created; the entries after it are still saved.
  if (!IsPlainName(name)) return true;
  const fs::path target = folder / name;

  std::error_code ec;
  if (!fs::is_directory(target, ec)) {
    if (!fs::create_directory(target, ec) || ec) {
      // The files below then fail one by one as they are saved.
      Warn(UI(), "Could not create directory: " + target.string() + "!");
    }
  } else if (!replaceAll) {
    const MsgResult answer = UI().MessageBox(
        "This folder already contains a folder called '" + name + "'" +
            "\r\rIf the files in the existing folder have the same name as files you are saving, "
            "do you want to replace the existing files?",
        "Confirm", MsgIcon::Question, MsgButtons::YesNoAll);
    host().ProgressStopTime();
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

  ActiveDirScope active(savingDirs_, dir.FirstCluster);
  savedDirs_.insert(DirectoryKey(dir));
  ListedForSave listed(dir, includeDeleted, deletedOnly);

  bool result = true;
  if (dir.Nodes) {
    for (auto& node : *dir.Nodes) {
      if (auto* file = dynamic_cast<TFATFile*>(node.get())) {
        result = SaveFile(*file, target, useFAT, replaceAnswer);
      } else if (auto* sub = dynamic_cast<TFATDirectory*>(node.get()); sub != nullptr && recurse) {
        // Saved already in this save (or being saved: a loop): its files
        // are in the destination once.
        if (savedDirs_.count(DirectoryKey(*sub)) != 0) continue;
        if (savingDirs_.size() >= kMaxDirDepth) {
          // Only a crafted card nests this deep; what is cut is told.
          SaveProblems.Add(FileProblem::Kind::Lost, (target / DirOutputName(*sub)).string(),
                           "a folder nested more than " + std::to_string(kMaxDirDepth) +
                               " levels deep was not saved");
          continue;
        }
        result = SaveDirectory(*sub, target, recurse, includeDeleted, deletedOnly, useFAT,
                               replaceAll, replaceAnswer);
      }
      // Past the cap on what one job writes, every further file would fail.
      if (!result || host().StopRequested() ||
          (Device != nullptr && Device->Context().files().LimitRefused()))
        break;
    }
  }

  return result;
}

}  // namespace kestrella
