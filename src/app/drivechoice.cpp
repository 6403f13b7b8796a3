#include "app/drivechoice.h"

#include <algorithm>
#include <filesystem>

#include "diskio/systemdisk.h"

namespace kestrella {

namespace {

// A card reader with a card, a USB stick or an image file: what people
// recover from. A floppy drive reports its size with or without a disk in
// it, and optical drives are left to be picked by hand.
bool RemovableWithMedium(const DriveSource& s) {
  return !s.systemDisk && !s.floppy && s.rootType == RootKind::Removable && s.sizeBytes > 0;
}

int ListGroup(const DriveSource& s) {
  if (s.systemDisk) return 2;
  return RemovableWithMedium(s) ? 0 : 1;
}


}  // namespace

std::vector<const DriveEntry*> DriveListOrder(const std::vector<DriveEntry>& drives) {
  std::vector<const DriveEntry*> out;
  for (const DriveEntry& e : drives) out.push_back(&e);
  std::stable_sort(out.begin(), out.end(), [](const DriveEntry* a, const DriveEntry* b) {
    const int ga = ListGroup(a->source), gb = ListGroup(b->source);
    return ga != gb ? ga < gb : a->number < b->number;
  });
  return out;
}

uint8_t PreferredDrive(const std::vector<DriveEntry>& drives) {
  const std::vector<const DriveEntry*> ordered = DriveListOrder(drives);
  auto first = [&](auto&& wanted) -> uint8_t {
    for (const DriveEntry* e : ordered)
      if (wanted(e->source)) return e->number;
    return 0;
  };
  if (const uint8_t d = first(RemovableWithMedium)) return d;
  if (const uint8_t d = first([](const DriveSource& s) { return s.isImage; })) return d;
  if (const uint8_t d = first([](const DriveSource& s) { return !s.systemDisk; })) return d;
  return ordered.empty() ? 0 : ordered.front()->number;
}

std::string DriveListText(const DriveEntry& drive) {
  std::string text = drive.RootPath() + " " + drive.Caption();
  if (drive.source.systemDisk) text += " (system disk)";
  if (drive.source.readOnly) text += " (write-protected)";
  return text;
}

std::vector<std::string> BlockDeviceSnapshot(const std::string& sysClassBlock) {
  namespace fs = std::filesystem;
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(sysClassBlock, ec)) {
    out.push_back(e.path().filename().string() + " " + ReadSysText(e.path() / "size") + " " +
                  ReadSysText(e.path() / "ro"));
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace kestrella
