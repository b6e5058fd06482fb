// The AVI file library over libavformat and libavcodec.
#pragma once

#include "writers/AviFileApi.h"

namespace framory {

class FfmpegAviFileLibrary : public AviFileLibrary {
 public:
  std::int32_t OpenFile(std::unique_ptr<AviFile>* file, const std::string& path,
                        std::uint32_t mode) override;
  // `source` must be a stream of a file of this library.
  std::int32_t MakeCompressedStream(std::unique_ptr<AviStream>* compressed, AviStream& source,
                                    const AviCompressOptions& options) override;
};

}  // namespace framory
