// Where the data of a found file really ends.
//
// The raw scan and the lost-cluster hunt find a file by its first bytes and
// know nothing of its length: without more, a file runs up to the next start
// found, or to the end of the card. Most formats record where they end (a
// JPEG's end-of-image marker after its segments, a PNG's IEND chunk, a RIFF
// form's size, ...). A finder reads the file's bytes as they stream past, in
// pieces of any size, and says where that end is.
//
// A finder never guesses: where the bytes do not follow the format (a
// truncated or corrupt file, data of another kind), it says it found no end,
// and the caller keeps every byte up to the next start, as it would without
// it. Cutting away data that may be the photo is worse than keeping too much.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace kestrella {

class FileEndFinder {
 public:
  enum class State {
    NeedMore,  // the end lies further on (or is not known yet)
    Ended,     // the file ends End() bytes from its start
    NoEnd,     // the bytes do not follow the format: no end can be found
  };
  virtual ~FileEndFinder() = default;

  // Feeds the next `size` bytes of the file. Once the state is Ended or
  // NoEnd, it stays so and further bytes are ignored.
  virtual State Feed(const uint8_t* data, size_t size) = 0;
  virtual State Current() const = 0;
  // Ended: the file's length in bytes, counted from its first byte. It may
  // lie before the end of the bytes fed so far (a finder may learn of an
  // end only from structures after it), never after it.
  virtual uint64_t End() const = 0;
};

// A finder for files of `kind` (the kind names of the signature table:
// "JPG", "PNG", "TIF", ...), or nullptr for a kind whose format records no
// end.
std::unique_ptr<FileEndFinder> MakeEndFinder(std::string_view kind);

// The size at which a found file of `kind` whose end was not found is
// stopped, so that a file does not run on over the rest of a large card.
uint64_t SizeLimitFor(std::string_view kind);

// The end of a file of `kind` held whole in data[0 .. size-1], if one is found
// in it.
std::optional<uint64_t> FindFileEnd(std::string_view kind, const uint8_t* data, size_t size);

}  // namespace kestrella
