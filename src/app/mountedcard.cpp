#include "app/mountedcard.h"

#include "app/ffatscan.h"
#include "app/recoveryrun.h"
#include "fat/fatnodes.h"
#include "util/helpers.h"

namespace kestrella {

namespace {

int Depth(const TCustomDirectory* parent, const TCustomDirectory* start) {
  int depth = 1;
  for (const TCustomDirectory* p = parent; p != nullptr && p != start; p = p->Parent) ++depth;
  return depth;
}

// The path below the start item, from the names as they read on Linux.
std::string PathBelow(const TCustomDirectory* parent, const TCustomDirectory* start,
                      const std::string& name) {
  std::string path = ReplaceDeletedChar(name);
  for (const TCustomDirectory* p = parent; p != nullptr && p != start; p = p->Parent) {
    const auto* dir = dynamic_cast<const TFATDirectory*>(p);
    path = ReplaceDeletedChar(dir != nullptr ? dir->Utf8Name : p->Name) + "/" + path;
  }
  return path;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

}  // namespace

MountedCard::MountedCard(Engine& engine, const OpenedSource& source)
    : source_(source), driver_(std::make_unique<TFrmFATScan>(engine.Context())) {
  TDevice* device = driver_->DeviceList->GetWindowsDrive(source.drive);
  if (device == nullptr) {
    throw UserError("no FAT file system starts on " + source.entry.source.path +
                    " (try kestrella-cli scan, which does not need one)");
  }
  driver_->Device = device;
  drive_ = std::make_unique<TFATdrive>();
  drive_->SetHost(driver_.get());
  drive_->Device = device;
  drive_->BootSector = 0;
  drive_->StartSector = 0;
  drive_->SectorCount = device->TotalSectors32();
  if (!drive_->MountDrive(false)) {
    throw UserError("the boot sector of " + source.entry.source.path + " cannot be used");
  }
  driver_->Drive = drive_.get();
}

// The drive refers to the driver's device: it goes first.
MountedCard::~MountedCard() { drive_.reset(); }

CardSummary MountedCard::Summary() const {
  CardSummary s;
  s.fatType = drive_->FATType() == kFat12 ? "FAT12" : drive_->FATType() == kFat16 ? "FAT16" : "FAT32";
  s.label = TrimRight(drive_->Name);
  s.clusters = drive_->ClusterCount();
  s.bytesPerCluster = drive_->BytesPerCluster();
  s.tableEmpty = drive_->UseFAT() == 0;
  return s;
}

std::vector<TreeRow> MountedCard::List(TCustomDirectory& start, bool includeDeleted,
                                       bool deletedOnly) {
  std::vector<TreeRow> rows;
  static_cast<TFATDirectory&>(start).ForEachChild(
      [&](TCustomNode& node, intptr_t) {
        TreeRow row;
        if (auto* dir = dynamic_cast<TFATDirectory*>(&node)) {
          row.depth = Depth(dir->Parent, &start);
          row.directory = true;
          row.path = PathBelow(dir->Parent, &start, dir->Utf8Name);
          row.firstCluster = dir->FirstCluster;
          row.deleted = (dir->Flags & kNodeDeleted) != 0;
          row.condition = dir->Condition;
        } else if (auto* file = dynamic_cast<TFATFile*>(&node)) {
          row.depth = Depth(file->Parent, &start);
          row.path = PathBelow(file->Parent, &start, file->Utf8Name);
          row.size = file->Size;
          row.firstCluster = file->FirstCluster;
          row.written = fsTimeDate2Str(file->Time, file->Date);
          row.deleted = (file->Flags & kNodeDeleted) != 0;
          row.condition = file->Condition;
        } else {
          return true;
        }
        rows.push_back(std::move(row));
        return true;
      },
      includeDeleted, deletedOnly, true, 0);
  return rows;
}

std::vector<TreeRow> MountedCard::ListRoot() { return List(*drive_->RootItem, false, false); }

std::vector<TreeRow> MountedCard::ListDeleted() { return List(*drive_->DeletedItem, true, true); }

const Report& MountedCard::ListProblems() const { return drive_->FoldersNotRead; }

TreeSave MountedCard::SaveTree(const std::filesystem::path& dest, bool deletedOnly,
                               bool replaceAll) {
  TreeSave result;
  driver_->StopRequestedFlag = false;
  const size_t before = drive_->SaveProblems.Problems().size();
  OutputFiles& files = driver_->Context().files();
  LimitOutputToCard(driver_->Context(), source_.params.TotalBytes);
  bool replaceAnswer = replaceAll;
  result.completed = drive_->SaveDirectory(static_cast<TFATDirectory&>(*drive_->RootItem), dest,
                                           /*recurse=*/true, /*includeDeleted=*/true, deletedOnly,
                                           drive_->UseFAT(), replaceAll, replaceAnswer);
  if (files.LimitRefused()) {
    result.completed = false;
    result.problems.Abort("it had written more than the card holds, and writing on was not allowed");
  }
  files.Unlimit();
  result.folder = drive_->RootItem->Name;
  const auto& all = drive_->SaveProblems.Problems();
  for (size_t i = before; i < all.size(); ++i) result.problems.Add(all[i]);
  return result;
}

void MountedCard::Stop() { driver_->StopScan(); }

}  // namespace kestrella
