// Every text the user sees about a clip's writers, in one place: the boxes
// the recorder shows for a writer's failure (caption, text, how the box is
// shown), the names the error channel reports a failed step with, and the
// reasons of a failed sound-track merge. Writers only name a failure
// (WriterReports); the capture layer turns the name into the box with the
// text found here, so a change of wording is one line here.
#pragma once

#include <cstdint>

#include "writers/WriterReports.h"

namespace framory {

// How a failure's box is shown: an error box, or one that holds every input
// until it is answered.
enum class WriterBoxKind : std::int32_t { Error, SystemModalError };

struct WriterFailureBox {
  const char* Caption;
  const char* Text;
  // The box text continues with the component's download address and a
  // space (the Windows Media boxes).
  bool AddsDownloadAddress;
  WriterBoxKind Kind;
};

// The box of `failure`; Caption and Text are null for WriterFailure::NoFailure,
// and Text for MergeRefused, whose text depends on the reason
// (MergeFailureText).
const WriterFailureBox& WriterFailureBoxOf(WriterFailure failure);

// The sentence that follows the encoder box's text for the reason the
// encoder gave (an EncoderFailureKind).
const char* EncoderFailureReason(std::int32_t kind);

// The merge box's text for the merge check's result.
const char* MergeFailureText(std::int32_t result);

// Names of failed steps reported through the recorder's error channel
// ("<name> failed: GetLastError returned <code>").
namespace ClipFailureNames {
inline constexpr char kBitmap[] = "Unable to create bitmap.";
inline constexpr char kQuickTimePrepare[] = "Unable to initialize Quicktime graphics world.";
inline constexpr char kAviAppend[] = "AVI file unable to append frame. Pausing recorder.";
inline constexpr char kQuickTimeAppend[] = "Unable to append frame to quicktime movie.";
inline constexpr char kStreamAppend[] = "Unable to send the broadcast to the streaming server.";
inline constexpr char kMp4Append[] = "Unable to append frame to MP4 movie. Pausing recorder.";
inline constexpr char kWebMAppend[] = "Unable to append frame to WebM movie. Pausing recorder.";
// The name for a frame larger than the encoders take: a format for the
// frame's width and height, the largest side twice, and kBitmap.
inline constexpr char kOversizedFrame[] =
    "A movie frame of %d x %d pixels is larger than %d x %d, the largest the encoders take. %s";
}  // namespace ClipFailureNames

}  // namespace framory
