// The AVI (10–14), QuickTime (15) and WMV file (16–18) families and the
// encoder sessions (19, 30, a WMV clip's sound) are made here.
#include "writers/MovieWriterFactory.h"

#include "base/OutputType.h"
#include "writers/AviWriter.h"
#include "writers/EncoderSession.h"
#include "writers/JournalingWriter.h"
#include "writers/QtMovieWriter.h"
#include "writers/WmvWriter.h"

namespace framory {

MovieWriterFactory::MovieWriterFactory(AviFileLibrary* aviLibrary, MessageBoxService* boxes,
                                       std::int32_t screenWidth, std::int32_t screenHeight)
    : aviLibrary_(aviLibrary),
      boxes_(boxes),
      screenWidth_(screenWidth),
      screenHeight_(screenHeight) {}

void MovieWriterFactory::SetWmvLibrary(WmFormatLibrary* library,
                                       const std::string& downloadAddress) {
  wmvLibrary_ = library;
  wmvDownloadAddress_ = downloadAddress;
}

bool MovieWriterFactory::Supports(std::int32_t outputType) const {
  if (boxes_ == nullptr) return false;
  if (IsAviOutputType(outputType)) return aviLibrary_ != nullptr;
  if (IsWmvFileOutputType(outputType)) return wmvLibrary_ != nullptr;
  if (IsEncoderOutputType(outputType)) return encoders_ != nullptr;
  // QuickTime is reached through Cinelink, which the program always links.
  return outputType == OutputTypes::QuickTimeMov;
}

std::unique_ptr<MovieWriter> MovieWriterFactory::CreateFileWriter(std::int32_t outputType,
                                                                  const std::string& path,
                                                                  std::int32_t timerValue) {
  if (!Supports(outputType)) return nullptr;
  if (outputType == OutputTypes::QuickTimeMov) {
    auto writer = std::make_unique<QtMovieWriter>(*boxes_, path, screenWidth_, screenHeight_);
    writer->SetFramePeriod(timerValue);
    return writer;
  }
  if (IsWmvFileOutputType(outputType)) {
    const WmGuid& profile = outputType == OutputTypes::WmvV80_56Video ? WmGuids::ProfileV80_56Video
                            : outputType == OutputTypes::WmvV80_700PALVideo
                                ? WmGuids::ProfileV80_700PALVideo
                                : WmGuids::ProfileV80_384Video;
    auto writer = std::make_unique<WmvWriter>(*wmvLibrary_, *boxes_, path, profile, screenWidth_,
                                              screenHeight_, wmvDownloadAddress_);
    writer->SetFrameRate(timerValue);
    return writer;
  }
  auto writer =
      std::make_unique<AviWriter>(*aviLibrary_, *boxes_, path, screenWidth_, screenHeight_);
  writer->SetFramePeriod(timerValue);
  writer->SetCodecFromOutputType(outputType);
  if (journal_ != nullptr)
    return std::make_unique<JournalingWriter>(std::move(writer), *journal_, path);
  return writer;
}

std::unique_ptr<ScreenEncoder> MovieWriterFactory::CreateEncoderSession() {
  if (encoders_ == nullptr || boxes_ == nullptr) return nullptr;
  return std::make_unique<EncoderSession>(*encoders_, *boxes_);
}

bool MovieWriterFactory::MergeSoundTrack(const std::string& videoPath, const std::string& audioPath,
                                         const std::string& mergedPath) {
  if (encoders_ == nullptr || boxes_ == nullptr) return false;
  return EncoderSession::MergeSoundTrack(*encoders_, *boxes_, waitCursor_, videoPath, audioPath,
                                         mergedPath);
}

}  // namespace framory
