#include "diskio/pdiskio.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "compat/drivenumbers.h"
#include "diskio/enginecontext.h"

namespace kestrella {

namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kChunkBytes = 65536;

// Abort, Retry or Ignore for a failed transfer.
MsgResult AskAboutError(UserInterface& ui, bool write, int error, uint8_t drive, uint64_t sector,
                        uint16_t count) {
  std::string text = "error no." + std::to_string(error) + "\r\n" + "drv:" + std::to_string(drive) +
                     " LBA:" + std::to_string(sector) + " blocks:" + std::to_string(count) +
                     "\r\n\r\n" + "Abort, Retry or Ignore?";
  return ui.MessageBox(text, write ? "NT_write error" : "NT_read error", MsgIcon::Warning,
                       MsgButtons::AbortRetryIgnore);
}

}  // namespace

bool PhysicalSectorAccess::NT_OpenDrive(uint8_t drive, bool forRead) {
  auto path = context_.drives().PhysicalDiskPath(drive);
  // The number may name another disk since the handle was opened (a rescan),
  // and the path another medium (a card swapped in the reader); a handle
  // for writing fails then instead of writing to a medium nobody chose.
  if (handle_ && drive_ == drive && forRead_ == forRead && path && handle_->Path() == *path) {
    if (handle_->StillCurrent()) return true;
    if (!forRead) {
      errno = ENOMEDIUM;
      return false;
    }
  }
  handle_.reset();
  drive_ = drive;
  forRead_ = forRead;
  if (!path) return false;
  handle_ = context_.opener().Open(*path, forRead, /*writeThrough=*/true, SourceWindow{});
  if (handle_ && forRead) ++openings_;
  return handle_ != nullptr;
}

uint32_t PhysicalSectorAccess::Opening(uint8_t drive) {
  if (handle_ && drive_ == drive && forRead_) NT_OpenDrive(drive, true);
  return openings_;
}

template <typename Transfer, typename Ignored>
bool PhysicalSectorAccess::Chunked(bool write, uint8_t drive, uint64_t sector, uint16_t count,
                                   bool showErrors, Transfer transfer, Ignored ignored) {
  if (!NT_OpenDrive(drive, !write)) return false;
  uint64_t done = 0;
  const uint64_t total = static_cast<uint64_t>(count) * kSectorSize;
  const uint64_t start = sector * kSectorSize;
  while (done < total) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(total - done, kChunkBytes));
    for (;;) {
      if (transfer(*handle_, start + done, done, chunk)) break;
      const int error = errno;
      if (!showErrors) return false;
      MsgResult answer = AskAboutError(context_.ui(), write, error, drive, sector, count);
      if (answer == MsgResult::Retry) continue;
      if (answer == MsgResult::Ignore) {
        ignored(done, chunk);
        break;
      }
      return false;
    }
    done += chunk;
  }
  return true;
}

bool PhysicalSectorAccess::ReadPhysicalSectors(uint8_t drive, uint64_t sector, uint16_t count,
                                               void* buffer, bool showErrors) {
  auto* out = static_cast<uint8_t*>(buffer);
  return Chunked(
      false, drive, sector, count, showErrors,
      [out](SectorSource& h, uint64_t offset, uint64_t at, size_t n) { return h.ReadAt(offset, out + at, n); },
      [this, out](uint64_t at, size_t n) {
        std::fill_n(out + at, n, uint8_t{0});
        ignoredRead_ = true;
      });
}

bool PhysicalSectorAccess::WritePhysicalSectors(uint8_t drive, uint64_t sector, uint16_t count,
                                                const void* buffer, bool showErrors) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  return Chunked(
      true, drive, sector, count, showErrors,
      [in](SectorSource& h, uint64_t offset, uint64_t at, size_t n) { return h.WriteAt(offset, in + at, n); },
      [](uint64_t, size_t) {});
}

bool PhysicalSectorAccess::GetPhysDriveParams(uint8_t drive, TPhysDriveParams& params) {
  auto path = context_.drives().PhysicalDiskPath(drive);
  if (!path) return false;
  auto query = context_.opener().OpenForQuery(*path, SourceWindow{});
  if (!query) return false;
  uint64_t bytes = 0;
  uint32_t sectorSize = 0;
  if (!query->QuerySize(bytes, sectorSize) || bytes == 0) return false;
  params.Removable = 0;
  params.BytesPerSector = kSectorSize;
  SetSize(params, bytes, kSectorSize);
  SynthesiseGeometry(params, params.TotalSectors);
  const DriveEntry* entry = context_.drives().FindByPath(*path);
  const bool floppy = IsFloppyBiosNumber(drive);
  const bool removable = floppy || (entry != nullptr && entry->source.removable);
  if (floppy) {
    params.DriveType = DriveKind::Floppy;
  } else {
    params.DriveType = removable ? DriveKind::Removable : DriveKind::Fixed;
  }
  if (removable) params.Removable = 1;
  return true;
}

void PhysicalSectorAccess::CloseDrive() {
  handle_.reset();
  drive_ = 0;
}

}  // namespace kestrella
