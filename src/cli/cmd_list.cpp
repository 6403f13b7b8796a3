// kestrella-cli list: what the folders of a FAT card still describe.
#include <cstdio>

#include "cli/commands.h"
#include "cli/fatsource.h"
#include "cli/options.h"
#include "fat/fatnodes.h"
#include "util/helpers.h"

namespace kestrella::cli {

const char* const kListHelp =
    "usage: kestrella-cli list SOURCE [--deleted-only]\n"
    "\n"
    "Mounts the FAT12, FAT16 or FAT32 file system of SOURCE and lists its\n"
    "\"Root\" tree (what its folders hold) and its \"Deleted\" tree (the deleted\n"
    "files and folders they still describe): path, size, first cluster, date\n"
    "and time written. A deleted entry is marked with its condition:\n"
    "  1  its first cluster is still free: it can most likely be recovered\n"
    "  2  its first cluster was used again: it may be damaged\n"
    "\n"
    "SOURCE  a card image file, a block device, or a drive letter such as E:.\n"
    "\n"
    "options:\n"
    "  --deleted-only   list the Deleted tree only\n";

namespace {

int Depth(const TCustomDirectory* parent, const TCustomDirectory* start) {
  int depth = 1;
  for (const TCustomDirectory* p = parent; p != nullptr && p != start; p = p->Parent) ++depth;
  return depth;
}

// A name from the medium as it may reach a terminal: control characters
// (an escape sequence could rewrite the screen) are shown as "?".
std::string Printable(std::string name) {
  for (char& c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = '?';
  }
  return name;
}

// The path below the start item, from the names as they read on Linux.
std::string DisplayPath(const TCustomDirectory* parent, const TCustomDirectory* start,
                        const std::string& name) {
  std::string path = Printable(ReplaceDeletedChar(name));
  for (const TCustomDirectory* p = parent; p != nullptr && p != start; p = p->Parent) {
    const auto* dir = dynamic_cast<const TFATDirectory*>(p);
    path = Printable(ReplaceDeletedChar(dir != nullptr ? dir->Utf8Name : p->Name)) + "/" + path;
  }
  return path;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

std::string Mark(uint8_t flags, uint8_t condition) {
  if ((flags & kNodeDeleted) == 0) return "";
  return "  deleted, condition " + std::to_string(condition);
}

void ListTree(TFATDirectory& start, bool includeDeleted, bool deletedOnly) {
  std::printf("%s\n", Printable(start.Name).c_str());
  size_t count = 0;
  start.ForEachChild(
      [&](TCustomNode& node, intptr_t) {
        ++count;
        if (auto* dir = dynamic_cast<TFATDirectory*>(&node)) {
          const std::string indent(static_cast<size_t>(Depth(dir->Parent, &start)) * 2, ' ');
          std::printf("%s%s/  cluster %u%s\n", indent.c_str(),
                      DisplayPath(dir->Parent, &start, dir->Utf8Name).c_str(), dir->FirstCluster,
                      Mark(dir->Flags, dir->Condition).c_str());
        } else if (auto* file = dynamic_cast<TFATFile*>(&node)) {
          const std::string indent(static_cast<size_t>(Depth(file->Parent, &start)) * 2, ' ');
          const std::string path = DisplayPath(file->Parent, &start, file->Utf8Name);
          std::printf("%s%s  %u bytes  cluster %u  %s%s\n", indent.c_str(), path.c_str(), file->Size,
                      file->FirstCluster, fsTimeDate2Str(file->Time, file->Date).c_str(),
                      Mark(file->Flags, file->Condition).c_str());
        }
        return true;
      },
      includeDeleted, deletedOnly, true, 0);
  if (count == 0) std::printf("  (empty)\n");
}

}  // namespace

int RunList(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.flags = {"--deleted-only"};
  Options opts(args, spec);
  if (opts.Positional().size() != 1) throw UsageError("list needs exactly one SOURCE");
  MountedSource m = MountSource(opts.Positional()[0]);
  TFATdrive& drive = *m.drive;
  std::printf("%s: FAT%s volume \"%s\", %u clusters of %u bytes%s\n",
              m.source.entry.source.path.c_str(),
              drive.FATType == kFat12 ? "12" : drive.FATType == kFat16 ? "16" : "32",
              Printable(TrimRight(drive.Name)).c_str(), drive.ClusterCount, drive.BytesPerCluster,
              drive.UseFAT == 0 ? " (allocation table empty: files read as consecutive clusters)" : "");
  if (!opts.Flag("--deleted-only")) {
    ListTree(static_cast<TFATDirectory&>(*drive.RootItem), false, false);
  }
  ListTree(static_cast<TFATDirectory&>(*drive.DeletedItem), true, true);
  return kExitOk;
}

}  // namespace kestrella::cli
