// Helper of the sound-and-picture sync end-to-end test, independent of the
// program under test.
//
//   tone_flash show SINK
//       keeps a black square at the top left of the screen and plays silence
//       into the PulseAudio sink SINK, a few milliseconds at a time. Each
//       line "flash" on standard input turns the square white and starts a
//       1000 Hz tone at once (the next few milliseconds written); half a
//       second later both go back to black and silence. Prints "ready" once
//       the square is shown and the sound flows.
//   tone_flash measure FILE
//       prints one line per white flash found in FILE's pictures: the time
//       of the first white picture, the time the tone starts in FILE's
//       sound, and the second less the first (seconds on FILE's own
//       timeline, from ffprobe's picture times and the sound stream's start
//       time and sample count).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "support/ProgramLog.h"

namespace {

constexpr int kRate = 48000;
constexpr int kSide = 96;
constexpr double kToneHz = 1000;
constexpr int kBlockFrames = kRate / 200;  // 5 ms

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Run(const std::string& command) {
  std::string out;
  framory::testing::NoteShellCommand(command);
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[65536];
  std::size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  pclose(pipe);
  return out;
}

int Show(const char* sink) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 1;
  const int screen = DefaultScreen(display);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = BlackPixel(display, screen);
  const Window window =
      XCreateWindow(display, RootWindow(display, screen), 0, 0, kSide, kSide, 0, CopyFromParent,
                    InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(display, window);
  const GC gc = XCreateGC(display, window, 0, nullptr);
  auto paint = [&](bool white) {
    XSetForeground(display, gc, white ? WhitePixel(display, screen) : BlackPixel(display, screen));
    XFillRectangle(display, window, gc, 0, 0, kSide, kSide);
    XRaiseWindow(display, window);
    XSync(display, False);
  };
  paint(false);

  pa_sample_spec sampleFormat{};
  sampleFormat.format = PA_SAMPLE_FLOAT32NE;
  sampleFormat.rate = kRate;
  sampleFormat.channels = 2;
  pa_buffer_attr buffer{};
  buffer.maxlength = static_cast<std::uint32_t>(-1);
  buffer.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(20'000, &sampleFormat));
  buffer.prebuf = static_cast<std::uint32_t>(-1);
  buffer.minreq = static_cast<std::uint32_t>(-1);
  buffer.fragsize = static_cast<std::uint32_t>(-1);
  int error = 0;
  pa_simple* stream = pa_simple_new(nullptr, "tone_flash", PA_STREAM_PLAYBACK, sink, "flash", &sampleFormat,
                                    nullptr, &buffer, &error);
  if (stream == nullptr) {
    std::fprintf(stderr, "tone_flash: %s\n", pa_strerror(error));
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::vector<float> block(kBlockFrames * 2);
  std::int64_t toneLeft = 0, phase = 0;
  for (;;) {
    pollfd input{0, POLLIN, 0};
    if (poll(&input, 1, 0) > 0) {
      char line[64];
      if (fgets(line, sizeof line, stdin) == nullptr) break;
      if (std::strncmp(line, "flash", 5) == 0) {
        paint(true);
        toneLeft = kRate / 2;
        phase = 0;
      }
    }
    for (int i = 0; i < kBlockFrames; ++i) {
      float value = 0;
      if (toneLeft > 0) {
        value = static_cast<float>(
            0.5 * std::sin(2 * std::numbers::pi * kToneHz * static_cast<double>(phase++) / kRate));
        if (--toneLeft == 0) paint(false);
      }
      block[2 * i] = block[2 * i + 1] = value;
    }
    if (pa_simple_write(stream, block.data(), block.size() * sizeof(float), &error) < 0) break;
  }
  pa_simple_free(stream);
  XCloseDisplay(display);
  return 0;
}

double Amplitude(const std::vector<float>& samples, std::size_t from, std::size_t count) {
  const double coefficient = 2 * std::cos(2 * std::numbers::pi * kToneHz / kRate);
  double s1 = 0, s2 = 0;
  for (std::size_t i = from; i < from + count && i < samples.size(); ++i) {
    const double s0 = samples[i] + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return 2 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coefficient * s1 * s2)) /
         static_cast<double>(count);
}

int Measure(const std::string& file) {
  // Picture times and the square's brightness, picture by picture.
  std::istringstream frames(Run(
      "ffprobe -v error -f lavfi -i " + Quote("movie=" + file + ",crop=64:64:16:16,signalstats") +
      " -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0 2>/dev/null"));
  std::vector<double> whites;
  bool white = false;
  for (std::string line; std::getline(frames, line);) {
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    const bool now = std::atof(line.c_str() + comma + 1) > 128;
    if (now && !white) whites.push_back(std::atof(line.c_str()));
    white = now;
  }
  // The sound: its start on the file's timeline, then its samples.
  const double start = std::atof(Run("ffprobe -v error -select_streams a:0 -show_entries "
                                     "stream=start_time -of csv=p=0 " +
                                     Quote(file) + " 2>/dev/null")
                                     .c_str());
  const std::string raw = Run("ffmpeg -v error -i " + Quote(file) +
                              " -map 0:a:0 -ac 1 -ar 48000 -f f32le - 2>/dev/null");
  std::vector<float> samples(raw.size() / sizeof(float));
  std::memcpy(samples.data(), raw.data(), samples.size() * sizeof(float));
  constexpr std::size_t kWindow = 192, kHop = 4;
  std::vector<double> tones;
  bool sounding = false;
  for (std::size_t at = 0; at + kWindow <= samples.size(); at += kHop) {
    const double amplitude = Amplitude(samples, at, kWindow);
    if (!sounding && amplitude > 0.25) {
      tones.push_back(start + static_cast<double>(at + kWindow) / kRate);
      sounding = true;
    } else if (sounding && amplitude < 0.15) {
      sounding = false;
    }
  }
  // Each flash with the tone that starts nearest to it.
  for (double w : whites) {
    if (tones.empty()) {
      std::printf("%.4f none none\n", w);
      continue;
    }
    const double t = *std::min_element(tones.begin(), tones.end(), [w](double a, double b) {
      return std::fabs(a - w) < std::fabs(b - w);
    });
    std::printf("%.4f %.4f %+.4f\n", w, t, t - w);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "show") == 0) return Show(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "measure") == 0) return Measure(argv[2]);
  std::fprintf(stderr, "usage: tone_flash show SINK | measure FILE\n");
  return 2;
}
