#include "writers/QtMovieWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <utility>

#include "base/LastError.h"
#include "base/MovieFrame.h"
#include "writers/ClipJournal.h"
#include "writers/MovSampleNotes.h"
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
// full disk, a file-size limit); it goes to the caller's thread, whose last
// error it becomes, so that the report the user sees names it. Callers
// clear errno before the call.
void KeepSystemReason(std::uint32_t* reason) {
  if (errno != 0) *reason = static_cast<std::uint32_t>(errno);
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
  OSErr initialized = kQtmlNoErr;
  runtime_.Call([&] {
    initialized = InitializeQTML(0);
    if (initialized != 0) {
      TerminateQTML();
    } else {
      EnterMovies();
    }
  });
  if (initialized != 0) reports_.Report(WriterFailure::QuickTimeMissing);
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
  // The graphics world wraps the writer's own copy of the frame. Without
  // one (no frame, no memory) the world cannot be made.
  std::vector<std::uint32_t>().swap(pixels_);
  if (frame.Exists()) {
    try {
      pixels_.resize(static_cast<std::size_t>(frame.Width()) *
                     static_cast<std::size_t>(frame.Height()));
    } catch (const std::bad_alloc&) {
      std::vector<std::uint32_t>().swap(pixels_);
    }
  }
  std::int32_t result = kWriterFail;
  runtime_.Call([&] { result = PrepareMovie(frame); });
  return result;
}

std::int32_t QtMovieWriter::PrepareMovie(const MovieFrame& frame) {
  const std::string fullPath = FullPath(path_);
  // A longer name would be cut short by the length-prefixed file name and the
  // movie written under another name, so it is refused here.
  if (fullPath.empty() || fullPath.size() > kLongestFileName) return Fail(kBadPath);

  // The codec only reads the pixels.
  bitmap_.width = frame.Width();
  bitmap_.height = frame.Height();
  bitmap_.rowBytes = frame.BytesPerLine();
  bitmap_.bitsPerPixel = 32;
  bitmap_.pixels = pixels_.empty() ? nullptr : pixels_.data();
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

std::int32_t QtMovieWriter::AddFrame(const MovieFrame& frame) {
  if (state_ == kPrepared) {
    std::int32_t started = kWriterFail;
    runtime_.Call([&] { started = StartEditing(); });
    if (started < 0) return started;
  }
  if (state_ != kEditing) return kWriterFail;
  return AddPreparedFrame(frame);
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
  return kWriterOk;
}

std::int32_t QtMovieWriter::AddPreparedFrame(const MovieFrame& frame) {
  // The frame before is compressed by now: its sample can be added.
  runtime_.Wait();
  if (compressFailed_) {
    // That frame is lost, and no sample is held for it. Its failure is this
    // call's result, and this frame is not taken either.
    compressFailed_ = false;
    heldDuration_ = 0;
    return kWriterFail;
  }
  // The held sample goes first: its data shares the buffer the new frame is
  // compressed into.
  const TimeValue duration = std::exchange(heldDuration_, 0);
  if (duration != 0) {
    bool added = false;
    std::uint32_t reason = 0;
    runtime_.Call([&] { added = AddHeldSample(duration, &reason); });
    if (!added) {
      if (reason != 0) SetLastError(reason);
      return kWriterFail;
    }
  }
  // The runtime thread is idle: the frame's copy is free to fill.
  if (frame.Exists() && frame.Width() == bitmap_.width && frame.Height() == bitmap_.height &&
      !pixels_.empty()) {
    std::memcpy(pixels_.data(), frame.Row(0), pixels_.size() * sizeof pixels_[0]);
  }
  if (!runtime_.Post([this] { CompressFrame(); })) return kWriterFail;
  heldDuration_ = frameDuration_;
  ++nextPosition_;
  return kWriterOk;
}

void QtMovieWriter::CompressFrame() {
  compressFailed_ = CompressImage(frameWorld_->portPixMap, &frameRect_, kQuality, kJpeg,
                                  imageDescription_, compressedDataPointer_) != 0;
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

void QtMovieWriter::Note(const std::string& note) {
  // Without a record the clip records all the same.
  if (journal_ != nullptr) journal_->Note(note.data(), note.size());
}

bool QtMovieWriter::AddHeldSample(TimeValue duration, std::uint32_t* reason) {
  if (duration == 0) return true;
  // The journal is never behind the file: the duration is noted first, and
  // taken back when the sample did not reach the file.
  Note(MovSampleNotes::Sample(duration));
  errno = 0;
  if (AddMediaSample(media_, compressedData_, 0,
                     static_cast<std::uint32_t>((*imageDescription_)->dataSize), duration,
                     reinterpret_cast<SampleDescriptionHandle>(imageDescription_), 1, 0,
                     nullptr) == 0) {
    return true;
  }
  KeepSystemReason(reason);
  Note(MovSampleNotes::TakeBack());
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

bool QtMovieWriter::FinishMovie(TimeValue duration, bool lost, std::uint32_t* reason) {
  if (media_ != nullptr) {
    if (!AddHeldSample(duration, reason)) lost = true;
    // The clip's last notes go to the disk now, not at the next paced sync:
    // what follows (the movie atom) is the longest write of the clip.
    if (journal_ != nullptr) journal_->SyncNotes();
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
      if (!lost) KeepSystemReason(reason);
      lost = true;
    }
  }
  return lost;
}

void QtMovieWriter::Close() {
  // The last frame handed over is compressed first.
  runtime_.Wait();
  if (state_ == kEditing) {
    // The last frame's sample (with the repeats that followed it) and the
    // movie itself reach the file only now; a full disk or a file-size limit
    // can stop either, and CloseResult says so. What can still be finished
    // is: a lost last sample leaves a movie of the frames before it.
    bool lost = std::exchange(compressFailed_, false);
    if (lost) heldDuration_ = 0;
    const TimeValue duration = std::exchange(heldDuration_, 0);
    std::uint32_t reason = 0;
    runtime_.Call([&] { lost = FinishMovie(duration, lost, &reason); });
    if (lost) {
      // The reason of the first loss, or none: never an older one.
      SetLastError(reason);
      closeResult_ = kWriterFail;
    }
  }
  const bool endQuickTime = std::exchange(quickTimeOpen_, false);
  runtime_.Call([&] {
    state_ = kClosed;
    CleanUp();
    if (endQuickTime) {
      ExitMovies();
      TerminateQTML();
    }
  });
  runtime_.Stop();
  heldDuration_ = 0;
  nextPosition_ = 0;
  std::vector<std::uint32_t>().swap(pixels_);
}

}  // namespace framory
