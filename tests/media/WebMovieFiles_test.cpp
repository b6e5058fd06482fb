// MP4 and WebM clips recorded through the clip session, the web movie
// writer and the FFmpeg library, then read back with ffprobe and ffmpeg:
// codecs, pictures, slot times, repeats, pauses, the sound inside, and what
// is left of a clip cut off by kill -9, a full disk or a file-size limit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/FfmpegWebMovieLibrary.h"
#include "support/ChildProcess.h"
#include "support/ClipRecording.h"
#include "support/ClipSessionFakes.h"
#include "support/MediaProbe.h"
#include "support/ShellCommand.h"
#include "support/SmallTmpfs.h"
#include "support/TempDir.h"
#include "writers/ClipSound.h"

namespace framory {
namespace {

using testing::CommandOutput;
using testing::DecodeFrames;
using testing::kChildFailed;
using testing::MeanDifference;
using testing::PacketProbe;
using testing::ProbePackets;
using testing::ProbeVideo;
using testing::RunInChild;
using testing::ShellQuote;
using testing::SplitLines;
using testing::TempDir;
using testing::TestPicture;
using testing::VideoProbe;

struct WebType {
  std::int32_t code;
  const char* extension;
  const char* videoCodec;
  const char* soundCodec;
  const char* appendFailure;
};
constexpr WebType kTypes[] = {
    {OutputTypes::Mp4, ".mp4", "h264", "aac",
     "Unable to append frame to MP4 movie. Pausing recorder."},
    {OutputTypes::WebM, ".webm", "vp9", "opus",
     "Unable to append frame to WebM movie. Pausing recorder."},
};

// Sound as a sound server would give it: a 1 kHz tone, read in chunks
// stamped on `clock` (the clock the clip is timed by), from Start to Stop.
class ToneSound : public ClipSound {
 public:
  ToneSound(const MonotonicClock& clock, bool refuse) : clock_(clock), refuse_(refuse) {}
  bool Start(std::string* failure) override {
    if (refuse_) {
      *failure = "No sound server is running.";
      return false;
    }
    startNs_ = clock_.NowNanoseconds();
    running_ = true;
    return true;
  }
  void Stop() override {
    if (running_) endNs_ = clock_.NowNanoseconds();
    running_ = false;
  }
  std::vector<SoundChunk> TakeChunks() override {
    const std::int64_t until = running_ ? clock_.NowNanoseconds() : endNs_;
    if (startNs_ < 0 || until <= startNs_) return {};
    const std::int64_t total = (until - startNs_) * kSampleRate / 1'000'000'000;
    if (total <= taken_) return {};
    SoundChunk chunk;
    chunk.FirstSampleNs = startNs_ + taken_ * 1'000'000'000 / kSampleRate;
    for (std::int64_t i = taken_; i < total; ++i) {
      const float v = 0.5f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * i / kSampleRate));
      chunk.Samples.push_back(v);
      chunk.Samples.push_back(v);
    }
    taken_ = total;
    return {std::move(chunk)};
  }

 private:
  const MonotonicClock& clock_;
  bool refuse_;
  bool running_ = false;
  std::int64_t startNs_ = -1;
  std::int64_t endNs_ = -1;
  std::int64_t taken_ = 0;
};

class ToneSource : public ClipSoundSource {
 public:
  explicit ToneSource(const MonotonicClock& clock) : clock_(clock) {}
  std::unique_ptr<ClipSound> Open(SoundSourceChoice choice) override {
    ++opened;
    lastChoice = choice;
    return std::make_unique<ToneSound>(clock_, refuse);
  }
  int opened = 0;
  SoundSourceChoice lastChoice = SoundSourceChoice::Microphone;
  bool refuse = false;

 private:
  const MonotonicClock& clock_;
};

// A clip session writing MP4 or WebM files through the real library, timed
// by the test's clock, with the tone as its sound.
struct Recording : testing::ClipRecording {
  explicit Recording(const WebType& type, std::int32_t timerValue = 100,
                     const std::string& folder = "")
      : Recording(type, timerValue, folder, std::make_unique<ToneSource>(clock)) {}

  // Delivers a shot and lets one period pass.
  void ShootAndWait(const TestPicture& picture) {
    Shoot(picture);
    clock.AdvanceMilliseconds(settings.TimerValue());
  }
  // A shot of an unchanged screen, then one period.
  void RepeatAndWait() {
    EXPECT_TRUE(session.RepeatMovieFrame());
    clock.AdvanceMilliseconds(settings.TimerValue());
  }
  void Pause(double ms) {
    host.paused = true;
    session.RecorderPauseChanged(true);
    clock.AdvanceMilliseconds(ms);
    host.paused = false;
    session.RecorderPauseChanged(false);
  }

