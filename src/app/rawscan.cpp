#include "app/rawscan.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <system_error>

#include <cstring>

#include "detect/fileend.h"
#include "detect/recoverutils.h"
#include "diskio/enginecontext.h"
#include "diskio/logicalio.h"

namespace kestrella {

namespace {
constexpr uint32_t kProgressIntervalMs = 500;
constexpr uint32_t kMaxNameSkip = 100000;
// Read buffers of the scan: one being read into and tested, the others
// waiting for or being emptied by the writer thread.
constexpr size_t kReadBuffers = 4;

// "sectors 100-103 and 250" for the report of a file with unreadable sectors,
// from its runs of first and last sector.
std::string SectorRanges(const std::vector<std::pair<uint64_t, uint64_t>>& runs, uint64_t count) {
  std::string text = count == 1 ? "sector " : "sectors ";
  for (size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) text += i + 1 == runs.size() ? " and " : ", ";
    text += std::to_string(runs[i].first);
    if (runs[i].second > runs[i].first) {
      // Appended in two steps: GCC 12 takes "-" + a temporary string for an
      // overlapping copy at -O2 and warns (-Wrestrict).
      text += '-';
      text += std::to_string(runs[i].second);
    }
  }
  return text;
}

std::string MiB(uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

}  // namespace

uint32_t MaxSectorsAtOnce(uint32_t bytesPerSector) {
  if (bytesPerSector == 0) return 1;
  return std::max<uint32_t>(1, kLargestReadBytes / bytesPerSector);
}

uint32_t DefaultSectorsAtOnce(uint64_t totalSectors, uint32_t bytesPerSector) {
  return static_cast<uint32_t>(
      std::clamp<uint64_t>(totalSectors / 100, 1, MaxSectorsAtOnce(bytesPerSector)));
}

RawScan::RawScan(EngineContext& context) : context_(context) {}
RawScan::~RawScan() = default;

void RawScan::UpdateProgress(bool force) {
  const uint32_t now = context_.ui().TickCount();
  // Unsigned difference: keeps working when the tick count wraps.
  if (force || lastUpdateTick_ == 0 || now - lastUpdateTick_ > kProgressIntervalMs) {
    lastUpdateTick_ = now;
    if (OnProgress) OnProgress(status_);
  }
}

void RawScan::CountsChanged() {
  if (OnCountsChanged) OnCountsChanged(status_);
}

std::string RawScan::NameFor(const RawScanSettings& s, const std::string& ext) const {
  const uint64_t number = static_cast<uint64_t>(status_.imagesFound) + nameSkip_;
  return (tempFolder_ / (SafePrefix(s.prefix) + std::to_string(number) + "." + ext)).string();
}

void RawScan::OpenFile(const RawScanSettings& s, const std::string& ext, uint64_t sector) {
  ++status_.imagesFound;
  fileStartSector_ = sector;
  fileOpen_ = true;
  fileWriting_ = false;
  fileBytes_ = 0;
  finder_ = cutAtEnd_ ? MakeEndFinder(ext) : nullptr;
  fileLimit_ = cutAtEnd_ ? SizeLimitFor(ext) : UINT64_MAX;
  // Names already taken in the temporary folder are passed over; after
  // 100000 of them the last name is used anyway. The file is created here,
  // not by the writer thread, because the next name depends on the outcome.
  auto out = std::make_unique<OutputFile>(context_.files());
  bool created = false;
  std::string path;
  for (;;) {
    path = NameFor(s, ext);
    if (nameSkip_ >= kMaxNameSkip) {
      created = out->Create(path);
      break;
    }
    const OutputFile::NewFile r = out->CreateNew(path);
    if (r != OutputFile::NewFile::Exists) {
      created = r == OutputFile::NewFile::Created;
      break;
    }
    ++nameSkip_;
  }
  if (!created) {
    // Keep cutting (the sectors of this file are dropped) but say so.
    report_.Add(FileProblem::Kind::Lost, path, out->Error());
    ++status_.writeFailures;
    return;
  }
  queue_->Begin(std::move(out));
  FoundOrigin origin;
  origin.kind = ext;
  origin.unit = FoundOrigin::Unit::Sector;
  origin.position = sector;
  begun_.push_back({std::move(origin), {}, 0, 0});
  fileWriting_ = true;
}

void RawScan::CloseFile(uint64_t cutAt) {
  if (!fileOpen_) return;
  fileOpen_ = false;
  finder_.reset();
  if (!fileWriting_) return;  // it could not be created: nothing to hand on
  fileWriting_ = false;
  // The rest of a partial last sector reads as zeros, which are none of the
  // file's bytes.
  const uint64_t start = fileStartSector_ * bytesPerSector_;
  if (start < driveEnd_ && std::min(fileBytes_, cutAt) > driveEnd_ - start) cutAt = driveEnd_ - start;
  // The writer closes it once its data is written; it is handed on then.
  queue_->End(cutAt);
}

void RawScan::AppendToFile(const uint8_t* data, uint32_t size) {
  const uint64_t before = fileBytes_;
  if (finder_) {
    const FileEndFinder::State state = finder_->Feed(data, size);
    if (state == FileEndFinder::State::Ended) {
      // The rest of the sector, and what follows up to the next start, is
      // not the file's.
      const uint64_t end = finder_->End();
      if (end > before) queue_->Append(data, static_cast<size_t>(end - before));
      fileBytes_ = std::max(before, end);
      CloseFile(end < before ? end : FoundFileQueue::kNoCut);
      return;
    }
    // The bytes do not follow the format: only the next start, the drive's
    // end or the limit ends this file now.
    if (state == FileEndFinder::State::NoEnd) finder_.reset();
  }
  if (size >= fileLimit_ - before) {
    // No end in sight, and the file has grown as large as its kind ever
    // gets: what follows would only be the rest of the card.
    queue_->Append(data, static_cast<size_t>(fileLimit_ - before));
    fileBytes_ = fileLimit_;
    begun_.back().stoppedAt = fileLimit_;
    CloseFile();
    return;
  }
  queue_->Append(data, size);
  fileBytes_ += size;
}

void RawScan::HandOnOne() {
  FoundFileQueue::Closed c = std::move(toHandOn_.front());
  toHandOn_.pop_front();
  CutFile cut;
  if (!begun_.empty()) {
    cut = std::move(begun_.front());
    begun_.pop_front();
  }
  if (!cut.unreadable.empty()) {
    report_.Add(FileProblem::Kind::Damaged, c.path,
                SectorRanges(cut.unreadable, cut.unreadableCount) +
                    (cut.unreadableCount == 1 ? " could not be read and holds zeros"
                                                : " could not be read and hold zeros"));
  }
  if (cut.stoppedAt != 0) {
    report_.Add(FileProblem::Kind::Damaged, c.path,
                "no end was found: stopped at " + MiB(cut.stoppedAt) + ", the size limit of " +
                    cut.origin.kind + " files");
  }
  if (!c.ok) {
    report_.Add(c.partlyWritten ? FileProblem::Kind::Damaged : FileProblem::Kind::Lost, c.path,
                c.partlyWritten ? "only partly written (" + c.error + "): its end is missing"
                                : c.error);
    ++status_.writeFailures;
    CountsChanged();
    // Nothing of the photo reached the file: an empty file handed on would
    // be saved as if it were the photo.
    if (!c.partlyWritten) {
      std::error_code ec;
      std::filesystem::remove(c.path, ec);
      return;
    }
  }
  // Even a file that lost its tail holds the photo's start: hand it on.
  if (OnFileClosed) OnFileClosed(c.path, cut.origin);
}

void RawScan::HandOnClosedFiles() {
  for (FoundFileQueue::Closed& c : queue_->TakeClosed()) toHandOn_.push_back(std::move(c));
  while (!toHandOn_.empty()) HandOnOne();
}

void RawScan::Run(const RawScanSettings& s) {
  lastUpdateTick_ = 0;
  if (s.totalSectors == 0 || s.bytesPerSector == 0) return;

  // Preparation shared with the folder route.
  stopRequested_ = false;
  tempFolder_ = s.tempFolder.empty() ? context_.ui().TempFolder() : s.tempFolder;
  status_ = RawScanStatus{};
  status_.totalSectors = s.totalSectors;
  status_.busy = true;
  bytesPerSector_ = s.bytesPerSector;
  driveEnd_ = s.totalSectors * s.bytesPerSector;
  if (s.totalBytes != 0) driveEnd_ = std::min(driveEnd_, s.totalBytes);
  report_.Clear();
  nameSkip_ = 0;
  fileOpen_ = false;
  fileWriting_ = false;
  fileStartSector_ = 0;
  cutAtEnd_ = s.cutAtEnd;
  finder_.reset();
  begun_.clear();
  toHandOn_.clear();
  CountsChanged();
  context_.ui().ProcessMessages();

  try {
    queue_ = std::make_unique<FoundFileQueue>(kReadBuffers, kSectorBufferBytes);
    ScanBlocks(s);
  } catch (const std::exception& e) {
    report_.Abort(e.what());
  } catch (...) {
    report_.Abort("unexpected failure");
  }
  // Whatever happened, the open file is closed, and every file cut is
  // written and handed on.
  if (queue_) {
    try {
      CloseFile();
      queue_->Finish();
      for (FoundFileQueue::Closed& c : queue_->TakeClosed()) toHandOn_.push_back(std::move(c));
    } catch (...) {
    }
    while (!toHandOn_.empty()) {
      try {
        HandOnOne();
      } catch (...) {
      }
    }
    queue_.reset();
  }
  status_.busy = false;
  UpdateProgress(true);
  context_.diskutils().NT_CloseDrive();
  stopRequested_ = true;
}

void RawScan::ScanBlocks(const RawScanSettings& s) {
  const uint32_t bps = s.bytesPerSector;
  if (bps > kSectorBufferBytes) throw std::runtime_error("sector size larger than the read buffer");
  const uint32_t retryLimit = std::clamp<uint32_t>(s.retryLimit, 1, kMaxRetries);
  uint32_t blockSize = std::clamp<uint32_t>(s.sectorsAtOnce, 1, MaxSectorsAtOnce(bps));
  uint64_t& current = status_.currentSector;
  current = std::min(s.firstSector, s.totalSectors);
  std::string ext;
  context_.ui().ProcessMessages();

  while (current < s.totalSectors && !stopRequested_) {
    // The block read last goes to the writer; this one is read into a free
    // buffer meanwhile.
    queue_->Submit();
    HandOnClosedFiles();
    uint8_t* const buffer = queue_->Buffer();
    uint32_t attempts = 0;
    if (blockSize > s.totalSectors - current)
      blockSize = static_cast<uint32_t>(s.totalSectors - current);
    // The buffer is not zeroed first: a read that succeeds fills all of it,
    // and nothing of a failed one is used.
    bool ok = context_.diskutils().ReadLogicalSectors(s.drive, current, static_cast<uint16_t>(blockSize), buffer);
    bool lastFailedWasBlock = false;
    while (!ok) {
      // From the first failure on, the drive is read one sector at a time.
      lastFailedWasBlock = blockSize > 1;
      blockSize = 1;
      ++attempts;
      ++status_.readErrors;
      context_.ui().ProcessMessages();
      CountsChanged();
      // A sector is never skipped without having failed on its own: when the
      // only failure was the whole block's, read its first sector once alone.
      if (attempts >= retryLimit && !lastFailedWasBlock) break;
      ok = context_.diskutils().ReadLogicalSectors(s.drive, current, 1, buffer);
    }
    if (!ok) {
      // An unreadable sector inside a file keeps its place as zeros: left
      // out, it would shift every later byte of the photo.
      if (fileWriting_) {
        std::memset(buffer, 0, bps);
        CutFile& cut = begun_.back();
        if (!cut.unreadable.empty() && cut.unreadable.back().second + 1 == current)
          cut.unreadable.back().second = current;
        else
          cut.unreadable.emplace_back(current, current);
        ++cut.unreadableCount;
        AppendToFile(buffer, bps);
      }
      current += 1;
      UpdateProgress(false);
      continue;
    }
    status_.bytesRead += static_cast<uint64_t>(blockSize) * bps;

    for (uint32_t i = 0; i < blockSize; ++i) {
      const uint8_t* sector = buffer + static_cast<size_t>(i) * bps;
      UpdateProgress(false);
      context_.ui().ProcessMessages();
      const bool start = DetectImageStart(sector, static_cast<int32_t>(bps), ext);
      const bool end = DetectImageEnd(sector, static_cast<int32_t>(bps), ext);
      bool countsChanged = false;
      if (fileOpen_ && start && fileStartSector_ != current) CloseFile();
      if (start && !fileOpen_) {
        OpenFile(s, ext, current);
        countsChanged = true;
      }
      if (fileWriting_) AppendToFile(sector, bps);
      if (fileOpen_ && end) CloseFile();
      if (countsChanged) CountsChanged();
      ++current;
      if (stopRequested_) break;
    }
  }
}

}  // namespace kestrella
