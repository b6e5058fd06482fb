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
class MessageBoxService;
class WaitCursor;

class MovieWriterFactory {
 public:
  // Services left null make their families unavailable. The screen size
  // sizes the AVI writer's buffer (the frame size alone when 0).
  MovieWriterFactory(AviFileLibrary* aviLibrary, MessageBoxService* boxes,
                     std::int32_t screenWidth = 0, std::int32_t screenHeight = 0);
  virtual ~MovieWriterFactory() = default;

  // The Windows Media library for the WMV file types (16–18), and the web
  // address its "download and install" boxes send the user to.
  void SetWmvLibrary(WmFormatLibrary* library, const std::string& downloadAddress);
  // The screen encoder behind the encoder sessions (19, 30, sound) and the
  // merge, and the cursor shown while merging; null leaves them unavailable.
  void SetEncoderServices(MediaEncoderLibrary* encoders, WaitCursor* cursor) {
    encoders_ = encoders;
    waitCursor_ = cursor;
  }

  // AVI clips made from now on are recorded in `journal` while they are
  // open, so that a clip cut short can be repaired later. Null: none.
  void SetJournal(ClipJournal* journal) { parts_.Journal = journal; }

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
  // `mergedPath`; true when the merged file was written.
  virtual bool MergeSoundTrack(const std::string& videoPath, const std::string& audioPath,
                               const std::string& mergedPath);

 private:
  WriterParts parts_;
  MediaEncoderLibrary* encoders_ = nullptr;
  WaitCursor* waitCursor_ = nullptr;
};

}  // namespace framory
