#include "writers/AviRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/UniqueFd.h"
#include "writers/AviKeyFrames.h"

namespace framory {

namespace {

using Tag = std::uint32_t;

constexpr Tag MakeTag(const char (&text)[5]) {
  return static_cast<Tag>(static_cast<unsigned char>(text[0])) |
         (static_cast<Tag>(static_cast<unsigned char>(text[1])) << 8) |
         (static_cast<Tag>(static_cast<unsigned char>(text[2])) << 16) |
         (static_cast<Tag>(static_cast<unsigned char>(text[3])) << 24);
}

constexpr Tag kRiff = MakeTag("RIFF");
constexpr Tag kList = MakeTag("LIST");
constexpr Tag kJunk = MakeTag("JUNK");
constexpr Tag kAvi = MakeTag("AVI ");
constexpr Tag kAvix = MakeTag("AVIX");
constexpr Tag kHdrl = MakeTag("hdrl");
constexpr Tag kStrl = MakeTag("strl");
constexpr Tag kMovi = MakeTag("movi");
constexpr Tag kAvih = MakeTag("avih");
constexpr Tag kStrh = MakeTag("strh");
constexpr Tag kStrf = MakeTag("strf");
constexpr Tag kIndx = MakeTag("indx");
constexpr Tag kOdml = MakeTag("odml");
constexpr Tag kDmlh = MakeTag("dmlh");
constexpr Tag kIdx1 = MakeTag("idx1");
constexpr Tag kVids = MakeTag("vids");

constexpr std::uint32_t kKeyFrameFlag = 0x10;           // AVIIF_KEYFRAME in idx1
constexpr std::uint32_t kDeltaFrameBit = 0x80000000u;   // in an OpenDML standard index entry
constexpr std::int64_t kSuperIndexHeaderBytes = 24;     // up to the first entry
constexpr std::int64_t kSuperIndexEntryBytes = 16;      // qwOffset, dwSize, dwDuration
constexpr std::int64_t kStandardIndexHeaderBytes = 24;  // up to the first entry

std::uint32_t Le32(const unsigned char* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (std::uint32_t{at[3]} << 24);
}

void Put16(std::vector<unsigned char>& out, std::uint16_t v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}
void Put32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int b = 0; b < 4; ++b) out.push_back(static_cast<unsigned char>(v >> (8 * b)));
}
void Put64(std::vector<unsigned char>& out, std::uint64_t v) {
  Put32(out, static_cast<std::uint32_t>(v));
  Put32(out, static_cast<std::uint32_t>(v >> 32));
}

