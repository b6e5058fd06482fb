#include "platform/media/FfmpegAviFileLibrary.h"

#include "platform/media/AviCodecStream.h"
#include "platform/media/AviMuxer.h"
#include "platform/media/AviRawStream.h"

namespace framory {

namespace {

class FfmpegAviFile : public AviFile {
 public:
  explicit FfmpegAviFile(std::shared_ptr<AviMuxer> muxer) : muxer_(std::move(muxer)) {}

  std::int32_t CreateStream(std::unique_ptr<AviStream>* stream,
                            const AviStreamInfo& info) override {
    const std::int32_t result = muxer_->AddStream(info);
    if (result == AviResult::Ok) *stream = std::make_unique<AviRawStream>(muxer_);
    return result;
  }

 private:
  std::shared_ptr<AviMuxer> muxer_;
};

}  // namespace

std::int32_t FfmpegAviFileLibrary::OpenFile(std::unique_ptr<AviFile>* file, const std::string& path,
                                            std::uint32_t mode) {
  if (mode != kAviCreateWrite) return AviResult::Unsupported;
  std::shared_ptr<AviMuxer> muxer;
  const std::int32_t result = AviMuxer::Create(path, &muxer);
  if (result == AviResult::Ok) *file = std::make_unique<FfmpegAviFile>(std::move(muxer));
  return result;
}

std::int32_t FfmpegAviFileLibrary::MakeCompressedStream(std::unique_ptr<AviStream>* compressed,
                                                        AviStream& source,
                                                        const AviCompressOptions& options) {
  auto* raw = dynamic_cast<AviRawStream*>(&source);
  if (raw == nullptr) return AviResult::BadParam;
  return AviCodecStream::Create(raw->Muxer(), options, compressed);
}

std::unique_ptr<AviFileLibrary> CreateAviFileLibrary() {
  return std::make_unique<FfmpegAviFileLibrary>();
}

}  // namespace framory
