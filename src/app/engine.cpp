#include "app/engine.h"

#include <algorithm>

#include "fat/bootprobe.h"

namespace kestrella {

bool Engine::DriveParams(uint8_t drive, TLogDriveParams& params) {
  return context_.diskutils().GetLogDriveParams(drive, params);
}

std::optional<std::string> Engine::FileSystemAt(uint8_t drive) {
  TLogDriveParams params;
  if (!DriveParams(drive, params)) return std::nullopt;
  std::vector<uint8_t> sector(std::max<uint32_t>(params.BytesPerSector, 512));
  const bool read = context_.diskutils().ReadLogicalSectors(drive, 0, 1, sector.data());
  ReleaseDrive();
  if (!read) return std::nullopt;
  return ProbeFatBootSector(sector.data(), sector.size());
}

}  // namespace kestrella
