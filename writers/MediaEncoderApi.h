// A media encoder in the manner of Windows Media Encoder's automation
// objects: an encoder with a source group holding an audio and a video
// source, a profile with one audience, a file and a broadcast object, the
// prepare / start / pause / stop cycle, and a stream editor that joins the
// streams of two files. The encoder session talks only to this; the
// implementation (own capture threads, FFmpeg encoding, the HTTP broadcast)
// lives in platform/encoder and is handed in by the program.
//
// Every call returns an HRESULT-style 32-bit result (below 0 is failure).
// Objects handed out as raw pointers belong to the object that handed them
// out; the ones handed out as unique_ptr belong to the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace framory {

using HResult = std::int32_t;

namespace EncoderResult {
inline constexpr HResult Ok = 0;
inline constexpr HResult Fail = static_cast<HResult>(0x80004005);          // E_FAIL
inline constexpr HResult InvalidArg = static_cast<HResult>(0x80070057);    // E_INVALIDARG
inline constexpr HResult Unexpected = static_cast<HResult>(0x8000FFFF);    // E_UNEXPECTED
inline constexpr HResult FileNotFound = static_cast<HResult>(0x80070002);  // no such file
inline constexpr HResult MissingAudience = static_cast<HResult>(0xC00D1B98);
inline constexpr HResult LanguageMismatch = static_cast<HResult>(0xC00D1B9C);
inline constexpr HResult OutputIsInput = static_cast<HResult>(0xC00D1B84);
inline constexpr HResult InvalidInputLanguage = static_cast<HResult>(0xC00D1B9F);
inline constexpr HResult UnknownStreamType = static_cast<HResult>(0xC00D0026);
inline constexpr HResult InvalidData = static_cast<HResult>(0xC00D002F);
inline constexpr HResult UnsupportedSource = static_cast<HResult>(0xC00D1B5B);
// The encoder could not reach a device it was given (no audio server, no
// X display) or could not open its output (file, broadcast port).
inline constexpr HResult DeviceUnavailable = static_cast<HResult>(0xC00D1B5E);
inline constexpr HResult OutputUnavailable = static_cast<HResult>(0xC00D1B7C);
}  // namespace EncoderResult

// Source and stream types, in the encoder's numbering.
inline constexpr std::int32_t kEncoderAudio = 1;
inline constexpr std::int32_t kEncoderVideo = 2;
// Content types of a profile: audio, video, or both.
inline constexpr std::int32_t kContentAudio = 1;
inline constexpr std::int32_t kContentVideo = 16;
inline constexpr std::int32_t kContentAudioVideo = 17;
inline constexpr std::int32_t kProtocolHttp = 1;

// The screen-capture plug-in's settings of a video source.
class EncoderPropertyBag {
 public:
  virtual ~EncoderPropertyBag() = default;
  virtual HResult WriteBool(const std::string& name, bool value) = 0;
  virtual HResult WriteLong(const std::string& name, std::int32_t value) = 0;
};

class EncoderSource {
 public:
  virtual ~EncoderSource() = default;
  // "Device://Default_Audio_Device" or "ScreenCap://ScreenCapture1".
  virtual HResult SetInput(const std::string& input, const std::string& scheme,
                           const std::string& initData) = 0;
  // The video source's plug-in properties; null for an audio source.
  virtual EncoderPropertyBag* PropertyBag() = 0;
};

// One audience (one bit rate) of a profile; settings per video stream.
class EncoderAudience {
 public:
  virtual ~EncoderAudience() = default;
  virtual HResult SetVideoCodec(std::int32_t stream, std::int32_t codecIndex) = 0;
  virtual HResult SetVideoWidth(std::int32_t stream, std::int32_t width) = 0;
  virtual HResult SetVideoHeight(std::int32_t stream, std::int32_t height) = 0;
  virtual HResult SetVideoBufferWindow(std::int32_t stream, std::int32_t milliseconds) = 0;
  // Frames per second × 1000.
  virtual HResult SetVideoFps(std::int32_t stream, std::int32_t fpsTimes1000) = 0;
  // 0 (smoothest motion) to 100 (sharpest pictures).
  virtual HResult SetVideoImageSharpness(std::int32_t stream, std::int32_t quality) = 0;
};

