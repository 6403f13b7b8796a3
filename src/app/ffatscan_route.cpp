// The folder route of the scan driver: finding the FAT drive behind a drive
// letter, collecting what its trees hold, hunting lost clusters, and handing
// every recoverable file over.
#include <exception>

#include "app/ffatscan.h"
#include "detect/fileend.h"
#include "fat/fatdrive.h"
#include "fat/fatdrivelist.h"
#include "fat/fatnodes.h"

namespace kestrella {

TDevice* TFrmFATScan::GetWindowsDrive(uint8_t drive) { return DeviceList->GetWindowsDrive(drive); }

void TFrmFATScan::FindLostData() {
  if (auto* fat = dynamic_cast<TFATdrive*>(Drive)) fat->FindLostData();
}

TFATdrive* TFrmFATScan::OpenFatDrive(uint8_t drive) {
  // The analysis counts and the route that follows read one mount of the
  // card: mounting it afresh for each would measure the device's cache and
  // read its boot sector and tables again, three times per Start.
  if (auto* mounted = dynamic_cast<TFATdrive*>(Drive); mounted != nullptr && mountedDrive_ == drive)
    return mounted;
  CloseDrive();
  TDevice* device = GetWindowsDrive(drive);
  if (device == nullptr) return nullptr;
  Device = device;
  TFATdrive* fat = GetFATDrive(*DriveListItems, *device);
  if (fat == nullptr) return nullptr;
  Drive = fat;
  Device = fat->Device;
  fat->SetSkipOption(SkipOption ? 1 : 0);
  fat->OnFoundFile = [this](TFATFile& file) { AddRecoverFile(file); };
  mountedDrive_ = drive;
  return fat;
}

void TFrmFATScan::CloseDrive() {
  Drive = nullptr;
  Device = nullptr;
  mountedDrive_ = 0;
  // Drives refer to the devices they sit on: they go first.
  if (DriveListItems) DriveListItems->clear();
  if (DeviceList) DeviceList->clear();
}

bool TFrmFATScan::HandOverSearched(TFATdrive& fat) {
  ProcessMessages();
  // Handing over never adds to the list, so its size is fixed here.
  TNodeList& searched = *fat.SearchedItem->Nodes;
  const size_t count = searched.size();
  bool all = true;
  for (size_t i = 0; i < count && all; ++i) {
    ProcessMessages();
    if (StopRequestedFlag) all = false;
    else if (auto* file = dynamic_cast<TFATFile*>(searched[i].get())) AddRecoverFile(*file);
  }
  // The copies were made for the hand-over only, and the run's list now
  // holds what the save step needs of them: kept, they would double what a
  // card of many found files costs until the run ends.
  fat.SearchedItem->DeleteChildren();
  searched.clear();
  return all;
}

bool TFrmFATScan::ScanDrive(uint8_t drive, bool recoverExisting, bool recoverDeleted,
                            bool recoverLost) {
  StopRequestedFlag = false;
  SaveProblems.Clear();
  try {
    TFATdrive* fat = OpenFatDrive(drive);
    if (fat == nullptr) {
      // Nothing to go by: a run that found nothing here has not looked.
      SaveProblems.Abort("no FAT file system was found on the drive; the folder route needs one "
                         "(the signature scan does not)");
      return false;
    }
    // Lost files found by their first bytes end where their data does.
    if (CutAtEnd) fat->EndFinders = [](std::string_view kind) { return MakeEndFinder(kind); };
    else fat->EndFinders = nullptr;
    fat->FindFiles(recoverExisting, recoverDeleted, false);
    if (!HandOverSearched(*fat)) return false;
    ProcessMessages();
    if (StopRequestedFlag) return false;
    if (recoverLost) {
      FindLostData();
      ProcessMessages();
      if (StopRequestedFlag) return false;
      // Lost picture files were handed over the moment they were found;
      // this picks up any the search listed without handing over.
      fat->FindFiles(false, false, true);
      if (!HandOverSearched(*fat)) return false;
    }
    // Folders the walks could not enter: their files were never looked for.
    SaveProblems.Merge(fat->FoldersNotRead);
  } catch (const std::exception& e) {
    // A failure deep in the FAT layer ends the route; what was saved stays,
    // and the user hears why the rest is missing.
    SaveProblems.Abort(e.what());
  }
  Position = Max;
  if (OnScanProgress) OnScanProgress(Position);
  ProcessMessages();
  StopRequestedFlag = true;
  return false;
}

bool TFrmFATScan::AnalyzeTotalFile(uint8_t drive, bool countExisting, bool countDeleted,
                                   bool countLost, int32_t& files, int32_t& folders) {
  StopRequestedFlag = false;
  files = 0;
  folders = 0;
  bool counted = false;
  try {
    TFATdrive* fat = OpenFatDrive(drive);
    if (fat == nullptr) return false;
    fat->AnalyzeTotalFile(countExisting, countDeleted, countLost, files, folders);
    counted = true;
  } catch (const std::exception&) {
    counted = false;
  }
  ProcessMessages();
  StopRequestedFlag = true;
  return counted;
}

}  // namespace kestrella
