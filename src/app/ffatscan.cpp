#include "app/ffatscan.h"

#include "app/foundfiles.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "detect/filekinds.h"
#include "devices/device.h"
#include "diskio/enginecontext.h"
#include "fat/fatdrive.h"
#include "fat/fatnodes.h"
#include "util/helpers.h"
#include "util/outputfile.h"
#include "util/userinterface.h"

namespace kestrella {

namespace fs = std::filesystem;

namespace {

// Numbered names tried before a file is given up as unplaceable.
constexpr int kMaxNameNumber = 100000;


// Cameras start numbering afresh in every DCIM folder, so two different
// photos often share a name. Each file is created under the first name that
// nothing in `dest` has yet (`name`, "stem (2).ext", ...), in one step, so
// that no photo replaces another and saving never stops to ask; its data is
// then written there once. Returns the path of the saved file, empty when
// there is none; what went wrong is added to `problems`.
std::string SaveUnderFreeName(TFATFile& file, const fs::path& dest, OutputFiles& files,
                              Report& problems) {
  const std::string name = file.OutputName();
  TFATdrive* drive = file.FatDrive();
  if (drive == nullptr) {
    problems.Add(FileProblem::Kind::Lost, name, "nothing was saved");
    return {};
  }
  OutputFile out(files);  // into the run's private folder
  std::string target;
  for (int n = 1; n <= kMaxNameNumber && target.empty(); ++n) {
    const std::string candidate = (dest / NumberedName(name, n)).string();
    // A failed creation is reported by WriteTo, under the name tried.
    if (out.CreateNew(candidate) != OutputFile::NewFile::Exists) target = candidate;
  }
  if (target.empty()) {
    problems.Add(FileProblem::Kind::Lost, name, "no free name");
    return {};
  }
  const size_t problemsBefore = drive->SaveProblems.Problems().size();
  const bool kept = file.WriteTo(out, drive->UseFAT());
  const std::vector<FileProblem> mine(
      drive->SaveProblems.Problems().begin() + static_cast<ptrdiff_t>(problemsBefore),
      drive->SaveProblems.Problems().end());
  // A file that is not kept is named as on the card: its path in the
  // temporary folder never held it.
  if (!kept) {
    for (const FileProblem& p : mine) problems.Add(FileProblem::Kind::Lost, name, p.reason);
    if (mine.empty()) problems.Add(FileProblem::Kind::Lost, name, "nothing was saved");
    return {};
  }
  for (const FileProblem& p : mine) problems.Add(FileProblem::Kind::Damaged, target, p.reason);
  return target;
}

// What the card tells of a file: its folders, name and time, or, for a file
// the lost search found, where it lay.
FoundOrigin OriginOf(const TFATFile& file) {
  FoundOrigin origin;
  origin.folders = file.FolderNames();
  origin.modified = file.ModifiedTime();
  origin.unit = FoundOrigin::Unit::Cluster;
  origin.position = file.FirstCluster;
  const LostOrigin lost = file.Origin();
  switch (lost.way) {
    case LostOrigin::Way::NotLost:
      origin.name = file.OutputName();
      break;
    case LostOrigin::Way::InLostDirectory: {
      // The lost directory's own name went with the entry that named it:
      // its files are grouped under where it lay.
      origin.lost = true;
      origin.name = file.OutputName();
      const std::string where = lost.directoryCluster != 0
                                    ? "dir-cluster-" + std::to_string(lost.directoryCluster)
                                    : "dir-sector-" + std::to_string(lost.directorySector);
      origin.folders.insert(origin.folders.begin(), {"lost", where});
      break;
    }
    case LostOrigin::Way::BySignature:
      // Named by kind and first cluster when saved.
      origin.lost = true;
      origin.kind = lost.kind;
      origin.modified.reset();
      break;
  }
  return origin;
}

}  // namespace

TFrmFATScan::TFrmFATScan(EngineContext& context) : ScanProgress(context.ui()), context_(context) {
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

void TFrmFATScan::ProcessOptions() {
  EngineOptions& o = context_.options;
  o.legacy.optUseINT25 = true;
  o.legacy.OptUseINT13 = true;
  o.legacy.OptUseINT13EXT = true;
  o.optCacheEnabled = true;
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
    SaveProblems.Add(FileProblem::Kind::Lost, file.OutputName(), e.what());
  } catch (...) {
    SaveProblems.Add(FileProblem::Kind::Lost, file.OutputName(), "unexpected failure");
  }
  if (!saved.empty() && OnFoundImage) OnFoundImage(saved, OriginOf(file));
  if (context_.files().LimitRefused()) {
    SaveProblems.Abort("it had written more than the card holds, and writing on was not allowed");
    StopScan();
  }
}

}  // namespace kestrella
