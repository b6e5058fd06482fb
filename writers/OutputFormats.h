// The one table of output formats: for every output-type code of the
// settings record, what it is (its family), how the format dialog lists it,
// the extension of its files, whether sound may be recorded with it, the
// codec or profile its writer uses, how the clip session may feed its writer
// (repeats, the grabbed frame lent in place, the clip journal), the names its
// failures are reported with, and the function that makes its writer.
//
// Every stage asks this table instead of comparing codes or ranges of its
// own: adding a format is one row here (and its writer). A code without a
// row is unknown, and everything treats it alike: no list row, no picture,
// no clip, no sound; loading the settings replaces it with the first
// picture type.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "base/OutputType.h"
#include "writers/ClipJournal.h"
#include "writers/MovieWriter.h"

namespace framory {

class AviFileLibrary;
class WmFormatLibrary;
class WebMovieLibrary;
class ClipSoundSource;
class StreamOutputLibrary;
class StreamStatus;
class WriterReports;
struct WmGuid;

enum class OutputFamily : std::int32_t {
  Pictures,       // a numbered series of still images
  Avi,            // AVI files written frame by frame
  QuickTime,      // QuickTime movies written frame by frame
  WmvFile,        // Windows Media files written frame by frame
  WebMovie,       // MP4 and WebM files with their sound inside, written frame by frame
  ScreenEncoder,  // the screen encoder captures into a file itself
  Broadcast,      // the screen served live: by the screen encoder, or pushed to a server
};

// What a file writer is made with; a service left null makes the formats
// that need it unavailable.
struct WriterParts {
  AviFileLibrary* Avi = nullptr;
  WmFormatLibrary* Wmv = nullptr;
  WebMovieLibrary* WebMovies = nullptr;
  ClipJournal* Journal = nullptr;
  WriterReports* Reports = nullptr;
  // The sound of the MP4 and WebM clips; null records none. Whether the
  // next clip records sound, and from where (the settings' RecordSound and
  // SoundSource, a SoundSourceChoice), set before each clip's writer is made.
  ClipSoundSource* Sound = nullptr;
  bool RecordSound = false;
  std::int32_t SoundSource = 0;
  std::int32_t ScreenWidth = 0;
  std::int32_t ScreenHeight = 0;
  // The broadcast to a streaming server (its sound as the clips' above):
  // its connections and the tray's view of them.
  StreamOutputLibrary* Streams = nullptr;
  StreamStatus* StreamState = nullptr;
};

// The outside service a format's writer needs.
enum class WriterService : std::int32_t {
  NoService,
  AviLibrary,
  WmvLibrary,
  Encoder,
  WebMovieLibrary,
  StreamServer,  // the connections to a streaming server
};

struct OutputFormat;
// Makes the writer of one clip writing to `path`, its frame period or rate
// from `timerValue` (milliseconds).
using MakeFileWriter = std::unique_ptr<MovieWriter> (*)(const WriterParts& parts,
                                                        const OutputFormat& format,
                                                        const std::string& path,
                                                        std::int32_t timerValue);

struct OutputFormat {
  std::int32_t Code = -1;
  OutputFamily Family = OutputFamily::Pictures;
  // The format dialog's row; null: the format has no row (the broadcast,
  // which the dialog shows on the screen encoder's row).
  const char* ListText = nullptr;
  // Of the files made, dot included; null when none is made.
  const char* Extension = nullptr;
  // Pictures: the image layer's format code (1 BMP, 2 JPEG, 3 PNG, 5 PCX).
  std::int32_t ImageFormat = 0;
  bool SoundAllowed = false;
  // The sound is recorded beside the pictures by an encoder session into a
  // file of its own and merged with them when the clip ends (the WMV files);
  // otherwise a format that allows sound records it itself.
  bool MergesSoundTrack = false;
  // AVI: the codec's four-character code, 0 for uncompressed frames.
  std::uint32_t Codec = 0;
  // WMV files: the Windows Media system profile.
  const WmGuid* Profile = nullptr;
  WriterService Service = WriterService::NoService;
  // The writer stores a repeat of the previous picture without it being
  // grabbed, composed or encoded again.
  bool TakesRepeats = false;
  // The writer may read the grabbed pixels in place when they already are
  // the movie frame.
  bool LendsGrabbedFrame = false;
  // Clips are noted in the clip journal while open, for repair after a crash.
  bool Journalled = false;
  // How such a clip is repaired (or only named, for files that play as cut).
  ClipKind JournalKind = ClipKind::Avi;
  // The name a failed append is reported with (null: no file writer).
  const char* AppendFailure = nullptr;
  // Non-null for a writer that sets itself up on the clip's buffer
  // (MovieWriter::Prepare): the name its failure is reported with.
  const char* PrepareFailure = nullptr;
  // Null for the families without a file writer (pictures, the encoder).
  MakeFileWriter MakeWriter = nullptr;
};

// The journal record of a clip of output type `code` and `kind` at `path`:
// the type and the capture period go with every kind but AVI.
JournalledClip JournalledClipOf(std::int32_t code, ClipKind kind, const std::string& path,
                                std::int32_t timerValue);

// Every row, in code order.
std::span<const OutputFormat> OutputFormatTable();
// The row of `code`; null for an unknown code.
const OutputFormat* FindOutputFormat(std::int32_t code);

// The questions stages ask of a code, answered by its row (false for an
// unknown code).
bool IsKnownOutputType(std::int32_t code);
bool IsPictureOutputType(std::int32_t code);
// A movie of any kind: file, screen encoder or broadcast.
bool IsMovieOutputType(std::int32_t code);
// The encoder captures the screen itself (screen encoder, live broadcast
// over HTTP).
bool IsEncoderOutputType(std::int32_t code);
// Sound is recorded with it.
bool SoundAllowedFor(std::int32_t code);
// Written frame by frame by a writer (a file's, or the stream to a server).
bool IsFileMovieOutputType(std::int32_t code);

}  // namespace framory
