#include "writers/WmvWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/MovieFrame.h"
#include "writers/WidePath.h"
#include "writers/WriterReports.h"

namespace framory {

namespace {

// Longest output path handed to the library, in UTF-16 units with the
// terminator.
constexpr std::size_t kMaxPathUnits = 2048;

}  // namespace

WmvWriter::WmvWriter(WmFormatLibrary& library, WriterReports& reports, const std::string& path,
                     const WmGuid& profileId, std::int32_t screenWidth, std::int32_t screenHeight)
    : library_(library), reports_(reports), screenWidth_(screenWidth), screenHeight_(screenHeight) {
  Construct(path, profileId);
}

WmvWriter::~WmvWriter() { Close(); }

void WmvWriter::Construct(const std::string& path, const WmGuid& profileId) {
  if (library_.CreateProfileManager(&profileManager_) < 0 || !profileManager_) {
    reports_.Report(WriterFailure::WmvProfileManagerMissing);
    Close();
    return;
  }
  // The system profiles this program names are those of version 8.
  WmProfileManager2* manager2 = nullptr;
  if (profileManager_->QueryInterface(WmGuids::IidProfileManager2, &manager2) < 0 ||
      manager2 == nullptr) {
    Close();
    return;
  }
  const std::int32_t versionSet = manager2->SetSystemProfileVersion(kWmtVersion8);
  manager2 = nullptr;
  if (versionSet < 0) {
    Close();
    return;
  }
  if (profileManager_->LoadProfileByID(profileId, &profile_) < 0 || !profile_) {
    Close();
    return;
  }
  if (library_.CreateWriter(nullptr, &writer_) < 0 || !writer_) {
    reports_.Report(WriterFailure::WmvWriterMissing);
    Close();
    return;
  }
  if (!FindInputs() || !videoInput_) {
    Close();
    return;
  }
  // A file name is any string of bytes; those that are not UTF-8 cross to
  // the library as carried bytes (see WidePath.h). A name too long for the
  // library is refused rather than cut short.
  const std::u16string widePath = PathToWide(path);
  if (widePath.empty() || widePath.size() + 1 > kMaxPathUnits) {
    Close();
    return;
  }
  if (writer_->SetOutputFilename(widePath) < 0) {
    if (!IsUtf8(path)) {
      std::fprintf(stderr,
                   "framory: the Windows Media writer does not take the file name %s, which is "
                   "not UTF-8\n",
                   path.c_str());
    }
    Close();
    return;
  }
  state_ = kReady;
  startResult_ = kWriterOk;
}

bool WmvWriter::FindInputs() {
  std::uint32_t count = 0;
  if (writer_->SetProfile(*profile_) < 0 || writer_->GetInputCount(&count) < 0) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::unique_ptr<WmMediaProps> props;
    WmGuid type;
    if (writer_->GetInputProps(i, &props) < 0 || !props || props->GetType(&type) < 0) return false;
    if (type == WmGuids::MediaTypeAudio && !audioInput_) {
      audioInput_ = std::move(props);
      audioInputNumber_ = i;
    } else if (type == WmGuids::MediaTypeVideo && !videoInput_) {
      videoInput_ = std::move(props);
      videoInputNumber_ = i;
    }
  }
  return true;
}

void WmvWriter::SetFrameRate(std::int32_t milliseconds) {
  if (milliseconds > 0) framesPerSecond_ = 1000.0 / milliseconds;
}

std::int64_t WmvWriter::SampleTimeOf(std::int32_t frames, double framesPerSecond) {
  const long double time =
      static_cast<long double>(frames) * 1000.0L / static_cast<long double>(framesPerSecond);
  return static_cast<std::int64_t>(time);
}

std::int64_t WmvWriter::FrameMillisecondsOf(std::int64_t avgTimePerFrame) {
  return std::max<std::int64_t>(1, std::llround(static_cast<double>(avgTimePerFrame) / 10000.0));
}

std::int64_t WmvWriter::FrameMilliseconds(std::int32_t timerValue) {
  // As SetFrameRate and VideoInfoFor derive the average frame time.
  const double framesPerSecond = timerValue > 0 ? 1000.0 / timerValue : 2.0;
  return FrameMillisecondsOf(
      static_cast<std::int64_t>(10000000.0L / static_cast<long double>(framesPerSecond)));
}

WmBitmapInfoHeader WmvWriter::FormatOf(const MovieFrame& frame) {
  // Bottom-up rows (a positive height), the row order of an RGB video input.
  WmBitmapInfoHeader header;
  header.Width = frame.Width();
  header.Height = frame.Height();
  header.BitCount = 32;
  header.Compression = kWmBiRgb;
  header.SizeImage =
      static_cast<std::uint32_t>(frame.BytesPerLine()) * static_cast<std::uint32_t>(frame.Height());
  return header;
}

WmVideoInfoHeader WmvWriter::VideoInfoFor(std::int32_t width, std::int32_t height) const {
  WmVideoInfoHeader info;
  info.Source = WmRect{0, 0, width, height};
  info.Target = info.Source;
  info.BmiHeader.Width = width;
  info.BmiHeader.Height = height;
  info.BmiHeader.BitCount = 32;
  info.BmiHeader.SizeImage =
      static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * 4;
  // The low 32 bits of the whole number of bits a second of the larger of
  // screen and frame.
  const long double bits = static_cast<long double>(std::max(screenWidth_, width)) *
                           std::max(screenHeight_, height) * info.BmiHeader.BitCount *
                           static_cast<long double>(framesPerSecond_);
  info.BitRate = static_cast<std::uint32_t>(
      static_cast<std::uint64_t>(std::fmod(std::trunc(bits), 18446744073709551616.0L)));
  info.BitErrorRate = 0;
  info.AvgTimePerFrame =
      static_cast<std::int64_t>(10000000.0L / static_cast<long double>(framesPerSecond_));
  return info;
}

