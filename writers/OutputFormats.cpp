#include "writers/OutputFormats.h"

#include <ctime>

#include "writers/AviWriter.h"
#include "writers/JournalingWriter.h"
#include "writers/MovSampleNotes.h"
#include "writers/QtMovieWriter.h"
#include "writers/StreamWriter.h"
#include "writers/WebMovieWriter.h"
#include "writers/WmvWriter.h"
#include "writers/WriterTexts.h"

namespace framory {

namespace {

namespace Names = ClipFailureNames;

// Seconds since 1904-01-01, the QuickTime epoch: when the movie is made.
std::uint32_t MacTimeNow() {
  constexpr std::uint64_t kUnixFromMac = 2082844800ull;
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::time(nullptr)) + kUnixFromMac);
}

// `writer`, recorded in the clip journal while its clip is open when the
// format's clips are journalled, with the facts a repair of its kind needs.
std::unique_ptr<MovieWriter> Journalled(std::unique_ptr<MovieWriter> writer,
                                        const WriterParts& parts, const OutputFormat& format,
                                        const std::string& path, std::int32_t timerValue) {
  if (!writer || !format.Journalled || parts.Journal == nullptr) return writer;
  return std::make_unique<JournalingWriter>(
      std::move(writer), *parts.Journal,
      JournalledClipOf(format.Code, format.JournalKind, path, timerValue));
}

std::unique_ptr<MovieWriter> MakeAviWriter(const WriterParts& parts, const OutputFormat& format,
                                           const std::string& path, std::int32_t timerValue) {
  if (parts.Avi == nullptr || parts.Reports == nullptr) return nullptr;
  auto writer = std::make_unique<AviWriter>(*parts.Avi, *parts.Reports, path, parts.ScreenWidth,
                                            parts.ScreenHeight);
  writer->SetFramePeriod(timerValue);
  writer->SetCodec(format.Codec);
  return Journalled(std::move(writer), parts, format, path, timerValue);
}

std::unique_ptr<MovieWriter> MakeQtMovieWriter(const WriterParts& parts, const OutputFormat& format,
                                               const std::string& path, std::int32_t timerValue) {
  if (parts.Reports == nullptr) return nullptr;
  auto writer =
      std::make_unique<QtMovieWriter>(*parts.Reports, path, parts.ScreenWidth, parts.ScreenHeight);
  writer->SetFramePeriod(timerValue);
  if (!format.Journalled || parts.Journal == nullptr) return writer;
  // The file alone does not tell the samples' durations until its movie is
  // written: the record holds the time scale, and the writer notes each
  // sample's duration in it.
  JournalledClip clip = JournalledClipOf(format.Code, format.JournalKind, path, timerValue);
  MovSampleNotes::SetFacts(clip, writer->TimeScaleValue(), writer->FrameDuration(), MacTimeNow());
  writer->SetJournal(parts.Journal);
  return std::make_unique<JournalingWriter>(std::move(writer), *parts.Journal, std::move(clip));
}

std::unique_ptr<MovieWriter> MakeWmvWriter(const WriterParts& parts, const OutputFormat& format,
                                           const std::string& path, std::int32_t timerValue) {
  if (parts.Wmv == nullptr || parts.Reports == nullptr || format.Profile == nullptr) return nullptr;
  auto writer = std::make_unique<WmvWriter>(*parts.Wmv, *parts.Reports, path, *format.Profile,
                                            parts.ScreenWidth, parts.ScreenHeight);
  writer->SetFrameRate(timerValue);
  return Journalled(std::move(writer), parts, format, path, timerValue);
}

// `path` is the streaming server's address.
std::unique_ptr<MovieWriter> MakeStreamWriter(const WriterParts& parts,
                                              const OutputFormat& /*format*/,
                                              const std::string& path, std::int32_t timerValue) {
  if (parts.Streams == nullptr || parts.Reports == nullptr) return nullptr;
  StreamWriterParts stream;
  stream.Outputs = parts.Streams;
  stream.Reports = parts.Reports;
  stream.Status = parts.StreamState;
  stream.Sound = parts.Sound;
  stream.RecordSound = parts.RecordSound;
  const std::int32_t source = parts.SoundSource;
  stream.SoundChoice = source >= 0 && source <= 2 ? static_cast<SoundSourceChoice>(source)
                                                  : SoundSourceChoice::Microphone;
  return std::make_unique<StreamWriter>(stream, path, timerValue);
}

