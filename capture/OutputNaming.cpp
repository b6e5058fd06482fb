#include "capture/OutputNaming.h"

#include <cstdio>

#include "writers/OutputFormats.h"

namespace framory {

namespace {

bool CanOpenForReading(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

}  // namespace

std::string OutputNaming::NextFreeName(const std::string& base, std::int32_t& counter,
                                       const std::string& extension) {
  lastResult_.clear();
  for (std::int32_t i = counter; i < kNumberLimit; ++i) {
    std::string candidate = base + std::to_string(i) + extension;
    if (!CanOpenForReading(candidate)) {
      counter = i + 1;
      lastResult_ = candidate;
      return candidate;
    }
  }
  // Every number up to the limit is taken (or the counter already passed it):
  // there is no name, and nothing may be written.
  return {};
}

PictureName OutputNaming::PictureFileName() {
  PictureName name;
  // The picture type's extension and image format; BMP for any other type.
  const char* extension = ".bmp";
  name.ImageFormat = ImageFormats::Bmp;
  const OutputFormat* format = FindOutputFormat(settings_.OutputType());
  if (format != nullptr && format->Family == OutputFamily::Pictures) {
    extension = format->Extension;
    name.ImageFormat = format->ImageFormat;
  }
  name.Path = NextFreeName(settings_.ProjectFolder() + "/pic", pictureCounter_, extension);
  if (observer_ && !name.Path.empty()) observer_(name.Path, true);
  return name;
}

std::string OutputNaming::MovieFileName(const std::string& extension) {
  std::string path = NextFreeName(settings_.ProjectFolder() + "/movie", movieCounter_, extension);
  if (observer_ && !path.empty()) observer_(path, false);
  return path;
}

}  // namespace framory
