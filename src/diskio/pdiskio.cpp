#include "diskio/pdiskio.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "diskio/drivetable.h"
#include "diskio/sourcefile.h"
#include "util/userinterface.h"

namespace kestrella::pdiskio {

bool OptUseINT13 = true;
bool OptUseINT13EXT = true;

namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kChunkBytes = 65536;

struct Module {
  SourceFile handle;
  uint8_t drive = 0;
  bool forRead = false;
};

Module& State() {
  static Module m;
  return m;
}

bool NT_OpenDrive(uint8_t drive, bool forRead) {
  Module& m = State();
  auto path = Drives().PhysicalDiskPath(drive);
  // The number may name another disk since the handle was opened (a rescan).
  if (m.handle.IsOpen() && m.drive == drive && m.forRead == forRead && path &&
      m.handle.Path() == *path)
    return true;
  m.handle.Close();
  m.drive = drive;
  m.forRead = forRead;
  if (!path) return false;
  return m.handle.Open(*path, forRead, /*writeThrough=*/true);
}

// Abort, Retry or Ignore for a failed transfer.
MsgResult AskAboutError(bool write, int error, uint8_t drive, uint32_t sector, uint16_t count) {
  std::string text = "error no." + std::to_string(error) + "\r\n" + "drv:" + std::to_string(drive) +
                     " LBA:" + std::to_string(sector) + " blocks:" + std::to_string(count) +
                     "\r\n\r\n" + "Abort, Retry or Ignore?";
  return ui().MessageBox(text, write ? "NT_write error" : "NT_read error", MsgIcon::Warning,
                         MsgButtons::AbortRetryIgnore);
}

template <typename Transfer>
bool Chunked(bool write, uint8_t drive, uint32_t sector, uint16_t count, bool showErrors,
             Transfer transfer) {
  if (!NT_OpenDrive(drive, !write)) return false;
  uint64_t done = 0;
  const uint64_t total = static_cast<uint64_t>(count) * kSectorSize;
  const uint64_t start = static_cast<uint64_t>(sector) * kSectorSize;
  while (done < total) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(total - done, kChunkBytes));
    for (;;) {
      if (transfer(start + done, done, chunk)) break;
      const int error = errno;
      if (!showErrors) return false;
      MsgResult answer = AskAboutError(write, error, drive, sector, count);
      if (answer == MsgResult::Retry) continue;
      if (answer == MsgResult::Ignore) break;
      return false;
    }
    done += chunk;
  }
  return true;
}

}  // namespace

bool ReadPhysicalSectors(uint8_t drive, uint32_t sector, uint16_t count, void* buffer,
                         bool showErrors) {
  auto* out = static_cast<uint8_t*>(buffer);
  return Chunked(false, drive, sector, count, showErrors,
                 [out](uint64_t offset, uint64_t at, size_t n) {
                   return State().handle.ReadAt(offset, out + at, n);
                 });
}

bool WritePhysicalSectors(uint8_t drive, uint32_t sector, uint16_t count, const void* buffer,
                          bool showErrors) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  return Chunked(true, drive, sector, count, showErrors,
                 [in](uint64_t offset, uint64_t at, size_t n) {
                   return State().handle.WriteAt(offset, in + at, n);
                 });
}

bool GetPhysDriveParams(uint8_t drive, TPhysDriveParams& params) {
  auto path = Drives().PhysicalDiskPath(drive);
  if (!path) return false;
  SourceFile query;
  if (!query.OpenForQuery(*path)) return false;
  uint64_t bytes = 0;
  uint32_t sectorSize = 0;
  if (!query.QuerySize(bytes, sectorSize) || bytes == 0) return false;
  params.Removable = 0;
  params.BytesPerSector = kSectorSize;
  const uint64_t total = bytes / kSectorSize;
  params.TotalSectors = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
  SynthesiseGeometry(params, total);
  const DriveEntry* entry = Drives().FindByPath(*path);
  const bool floppy = drive < 0x80;
  const bool removable = floppy || (entry != nullptr && entry->source.removable);
  if (floppy) {
    params.DriveType = kDriveFloppy;
  } else {
    params.DriveType = removable ? kDriveRemovable : kDriveFixed;
  }
  if (removable) params.Removable = 1;
  return true;
}

void CloseDrive() {
  State().handle.Close();
  State().drive = 0;
}

}  // namespace kestrella::pdiskio
