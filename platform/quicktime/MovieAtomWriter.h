// Lays out QuickTime file atoms: the sample description entry of a
// compressed image, and the whole movie atom ('moov') of a movie whose media
// data already sits in the file. Atom sizes are filled in as each atom is
// closed; every number is written big-endian.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/quicktime/MovieRecords.h"

namespace qtrt {

class MovieAtomWriter {
 public:
  // The 'stsd' entry for `desc`, with its per-frame data size left 0 so that
  // equal frames share one entry.
  static std::vector<std::uint8_t> ImageSampleEntry(const ImageDescription& desc);
  // The 'moov' atom of `movie`; chunk offsets above 4 GiB switch the track
  // to 64-bit offsets ('co64').
  static std::vector<std::uint8_t> MovieAtom(const MovieRecord& movie);

  // Movie duration: the longest track, in the movie's time scale.
  static std::int64_t MovieDuration(const MovieRecord& movie);

 private:
  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U16(std::uint32_t v);
  void U32(std::uint32_t v);
  void U64(std::uint64_t v);
  void Type(OSType type) { U32(type); }
  void Zeros(std::size_t n) { bytes_.insert(bytes_.end(), n, 0); }
  void Begin(OSType type);
  void End();
  void Matrix();
  void Track(const TrackRecord& track, const MovieRecord& movie);
  void SampleTable(const MediaRecord& media);

  std::vector<std::uint8_t> bytes_;
  std::vector<std::size_t> open_;
};

}  // namespace qtrt
