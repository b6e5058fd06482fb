// What a QuickTime clip's file cannot tell about itself until its movie atom
// is written: the media's time scale and how long each sample lasts. It goes
// into the clip's journal record, so that a clip cut short by a crash or a
// kill can be given its movie atom at the next start with the durations its
// samples really had.
//
// The record's facts, fixed when the clip starts: "timescale" (units per
// second of the media), "period" (a frame period in those units) and
// "created" (seconds since 1904-01-01). Its notes, appended by the writer
// and never rewritten, are text lines:
//
//   100      one line per sample, in the order of the samples
//   300
//   -        the sample of the line before never reached the file
//
// A sample's line is written just before its data goes into the movie file,
// so the record is never behind the file: a kill between the two leaves a
// line whose sample is cut off (the repair drops that sample anyway). A
// sample the movie file refused takes its line back with "-". The journal
// hands each note to the system at once, so a kill loses none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "writers/ClipJournal.h"

namespace framory {

struct MovSampleTimes {
  bool Ok = false;                      // the facts were there
  std::int32_t TimeScale = 0;           // units per second of the media
  std::int32_t Period = 0;              // a frame period in those units
  std::uint32_t Created = 0;            // seconds since 1904-01-01
  std::vector<std::int32_t> Durations;  // of the samples, in order
};

namespace MovSampleNotes {

// Sets the facts of a clip whose samples last `period` units of `timeScale`.
void SetFacts(JournalledClip& clip, std::int32_t timeScale, std::int32_t period,
              std::uint32_t created);
// The note of a sample of `duration` about to be written.
std::string Sample(std::int32_t duration);
// The note taking the last sample back.
std::string TakeBack();
// What a record says; Ok is false when its facts are missing or not
// numbers. Notes stop at a line that is not one of ours, or unfinished.
MovSampleTimes Read(const JournalledClip& clip);

}  // namespace MovSampleNotes

}  // namespace framory
