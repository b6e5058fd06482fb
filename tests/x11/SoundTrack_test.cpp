// Sound for WMV clips, with a PulseAudio server of the test's own (a null
// sink and a 440 Hz test tone as the default source): the sound-only encoder
// session records the tone, and the merge joins it with a video file into
// one file. Also the merge's failures and a missing sound server.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>

#include "capture/ClipSession.h"
#include "capture/OutputNaming.h"
#include "capture/SoundTrackMerge.h"
#include "capture/WaitCursor.h"
#include "capture/WriterFailureBoxes.h"
#include "platform/encoder/WmEncoderLibrary.h"
#include "support/ClipSessionFakes.h"
#include "support/EncoderProbe.h"
#include "support/RecorderFakes.h"
#include "support/TempDir.h"
#include "support/X11TestWindows.h"
#include "writers/EncoderSession.h"
#include "writers/MovieWriterFactory.h"
#include "writers/WmFormatApi.h"

namespace framory {
namespace {

using testing::StreamList;
using testing::TempDir;
using Streams = std::vector<std::string>;

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

class CountingCursor : public WaitCursor {
 public:
  void Show() override { ++shown; }
  void Restore() override { ++restored; }
  int shown = 0, restored = 0;
};

class SoundTrackTest : public ::testing::Test {
 protected:
  std::unique_ptr<EncoderSession> SoundSession(const std::string& path) {
    auto session = std::make_unique<EncoderSession>(library, reports);
    session->SetRecordAudio(true);
    session->SetRecordVideo(false);
    session->Configure(path);
    session->StartEncoding();
    return session;
  }
  std::unique_ptr<EncoderSession> ScreenSession(const std::string& path) {
    auto session = std::make_unique<EncoderSession>(library, reports);
    session->SetRecordAudio(false);
    session->SetCaptureRect(Rect{0, 0, 320, 240});
    session->Configure(path);
    session->StartEncoding();
    return session;
  }
  // A clip's merge: on its own thread, finished here.
  bool Merge(const std::string& video, const std::string& sound, const std::string& merged) {
    MovieWriterFactory factory(nullptr, &reports);
    factory.SetEncoderServices(&library);
    SoundTrackMerge merge(factory, &reports);
    merge.SetServices(&cursor, nullptr);
    merge.Start(video, sound, merged);
    return merge.WaitForAll() == 1;
  }

  TempDir dir;
  testing::FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  CountingCursor cursor;
  WmEncoderLibrary library;
};

// The sound file beside a clip's pictures, and the merge at the clip's end:
// one file with the pictures and the tone, of about equal length.
TEST_F(SoundTrackTest, SoundTrackRecordsTheToneAndMergesWithThePictures) {
  testing::PulseServer pulse(dir.Path());
  ASSERT_TRUE(pulse.Running());
  const std::string video = dir.File("movie1.wmv"), sound = dir.File("movie2.wmv");
  const std::string merged = dir.File("movie3.wmv");
  {
    auto pictures = ScreenSession(video);
    auto track = SoundSession(sound);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  }
  ASSERT_TRUE(boxes.shown.empty()) << boxes.shown[0].text;
  EXPECT_EQ(StreamList(sound), (Streams{"audio:wmav2"}));
  EXPECT_GT(testing::MeanVolumeDb(sound), -30.0) << "no tone in the sound file";

  ASSERT_TRUE(Merge(video, sound, merged));
  EXPECT_EQ(cursor.shown, 1);
  EXPECT_EQ(cursor.restored, 1);
  EXPECT_TRUE(boxes.shown.empty());
  const Streams streams = StreamList(merged);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_NE(std::find(streams.begin(), streams.end(), "audio:wmav2"), streams.end());
  EXPECT_NE(std::find(streams.begin(), streams.end(), "video:wmv2"), streams.end());
  const double audioSeconds = testing::StreamSeconds(merged, "a");
  const double videoSeconds = testing::StreamSeconds(merged, "v");
  EXPECT_GT(videoSeconds, 1.0);
  EXPECT_NEAR(audioSeconds, videoSeconds, 1.0);
  EXPECT_GT(testing::MeanVolumeDb(merged), -30.0) << "no tone in the merged file";
  EXPECT_EQ(
      testing::RunCommand(
          "ffmpeg -v error -i " + testing::ShellQuote(merged) + " -f null - && echo decoded", true),
      "decoded\n");
}

// The screen-encoder file with "Record Sound as Well": one file holding the
// pictures and the tone, no merge needed.
TEST_F(SoundTrackTest, ScreenEncoderFileWithSoundHoldsPicturesAndTone) {
  testing::PulseServer pulse(dir.Path());
  ASSERT_TRUE(pulse.Running());
  const std::string path = dir.File("movie1.wmv");
  {
    EncoderSession session(library, reports);
    session.SetRecordAudio(true);
    session.SetCaptureRect(Rect{0, 0, 320, 240});
    ASSERT_EQ(session.Configure(path), 0);
    session.StartEncoding();
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  }
  EXPECT_TRUE(boxes.shown.empty());
  const Streams streams = StreamList(path);
  EXPECT_EQ(streams.size(), 2u);
  EXPECT_NE(std::find(streams.begin(), streams.end(), "audio:wmav2"), streams.end());
  EXPECT_NE(std::find(streams.begin(), streams.end(), "video:wmv2"), streams.end());
  EXPECT_GT(testing::MeanVolumeDb(path), -30.0);
  // Both streams cover the recording; how closely their ends meet depends on
  // how the sound server and the capture thread were scheduled, so only
  // that each holds a good part of the two seconds is checked.
  EXPECT_GT(testing::StreamSeconds(path, "a"), 1.0);
  EXPECT_GT(testing::StreamSeconds(path, "v"), 1.0);
}

// A merge that cannot be done keeps both files and says why through the
// table; one whose run fails (the output cannot be written) reports false
// too, so the clip's files are not deleted.
TEST_F(SoundTrackTest, FailedMergeKeepsBothFilesAndShowsTheReason) {
  const std::string video = dir.File("video.wmv"), sound = dir.File("sound.wmv");
  ASSERT_EQ(testing::RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=10 -t 1 "
                                "-c:v wmv2 -f asf " +
                                testing::ShellQuote(video) +
                                " && ffmpeg -v error -f lavfi -i sine=frequency=440 -t 1 -c:a "
                                "wmav2 -f asf " +
                                testing::ShellQuote(sound) + " && echo made"),
            "made\n");

