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
#include <vector>

#include "base/Settings.h"
#include "capture/ClipSession.h"
#include "capture/OutputNaming.h"
#include "support/ClipSessionFakes.h"
#include "support/ManualClock.h"
#include "support/RecorderFakes.h"
#include "support/TempDir.h"
#include "writers/AviFileApi.h"
#include "writers/MovieWriterFactory.h"
#include "writers/WmFormatApi.h"

namespace framory::testing {

struct ClipRecordingOptions {
  std::int32_t outputType = 0;
  std::int32_t timerValue = 100;
  // The folder the project folder goes in; "" for a temporary one of its own.
  std::string folder;
  std::string projectName = "shots";
  // Of the movie files: ".avi", ".wmv", ".mov".
  std::string extension;
  // The libraries behind the writers; a type whose library is missing is
  // unavailable. They live as long as the recording.
  std::shared_ptr<AviFileLibrary> aviLibrary;
  std::shared_ptr<WmFormatLibrary> wmvLibrary;
  std::string wmvHelpAddress;
  // The screen size the factory sizes the AVI buffer by (0: the frame's).
  std::int32_t screenWidth = 0;
  std::int32_t screenHeight = 0;
  // Times the clip by `clock` instead of the system clock.
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
  FakeClipHost host;
  ManualClock clock;
  const std::shared_ptr<AviFileLibrary> aviLibrary;
  const std::shared_ptr<WmFormatLibrary> wmvLibrary;
  MovieWriterFactory factory;
  ClipSession session;
};

// Mean absolute difference per colour channel of two pictures of the same
// size; huge when the sizes differ or there is nothing to compare.
double MeanDifference(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b);

}  // namespace framory::testing
