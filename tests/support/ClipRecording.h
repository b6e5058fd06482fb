// A recorder's worth of parts around one clip session that writes real
// movie files: settings for a project folder, the naming, a fake host and
// message boxes, the writer factory with the libraries of the format under
// test, and optionally a clock only the test moves. The tests of each file
// format wrap it with their own defaults.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Settings.h"
#include "capture/ClipSession.h"
#include "capture/OutputNaming.h"
#include "capture/WriterFailureBoxes.h"
#include "support/ClipSessionFakes.h"
#include "support/ManualClock.h"
#include "support/RecorderFakes.h"
#include "support/TempDir.h"
#include "writers/AviFileApi.h"
#include "writers/ClipSound.h"
#include "writers/MovieWriterFactory.h"
#include "writers/WebMovieApi.h"
#include "writers/WmFormatApi.h"

namespace framory::testing {

// What a recording writes and with what. The libraries live as long as the
// recording; a type whose library is missing is unavailable.
struct ClipRecordingOptions {
  // `extension` of the movie files (".avi"...); the project folder goes in
  // `folder`, or in a temporary folder of its own when that is "".
  ClipRecordingOptions(std::string extension, std::int32_t outputType,
                       std::int32_t timerValue = 100, std::string folder = "")
      : extension(std::move(extension)),
        outputType(outputType),
        timerValue(timerValue),
        folder(std::move(folder)) {}
  ClipRecordingOptions Avi(std::shared_ptr<AviFileLibrary> library) && {
    aviLibrary = std::move(library);
    return std::move(*this);
  }
  ClipRecordingOptions Wmv(std::shared_ptr<WmFormatLibrary> library, std::string helpAddress) && {
    wmvLibrary = std::move(library);
    wmvHelpAddress = std::move(helpAddress);
    return std::move(*this);
  }
  // The MP4 and WebM files' library, and the sound their clips record
  // (null: none).
  ClipRecordingOptions WebMovies(std::shared_ptr<WebMovieLibrary> library,
                                 ClipSoundSource* sound = nullptr) && {
    webMovieLibrary = std::move(library);
    soundSource = sound;
    return std::move(*this);
  }
  // The screen size the factory sizes the AVI buffer by (the frame's if 0).
  ClipRecordingOptions Screen(std::int32_t width, std::int32_t height) && {
    screenWidth = width;
    screenHeight = height;
    return std::move(*this);
  }
  // Times the clip by `clock`, which only the test moves.
  ClipRecordingOptions ManualClock() && {
    manualClock = true;
    return std::move(*this);
  }
  ClipRecordingOptions Project(std::string name) && {
    projectName = std::move(name);
    return std::move(*this);
  }

  std::string extension;
  std::int32_t outputType;
  std::int32_t timerValue;
  std::string folder;
  std::string projectName = "shots";
  std::shared_ptr<AviFileLibrary> aviLibrary;
  std::shared_ptr<WmFormatLibrary> wmvLibrary;
  std::string wmvHelpAddress;
  std::shared_ptr<WebMovieLibrary> webMovieLibrary;
  ClipSoundSource* soundSource = nullptr;
  std::int32_t screenWidth = 0;
  std::int32_t screenHeight = 0;
  bool manualClock = false;
};

struct ClipRecording {
  explicit ClipRecording(ClipRecordingOptions options);

  std::string Movie(int number = 0) const;
  // Delivers `picture` and returns the composed buffer the writer was given.
  std::vector<std::uint32_t> Shoot(const TestPicture& picture);

  const std::string extension;
  // The folder of its own when the options name none; it goes last.
  std::optional<TempDir> ownFolder;
  Settings settings;
  OutputNaming naming{settings};
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  FakeClipHost host;
  ManualClock clock;
  const std::shared_ptr<AviFileLibrary> aviLibrary;
  const std::shared_ptr<WmFormatLibrary> wmvLibrary;
  const std::shared_ptr<WebMovieLibrary> webMovieLibrary;
  MovieWriterFactory factory;
  ClipSession session;
};

// Mean absolute difference per colour channel of two pictures of the same
// size; huge when the sizes differ or there is nothing to compare.
double MeanDifference(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b);

}  // namespace framory::testing
