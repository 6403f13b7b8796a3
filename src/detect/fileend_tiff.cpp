// Where a TIFF-structured file ends (TIFF pictures and the camera raw files
// built like them: Nikon NEF, Canon CR2, Kodak DCR, ...).
#include <algorithm>
#include <vector>

#include "detect/fileend_walker.h"
#include "util/bytes.h"

namespace kestrella {
namespace {

// A TIFF file has no end mark and no length: its header points at the first
// image file directory (IFD), and every directory points at the data it
// describes, wherever in the file that lies. The file ends at the furthest
// byte of anything referenced: every IFD (a count, 12 bytes an entry, the
// next IFD's offset), every entry's value stored outside the entry (over 4
// bytes of it), the strips, tiles and JPEG preview an IFD names, and the IFDs
// reached from the chain of next-IFD offsets, the SubIFDs (330), and the
// Exif (34665), GPS (34853) and Interoperability (40965) IFDs. Maker notes
// lie inside the Exif IFD's values and are not read.
//
// The structures come in any order, and may point back at bytes already fed,
// so the finder keeps the first kPrefix bytes of the file and the latest
// kWindow bytes. A structure is read the moment its last byte comes in; one
// found to lie in bytes already fed and no longer kept means no end is found.
// What a structure is read against is always the same, however the bytes
// were split: the walk takes bytes only up to the end of the next structure
// it waits for, so each is read at the same offset of the stream.
//
// A byte order other than II and MM, a header other than classic TIFF's
// (BigTIFF does not fit FAT), an IFD without entries, an unknown value type,
// strips without their byte counts, or anything said to lie past the largest
// file FAT holds mean no end is found.
class TiffEndFinder final : public FileEndFinder {
 public:
  TiffEndFinder() { Want(0, 8, What::Header, 0); }

  State Feed(const uint8_t* data, size_t size) override {
    while (state_ == State::NeedMore && size > 0) {
      size_t take = size;
      if (!done_) {
        uint64_t stop = kFatMaxFile + 1;
        for (const Wanted& w : wanted_) stop = std::min(stop, w.offset + w.length);
        take = static_cast<size_t>(std::min<uint64_t>(take, stop - fed_));
        Keep(data, take);
      }
      fed_ += take;
      data += take;
      size -= take;
      if (!done_) ReadWhatCameIn();
      if (done_ && state_ == State::NeedMore && fed_ >= end_) state_ = State::Ended;
    }
    return state_;
  }

  State Current() const override { return state_; }
  uint64_t End() const override { return state_ == State::Ended ? end_ : 0; }

 private:
  static constexpr uint64_t kPrefix = 2 << 20;
  static constexpr uint64_t kWindow = 512 << 10;
  // Larger IFDs and value arrays than real files have; they must fit the
  // window to be read whole.
  static constexpr uint32_t kMaxEntries = 4096;
  static constexpr uint64_t kMaxValues = 256 * 1024;  // strip, tile and SubIFD offsets in all
  static constexpr size_t kMaxIfds = 256;

  enum class What { Header, IfdCount, IfdBody, List };
  // The lists an IFD names, in pairs of offsets and byte counts.
  enum List {
    kStripOffsets,
    kStripCounts,
    kTileOffsets,
    kTileCounts,
    kJpegOffset,
    kJpegLength,
    kLists,
    kSubIfds = kLists
  };

  struct ListTag {
    uint16_t tag;
    int list;
  };
  static constexpr ListTag kListTags[] = {
      {273, kStripOffsets}, {279, kStripCounts}, {324, kTileOffsets}, {325, kTileCounts},
      {330, kSubIfds},      {513, kJpegOffset},  {514, kJpegLength},
  };

  struct Wanted {
    uint64_t offset, length;
    What what;
    size_t ifd;
    int list;
    uint16_t type;
    uint32_t count;
  };

  struct Ifd {
    uint64_t offset = 0;
    bool followChain = false;
    bool read = false;
    uint64_t next = 0;
    std::vector<uint32_t> lists[kLists];
    bool has[kLists] = {};
  };

  void Fail() { state_ = State::NoEnd; }

  uint16_t Get16(const uint8_t* p) const { return little_ ? Le16(p) : Be16(p); }
  uint32_t Get32(const uint8_t* p) const { return little_ ? Le32(p) : Be32(p); }

  // The file reaches at least `end`.
  void Reach(uint64_t end) {
    if (end > kFatMaxFile) return Fail();
    end_ = std::max(end_, end);
  }

