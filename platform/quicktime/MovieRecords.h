// What the runtime keeps for an open movie file, a movie, its tracks and
// their media. A movie's media data goes into the movie file the movie was
// created with, appended to the file's media data atom; AddMovieResource
// then writes the movie atom after the data.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bridge/Cinelink.h"

namespace qtrt {

struct MovieFile {
  int fd = -1;
  // Offset of the 8-byte 'wide' atom that precedes the 'mdat' header; the
  // two become one 16-byte header when the data outgrows 32-bit sizes.
  std::uint64_t wideOffset = 0;
  // First byte of media data and the end of the data written so far. A write
  // that failed part-way leaves dataEnd where it was, so the next sample
  // overwrites the partial bytes.
  std::uint64_t dataStart = 0;
  std::uint64_t dataEnd = 0;
  // Disk space is set aside up to here (beyond the file's size) for the
  // samples and the movie atom; 0: nothing yet.
  std::uint64_t reservedEnd = 0;
};

struct Sample {
  std::uint64_t offset;
  std::uint32_t size;
  TimeValue duration;
  std::uint32_t descriptionIndex;  // 1-based, into MediaRecord::descriptions
  bool sync;
};

struct Edit {
  std::int64_t movieDuration;  // in the movie's time scale
  TimeValue mediaTime;         // -1: an empty edit
  Fixed rate;
};

}  // namespace qtrt

struct MovieRecord;
struct TrackRecord;

struct MediaRecord {
  TrackRecord* track = nullptr;
  OSType type = 0;
  TimeScale timeScale = 0;
  bool editing = false;
  std::int64_t duration = 0;  // sum of the sample durations
  std::vector<qtrt::Sample> samples;
  // Sample descriptions as stored in the file (big-endian entries).
  std::vector<std::vector<std::uint8_t>> descriptions;
};

struct TrackRecord {
  MovieRecord* movie = nullptr;
  std::uint32_t id = 0;
  Fixed width = 0;
  Fixed height = 0;
  std::int16_t volume = 0;
  std::unique_ptr<MediaRecord> media;
  std::vector<qtrt::Edit> edits;
};

struct MovieRecord {
  std::int16_t fileRefNum = 0;
  TimeScale timeScale = 600;
  std::uint32_t createdAt = 0;  // seconds since 1904-01-01
  std::vector<std::unique_ptr<TrackRecord>> tracks;
};