  std::unique_ptr<ToneSource> tone;

 private:
  Recording(const WebType& type, std::int32_t timerValue, const std::string& folder,
            std::unique_ptr<ToneSource> source)
      : ClipRecording(testing::ClipRecordingOptions(type.extension, type.code, timerValue, folder)
                          .WebMovies(CreateWebMovieLibrary(), source.get())
                          .ManualClock()),
        tone(std::move(source)) {
    settings.SetTakeShotOnTimer(true);
  }
};

// One stream as ffprobe reads it.
struct StreamProbe {
  std::string codec, profile, pixelFormat;
  int sampleRate = 0, channels = 0;
  double duration = -1;
};

std::vector<StreamProbe> ProbeStreams(const std::string& path) {
  std::vector<StreamProbe> streams;
  std::istringstream lines(CommandOutput(
      "ffprobe -v error -show_entries "
      "stream=codec_name,profile,pix_fmt,sample_rate,channels,duration -of csv=p=0:nk=0 " +
      ShellQuote(path) + " 2>/dev/null"));
  std::string line;
  while (std::getline(lines, line)) {
    StreamProbe s;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, ',')) {
      const std::size_t eq = field.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
      if (key == "codec_name") s.codec = value;
      if (key == "profile") s.profile = value;
      if (key == "pix_fmt") s.pixelFormat = value;
      if (key == "sample_rate" && value != "N/A") s.sampleRate = std::stoi(value);
      if (key == "channels" && value != "N/A") s.channels = std::stoi(value);
      if (key == "duration" && value != "N/A") s.duration = std::stod(value);
    }
    streams.push_back(s);
  }
  return streams;
}

double FileDuration(const std::string& path) {
  const std::string out = CommandOutput(
      "ffprobe -v error -show_entries format=duration -of "
      "default=nw=1:nk=1 " +
      ShellQuote(path) + " 2>/dev/null");
  try {
    return std::stod(out);
  } catch (...) {
    return -1;
  }
}

// Where the sound stream ends (its last packet's time plus duration), in
// seconds; -1 without sound.
double SoundEnd(const std::string& path) {
  std::istringstream lines(CommandOutput(
      "ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time -of "
      "csv=p=0 " +
      ShellQuote(path) + " 2>/dev/null"));
  std::string line;
  double end = -1;
  while (std::getline(lines, line)) {
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    try {
      end = std::max(end, std::stod(line.substr(0, comma)) + std::stod(line.substr(comma + 1)));
    } catch (...) {
    }
  }
  return end;
}

// What ffmpeg says while decoding every picture and sound of the file
// (empty when everything decodes).
std::string DecodeErrors(const std::string& path) {
  return CommandOutput("ffmpeg -v error -i " + ShellQuote(path) + " -f null - 2>&1");
}

// The mean level of the sound between two times, decoded by ffmpeg as mono
// 16-bit samples.
double SoundLevel(const std::string& path, double from, double to) {
  const std::string raw = CommandOutput("ffmpeg -v error -i " + ShellQuote(path) +
                                        " -vn -ac 1 -ar 48000 -f s16le - 2>/dev/null");
  const std::size_t first = static_cast<std::size_t>(from * 48000) * 2;
  const std::size_t last = std::min(raw.size(), static_cast<std::size_t>(to * 48000) * 2);
  if (first >= last) return 0;
  double sum = 0;
  for (std::size_t at = first; at + 1 < last; at += 2) {
    std::int16_t v;
    std::memcpy(&v, raw.data() + at, 2);
    sum += std::abs(v);
  }
  return sum / double((last - first) / 2) / 32768.0;
}

