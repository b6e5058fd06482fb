// The AVI family is made here; the WMV writer (16–18), the QuickTime writer
// (15) and the encoder session (19, 30, sound) are not part of this build
// yet, so those types report no support and their clips do not start.
#include "writers/MovieWriterFactory.h"

#include "base/OutputType.h"
#include "writers/AviWriter.h"

namespace framory {

MovieWriterFactory::MovieWriterFactory(AviFileLibrary* aviLibrary, MessageBoxService* boxes,
                                       std::int32_t screenWidth, std::int32_t screenHeight)
    : aviLibrary_(aviLibrary),
      boxes_(boxes),
      screenWidth_(screenWidth),
      screenHeight_(screenHeight) {}

bool MovieWriterFactory::Supports(std::int32_t outputType) const {
  return IsAviOutputType(outputType) && aviLibrary_ != nullptr && boxes_ != nullptr;
}

std::unique_ptr<MovieWriter> MovieWriterFactory::CreateFileWriter(std::int32_t outputType,
                                                                  const std::string& path,
                                                                  std::int32_t timerValue) {
  if (!Supports(outputType)) return nullptr;
  auto writer =
      std::make_unique<AviWriter>(*aviLibrary_, *boxes_, path, screenWidth_, screenHeight_);
  writer->SetFramePeriod(timerValue);
  writer->SetCodecFromOutputType(outputType);
  return writer;
}

std::unique_ptr<ScreenEncoder> MovieWriterFactory::CreateEncoderSession() { return nullptr; }

bool MovieWriterFactory::MergeSoundTrack(const std::string&, const std::string&,
                                         const std::string&) {
  return false;
}

}  // namespace framory
