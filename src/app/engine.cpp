#include "app/engine.h"

#include <algorithm>

#include "diskio/bootsector.h"

namespace kestrella {

bool Engine::DriveParams(uint8_t drive, TLogDriveParams& params) {
  return context_.diskutils().GetLogDriveParams(drive, params);
}

std::optional<FileSystemFound> Engine::FileSystemAt(uint8_t drive) {
  TLogDriveParams params;
  if (!DriveParams(drive, params)) return std::nullopt;
  std::vector<uint8_t> sector(std::max<uint32_t>(params.BytesPerSector, 512));
  const bool read = context_.diskutils().ReadLogicalSectors(drive, 0, 1, sector.data());
  ReleaseDrive();
  if (!read) return std::nullopt;
  FileSystemFound found;
  found.type = ProbeFatBootSector(sector.data(), sector.size());
  if (!found.type.empty()) {
    // The label field of the extended parameter block: FAT32's sits further in.
    const size_t at = found.type == "FAT32" ? 71 : 43;
    found.label.assign(reinterpret_cast<const char*>(&sector[at]), 11);
    while (!found.label.empty() && (found.label.back() == ' ' || found.label.back() == '\0'))
      found.label.pop_back();
  }
  return found;
}

}  // namespace kestrella
