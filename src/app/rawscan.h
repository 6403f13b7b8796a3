// The scan route: reads a drive from its first to its last sector in large
// blocks and cuts a new file in the temporary folder at every sector that
// begins a known picture, sound, video or camera-raw file. A file runs up to
// where its data says it ends (see detect/fileend.h), or, where no end is
// found, up to the next recognised start, the end of the drive or the size
// limit of its kind, whichever comes first.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/foundfilequeue.h"
#include "app/foundfiles.h"
#include "util/report.h"

namespace kestrella {

inline constexpr uint32_t kMaxRetries = 20;

// Largest sectors-at-once for a sector size (one read moves at most
// kLargestReadBytes), and the default for a drive: 1% of its sectors within
// 1 .. that maximum.
uint32_t MaxSectorsAtOnce(uint32_t bytesPerSector);
uint32_t DefaultSectorsAtOnce(uint64_t totalSectors, uint32_t bytesPerSector);

struct RawScanSettings {
  uint8_t drive = 0;
  uint32_t bytesPerSector = 512;
  uint64_t totalSectors = 0;
  // The drive's size when it ends inside its last sector (an image file cut
  // short): no file runs past it. 0: the drive is whole sectors.
  uint64_t totalBytes = 0;
  // Where the scan begins: to go on with one that was stopped.
  uint64_t firstSector = 0;
  std::string prefix = "image";
  uint32_t sectorsAtOnce = 1;
  uint32_t retryLimit = 1;
  std::filesystem::path tempFolder{};  // empty: the user interface's temp folder
  // Cut each file where its data ends, and stop one whose end is not found
  // at its kind's size limit. Off: every file runs to the next start.
  bool cutAtEnd = true;
};

// What the window's labels and gauge show.
struct RawScanStatus {
  uint64_t currentSector = 0;
  uint64_t totalSectors = 0;
  int32_t imagesFound = 0;
  uint32_t readErrors = 0;
  uint32_t writeFailures = 0;
  uint64_t bytesRead = 0;
  bool busy = false;
};

class EngineContext;
class FileEndFinder;

class RawScan {
 public:
  explicit RawScan(EngineContext& context);
  ~RawScan();

  // Progress display: at most every 500 ms by the user interface's clock, and
  // once at the end.
  std::function<void(const RawScanStatus&)> OnProgress;
  // Found count, read errors or write failures changed.
  std::function<void(const RawScanStatus&)> OnCountsChanged;
  // A found file was closed: its full path and where it lay on the card
  // (the hand-off to the preview).
  std::function<void(const std::string&, const FoundOrigin&)> OnFileClosed;

  // Runs the whole scan, from the first sector asked for; returns when the
  // drive was read to its end or a stop was requested. Does nothing for a
  // drive of 0 sectors.
  void Run(const RawScanSettings& settings);
  // Asks a running scan to stop after the sector in hand.
  void Stop() { stopRequested_ = true; }
  bool StopRequested() const { return stopRequested_; }

  const RawScanStatus& Status() const { return status_; }
  // The found files that could not be written (Lost) or only in part
  // (Damaged: the file lacks its tail, holds zeros for sectors that could
  // not be read, or was stopped at its kind's size limit), and the text of
  // an unexpected failure that ended the scan early.
  const Report& Problems() const { return report_; }
  const std::string& AbortReason() const { return report_.AbortReason(); }

 private:
  void ScanBlocks(const RawScanSettings& s);
  void UpdateProgress(bool force);
  void CountsChanged();
  void OpenFile(const RawScanSettings& s, const std::string& ext, uint64_t sector);
  // Closes the file being cut; a `cutAt` shorter than what was written cuts
  // it to that length. No file runs past the drive's end.
  void CloseFile(uint64_t cutAt = FoundFileQueue::kNoCut);
  // Adds bytes of the card to the file being cut, up to where it ends.
  void AppendToFile(const uint8_t* data, uint32_t size);
  // Hands on the files the writer has finished, in the order they were cut.
  void HandOnClosedFiles();
  void HandOnOne();
  std::string NameFor(const RawScanSettings& s, const std::string& ext) const;

  EngineContext& context_;
  RawScanStatus status_;
  Report report_;
  bool stopRequested_ = false;
  uint32_t lastUpdateTick_ = 0;
  uint32_t nameSkip_ = 0;
  std::filesystem::path tempFolder_;
  // The read buffers, and the thread that writes the found files from them
  // while the next block is read; one per run.
  std::unique_ptr<FoundFileQueue> queue_;
  std::deque<FoundFileQueue::Closed> toHandOn_;
  bool fileOpen_ = false;     // a file is being cut (even if it could not be created)
  bool fileWriting_ = false;  // and it was created: its sectors go to the writer
  uint64_t fileStartSector_ = 0;
  uint32_t bytesPerSector_ = 0;
  uint64_t driveEnd_ = 0;  // in bytes
  // The file being cut: where its data ends, how much of it was written,
  // and the size at which it stops without an end.
  std::unique_ptr<FileEndFinder> finder_;
  uint64_t fileBytes_ = 0;
  uint64_t fileLimit_ = 0;
  bool cutAtEnd_ = true;
  // What the report needs of each file begun and not handed on yet, in the
  // order begun (the writer gives them back in that order).
  struct CutFile {
    FoundOrigin origin;
    // Sectors filled with zeros, as runs of first and last sector: a
    // failing stretch of card can be long, and one entry per sector would
    // grow with it.
    std::vector<std::pair<uint64_t, uint64_t>> unreadable;
    uint64_t unreadableCount = 0;
    uint64_t stoppedAt = 0;            // the size limit it was stopped at
  };
  std::deque<CutFile> begun_;
};

}  // namespace kestrella
