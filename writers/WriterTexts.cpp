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
      "Unable to initialize the Apple Quick Time Environment. You need to download and install "
      "the free QuickTime Media player. See http://www.apple.com/quicktime/download/ ",
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
    {WriterFailure::EncoderMissing,
     {kErrorCaption,
      "Unable to use Microsoft Windows Media Screen Encoder 9.You must download and install the "
      "free encoder first. See "
      "http://www.microsoft.com/windows/windowsmedia/9series/encoder/default.aspx ",
      false, WriterBoxKind::SystemModalError}},
    {WriterFailure::EncoderStart,
     {kErrorCaption, "Unable to start using Windows Media Encoder 9.", false,
      WriterBoxKind::Error}},
    {WriterFailure::MergeRefused, {kMergeCaption, nullptr, false, WriterBoxKind::SystemModalError}},
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

const char* MergeFailureText(std::int32_t result) {
  for (const MergeErrorText& entry : kMergeErrors) {
    if (entry.Result == result) return entry.Text;
  }
  return kOtherMergeError;
}

}  // namespace framory
