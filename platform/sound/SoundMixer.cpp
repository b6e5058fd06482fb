#include "platform/sound/SoundMixer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace framory {

SoundMixer::SoundMixer(int inputs, int channels, int sampleRate, std::int64_t maxWaitNs)
    : channels_(channels),
      sampleRate_(sampleRate),
      maxWaitNs_(maxWaitNs),
      inputs_(static_cast<std::size_t>(inputs)) {}

std::int64_t SoundMixer::PositionOf(std::int64_t stampNs) const {
  return std::llround(static_cast<long double>(stampNs - originNs_) * sampleRate_ / 1e9L);
}

std::int64_t SoundMixer::StampOf(std::int64_t position) const {
  return originNs_ + std::llround(static_cast<long double>(position) * 1e9L / sampleRate_);
}

void SoundMixer::Add(int input, const SoundChunk& chunk, std::int64_t nowNs) {
  if (!started_) {
    started_ = true;
    startedNs_ = nowNs;
    originNs_ = chunk.FirstSampleNs;
  }
  Input& in = inputs_[static_cast<std::size_t>(input)];
  const std::int64_t at = PositionOf(chunk.FirstSampleNs);
  const std::int64_t frames = static_cast<std::int64_t>(chunk.Samples.size()) / channels_;
  // A piece never overlaps the one before it of its stream nor sound
  // already sent: what would is cut from its front.
  std::int64_t from = at;
  if (in.Delivered) from = std::max(from, in.End);
  if (sentAny_) from = std::max(from, sent_);
  if (from < at + frames) {
    Piece piece;
    piece.Start = from;
    piece.Samples.assign(chunk.Samples.begin() + (from - at) * channels_,
                         chunk.Samples.begin() + frames * channels_);
    in.Pieces.push_back(std::move(piece));
  }
  in.End = in.Delivered ? std::max(in.End, at + frames) : at + frames;
  in.Delivered = true;
  in.ArrivedNs = nowNs;
}

void SoundMixer::Send(std::int64_t nowNs, std::vector<SoundChunk>* out) {
  if (!started_) return;
  // Up to where every stream that still delivers has delivered.
  std::int64_t until = std::numeric_limits<std::int64_t>::max();
  for (const Input& each : inputs_) {
    const std::int64_t quietSince = each.Delivered ? each.ArrivedNs : startedNs_;
    if (nowNs - quietSince > maxWaitNs_) continue;
    until = std::min(until, each.Delivered ? each.End : std::numeric_limits<std::int64_t>::min());
  }
  SendUntil(until, out);
}

void SoundMixer::Flush(std::vector<SoundChunk>* out) {
  std::int64_t highest = std::numeric_limits<std::int64_t>::min();
  for (const Input& each : inputs_) {
    if (each.Delivered) highest = std::max(highest, each.End);
  }
  SendUntil(highest, out);
}

void SoundMixer::SendUntil(std::int64_t until, std::vector<SoundChunk>* out) {
  for (;;) {
    // The first held frame at or after what was sent.
    std::int64_t begin = std::numeric_limits<std::int64_t>::max();
    for (const Input& in : inputs_) {
      if (!in.Pieces.empty()) begin = std::min(begin, in.Pieces.front().Start);
    }
    if (sentAny_) begin = std::max(begin, sent_);
    if (begin >= until) return;
    // The run of positions from there that some stream has sound for.
    std::int64_t covered = begin;
    for (bool grew = true; grew;) {
      grew = false;
      for (const Input& in : inputs_) {
        for (const Piece& piece : in.Pieces) {
          if (piece.Start <= covered && piece.End(channels_) > covered) {
            covered = piece.End(channels_);
            grew = true;
          }
        }
      }
    }
    const std::int64_t end = std::min(covered, until);
    SoundChunk mixed;
    mixed.FirstSampleNs = StampOf(begin);
    mixed.Samples.assign(static_cast<std::size_t>((end - begin) * channels_), 0.0f);
    for (Input& in : inputs_) {
      for (const Piece& piece : in.Pieces) {
        const std::int64_t first = std::max(begin, piece.Start);
        const std::int64_t last = std::min(end, piece.End(channels_));
        for (std::int64_t i = first * channels_; i < last * channels_; ++i)
          mixed.Samples[static_cast<std::size_t>(i - begin * channels_)] +=
              piece.Samples[static_cast<std::size_t>(i - piece.Start * channels_)];
      }
      while (!in.Pieces.empty() && in.Pieces.front().End(channels_) <= end) in.Pieces.pop_front();
      if (!in.Pieces.empty() && in.Pieces.front().Start < end) {
        Piece& front = in.Pieces.front();
        front.Samples.erase(front.Samples.begin(),
                            front.Samples.begin() + (end - front.Start) * channels_);
        front.Start = end;
      }
    }
    // Two loud streams add up past full scale; the sum is clipped there
    // rather than wrapping or being left to each encoder.
    for (float& sample : mixed.Samples) sample = std::clamp(sample, -1.0f, 1.0f);
    out->push_back(std::move(mixed));
    sent_ = end;
    sentAny_ = true;
  }
}

}  // namespace framory
