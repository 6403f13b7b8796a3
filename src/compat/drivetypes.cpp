#include "compat/drivetypes.h"

namespace kestrella {

MediaKind MediaOfRoot(RootKind root) {
  switch (root) {
    case RootKind::Removable: return MediaKind::Removable;
    case RootKind::Fixed: return MediaKind::Fixed;
    case RootKind::Remote: return MediaKind::Remote;
    case RootKind::CDROM: return MediaKind::CDROM;
    case RootKind::RamDisk: return MediaKind::RamDisk;
    default: return MediaKind::Unknown;
  }
}

MediaKind MediaOfDrive(DriveKind drive) {
  switch (drive) {
    case DriveKind::Floppy: return MediaKind::Floppy;
    case DriveKind::Removable: return MediaKind::Removable;
    case DriveKind::Fixed: return MediaKind::Fixed;
    default: return MediaKind::Unknown;
  }
}

}  // namespace kestrella
