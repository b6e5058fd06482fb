// Reads the frame counts and indexes of an AVI file for the tests, by a plain
// sequential walk of its RIFF parts, independent of the code under test:
// the main and stream header counts, the "odml" total, the "idx1" entries of
// the first part, each part's "ix00" entries and the "indx" super index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace framory::testing {

struct AviIndexEntry {
  std::string Id;           // chunk id, e.g. "00dc"
  std::uint32_t Flags = 0;  // idx1: 0x10 key frame; ix00: 0x10 unless the delta bit is set
  std::int64_t Offset = 0;  // of the chunk header in the file
  std::uint32_t Size = 0;
  bool operator==(const AviIndexEntry&) const = default;
};

struct AviIndexReport {
  bool Ok = false;  // the RIFF structure is whole and every size field fits
  std::string Problem;
  std::uint32_t AvihFrames = 0, StrhLength = 0;
  std::int64_t DmlhFrames = -1;  // -1: no "LIST odml"
  std::int32_t Parts = 0;        // RIFF parts
  std::vector<AviIndexEntry> Idx1;
  std::vector<AviIndexEntry> Ix;  // every part's ix00 entries, in order
  std::int32_t SuperIndexEntries = 0;
  std::int64_t SuperIndexFrames = 0;      // sum of the entries' durations
  std::vector<std::int64_t> FrameChunks;  // offsets of every "00dc"/"00db" chunk, in order
  // Every index entry names a frame chunk of the file with its size.
  bool IndexesMatchChunks = false;
};

AviIndexReport ReadAviIndex(const std::string& path);

}  // namespace framory::testing
