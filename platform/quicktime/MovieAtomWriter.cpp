#include "platform/quicktime/MovieAtomWriter.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/quicktime/QtRuntime.h"

namespace qtrt {

namespace {

std::uint32_t Clamp32(std::int64_t v) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, 0xFFFFFFFFll));
}

std::int64_t TrackDuration(const TrackRecord& track) {
  std::int64_t total = 0;
  for (const Edit& edit : track.edits) total += edit.movieDuration;
  return total;
}

}  // namespace

void MovieAtomWriter::U16(std::uint32_t v) {
  U8(static_cast<std::uint8_t>(v >> 8));
  U8(static_cast<std::uint8_t>(v));
}

void MovieAtomWriter::U32(std::uint32_t v) {
  U16(v >> 16);
  U16(v & 0xFFFF);
}

void MovieAtomWriter::U64(std::uint64_t v) {
  U32(static_cast<std::uint32_t>(v >> 32));
  U32(static_cast<std::uint32_t>(v));
}

void MovieAtomWriter::Begin(OSType type) {
  open_.push_back(bytes_.size());
  U32(0);
  Type(type);
}

void MovieAtomWriter::End() {
  const std::size_t start = open_.back();
  open_.pop_back();
  const std::uint32_t size = static_cast<std::uint32_t>(bytes_.size() - start);
  for (int i = 0; i < 4; ++i) bytes_[start + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
}

// The identity transformation.
void MovieAtomWriter::Matrix() {
  const std::uint32_t m[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
  for (std::uint32_t v : m) U32(v);
}

std::vector<std::uint8_t> MovieAtomWriter::ImageSampleEntry(const ImageDescription& desc) {
  MovieAtomWriter w;
  w.Begin(desc.cType);
  w.Zeros(6);
  w.U16(1);  // data reference index: the movie file itself
  w.U16(static_cast<std::uint16_t>(desc.version));
  w.U16(static_cast<std::uint16_t>(desc.revisionLevel));
  w.U32(desc.vendor);
  w.U32(desc.temporalQuality);
  w.U32(desc.spatialQuality);
  w.U16(static_cast<std::uint16_t>(desc.width));
  w.U16(static_cast<std::uint16_t>(desc.height));
  w.U32(static_cast<std::uint32_t>(desc.hRes));
  w.U32(static_cast<std::uint32_t>(desc.vRes));
  w.U32(0);  // data size: per frame, kept in the sample table
  w.U16(static_cast<std::uint16_t>(desc.frameCount));
  unsigned char name[32] = {};
  std::memcpy(name, desc.name, sizeof name);
  if (name[0] > 31) name[0] = 31;
  for (unsigned char c : name) w.U8(c);
  w.U16(static_cast<std::uint16_t>(desc.depth));
  w.U16(static_cast<std::uint16_t>(desc.clutID));
  w.End();
  return w.bytes_;
}

std::int64_t MovieAtomWriter::MovieDuration(const MovieRecord& movie) {
  std::int64_t longest = 0;
  for (const auto& track : movie.tracks) longest = std::max(longest, TrackDuration(*track));
  return longest;
}

std::vector<std::uint8_t> MovieAtomWriter::MovieAtom(const MovieRecord& movie) {
  MovieAtomWriter w;
  w.Begin(FourCC("moov"));

  w.Begin(FourCC("mvhd"));
  w.U32(0);  // version 0, no flags
  w.U32(movie.createdAt);
  w.U32(movie.createdAt);
  w.U32(static_cast<std::uint32_t>(movie.timeScale));
  w.U32(Clamp32(MovieDuration(movie)));
  w.U32(0x10000);  // preferred rate 1.0
  w.U16(0x100);    // preferred volume 1.0
  w.Zeros(10);
  w.Matrix();
  w.Zeros(24);  // preview, poster, selection and current times
  std::uint32_t nextId = 1;
  for (const auto& track : movie.tracks) nextId = std::max(nextId, track->id + 1);
  w.U32(nextId);
  w.End();

  for (const auto& track : movie.tracks) {
    if (track->media != nullptr && !track->media->samples.empty()) w.Track(*track, movie);
  }
  w.End();
  return w.bytes_;
}

void MovieAtomWriter::Track(const TrackRecord& track, const MovieRecord& movie) {
  const MediaRecord& media = *track.media;
  Begin(FourCC("trak"));

  Begin(FourCC("tkhd"));
  U32(0x0000000F);  // version 0; enabled, in movie, in preview, in poster
  U32(movie.createdAt);
  U32(movie.createdAt);
  U32(track.id);
  U32(0);
  U32(Clamp32(TrackDuration(track)));
  Zeros(8);
  U16(0);  // layer
  U16(0);  // alternate group
  U16(static_cast<std::uint16_t>(track.volume));
  U16(0);
  Matrix();
  U32(static_cast<std::uint32_t>(track.width));
  U32(static_cast<std::uint32_t>(track.height));
  End();

  if (!track.edits.empty()) {
    Begin(FourCC("edts"));
    Begin(FourCC("elst"));
    U32(0);
    U32(static_cast<std::uint32_t>(track.edits.size()));
    for (const Edit& edit : track.edits) {
      U32(Clamp32(edit.movieDuration));
      U32(static_cast<std::uint32_t>(edit.mediaTime));
      U32(static_cast<std::uint32_t>(edit.rate));
    }
    End();
    End();
  }

  Begin(FourCC("mdia"));
  Begin(FourCC("mdhd"));
  U32(0);
  U32(movie.createdAt);
  U32(movie.createdAt);
  U32(static_cast<std::uint32_t>(media.timeScale));
  U32(Clamp32(media.duration));
  U16(0);  // language
  U16(0);  // quality
  End();

  static const char kMediaHandlerName[] = "Video Media Handler";
  Begin(FourCC("hdlr"));
  U32(0);
  Type(FourCC("mhlr"));
  Type(media.type);
  Zeros(12);
  U8(sizeof kMediaHandlerName - 1);
  for (const char* c = kMediaHandlerName; *c != '\0'; ++c) U8(static_cast<std::uint8_t>(*c));
  End();

  Begin(FourCC("minf"));
  Begin(FourCC("vmhd"));
  U32(0x00000001);
  U16(0x0040);  // graphics mode: dither copy
  U16(0x8000);
  U16(0x8000);
  U16(0x8000);
  End();

  static const char kDataHandlerName[] = "Data Handler";
  Begin(FourCC("hdlr"));
  U32(0);
  Type(FourCC("dhlr"));
  Type(FourCC("alis"));
  Zeros(12);
  U8(sizeof kDataHandlerName - 1);
  for (const char* c = kDataHandlerName; *c != '\0'; ++c) U8(static_cast<std::uint8_t>(*c));
  End();

  Begin(FourCC("dinf"));
  Begin(FourCC("dref"));
  U32(0);
  U32(1);
  Begin(FourCC("alis"));
  U32(0x00000001);  // the data is in this file
  End();
  End();
  End();

  SampleTable(media);
  End();  // minf
  End();  // mdia
  End();  // trak
}

void MovieAtomWriter::SampleTable(const MediaRecord& media) {
  const std::vector<Sample>& samples = media.samples;
  Begin(FourCC("stbl"));

  Begin(FourCC("stsd"));
  U32(0);
  U32(static_cast<std::uint32_t>(media.descriptions.size()));
  for (const auto& entry : media.descriptions)
    bytes_.insert(bytes_.end(), entry.begin(), entry.end());
  End();

  // Durations, run-length coded.
  std::vector<std::pair<std::uint32_t, TimeValue>> runs;
  for (const Sample& s : samples) {
    if (!runs.empty() && runs.back().second == s.duration) {
      ++runs.back().first;
    } else {
      runs.emplace_back(1, s.duration);
    }
  }
  Begin(FourCC("stts"));
  U32(0);
  U32(static_cast<std::uint32_t>(runs.size()));
  for (const auto& run : runs) {
    U32(run.first);
    U32(static_cast<std::uint32_t>(run.second));
  }
  End();

  // Sync samples, left out when every sample is one.
  const bool allSync =
      std::all_of(samples.begin(), samples.end(), [](const Sample& s) { return s.sync; });
  if (!allSync) {
    Begin(FourCC("stss"));
    U32(0);
    const auto count =
        std::count_if(samples.begin(), samples.end(), [](const Sample& s) { return s.sync; });
    U32(static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < samples.size(); ++i) {
      if (samples[i].sync) U32(static_cast<std::uint32_t>(i + 1));
    }
    End();
  }

  // One chunk per sample; a new table entry wherever the description changes.
  Begin(FourCC("stsc"));
  U32(0);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> chunkRuns;  // first chunk, description
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (chunkRuns.empty() || chunkRuns.back().second != samples[i].descriptionIndex) {
      chunkRuns.emplace_back(static_cast<std::uint32_t>(i + 1), samples[i].descriptionIndex);
    }
  }
  U32(static_cast<std::uint32_t>(chunkRuns.size()));
  for (const auto& run : chunkRuns) {
    U32(run.first);
    U32(1);
    U32(run.second);
  }
  End();

  Begin(FourCC("stsz"));
  U32(0);
  U32(0);  // sizes differ: one entry per sample
  U32(static_cast<std::uint32_t>(samples.size()));
  for (const Sample& s : samples) U32(s.size);
  End();

  const bool wide = !samples.empty() && samples.back().offset > 0xFFFFFFFFull;
  Begin(wide ? FourCC("co64") : FourCC("stco"));
  U32(0);
  U32(static_cast<std::uint32_t>(samples.size()));
  for (const Sample& s : samples) {
    if (wide) {
      U64(s.offset);
    } else {
      U32(static_cast<std::uint32_t>(s.offset));
    }
  }
  End();

  End();  // stbl
}

}  // namespace qtrt
