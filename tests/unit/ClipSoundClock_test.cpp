// The clip's sound placed on the clip's clock: what the sound server read
// before the clip started or during a pause has no place, and what follows
// a pause continues where the sound before it ended, as the pictures do.
#include "writers/ClipSoundClock.h"

#include <gtest/gtest.h>

namespace framory {
namespace {

constexpr std::int64_t kMs = 1'000'000;

// A chunk of `frames` stereo samples heard from `startMs`, each sample's
// left value its index in the chunk.
SoundChunk Chunk(std::int64_t startMs, int frames) {
  SoundChunk chunk;
  chunk.FirstSampleNs = startMs * kMs;
  for (int i = 0; i < frames; ++i) {
    chunk.Samples.push_back(static_cast<float>(i));
    chunk.Samples.push_back(0.0f);
  }
  return chunk;
}

TEST(ClipSoundClock, SoundIsPlacedByTheClipsTimeLessItsPauses) {
  ClipSoundClock clock;
  clock.Start(1000 * kMs);

  // Read from 10 ms before the start: the first 480 samples are dropped and
  // the rest begins at the clip's sample 0.
  std::vector<PlacedSound> placed = clock.Place(Chunk(990, 960));
  ASSERT_EQ(placed.size(), 1u);
  EXPECT_EQ(placed[0].FirstSample, 0);
  ASSERT_EQ(placed[0].Samples.size(), 480u * 2);
  EXPECT_EQ(placed[0].Samples[0], 480.0f);

  // Paused at 1.5 s for 2 s: a chunk read across the pause is cut, and its
  // part after the resume follows the part before without a gap.
  clock.Paused(1500 * kMs);
  clock.Resumed(3500 * kMs);
  placed = clock.Place(Chunk(1490, 48 * 2020));  // 1.49 s to 3.51 s
  ASSERT_EQ(placed.size(), 2u);
  EXPECT_EQ(placed[0].FirstSample, 48 * 490);
  EXPECT_EQ(placed[0].Samples.size(), 48u * 10 * 2);
  EXPECT_EQ(placed[1].FirstSample, 48 * 500) << "no gap where the pause was";
  EXPECT_EQ(placed[1].Samples.size(), 48u * 10 * 2);
  EXPECT_EQ(placed[1].Samples[0], 48.0f * 2010) << "the samples heard after the resume";

  // Read entirely during a pause: nothing.
  clock.Paused(4000 * kMs);
  EXPECT_TRUE(clock.Place(Chunk(4100, 4800)).empty());
  clock.Resumed(5000 * kMs);
  placed = clock.Place(Chunk(5000, 480));
  ASSERT_EQ(placed.size(), 1u);
  EXPECT_EQ(placed[0].FirstSample, 48 * 1000) << "1 s of clip: 0.5 s before each pause";
}

}  // namespace
}  // namespace framory