TEST(WebMovieFiles, CodecsPicturesAndSoundAreWhatBrowsersPlay) {
  for (const WebType& type : kTypes) {
    SCOPED_TRACE(type.extension);
    Recording r(type, 100);
    r.settings.SetRecordSound(true);
    r.settings.SetSoundSource(2);
    // Pictures of the movie's size, read in place; each differs.
    std::vector<std::vector<std::uint32_t>> composed;
    for (int i = 0; i < 12; ++i) {
      const TestPicture picture = TestPicture::Pattern(320, 240, 3 * i);
      r.Shoot(picture);
      composed.push_back(picture.pixels);
      r.clock.AdvanceMilliseconds(100);
    }
    r.session.EndClip();
    EXPECT_TRUE(r.host.reports.empty());
    EXPECT_TRUE(r.boxes.shown.empty());
    EXPECT_EQ(r.tone->opened, 1);
    EXPECT_EQ(r.tone->lastChoice, SoundSourceChoice::Both) << "the stored choice reaches it";

    const std::vector<StreamProbe> streams = ProbeStreams(r.Movie(0));
    ASSERT_EQ(streams.size(), 2u) << "pictures and sound in one file";
    EXPECT_EQ(streams[0].codec, type.videoCodec);
    EXPECT_EQ(streams[0].pixelFormat, "yuv420p") << "4:2:0, which browsers need";
    if (type.code == OutputTypes::Mp4) EXPECT_EQ(streams[0].profile, "High");
    EXPECT_EQ(streams[1].codec, type.soundCodec);
    EXPECT_EQ(streams[1].sampleRate, 48000);
    EXPECT_EQ(streams[1].channels, 2);
    EXPECT_FALSE(std::filesystem::exists(r.settings.ProjectFolder() + "/movie1" + type.extension))
        << "no separate sound file";

    // Twelve slots of 100 ms: the clip lasts 1.2 s, within one period.
    EXPECT_NEAR(FileDuration(r.Movie(0)), 1.2, 0.1);
    const VideoProbe probe = ProbeVideo(r.Movie(0));
    EXPECT_EQ(probe.Width, 320);
    EXPECT_EQ(probe.Height, 240);
    const auto decoded = DecodeFrames(r.Movie(0), 320, 240);
    ASSERT_EQ(decoded.size(), composed.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      const double own = MeanDifference(decoded[i], composed[i]);
      // Lossy, but each picture is far nearer its own shot than the next.
      EXPECT_LT(own, 0.5 * MeanDifference(decoded[i], composed[(i + 1) % composed.size()]));
      EXPECT_LT(own, 6.0) << "frame " << i;
    }
    EXPECT_GT(SoundLevel(r.Movie(0), 0.1, 1.1), 0.2) << "the tone is heard";
    EXPECT_EQ(DecodeErrors(r.Movie(0)), "");
  }
}

// Without "Record Sound as Well" the file has pictures only, and a sound
// server that refuses leaves a clip without sound and a box that says why.
TEST(WebMovieFiles, SoundOnlyWhenAskedAndARefusalIsToldButTheClipGoesOn) {
  for (const WebType& type : kTypes) {
    SCOPED_TRACE(type.extension);
    {
      Recording r(type, 100);
      for (int i = 0; i < 3; ++i) r.ShootAndWait(TestPicture::Pattern(64, 48, i));
      r.session.EndClip();
      EXPECT_EQ(r.tone->opened, 0);
      const auto streams = ProbeStreams(r.Movie(0));
      ASSERT_EQ(streams.size(), 1u);
      EXPECT_EQ(streams[0].codec, type.videoCodec);
    }
    {
      Recording r(type, 100);
      r.settings.SetRecordSound(true);
      r.tone->refuse = true;
      for (int i = 0; i < 3; ++i) r.ShootAndWait(TestPicture::Pattern(64, 48, i));
      r.session.EndClip();
      ASSERT_EQ(r.boxes.shown.size(), 1u);
      EXPECT_NE(r.boxes.shown[0].text.find("Unable to record sound"), std::string::npos);
      EXPECT_NE(r.boxes.shown[0].text.find("No sound server is running."), std::string::npos)
          << r.boxes.shown[0].text;
      EXPECT_TRUE(r.host.reports.empty()) << "the pictures are recorded all the same";
      EXPECT_EQ(ProbeVideo(r.Movie(0)).FrameCount, 3);
    }
  }
}

