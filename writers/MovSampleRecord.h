// What a QuickTime clip's file cannot tell about itself until its movie atom
// is written: the media's time scale and how long each sample lasts. The
// writer keeps it beside the clip's journal record, in the journal folder,
// so that a clip cut short by a crash or a kill can be given its movie atom
// at the next start with the durations the samples really had.
//
// The record is a small text file, appended to and never rewritten:
//
//   framory quicktime samples 1
//   timescale 1000
//   period 100
//   created 3794000000
//   100                  one line per sample, in the order of the samples
//   300
//   -                    the sample of the line before never reached the file
//
// A sample's line is written just before its data goes into the movie file,
// so the record is never behind the file: a kill between the two leaves a
// line whose sample is cut off (the repair drops that sample anyway). A
// sample the movie file refused takes its line back with "-". Each line is
// handed to the system as it is made (a kill loses nothing) and the record
// is synced to the disk at most once a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/UniqueFd.h"

namespace framory {

struct MovSampleTimes {
  bool Ok = false;                      // the header was read
  std::int32_t TimeScale = 0;           // units per second of the media
  std::int32_t Period = 0;              // a frame period in those units
  std::uint32_t Created = 0;            // seconds since 1904-01-01
  std::vector<std::int32_t> Durations;  // of the samples, in order
};

class MovSampleRecord {
 public:
  MovSampleRecord() = default;
  ~MovSampleRecord() { Close(false); }
  MovSampleRecord(const MovSampleRecord&) = delete;
  MovSampleRecord& operator=(const MovSampleRecord&) = delete;

  // The record of `clipPath` in the journal folder `folder`; its name is
  // made from the clip's path, so the repair finds it from the path alone.
  static std::string PathFor(const std::string& folder, const std::string& clipPath);

  // Starts a new record at `path` (replacing an old one). False, with a line
  // on stderr, when it cannot be made: the clip records without one.
  bool Open(const std::string& path, std::int32_t timeScale, std::int32_t period,
            std::uint32_t created);
  // A sample of `duration` is about to be written into the movie file.
  void Add(std::int32_t duration);
  // The sample of the last Add did not reach the file.
  void TakeBack();
  // Ends the record; `remove`: the movie was finished, the record goes.
  void Close(bool remove);
  bool IsOpen() const { return fd_.Valid(); }

  // Reads a record; Ok is false when there is none or its header is not
  // one of ours. An unfinished last line is left out.
  static MovSampleTimes Read(const std::string& path);

 private:
  void Put(const std::string& line);

  std::string path_;
  UniqueFd fd_;
  std::chrono::steady_clock::time_point lastSync_{};
  bool failed_ = false;  // a write failed: the record is no longer trusted
};

}  // namespace framory
