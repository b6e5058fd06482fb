#include "writers/MovRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "writers/RepairFile.h"

namespace framory {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t Tag(const char (&s)[5]) {
  return (std::uint32_t{static_cast<unsigned char>(s[0])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(s[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(s[2])} << 8) |
         std::uint32_t{static_cast<unsigned char>(s[3])};
}

// The file as the writer lays it out: 'ftyp' (20 bytes), 'wide' (8), the
// 'mdat' header (8), the samples.
constexpr std::int64_t kWideOffset = 20;
constexpr std::int64_t kMdatOffset = 28;
constexpr std::int64_t kDataStart = 36;

// The movie's own time scale, as QuickTime makes new movies.
constexpr std::int64_t kMovieTimeScale = 600;
constexpr std::uint32_t kNormalRate = 0x10000;
// What the Photo-JPEG codec puts in the description of each image.
constexpr std::uint32_t kVendor = Tag("frmy");
constexpr std::uint32_t kSpatialQuality = 512;  // the writer's normal quality
constexpr char kCodecName[] = "Photo - JPEG";

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

using File = RepairFile;

// Byte access to [0, size) of the file through a window that moves forward
// with the reads, so that a file of gigabytes is read once, in large pieces.
class Reader {
 public:
  Reader(const File& file, std::int64_t size) : file_(file), size_(size) {}

  // The byte at `at`, or -1 past the end (or when it cannot be read).
  int At(std::int64_t at) {
    if (at < 0 || at >= size_) return -1;
    if (at < start_ || at >= start_ + static_cast<std::int64_t>(window_.size())) {
      if (!Load(at)) return -1;
    }
    return window_[static_cast<std::size_t>(at - start_)];
  }
  int U16(std::int64_t at) {
    const int a = At(at), b = At(at + 1);
    return a < 0 || b < 0 ? -1 : (a << 8) | b;
  }
  // The first 0xFF at or after `from`, before `limit`; -1 when none.
  std::int64_t FindFF(std::int64_t from, std::int64_t limit) {
    limit = std::min(limit, size_);
    while (from < limit) {
      if (At(from) < 0) return -1;
      const std::size_t offset = static_cast<std::size_t>(from - start_);
      const std::size_t span = static_cast<std::size_t>(
          std::min<std::int64_t>(limit - from, static_cast<std::int64_t>(window_.size() - offset)));
      const void* hit = std::memchr(window_.data() + offset, 0xFF, span);
      if (hit != nullptr) {
        return start_ + (static_cast<const std::uint8_t*>(hit) - window_.data());
      }
      from += static_cast<std::int64_t>(span);
    }
    return -1;
  }

 private:
  bool Load(std::int64_t at) {
    constexpr std::int64_t kWindow = 1 << 20;
    const std::int64_t n = std::min(kWindow, size_ - at);
    window_.resize(static_cast<std::size_t>(n));
    if (!file_.Read(at, window_.data(), window_.size())) {
      window_.clear();
      return false;
    }
    start_ = at;
    return true;
  }

  const File& file_;
  std::int64_t size_;
  std::int64_t start_ = 0;
  Bytes window_;
};

struct Picture {
  int Width = 0, Height = 0;
};

// The end of the whole JPEG image that starts at `pos`, with its size in
// `picture`; -1 when no whole image starts there. The image must carry what
// a decoder needs before its scan (a frame header, quantisation and Huffman
// tables) and end with the end-of-image marker.
std::int64_t JpegImageAt(Reader& r, std::int64_t pos, Picture* picture) {
  if (r.At(pos) != 0xFF || r.At(pos + 1) != 0xD8) return -1;
  std::int64_t p = pos + 2;
  int components = 0;
  bool frame = false, quantTables = false, huffmanTables = false, scanned = false;
  for (;;) {
    if (r.At(p) != 0xFF) return -1;
    // Fill bytes may precede a marker.
    while (r.At(p + 1) == 0xFF) ++p;
    const int marker = r.At(p + 1);
    if (marker < 0) return -1;
    if (marker == 0xD9) return scanned ? p + 2 : -1;
    if (marker == 0x00 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      return -1;  // no segment of a header
    }
    const int length = r.U16(p + 2);
    if (length < 2) return -1;
    const std::int64_t segment = p + 4;  // the segment's data
    const std::int64_t next = p + 2 + length;
    if (r.At(next - 1) < 0) return -1;  // cut off
    const bool startOfFrame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (startOfFrame) {
      if (frame || length < 8) return -1;
      const int precision = r.At(segment);
      picture->Height = r.U16(segment + 1);
      picture->Width = r.U16(segment + 3);
      components = r.At(segment + 5);
      if (precision != 8 || picture->Height <= 0 || picture->Width <= 0 ||
          (components != 1 && components != 3) || length != 8 + 3 * components) {
        return -1;
      }
      frame = true;
    } else if (marker == 0xDB) {
      quantTables = true;
    } else if (marker == 0xC4) {
      huffmanTables = true;
    } else if (marker == 0xDA) {
      const int inScan = r.At(segment);
      if (!frame || !quantTables || !huffmanTables || inScan < 1 || inScan > components ||
          length != 6 + 2 * inScan) {
        return -1;
      }
      // The entropy-coded data: a 0xFF in it is followed by a zero byte or
      // a restart marker; any other marker ends the scan.
      std::int64_t q = next;
      for (;;) {
        q = r.FindFF(q, std::numeric_limits<std::int64_t>::max());
        if (q < 0) return -1;
        const int after = r.At(q + 1);
        if (after < 0) return -1;
        if (after == 0x00 || (after >= 0xD0 && after <= 0xD7) || after == 0xFF) {
          q += after == 0xFF ? 1 : 2;
          continue;
        }
        break;
      }
      scanned = true;
      p = q;  // the end of the image, or the tables and header of the next scan
      continue;
    }
    p = next;
  }
}

struct Sample {
  std::int64_t Offset;
  std::uint32_t Size;
  std::int32_t Duration;
};

// Lays out atoms big-endian, each sized when it is closed.
class Atoms {
 public:
  void U8(std::uint32_t v) { bytes_.push_back(static_cast<std::uint8_t>(v)); }
  void U16(std::uint32_t v) {
    U8(v >> 8);
    U8(v);
  }
  void U32(std::uint32_t v) {
    U16(v >> 16);
    U16(v & 0xFFFF);
  }
  void U64(std::uint64_t v) {
    U32(static_cast<std::uint32_t>(v >> 32));
    U32(static_cast<std::uint32_t>(v));
  }
  void Zeros(std::size_t n) { bytes_.insert(bytes_.end(), n, 0); }
  void PascalText(const char* text, std::size_t field) {
    const std::size_t n = std::strlen(text);
    U8(static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) U8(static_cast<unsigned char>(text[i]));
    if (field > n + 1) Zeros(field - n - 1);
  }
  void Begin(std::uint32_t type) {
    open_.push_back(bytes_.size());
    U32(0);
    U32(type);
  }
  void End() {
    const std::size_t start = open_.back();
    open_.pop_back();
    const auto size = static_cast<std::uint32_t>(bytes_.size() - start);
    for (int i = 0; i < 4; ++i) bytes_[start + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
  }
  void Matrix() {
    for (std::uint32_t v : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u}) U32(v);
  }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
  std::vector<std::size_t> open_;
};

std::uint32_t Clamp32(std::int64_t v) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, 0xFFFFFFFFll));
}