// A still screen: repeats write no pictures, but a key frame comes at most
// 2 s after the last, and the last picture again at the clip's last slot.
TEST(WebMovieFiles, StillScreenStoresRepeatsAndKeepsKeyFramesTwoSecondsApart) {
  for (const WebType& type : kTypes) {
    SCOPED_TRACE(type.extension);
    Recording r(type, 100);
    const TestPicture still = TestPicture::Pattern(64, 48, 3);
    r.ShootAndWait(still);
    for (int i = 0; i < 69; ++i) r.RepeatAndWait();  // 7 s of slots in all
    r.session.EndClip();
    EXPECT_TRUE(r.host.reports.empty());

    const std::vector<PacketProbe> packets = ProbePackets(r.Movie(0));
    ASSERT_GE(packets.size(), 4u);
    EXPECT_LE(packets.size(), 6u) << "a picture for the start, each key frame and the end";
    EXPECT_NEAR(packets.front().PtsTime, 0.0, 1e-3);
    EXPECT_NEAR(packets.back().PtsTime, 6.9, 1e-3) << "the last slot holds the picture";
    double lastKey = -1;
    for (const PacketProbe& p : packets) {
      if (!p.Key) continue;
      if (lastKey >= 0) EXPECT_LE(p.PtsTime - lastKey, 2.0 + 1e-3) << "at " << p.PtsTime;
      lastKey = p.PtsTime;
    }
    EXPECT_GE(6.9 - lastKey, 0.0);
    EXPECT_LE(6.9 - lastKey, 2.0 + 1e-3);
    EXPECT_NEAR(FileDuration(r.Movie(0)), 7.0, 0.1);
    // Every picture of the file is the still screen.
    const auto decoded = DecodeFrames(r.Movie(0), 64, 48);
    ASSERT_EQ(decoded.size(), packets.size());
    const std::vector<std::uint32_t> expected(still.pixels.begin(), still.pixels.end());
    for (const auto& picture : decoded) EXPECT_LT(MeanDifference(picture, expected), 6.0);
  }
}

// Still stretches long enough for a key frame of the unchanged picture,
// each ended by a small change that is encoded against that key frame: every
// picture decodes to the screen of its time, so the key frame written for a
// still stretch leaves the decoder with the very reference the encoder goes
// on from.
TEST(WebMovieFiles, SmallChangesAfterStillStretchesDecodeToTheirScreens) {
  for (const WebType& type : kTypes) {
    SCOPED_TRACE(type.extension);
    Recording r(type, 100);
    // Screen k is the first one with k bright squares added: each change
    // is one square, a change the encoder predicts from the picture before.
    std::vector<TestPicture> screens;
    screens.reserve(3);
    for (int k = 0; k < 3; ++k) {
      screens.push_back(TestPicture::Pattern(64, 48, 5));
      for (int square = 1; square <= k; ++square) {
        for (int y = 8; y < 24; ++y) {
          for (int x = 16 * square; x < 16 * square + 16; ++x) screens.back().At(x, y) = 0xF0F0F0;
        }
      }
    }
    for (const TestPicture& screen : screens) {
      r.ShootAndWait(screen);
      for (int i = 0; i < 24; ++i) r.RepeatAndWait();  // 2.5 s of slots per screen
    }
    r.session.EndClip();
    EXPECT_TRUE(r.host.reports.empty());

    const std::vector<PacketProbe> packets = ProbePackets(r.Movie(0));
    const auto decoded = DecodeFrames(r.Movie(0), 64, 48);
    ASSERT_EQ(decoded.size(), packets.size());
    EXPECT_TRUE(DecodeErrors(r.Movie(0)).empty()) << DecodeErrors(r.Movie(0));
    int keysInStillStretches = 0;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      const std::size_t shown = std::min<std::size_t>(
          screens.size() - 1, static_cast<std::size_t>(packets[i].PtsTime / 2.5 + 1e-6));
      if (packets[i].Key && std::fmod(packets[i].PtsTime, 2.5) > 1e-3) ++keysInStillStretches;
      const std::vector<std::uint32_t> expected(screens[shown].pixels.begin(),
                                                screens[shown].pixels.end());
      const double own = MeanDifference(decoded[i], expected);
      EXPECT_LT(own, 6.0) << "picture at " << packets[i].PtsTime;
      for (std::size_t other = 0; other < screens.size(); ++other) {
        if (other == shown) continue;
        const std::vector<std::uint32_t> wrong(screens[other].pixels.begin(),
                                               screens[other].pixels.end());
        EXPECT_LT(own, MeanDifference(decoded[i], wrong)) << "picture at " << packets[i].PtsTime;
      }
    }
    EXPECT_GE(keysInStillStretches, 3) << "a key frame within each still stretch";
  }
}

