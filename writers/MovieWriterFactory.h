// Makes the writers of a clip: the file writer of the clip's output format
// (through the format's row in the table of output formats), the encoder
// session, and the sound-track merge. A format whose writer or service is
// not provided is reported by Supports(), and the clip then does not start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "writers/MovieWriter.h"
#include "writers/OutputFormats.h"
#include "writers/ScreenEncoder.h"

namespace framory {

class AviFileLibrary;
class WmFormatLibrary;
class ClipJournal;
class MediaEncoderLibrary;
class WriterReports;

class MovieWriterFactory {
 public:
  // Services left null make their families unavailable; every writer made
  // tells `reports` of the failures the user must see. The screen size sizes
  // the AVI writer's buffer (the frame size alone when 0).
  MovieWriterFactory(AviFileLibrary* aviLibrary, WriterReports* reports,
                     std::int32_t screenWidth = 0, std::int32_t screenHeight = 0);
  virtual ~MovieWriterFactory() = default;

  // The Windows Media library for the WMV file types.
  void SetWmvLibrary(WmFormatLibrary* library) { parts_.Wmv = library; }
  // The MP4 and WebM files' library, and where their sound comes from
  // (null: clips without sound).
  void SetWebMovieLibrary(WebMovieLibrary* library) { parts_.WebMovies = library; }
  void SetClipSoundSource(ClipSoundSource* sound) { parts_.Sound = sound; }
  // Whether the writers made from now on record sound, and from which
  // source (a SoundSourceChoice): the settings at the start of each clip.
  void SetSoundChoice(bool record, std::int32_t source) {
    parts_.RecordSound = record;
    parts_.SoundSource = source;
  }
  // The screen encoder behind the encoder sessions (screen encoder,
  // broadcast, a WMV clip's sound) and the merge; null leaves them
  // unavailable.
  void SetEncoderServices(MediaEncoderLibrary* encoders) { encoders_ = encoders; }

  // The broadcast to a streaming server: its connections (null leaves it
  // unavailable) and the tray's view of them. Its sound is the clips'
  // (SetClipSoundSource, SetSoundChoice).
  void SetStreamServices(StreamOutputLibrary* streams, StreamStatus* status) {
    parts_.Streams = streams;
    parts_.StreamState = status;
  }

  // Clips of the journalled formats made from now on are recorded in `journal` while they are
  // open, so that a clip cut short can be repaired later. Null: none.
  void SetJournal(ClipJournal* journal) { parts_.Journal = journal; }
  ClipJournal* Journal() const { return parts_.Journal; }

  // Whether a clip of `outputType` can be started.
  virtual bool Supports(std::int32_t outputType) const;
  // The file writer of a clip of `outputType` writing to `path`, made by
  // the format's row: its frame period or rate set from `timerValue`
  // (milliseconds), its codec or profile from the row. Null when the format
  // has no file writer or its service is not provided.
  virtual std::unique_ptr<MovieWriter> CreateFileWriter(std::int32_t outputType,
                                                        const std::string& path,
                                                        std::int32_t timerValue);
  // A fresh encoder session with its defaults; null when not provided.
  virtual std::unique_ptr<ScreenEncoder> CreateEncoderSession();
  // Joins the sound of `audioPath` and the pictures of `videoPath` into
  // `mergedPath`; true when the merged file was written. Takes seconds, and
  // may run on a thread of its own: its failures go to `reports`.
  virtual bool MergeSoundTrack(const std::string& videoPath, const std::string& audioPath,
                               const std::string& mergedPath, WriterReports& reports);
  // Where the writers made here report their failures.
  WriterReports* Reports() const { return parts_.Reports; }

 private:
  WriterParts parts_;
  MediaEncoderLibrary* encoders_ = nullptr;
};

}  // namespace framory