std::unique_ptr<MovieWriter> MakeWebMovieWriter(const WriterParts& parts,
                                                const OutputFormat& format,
                                                const std::string& path, std::int32_t timerValue) {
  if (parts.WebMovies == nullptr || parts.Reports == nullptr) return nullptr;
  const WebMovieKind kind = format.Code == OutputTypes::WebM ? WebMovieKind::WebM
                                                             : WebMovieKind::Mp4;
  auto writer = std::make_unique<WebMovieWriter>(*parts.WebMovies, *parts.Reports, kind, path);
  writer->SetFramePeriod(timerValue);
  if (parts.RecordSound && format.SoundAllowed && parts.Sound != nullptr) {
    const std::int32_t source = parts.SoundSource;
    writer->SetSound(parts.Sound, source >= 0 && source <= 2
                                      ? static_cast<SoundSourceChoice>(source)
                                      : SoundSourceChoice::Microphone);
  }
  return Journalled(std::move(writer), parts, format, path, timerValue);
}

using F = OutputFamily;
using S = WriterService;
namespace T = OutputTypes;

// A picture series: no writer of a clip.
constexpr OutputFormat Picture(std::int32_t code, const char* text, const char* extension,
                               std::int32_t imageFormat) {
  return {.Code = code,
          .Family = F::Pictures,
          .ListText = text,
          .Extension = extension,
          .ImageFormat = imageFormat};
}
// An AVI clip with `codec` (0: uncompressed). Compressed clips may read the
// grabbed pixels in place; uncompressed ones keep the composed, zero-padded
// pixels.
constexpr OutputFormat Avi(std::int32_t code, const char* text, std::uint32_t codec) {
  return {.Code = code,
          .Family = F::Avi,
          .ListText = text,
          .Extension = ".avi",
          .Codec = codec,
          .Service = S::AviLibrary,
          .TakesRepeats = true,
          .LendsGrabbedFrame = codec != 0,
          .Journalled = true,
          .AppendFailure = Names::kAviAppend,
          .MakeWriter = &MakeAviWriter};
}
// A WMV file of a system profile. Failed appends are reported with the AVI
// family's name.
constexpr OutputFormat Wmv(std::int32_t code, const char* text, const WmGuid* profile) {
  return {.Code = code,
          .Family = F::WmvFile,
          .ListText = text,
          .Extension = ".wmv",
          .SoundAllowed = true,
          .MergesSoundTrack = true,
          .Profile = profile,
          .Service = S::WmvLibrary,
          .TakesRepeats = true,
          .Journalled = true,
          .JournalKind = ClipKind::Asf,
          .AppendFailure = Names::kAviAppend,
          .MakeWriter = &MakeWmvWriter};
}

// An MP4 or WebM file with its sound inside. The writer reads the frame's
// pixels once, as it queues them, so it may read the grabbed ones in place.
// Its file plays as far as its last whole fragment or cluster however it was
// cut: the journal only lets the start-up box name a clip a crash cut.
constexpr OutputFormat WebMovie(std::int32_t code, const char* text, const char* extension,
                                const char* appendFailure) {
  return {.Code = code,
          .Family = F::WebMovie,
          .ListText = text,
          .Extension = extension,
          .SoundAllowed = true,
          .Service = S::WebMovieLibrary,
          .TakesRepeats = true,
          .LendsGrabbedFrame = true,
          .Journalled = true,
          .JournalKind = ClipKind::PlaysAsCut,
          .AppendFailure = appendFailure,
          .MakeWriter = &MakeWebMovieWriter};
}