// A pause of 3 s in the middle of a clip leaves neither a gap in the
// pictures nor in the sound: both last as long as the recording less the
// pause, and the sound reopened after the pause is heard.
TEST(WebMovieFiles, PauseLeavesNoGapInPicturesOrSound) {
  for (const WebType& type : kTypes) {
    SCOPED_TRACE(type.extension);
    Recording r(type, 100);
    r.settings.SetRecordSound(true);
    for (int i = 0; i < 10; ++i) r.ShootAndWait(TestPicture::Pattern(64, 48, i));
    r.Pause(3000);
    for (int i = 10; i < 20; ++i) r.ShootAndWait(TestPicture::Pattern(64, 48, i));
    r.session.EndClip();
    EXPECT_TRUE(r.host.reports.empty());
    EXPECT_EQ(r.tone->opened, 2) << "the sound is closed over the pause";

    const std::vector<PacketProbe> packets = ProbePackets(r.Movie(0));
    ASSERT_EQ(packets.size(), 20u);
    // The MP4 reader may show the first picture up to the AAC encoder's
    // priming (1024 samples) early.
    EXPECT_NEAR(packets[0].PtsTime, 0.0, 0.025);
    for (std::size_t i = 2; i < packets.size(); ++i) {
      EXPECT_NEAR(packets[i].PtsTime - packets[i - 1].PtsTime, 0.1, 1e-3) << "picture " << i;
    }
    const auto streams = ProbeStreams(r.Movie(0));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_NEAR(FileDuration(r.Movie(0)), 2.0, 0.1) << "the recording less the pause";
    EXPECT_NEAR(SoundEnd(r.Movie(0)), 2.0, 0.1) << "sound as long as the pictures";
    // The tone runs on across the place of the pause.
    EXPECT_GT(SoundLevel(r.Movie(0), 0.1, 0.9), 0.2);
    EXPECT_GT(SoundLevel(r.Movie(0), 0.95, 1.05), 0.2);
    EXPECT_GT(SoundLevel(r.Movie(0), 1.1, 1.9), 0.2);
  }
}

// The cut-off file of a recording killed with SIGKILL after `shots` shots:
// a real child shooting a changing picture every 100 ms of its clip's clock
// (and of real time, so the kill lands at any point of the worker's work).
void RecordAndKill(const WebType& type, const std::string& folder, int shots) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    Recording r(type, 100, folder);
    for (int i = 0;; ++i) {
      r.ShootAndWait(TestPicture::Pattern(160, 120, i % 50));
      const char shot = 's';
      if (write(pipeFds[1], &shot, 1) != 1) _exit(3);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  close(pipeFds[1]);
  int seen = 0;
  char c;
  while (seen < shots && read(pipeFds[0], &c, 1) == 1) ++seen;
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(pipeFds[0]);
  ASSERT_EQ(seen, shots) << "the child stopped recording by itself";
  EXPECT_TRUE(WIFSIGNALED(status));
}

TEST(WebMovieFiles, KilledClipPlaysUpToItsLastFragment) {
  for (const WebType& type : kTypes) {
    for (const int shots : {15, 37, 64}) {
      SCOPED_TRACE(std::string(type.extension) + " killed after " + std::to_string(shots));
      TempDir dir;
      RecordAndKill(type, dir.Path(), shots);
      const std::string movie = dir.Path() + "/shots/movie0" + type.extension;
      ASSERT_TRUE(std::filesystem::exists(movie));
      // The recording lasted `shots` periods at least; the file holds all of
      // it but the part not yet finished into a fragment.
      const std::vector<PacketProbe> packets = ProbePackets(movie);
      ASSERT_FALSE(packets.empty()) << "ffmpeg reads the cut file";
      const double recorded = shots * 0.1;
      const double last = packets.back().PtsTime;
      EXPECT_GE(last, recorded - 2.0) << "at most 2 s lost";
      EXPECT_LT(last, recorded);
      // A cut MP4 keeps its duration readable from its fragments; a cut WebM
      // has no duration field yet (players count its clusters).
      if (type.code == OutputTypes::Mp4) EXPECT_GE(FileDuration(movie), recorded - 2.0);
      // Every picture of the complete fragments decodes.
      EXPECT_EQ(static_cast<std::size_t>(ProbeVideo(movie).FrameCount), packets.size());
      EXPECT_EQ(DecodeErrors(movie), "");
    }
  }
}

