#include "app/ffatscan.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>
#include <system_error>

#include "detect/filekinds.h"
#include "devices/device.h"
#include "diskio/diskutils.h"
#include "diskio/ldiskio.h"
#include "diskio/pdiskio.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"
#include "util/userinterface.h"

namespace kestrella {

namespace fs = std::filesystem;

namespace {

// Progress of the lost-data search: one step per cluster in each of its two
// phases, reported at most twice a second.
constexpr int32_t kLostDataIntervalMs = 500;
// Elapsed time is added up in slices of at least this length, so that the
// rounding to whole seconds does not swallow the time of many short slices.
constexpr uint32_t kTimeSliceMs = 5000;

// Files are saved here first, inside the destination (so the final move is a
// rename on one file system) and out of the way of the files already saved.
constexpr const char* kStagingFolder = ".kestrella-incoming";
// Numbered names tried before a file is given up as unplaceable.
constexpr int kMaxNameNumber = 100000;

// a / b rounded to the nearest integer, halves to the even one.
uint64_t DivRoundHalfEven(uint64_t a, uint64_t b) {
  uint64_t q = a / b;
  const uint64_t r = a % b;
  if (2 * r > b || (2 * r == b && q % 2 != 0)) ++q;
  return q;
}

int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

bool Taken(const fs::path& p) {
  std::error_code ec;
  // symlink_status: a dangling link still occupies the name.
  return fs::exists(fs::symlink_status(p, ec));
}

// `name` if nothing in `folder` has it yet, else "stem (2).ext", "stem (3).ext"
// and so on. Empty when every number is taken.
std::string FreeName(const fs::path& folder, const std::string& name) {
  if (!Taken(folder / name)) return name;
  const size_t dot = name.rfind('.');
  const bool hasExt = dot != std::string::npos && dot > 0;
  const std::string stem = hasExt ? name.substr(0, dot) : name;
  const std::string ext = hasExt ? name.substr(dot) : std::string();
  for (int n = 2; n <= kMaxNameNumber; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
    if (!Taken(folder / candidate)) return candidate;
  }
  return {};
}

// Cameras start numbering afresh in every DCIM folder, so two different
// photos often share a name. Each file is saved into a folder of its own first
// and then moved to the first free name in `dest`, so that no photo replaces
// another and saving never stops to ask about replacing. Returns the path of
// the saved file, empty when saving produced none; what went wrong is added
// to `problems`.
std::string SaveUnderFreeName(TFATFile& file, const fs::path& dest,
                              std::vector<TSaveProblem>& problems) {
  const fs::path staging = dest / kStagingFolder;
  fs::create_directories(staging);
  const std::string name = file.OutputName();
  const fs::path staged = staging / name;
  std::error_code ec;
  fs::remove(staged, ec);  // a leftover of an interrupted run is not this file

  TFATdrive* drive = file.FatDrive();
  const uint8_t useFAT = drive != nullptr ? drive->UseFAT : 0;
  const size_t problemsBefore = drive != nullptr ? drive->SaveProblems.size() : 0;
  file.SaveTo(staging, useFAT);
  std::vector<TSaveProblem> mine;
  if (drive != nullptr) {
    mine.assign(drive->SaveProblems.begin() + static_cast<ptrdiff_t>(problemsBefore),
                drive->SaveProblems.end());
  }
  if (!Taken(staged)) {
    for (TSaveProblem& p : mine) problems.push_back({name, p.reason, false});
    if (mine.empty()) problems.push_back({name, "nothing was saved", false});
    return {};
  }

  const std::string target = FreeName(dest, name);
  // Without a free name the data stays in the staging folder rather than
  // being thrown away.
  if (target.empty()) {
    problems.push_back({name, "no free name; kept as " + staged.string(), false});
    return {};
  }
  fs::rename(staged, dest / target, ec);
  if (ec) {
    problems.push_back({name, ec.message() + "; kept as " + staged.string(), false});
    return {};
  }
  for (TSaveProblem& p : mine) problems.push_back({(dest / target).string(), p.reason, true});
  return (dest / target).string();
}

}  // namespace

TFrmFATScan::TFrmFATScan() {
  SkipOption = true;
  // Without the lists the searches have nothing to work on, but the driver
  // itself still answers; the failure shows up when a scan is started.
  try {
    DeviceList = std::make_unique<TDeviceList>();
    DriveListItems = std::make_unique<TDriveList>();
  } catch (...) {
  }
  ProcessOptions();
  SetHost(this);
}

TFrmFATScan::~TFrmFATScan() {
  StopRequestedFlag = true;
  if (&Host() == this) SetHost(nullptr);
  // Drives refer to the devices they sit on: they go first.
  DriveListItems.reset();
  DeviceList.reset();
}

void TFrmFATScan::ProcessMessages() { ui().ProcessMessages(); }

void TFrmFATScan::ProcessOptions() {
  diskutils::Module().optUseINT25 = true;
  ldiskio::Module().optUseINT25 = true;
  pdiskio::OptUseINT13 = true;
  pdiskio::OptUseINT13EXT = true;
  optCacheEnabled = true;
}

bool TFrmFATScan::ReportDue(uint32_t now) const {
  // The unsigned difference keeps reports coming when the tick count wraps.
  return LastUpdateTick == 0 ||
         now - LastUpdateTick > static_cast<uint32_t>(std::max<int32_t>(Interval, 0));
}

void TFrmFATScan::SetStatus(const std::string&, const std::string&, const std::string&,
                            const std::string&, const std::string&, bool, bool measureTime) {
  // A new phase: its first step reports at once and starts a new time slice.
  LastUpdateTick = 0;
  TimeMark = 0;
  UpdatePending = true;
  MeasureTime = measureTime;
}

void TFrmFATScan::UpdateStatus(const std::string&, const std::string&, const std::string&,
                               const std::string&, const std::string&) {
  // The status lines are not displayed; the window follows the events.
}

void TFrmFATScan::ProgressStepIt() {
  Position += Step;
  const uint32_t now = ui().TickCount();
  if (ReportDue(now)) {
    UpdatePending = true;
    LastUpdateTick = now;
    if (OnScanProgress) OnScanProgress(Position);
    if (MeasureTime) {
      if (TimeMark == 0) {
        TimeMark = now;
      } else if (now - TimeMark > kTimeSliceMs) {
        ElapsedSeconds += static_cast<int32_t>(DivRoundHalfEven(now - TimeMark, 1000));
        TimeMark = now;
      }
    }
  }
  ProcessMessages();
}

bool TFrmFATScan::TimeForUserUpdate() {
  if (UpdatePending) {
    UpdatePending = false;
    return true;
  }
  const uint32_t now = ui().TickCount();
  if (!ReportDue(now)) return false;
  LastUpdateTick = now;
  return true;
}

void TFrmFATScan::ProgressStopTime() { TimeMark = 0; }

int32_t TFrmFATScan::ProgressUpdateTime() const {
  if (Position == 0) return 0;
  const double total = static_cast<double>(Max) / Position * ElapsedSeconds;
  // nearbyint in the default rounding mode: halves to the even neighbour.
  return ClampToInt32(static_cast<int64_t>(std::nearbyint(total))) - ElapsedSeconds;
}

void TFrmFATScan::UpdateCurrentClustorProgress(int64_t cluster) {
  if (OnScanClustorProgress) OnScanClustorProgress(cluster);
}

void TFrmFATScan::OnStartScanLostData(uint32_t totalClustor, uint32_t startClustor,
                                      uint32_t endClustor, uint32_t bytesPerClustor) {
  // Two passes over the clusters, plus 1 % so that the bar is not full
  // before the search has handed over its last files.
  const int64_t span = std::max<int64_t>(int64_t{endClustor} - startClustor + 1, 0);
  const int64_t max = span * 2;
  Max = ClampToInt32(max + static_cast<int64_t>(DivRoundHalfEven(max, 100)));
  Step = 1;
  Interval = kLostDataIntervalMs;
  Position = 0;
  SetStatus("Find lost data - Please wait...", "", "", "", "", true, true);
  if (OnStartScanData) {
    OnStartScanData(totalClustor, startClustor, endClustor, static_cast<int32_t>(bytesPerClustor));
  }
}

void TFrmFATScan::OnStartScanLostDataClustor(uint32_t totalClustor, uint32_t startClustor,
                                             uint32_t endClustor, uint32_t bytesPerClustor) {
  // The first pass is done: the bar stands at its half.
  Position = ClampToInt32(int64_t{endClustor} - startClustor + 1);
  if (OnStartScanClustor) {
    OnStartScanClustor(totalClustor, startClustor, endClustor,
                       static_cast<int32_t>(bytesPerClustor));
  }
  if (OnScanProgress) OnScanProgress(Position);
}

void TFrmFATScan::SetProgressRange(int32_t max, int32_t step, int32_t interval) {
  Max = max;
  Step = step;
  Interval = interval;
}

void TFrmFATScan::SetTotals(int32_t totalFiles, int32_t totalFolders) {
  TotalFiles = totalFiles;
  TotalFolders = totalFolders;
}

void TFrmFATScan::AddRecoverFile(TFATFile& file) {
  // Marked first, so the lost-data search does not hand it over again even
  // when it is not saved.
  file.HandedOver = 1;
  std::string saved;
  try {
    if (!IsRecoverableName(file.Name)) return;
    saved = SaveUnderFreeName(file, fs::path(DestFolder), SaveProblems);
  } catch (const std::exception& e) {
    // One file that cannot be saved must not end the search.
    SaveProblems.push_back({file.OutputName(), e.what(), false});
  } catch (...) {
    SaveProblems.push_back({file.OutputName(), "unexpected failure", false});
  }
  std::error_code ec;
  fs::remove(fs::path(DestFolder) / kStagingFolder, ec);  // only when empty
  if (!saved.empty() && OnFoundImage) OnFoundImage(saved);
}

}  // namespace kestrella
