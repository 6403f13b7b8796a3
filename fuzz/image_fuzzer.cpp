// The input is a card: a FAT volume or a whole disk with a partition table.
// Everything the two front ends do with a card runs on it: the analysis
// counts, the folder route with deleted files and the lost-cluster hunt
// (which saves what it finds), saving the whole folder tree, and on the
// whole disk the partition walk and the search for lost drives. The Root
// and Deleted trees are walked as the listing shows them.
#include <memory>

#include "app/ffatscan.h"
#include "compat/drivenumbers.h"
#include "devices/device.h"
#include "diskio/bootsector.h"
#include "diskio/drivetable.h"
#include "diskio/enginecontext.h"
#include "diskio/pdiskio.h"
#include "fat/fatdrive.h"
#include "fat/fatdrivelist.h"
#include "fat/fatnodes.h"
#include "util/helpers.h"
#include "fuzzsupport.h"

using namespace kestrella;

namespace {

fuzz::Sandbox& Box() {
  static fuzz::Sandbox box;
  return box;
}

// What the listing shows of every node: its path, names, size and time.
void List(TCustomNode* start, bool includeDeleted, bool deletedOnly) {
  auto* dir = dynamic_cast<TFATDirectory*>(start);
  if (dir == nullptr) return;
  std::size_t text = 0;
  dir->ForEachChild(
      [&](TCustomNode& node, intptr_t) {
        if (auto* d = dynamic_cast<TFATDirectory*>(&node)) {
          text += d->GetPath(dir).size() + ReplaceDeletedChar(d->Utf8Name).size();
        } else if (auto* f = dynamic_cast<TFATFile*>(&node)) {
          text += f->GetPath(dir).size() + ReplaceDeletedChar(f->Utf8Name).size() +
                  f->OutputName().size() + fsTimeDate2Str(f->Time, f->Date).size();
        }
        return true;
      },
      includeDeleted, deletedOnly, true, 0);
  (void)text;
}

void FolderRoute(EngineContext& context, uint8_t drive, const std::filesystem::path& out) {
  TFrmFATScan driver(context);
  driver.DestFolder = out.string();
  int32_t files = 0, folders = 0;
  driver.AnalyzeTotalFile(drive, true, true, true, files, folders);
  driver.ScanDrive(drive, true, true, true);
  if (auto* fat = dynamic_cast<TFATdrive*>(driver.Drive)) {
    List(fat->RootItem.get(), true, false);
    List(fat->DeletedItem.get(), true, true);
    // The route ends by raising the stop flag; the tree save is a new job.
    driver.StopRequestedFlag = false;
    bool replaceAll = true, replaceAnswer = true;
    fat->SaveDirectory(static_cast<TFATDirectory&>(*fat->RootItem), out / "tree", true, true, false,
                       fat->UseFAT(), replaceAll, replaceAnswer);
  }
}

void WholeDisk(EngineContext& context, const std::string& path) {
  uint8_t bios = 0;
  for (const auto& [number, disk] : context.drives().PhysicalDisks())
    if (disk == path && IsHardDiskBiosNumber(number)) bios = number;
  TPhysDriveParams params;
  if (bios == 0 || !PhysicalSectorAccess(context).GetPhysDriveParams(bios, params)) return;

  TFrmFATScan driver(context);
  auto device = std::make_unique<TDevice>(context);
  device->Kind = kDevicePhysical;
  device->DriveNumber = bios;
  device->TotalSectors = params.TotalSectors;
  device->BytesPerSector = params.BytesPerSector;
  std::vector<uint8_t> sector0(params.BytesPerSector);
  device->Partitioned =
      device->ReadSec(0, 1, sector0.data(), false) && ProbeFatBootSector(sector0.data(), sector0.size()).empty()
          ? 1 : 0;
  TDevice& dev = *device;
  driver.DeviceList->DeviceItems.push_back(std::move(device));
  DetectDrives(*driver.DriveList(), dev);
  if (dev.TotalSectors > 0)
    FindLostDrives(driver, dev, driver.DeviceList.get(), 0, dev.TotalSectors32() - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Sandbox& box = Box();
  {
    fuzz::FuzzEngine engine(box);
    EngineContext& context = engine.context;
    box.Load(fuzz::ShapeImage(data, size), context.drives());
    // The image itself, then each of its partitions under their own letters.
    std::vector<uint8_t> letters;
    for (const DriveEntry& e : context.drives().Drives()) letters.push_back(e.number);
    for (uint8_t letter : letters) FolderRoute(context, letter, box.Out());
    WholeDisk(context, box.Image().string());
  }
  // The engine is gone with every handle it held.
  box.CheckAndClean();
  return 0;
}
