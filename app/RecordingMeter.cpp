#include "app/RecordingMeter.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>

namespace framory {

namespace {

// The size of a regular file, 0 when it does not exist (yet).
std::int64_t FileBytes(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

}  // namespace

void RecordingMeter::Resumed() {
  if (running_) return;
  running_ = true;
  startedAt_ = clock_.NowNanoseconds();
}

void RecordingMeter::Paused() {
  if (!running_) return;
  elapsedBefore_ += clock_.NowNanoseconds() - startedAt_;
  running_ = false;
}

void RecordingMeter::FileNamed(const std::string& path, bool picture) {
  if (path.empty()) return;
  (picture ? pictures_ : clipFiles_).push_back(path);
}

void RecordingMeter::Reset() {
  elapsedBefore_ = 0;
  if (running_) startedAt_ = clock_.NowNanoseconds();
  finishedBytes_ = 0;
  clipFiles_.clear();
  pictures_.clear();
}

std::int64_t RecordingMeter::ElapsedMilliseconds() const {
  std::int64_t nanoseconds = elapsedBefore_;
  if (running_) nanoseconds += clock_.NowNanoseconds() - startedAt_;
  return nanoseconds / 1'000'000;
}

std::int64_t RecordingMeter::BytesWritten() {
  // Pictures are written on this thread before the tip is refreshed, so
  // each is complete here: counted once, then forgotten (a long series
  // costs nothing later).
  for (const std::string& picture : pictures_) finishedBytes_ += FileBytes(picture);
  pictures_.clear();
  std::int64_t bytes = finishedBytes_;
  for (const std::string& file : clipFiles_) bytes += FileBytes(file);
  return bytes;
}

std::string RecordingMeter::FormatElapsed(std::int64_t milliseconds) {
  const std::int64_t seconds = milliseconds / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600,
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

std::string RecordingMeter::FormatSize(std::int64_t bytes) {
  constexpr double kKiB = 1024.0;
  char text[32];
  if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%" PRId64 " KiB", bytes / 1024);
  } else if (bytes < std::int64_t{1024} * 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (kKiB * kKiB));
  } else {
    std::snprintf(text, sizeof text, "%.2f GiB", static_cast<double>(bytes) / (kKiB * kKiB * kKiB));
  }
  return text;
}

std::string RecordingMeter::Tip(const std::string& base, std::size_t maxLength) {
  std::string tip =
      base + " " + FormatElapsed(ElapsedMilliseconds()) + ", " + FormatSize(BytesWritten());
  if (tip.size() > maxLength) tip.resize(maxLength);
  return tip;
}

}  // namespace framory
