#include "support/ClipRecording.h"

#include <cstdlib>
#include <filesystem>
#include <utility>

namespace framory::testing {

ClipRecording::ClipRecording(ClipRecordingOptions options)
    : extension(options.extension),
      aviLibrary(std::move(options.aviLibrary)),
      wmvLibrary(std::move(options.wmvLibrary)),
      webMovieLibrary(std::move(options.webMovieLibrary)),
      factory(aviLibrary.get(), &reports, options.screenWidth, options.screenHeight),
      session(settings, naming, factory, host, options.manualClock ? &clock : nullptr) {
  if (options.folder.empty()) ownFolder.emplace();
  const std::string base = ownFolder ? ownFolder->Path() : options.folder;
  settings.SetProjectDirectory(base + "/");
  settings.SetProjectName(options.projectName);
  std::filesystem::create_directories(settings.ProjectFolder());
  settings.SetOutputType(options.outputType);
  settings.SetTimerValue(options.timerValue);
  if (wmvLibrary != nullptr) factory.SetWmvLibrary(wmvLibrary.get());
  if (webMovieLibrary != nullptr) factory.SetWebMovieLibrary(webMovieLibrary.get());
  factory.SetClipSoundSource(options.soundSource);
  reports.SetDownloadAddress(options.wmvHelpAddress);
}

std::string ClipRecording::Movie(int number) const {
  return settings.ProjectFolder() + "/movie" + std::to_string(number) + extension;
}

std::vector<std::uint32_t> ClipRecording::Shoot(const TestPicture& picture) {
  session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{-1, -1, -1, -1});
  std::vector<std::uint32_t> composed;
  for (std::int32_t y = 0; y < session.MovieHeight(); ++y) {
    const std::uint32_t* row = session.Buffer().Row(y);
    composed.insert(composed.end(), row, row + session.MovieWidth());
  }
  return composed;
}

double MeanDifference(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (int shift : {0, 8, 16}) {
      sum += std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF));
    }
  }
  return sum / (3.0 * a.size());
}

}  // namespace framory::testing