std::int32_t WmvWriter::AddFrame(const MovieFrame& frame) {
  switch (state_) {
    case kReady:
      return Begin(frame);
    case kWriting:
      return Write(frame);
    default:
      return kWriterFail;
  }
}

std::int32_t WmvWriter::AddFrameAt(const MovieFrame& frame, std::int32_t position) {
  // Samples carry their own times, so a frame placed by the clock is only
  // stamped later; a position already passed is taken as the next one.
  if (position > framesWritten_) {
    framesWritten_ = position;
    nextSampleTime_ = SampleTimeOf(framesWritten_, framesPerSecond_);
  }
  return AddFrame(frame);
}

std::int32_t WmvWriter::RepeatFrameAt(const MovieFrame& frame, std::int32_t position) {
  // The held picture reaches at least to the end of `position`'s period.
  if (state_ == kWriting && position > framesWritten_) {
    framesWritten_ = position;
    nextSampleTime_ = SampleTimeOf(framesWritten_, framesPerSecond_);
  }
  return RepeatFrame(frame);
}

std::int32_t WmvWriter::Begin(const MovieFrame& frame) {
  if (!frame.Exists()) {
    Close();
    return kWriterFail;
  }
  WmVideoInfoHeader info = VideoInfoFor(frame.Width(), frame.Height());
  info.BmiHeader = FormatOf(frame);

  WmMediaType type;
  type.MajorType = WmGuids::MediaTypeVideo;
  // The header says BI_RGB, so the subtype follows the depth alone.
  switch (info.BmiHeader.BitCount) {
    case 32:
      type.SubType = WmGuids::SubtypeRgb32;
      break;
    case 24:
      type.SubType = WmGuids::SubtypeRgb24;
      break;
    case 16:
      type.SubType = WmGuids::SubtypeRgb555;
      break;
    case 8:
      type.SubType = WmGuids::SubtypeRgb8;
      break;
    default:
      type.SubType = WmGuids::Null;
  }
  type.FixedSizeSamples = false;
  type.TemporalCompression = false;
  type.SampleSize = 0;
  type.FormatType = WmGuids::FormatVideoInfo;
  type.FormatBytes = sizeof(WmVideoInfoHeader);
  type.Format = &info;

  if (videoInput_->SetMediaType(type) < 0 ||
      writer_->SetInputProps(videoInputNumber_, *videoInput_) < 0 || writer_->BeginWriting() < 0) {
    Close();
    return kWriterFail;
  }
  begun_ = info.BmiHeader;
  state_ = kWriting;
  return Write(frame);
}

std::int32_t WmvWriter::RepeatFrame(const MovieFrame& frame) {
  if (state_ != kWriting) return kWriterFail;
  ++framesWritten_;
  nextSampleTime_ = SampleTimeOf(framesWritten_, framesPerSecond_);
  repeated_ = &frame;
  return kWriterOk;
}

std::int32_t WmvWriter::Write(const MovieFrame& frame) {
  repeated_ = nullptr;
  const WmBitmapInfoHeader header = FormatOf(frame);
  std::shared_ptr<WmBuffer> sample;
  std::uint8_t* buffer = nullptr;
  std::uint32_t length = 0;
  // A frame of another size than writing began with does not fit the input.
  bool ok = frame.Exists() && header.Width == begun_.Width && header.Height == begun_.Height &&
            writer_->AllocateSample(header.SizeImage, &sample) >= 0 && sample &&
            sample->GetBufferAndLength(&buffer, &length) >= 0 && buffer != nullptr &&
            length >= header.SizeImage;
  if (ok) {
    // The one copy of the frame: its rows, bottom-up, into the sample.
    const std::size_t rowBytes = static_cast<std::size_t>(frame.BytesPerLine());
    const std::int32_t height = frame.Height();
    for (std::int32_t y = 0; y < height; ++y) {
      std::memcpy(buffer + static_cast<std::size_t>(height - 1 - y) * rowBytes, frame.Row(y),
                  rowBytes);
    }
    const std::uint64_t time = static_cast<std::uint64_t>(nextSampleTime_) * 10000;
    ok = writer_->WriteSample(videoInputNumber_, time, 0, sample) >= 0;
    ++framesWritten_;
    nextSampleTime_ = SampleTimeOf(framesWritten_, framesPerSecond_);
  }
  sample.reset();
  if (ok) return kWriterOk;
  // The file is ended with what it has; the writer stays closed.
  Close();
  return kWriterFail;
}

void WmvWriter::Close() {
  if (state_ == kWriting) {
    // Frames are encoded and written on the library's own thread: those
    // still queued, the index and the file's final sizes reach the disk
    // only now, and a full disk or a file-size limit can stop any of them.
    bool lost = false;
    if (repeated_ != nullptr) {
      // The last repeat's slot gets the picture, so players show it until
      // the clip's end. Write() ends the file itself when it fails.
      --framesWritten_;
      nextSampleTime_ = SampleTimeOf(framesWritten_, framesPerSecond_);
      lost = Write(*repeated_) < 0;
    }
    if (state_ == kWriting && writer_ && writer_->EndWriting() < 0) lost = true;
    if (lost) closeResult_ = kWriterFail;
  }
  state_ = kClosed;
  videoInput_.reset();
  audioInput_.reset();
  writer_.reset();
  profile_.reset();
  profileManager_.reset();
}

}  // namespace framory
