#include "app/analysis.h"

namespace kestrella {

TRouteProposal AnalyzeDrive(TFrmFATScan& driver, uint8_t drive,
                            const std::function<bool()>& cancelled) {
  TRouteProposal p;
  // A Start mounts the card afresh; the route after this reuses the mount.
  driver.CloseDrive();
  auto isCancelled = [&] { return cancelled && cancelled(); };
  // Live folders are counted only to choose the route: a card whose folders
  // still stand is read through them. The user is told the deleted ones.
  int32_t liveFolders = 0, deletedFolders = 0, files = 0;
  if (!isCancelled()) {
    int32_t f = 0, d = 0;
    driver.AnalyzeTotalFile(drive, true, false, false, f, d);
    liveFolders = d;
  }
  if (!isCancelled()) {
    int32_t f = 0, d = 0;
    driver.AnalyzeTotalFile(drive, false, true, false, f, d);
    deletedFolders = d;
    files = f;
  }
  if (isCancelled()) {
    p.Cancelled = true;
    return p;
  }
  p.Folders = deletedFolders;
  p.Files = files;
  p.FolderMethod = !(liveFolders == 0 && deletedFolders == 0 && files == 0);
  p.RecoverDeletedFiles = files != 0;
  p.RecoverLostFiles = files == 0;
  return p;
}

}  // namespace kestrella
