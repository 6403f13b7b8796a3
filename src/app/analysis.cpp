#include "app/analysis.h"

namespace kestrella {

TRouteProposal AnalyzeDrive(TFrmFATScan& driver, uint8_t drive,
                            const std::function<bool()>& cancelled) {
  TRouteProposal p;
  // A Start mounts the card afresh; the route after this reuses the mount.
  driver.CloseDrive();
  auto isCancelled = [&] { return cancelled && cancelled(); };
  int32_t folders = 0, files = 0;
  if (!isCancelled()) {
    int32_t f = 0, d = 0;
    driver.AnalyzeTotalFile(drive, true, false, false, f, d);
    folders = d;
  }
  if (!isCancelled()) {
    int32_t f = 0, d = 0;
    driver.AnalyzeTotalFile(drive, false, true, false, f, d);
    folders += d;
    files = f;
  }
  if (isCancelled()) {
    p.Cancelled = true;
    return p;
  }
  p.Folders = folders;
  p.Files = files;
  p.FolderMethod = !(folders == 0 && files == 0);
  p.RecoverDeletedFiles = files != 0;
  p.RecoverLostFiles = files == 0;
  return p;
}

}  // namespace kestrella
