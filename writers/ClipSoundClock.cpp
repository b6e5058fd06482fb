#include "writers/ClipSoundClock.h"

#include <algorithm>
#include <limits>

namespace framory {

namespace {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kNsPerSecond = 1'000'000'000;

// The sample index of a moment `ns` after a run's begin, rounded to nearest.
std::int64_t SamplesIn(std::int64_t ns) {
  return (ns * ClipSound::kSampleRate + kNsPerSecond / 2) / kNsPerSecond;
}

}  // namespace

void ClipSoundClock::Start(std::int64_t ns) {
  runs_.assign(1, Run{ns, kNever, 0});
  pauseStartNs_ = -1;
}

void ClipSoundClock::Paused(std::int64_t ns) {
  if (runs_.empty() || pauseStartNs_ >= 0) return;
  runs_.back().EndNs = std::max(ns, runs_.back().BeginNs);
  pauseStartNs_ = runs_.back().EndNs;
}

void ClipSoundClock::Resumed(std::int64_t ns) {
  if (runs_.empty() || pauseStartNs_ < 0) return;
  const Run& last = runs_.back();
  const std::int64_t begin = std::max(ns, last.EndNs);
  runs_.push_back(Run{begin, kNever, last.ClipBeginNs + (last.EndNs - last.BeginNs)});
  pauseStartNs_ = -1;
}

std::vector<PlacedSound> ClipSoundClock::Place(const SoundChunk& chunk) const {
  std::vector<PlacedSound> placed;
  const std::int64_t frames =
      static_cast<std::int64_t>(chunk.Samples.size() / ClipSound::kChannels);
  if (frames == 0) return placed;
  // Sample k of the chunk is heard at FirstSampleNs + k / rate.
  const auto sampleAt = [&](std::int64_t ns) {
    // The first sample heard at or after `ns`, clamped to the chunk.
    const std::int64_t offset = ns - chunk.FirstSampleNs;
    if (offset <= 0) return std::int64_t{0};
    const std::int64_t k = (offset * ClipSound::kSampleRate + kNsPerSecond - 1) / kNsPerSecond;
    return std::min(k, frames);
  };
  for (const Run& run : runs_) {
    const std::int64_t from = sampleAt(run.BeginNs);
    const std::int64_t to = run.EndNs == kNever ? frames : sampleAt(run.EndNs);
    if (to <= from) continue;
    const std::int64_t firstNs = chunk.FirstSampleNs + from * kNsPerSecond / ClipSound::kSampleRate;
    PlacedSound part;
    part.FirstSample = SamplesIn(run.ClipBeginNs + (firstNs - run.BeginNs));
    part.Samples.assign(chunk.Samples.begin() + from * ClipSound::kChannels,
                        chunk.Samples.begin() + to * ClipSound::kChannels);
    placed.push_back(std::move(part));
  }
  return placed;
}

}  // namespace framory
