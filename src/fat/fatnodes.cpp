// Directory and file nodes of a FAT volume: listing, tree walks, paths and
// the rows shown for them.
#include "fat/fatnodes.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <unordered_set>

#include "fat/fatanalyser.h"
#include "fat/fatdrive.h"
#include "fat/fattime.h"
#include "util/helpers.h"

namespace kestrella {

namespace {

// Recursive walks go no deeper than this: each folder is entered once, so
// this bounds only the stack, and deeper trees only come from damaged or
// crafted media. A folder left out for it is reported.
constexpr int kMaxWalkDepth = 256;

// Longest file name Linux accepts, in bytes.
constexpr size_t kMaxFileNameBytes = 255;

// The name a node shows: the UTF-8 one when the node has it (items made
// from entries), else the plain name (start items, lost items).
const std::string& ShownName(const std::string& name, const std::string& utf8) {
  return utf8.empty() ? name : utf8;
}

std::string ShownDirName(const TCustomDirectory& dir) {
  if (const auto* fat = dynamic_cast<const TFATDirectory*>(&dir)) {
    return ReplaceDeletedChar(ShownName(fat->Name, fat->Utf8Name));
  }
  return ReplaceDeletedChar(dir.Name);
}

// The path of `dir` up to (not including) `base`, parts joined by "\".
std::string DirectoryPath(const TCustomDirectory* dir, const TCustomDirectory* base) {
  if (dir == nullptr || dir == base) return {};
  std::string path = ShownDirName(*dir);
  // Parent links come from the tree itself, but a bound keeps a damaged
  // tree from looping here.
  int steps = 0;
  for (const TCustomDirectory* p = dir->Parent; p != nullptr && p != base && steps < 4096;
       p = p->Parent, ++steps) {
    path = ShownDirName(*p) + "\\" + path;
  }
  return path;
}

// Condition of a deleted item: 1 while its first cluster is still free in
// the table (not given to another file since), else 2.
uint8_t DeletedCondition(TFATdrive& drive, uint32_t firstCluster) {
  if (firstCluster > 1 && drive.IsValidCluster(firstCluster) &&
      TFATAnalyser::ClusterType(drive.FATType(), drive.GetFAT(firstCluster, 0)) == kClusterFree) {
    return 1;
  }
  return 2;
}

std::string ConditionText(uint8_t condition) {
  return condition == 0 ? std::string() : LongWordToStr(condition);
}

std::string SubItem(const TListItem& item, int index) {
  if (index < 0 || static_cast<size_t>(index) >= item.SubItems.size()) return {};
  return item.SubItems[static_cast<size_t>(index)];
}

void EnsureSubItems(TListItem& item) {
  if (item.SubItems.size() < 5) item.SubItems.resize(5);
}

int Sign(long long v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// A size or cluster column: digits, empty = 0; text that is no number counts
// as 0 as well.
long long NumberOf(const std::string& text) {
  long long v = 0;
  if (text.empty()) return 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc()) return 0;
  (void)ptr;
  return v;
}

// "dd.mm.yyyy" with an optional " hh:mm", as fsTimeDate2Str writes it, as
// one sortable number; false when the text is not such a date.
bool DateKey(const std::string& text, long long& key) {
  auto number = [&](size_t at, size_t len, int& out) {
    if (at + len > text.size()) return false;
    out = 0;
    for (size_t i = at; i < at + len; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      out = out * 10 + (text[i] - '0');
    }
    return true;
  };
  int day, month, year, hour = 0, minute = 0;
  if (!number(0, 2, day) || text.size() < 10 || text[2] != '.' || !number(3, 2, month) ||
      text[5] != '.' || !number(6, 4, year)) {
    return false;
  }
  if (text.size() >= 16 && text[10] == ' ' && text[13] == ':') {
    if (!number(11, 2, hour) || !number(14, 2, minute)) hour = minute = 0;
  }
  key = ((((static_cast<long long>(year) * 100 + month) * 100 + day) * 100 + hour) * 100) + minute;
  return true;
}

// A key for "this directory was entered in this walk": the first cluster,
// or for the fixed root region (cluster 0) its sector, kept apart.
uint64_t WalkKey(uint32_t firstCluster, uint32_t sector) {
  return firstCluster != 0 ? firstCluster : (uint64_t{1} << 32) | sector;
}

bool WalkTree(TFATDirectory& dir, const TFATDirectory::ChildCallback& callback, bool includeDeleted,
              bool deletedOnly, bool recurse, intptr_t userValue, std::unordered_set<uint64_t>& entered,
              int depth) {
  bool builtHere = false;
  if (!dir.Nodes) {
    dir.AddChildren(includeDeleted, deletedOnly);
    builtHere = true;
  }
  if (!dir.Nodes) return true;
  bool result = true;
  // The list may be replaced by a callback (a rename, a refresh); walk the
  // one held now.
  std::shared_ptr<TNodeList> nodes = dir.Nodes;
  for (auto& node : *nodes) {
    if (!callback(*node, userValue)) {
      result = false;
      break;
    }
    if (!recurse) continue;
    auto* sub = dynamic_cast<TFATDirectory*>(node.get());
    if (sub == nullptr) continue;
    if (depth + 1 >= kMaxWalkDepth) {
      if (TFATdrive* drive = sub->FatDrive()) drive->NoteFolderTooDeep(*sub);
      continue;
    }
    // A directory reached twice (a loop back to an ancestor, or two entries
    // sharing a cluster) is walked only the first time.
    if (!entered.insert(DirectoryKey(*sub)).second) continue;
    if (!WalkTree(*sub, callback, includeDeleted, deletedOnly, recurse, userValue, entered, depth + 1)) {
      result = false;
      break;
    }
  }
  if (builtHere) {
    dir.DeleteChildren();
    dir.Nodes.reset();
  }
  return result;
}

}  // namespace

uint64_t DirectoryKey(const TFATDirectory& dir) { return WalkKey(dir.FirstCluster, dir.Sector); }

void TFATdrive::NoteFolderTooDeep(const TFATDirectory& dir) {
  if (!tooDeep_.insert(DirectoryKey(dir)).second) return;
  // The path below the start item ("Root", "Deleted") it was reached from.
  std::string path = dir.GetPath(nullptr);
  if (const size_t cut = path.find('\\'); cut != std::string::npos) path.erase(0, cut + 1);
  std::replace(path.begin(), path.end(), '\\', '/');
  FoldersNotRead.Add(FileProblem::Kind::Lost, path,
                   "a folder nested more than " + std::to_string(kMaxWalkDepth) +
                       " levels deep was not read: no file in it was looked for");
}

std::string SafeFileName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(c == '/' || b < 0x20 || b == 0x7F ? '_' : c);
  }
  if (out.empty()) return "_";
  // "." and ".." would name the folder itself or its parent.
  if (out.find_first_not_of('.') == std::string::npos) out[0] = '_';
  if (out.size() > kMaxFileNameBytes) {
    // Keep a short extension and cut the rest at a character boundary.
    std::string ext;
    if (const size_t dot = out.rfind('.'); dot != std::string::npos && dot > 0 && out.size() - dot <= 16) {
      ext = out.substr(dot);
    }
    size_t keep = kMaxFileNameBytes - ext.size();
    while (keep > 0 && (static_cast<unsigned char>(out[keep]) & 0xC0) == 0x80) --keep;
    out = out.substr(0, keep) + ext;
  }
  return out;
}