// The movie atom QuickTime writes for one video track of these samples, all
// key frames of one description, media inserted whole at rate 1.
Bytes MovieAtom(const std::vector<Sample>& samples, const Picture& picture, std::int32_t timeScale,
                std::uint32_t created) {
  std::int64_t mediaDuration = 0;
  for (const Sample& s : samples) mediaDuration += s.Duration;
  // The track's one edit: the media's duration (as a 32-bit time value) in
  // the movie's time scale, rounded.
  const std::int64_t inserted =
      std::min<std::int64_t>(mediaDuration, std::numeric_limits<std::int32_t>::max());
  const std::int64_t editDuration =
      (inserted * kMovieTimeScale * kNormalRate + std::int64_t{timeScale} * kNormalRate / 2) /
      (std::int64_t{timeScale} * kNormalRate);

  Atoms a;
  a.Begin(Tag("moov"));
  a.Begin(Tag("mvhd"));
  a.U32(0);
  a.U32(created);
  a.U32(created);
  a.U32(static_cast<std::uint32_t>(kMovieTimeScale));
  a.U32(Clamp32(editDuration));
  a.U32(0x10000);  // preferred rate
  a.U16(0x100);    // preferred volume
  a.Zeros(10);
  a.Matrix();
  a.Zeros(24);
  a.U32(2);  // next track id
  a.End();

  a.Begin(Tag("trak"));
  a.Begin(Tag("tkhd"));
  a.U32(0x0000000F);
  a.U32(created);
  a.U32(created);
  a.U32(1);  // track id
  a.U32(0);
  a.U32(Clamp32(editDuration));
  a.Zeros(8);
  a.U16(0);  // layer
  a.U16(0);  // alternate group
  a.U16(0);  // volume
  a.U16(0);
  a.Matrix();
  a.U32(static_cast<std::uint32_t>(picture.Width) << 16);
  a.U32(static_cast<std::uint32_t>(picture.Height) << 16);
  a.End();

  a.Begin(Tag("edts"));
  a.Begin(Tag("elst"));
  a.U32(0);
  a.U32(1);
  a.U32(Clamp32(editDuration));
  a.U32(0);  // from media time 0
  a.U32(kNormalRate);
  a.End();
  a.End();

  a.Begin(Tag("mdia"));
  a.Begin(Tag("mdhd"));
  a.U32(0);
  a.U32(created);
  a.U32(created);
  a.U32(static_cast<std::uint32_t>(timeScale));
  a.U32(Clamp32(mediaDuration));
  a.U16(0);
  a.U16(0);
  a.End();
  a.Begin(Tag("hdlr"));
  a.U32(0);
  a.U32(Tag("mhlr"));
  a.U32(Tag("vide"));
  a.Zeros(12);
  a.PascalText("Video Media Handler", 0);
  a.End();
  a.Begin(Tag("minf"));
  a.Begin(Tag("vmhd"));
  a.U32(0x00000001);
  a.U16(0x0040);
  a.U16(0x8000);
  a.U16(0x8000);
  a.U16(0x8000);
  a.End();
  a.Begin(Tag("hdlr"));
  a.U32(0);
  a.U32(Tag("dhlr"));
  a.U32(Tag("alis"));
  a.Zeros(12);
  a.PascalText("Data Handler", 0);
  a.End();
  a.Begin(Tag("dinf"));
  a.Begin(Tag("dref"));
  a.U32(0);
  a.U32(1);
  a.Begin(Tag("alis"));
  a.U32(0x00000001);
  a.End();
  a.End();
  a.End();

  a.Begin(Tag("stbl"));
  a.Begin(Tag("stsd"));
  a.U32(0);
  a.U32(1);
  a.Begin(Tag("jpeg"));
  a.Zeros(6);
  a.U16(1);  // data reference index
  a.U16(0);  // version
  a.U16(0);  // revision level
  a.U32(kVendor);
  a.U32(0);  // temporal quality
  a.U32(kSpatialQuality);
  a.U16(static_cast<std::uint32_t>(picture.Width));
  a.U16(static_cast<std::uint32_t>(picture.Height));
  a.U32(72u << 16);
  a.U32(72u << 16);
  a.U32(0);  // data size: per sample, in the table
  a.U16(1);  // frame count
  a.PascalText(kCodecName, 32);
  a.U16(24);      // depth
  a.U16(0xFFFF);  // no colour table
  a.End();
  a.End();

  std::vector<std::pair<std::uint32_t, std::int32_t>> runs;
  for (const Sample& s : samples) {
    if (!runs.empty() && runs.back().second == s.Duration) {
      ++runs.back().first;
    } else {
      runs.emplace_back(1, s.Duration);
    }
  }
  a.Begin(Tag("stts"));
  a.U32(0);
  a.U32(static_cast<std::uint32_t>(runs.size()));
  for (const auto& run : runs) {
    a.U32(run.first);
    a.U32(static_cast<std::uint32_t>(run.second));
  }
  a.End();

  a.Begin(Tag("stsc"));
  a.U32(0);
  a.U32(1);
  a.U32(1);  // from the first chunk on: one sample a chunk, description 1
  a.U32(1);
  a.U32(1);
  a.End();

  a.Begin(Tag("stsz"));
  a.U32(0);
  a.U32(0);
  a.U32(static_cast<std::uint32_t>(samples.size()));
  for (const Sample& s : samples) a.U32(s.Size);
  a.End();

  const bool wide = samples.back().Offset > 0xFFFFFFFFll;
  a.Begin(wide ? Tag("co64") : Tag("stco"));
  a.U32(0);
  a.U32(static_cast<std::uint32_t>(samples.size()));
  for (const Sample& s : samples) {
    if (wide) {
      a.U64(static_cast<std::uint64_t>(s.Offset));
    } else {
      a.U32(static_cast<std::uint32_t>(s.Offset));
    }
  }
  a.End();
  a.End();  // stbl
  a.End();  // minf
  a.End();  // mdia
  a.End();  // trak
  a.End();  // moov
  return a.Take();
}