  void Want(uint64_t offset, uint64_t length, What what, size_t ifd, int list = 0,
            uint16_t type = 0, uint32_t count = 0) {
    const uint64_t end = offset + length;
    if (length > kWindow || end > kFatMaxFile) return Fail();
    // Bytes already fed are read only where they are sure to be kept.
    if (end <= fed_ && end > kPrefix && offset + kWindow < fed_) return Fail();
    wanted_.push_back({offset, length, what, ifd, list, type, count});
    Reach(end);
  }

  // Keeps the bytes fed from fed_ on: the prefix, and the latest kWindow
  // bytes after it at least.
  void Keep(const uint8_t* data, size_t size) {
    uint64_t at = fed_;
    if (at < kPrefix) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(size, kPrefix - at));
      prefix_.insert(prefix_.end(), data, data + n);
      data += n;
      size -= n;
      at += n;
    }
    if (size == 0) return;
    if (size >= kWindow) {
      recent_.assign(data + size - kWindow, data + size);
      recentStart_ = at + size - kWindow;
      return;
    }
    if (recent_.empty()) recentStart_ = at;
    recent_.insert(recent_.end(), data, data + size);
    // Dropping the oldest bytes only now and then keeps the moves cheap.
    if (recent_.size() > 2 * kWindow) {
      const size_t drop = recent_.size() - kWindow;
      recent_.erase(recent_.begin(), recent_.begin() + static_cast<std::ptrdiff_t>(drop));
      recentStart_ += drop;
    }
  }

  // The bytes [offset, offset + length) copied together, or nullptr where
  // they are not kept.
  const uint8_t* Bytes(uint64_t offset, uint64_t length) {
    scratch_.resize(length);
    for (uint64_t i = 0; i < length; ++i) {
      const uint64_t at = offset + i;
      if (at < prefix_.size()) {
        scratch_[i] = prefix_[at];
      } else if (at >= recentStart_ && at - recentStart_ < recent_.size()) {
        scratch_[i] = recent_[at - recentStart_];
      } else {
        return nullptr;
      }
    }
    return scratch_.data();
  }

  // Reads every wanted structure whose bytes are all in, in the order they
  // were asked for, until none is left that can be read.
  void ReadWhatCameIn() {
    for (;;) {
      const auto ready = std::find_if(wanted_.begin(), wanted_.end(),
                                      [&](const Wanted& w) { return w.offset + w.length <= fed_; });
      if (ready == wanted_.end()) break;
      const Wanted w = *ready;
      wanted_.erase(ready);
      const uint8_t* b = Bytes(w.offset, w.length);
      if (b == nullptr) return Fail();
      Read(w, b);
      if (state_ != State::NeedMore) return;
    }
    if (!wanted_.empty()) return;
    // Strips, tiles or a preview whose other half was never given.
    for (const Ifd& ifd : ifds_)
      for (int list = 0; list < kLists; list += 2)
        if (ifd.has[list] != ifd.has[list + 1]) return Fail();
    done_ = true;
    std::vector<uint8_t>().swap(prefix_);
    std::vector<uint8_t>().swap(recent_);
    std::vector<uint8_t>().swap(scratch_);
  }

  void Read(const Wanted& w, const uint8_t* b) {
    switch (w.what) {
      case What::Header:
        little_ = b[0] == 'I';
        if (!(b[0] == 'I' && b[1] == 'I') && !(b[0] == 'M' && b[1] == 'M')) return Fail();
        if (Get16(b + 2) != 42) return Fail();
        return AddIfd(Get32(b + 4), /*followChain=*/true);
      case What::IfdCount: {
        const uint32_t entries = Get16(b);
        if (entries == 0 || entries > kMaxEntries) return Fail();
        return Want(w.offset, 2 + 12 * uint64_t{entries} + 4, What::IfdBody, w.ifd);
      }
      case What::IfdBody:
        return ReadIfd(w.ifd, b, Get16(b));
      case What::List:
        return Use(w.ifd, w.list, Values(b, w.type, w.count));
    }
  }

  static uint32_t TypeSize(uint16_t type) {
    // BYTE ASCII SHORT LONG RATIONAL SBYTE UNDEFINED SSHORT SLONG SRATIONAL
    // FLOAT DOUBLE IFD
    constexpr uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(kSizes) ? kSizes[type] : 0;
  }

  std::vector<uint32_t> Values(const uint8_t* b, uint16_t type, uint32_t count) const {
    std::vector<uint32_t> values(count);
    for (uint32_t i = 0; i < count; ++i)
      values[i] = type == 3 ? Get16(b + 2 * i) : Get32(b + 4 * i);
    return values;
  }