class EncoderProfile {
 public:
  virtual ~EncoderProfile() = default;
  virtual HResult SetValidateMode(bool on) = 0;
  virtual HResult SetName(const std::string& name) = 0;
  virtual HResult SetDescription(const std::string& description) = 0;
  virtual HResult SetContentType(std::int32_t contentType) = 0;
  // 1: the video stream keeps a constant quality instead of a bit rate.
  virtual HResult SetVideoBitrateMode(std::int32_t stream, std::int32_t mode) = 0;
  // The index of the codec with `fourCC` among those of `sourceType`.
  virtual HResult FindCodecIndex(std::int32_t sourceType, const std::string& fourCC,
                                 std::int32_t* index) = 0;
  // The new audience stays owned by the profile.
  virtual HResult AddAudience(std::int32_t bitsPerSecond, EncoderAudience** audience) = 0;
  virtual HResult Validate() = 0;
};

class EncoderSourceGroup {
 public:
  virtual ~EncoderSourceGroup() = default;
  virtual HResult AddSource(std::int32_t sourceType, EncoderSource** source) = 0;
  // The profile must outlive the encoding; the group keeps a reference.
  virtual HResult SetProfile(EncoderProfile* profile) = 0;
};

class EncoderSourceGroupCollection {
 public:
  virtual ~EncoderSourceGroupCollection() = default;
  virtual HResult Add(const std::string& name, EncoderSourceGroup** group) = 0;
};

class EncoderFile {
 public:
  virtual ~EncoderFile() = default;
  virtual HResult SetLocalFileName(const std::string& path) = 0;
};

class EncoderBroadcast {
 public:
  virtual ~EncoderBroadcast() = default;
  virtual HResult SetPortNumber(std::int32_t protocol, std::int32_t port) = 0;
};

// Why an encoder could not prepare, where it knows a reason the user can act
// on; Unknown otherwise.
enum class EncoderFailureKind { Unknown, NoSoundServer, NoDisplay, BroadcastPortTaken };

class MediaEncoder {
 public:
  virtual ~MediaEncoder() = default;
  virtual HResult SourceGroupCollection(EncoderSourceGroupCollection** collection) = 0;
  virtual HResult File(EncoderFile** file) = 0;
  virtual HResult Broadcast(EncoderBroadcast** broadcast) = 0;
  // true: open the devices and outputs so that Start can begin at once;
  // false: release them again.
  virtual HResult PrepareToEncode(bool prepare) = 0;
  // Starts, or resumes after Pause.
  virtual HResult Start() = 0;
  virtual HResult Pause() = 0;
  // Ends the encoding and finishes the output.
  virtual HResult Stop() = 0;
  // Why the last PrepareToEncode(true) failed.
  virtual EncoderFailureKind LastFailureKind() const { return EncoderFailureKind::Unknown; }
  // True once writing the output file has failed (the encoding then stops
  // taking pictures); `error` gets the system's error number (ENOSPC for a
  // full disk), 0 when there is none. Safe beside the encoding threads.
  virtual bool FileWriteFailed(std::uint32_t* /*error*/) const { return false; }
};

// Joins streams of several files into one output file on a thread of its own.
class EncoderStreamEditor {
 public:
  virtual ~EncoderStreamEditor() = default;
  virtual HResult SetOutputFile(const std::string& path) = 0;
  virtual HResult AddStream(const std::string& path, std::int32_t streamType, std::int32_t language,
                            std::int32_t streamNumber, std::int32_t audienceIndex,
                            std::int32_t startTime, std::int32_t endTime) = 0;
  // Checks that the inputs exist and hold the streams asked for.
  virtual HResult Validate() = 0;
  virtual HResult Start() = 0;
  // 1 while running, 0 once stopped (done or failed).
  virtual HResult RunState(std::int32_t* state) = 0;
  // Percent done; 99 or more only once the output file is complete.
  virtual HResult Progress(std::int32_t* percent) = 0;
  virtual HResult Stop() = 0;
};

class MediaEncoderLibrary {
 public:
  virtual ~MediaEncoderLibrary() = default;
  virtual HResult CreateEncoder(std::unique_ptr<MediaEncoder>* encoder) = 0;
  virtual HResult CreateProfile(std::unique_ptr<EncoderProfile>* profile) = 0;
  virtual HResult CreateStreamEditor(std::unique_ptr<EncoderStreamEditor>* editor) = 0;
};

}  // namespace framory