// A finished movie: the 'mdat' its header sizes is followed by a movie atom
// that ends the file.
bool Finished(const File& file, const std::uint8_t* header, std::int64_t size) {
  std::int64_t mdatEnd = -1;
  if (Be32(header + 20) == 8 && Be32(header + 24) == Tag("wide") &&
      Be32(header + 32) == Tag("mdat") && Be32(header + 28) >= 8) {
    mdatEnd = kMdatOffset + Be32(header + 28);
  } else if (Be32(header + 20) == 1 && Be32(header + 24) == Tag("mdat")) {
    const std::uint64_t wide =
        (std::uint64_t{Be32(header + 28)} << 32) | std::uint64_t{Be32(header + 32)};
    if (wide < 16 || wide > static_cast<std::uint64_t>(size)) return false;
    mdatEnd = kWideOffset + static_cast<std::int64_t>(wide);
  } else {
    return false;
  }
  std::uint8_t moov[8];
  return mdatEnd + 8 <= size && file.Read(mdatEnd, moov, sizeof moov) &&
         Be32(moov + 4) == Tag("moov") && Be32(moov) >= 8 && mdatEnd + Be32(moov) == size;
}

}  // namespace

bool MovRepair::LooksLikeMovie(const unsigned char* bytes, std::size_t size) {
  return size >= 12 && Be32(bytes) == 20 && Be32(bytes + 4) == Tag("ftyp") &&
         Be32(bytes + 8) == Tag("qt  ");
}

