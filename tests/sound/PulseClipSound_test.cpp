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
#include <memory>
#include <fstream>
#include <numbers>
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

double Amplitude(const Track& track, double hz) {
  return track.Left.empty() ? 0 : Amplitude(track.Left, 0, track.Left.size(), hz);
}

// The sample index where the `hz` tone starts: the end of the first 4 ms
// window in which it has half its loudest amplitude (the same rule for
// every recording compared, so its own offset cancels); -1 when there is no
// tone.
std::int64_t OnsetIndex(const std::vector<float>& samples, double hz) {
  constexpr std::size_t kWindow = 192, kHop = 4;
  std::vector<double> amplitudes;
  for (std::size_t at = 0; at + kWindow <= samples.size(); at += kHop)
    amplitudes.push_back(Amplitude(samples, at, kWindow, hz));
  if (amplitudes.empty()) return -1;
  const double loudest = *std::max_element(amplitudes.begin(), amplitudes.end());
  if (loudest < 0.1) return -1;
  for (std::size_t i = 0; i < amplitudes.size(); ++i) {
    if (amplitudes[i] > loudest / 2) return static_cast<std::int64_t>(i * kHop + kWindow);
  }
  return -1;
}

std::int64_t OnsetNs(const Track& track, double hz) {
  const std::int64_t index = OnsetIndex(track.Left, hz);
  return index < 0 ? -1 : track.FirstNs + index * 1'000'000'000 / kRate;
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

// Writes `silentMs` of silence and then `toneMs` of a `hz` tone, 48 kHz
// stereo float, to `path`.
void WriteTone(const std::string& path, double hz, int silentMs, int toneMs) {
  std::vector<float> samples(static_cast<std::size_t>((silentMs + toneMs) * kRate / 1000 * 2));
  for (std::size_t i = static_cast<std::size_t>(silentMs * kRate / 1000); i < samples.size() / 2;
       ++i) {
    const float value = static_cast<float>(
        0.5 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / kRate));
    samples[2 * i] = samples[2 * i + 1] = value;
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
// with a short latency, until it ends or is stopped.
class Player {
 public:
  Player(const std::string& sink, const std::string& path) {
    testing::NoteProgram("pacat");
    pid_ = fork();
    if (pid_ == 0) {
      const std::string input = path.empty() ? "/dev/zero" : path;
      std::freopen(input.c_str(), "r", stdin);
      execlp("pacat", "pacat", "--format=float32le", "--rate=48000", "--channels=2",
             "--latency-msec=20", "-d", sink.c_str(), static_cast<char*>(nullptr));
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
// sink keeps playing silence: an idle null sink renders seconds ahead, and
// its monitor then delivers nothing for as long.
class Devices {
 public:
  Devices() {
    RunCommand(
        "pactl load-module module-null-sink sink_name=desktop rate=48000 && "
        "pactl load-module module-null-sink sink_name=room rate=48000 && "
        "pactl load-module module-remap-source source_name=microphone master=room.monitor && "
        "pactl set-default-sink desktop && pactl set-default-source microphone");
    desktop_ = std::make_unique<Player>("desktop", "");
    room_ = std::make_unique<Player>("room", "");
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
  WriteTone(dir.File("low.f32"), kMicrophoneHz, 0, 30000);
  WriteTone(dir.File("high.f32"), kDesktopHz, 0, 30000);
  Player voice("room", dir.File("low.f32"));
  Player music("desktop", dir.File("high.f32"));
  // A tone of 0.5 reads as 0.5 where it is alone and as 0.5 beside the
  // other; the other's trace stays far below.
  const Track microphone = Record(SoundSourceChoice::Microphone);
  EXPECT_GT(Amplitude(microphone, kMicrophoneHz), 0.4);
  EXPECT_LT(Amplitude(microphone, kDesktopHz), 0.02) << "the desktop's sound in the microphone";
  const Track desktop = Record(SoundSourceChoice::Desktop);
  EXPECT_GT(Amplitude(desktop, kDesktopHz), 0.4);
  EXPECT_LT(Amplitude(desktop, kMicrophoneHz), 0.02) << "the microphone in the desktop's sound";
  const Track both = Record(SoundSourceChoice::Both);
  EXPECT_GT(Amplitude(both, kMicrophoneHz), 0.4) << "the microphone missing from the mix";
  EXPECT_GT(Amplitude(both, kDesktopHz), 0.4) << "the desktop missing from the mix";
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
  const std::string raw = dir.File("ffmpeg.f32");
  std::string ffmpegLog;
  testing::NoteProgram("ffmpeg");
  const int outputs = SourceOutputs();
  std::thread ffmpeg([&] {
    ffmpegLog = RunCommand("ffmpeg -hide_banner -nostdin -f pulse -sample_rate 48000 -channels 2 "
                           "-i desktop.monitor -t 3 -f f32le -ac 2 -ar 48000 -y " +
                           ShellQuote(raw),
                           true);
  });
  for (int i = 0; i < 200 && SourceOutputs() <= outputs; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  WriteTone(dir.File("high.f32"), kDesktopHz, 800, 1500);
  WriteTone(dir.File("low.f32"), kMicrophoneHz, 1300, 1000);
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

  const std::size_t at = ffmpegLog.find("start: ");
  ASSERT_NE(at, std::string::npos) << ffmpegLog;
  const std::int64_t ffIndex = OnsetIndex(LeftOfFile(raw), kDesktopHz);
  ASSERT_GE(ffIndex, 0) << "ffmpeg did not hear the tone start";
  const std::int64_t ffOnset = std::llround(std::atof(ffmpegLog.c_str() + at + 7) * 1e9) -
                               wallLessSteady + ffIndex * 1'000'000'000 / kRate;
  const Track mix = Lay(bothChunks);
  const std::int64_t desktopOnset = OnsetNs(Lay(desktopChunks), kDesktopHz);
  const std::int64_t microphoneOnset = OnsetNs(Lay(microphoneChunks), kMicrophoneHz);
  ASSERT_GT(desktopOnset, 0) << "no tone from the desktop";
  ASSERT_GT(microphoneOnset, 0) << "no tone from the microphone";
  std::printf("desktop tone: ffmpeg %+.1f ms, alone %+.1f ms, mixed %+.1f ms\n", 0.0,
              Ms(desktopOnset - ffOnset), Ms(OnsetNs(mix, kDesktopHz) - ffOnset));
  std::printf("room tone, after the desktop's: alone %+.1f ms, mixed %+.1f ms\n",
              Ms(microphoneOnset - desktopOnset), Ms(OnsetNs(mix, kMicrophoneHz) - desktopOnset));
  // Both readers stamp from the server's own latency reports; what is left
  // between them is the scheduling of the two reading threads.
  EXPECT_NEAR(Ms(desktopOnset), Ms(ffOnset), 20.0) << "the desktop's onset against ffmpeg's";
  EXPECT_NEAR(Ms(OnsetNs(mix, kDesktopHz)), Ms(desktopOnset), 10.0)
      << "the desktop's onset in the mix";
  EXPECT_NEAR(Ms(OnsetNs(mix, kMicrophoneHz)), Ms(microphoneOnset), 10.0)
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
  mixer.Add(0, piece(kOrigin, 960, 100), kOrigin, &out);
  EXPECT_TRUE(out.empty()) << "sent before the second stream delivered";
  mixer.Add(1, piece(kOrigin + 1'000'000, 912, 52), kOrigin, &out);
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
  mixer.Add(0, piece(next, 960, 0), kOrigin + 100'000'000, &out);
  mixer.Add(0, piece(next + 20'000'000, 960, 0), kOrigin + 200'000'000, &out);
  EXPECT_TRUE(out.empty()) << "did not wait for the stalled stream";
  mixer.Add(0, piece(next + 40'000'000, 960, 0), kOrigin + 400'000'000, &out);
  ASSERT_FALSE(out.empty()) << "held back by the stalled stream beyond the wait";
  const Track alone = Lay(out);
  EXPECT_EQ(alone.FirstNs, next);
  EXPECT_EQ(alone.Left.size(), 3u * 960u);
  EXPECT_FLOAT_EQ(alone.Left[0], 0.25f);
  EXPECT_FLOAT_EQ(alone.Left[960], 0.25f);
  // Sound of it for what was sent is late and dropped; what follows is
  // taken again.
  out.clear();
  mixer.Add(1, piece(next, 3 * 960, 0), kOrigin + 410'000'000, &out);
  EXPECT_TRUE(out.empty()) << "late sound sent again";
  mixer.Add(1, piece(next + 60'000'000, 960, 5), kOrigin + 420'000'000, &out);
  mixer.Flush(&out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].FirstSampleNs, next + 60'000'000);
  EXPECT_EQ(out[0].Samples.size(), 2u * 960u);
  EXPECT_FLOAT_EQ(out[0].Samples[10], 0.25f);
}

}  // namespace
}  // namespace framory