// ---- TFATDirectory ----------------------------------------------------------

TFATdrive* TFATDirectory::FatDrive() const { return dynamic_cast<TFATdrive*>(Drive); }

void TFATDirectory::duplicate(TCustomDirectory& target) const {
  TCustomDirectory::duplicate(target);
  if (auto* t = dynamic_cast<TFATDirectory*>(&target)) {
    t->FirstCluster = FirstCluster;
    t->Sector = Sector;
    t->Time = Time;
    t->Date = Date;
    t->Utf8Name = Utf8Name;
  }
}

std::string TFATDirectory::GetPath(const TCustomDirectory* base) const { return DirectoryPath(this, base); }

bool TFATDirectory::Rename(const std::string& newName) {
  Name = newName;
  Utf8Name = newName;
  return true;
}

void TFATDirectory::ChangeListViewItem(TListItem& item) const {
  EnsureSubItems(item);
  item.Caption = ReplaceDeletedChar(ShownName(Name, Utf8Name));
  item.Data = this;
  item.SubItems[0].clear();
  item.SubItems[1] = Date != 0 ? fsTimeDate2Str(Time, Date) : std::string();
  item.SubItems[2] = LongWordToStr(FirstCluster);
  item.SubItems[3] = ConditionText(Condition);
  std::string type;
  item.SubItems[4] = ShellGetFileType(item.Caption, kFileAttributeDirectory, type) ? type : std::string();
}

