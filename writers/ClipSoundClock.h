// Places the sound of a clip on the clip's own clock, the one its pictures
// are placed on: time since the clip's first shot, less the time the
// recorder stood paused. Sound heard before the clip started or during a
// pause has no place and is dropped; a chunk that spans a pause is cut in
// two, and its second part follows the first without a gap, as the
// pictures do.
#pragma once

#include <cstdint>
#include <vector>

#include "writers/ClipSound.h"
#include "writers/WebMovieApi.h"

namespace framory {

class ClipSoundClock {
 public:
  // The clip's first shot, on the steady clock.
  void Start(std::int64_t ns);
  void Paused(std::int64_t ns);
  void Resumed(std::int64_t ns);
  bool IsPaused() const { return pauseStartNs_ >= 0; }

  // The parts of `chunk` heard while the clip ran, each with its first
  // sample's index on the clip's clock.
  std::vector<PlacedSound> Place(const SoundChunk& chunk) const;

 private:
  struct Run {
    std::int64_t BeginNs;      // steady clock
    std::int64_t EndNs;        // steady clock; INT64_MAX while running
    std::int64_t ClipBeginNs;  // the clip's time at BeginNs
  };
  std::vector<Run> runs_;
  std::int64_t pauseStartNs_ = -1;
};

}  // namespace framory