// The child records into a folder where the disk fills up (or the
// file-size limit is reached), then frees the room, resumes and records a
// second clip. Its report: shots before the failure, paused, the report and
// its error number, the clip ended, reports after the resume.
std::vector<std::string> RecordUntilDiskFull(const WebType& type, const std::string& folder,
                                             rlim_t fileSizeLimit, const std::string& filler) {
  const std::string text = RunInChild(
      [&] {
        std::ostringstream out;
        Recording r(type, 100, folder);
        int appended = -1;
        // Noise does not compress: the disk fills after a few pictures.
        std::uint32_t seed = 1;
        for (int i = 0; i < 3000 && !r.host.paused; ++i) {
          TestPicture noise(160, 120);
          for (std::uint32_t& p : noise.pixels) p = (seed = seed * 1664525u + 1013904223u) >> 8;
          r.ShootAndWait(noise);
          if (r.host.paused) appended = i;
        }
        out << appended << "\n" << r.host.paused << "\n";
        out << (r.host.reports.empty() ? "" : r.host.reports[0]) << "\n";
        out << (r.host.codes.empty() ? 0u : r.host.codes[0]) << "\n";
        out << !r.session.ClipOpen() << "\n";
        if (!filler.empty()) std::remove(filler.c_str());
        r.host.paused = false;
        for (int i = 0; i < 3; ++i) r.ShootAndWait(TestPicture::Pattern(160, 120, i));
        out << r.host.reports.size() - 1 << "\n";
        r.session.EndClip();
        return out.str();
      },
      fileSizeLimit);
  EXPECT_NE(text, kChildFailed) << "the recording child crashed";
  return SplitLines(text);
}

void ExpectFullDiskHandled(const WebType& type, const std::string& folder, rlim_t limit,
                           std::uint32_t code, const std::string& filler = "") {
  const std::vector<std::string> outcome = RecordUntilDiskFull(type, folder, limit, filler);
  ASSERT_EQ(outcome.size(), 6u);
  EXPECT_GT(std::stoi(outcome[0]), 1) << "some pictures fit";
  EXPECT_EQ(outcome[1], "1") << "the recorder paused";
  EXPECT_EQ(outcome[2], type.appendFailure);
  EXPECT_EQ(outcome[3], std::to_string(code)) << "the system's error number reaches the box";
  EXPECT_EQ(outcome[4], "1") << "the failed clip is finished at once";
  EXPECT_EQ(outcome[5], "0") << "no failure after the resume";

  // The cut clip plays what it holds; the next number records normally.
  const std::string movie = folder + "/shots/movie0" + type.extension;
  const VideoProbe cut = ProbeVideo(movie);
  EXPECT_TRUE(cut.Ok);
  EXPECT_GE(cut.FrameCount, 1);
  EXPECT_EQ(DecodeErrors(movie), "");
  const VideoProbe next = ProbeVideo(folder + "/shots/movie1" + type.extension);
  EXPECT_TRUE(next.Ok);
  EXPECT_EQ(next.FrameCount, 3);
}

TEST(WebMovieFiles, FullDiskEndsTheClipAndTheNextClipRecords) {
  for (const WebType& type : kTypes) {
    SCOPED_TRACE(type.extension);
    TempDir dir;
    const testing::SmallTmpfs small(dir.File("small"), "2m");
    if (!small.Mounted()) {
      GTEST_SKIP() << "no permission to mount a small tmpfs; the file size limit case covers it";
    }
    const std::string filler = small.Path() + "/filler";
    ASSERT_TRUE(testing::WriteWholeFile(filler, std::string(1300 * 1024, 'f')));
    ExpectFullDiskHandled(type, small.Path(), 0, ENOSPC, filler);
  }
}

TEST(WebMovieFiles, FileSizeLimitEndsTheClipAndTheNextClipRecords) {
  for (const WebType& type : kTypes) {
    SCOPED_TRACE(type.extension);
    TempDir dir;
    ExpectFullDiskHandled(type, dir.Path(), 600 * 1024, EFBIG);
  }
}

TEST(WebMovieFiles, RemovedProjectFolderIsNoticedAtTheNextFrame) {
  for (const WebType& type : kTypes) {
    SCOPED_TRACE(type.extension);
    Recording r(type, 100);
    for (int i = 0; i < 3; ++i) r.ShootAndWait(TestPicture::Pattern(160, 120, i));
    ASSERT_TRUE(r.host.reports.empty());
    std::filesystem::remove_all(r.settings.ProjectFolder());
    r.ShootAndWait(TestPicture::Pattern(160, 120, 4));
    ASSERT_EQ(r.host.reports.size(), 1u);
    EXPECT_EQ(r.host.reports[0], type.appendFailure);
    EXPECT_EQ(r.host.codes[0], std::uint32_t{ENOENT});
    EXPECT_TRUE(r.host.paused);
    EXPECT_FALSE(r.session.ClipOpen());
    EXPECT_FALSE(std::filesystem::exists(r.settings.ProjectFolder()));
  }
}

}  // namespace
}  // namespace framory
