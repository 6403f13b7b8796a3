#include "app/ffatscan.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>
#include <system_error>

#include "detect/filekinds.h"
#include "devices/device.h"
#include "diskio/enginecontext.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"
#include "util/outputfile.h"
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

// "stem (n).ext" for the n-th photo of one name.
std::string Numbered(const std::string& name, int n) {
  if (n == 1) return name;
  const size_t dot = name.rfind('.');
  const bool hasExt = dot != std::string::npos && dot > 0;
  const std::string stem = hasExt ? name.substr(0, dot) : name;
  const std::string ext = hasExt ? name.substr(dot) : std::string();
  return stem + " (" + std::to_string(n) + ")" + ext;
}

// Cameras start numbering afresh in every DCIM folder, so two different
// photos often share a name. Each file is created under the first name that
// nothing in `dest` has yet (`name`, "stem (2).ext", ...), in one step, so
// that no photo replaces another and saving never stops to ask; its data is
// then written there once. Returns the path of the saved file, empty when
// there is none; what went wrong is added to `problems`.
std::string SaveUnderFreeName(TFATFile& file, const fs::path& dest, OutputFiles& files,
                              std::vector<TSaveProblem>& problems) {
  const std::string name = file.OutputName();
  TFATdrive* drive = file.FatDrive();
  if (drive == nullptr) {
    problems.push_back({name, "nothing was saved", false});
    return {};
  }
  OutputFile out(files);
  std::string target;
  for (int n = 1; n <= kMaxNameNumber && target.empty(); ++n) {
    const std::string candidate = (dest / Numbered(name, n)).string();
    // A failed creation is reported by WriteTo, under the name tried.
    if (out.CreateNew(candidate) != OutputFile::NewFile::Exists) target = candidate;
  }
  if (target.empty()) {
    problems.push_back({name, "no free name", false});
    return {};
  }
  const size_t problemsBefore = drive->SaveProblems.size();
  const bool kept = file.WriteTo(out, drive->UseFAT);
  const std::vector<TSaveProblem> mine(
      drive->SaveProblems.begin() + static_cast<ptrdiff_t>(problemsBefore),
      drive->SaveProblems.end());
  if (!kept) {
    for (const TSaveProblem& p : mine) problems.push_back({name, p.reason, false});
    if (mine.empty()) problems.push_back({name, "nothing was saved", false});
    return {};
  }
  for (const TSaveProblem& p : mine) problems.push_back({target, p.reason, true});
  return target;
}

}  // namespace

TFrmFATScan::TFrmFATScan(EngineContext& context) : context_(context) {
  SkipOption = true;
  // Without the lists the searches have nothing to work on, but the driver
  // itself still answers; the failure shows up when a scan is started.
  try {
    DeviceList = std::make_unique<TDeviceList>(context_, this);
    DriveListItems = std::make_unique<TDriveList>(this);
  } catch (...) {
  }
  ProcessOptions();
}

TFrmFATScan::~TFrmFATScan() {
  StopRequestedFlag = true;
  // Drives refer to the devices they sit on: they go first.
  DriveListItems.reset();
  DeviceList.reset();
}

void TFrmFATScan::ProcessMessages() { context_.ui().ProcessMessages(); }

void TFrmFATScan::ProcessOptions() {
  EngineOptions& o = context_.options;
  o.legacy.optUseINT25 = true;
  o.legacy.OptUseINT13 = true;
  o.legacy.OptUseINT13EXT = true;
  o.optCacheEnabled = true;
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
  const uint32_t now = context_.ui().TickCount();
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
  const uint32_t now = context_.ui().TickCount();
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
    saved = SaveUnderFreeName(file, fs::path(DestFolder), context_.files(), SaveProblems);
  } catch (const std::exception& e) {
    // One file that cannot be saved must not end the search.
    SaveProblems.push_back({file.OutputName(), e.what(), false});
  } catch (...) {
    SaveProblems.push_back({file.OutputName(), "unexpected failure", false});
  }
  if (!saved.empty() && OnFoundImage) OnFoundImage(saved);
}

}  // namespace kestrella
