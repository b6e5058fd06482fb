#include "writers/WriterTexts.h"

#include "writers/MediaEncoderApi.h"

namespace framory {

namespace {

constexpr char kErrorCaption[] = "Error";
constexpr char kMergeCaption[] = "Could Not Mix Video and Audio";

constexpr WriterFailureBox kNoBox{nullptr, nullptr, false, WriterBoxKind::Error};

struct FailureBoxRow {
  WriterFailure Failure;
  WriterFailureBox Box;
};
constexpr FailureBoxRow kFailureBoxes[] = {
    {WriterFailure::AviRender,
     {kErrorCaption, "Error Occured While Rendering the Movie", false, WriterBoxKind::Error}},
    {WriterFailure::QuickTimeMissing,
     {kErrorCaption,
      // The runtime is Framory's own: the box names it instead of a
      // download page.
      "Unable to initialize the Apple Quick Time Environment. Framory's own QuickTime runtime "
      "(QuickTime.qts, installed beside the program) could not be loaded; reinstalling the "
      "framory package puts it back. ",
      false, WriterBoxKind::Error}},
    {WriterFailure::WmvProfileManagerMissing,
     {kErrorCaption,
      "Unable to use Microsoft Windows Media Profiler Manager.You need to download and install "
      "the free component first. See ",
      true, WriterBoxKind::SystemModalError}},
    {WriterFailure::WmvWriterMissing,
     {kErrorCaption,
      "Unable to use Microsoft Windows Media Writer.You need to download and install the free "
      "component first. See ",
      true, WriterBoxKind::SystemModalError}},
    // The encoder is part of Framory, so there is nothing to download: the
    // text goes on with the reason in one sentence (EncoderFailureReason).
    {WriterFailure::EncoderMissing,
     {kErrorCaption, "Unable to use the screen encoder. ", false, WriterBoxKind::SystemModalError}},
    {WriterFailure::EncoderStart,
     {kErrorCaption, "Unable to start using Windows Media Encoder 9.", false,
      WriterBoxKind::Error}},
    {WriterFailure::MergeRefused, {kMergeCaption, nullptr, false, WriterBoxKind::SystemModalError}},
    // Followed by the masked address and the server's answer.
    {WriterFailure::StreamRefused,
     {"Broadcast Not Taken",
      "The streaming server did not take the broadcast; the recorder is paused. Check the "
      "address and the stream key under \"Broadcast\" in the options view.\n\n",
      false, WriterBoxKind::Error}},
    // The reason the sound server gave follows the text.
    {WriterFailure::ClipSoundMissing,
     {kErrorCaption, "Unable to record sound; the clip goes on without it. ", false,
      WriterBoxKind::Error}},
};

struct MergeErrorText {
  HResult Result;
  const char* Text;
};
constexpr MergeErrorText kMergeErrors[] = {
    {EncoderResult::FileNotFound, "File could not be found."},
    {EncoderResult::MissingAudience, "Missing Audience"},
    {EncoderResult::LanguageMismatch, "Language Mismatch"},
    {EncoderResult::OutputIsInput, "Output file is used as input"},
    {EncoderResult::InvalidInputLanguage, "Invalid input language"},
    {EncoderResult::UnknownStreamType, "Unknown stream type"},
    {EncoderResult::InvalidData, "Invalid or corrupt data"},
    {EncoderResult::UnsupportedSource, "Unsupported source type"},
};
constexpr char kOtherMergeError[] = "Other problem with source files";

}  // namespace

const WriterFailureBox& WriterFailureBoxOf(WriterFailure failure) {
  for (const FailureBoxRow& row : kFailureBoxes) {
    if (row.Failure == failure) return row.Box;
  }
  return kNoBox;
}

const char* EncoderFailureReason(std::int32_t kind) {
  switch (static_cast<EncoderFailureKind>(kind)) {
    case EncoderFailureKind::NoSoundServer:
      return "No sound server is running to record from: start PulseAudio or PipeWire "
             "(pipewire-pulse), or untick \"Record Sound as Well\" under \"Settings..\".";
    case EncoderFailureKind::NoDisplay:
      return "The X display cannot be opened to capture the screen.";
    case EncoderFailureKind::BroadcastPortTaken:
      return "TCP port 8080, on which the broadcast is served, is taken by another program.";
    case EncoderFailureKind::Unknown:
      break;
  }
  return "It could not be set up; Framory's terminal output (stderr) names the reason.";
}

const char* MergeFailureText(std::int32_t result) {
  for (const MergeErrorText& entry : kMergeErrors) {
    if (entry.Result == result) return entry.Text;
  }
  return kOtherMergeError;
}

}  // namespace framory
