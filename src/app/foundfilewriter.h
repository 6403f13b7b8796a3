// Writes one found file of the raw scan into the temporary folder.
//
// Sectors arrive one at a time but lie next to each other in the scan's read
// buffer, so runs of them are gathered and written with one system call per
// block instead of one per sector. Failures are remembered with their reason
// rather than dropped: the scan reports them at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrella {

class FoundFileWriter {
 public:
  FoundFileWriter() = default;
  ~FoundFileWriter();
  FoundFileWriter(const FoundFileWriter&) = delete;
  FoundFileWriter& operator=(const FoundFileWriter&) = delete;

  // Creates (truncates) the file. False with Error() set when it cannot.
  bool Create(const std::string& path);
  // Creates the file only when no file (or link) of that name exists yet, in
  // one step: no time passes between looking and creating, and a link
  // planted under the name is never followed.
  enum class NewFile { Created, Exists, Failed };
  NewFile CreateNew(const std::string& path);
  // Queues `length` bytes. The bytes must stay valid until the next Flush;
  // bytes that continue the queued run are merged into one write.
  void Append(const uint8_t* data, size_t length);
  // Writes what is queued. False once any write of this file failed.
  bool Flush();
  // Flushes and closes. False when anything of this file failed.
  bool Close();

  bool IsOpen() const { return fd_ >= 0; }
  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }
  uint64_t BytesWritten() const { return written_; }

 private:
  // Opens `path` for writing with the extra open flags: 0 or the errno.
  int Open(const std::string& path, int flags);
  void Fail(int err);

  int fd_ = -1;
  std::string path_;
  std::string error_;
  const uint8_t* pending_ = nullptr;
  size_t pendingLength_ = 0;
  uint64_t written_ = 0;
};

}  // namespace kestrella
