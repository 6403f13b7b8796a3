#include "fat/fatstream.h"

#include <limits>

namespace kestrella {

TFATStream::TFATStream(TFATdrive& drive, uint32_t firstCluster, uint32_t size, uint8_t useFAT)
    : size_(size), firstCluster_(firstCluster), drive_(&drive), useFAT_(useFAT) {
  drive_->ResetByCluster(firstCluster, size, info_);
}

TFATStream::~TFATStream() { drive_->Close(info_); }

uint32_t TFATStream::read(void* buffer, uint32_t count) {
  uint32_t got = 0;
  if (!drive_->BlockRead(info_, count, static_cast<uint8_t*>(buffer), useFAT_, got)) return 0;
  position_ = info_.Position;
  return got;
}

int64_t TFATStream::seek(int64_t offset, int origin) {
  int64_t target;
  switch (origin) {
    case 0: target = offset; break;
    case 1: target = position_ + offset; break;
    case 2: target = size_ + offset; break;
    default: return position_;
  }
  position_ = target;
  DriveSeek(target);
  return position_;
}

bool TFATStream::SetPosition(int64_t position) {
  if (!DriveSeek(position)) return false;
  position_ = position;
  return true;
}

bool TFATStream::DriveSeek(int64_t position) {
  // Positions a 32-bit file cannot have are refused without asking the drive.
  if (position < 0 || position > std::numeric_limits<uint32_t>::max()) return false;
  return drive_->Seek(info_, static_cast<uint32_t>(position), useFAT_);
}

}  // namespace kestrella
