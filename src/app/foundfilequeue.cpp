#include "app/foundfilequeue.h"

#include <cstdlib>
#include <new>
#include <utility>

namespace kestrella {

namespace {
constexpr size_t kPageBytes = 4096;
}  // namespace

void FoundFileQueue::FreeBuffer::operator()(uint8_t* p) const { std::free(p); }

FoundFileQueue::FoundFileQueue(size_t buffers, size_t bufferBytes)
    : bufferBytes_((bufferBytes + kPageBytes - 1) / kPageBytes * kPageBytes) {
  // At least two: one being read into while the writer empties the other.
  if (buffers < 2) buffers = 2;
  for (size_t i = 0; i < buffers; ++i) {
    auto* p = static_cast<uint8_t*>(std::aligned_alloc(kPageBytes, bufferBytes_));
    if (p == nullptr) throw std::bad_alloc();
    pool_.emplace_back(p);
    free_.push_back(p);
  }
  thread_ = std::thread([this] { Work(); });
}

FoundFileQueue::~FoundFileQueue() {
  try {
    Submit();
  } catch (...) {
    // Out of memory for the queue: the files still held are closed as they
    // are destroyed.
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wakeWriter_.notify_one();
  thread_.join();
}

uint8_t* FoundFileQueue::Buffer() {
  if (pending_.buffer == nullptr) {
    std::unique_lock<std::mutex> lock(mutex_);
    wakeScan_.wait(lock, [this] { return !free_.empty(); });
    pending_.buffer = free_.back();
    free_.pop_back();
  }
  return pending_.buffer;
}

void FoundFileQueue::Begin(std::unique_ptr<OutputFile> file) {
  pending_.ops.push_back(Op{Op::kBegin, std::move(file), nullptr, 0, kNoCut});
}

void FoundFileQueue::Append(const uint8_t* data, size_t length) {
  // Sectors that follow each other in the buffer become one write.
  if (!pending_.ops.empty()) {
    Op& last = pending_.ops.back();
    if (last.kind == Op::kAppend && last.data + last.length == data) {
      last.length += length;
      return;
    }
  }
  pending_.ops.push_back(Op{Op::kAppend, nullptr, data, length, kNoCut});
}

void FoundFileQueue::End(uint64_t cutAt) {
  Op op{Op::kEnd, nullptr, nullptr, 0, kNoCut};
  op.cutAt = cutAt;
  pending_.ops.push_back(std::move(op));
}

void FoundFileQueue::Submit() {
  // Nothing refers to the buffer in hand: keep it for the next block.
  if (pending_.ops.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(pending_));
  }
  pending_ = Batch{};
  wakeWriter_.notify_one();
}

void FoundFileQueue::Finish() {
  Submit();
  std::unique_lock<std::mutex> lock(mutex_);
  wakeScan_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

std::vector<FoundFileQueue::Closed> FoundFileQueue::TakeClosed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(closed_, {});
}

void FoundFileQueue::Execute(Batch& batch, std::vector<Closed>& closed) {
  for (Op& op : batch.ops) {
    switch (op.kind) {
      case Op::kBegin:
        current_ = std::move(op.file);
        break;
      case Op::kAppend:
        if (current_) current_->Append(op.data, op.length);
        break;
      case Op::kEnd:
        if (current_) {
          if (op.cutAt != kNoCut) current_->Truncate(op.cutAt);
          Closed c;
          c.path = current_->Path();
          c.ok = current_->Close();
          if (!c.ok) {
            c.error = current_->Error();
            c.partlyWritten = current_->BytesWritten() > 0;
          }
          current_.reset();
          closed.push_back(std::move(c));
        }
        break;
    }
  }
}

void FoundFileQueue::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wakeWriter_.wait(lock, [this] { return quit_ || !queue_.empty(); });
    if (queue_.empty()) return;  // quit_, and nothing left to do
    Batch batch = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();

    std::vector<Closed> closed;
    try {
      Execute(batch, closed);
    } catch (...) {
      // Only memory can run out here; the files keep their own errors. The
      // buffer must come back to the scan whatever happens.
    }
    // The buffer goes back to the scan: what still refers to it is written now.
    if (current_) current_->Flush();

    lock.lock();
    for (Closed& c : closed) closed_.push_back(std::move(c));
    free_.push_back(batch.buffer);
    busy_ = false;
    wakeScan_.notify_one();
  }
}

}  // namespace kestrella