  EXPECT_FALSE(Merge(dir.File("gone.wmv"), sound, dir.File("m1.wmv")));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "File could not be found.");
  EXPECT_EQ(boxes.shown[0].caption, "Could Not Mix Video and Audio");

  // The sound file holds no pictures.
  EXPECT_FALSE(Merge(sound, sound, dir.File("m2.wmv")));
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text, "Unknown stream type");

  ASSERT_TRUE(testing::WriteWholeFile(dir.File("broken.wmv"), std::string(5000, '\x42')));
  EXPECT_FALSE(Merge(dir.File("broken.wmv"), sound, dir.File("m3.wmv")));
  ASSERT_EQ(boxes.shown.size(), 3u);
  EXPECT_EQ(boxes.shown[2].text, "Invalid or corrupt data");

  EXPECT_FALSE(Merge(video, sound, video));
  ASSERT_EQ(boxes.shown.size(), 4u);
  EXPECT_EQ(boxes.shown[3].text, "Output file is used as input");

  // The check passes, the run cannot write its output.
  EXPECT_FALSE(Merge(video, sound, dir.File("no-such-folder/m5.wmv")));
  EXPECT_EQ(boxes.shown.size(), 4u);
  EXPECT_EQ(cursor.shown, cursor.restored);
  EXPECT_TRUE(Exists(video));
  EXPECT_TRUE(Exists(sound));
  for (const char* name : {"m1.wmv", "m2.wmv", "m3.wmv"}) EXPECT_FALSE(Exists(dir.File(name)));
}

// "Record Sound as Well" for a WMV clip whose writer failed while being made
// (here the Windows Media component is missing): the clip records no sound,
// so nothing is merged and no sound file is left, at the first attempt and
// at the one after the resume. The user sees the component's box and the
// pause box of each attempt, and nothing else.
TEST_F(SoundTrackTest, WmvClipWhoseWriterFailedAtOnceRecordsNoSound) {
  testing::PulseServer pulse(dir.Path());
  ASSERT_TRUE(pulse.Running());
  struct : WmFormatLibrary {
    std::int32_t CreateProfileManager(std::unique_ptr<WmProfileManager>*) override {
      return WmResult::ClassNotRegistered;
    }
    std::int32_t CreateWriter(void*, std::unique_ptr<WmWriter>*) override {
      return WmResult::ClassNotRegistered;
    }
  } missing;
  Settings settings;
  settings.SetProjectDirectory(dir.Path() + "/");
  settings.SetProjectName("clips");
  ASSERT_EQ(::mkdir(settings.ProjectFolder().c_str(), 0777), 0);
  settings.SetOutputType(OutputTypes::WmvV80_384Video);
  settings.SetRecordSound(true);
  OutputNaming naming(settings);
  testing::FakeClipHost host;
  reports.SetDownloadAddress("https://example.org/wm");
  MovieWriterFactory factory(nullptr, &reports);
  factory.SetWmvLibrary(&missing);
  factory.SetEncoderServices(&library);
  {
    ClipSession session(settings, naming, factory, host);
    const testing::TestPicture picture = testing::TestPicture::Pattern(64, 48, 1);
    session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{-1, -1, -1, -1});
    host.paused = false;  // resumed: the next frame tries a new clip
    session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{-1, -1, -1, -1});
    session.EndClip();
  }
  const std::string component =
      "Unable to use Microsoft Windows Media Profiler Manager.You need to download and install "
      "the free component first. See https://example.org/wm ";
  std::vector<std::string> shown;
  for (const auto& box : boxes.shown) shown.push_back(box.text);
  EXPECT_EQ(shown, (std::vector<std::string>{component, component}));
  const std::string append = "AVI file unable to append frame. Pausing recorder.";
  EXPECT_EQ(host.reports, (std::vector<std::string>{append, append}));
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(settings.ProjectFolder())) {
    files.push_back(entry.path().filename().string());
  }
  EXPECT_TRUE(files.empty()) << "no sound-only file: " << (files.empty() ? "" : files[0]);
}

// No sound server: the session cannot be configured and says so at once.
TEST_F(SoundTrackTest, NoSoundServerIsAConfigurationFailureNotAHang) {
  testing::NoPulseServer none(dir.Path());
  auto session = std::make_unique<EncoderSession>(library, reports);
  session->SetRecordVideo(false);
  EXPECT_LT(session->Configure(dir.File("sound.wmv")), 0);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, "Error");
  // The box names the cause; there is nothing to download.
  EXPECT_EQ(boxes.shown[0].text.rfind("Unable to use the screen encoder. No sound server is running",
                                      0),
            0u);
  session.reset();
}

}  // namespace
}  // namespace framory
