// The input is a stretch of a card whose boot sector may be gone. Every
// sector goes through the structure analyser's sector stream, in order, as
// the lost-drive search feeds it; a volume it rebuilds is then listed. The
// analyser's single-buffer tests that the stream does not call itself run on
// every sector as well.
#include "devices/device.h"
#include "diskio/bootsector.h"
#include "fat/fatanalyser.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"
#include "fuzzsupport.h"

using namespace kestrella;

namespace {

fuzz::Sandbox& Box() {
  static fuzz::Sandbox box;
  return box;
}

void BufferTests(const uint8_t* sector, uint32_t size) {
  LooksLikeBootSector(sector, size);
  TFATAnalyser::IsRootB(sector, size);
  uint32_t cluster = 0;
  TFATAnalyser::IsDirB(sector, size, cluster);
  for (uint8_t type : {kFat12, kFat16, kFat32}) TFATAnalyser::IsFATbeginB(sector, size, type);
  TFATAnalyser::DirEntriesValidB(sector, size, 0xFFF5, 4096);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Sandbox& box = Box();
  const std::vector<uint8_t> image = fuzz::ShapeImage(data, size);
  {
    fuzz::FuzzEngine engine(box);
    TDevice device(engine.context);
    device.DriveNumber = box.Load(image, engine.context.drives());
    device.Kind = kDeviceLogical;
    device.TotalSectors = static_cast<uint32_t>(image.size() / 512);
    device.BytesPerSector = 512;
    // The rebuilt drives sit on the device: the analyser goes first.
    TFATAnalyser analyser;
    analyser.AnalyseSecStart(device);
    std::vector<uint8_t> sector(512);
    for (uint32_t i = 0; i < device.TotalSectors; ++i) {
      if (!device.ReadSec(i, 1, sector.data(), false)) break;
      BufferTests(sector.data(), 512);
      analyser.AnalyseSec(device, i, sector.data(), 512);
    }
    analyser.AnalyseSecStop();
    for (auto& drive : analyser.Rebuilt) {
      if (drive->RootItem == nullptr) continue;
      static_cast<TFATDirectory&>(*drive->RootItem)
          .ForEachChild([](TCustomNode&, intptr_t) { return true; }, true, false, true, 0);
    }
  }
  // The engine is gone with every handle it held.
  box.CheckAndClean();
  return 0;
}