int TFATDirectory::CompareChildren(const TListItem& item1, const TListItem& item2, int column) const {
  const bool dir1 = dynamic_cast<const TCustomDirectory*>(item1.Data) != nullptr;
  const bool dir2 = dynamic_cast<const TCustomDirectory*>(item2.Data) != nullptr;
  if (dir1 && !dir2) return -1;
  if (dir2 && !dir1) return 1;
  const std::string text1 = column == 0 ? item1.Caption : SubItem(item1, column - 1);
  const std::string text2 = column == 0 ? item2.Caption : SubItem(item2, column - 1);
  switch (column) {
    case 1:
    case 3:
      return Sign(NumberOf(text1) - NumberOf(text2));
    case 2: {
      long long key1, key2;
      if (!DateKey(text1, key1) || !DateKey(text2, key2)) return 0;
      return Sign(key1 - key2);
    }
    default:
      return Sign(std::strcmp(text1.c_str(), text2.c_str()));
  }
}

void TFATDirectory::AddChildren(bool includeDeleted, bool deletedOnly) {
  Nodes = std::make_shared<TNodeList>();
  TFATdrive* drive = FatDrive();
  if (drive == nullptr) return;
  TDirWalk walk;
  walk.Cluster = FirstCluster;
  walk.Sector = Sector;
  std::string name, utf8;
  TDirEntry entry;
  // Deleting a folder marks only its own entry; what it held is gone with it
  // although its entries still read as live. Those count as deleted, so that
  // the deleted tree shows them.
  const bool insideDeleted = (Flags & kNodeDeleted) != 0;
  // What a lost directory holds is lost with it, at every depth. Its entries
  // that cannot describe anything of this volume are the remains of other
  // data, not files: they are passed over, neither listed nor saved.
  const uint8_t lost = Flags & kNodeLost;
  while (drive->FindNextEntry(walk, includeDeleted, name, entry, &utf8)) {
    const uint8_t attr = entry.Attributes();
    const bool deleted = entry.IsDeleted() || insideDeleted;
    const uint32_t first = entry.FirstCluster(drive->FATType());
    if (lost != 0 && !entry.IsLongName() && (attr & kAttrVolume) == 0 && name != "." && name != ".." &&
        !drive->Analyser->FitsVolume(entry))
      continue;
    if ((attr & kAttrDirectory) != 0 && !entry.IsLongName()) {
      if (name == "." || name == "..") continue;
      // A deleted directory is only worth listing while its cluster still
      // holds its entries.
      if (deleted && !drive->Analyser->IsDirC(first)) continue;
      auto dir = std::make_unique<TFATDirectory>();
      dir->Drive = drive;
      dir->FirstCluster = first;
      dir->Sector = 0;
      dir->Name = name;
      dir->Utf8Name = utf8;
      dir->Time = entry.WriteTime();
      dir->Date = entry.WriteDate();
      dir->Parent = this;
      dir->Flags = lost;
      if (deleted) {
        dir->Flags |= kNodeDeleted;
        dir->Condition = DeletedCondition(*drive, first);
      }
      Nodes->push_back(std::move(dir));
    } else if ((attr & (kAttrDirectory | kAttrVolume)) == 0) {
      const bool take = !includeDeleted || (deleted && deletedOnly) || (includeDeleted && !deletedOnly);
      if (!take) continue;
      auto file = std::make_unique<TFATFile>();
      file->Drive = drive;
      file->FirstCluster = first;
      file->Attributes = attr;
      file->Size = entry.FileSize();
      file->Time = entry.WriteTime();
      file->Date = entry.WriteDate();
      file->Name = name;
      file->Utf8Name = utf8;
      file->Parent = this;
      file->Flags = lost;
      if (deleted) {
        file->Flags |= kNodeDeleted;
        file->Condition = DeletedCondition(*drive, first);
      }
      Nodes->push_back(std::move(file));
    }
  }
}

