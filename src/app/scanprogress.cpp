#include "app/scanprogress.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrella {

namespace {

// Progress of the lost-data search: one step per cluster in each of its two
// phases, reported at most twice a second.
constexpr int32_t kLostDataIntervalMs = 500;
// Elapsed time is added up in slices of at least this length, so that the
// rounding to whole seconds does not swallow the time of many short slices.
constexpr uint32_t kTimeSliceMs = 5000;

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

}  // namespace

void ScanProgress::ProcessMessages() { ui_.ProcessMessages(); }

bool ScanProgress::ReportDue(uint32_t now) const {
  // The unsigned difference keeps reports coming when the tick count wraps.
  return LastUpdateTick == 0 ||
         now - LastUpdateTick > static_cast<uint32_t>(std::max<int32_t>(Interval, 0));
}

void ScanProgress::SetStatus(const std::string&, const std::string&, const std::string&,
                            const std::string&, const std::string&, bool, bool measureTime) {
  // A new phase: its first step reports at once and starts a new time slice.
  LastUpdateTick = 0;
  TimeMark = 0;
  UpdatePending = true;
  MeasureTime = measureTime;
}

void ScanProgress::UpdateStatus(const std::string&, const std::string&, const std::string&,
                               const std::string&, const std::string&) {
  // The status lines are not displayed; the window follows the events.
}

void ScanProgress::ProgressStepIt() {
  Position += Step;
  const uint32_t now = ui_.TickCount();
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

bool ScanProgress::TimeForUserUpdate() {
  if (UpdatePending) {
    UpdatePending = false;
    return true;
  }
  const uint32_t now = ui_.TickCount();
  if (!ReportDue(now)) return false;
  LastUpdateTick = now;
  return true;
}

void ScanProgress::ProgressStopTime() { TimeMark = 0; }

int32_t ScanProgress::ProgressUpdateTime() const {
  if (Position == 0) return 0;
  const double total = static_cast<double>(Max) / Position * ElapsedSeconds;
  // nearbyint in the default rounding mode: halves to the even neighbour.
  return ClampToInt32(static_cast<int64_t>(std::nearbyint(total))) - ElapsedSeconds;
}

void ScanProgress::UpdateCurrentClustorProgress(int64_t cluster) {
  if (OnScanClustorProgress) OnScanClustorProgress(cluster);
}

void ScanProgress::OnStartScanLostData(uint32_t totalClustor, uint32_t startClustor,
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

void ScanProgress::OnStartScanLostDataClustor(uint32_t totalClustor, uint32_t startClustor,
                                             uint32_t endClustor, uint32_t bytesPerClustor) {
  // The first pass is done: the bar stands at its half.
  Position = ClampToInt32(int64_t{endClustor} - startClustor + 1);
  if (OnStartScanClustor) {
    OnStartScanClustor(totalClustor, startClustor, endClustor,
                       static_cast<int32_t>(bytesPerClustor));
  }
  if (OnScanProgress) OnScanProgress(Position);
}

void ScanProgress::SetProgressRange(int32_t max, int32_t step, int32_t interval) {
  Max = max;
  Step = step;
  Interval = interval;
}

void ScanProgress::SetTotals(int32_t totalFiles, int32_t totalFolders) {
  TotalFiles = totalFiles;
  TotalFolders = totalFolders;
}

}  // namespace kestrella
