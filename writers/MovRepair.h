// Finishes a QuickTime clip whose writer never closed it: the program was
// killed or crashed while recording. The movie file then holds its 'ftyp',
// the 'wide' placeholder, an 'mdat' header still sized as empty, and the
// samples written so far, one Photo-JPEG image each, back to back; the last
// one may be cut off. There is no movie atom, so no player opens it.
//
// The repair finds the samples by reading them as JPEG images (markers and
// segment lengths, the frame header with the picture's size, the tables and
// the scan up to the end-of-image marker), keeps every whole one of the
// clip's size, cuts off what follows, and writes what closing the movie would
// have written for those samples: the movie atom with its one video track,
// the Photo-JPEG sample description and a sample table whose durations come
// from the clip's journal record (MovSampleNotes; the frame period for
// samples it does not cover), 64-bit chunk offsets past 4 GB, then the
// 'mdat' size (a 64-bit size over the 'wide' atom past 4 GB). The movie atom
// goes in first, the size last, so a repair that is itself cut short is
// simply run again.
//
// A finished file (its 'mdat' followed by a movie atom that ends the file) is
// left untouched, so repairing twice changes nothing. Plain C++ over POSIX
// files; no media library.
#pragma once

#include <cstdint>
#include <string>

#include "writers/ClipRepair.h"
#include "writers/MovSampleNotes.h"

namespace framory {

class MovRepair {
 public:
  // NoFile: no file, or one that no whole sample reached. Unrepairable: not
  // a movie file of this program (or its header cut), or without the times
  // of its samples.
  using Outcome = ClipRepairOutcome;

  // `times`: what the clip's journal record says of its samples.
  MovRepair(std::string path, MovSampleTimes times)
      : path_(std::move(path)), times_(std::move(times)) {}

  Outcome Run();

  // After Run: the samples the movie holds (found, for a complete file: 0).
  std::int64_t Samples() const { return samples_; }

  // Whether the first bytes of a file are those of a movie file of this
  // program (its 'ftyp' atom of brand 'qt  '), finished or not.
  static bool LooksLikeMovie(const unsigned char* bytes, std::size_t size);

 private:
  std::string path_;
  MovSampleTimes times_;
  std::int64_t samples_ = 0;
};

}  // namespace framory