// The file, read and written at given offsets.
class File {
 public:
  explicit File(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {}

  bool Ok() const { return fd_.Valid(); }
  std::int64_t Size() const {
    struct stat st;
    return fstat(fd_.Get(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
  }
  // Reads up to `n` bytes; the count read, 0 past the end.
  std::size_t ReadSome(std::int64_t at, void* to, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(fd_.Get(), static_cast<char*>(to) + done, n - done, at + done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }
  bool Read(std::int64_t at, void* to, std::size_t n) const { return ReadSome(at, to, n) == n; }
  bool Read32(std::int64_t at, std::uint32_t* value) const {
    unsigned char b[4];
    if (!Read(at, b, 4)) return false;
    *value = Le32(b);
    return true;
  }
  bool Write(std::int64_t at, const void* from, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t put =
          ::pwrite(fd_.Get(), static_cast<const char*>(from) + done, n - done, at + done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += static_cast<std::size_t>(put);
    }
    return true;
  }
  bool Write32(std::int64_t at, std::uint32_t value) {
    std::vector<unsigned char> b;
    Put32(b, value);
    return Write(at, b.data(), b.size());
  }
  bool Truncate(std::int64_t size) { return ::ftruncate(fd_.Get(), size) == 0; }
  bool Sync() { return ::fdatasync(fd_.Get()) == 0; }

 private:
  UniqueFd fd_;
};

struct Chunk {
  std::int64_t Pos = 0;  // of the chunk header
  Tag Id = 0;
  std::uint32_t Size = 0;
};

// One RIFF part: "RIFF" size "AVI " or "AVIX", holding a "LIST" "movi".
struct Part {
  std::int64_t RiffPos = 0;
  std::uint32_t RiffSize = 0;  // 0 while the part is being written
  std::int64_t MoviPos = 0;    // of the "movi" tag; the list's size field is just before it
  std::uint32_t MoviSize = 0;  // 0 while the part is being written
  std::vector<Chunk> Frames;
  std::int64_t FramesEnd = 0;      // end of the last complete frame chunk, with its pad byte
  std::int64_t IndexEntries = -1;  // entries of the part's "ix00", -1 when none
  std::int64_t Idx1Entries = -1;   // first part: entries of the "idx1" after the movie list
  bool Closed() const { return RiffSize != 0 && MoviSize != 0; }
  std::int64_t RiffEnd() const { return RiffPos + 8 + RiffSize; }
};

// Where the header fields the repair writes live.
struct Header {
  std::int64_t AvihFrames = -1;     // avih dwTotalFrames
  std::int64_t StrhLength = -1;     // strh dwLength
  std::int64_t StrhSuggested = -1;  // strh dwSuggestedBufferSize
  Tag Compression = 0;
  std::int64_t SuperIndex = -1;  // chunk header of the "indx" (a "JUNK" until needed)
  std::uint32_t SuperIndexSize = 0;
  std::int64_t Odml = -1;        // chunk header of the "odml" list (a "JUNK" until needed)
  std::int64_t DmlhFrames = -1;  // dmlh dwTotalFrames
  int Streams = 0;
  bool VideoStream = false;
};

bool IsFrameId(Tag id) {
  // "00dc" (compressed) or "00db" (uncompressed) of the one video stream.
  return id == MakeTag("00dc") || id == MakeTag("00db");
}

bool IsPrintable(Tag id) {
  for (int b = 0; b < 4; ++b) {
    const auto c = static_cast<unsigned char>(id >> (8 * b));
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

class Walker {
 public:
  explicit Walker(File& file) : file_(file), size_(file.Size()) {}

  // Reads the chunk header at `pos` if the whole chunk lies before `limit`.
  bool ChunkAt(std::int64_t pos, std::int64_t limit, Chunk* chunk) const {
    unsigned char b[8];
    if (pos + 8 > limit || !file_.Read(pos, b, 8)) return false;
    chunk->Pos = pos;
    chunk->Id = Le32(b);
    chunk->Size = Le32(b + 4);
    return pos + 8 + chunk->Size <= limit;
  }
  static std::int64_t Next(const Chunk& c) { return c.Pos + 8 + c.Size + (c.Size & 1); }
  Tag TagAt(std::int64_t pos) const {
    std::uint32_t v = 0;
    return file_.Read32(pos, &v) ? v : 0;
  }
  std::int64_t FileSize() const { return size_; }

  // The header list: where the counts and indexes live.
  bool ReadHeader(std::int64_t begin, std::int64_t end, Header* h) const {
    Chunk c;
    for (std::int64_t pos = begin; ChunkAt(pos, end, &c); pos = Next(c)) {
      if (c.Id == kAvih && c.Size >= 56) {
        h->AvihFrames = c.Pos + 8 + 16;
      } else if (c.Id == kList && TagAt(c.Pos + 8) == kStrl) {
        ++h->Streams;
        ReadStream(c.Pos + 12, c.Pos + 8 + c.Size, h);
      } else if ((c.Id == kJunk || c.Id == kList) && c.Size >= 16 && TagAt(c.Pos + 8) == kOdml &&
                 TagAt(c.Pos + 12) == kDmlh) {
        h->Odml = c.Pos;
        h->DmlhFrames = c.Pos + 8 + 4 + 8;
      }
    }
    return h->AvihFrames >= 0 && h->StrhLength >= 0 && h->VideoStream;
  }

  // The parts and their frames, from the first "LIST movi" on.
  bool ReadParts(std::int64_t moviList, std::vector<Part>* parts) const {
    Part first;
    first.RiffPos = 0;
    std::uint32_t riffSize = 0;
    file_.Read32(4, &riffSize);
    first.RiffSize = riffSize;
    first.MoviPos = moviList + 8;
    file_.Read32(moviList + 4, &first.MoviSize);
    parts->push_back(first);
    for (;;) {
      Part& part = parts->back();
      ReadFrames(&part);
      if (parts->size() == 1) ReadIdx1(&part);
      if (!part.Closed() || part.RiffEnd() > size_) return true;
      // A closed part is followed by "RIFF" size "AVIX" "LIST" size "movi".
      const std::int64_t next = part.RiffEnd();
      unsigned char b[24];
      if (!file_.Read(next, b, sizeof b) || Le32(b) != kRiff || Le32(b + 8) != kAvix ||
          Le32(b + 12) != kList || Le32(b + 20) != kMovi) {
        return true;
      }
      Part more;
      more.RiffPos = next;
      more.RiffSize = Le32(b + 4);
      more.MoviPos = next + 20;
      more.MoviSize = Le32(b + 16);
      parts->push_back(more);
    }
  }

 private:
  void ReadStream(std::int64_t begin, std::int64_t end, Header* h) const {
    Chunk c;
    for (std::int64_t pos = begin; ChunkAt(pos, end, &c); pos = Next(c)) {
      if (c.Id == kStrh && c.Size >= 56) {
        h->VideoStream = h->VideoStream || TagAt(c.Pos + 8) == kVids;
        h->StrhLength = c.Pos + 8 + 32;
        h->StrhSuggested = c.Pos + 8 + 36;
      } else if (c.Id == kStrf && c.Size >= 20) {
        h->Compression = TagAt(c.Pos + 8 + 16);
      } else if ((c.Id == kJunk || c.Id == kIndx) && c.Size >= kSuperIndexHeaderBytes &&
                 h->SuperIndex < 0) {
        // A super index: four longs per entry, an index of indexes.
        unsigned char b[4];
        if (file_.Read(c.Pos + 8, b, 4) && b[0] == 4 && b[1] == 0 && b[3] == 0) {
          h->SuperIndex = c.Pos;
          h->SuperIndexSize = c.Size;
        }
      }
    }
  }

  // Every complete chunk of the part's movie list; stops at a cut-off chunk.
  void ReadFrames(Part* part) const {
    const std::int64_t riffLimit =
        part->RiffSize != 0 && part->RiffEnd() <= size_ ? part->RiffEnd() : size_;
    const std::int64_t limit = part->MoviSize != 0 && part->MoviPos + part->MoviSize <= riffLimit
                                   ? part->MoviPos + part->MoviSize
                                   : riffLimit;
    part->FramesEnd = part->MoviPos + 4;
    Chunk c;
    for (std::int64_t pos = part->MoviPos + 4; ChunkAt(pos, limit, &c); pos = Next(c)) {
      if (IsFrameId(c.Id)) {
        part->Frames.push_back(c);
        part->FramesEnd = Next(c);
      } else if (c.Id == MakeTag("ix00")) {
        std::uint32_t entries = 0;
        if (c.Size >= 8 && file_.Read32(c.Pos + 8 + 4, &entries)) part->IndexEntries = entries;
      } else if (!IsPrintable(c.Id)) {
        return;  // not a chunk: the end of what was written
      }
    }
  }

  void ReadIdx1(Part* part) const {
    if (part->MoviSize == 0) return;
    const std::int64_t riffLimit =
        part->RiffSize != 0 && part->RiffEnd() <= size_ ? part->RiffEnd() : size_;
    Chunk c;
    const std::int64_t after = part->MoviPos + part->MoviSize + (part->MoviSize & 1);
    if (ChunkAt(after, riffLimit, &c) && c.Id == kIdx1) part->Idx1Entries = c.Size / 16;
  }

  File& file_;
  std::int64_t size_;
};

// Finds the header list and the first movie list of the first part.
bool FindLists(const Walker& walker, std::int64_t* hdrl, std::int64_t* hdrlEnd,
               std::int64_t* movi) {
  *hdrl = *movi = -1;
  const std::int64_t size = walker.FileSize();
  for (std::int64_t pos = 12; pos + 12 <= size;) {
    Chunk c;
    const bool whole = walker.ChunkAt(pos, size, &c);
    const Tag type = c.Id == kList ? walker.TagAt(c.Pos + 8) : 0;
    if (type == kMovi) {
      // Its size is 0 while it is written: only this list may run past the end.
      *movi = c.Pos;
      return *hdrl >= 0;
    }
    if (!whole) return false;
    if (type == kHdrl) {
      *hdrl = c.Pos + 12;
      *hdrlEnd = c.Pos + 8 + c.Size;
    }
    pos = Walker::Next(c);
  }
  return false;
}

class Rebuild {
 public:
  Rebuild(File& file, const Header& header, std::vector<Part>& parts)
      : file_(file), header_(header), parts_(parts) {}

  std::int64_t TotalFrames() const {
    std::int64_t n = 0;
    for (const Part& p : parts_) n += static_cast<std::int64_t>(p.Frames.size());
    return n;
  }

  bool Complete(std::int64_t fileSize) const {
    const Part& last = parts_.back();
    if (!last.Closed() || last.RiffEnd() != fileSize) return false;
    const std::int64_t total = TotalFrames();
    std::uint32_t length = 0;
    if (!file_.Read32(header_.StrhLength, &length) || length != total) return false;
    if (parts_.size() == 1) {
      std::uint32_t frames = 0;
      return last.Idx1Entries == total && file_.Read32(header_.AvihFrames, &frames) &&
             frames == total;
    }
    return last.IndexEntries == static_cast<std::int64_t>(last.Frames.size());
  }

  bool Run() {
    Part& last = parts_.back();
    const std::int64_t cut = last.FramesEnd;
    const std::vector<bool> keys = KeyFrames(last);
    // The index first, then the sizes and counts that make it part of the
    // file: a repair that is itself interrupted is simply run again.
    if (!file_.Truncate(cut)) return false;
    std::vector<unsigned char> index;
    if (parts_.size() == 1) {
      index = Idx1(last, keys);
    } else {
      index = StandardIndex(last, keys);
    }
    if (!file_.Write(cut, index.data(), index.size()) || !file_.Sync()) return false;
    const std::int64_t end = cut + static_cast<std::int64_t>(index.size());
    const std::int64_t moviEnd = parts_.size() == 1 ? cut : end;
    const std::int64_t total = TotalFrames();
    bool ok =
        file_.Write32(last.MoviPos - 4, static_cast<std::uint32_t>(moviEnd - last.MoviPos)) &&
        file_.Write32(last.RiffPos + 4, static_cast<std::uint32_t>(end - last.RiffPos - 8)) &&
        file_.Write32(header_.StrhLength, static_cast<std::uint32_t>(total)) &&
        file_.Write32(header_.AvihFrames, static_cast<std::uint32_t>(parts_[0].Frames.size()));
    ok = ok && WriteSuggestedBufferSize();
    ok = ok && (parts_.size() == 1 ? DisableOpenDml() : EnableOpenDml(last, cut, index, total));
    return ok && file_.Sync();
  }

 private:
  std::vector<bool> KeyFrames(const Part& part) const {
    std::vector<bool> keys;
    std::vector<unsigned char> probe(kAviKeyFrameProbeBytes);
    std::size_t index = 0;
    for (std::size_t p = 0; p + 1 < parts_.size(); ++p) index += parts_[p].Frames.size();
    for (const Chunk& f : part.Frames) {
      const std::size_t want = std::min<std::size_t>(f.Size, probe.size());
      const std::size_t got = file_.ReadSome(f.Pos + 8, probe.data(), want);
      keys.push_back(AviFrameIsKey(header_.Compression, probe.data(), got, index++));
    }
    return keys;
  }

  std::vector<unsigned char> Idx1(const Part& part, const std::vector<bool>& keys) const {
    std::vector<unsigned char> out;
    Put32(out, kIdx1);
    Put32(out, static_cast<std::uint32_t>(16 * part.Frames.size()));
    for (std::size_t i = 0; i < part.Frames.size(); ++i) {
      const Chunk& f = part.Frames[i];
      Put32(out, f.Id);
      Put32(out, keys[i] ? kKeyFrameFlag : 0);
      Put32(out, static_cast<std::uint32_t>(f.Pos - part.MoviPos));
      Put32(out, f.Size);
    }
    return out;
  }

  std::vector<unsigned char> StandardIndex(const Part& part, const std::vector<bool>& keys) const {
    std::vector<unsigned char> out;
    const std::uint32_t entries = static_cast<std::uint32_t>(part.Frames.size());
    Put32(out, MakeTag("ix00"));
    Put32(out, static_cast<std::uint32_t>(kStandardIndexHeaderBytes + 8 * entries));
    Put16(out, 2);     // longs per entry
    out.push_back(0);  // sub-type: frames
    out.push_back(1);  // an index of chunks
    Put32(out, entries);
    Put32(out, part.Frames.empty() ? MakeTag("00dc") : part.Frames.front().Id);
    Put64(out, static_cast<std::uint64_t>(part.MoviPos));
    Put32(out, 0);
    for (std::size_t i = 0; i < part.Frames.size(); ++i) {
      const Chunk& f = part.Frames[i];
      Put32(out, static_cast<std::uint32_t>(f.Pos + 8 - part.MoviPos));
      Put32(out, (f.Size & ~kDeltaFrameBit) | (keys[i] ? 0 : kDeltaFrameBit));
    }
    return out;
  }

  bool WriteSuggestedBufferSize() {
    std::uint32_t suggested = 0;
    if (!file_.Read32(header_.StrhSuggested, &suggested)) return false;
    for (const Part& p : parts_) {
      for (const Chunk& f : p.Frames) suggested = std::max(suggested, f.Size);
    }
    return file_.Write32(header_.StrhSuggested, suggested);
  }

  // A file of one part is not an OpenDML file; one that was cut while its
  // first part was being closed, or cut back after an earlier repair, may
  // already have its super index and "odml" list enabled.
  bool DisableOpenDml() {
    std::uint32_t tag = 0;
    if (header_.SuperIndex >= 0 && file_.Read32(header_.SuperIndex, &tag) && tag == kIndx) {
      const std::vector<unsigned char> blank(kSuperIndexEntryBytes, 0);
      if (!file_.Write32(header_.SuperIndex, kJunk) ||
          !file_.Write32(header_.SuperIndex + 8 + 4, 0) ||
          !file_.Write(header_.SuperIndex + 8 + kSuperIndexHeaderBytes, blank.data(),
                       blank.size())) {
        return false;
      }
    }
    if (header_.Odml >= 0 && file_.Read32(header_.Odml, &tag) && tag == kList) {
      return file_.Write32(header_.Odml, kJunk) && file_.Write32(header_.DmlhFrames, 0);
    }
    return true;
  }

  bool EnableOpenDml(const Part& last, std::int64_t indexPos,
                     const std::vector<unsigned char>& index, std::int64_t total) {
    const std::int64_t slot = static_cast<std::int64_t>(parts_.size()) - 1;
    if (header_.SuperIndex < 0 || header_.Odml < 0 ||
        kSuperIndexHeaderBytes + kSuperIndexEntryBytes * (slot + 1) > header_.SuperIndexSize) {
      return false;
    }
    std::vector<unsigned char> entry;
    Put64(entry, static_cast<std::uint64_t>(indexPos));
    Put32(entry, static_cast<std::uint32_t>(index.size()));
    Put32(entry, static_cast<std::uint32_t>(last.Frames.size()));
    const std::int64_t data = header_.SuperIndex + 8;
    return file_.Write(data + kSuperIndexHeaderBytes + kSuperIndexEntryBytes * slot, entry.data(),
                       entry.size()) &&
           file_.Write32(data + 4, static_cast<std::uint32_t>(slot + 1)) &&
           file_.Write32(header_.SuperIndex, kIndx) && file_.Write32(header_.Odml, kList) &&
           file_.Write32(header_.DmlhFrames, static_cast<std::uint32_t>(total));
  }

  File& file_;
  const Header& header_;
  std::vector<Part>& parts_;
};

}  // namespace

AviRepair::Outcome AviRepair::Run() {
  frames_ = 0;
  File file(path_);
  if (!file.Ok()) return errno == ENOENT ? Outcome::NoFile : Outcome::WriteFailed;
  const std::int64_t size = file.Size();
  if (size < 0) return Outcome::Unrepairable;
  if (size == 0) return Outcome::NoFile;
  Walker walker(file);
  unsigned char riff[12];
  if (!file.Read(0, riff, sizeof riff) || Le32(riff) != kRiff || Le32(riff + 8) != kAvi) {
    return Outcome::Unrepairable;
  }
  std::int64_t hdrl = 0, hdrlEnd = 0, movi = 0;
  if (!FindLists(walker, &hdrl, &hdrlEnd, &movi)) return Outcome::Unrepairable;
  Header header;
  if (!walker.ReadHeader(hdrl, hdrlEnd, &header) || header.Streams != 1) {
    return Outcome::Unrepairable;
  }
  std::vector<Part> parts;
  if (!walker.ReadParts(movi, &parts)) return Outcome::Unrepairable;

  Rebuild rebuild(file, header, parts);
  frames_ = rebuild.TotalFrames();
  if (rebuild.Complete(size)) return Outcome::Complete;
  return rebuild.Run() ? Outcome::Repaired : Outcome::WriteFailed;
}

}  // namespace framory
