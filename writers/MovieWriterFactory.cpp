// Every file writer is made by its format's row in the table of output
// formats; the encoder sessions (screen encoder, broadcast, a WMV clip's
// sound) and the merge are made here.
#include "writers/MovieWriterFactory.h"

#include "writers/EncoderSession.h"

namespace framory {

MovieWriterFactory::MovieWriterFactory(AviFileLibrary* aviLibrary, WriterReports* reports,
                                       std::int32_t screenWidth, std::int32_t screenHeight) {
  parts_.Avi = aviLibrary;
  parts_.Reports = reports;
  parts_.ScreenWidth = screenWidth;
  parts_.ScreenHeight = screenHeight;
}

bool MovieWriterFactory::Supports(std::int32_t outputType) const {
  const OutputFormat* format = FindOutputFormat(outputType);
  if (format == nullptr || parts_.Reports == nullptr) return false;
  switch (format->Service) {
    case WriterService::AviLibrary:
      return parts_.Avi != nullptr && format->MakeWriter != nullptr;
    case WriterService::WmvLibrary:
      return parts_.Wmv != nullptr && format->MakeWriter != nullptr;
    case WriterService::WebMovieLibrary:
      return parts_.WebMovies != nullptr && format->MakeWriter != nullptr;
    case WriterService::Encoder:
      return encoders_ != nullptr;
    case WriterService::StreamServer:
      return parts_.Streams != nullptr && format->MakeWriter != nullptr;
    case WriterService::NoService:
      // QuickTime is reached through Cinelink, which the program always links.
      return format->MakeWriter != nullptr;
  }
  return false;
}

std::unique_ptr<MovieWriter> MovieWriterFactory::CreateFileWriter(std::int32_t outputType,
                                                                  const std::string& path,
                                                                  std::int32_t timerValue) {
  const OutputFormat* format = FindOutputFormat(outputType);
  if (format == nullptr || format->MakeWriter == nullptr || !Supports(outputType)) return nullptr;
  return format->MakeWriter(parts_, *format, path, timerValue);
}

std::unique_ptr<ScreenEncoder> MovieWriterFactory::CreateEncoderSession() {
  if (encoders_ == nullptr || parts_.Reports == nullptr) return nullptr;
  return std::make_unique<EncoderSession>(*encoders_, *parts_.Reports);
}

bool MovieWriterFactory::MergeSoundTrack(const std::string& videoPath, const std::string& audioPath,
                                         const std::string& mergedPath, WriterReports& reports) {
  if (encoders_ == nullptr) return false;
  return EncoderSession::MergeSoundTrack(*encoders_, reports, videoPath, audioPath, mergedPath);
}

}  // namespace framory
