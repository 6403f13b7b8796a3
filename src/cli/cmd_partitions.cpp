// kestrella-cli partitions: the FAT drives on a whole disk or card image, and
// the search for volumes no partition table lists any more.
#include <cstdio>
#include <memory>
#include <optional>

#include "app/ffatscan.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/runsupport.h"
#include "cli/source.h"
#include "diskio/bootsector.h"
#include "diskio/pdiskio.h"
#include "fat/fatdrivelist.h"

namespace kestrella::cli {

const char* const kPartitionsHelp =
    "usage: kestrella-cli partitions SOURCE [--lost-drives FIRST LAST]\n"
    "\n"
    "Lists the FAT drives of SOURCE: the partitions of its partition table\n"
    "(extended partitions followed), or the one volume of a card without a table.\n"
    "With --lost-drives, sectors FIRST to LAST are also searched for boot sectors\n"
    "of volumes no table lists (\"(lost)\"), and for volumes whose boot sector is\n"
    "gone, rebuilt from their allocation tables and folders (\"without BootSec\").\n";

namespace {

std::string TypeOf(const TFATdrive& d) {
  switch (d.FATType) {
    case kFat12: return "FAT12";
    case kFat16: return "FAT16";
    case kFat32: return "FAT32";
    default: return "?";
  }
}

void PrintDrive(const TCustomDrive& drive) {
  const auto* fat = dynamic_cast<const TFATdrive*>(&drive);
  std::string name = drive.Name;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  std::printf("  start %10u  sectors %10u  %-6s %s\n", drive.StartSector, drive.SectorCount,
              fat != nullptr ? TypeOf(*fat).c_str() : "", name.c_str());
}

}  // namespace

int RunPartitions(const std::vector<std::string>& args) {
  OptionSpec spec;
  spec.withValue = {"--lost-drives"};
  Options opts(args, spec);
  // --lost-drives takes two values: the second arrives as a positional one.
  std::vector<std::string> positional = opts.Positional();
  std::optional<long long> first, last;
  if (auto v = opts.Value("--lost-drives")) {
    if (positional.size() != 2) throw UsageError("--lost-drives needs FIRST and LAST");
    try {
      first = std::stoll(*v);
      last = std::stoll(positional[1]);
    } catch (...) {
      throw UsageError("--lost-drives needs two sector numbers");
    }
    if (*first < 0 || *last < *first || *last > UINT32_MAX)
      throw UsageError("--lost-drives needs 0 <= FIRST <= LAST");
    positional.pop_back();
  }
  if (positional.size() != 1) throw UsageError("partitions needs exactly one SOURCE");
  const OpenedSource src = OpenSource(positional[0]);

  // The whole disk behind the source, read by its BIOS number.
  uint8_t bios = 0;
  bool found = false;
  for (const auto& [number, path] : Drives().PhysicalDisks()) {
    if (path == src.entry.source.path && number >= 0x80) {
      bios = number;
      found = true;
    }
  }
  if (!found) throw CliError(src.entry.source.path + " is not a whole disk (name the disk, not a partition)");
  TPhysDriveParams params;
  if (!pdiskio::GetPhysDriveParams(bios, params)) throw CliError("cannot read " + src.entry.source.path);

  TFrmFATScan driver;
  InterruptibleUi terminal([&driver] { driver.StopScan(); });
  auto device = std::make_unique<TDevice>();
  device->Kind = kDevicePhysical;
  device->DriveNumber = bios;
  device->TotalSectors = params.TotalSectors;
  device->BytesPerSector = params.BytesPerSector;
  device->Removable = params.Removable;
  std::vector<uint8_t> sector0(params.BytesPerSector);
  // A card formatted without a table is one volume; otherwise sector 0 holds
  // the table.
  device->Partitioned =
      device->ReadSec(0, 1, sector0.data(), false) && ProbeFatBootSector(sector0.data(), sector0.size()).empty() ? 1 : 0;
  TDevice& dev = *device;
  driver.DeviceList->DeviceItems.push_back(std::move(device));

  TDriveList& list = *driver.DriveList();
  DetectDrives(list, dev);
  std::printf("%s: %s\n", src.entry.source.path.c_str(),
              dev.Partitioned != 0 ? "partition table" : "one volume, no partition table");
  for (int i = 0; i < list.count(); ++i) PrintDrive(*list.GetDrive(i));
  if (list.count() == 0) std::printf("  (no FAT drive)\n");

  if (first) {
    const int known = list.count();
    std::fprintf(stderr, "Searching sectors %lld to %lld for lost drives...\n", *first, *last);
    FindLostDrives(dev, driver.DeviceList.get(), static_cast<uint32_t>(*first), static_cast<uint32_t>(*last));
    std::printf("lost drives found: %d\n", list.count() - known);
    for (int i = known; i < list.count(); ++i) PrintDrive(*list.GetDrive(i));
  }
  return terminal.Interrupted() ? kExitIncomplete : kExitOk;
}

}  // namespace kestrella::cli
