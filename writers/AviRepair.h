// Finishes an AVI clip whose writer never closed it: the program was killed
// or crashed while recording. Such a file holds the header and the frames
// written so far, but no index, zero frame counts and zero list sizes; a
// frame may be cut off at the end.
//
// The repair walks the RIFF structure as the AVI muxer lays it out (one video
// stream; past 1 GB further "RIFF AVIX" parts with OpenDML indexes), keeps
// every complete frame, drops a cut-off last frame or index, and writes what
// closing the file would have written: the list and RIFF sizes, the frame
// counts of the main and stream headers, and the index ("idx1" for a file of
// one part; for larger files the last part's "ix00" standard index, its entry
// in the stream's "indx" super index and the "odml" total). Parts that were
// closed while recording keep their own indexes. Key frames are recognised
// in the frame data of the codecs this program writes (uncompressed, MPEG-4
// version 3, MPEG-4 part 2); for other codecs only the first frame is marked
// as a key frame, which keeps seeking correct if slow.
//
// A file that is already complete is left untouched, so running the repair
// twice does no harm. Plain C++ over POSIX files; no media library.
#pragma once

#include <cstdint>
#include <string>

#include "writers/ClipRepair.h"

namespace framory {

class AviRepair {
 public:
  // Unrepairable: not an AVI file of this program, or its header is cut off.
  using Outcome = ClipRepairOutcome;

  explicit AviRepair(std::string path) : path_(std::move(path)) {}

  Outcome Run();

  // After Run: the frames the file holds.
  std::int64_t Frames() const { return frames_; }

 private:
  std::string path_;
  std::int64_t frames_ = 0;
};

}  // namespace framory