bool TFATDirectory::ForEachChild(const ChildCallback& callback, bool includeDeleted, bool deletedOnly,
                                 bool recurse, intptr_t userValue) {
  std::unordered_set<uint64_t> entered;
  entered.insert(DirectoryKey(*this));
  // The volume's root counts as entered too: an entry pointing back at it
  // would start the whole walk over.
  if (const TFATdrive* drive = FatDrive()) {
    entered.insert(WalkKey(drive->RootCluster(), static_cast<uint32_t>(drive->RootDirStart())));
  }
  return WalkTree(*this, callback, includeDeleted, deletedOnly, recurse, userValue, entered, 0);
}

bool TFATDirectory::SubDirFound(bool includeDeleted) {
  TFATdrive* drive = FatDrive();
  if (drive == nullptr) return false;
  TDirWalk walk;
  walk.Cluster = FirstCluster;
  walk.Sector = Sector;
  std::string name;
  TDirEntry entry;
  while (drive->FindNextEntry(walk, includeDeleted, name, entry)) {
    if ((entry.Attributes() & kAttrDirectory) == 0 || entry.IsLongName()) continue;
    if (name == "." || name == "..") continue;
    // Deleted directories count as AddChildren would list them.
    if (entry.IsDeleted() && !drive->Analyser->IsDirC(entry.FirstCluster(drive->FATType()))) continue;
    return true;
  }
  return false;
}

// ---- TFATFile -----------------------------------------------------------------

TFATdrive* TFATFile::FatDrive() const { return dynamic_cast<TFATdrive*>(Drive); }

void TFATFile::duplicate(TCustomFile& target) const {
  TCustomFile::duplicate(target);
  target.Size = Size;
  if (auto* t = dynamic_cast<TFATFile*>(&target)) {
    t->Attributes = Attributes;
    t->FirstCluster = FirstCluster;
    t->Time = Time;
    t->Date = Date;
    t->Utf8Name = Utf8Name;
    t->SignatureKind = SignatureKind;
    t->copiedPlacement_ = Place();
  }
}

TFATFile::Placement TFATFile::PlaceInTree() const {
  Placement place;
  // Start items are the only directories without a parent.
  const auto isStartItem = [](const TCustomDirectory* d) { return d->Parent == nullptr; };
  if (Parent != nullptr && isStartItem(Parent) && (Flags & kNodeLost) != 0) {
    place.origin.way = LostOrigin::Way::BySignature;
    place.origin.kind = SignatureKind;
    return place;
  }
  std::vector<std::string> upwards;
  // Parent links come from the tree itself, but a bound keeps a damaged
  // tree from looping here.
  int steps = 0;
  for (const TCustomDirectory* d = Parent; d != nullptr && !isStartItem(d) && steps < 4096;
       d = d->Parent, ++steps) {
    if ((d->Flags & kNodeLost) != 0 && isStartItem(d->Parent)) {
      // The lost directory the search found: the top of a lost tree.
      place.origin.way = LostOrigin::Way::InLostDirectory;
      if (const auto* fat = dynamic_cast<const TFATDirectory*>(d)) {
        place.origin.directoryCluster = fat->FirstCluster;
        place.origin.directorySector = fat->FirstCluster == 0 ? fat->Sector : 0;
      }
      break;
    }
    upwards.push_back(SafeFileName(ShownDirName(*d)));
  }
  place.folders.assign(upwards.rbegin(), upwards.rend());
  return place;
}

std::vector<std::string> TFATFile::FolderNames() const { return Place().folders; }

LostOrigin TFATFile::Origin() const { return Place().origin; }

std::optional<int64_t> TFATFile::ModifiedTime() const { return FatTimeToUnix(Date, Time); }

bool TFATFile::Rename(const std::string& newName) {
  Name = newName;
  Utf8Name = newName;
  return true;
}

std::string TFATFile::GetPath(const TCustomDirectory* base) const { return DirectoryPath(Parent, base); }

void TFATFile::ChangeListViewItem(TListItem& item) const {
  EnsureSubItems(item);
  item.Caption = ReplaceDeletedChar(ShownName(Name, Utf8Name));
  item.Data = this;
  item.SubItems[0] = LongWordToStr(Size);
  item.SubItems[1] = fsTimeDate2Str(Time, Date);
  item.SubItems[2] = LongWordToStr(FirstCluster);
  item.SubItems[3] = ConditionText(Condition);
  std::string type;
  item.SubItems[4] = ShellGetFileType(item.Caption, Attributes, type) ? type : std::string();
}

std::string TFATFile::OutputName() const { return SafeFileName(ReplaceDeletedChar(ShownName(Name, Utf8Name))); }

}  // namespace kestrella