MovRepair::Outcome MovRepair::Run() {
  samples_ = 0;
  File file(path_);
  if (!file.Ok()) return errno == ENOENT ? Outcome::NoFile : Outcome::WriteFailed;
  const std::int64_t size = file.Size();
  if (size < 0) return Outcome::Unrepairable;
  if (size == 0) return Outcome::NoFile;
  std::uint8_t header[kDataStart];
  if (size < kDataStart || !file.Read(0, header, sizeof header) ||
      !LooksLikeMovie(header, sizeof header)) {
    return Outcome::Unrepairable;
  }
  if (Finished(file, header, size)) return Outcome::Complete;
  // The header of a movie still being written: 'wide', then an 'mdat'
  // sized as empty (or as an earlier repair or close left it).
  const bool wideHeader = Be32(header + 20) == 8 && Be32(header + 24) == Tag("wide") &&
                          Be32(header + 32) == Tag("mdat");
  const bool longHeader = Be32(header + 20) == 1 && Be32(header + 24) == Tag("mdat");
  if (!wideHeader && !longHeader) return Outcome::Unrepairable;

  const MovSampleTimes& times = times_;

  // The samples: whole JPEG images of one size, back to back.
  Reader reader(file, size);
  std::vector<Sample> samples;
  Picture first;
  for (std::int64_t pos = kDataStart; pos < size;) {
    Picture picture;
    const std::int64_t end = JpegImageAt(reader, pos, &picture);
    if (end < 0 || end - pos > 0xFFFFFFFFll) break;
    if (samples.empty()) {
      first = picture;
    } else if (picture.Width != first.Width || picture.Height != first.Height) {
      break;
    }
    const std::size_t i = samples.size();
    const std::int32_t duration = i < times.Durations.size() ? times.Durations[i] : times.Period;
    samples.push_back({pos, static_cast<std::uint32_t>(end - pos), duration});
    pos = end;
  }
  // No frame reached the file whole: there is nothing to make a movie of.
  if (samples.empty()) return Outcome::NoFile;
  // Without the record the time scale and the durations are unknown.
  if (!times.Ok) return Outcome::Unrepairable;
  samples_ = static_cast<std::int64_t>(samples.size());

  const std::int64_t dataEnd = samples.back().Offset + samples.back().Size;
  const Bytes moov = MovieAtom(samples, first, times.TimeScale, times.Created);
  if (!file.Truncate(dataEnd) || !file.Write(dataEnd, moov.data(), moov.size()) || !file.Sync()) {
    return Outcome::WriteFailed;
  }
  const std::uint64_t mdatSize = static_cast<std::uint64_t>(dataEnd - kDataStart) + 8;
  std::uint8_t mdat[16];
  Atoms a;
  if (mdatSize <= 0xFFFFFFFFull) {
    // Back to the 'wide' placeholder and a 32-bit size.
    a.U32(8);
    a.U32(Tag("wide"));
    a.U32(static_cast<std::uint32_t>(mdatSize));
    a.U32(Tag("mdat"));
  } else {
    a.U32(1);
    a.U32(Tag("mdat"));
    a.U64(mdatSize + 8);
  }
  const Bytes bytes = a.Take();
  std::memcpy(mdat, bytes.data(), sizeof mdat);
  if (!file.Write(kWideOffset, mdat, sizeof mdat) || !file.Sync()) return Outcome::WriteFailed;
  return Outcome::Repaired;
}

}  // namespace framory
