// A clip's own sound read from a PulseAudio server of the test's own, with a
// microphone and a desktop that run in step with the clock as real devices
// do: two null sinks at the sound's rate, "room" (heard through a source
// made from its monitor, the microphone) and "desktop" (the default sink),
// each kept playing by a program of the test. A 440 Hz tone played into the
// room is the microphone's sound, a 1000 Hz tone played into the desktop
// the desktop's. Each choice must give its own tone and no other, a tone's
// onset must carry the time it was heard (against ffmpeg's PulseAudio
// reader recording the same event, and the mix of both against each alone),
// the missing server, microphone or output must be named, and sound nobody
// takes must stay bounded.
#include "platform/sound/PulseClipSound.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <numbers>
#include <sstream>
#include <thread>

#include "base/MonotonicClock.h"
#include "platform/sound/SoundMixer.h"
#include "support/EncoderProbe.h"
#include "support/ProgramLog.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

namespace framory {
namespace {

using testing::RunCommand;
using testing::ShellQuote;
using testing::TempDir;

constexpr double kMicrophoneHz = 440;
constexpr double kDesktopHz = 1000;
constexpr int kRate = ClipSound::kSampleRate;

// The left channel of `chunks`, laid out by their stamps from the first
// one's (gaps silent, overlaps overwritten).
struct Track {
  std::int64_t FirstNs = 0;
  std::vector<float> Left;
};

Track Lay(const std::vector<SoundChunk>& chunks) {
  Track track;
  if (chunks.empty()) return track;
  track.FirstNs = chunks.front().FirstSampleNs;
  for (const SoundChunk& chunk : chunks) {
    const auto at = static_cast<std::size_t>(
        std::llround(static_cast<double>(chunk.FirstSampleNs - track.FirstNs) * kRate / 1e9));
    const std::size_t frames = chunk.Samples.size() / 2;
    if (track.Left.size() < at + frames) track.Left.resize(at + frames, 0.0f);
    for (std::size_t i = 0; i < frames; ++i) track.Left[at + i] = chunk.Samples[2 * i];
  }
  return track;
}

// The amplitude of the `hz` sine in samples [from, from + count) (Goertzel).
double Amplitude(const std::vector<float>& samples, std::size_t from, std::size_t count,
                 double hz) {
  const double w = 2 * std::numbers::pi * hz / kRate;
  const double coefficient = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (std::size_t i = from; i < from + count && i < samples.size(); ++i) {
    const double s0 = samples[i] + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
  return 2 * std::sqrt(std::max(0.0, power)) / static_cast<double>(count);
}

// The amplitudes of the `hz` sine in the 50 ms windows of `track`.
std::vector<double> WindowAmplitudes(const Track& track, double hz) {
  constexpr std::size_t kWindow = kRate / 20;
  std::vector<double> amplitudes;
  for (std::size_t at = 0; at + kWindow <= track.Left.size(); at += kWindow)
    amplitudes.push_back(Amplitude(track.Left, at, kWindow, hz));
  return amplitudes;
}

// The share of the windows in which the `hz` tone sounds. (The players of
// the tones may leave holes on a busy machine; a source that is missing
// leaves nothing.)
double ToneShare(const Track& track, double hz) {
  const std::vector<double> amplitudes = WindowAmplitudes(track, hz);
  if (amplitudes.empty()) return 0;
  return static_cast<double>(std::count_if(amplitudes.begin(), amplitudes.end(),
                                           [](double a) { return a > 0.25; })) /
         static_cast<double>(amplitudes.size());
}

// The loudest the `hz` tone is in any window.
double Loudest(const Track& track, double hz) {
  const std::vector<double> amplitudes = WindowAmplitudes(track, hz);
  return amplitudes.empty() ? 0 : *std::max_element(amplitudes.begin(), amplitudes.end());
}

// The sample indices where the `hz` tone starts: the ends of the 4 ms
// windows in which it rises past half its loudest amplitude (the same rule
// for every recording compared, so its own offset cancels). Empty when there
// is no tone.
std::vector<std::int64_t> Onsets(const std::vector<float>& samples, double hz) {
  constexpr std::size_t kWindow = 192, kHop = 4;
  std::vector<double> amplitudes;
  for (std::size_t at = 0; at + kWindow <= samples.size(); at += kHop)
    amplitudes.push_back(Amplitude(samples, at, kWindow, hz));
  std::vector<std::int64_t> onsets;
  if (amplitudes.empty()) return onsets;
  const double loudest = *std::max_element(amplitudes.begin(), amplitudes.end());
  if (loudest < 0.1) return onsets;
  bool sounding = false;
  for (std::size_t i = 0; i < amplitudes.size(); ++i) {
    if (!sounding && amplitudes[i] > loudest / 2) {
      onsets.push_back(static_cast<std::int64_t>(i * kHop + kWindow));
      sounding = true;
    }
    // It ends a little below half, so that a wobble there is no onset.
    if (sounding && amplitudes[i] < loudest / 3) sounding = false;
  }
  return onsets;
}

// The onsets of the `hz` tone in `track`, on the steady clock.
std::vector<std::int64_t> OnsetsNs(const Track& track, double hz) {
  std::vector<std::int64_t> onsets = Onsets(track.Left, hz);
  for (std::int64_t& onset : onsets) onset = track.FirstNs + onset * 1'000'000'000 / kRate;
  return onsets;
}

// CLOCK_REALTIME less the steady clock, for ffmpeg's wall-clock stamps.
std::int64_t WallLessSteadyNs() {
  std::int64_t best = 0, spread = INT64_MAX;
  for (int i = 0; i < 20; ++i) {
    const std::int64_t before = SteadyClock().NowNanoseconds();
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    const std::int64_t after = SteadyClock().NowNanoseconds();
    if (after - before < spread) {
      spread = after - before;
      best = wall.tv_sec * 1'000'000'000LL + wall.tv_nsec - (before + after) / 2;
    }
  }
  return best;
}

// Writes stretches of silence and of a `hz` tone, in turn, silence first,
// each `ms` milliseconds long, 48 kHz stereo float, to `path`.
void WriteTone(const std::string& path, double hz, const std::vector<int>& ms) {
  std::vector<float> samples;
  for (std::size_t part = 0; part < ms.size(); ++part) {
    for (int i = 0; i < ms[part] * kRate / 1000; ++i) {
      const auto value = static_cast<float>(
          part % 2 == 0 ? 0.0 : 0.5 * std::sin(2 * std::numbers::pi * hz * i / kRate));
      samples.push_back(value);
      samples.push_back(value);
    }
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(samples.data()),
             static_cast<std::streamsize>(samples.size() * sizeof(float)));
}

int SourceOutputs() {
  const std::string out = RunCommand("pactl list short source-outputs");
  return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
}

// A program playing `path` (or endless silence when empty) into `sink`
// with a latency of `ms` milliseconds, until it ends or is stopped.
class Player {
 public:
  Player(const std::string& sink, const std::string& path, int ms = 100) {
    testing::NoteProgram("pacat");
    pid_ = fork();
    if (pid_ == 0) {
      const std::string input = path.empty() ? "/dev/zero" : path;
      std::freopen(input.c_str(), "r", stdin);
      const std::string latency = "--latency-msec=" + std::to_string(ms);
      execlp("pacat", "pacat", "--format=float32le", "--rate=48000", "--channels=2",
             latency.c_str(), "-d", sink.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Player() { Stop(); }
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  // Waits until it has played everything.
  void Finish() {
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  void Stop() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    Finish();
  }

 private:
  pid_t pid_ = -1;
};

// The room and the desktop of the server (see the top of the file). Each
// sink keeps playing silence with a short latency: an idle null sink
// renders seconds ahead, and its monitor then delivers nothing for as long.
// (The tones are played with a longer one, so that a busy machine does not
// leave holes in them.)
class Devices {
 public:
  Devices() {
    RunCommand(
        "pactl load-module module-null-sink sink_name=desktop rate=48000 && "
        "pactl load-module module-null-sink sink_name=room rate=48000 && "
        "pactl load-module module-remap-source source_name=microphone master=room.monitor && "
        "pactl set-default-sink desktop && pactl set-default-source microphone");
    desktop_ = std::make_unique<Player>("desktop", "", 20);
    room_ = std::make_unique<Player>("room", "", 20);
  }

 private:
  std::unique_ptr<Player> desktop_, room_;
};

// Sound from `sound` until it holds at least `frames` frames (waiting 20 s
// at most).
std::vector<SoundChunk> TakeAtLeast(ClipSound& sound, std::size_t frames) {
  std::vector<SoundChunk> chunks;
  std::size_t got = 0;
  for (int i = 0; i < 400 && got < frames; ++i) {
    for (SoundChunk& chunk : sound.TakeChunks()) {
      got += chunk.Samples.size() / 2;
      chunks.push_back(std::move(chunk));
    }
    if (got < frames) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return chunks;
}

void Append(std::vector<SoundChunk>* chunks, std::vector<SoundChunk> more) {
  for (SoundChunk& chunk : more) chunks->push_back(std::move(chunk));
}

// The left channel of a file of 48 kHz stereo floats.
std::vector<float> LeftOfFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
  std::vector<float> left(bytes.size() / 8);
  for (std::size_t i = 0; i < left.size(); ++i) std::memcpy(&left[i], &bytes[8 * i], 4);
  return left;
}

// The wall-clock time ffmpeg gave sample `index` of the sound in `nut`:
// the stamp of the piece that holds it, plus its place in the piece.
std::int64_t FfmpegStamp(const std::string& nut, std::int64_t index) {
  std::istringstream lines(
      RunCommand("ffprobe -v error -select_streams a:0 -show_entries "
                 "packet=pts_time,size -of csv=p=0 " +
                 ShellQuote(nut)));
  std::int64_t first = 0;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    const std::int64_t frames = std::atoll(line.c_str() + comma + 1) / 8;
    if (index < first + frames)
      return std::llround(std::atof(line.c_str()) * 1e9) + (index - first) * 1'000'000'000 / kRate;
    first += frames;
  }
  return -1;
}

// The one of `onsets` nearest to `target`.
std::int64_t Nearest(const std::vector<std::int64_t>& onsets, std::int64_t target) {
  return *std::min_element(onsets.begin(), onsets.end(), [target](std::int64_t a, std::int64_t b) {
    return std::llabs(a - target) < std::llabs(b - target);
  });
}

double Ms(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }

class PulseClipSoundTest : public ::testing::Test {
 protected:
  // Half a second of sound of `choice`, once it flows.
  Track Record(SoundSourceChoice choice) {
    PulseClipSound sound(choice);
    std::string failure;
    EXPECT_TRUE(sound.Start(&failure)) << failure;
    std::vector<SoundChunk> chunks = TakeAtLeast(sound, kRate / 2);
    sound.Stop();
    Append(&chunks, sound.TakeChunks());
    return Lay(chunks);
  }

  TempDir dir;
};

TEST_F(PulseClipSoundTest, EachChoiceGivesItsOwnSoundAndNoOther) {
  testing::PulseServer pulse(dir.Path());
  ASSERT_TRUE(pulse.Running());
  Devices devices;
  WriteTone(dir.File("low.f32"), kMicrophoneHz, {0, 30000});
  WriteTone(dir.File("high.f32"), kDesktopHz, {0, 30000});
  Player voice("room", dir.File("low.f32"));
  Player music("desktop", dir.File("high.f32"));
  // Each tone is played at 0.5; a trace of the other stays far below.
  const Track microphone = Record(SoundSourceChoice::Microphone);
  EXPECT_GT(ToneShare(microphone, kMicrophoneHz), 0.5) << "no microphone";
  EXPECT_LT(Loudest(microphone, kDesktopHz), 0.02) << "the desktop's sound in the microphone";
  const Track desktop = Record(SoundSourceChoice::Desktop);
  EXPECT_GT(ToneShare(desktop, kDesktopHz), 0.5) << "no desktop sound";
  EXPECT_LT(Loudest(desktop, kMicrophoneHz), 0.02) << "the microphone in the desktop's sound";
  const Track both = Record(SoundSourceChoice::Both);
  EXPECT_GT(ToneShare(both, kMicrophoneHz), 0.5) << "the microphone missing from the mix";
  EXPECT_GT(ToneShare(both, kDesktopHz), 0.5) << "the desktop missing from the mix";
  // Mixed in step, the two tones add up to at most 1 and are never cut.
  float loudest = 0;
  for (float sample : both.Left) loudest = std::max(loudest, std::fabs(sample));
  EXPECT_GT(loudest, 0.9f);
  EXPECT_LE(loudest, 1.0f);
}

// A tone starts on the desktop and, half a second later, one in the room.
// The desktop's onset is stamped when ffmpeg's reader of the same monitor
// says it was heard (its wall-clock stamps moved to the steady clock), and
// the mix places each onset where the single source does.
TEST_F(PulseClipSoundTest, ToneOnsetsAreStampedWhenTheyWereHeard) {
  testing::PulseServer pulse(dir.Path());
  ASSERT_TRUE(pulse.Running());
  Devices devices;
  PulseClipSound desktop(SoundSourceChoice::Desktop);
  PulseClipSound microphone(SoundSourceChoice::Microphone);
  PulseClipSound both(SoundSourceChoice::Both);
  std::string failure;
  ASSERT_TRUE(desktop.Start(&failure)) << failure;
  ASSERT_TRUE(microphone.Start(&failure)) << failure;
  ASSERT_TRUE(both.Start(&failure)) << failure;
  // Once each source delivers, its sink runs in step with the clock.
  std::vector<SoundChunk> desktopChunks = TakeAtLeast(desktop, kRate / 10);
  std::vector<SoundChunk> microphoneChunks = TakeAtLeast(microphone, kRate / 10);
  std::vector<SoundChunk> bothChunks = TakeAtLeast(both, kRate / 10);
  // ffmpeg keeps the wall-clock stamp of every piece it read (-copyts).
  const std::string nut = dir.File("ffmpeg.nut"), raw = dir.File("ffmpeg.f32");
  std::string ffmpegLog;
  testing::NoteProgram("ffmpeg");
  const int outputs = SourceOutputs();
  std::thread ffmpeg([&] {
    ffmpegLog = RunCommand(
        "ffmpeg -hide_banner -nostdin -f pulse -sample_rate 48000 -channels 2 "
        "-t 5 -i desktop.monitor -copyts -c:a pcm_f32le -f nut -y " +
            ShellQuote(nut),
        true);
  });
  for (int i = 0; i < 200 && SourceOutputs() <= outputs; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // The desktop's tone starts twice, 1.2 s apart in what is played.
  WriteTone(dir.File("high.f32"), kDesktopHz, {800, 700, 500, 700});
  WriteTone(dir.File("low.f32"), kMicrophoneHz, {1300, 1000});
  {
    Player music("desktop", dir.File("high.f32"));
    Player voice("room", dir.File("low.f32"));
    music.Finish();
    voice.Finish();
  }
  ffmpeg.join();
  desktop.Stop();
  microphone.Stop();
  both.Stop();
  const std::int64_t wallLessSteady = WallLessSteadyNs();
  Append(&desktopChunks, desktop.TakeChunks());
  Append(&microphoneChunks, microphone.TakeChunks());
  Append(&bothChunks, both.TakeChunks());

  RunCommand("ffmpeg -v error -i " + ShellQuote(nut) + " -f f32le -y " + ShellQuote(raw));
  const std::vector<std::int64_t> ffIndices = Onsets(LeftOfFile(raw), kDesktopHz);
  ASSERT_GE(ffIndices.size(), 2u) << "ffmpeg did not hear the tone start twice\n" << ffmpegLog;
  std::vector<std::int64_t> ffOnsets;
  for (std::int64_t index : ffIndices) ffOnsets.push_back(FfmpegStamp(nut, index) - wallLessSteady);
  // On a busy machine a player may leave a hole in a tone, which then
  // starts again, in every recording of the sink alike; the onsets compared
  // are the first and the one nearest to where the second was played.
  ffOnsets = {ffOnsets[0], Nearest(ffOnsets, ffOnsets[0] + 1'200'000'000)};
  const Track mix = Lay(bothChunks);
  std::vector<std::int64_t> desktopOnsets = OnsetsNs(Lay(desktopChunks), kDesktopHz);
  std::vector<std::int64_t> mixedOnsets = OnsetsNs(mix, kDesktopHz);
  std::vector<std::int64_t> microphoneOnsets = OnsetsNs(Lay(microphoneChunks), kMicrophoneHz);
  std::vector<std::int64_t> mixedRoomOnsets = OnsetsNs(mix, kMicrophoneHz);
  // The same onsets in each of the program's recordings.
  ASSERT_FALSE(desktopOnsets.empty()) << "the desktop's tone not heard";
  ASSERT_FALSE(mixedOnsets.empty()) << "the desktop's tone not heard in the mix";
  ASSERT_FALSE(microphoneOnsets.empty()) << "the microphone's tone not heard";
  ASSERT_FALSE(mixedRoomOnsets.empty()) << "the microphone's tone not heard in the mix";
  desktopOnsets = {Nearest(desktopOnsets, ffOnsets[0]), Nearest(desktopOnsets, ffOnsets[1])};
  mixedOnsets = {Nearest(mixedOnsets, ffOnsets[0]), Nearest(mixedOnsets, ffOnsets[1])};
  microphoneOnsets.resize(1);
  mixedRoomOnsets = {Nearest(mixedRoomOnsets, microphoneOnsets[0])};
  std::printf("desktop tone, against ffmpeg: alone %+.1f ms, mixed %+.1f ms\n",
              Ms(desktopOnsets[0] - ffOnsets[0]), Ms(mixedOnsets[0] - ffOnsets[0]));
  std::printf("between its onsets: ffmpeg %.1f ms, alone %.1f ms, mixed %.1f ms\n",
              Ms(ffOnsets[1] - ffOnsets[0]), Ms(desktopOnsets[1] - desktopOnsets[0]),
              Ms(mixedOnsets[1] - mixedOnsets[0]));
  std::printf("room tone, against the microphone alone: mixed %+.1f ms\n",
              Ms(mixedRoomOnsets[0] - microphoneOnsets[0]));
  // The time between two onsets of one stream is what the stamps say of
  // the sound between them (a wrong rate, a stamp from a piece's end or its
  // arrival, a piece lost or counted twice all change it), whatever each
  // reader's offset from the true clock: it must agree with ffmpeg's.
  EXPECT_NEAR(Ms(desktopOnsets[1] - desktopOnsets[0]), Ms(ffOnsets[1] - ffOnsets[0]), 5.0);
  EXPECT_NEAR(Ms(mixedOnsets[1] - mixedOnsets[0]), Ms(ffOnsets[1] - ffOnsets[0]), 5.0);
  // Both readers stamp from the server's own latency reports; what is left
  // between them is how each copes while its thread is scheduled late (a
  // few milliseconds, on a quiet machine and on one running builds beside
  // the test alike).
  EXPECT_NEAR(Ms(desktopOnsets[0]), Ms(ffOnsets[0]), 30.0)
      << "the desktop's onset against ffmpeg's";
  // The mix and each source alone read the same sound through streams of
  // their own.
  EXPECT_NEAR(Ms(mixedOnsets[0]), Ms(desktopOnsets[0]), 10.0) << "the desktop's onset in the mix";
  EXPECT_NEAR(Ms(mixedRoomOnsets[0]), Ms(microphoneOnsets[0]), 10.0)
      << "the microphone's onset in the mix";
}

// No server, a server whose only input is the monitor of its output, one
// with no output at all: Start fails and says which.
TEST_F(PulseClipSoundTest, StartNamesWhatIsMissing) {
  std::string failure;
  {
    testing::NoPulseServer none(dir.Path());
    PulseClipSound sound(SoundSourceChoice::Microphone);
    EXPECT_FALSE(sound.Start(&failure));
    EXPECT_NE(failure.find("no sound server"), std::string::npos) << failure;
  }
  testing::PulseServer pulse(dir.Path());
  ASSERT_TRUE(pulse.Running());
  RunCommand("pactl unload-module module-sine-source");
  for (SoundSourceChoice choice : {SoundSourceChoice::Microphone, SoundSourceChoice::Both}) {
    PulseClipSound sound(choice);
    failure.clear();
    EXPECT_FALSE(sound.Start(&failure)) << "the desktop's sound taken for a microphone";
    EXPECT_NE(failure.find("no microphone"), std::string::npos) << failure;
  }
  {
    PulseClipSound sound(SoundSourceChoice::Desktop);
    EXPECT_TRUE(sound.Start(&failure)) << failure;
  }
  RunCommand("pactl unload-module module-null-sink");
  PulseClipSound sound(SoundSourceChoice::Desktop);
  failure.clear();
  EXPECT_FALSE(sound.Start(&failure));
  EXPECT_NE(failure.find("no output"), std::string::npos) << failure;
}

// Sound nobody takes is held up to the bound, newest kept, the rest
// counted; after Stop nothing more arrives.
TEST_F(PulseClipSoundTest, UntakenSoundIsBoundedAndStopEndsTheReading) {
  testing::PulseServer pulse(dir.Path());
  ASSERT_TRUE(pulse.Running());
  Devices devices;
  PulseClipSound::Limits limits;
  limits.HeldNs = 200'000'000;
  PulseClipSound sound(SoundSourceChoice::Both, limits);
  std::string failure;
  ASSERT_TRUE(sound.Start(&failure)) << failure;
  for (int i = 0; i < 400 && sound.DroppedFrames() < kRate; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_GE(sound.DroppedFrames(), kRate) << "a second of sound was never dropped";
  const std::int64_t before = SteadyClock().NowNanoseconds();
  std::vector<SoundChunk> held = sound.TakeChunks();
  ASSERT_FALSE(held.empty());
  std::size_t frames = 0;
  for (const SoundChunk& chunk : held) frames += chunk.Samples.size() / 2;
  // The bound, and at most the piece that went over it.
  EXPECT_LE(frames, static_cast<std::size_t>(kRate / 5 + kRate / 10));
  // The newest were kept: the last piece is from the last moments, not
  // from the start a second or more ago.
  EXPECT_GT(held.back().FirstSampleNs, before - 500'000'000);
  sound.Stop();
  sound.TakeChunks();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(sound.TakeChunks().empty()) << "sound read after Stop";
}

// The mix by stamps, to the sample: a click in each stream at the same
// moment lands on the same sample of the mix, though the pieces around
// them start at different times; a stream that stalls holds the other back
// only for the wait allowed.
TEST(SoundMixerTest, MixesBySampleAndWaitsForAStalledStreamOnlySoLong) {
  constexpr std::int64_t kOrigin = 1'000'000'000'000;
  auto piece = [](std::int64_t firstNs, std::size_t frames, std::size_t click) {
    SoundChunk chunk;
    chunk.FirstSampleNs = firstNs;
    chunk.Samples.assign(frames * 2, 0.0f);
    chunk.Samples[click * 2] = chunk.Samples[click * 2 + 1] = 0.25f;
    return chunk;
  };
  SoundMixer mixer(2, 2, kRate, 300'000'000);
  std::vector<SoundChunk> out;
  // Frame 100 of the first stream and frame 52 of the second (which starts
  // 1 ms = 48 frames later) are the same moment.
  mixer.Add(0, piece(kOrigin, 960, 100), kOrigin);
  mixer.Send(kOrigin, &out);
  EXPECT_TRUE(out.empty()) << "sent before the second stream delivered";
  mixer.Add(1, piece(kOrigin + 1'000'000, 912, 52), kOrigin);
  mixer.Send(kOrigin, &out);
  ASSERT_EQ(out.size(), 1u);
  const Track mixed = Lay(out);
  EXPECT_EQ(mixed.FirstNs, kOrigin);
  EXPECT_EQ(mixed.Left.size(), 960u) << "sent beyond what both streams delivered";
  std::vector<std::size_t> clicks;
  for (std::size_t i = 0; i < mixed.Left.size(); ++i)
    if (mixed.Left[i] != 0) clicks.push_back(i);
  EXPECT_EQ(clicks, std::vector<std::size_t>{100});
  EXPECT_FLOAT_EQ(mixed.Left[100], 0.5f);

  // The second stream stalls: the first is held for 300 ms of arrival
  // time, then goes out alone.
  out.clear();
  const std::int64_t next = kOrigin + 20'000'000;
  mixer.Add(0, piece(next, 960, 0), kOrigin + 100'000'000);
  mixer.Send(kOrigin + 100'000'000, &out);
  mixer.Add(0, piece(next + 20'000'000, 960, 0), kOrigin + 200'000'000);
  mixer.Send(kOrigin + 200'000'000, &out);
  EXPECT_TRUE(out.empty()) << "did not wait for the stalled stream";
  mixer.Add(0, piece(next + 40'000'000, 960, 0), kOrigin + 400'000'000);
  mixer.Send(kOrigin + 400'000'000, &out);
  ASSERT_FALSE(out.empty()) << "held back by the stalled stream beyond the wait";
  const Track alone = Lay(out);
  EXPECT_EQ(alone.FirstNs, next);
  EXPECT_EQ(alone.Left.size(), 3u * 960u);
  EXPECT_FLOAT_EQ(alone.Left[0], 0.25f);
  EXPECT_FLOAT_EQ(alone.Left[960], 0.25f);
  // Sound of it for what was sent is late and dropped; what follows is
  // taken again.
  out.clear();
  mixer.Add(1, piece(next, 3 * 960, 0), kOrigin + 410'000'000);
  mixer.Send(kOrigin + 410'000'000, &out);
  EXPECT_TRUE(out.empty()) << "late sound sent again";
  mixer.Add(1, piece(next + 60'000'000, 960, 5), kOrigin + 420'000'000);
  mixer.Send(kOrigin + 420'000'000, &out);
  mixer.Flush(&out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].FirstSampleNs, next + 60'000'000);
  EXPECT_EQ(out[0].Samples.size(), 2u * 960u);
  EXPECT_FLOAT_EQ(out[0].Samples[10], 0.25f);
}

}  // namespace
}  // namespace framory
