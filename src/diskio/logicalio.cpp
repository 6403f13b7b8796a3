#include "diskio/logicalio.h"

#include <algorithm>
#include <cerrno>

#include "diskio/enginecontext.h"

namespace kestrella {

namespace {

SourceWindow WindowOf(const DriveSource& source) { return {source.offsetBytes, source.lengthBytes}; }

}  // namespace

uint32_t LogicalSectorAccess::ChunkSectors() const {
  if (params_.BytesPerSector == 0) return traits_.chunkSectors;
  // Larger sectors than the buffer was sized for get fewer per call.
  return std::max<uint32_t>(1, std::min(traits_.chunkSectors,
                                        traits_.bufferBytes / params_.BytesPerSector));
}

bool LogicalSectorAccess::NT_OpenDrive(uint8_t drive, bool forRead) {
  const DriveEntry* entry = context_.drives().Find(drive);
  // A rescan or a new image may give the letter to another source while the
  // handle is open; the handle serves only the source the letter names now.
  // Partitions of one image share its path and differ by their window.
  if (handle_ && handleDrive_ == drive && handleForRead_ == forRead && entry != nullptr &&
      handle_->Path() == entry->source.path && handle_->Window() == WindowOf(entry->source)) {
    // The path may name another medium by now (a card swapped in the
    // reader, an image replaced): it is read through a new handle, with
    // its own parameters.
    if (handle_->StillCurrent()) return true;
    // Writes go only to the medium they were opened for: a handle for
    // writing is not opened anew behind the user's back, it fails until
    // it is closed.
    if (!forRead) {
      errno = ENOMEDIUM;
      return false;
    }
  }
  handle_.reset();
  handleDrive_ = drive;
  handleForRead_ = forRead;
  if (entry == nullptr) return false;
  handle_ = context_.opener().Open(entry->source.path, forRead, traits_.writeThrough,
                                   WindowOf(entry->source));
  if (!handle_) return false;
  if (forRead) ++openings_;
  // The parameters are refreshed at every (re)open, so a new card in the
  // reader is noticed at the next open.
  params_ = TLogDriveParams{};
  GetLogDriveParams(drive, params_);
  return true;
}

uint32_t LogicalSectorAccess::Opening(uint8_t drive) {
  if (handle_ && handleDrive_ == drive && handleForRead_) NT_OpenDrive(drive, true);
  return openings_;
}

bool LogicalSectorAccess::NT_CloseDrive() {
  handle_.reset();
  handleDrive_ = 0;
  return true;
}

bool LogicalSectorAccess::ReadLogicalSectors(uint8_t drive, uint64_t sector, uint16_t count,
                                             void* buffer) {
  if (!NT_OpenDrive(drive, true)) return false;
  const uint32_t bps = params_.BytesPerSector;
  if (bps == 0) return false;
  const uint32_t chunk = ChunkSectors();
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t offset = sector * bps;
  uint32_t remaining = count;
  while (remaining > 0) {
    const uint32_t n = std::min(remaining, chunk);
    const size_t bytes = static_cast<size_t>(n) * bps;
    // A short read (past the end of the medium) fails the whole call.
    if (!handle_->ReadAt(offset, out, bytes)) return false;
    out += bytes;
    offset += bytes;
    remaining -= n;
  }
  return true;
}

bool LogicalSectorAccess::WriteLogicalSectors(uint8_t drive, uint64_t sector, uint16_t count,
                                              const void* buffer) {
  if (!NT_OpenDrive(drive, false)) return false;
  const uint32_t bps = params_.BytesPerSector;
  if (bps == 0) return false;
  return handle_->WriteAt(sector * bps, buffer,
                         static_cast<size_t>(count) * bps);
}

int LogicalSectorAccess::OpenForWriting(uint8_t drive) {
  errno = 0;
  if (NT_OpenDrive(drive, false)) return 0;
  return errno != 0 ? errno : EIO;
}

bool LogicalSectorAccess::FlushWrites(uint8_t drive) {
  if (!handle_ || handleDrive_ != drive || handleForRead_) {
    errno = EBADF;
    return false;
  }
  return handle_->Sync();
}

bool LogicalSectorAccess::GetLogDriveParams(uint8_t drive, TLogDriveParams& params) {
  const DriveEntry* entry = context_.drives().Find(drive);
  if (entry == nullptr) return false;
  auto query = context_.opener().OpenForQuery(entry->source.path, WindowOf(entry->source));
  if (!query) return false;

  uint64_t bytes = 0;
  uint32_t sectorSize = 0;
  const bool sized = query->QuerySize(bytes, sectorSize);

  if (entry->source.rootType == RootKind::CDROM) {
    params = TLogDriveParams{};
    params.DriveType = DriveKind::CDROM;
    params.Removable = 1;
    params.BytesPerSector = 2048;
    if (!traits_.askOpticalSize) return true;
    if (!sized || sectorSize == 0 || bytes == 0) {
      params.TotalSectors = 358400;  // the size of a full CD
      return false;
    }
    params.BytesPerSector = sectorSize;
    SetSize(params, bytes, sectorSize);
    SynthesiseGeometry(params, params.TotalSectors);
    return true;
  }

  // No medium (an empty card reader answers with size 0): not ready.
  if (!sized || sectorSize == 0 || bytes == 0) return false;
  params.Removable = 0;
  params.BytesPerSector = sectorSize;
  // The exact size, not whole cylinders: the sectors past the last whole
  // cylinder hold photos too.
  SetSize(params, bytes, sectorSize);
  SynthesiseGeometry(params, params.TotalSectors);
  if (entry->source.floppy) {
    params.DriveType = DriveKind::Floppy;
    params.Removable = 1;
  } else if (entry->source.removable) {
    params.DriveType = DriveKind::Removable;
    params.Removable = 1;
  } else {
    params.DriveType = DriveKind::Fixed;
  }
  return true;
}

}  // namespace kestrella
