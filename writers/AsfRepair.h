// Finishes an ASF (WMV) clip whose writer never closed it: the program was
// killed or crashed while recording. Such a file holds the header as it was
// first written (no file size, no packet count, no duration), the data
// object with the packets written so far, and no index; the last packet may
// be cut off, and the last frame may go on in a packet that never reached
// the disk.
//
// The repair reads the header objects and the fixed-size data packets as
// the format lays them out (every field size taken from the packet's own
// flags), keeps every whole packet and every whole frame, and drops a cut
// last packet and the payloads of a last frame whose end is missing (a
// packet that holds earlier frames too is rewritten without them, its
// padding grown). It then writes what closing the file writes: the File
// Properties object's file size, data packets count, play and send duration
// (the preroll kept), the Data object's size and packet count, and the
// simple index object that lets players seek (an entry a second: the packet
// where the last key frame before it starts, and how many packets it took),
// laid out as FFmpeg's ASF muxer lays it out.
//
// A file that is already finished (its header counts the packets there are
// and its size is the file's) is left untouched, so running the repair
// twice changes nothing. A file whose header is cut off, or which is not an
// ASF file, is not changed. Plain C++ over POSIX files; no media library.
#pragma once

#include <cstdint>
#include <string>

#include "writers/ClipRepair.h"

namespace framory {

class AsfRepair {
 public:
  using Outcome = ClipRepairOutcome;

  // `frameMilliseconds`: how long each frame lasts (the clip journal's
  // "frame-ms"); the muxer counts the last frame's in the clip's duration,
  // and the file does not tell it.
  explicit AsfRepair(std::string path, std::int64_t frameMilliseconds = 0)
      : path_(std::move(path)), frameMilliseconds_(frameMilliseconds) {}

  Outcome Run();

  // After Run: the data packets and the whole frames (media objects of any
  // stream) the file holds.
  std::int64_t Packets() const { return packets_; }
  std::int64_t Frames() const { return frames_; }

 private:
  std::string path_;
  std::int64_t frameMilliseconds_;
  std::int64_t packets_ = 0;
  std::int64_t frames_ = 0;
};

}  // namespace framory
