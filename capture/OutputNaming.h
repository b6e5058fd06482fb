// Names of result files: "pic" and "movie" plus a running number in the
// project folder. A number is advanced past every file that already exists,
// so nothing is ever overwritten, and a number once handed out is not handed
// out again in this run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/Settings.h"

namespace framory {

// Still-image format codes of the image layer.
namespace ImageFormats {
inline constexpr std::int32_t Unknown = 0;
inline constexpr std::int32_t Bmp = 1;
inline constexpr std::int32_t Jpg = 2;
inline constexpr std::int32_t Png = 3;
inline constexpr std::int32_t Pcx = 5;
}  // namespace ImageFormats

struct PictureName {
  std::string Path;  // empty when no number is left
  std::int32_t ImageFormat = ImageFormats::Bmp;
};

class OutputNaming {
 public:
  // Numbers stop below this limit.
  static constexpr std::int32_t kNumberLimit = 99'999'999;

  explicit OutputNaming(const Settings& settings) : settings_(settings) {}

  // base + number + extension for the first number from `counter` upward
  // whose file cannot be opened for reading. Advances `counter` past it and
  // remembers the result as LastResult. Empty when the limit is reached.
  std::string NextFreeName(const std::string& base, std::int32_t& counter,
                           const std::string& extension);
  // The next picture path for the current output type, and its image format.
  PictureName PictureFileName();
  // The next movie path with the given extension (".avi", ".mov", ".wmv").
  std::string MovieFileName(const std::string& extension);

  // Told every picture (true) and movie (false) path handed out.
  void SetNameObserver(std::function<void(const std::string&, bool picture)> observer) {
    observer_ = std::move(observer);
  }

  const std::string& LastResult() const { return lastResult_; }
  std::int32_t MovieCounter() const { return movieCounter_; }
  std::int32_t PictureCounter() const { return pictureCounter_; }
  // Where the next picture search starts (tests reach the number limit with it).
  void SetPictureCounter(std::int32_t value) { pictureCounter_ = value; }

 private:
  const Settings& settings_;
  std::int32_t movieCounter_ = 0;
  std::int32_t pictureCounter_ = 0;
  std::string lastResult_;
  std::function<void(const std::string&, bool)> observer_;
};

}  // namespace framory
