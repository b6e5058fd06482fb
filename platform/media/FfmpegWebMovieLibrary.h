// The MP4 and WebM clips' file library over FFmpeg: each file is a
// LiveEncoder writing to the file, fed by a bounded worker queue so that
// conversion, encoding and writing never run on the caller's thread.
//
//   MP4:  libx264 High 4:2:0, preset veryfast (superfast above 40 frames a
//         second), tune zerolatency, constant rate factor 23; FFmpeg's AAC.
//         Fragmented: an empty moov, a fragment at each key frame and at
//         least every second, each written through when finished; a clean
//         end adds the fragment index (mfra), from which players read the
//         duration and seek.
//   WebM: libvpx-vp9 realtime, cpu-used 8, row-mt 1, no lag, constant
//         quality; Opus. A cluster at each key frame and at least every
//         second, each written through when finished; a clean end adds the
//         cues and the duration.
//
// A file deleted while being written (its folder removed) is noticed at the
// next picture (last error ENOENT); a write that fails (ENOSPC, EFBIG)
// stops the file where it is, and the failure is returned by the next call.
// The file then keeps every fragment finished before the failure.
#pragma once

#include "writers/WebMovieApi.h"

namespace framory {

class FfmpegWebMovieLibrary : public WebMovieLibrary {
 public:
  std::int32_t Open(const WebMovieSetup& setup, std::unique_ptr<WebMovieFile>* file,
                    std::string* failure) override;
};

}  // namespace framory
