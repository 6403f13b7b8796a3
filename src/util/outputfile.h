// The one way Kestrella writes a file of its own: a found file into the
// temporary folder, a file saved from a card, a copy into the destination.
//
// An output file never follows a link planted under its name, treats a
// short write as a full disk, remembers the first failure with its reason
// (so a caller can name it), and can be removed again when it was left cut
// short: a partial photo under a normal name would pass for a saved one.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrella {

// The system calls behind output files. Production uses this class as it
// is; tests derive from it to make a folder refuse files or fill up.
class OutputFiles {
 public:
  virtual ~OutputFiles() = default;
  // open(2) for writing with O_CREAT and `flags`: the descriptor, or -1
  // with errno set.
  virtual int Open(const std::string& path, int flags, mode_t mode);
  // write(2) to a descriptor Open returned.
  virtual ssize_t Write(int fd, const void* data, size_t length);
  // copy_file_range(2) from `in`'s offset to the end of `out`.
  virtual ssize_t CopyRange(int in, int out, size_t length);
  // Bytes that may still be written on the file system holding `folder`.
  virtual uint64_t FreeSpace(const std::string& folder);
  // Whether this user may create files in the existing `folder`; looks
  // only, creates nothing.
  virtual bool Writable(const std::string& folder);
  // Gives the file `from` the name `to`, only while nothing has that name
  // (renameat2 with RENAME_NOREPLACE): 0, or the errno (EEXIST: the name is
  // taken; EXDEV: another file system; EINVAL: this file system cannot say
  // whether the name is free in the same step).
  virtual int Rename(const std::string& from, const std::string& to);
  // Writes out everything of the file system holding the open `fd` that is
  // still in memory (syncfs): 0, or the errno of a write that failed since
  // `fd` was opened.
  virtual int SyncFileSystem(int fd);

  // A cap on what the output files write of their own data in all (copies
  // made by CopyFrom are not counted): one job reading a small card must not
  // fill a disk because its entries describe the same clusters many times.
  // Past `bytes`, `askMore` is asked once with what was written; when it
  // says yes the cap is lifted, else every later write fails. 0: no cap.
  void LimitWrites(uint64_t bytes, std::function<bool(uint64_t written)> askMore = {});
  void Unlimit() { LimitWrites(0); }
  // Whether the cap stopped a write since LimitWrites.
  bool LimitRefused() const { return refused_; }
  // Counts `bytes` about to be written: false when the cap refuses them.
  bool Charge(uint64_t bytes);

 private:
  uint64_t limit_ = 0;
  uint64_t spent_ = 0;
  bool refused_ = false;
  std::function<bool(uint64_t)> askMore_;
};

// The error of an output file whose write the cap refused (see
// OutputFiles::LimitWrites).
inline constexpr int kOverWriteLimit = ECANCELED;

// The mode a file saved for the user is created with (the umask applies):
// it is theirs to share like any file they make. Found files get it too:
// the run's folder (mode 0700) keeps them from other users while the run
// goes on, and the one renamed into the destination is a saved file.
inline constexpr mode_t kSharedFileMode = 0666;

class OutputFile {
 public:
  // `mode`: the permissions a created file gets (before the umask).
  explicit OutputFile(OutputFiles& files, mode_t mode = kSharedFileMode)
      : files_(files), mode_(mode) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the file, replacing one of that name. False with Error() set.
  bool Create(const std::string& path);
  // Creates the file only when nothing of that name exists yet, in one
  // step: no time passes between looking and creating.
  enum class NewFile { Created, Exists, Failed };
  NewFile CreateNew(const std::string& path);

  // Writes at once; returns the bytes written (fewer only after a failure).
  size_t Write(const void* data, size_t length);
  // Queues `length` bytes that must stay valid until the next Flush; bytes
  // that continue the queued run are merged into one write.
  void Append(const uint8_t* data, size_t length);
  // Writes what is queued. False once anything of this file failed.
  bool Flush();
  // Copies `length` bytes of `in` from its current offset: inside the
  // kernel where the file systems allow it, else through `buffer`. A source
  // that ends early is no failure.
  bool CopyFrom(int in, size_t length, std::vector<char>& buffer);
  // Cuts the file to `length` bytes when it holds more (what is queued is
  // written first). False once anything of this file failed.
  bool Truncate(uint64_t length);
  // The modification time (seconds since 1970) the file is given when it is
  // closed; without this it keeps the time of its last write.
  void SetModified(int64_t seconds);
  // Flushes and closes. False when anything of this file failed.
  bool Close();
  // Closes and deletes the file (what was written of it is not wanted).
  void Remove();

  bool IsOpen() const { return fd_ >= 0; }
  bool Failed() const { return err_ != 0; }
  int ErrorCode() const { return err_; }
  // The reason of the first failure ("No space left on device"), or "".
  std::string Error() const;
  const std::string& Path() const { return path_; }
  uint64_t BytesWritten() const { return written_; }

 private:
  int Open(const std::string& path, int flags);
  void Fail(int err);
  // Charges `length` bytes to the files' cap; fails the file when refused.
  bool Charged(size_t length);
  bool WriteAll(const uint8_t* p, size_t length);

  OutputFiles& files_;
  mode_t mode_;
  int fd_ = -1;
  int err_ = 0;
  bool created_ = false;
  std::string path_;
  const uint8_t* pending_ = nullptr;
  size_t pendingLength_ = 0;
  uint64_t written_ = 0;
  int64_t modified_ = 0;
  bool hasModified_ = false;
};

}  // namespace kestrella
