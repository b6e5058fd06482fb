#include "writers/QtMovieWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "base/LastError.h"
#include "base/MovieFrame.h"
#include "writers/WriterReports.h"

namespace framory {

namespace {

constexpr char kBadPath[] = "\tInvalid output Filename \n\nPlease use Absolute output Path";
constexpr char kNoWorld[] = "Unable to Create New Quick Time World From the Bitmap";
constexpr char kNoFile[] = "Unable to Create Movie File";
constexpr char kNoTrack[] = "Unable to Create Track";
constexpr char kNoMedia[] = "Unable to Create Track Media";
constexpr char kNoCompressionSize[] = "Unable to Get Compression Size";
constexpr char kNoBuffer[] = "Unable to Allocate Memory";
constexpr char kNoDescription[] = "Unable to Allocate Memory Handle";
constexpr char kNoEditing[] = "Unable to Begin Editing";

constexpr OSType kCreator = 0x54564F44;     // 'TVOD'
constexpr OSType kVideoMedia = 0x76696465;  // 'vide'
constexpr CodecType kJpeg = 0x6A706567;     // 'jpeg'
constexpr CodecQ kQuality = kQtCodecNormalQuality;
constexpr std::int32_t kCreateFlags =
    kQtCreateMovieFileDeleteCurFile | kQtCreateMovieFileDontCreateResFile;
constexpr Fixed kNormalRate = 0x10000;

// Full paths are made in a 260-character buffer, terminator included.
constexpr std::size_t kFullPathCapacity = 260;
// The file name travels as a length-prefixed string: at most 255 bytes.
constexpr std::size_t kLongestFileName = 255;

// The absolute, lexically normalised form of `path`; empty when it cannot be
// made or does not fit.
std::string FullPath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return {};
  std::filesystem::path full(path);
  if (!full.is_absolute()) {
    char cwd[kFullPathCapacity];
    if (getcwd(cwd, sizeof cwd) == nullptr) return {};
    full = std::filesystem::path(cwd) / full;
  }
  std::string text = full.lexically_normal().string();
  if (text.size() >= kFullPathCapacity) return {};
  return text;
}

// The runtime's file calls fail with the system's reason left in errno (a
// full disk, a file-size limit); it becomes the thread's last error, so that
// the report the user sees names it. Callers clear errno before the call.
void KeepSystemReason() {
  if (errno != 0) SetLastError(static_cast<std::uint32_t>(errno));
}

std::int16_t ClampToRect(std::int32_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, 0, 32767));
}

}  // namespace

QtMovieWriter::QtMovieWriter(WriterReports& reports, std::string path, std::int32_t screenWidth,
                             std::int32_t screenHeight)
    : reports_(reports),
      path_(std::move(path)),
      screenWidth_(screenWidth),
      screenHeight_(screenHeight) {
  if (InitializeQTML(0) != 0) {
    TerminateQTML();
    reports_.Report(WriterFailure::QuickTimeMissing);
  } else {
    EnterMovies();
  }
}

QtMovieWriter::~QtMovieWriter() { Close(); }

void QtMovieWriter::SetFramePeriod(std::int32_t milliseconds) {
  timeScale_ = 1000;
  // A sample must last at least one unit of the media's time scale, or the
  // media takes none: a period of 0 gives every frame a millisecond.
  frameDuration_ = std::max(milliseconds, 1);
}

std::int32_t QtMovieWriter::Fail(const char* text) {
  std::snprintf(lastError_, sizeof lastError_, "%s", text);
  CleanUp();
  return kWriterFail;
}

std::int32_t QtMovieWriter::Prepare(const MovieFrame& frame) {
  if (!quickTimeOpen_ || state_ != kClosed) return kWriterFail;
  const std::string fullPath = FullPath(path_);
  // A longer name would be cut short by the length-prefixed file name and the
  // movie written under another name, so it is refused here.
  if (fullPath.empty() || fullPath.size() > kLongestFileName) return Fail(kBadPath);

  // The world wraps the frame's own pixels; the codec only reads them.
  bitmap_.width = frame.Width();
  bitmap_.height = frame.Height();
  bitmap_.rowBytes = frame.BytesPerLine();
  bitmap_.bitsPerPixel = 32;
  bitmap_.pixels = frame.Exists() ? const_cast<std::uint32_t*>(frame.Row(0)) : nullptr;
  if (NewGWorldFromHBITMAP(&frameWorld_, nullptr, nullptr, 0, &bitmap_, nullptr) != 0) {
    frameWorld_ = nullptr;
    return Fail(kNoWorld);
  }
  GetGWorld(&savedPort_, &savedDevice_);
  SetGWorld(frameWorld_, nullptr);

  c2pstrcpy(fileName_, fullPath.c_str());
  FSSpec fileSpec;
  FSMakeFSSpec(0, 0, fileName_, &fileSpec);
  if (CreateMovieFile(&fileSpec, kCreator, kQtSmCurrentScript, kCreateFlags, &fileRef_, &movie_) !=
      0) {
    fileRef_ = 0;
    movie_ = nullptr;
    return Fail(kNoFile);
  }
  track_ = NewMovieTrack(movie_, FixRatio(static_cast<std::int16_t>(bitmap_.width), 1),
                         FixRatio(static_cast<std::int16_t>(bitmap_.height), 1), 0);
  if (track_ == nullptr) return Fail(kNoTrack);
  frameRect_ = {0, 0, static_cast<std::int16_t>(bitmap_.height),
                static_cast<std::int16_t>(bitmap_.width)};
  media_ = NewTrackMedia(track_, kVideoMedia, timeScale_, nullptr, 0);
  if (media_ == nullptr) return Fail(kNoMedia);
  state_ = kPrepared;
  return kWriterOk;
}