// In code order.
constexpr OutputFormat kFormats[] = {
    Picture(T::Bmp, "BMP - Microsoft Windows bitmap format image", ".bmp", 1),
    Picture(T::Jpg, "JPG - Joint Photographic Experts Group standard compressed image", ".jpg", 2),
    Picture(T::Pcx, "PCX - Paintprush tool image", ".pcx", 5),
    Picture(T::Png, "PNG - Portable Network Graphics well-compressed image", ".png", 3),
    Avi(T::AviMpg4, "AVI - Microsoft audio-video standard using MPG4 high speed compression",
        FourCC::Mpg4),
    Avi(T::AviUncompressed, "AVI - Uncompressed video. Will play in Windows animation controls.",
        0),
    Avi(T::AviDivx, "AVI - Using DivX codec (Codec must be installed).", FourCC::Divx),
    Avi(T::AviWmv3, "AVI - Using WMV3 Windows Media Video 9 codec.", FourCC::Wmv3),
    Avi(T::AviXvid, "AVI - Using XVID codec (Codec must be installed).", FourCC::Xvid),
    {.Code = T::QuickTimeMov,
     .Family = F::QuickTime,
     .ListText = "MOV - Apple QuickTime Movie (QuickTime player must be installed).",
     .Extension = ".mov",
     .TakesRepeats = true,
     .Journalled = true,
     .JournalKind = ClipKind::QuickTime,
     .AppendFailure = Names::kQuickTimeAppend,
     .PrepareFailure = Names::kQuickTimePrepare,
     .MakeWriter = &MakeQtMovieWriter},
    Wmv(T::WmvV80_384Video,
        "WMV - Windows Media Video file - V80_384Video for 384 Kpbs LAN (default)",
        &WmGuids::ProfileV80_384Video),
    Wmv(T::WmvV80_56Video, "WMV - Windows Media Video file - V80_56Video for 56 Kpbs dial-up modem",
        &WmGuids::ProfileV80_56Video),
    Wmv(T::WmvV80_700PALVideo,
        "WMV - Windows Media Video file - V80_700PALVideo for 768 Kbps broadband",
        &WmGuids::ProfileV80_700PALVideo),
    // The screen encoder writes its file itself.
    {.Code = T::ScreenEncoder,
     .Family = F::ScreenEncoder,
     .ListText = "WMV - Windows Media Video file - Windows Media 9 Screen encoder (best quality)",
     .Extension = ".wmv",
     .SoundAllowed = true,
     .Service = S::Encoder,
     .Journalled = true,
     .JournalKind = ClipKind::Asf},
    WebMovie(T::Mp4,
             "MP4 - H.264 video with AAC sound, plays in every browser and phone (recommended)",
             ".mp4", Names::kMp4Append),
    WebMovie(T::WebM, "WebM - VP9 video with Opus sound, open format for the web", ".webm",
             Names::kWebMAppend),
    // The broadcast has no row in the format list and makes no file.
    {.Code = T::Broadcast, .Family = F::Broadcast, .SoundAllowed = true, .Service = S::Encoder},
    // The broadcast pushed to a streaming server: frames from the clip
    // session, like a file's, sent instead of written.
    {.Code = T::StreamServer,
     .Family = F::Broadcast,
     .SoundAllowed = true,
     .Service = S::StreamServer,
     .AppendFailure = Names::kStreamAppend,
     .MakeWriter = &MakeStreamWriter},
};

}  // namespace

JournalledClip JournalledClipOf(std::int32_t code, ClipKind kind, const std::string& path,
                                std::int32_t timerValue) {
  JournalledClip clip;
  clip.Path = path;
  clip.Kind = kind;
  // An AVI record stays the bare path: its repair needs nothing else.
  if (kind != ClipKind::Avi) {
    clip.Facts["type"] = std::to_string(code);
    clip.Facts["period-ms"] = std::to_string(timerValue);
  }
  // How long the last frame lasts past its time: the file does not say.
  if (kind == ClipKind::Asf) {
    clip.Facts["frame-ms"] = std::to_string(WmvWriter::FrameMilliseconds(timerValue));
  }
  return clip;
}

std::span<const OutputFormat> OutputFormatTable() { return kFormats; }

const OutputFormat* FindOutputFormat(std::int32_t code) {
  for (const OutputFormat& format : kFormats) {
    if (format.Code == code) return &format;
  }
  return nullptr;
}

bool IsKnownOutputType(std::int32_t code) { return FindOutputFormat(code) != nullptr; }

bool IsPictureOutputType(std::int32_t code) {
  const OutputFormat* format = FindOutputFormat(code);
  return format != nullptr && format->Family == OutputFamily::Pictures;
}

bool IsMovieOutputType(std::int32_t code) {
  const OutputFormat* format = FindOutputFormat(code);
  return format != nullptr && format->Family != OutputFamily::Pictures;
}

bool IsEncoderOutputType(std::int32_t code) {
  const OutputFormat* format = FindOutputFormat(code);
  return format != nullptr && format->Service == WriterService::Encoder;
}

bool SoundAllowedFor(std::int32_t code) {
  const OutputFormat* format = FindOutputFormat(code);
  return format != nullptr && format->SoundAllowed;
}

bool IsFileMovieOutputType(std::int32_t code) {
  return IsMovieOutputType(code) && !IsEncoderOutputType(code);
}

}  // namespace framory
