// Writes the raw scan's found files on a thread of its own.
//
// Copying a card's worth of sectors into found files costs about as much as
// reading and testing them, so the scan hands each filled read buffer to this
// writer and goes on reading and testing the next block in another buffer.
// The buffers are a small fixed pool: when the writer falls behind, the scan
// waits for one to come back, so neither memory nor the queue grows.
//
// Files are created by the caller (the name a file gets depends on which
// names are taken, which the scan must know at once) and passed in with
// Begin; from then on the writer owns them. Everything handed in is done in
// the order it was handed in, and files come back through TakeClosed in that
// order once they are fully written and closed.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "util/outputfile.h"

namespace kestrella {

class FoundFileQueue {
 public:
  struct Closed {
    std::string path;
    bool ok = true;              // every write and the close succeeded
    std::string error;           // why not
    bool partlyWritten = false;  // some bytes reached the file before the failure
  };

  FoundFileQueue(size_t buffers, size_t bufferBytes);
  // Finishes everything handed in, then ends the thread.
  ~FoundFileQueue();
  FoundFileQueue(const FoundFileQueue&) = delete;
  FoundFileQueue& operator=(const FoundFileQueue&) = delete;

  // The buffer the next block is read into: the one in hand, or, after
  // Submit, the next free one of the pool (waiting for the writer if needed).
  // Page-aligned, bufferBytes long.
  uint8_t* Buffer();
  size_t BufferBytes() const { return bufferBytes_; }

  // A created file; the following Appends go into it until End.
  void Begin(std::unique_ptr<OutputFile> file);
  // `data` lies in the buffer in hand and must not change until Submit.
  void Append(const uint8_t* data, size_t length);
  // Closes the file begun last once its data is written, cut to `cutAt`
  // bytes when it is longer.
  static constexpr uint64_t kNoCut = UINT64_MAX;
  void End(uint64_t cutAt = kNoCut);
  // Hands the buffer in hand, with what was queued from it, to the writer.
  void Submit();
  // Submits and waits until the writer has done everything.
  void Finish();

  // Files written and closed since the last call, in the order begun.
  std::vector<Closed> TakeClosed();

 private:
  struct Op {
    enum Kind { kBegin, kAppend, kEnd } kind;
    std::unique_ptr<OutputFile> file;  // kBegin
    const uint8_t* data = nullptr;          // kAppend
    size_t length = 0;
    uint64_t cutAt = kNoCut;  // kEnd
  };
  struct Batch {
    uint8_t* buffer = nullptr;
    std::vector<Op> ops;
  };
  struct FreeBuffer {
    void operator()(uint8_t* p) const;
  };

  void Work();
  void Execute(Batch& batch, std::vector<Closed>& closed);

  const size_t bufferBytes_;
  std::vector<std::unique_ptr<uint8_t, FreeBuffer>> pool_;

  // The scan's side: the buffer in hand and what was queued from it.
  Batch pending_;

  std::mutex mutex_;
  std::condition_variable wakeWriter_;
  std::condition_variable wakeScan_;
  std::deque<Batch> queue_;
  std::vector<uint8_t*> free_;
  std::vector<Closed> closed_;
  bool busy_ = false;
  bool quit_ = false;

  // The writer's side: the file being written.
  std::unique_ptr<OutputFile> current_;

  std::thread thread_;
};

}  // namespace kestrella