std::int32_t QtMovieWriter::AddFrame(const MovieFrame&) {
  switch (state_) {
    case kPrepared:
      return StartEditing();
    case kEditing:
      return AddPreparedFrame();
    default:
      return kWriterFail;
  }
}

std::int32_t QtMovieWriter::StartEditing() {
  // Sized once for the larger of the frame and the whole screen.
  ::Rect widened = frameRect_;
  widened.right = std::max(widened.right, ClampToRect(screenWidth_));
  widened.bottom = std::max(widened.bottom, ClampToRect(screenHeight_));
  std::int32_t maxSize = 0;
  if (GetMaxCompressionSize(frameWorld_->portPixMap, &widened, 0, kQuality, kJpeg, nullptr,
                            &maxSize) != 0) {
    return Fail(kNoCompressionSize);
  }
  compressedData_ = NewHandle(maxSize);
  if (compressedData_ == nullptr) return Fail(kNoBuffer);
  MoveHHi(compressedData_);
  HLock(compressedData_);
  compressedDataPointer_ = *compressedData_;
  imageDescription_ = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
  if (imageDescription_ == nullptr) return Fail(kNoDescription);
  if (BeginMediaEdits(media_) != 0) return Fail(kNoEditing);
  state_ = kEditing;
  return AddPreparedFrame();
}

std::int32_t QtMovieWriter::AddPreparedFrame() {
  // The held sample goes first: its data shares the buffer the new frame is
  // compressed into.
  if (!AddHeldSample()) return kWriterFail;
  if (CompressImage(frameWorld_->portPixMap, &frameRect_, kQuality, kJpeg, imageDescription_,
                    compressedDataPointer_) != 0) {
    return kWriterFail;
  }
  heldDuration_ = frameDuration_;
  ++nextPosition_;
  return kWriterOk;
}

void QtMovieWriter::HoldUntil(std::int32_t position) {
  if (state_ != kEditing || heldDuration_ == 0 || position <= nextPosition_) return;
  heldDuration_ += static_cast<TimeValue>(position - nextPosition_) * frameDuration_;
  nextPosition_ = position;
}

std::int32_t QtMovieWriter::AddFrameAt(const MovieFrame& frame, std::int32_t position) {
  HoldUntil(position);
  return AddFrame(frame);
}

std::int32_t QtMovieWriter::RepeatFrameAt(const MovieFrame& frame, std::int32_t position) {
  if (state_ != kEditing || heldDuration_ == 0) return kWriterRepeatUnsupported;
  HoldUntil(position);
  return RepeatFrame(frame);
}

bool QtMovieWriter::AddHeldSample() {
  if (heldDuration_ == 0) return true;
  const TimeValue duration = heldDuration_;
  heldDuration_ = 0;
  errno = 0;
  if (AddMediaSample(media_, compressedData_, 0,
                     static_cast<std::uint32_t>((*imageDescription_)->dataSize), duration,
                     reinterpret_cast<SampleDescriptionHandle>(imageDescription_), 1, 0,
                     nullptr) == 0) {
    return true;
  }
  KeepSystemReason();
  return false;
}

std::int32_t QtMovieWriter::RepeatFrame(const MovieFrame&) {
  if (state_ != kEditing || heldDuration_ == 0) return kWriterRepeatUnsupported;
  heldDuration_ += frameDuration_;
  ++nextPosition_;
  return kWriterOk;
}

void QtMovieWriter::CleanUp() {
  state_ = kClosed;
  heldDuration_ = 0;
  nextPosition_ = 0;
  if (imageDescription_ != nullptr) {
    DisposeHandle(reinterpret_cast<Handle>(imageDescription_));
    imageDescription_ = nullptr;
  }
  if (compressedData_ != nullptr) {
    DisposeHandle(compressedData_);
    compressedData_ = nullptr;
    compressedDataPointer_ = nullptr;
  }
  if (fileRef_ != 0) {
    CloseMovieFile(fileRef_);
    fileRef_ = 0;
  }
  if (movie_ != nullptr) {
    DisposeMovie(movie_);
    movie_ = nullptr;
    track_ = nullptr;
    media_ = nullptr;
  }
  if (savedPort_ != nullptr) {
    SetGWorld(savedPort_, savedDevice_);
    savedPort_ = nullptr;
    savedDevice_ = nullptr;
  }
  if (frameWorld_ != nullptr) {
    DisposeGWorld(frameWorld_);
    frameWorld_ = nullptr;
  }
}

void QtMovieWriter::Close() {
  if (state_ == kEditing) {
    // The last frame's sample (with the repeats that followed it) and the
    // movie itself reach the file only now; a full disk or a file-size limit
    // can stop either, and CloseResult says so. What can still be finished
    // is: a lost last sample leaves a movie of the frames before it.
    bool lost = false;
    if (media_ != nullptr) {
      lost = !AddHeldSample();
      if (EndMediaEdits(media_) != 0) lost = true;
      if (track_ != nullptr &&
          InsertMediaIntoTrack(track_, 0, 0, GetMediaDuration(media_), kNormalRate) != 0) {
        lost = true;
      }
    }
    if (movie_ != nullptr) {
      std::int16_t resId = kQtMovieInDataForkResID;
      errno = 0;
      if (AddMovieResource(movie_, fileRef_, &resId, fileName_) != 0) {
        if (!lost) KeepSystemReason();
        lost = true;
      }
    }
    if (lost) closeResult_ = kWriterFail;
  }
  state_ = kClosed;
  CleanUp();
  if (quickTimeOpen_) {
    quickTimeOpen_ = false;
    ExitMovies();
    TerminateQTML();
  }
}

}  // namespace framory