  void ReadIfd(size_t index, const uint8_t* b, uint32_t entries) {
    for (uint32_t i = 0; i < entries && state_ == State::NeedMore; ++i) {
      const uint8_t* e = b + 2 + 12 * i;
      const uint16_t tag = Get16(e);
      const uint16_t type = Get16(e + 2);
      const uint32_t count = Get32(e + 4);
      const uint8_t* field = e + 8;
      const uint64_t size = uint64_t{TypeSize(type)} * count;
      if (TypeSize(type) == 0) return Fail();
      const bool inEntry = size <= 4;
      const uint64_t at = inEntry ? 0 : Get32(field);
      if (!inEntry) {
        if (at < 8) return Fail();
        Reach(at + size);
      }
      const bool number = type == 3 || type == 4 || type == 13;
      if (tag == 34665 || tag == 34853 || tag == 40965) {
        // The Exif standard leaves these IFDs' next offsets unused: a stray
        // value there would lead the walk into data that is no IFD.
        if (!number || count != 1) return Fail();
        AddIfd(Get32(field), /*followChain=*/false);
        continue;
      }
      const auto named = std::find_if(std::begin(kListTags), std::end(kListTags),
                                      [&](const ListTag& t) { return t.tag == tag; });
      if (named == std::end(kListTags)) continue;
      const int list = named->list;
      if (!number || ((list == kJpegOffset || list == kJpegLength) && count != 1)) return Fail();
      if (count > kMaxValues - values_) return Fail();
      values_ += count;
      if (inEntry) {
        Use(index, list, Values(field, type, count));
      } else {
        Want(at, size, What::List, index, list, type, count);
      }
    }
    if (state_ != State::NeedMore) return;
    Ifd& ifd = ifds_[index];
    ifd.read = true;
    ifd.next = Get32(b + 2 + 12 * entries);
    if (ifd.followChain && ifd.next != 0) AddIfd(ifd.next, true);
  }

  void Use(size_t index, int list, std::vector<uint32_t> values) {
    if (list == kSubIfds) {
      for (uint32_t offset : values) AddIfd(offset, /*followChain=*/true);
      return;
    }
    Ifd& ifd = ifds_[index];
    if (ifd.has[list]) return Fail();  // a tag given twice
    ifd.has[list] = true;
    ifd.lists[list] = std::move(values);
    const int first = list & ~1;
    if (!ifd.has[first] || !ifd.has[first + 1]) return;
    const std::vector<uint32_t>& offsets = ifd.lists[first];
    const std::vector<uint32_t>& lengths = ifd.lists[first + 1];
    if (offsets.size() != lengths.size()) return Fail();
    for (size_t i = 0; i < offsets.size(); ++i)
      if (lengths[i] != 0) Reach(uint64_t{offsets[i]} + lengths[i]);
    std::vector<uint32_t>().swap(ifd.lists[first]);
    std::vector<uint32_t>().swap(ifd.lists[first + 1]);
  }

  // An IFD is read once, however many references lead to it; one reached on
  // a chain has its own next IFD read, even when first reached otherwise.
  void AddIfd(uint64_t offset, bool followChain) {
    if (offset < 8) return Fail();
    for (Ifd& ifd : ifds_) {
      if (ifd.offset != offset) continue;
      if (followChain && !ifd.followChain) {
        ifd.followChain = true;
        if (ifd.read && ifd.next != 0) AddIfd(ifd.next, true);
      }
      return;
    }
    if (ifds_.size() == kMaxIfds) return Fail();
    ifds_.emplace_back();
    ifds_.back().offset = offset;
    ifds_.back().followChain = followChain;
    Want(offset, 2, What::IfdCount, ifds_.size() - 1);
  }

  State state_ = State::NeedMore;
  bool done_ = false;
  bool little_ = false;
  uint64_t fed_ = 0;
  uint64_t end_ = 0;
  uint64_t values_ = 0;
  std::vector<Wanted> wanted_;
  std::vector<Ifd> ifds_;
  std::vector<uint8_t> prefix_;  // bytes [0, prefix_.size())
  std::vector<uint8_t> recent_;  // bytes [recentStart_, recentStart_ + recent_.size())
  uint64_t recentStart_ = 0;
  std::vector<uint8_t> scratch_;
};

}  // namespace

std::unique_ptr<FileEndFinder> MakeTiffEndFinder() { return std::make_unique<TiffEndFinder>(); }

}  // namespace kestrella
