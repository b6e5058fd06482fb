// Helper of the real-time end-to-end test, independent of the program under
// test. Times are milliseconds of the monotonic clock since a base the test
// picks (so they fit the 24 bits drawn on the screen).
//
//   clock_window now BASE
//       prints the time now.
//   clock_window show BASE
//       keeps a window at the bottom left of the screen that shows the time
//       as 24 black-or-white blocks of 32 × 32 pixels (most significant
//       first), with the inverted blocks below them as a check. Each new
//       time is drawn with one copy request, so a grab never sees half of it.
//   clock_window check CLIP SEEN PERIOD SCREEN_HEIGHT
//       reads the clip back by timestamp (ffprobe's packet times, ffmpeg's
//       pictures as stored) and checks it against the times shown in it.
//       SEEN is a time at which the clip's file already existed, so the clip
//       started before it. Prints PASS/FAIL lines and a report; exits 1 on a
//       failed check.
//   clock_window chord WINDOW
//       types Ctrl, then Shift through XTest and prints how many
//       milliseconds pass until WINDOW's title changes.
//   clock_window view-chord TITLE
//       types Shift, then Ctrl and prints how many milliseconds pass until a
//       window whose title starts with TITLE is shown or hidden (the toolkit
//       may make a new window when it shows one again).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <time.h>

#include "support/ProgramLog.h"
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kBits = 24;
constexpr int kBlock = 32;
constexpr int kStripWidth = kBits * kBlock;
constexpr int kStripHeight = 2 * kBlock;

std::int64_t NowMs(std::int64_t base) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000 - base;
}

// The strip's top edge: on a 16-pixel boundary so that codec blocks do not
// straddle two rows of the strip.
int StripTop(int screenHeight) { return ((screenHeight - kStripHeight) / 16) * 16; }

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

int Show(std::int64_t base) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 2;
  const int screen = DefaultScreen(display);
  const Window root = RootWindow(display, screen);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = BlackPixel(display, screen);
  const Window window = XCreateWindow(
      display, root, 0, StripTop(DisplayHeight(display, screen)), kStripWidth, kStripHeight, 0,
      CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(display, window);
  const Pixmap pixmap =
      XCreatePixmap(display, window, kStripWidth, kStripHeight, DefaultDepth(display, screen));
  const GC gc = XCreateGC(display, pixmap, 0, nullptr);
  const unsigned long white = WhitePixel(display, screen), black = BlackPixel(display, screen);
  std::int64_t shown = -1;
  for (int round = 0;; ++round) {
    const std::int64_t now = NowMs(base);
    if (now != shown) {
      shown = now;
      for (int bit = 0; bit < kBits; ++bit) {
        const bool on = ((now >> (kBits - 1 - bit)) & 1) != 0;
        XSetForeground(display, gc, on ? white : black);
        XFillRectangle(display, pixmap, gc, bit * kBlock, 0, kBlock, kBlock);
        XSetForeground(display, gc, on ? black : white);
        XFillRectangle(display, pixmap, gc, bit * kBlock, kBlock, kBlock, kBlock);
      }
      XCopyArea(display, pixmap, window, gc, 0, 0, kStripWidth, kStripHeight, 0, 0);
      // Other windows may open over the strip; it goes back on top now and then.
      if (round % 200 == 0) XRaiseWindow(display, window);
      XFlush(display);
    }
    usleep(300);
  }
}

struct Picture {
  std::int64_t ptsMs;
  std::int64_t shownMs;  // -1 when the strip could not be read
};

int Check(const std::string& clip, std::int64_t seen, std::int64_t period, int screenHeight) {
  int failures = 0;
  auto verdict = [&failures](bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
    if (!ok) ++failures;
  };
  // Packets with a picture, in file order (empty chunks are not listed).
  std::vector<std::int64_t> pts;
  {
    std::istringstream lines(
        Run("ffprobe -v error -select_streams v:0 -show_entries "
            "packet=pts_time,size -of csv=p=0 " +
            Quote(clip) + " 2>/dev/null"));
    std::string line;
    while (std::getline(lines, line)) {
      const std::size_t comma = line.find(',');
      if (comma == std::string::npos) continue;
      if (std::atoll(line.c_str() + comma + 1) <= 0) continue;
      pts.push_back(std::llround(std::atof(line.substr(0, comma).c_str()) * 1000.0));
    }
  }
  // The strip of every stored picture, in grey.
  const std::string crop = "crop=" + std::to_string(kStripWidth) + ":" +
                           std::to_string(kStripHeight) +
                           ":0:" + std::to_string(StripTop(screenHeight));
  const std::string grey = Run("ffmpeg -v error -i " + Quote(clip) + " -vf " + crop +
                               " -fps_mode passthrough -f rawvideo -pix_fmt gray - 2>/dev/null");
  const std::size_t pictureBytes = std::size_t{kStripWidth} * kStripHeight;
  const std::size_t decoded = grey.size() / pictureBytes;
  verdict(!pts.empty() && decoded == pts.size(), "ffmpeg decodes one picture per stored packet (" +
                                                     std::to_string(decoded) + " pictures, " +
                                                     std::to_string(pts.size()) + " packets)");
  if (pts.empty() || decoded != pts.size()) return 1;

  std::vector<Picture> pictures;
  int unreadable = 0;
  for (std::size_t i = 0; i < decoded; ++i) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(grey.data() + i * pictureBytes);
    std::int64_t value = 0;
    bool ok = true;
    for (int bit = 0; bit < kBits; ++bit) {
      const int x = bit * kBlock + kBlock / 2;
      const bool on = p[(kBlock / 2) * kStripWidth + x] >= 128;
      const bool check = p[(kBlock + kBlock / 2) * kStripWidth + x] >= 128;
      if (on == check) ok = false;
      value = (value << 1) | (on ? 1 : 0);
    }
    if (!ok) ++unreadable;
    pictures.push_back({pts[i], ok ? value : -1});
  }
  // A window may pass over the strip now and then; such pictures are left
  // out of the checks, but most must show the time.
  verdict(unreadable * 10 <= static_cast<int>(decoded),
          std::to_string(unreadable) + " of " + std::to_string(decoded) +
              " pictures with an unreadable time (at most a tenth may be)");

  // The clip's time 0 is its first shot, which came before `seen`; a shot
  // goes to the period nearest to its time, or later. So a picture at
  // clip time t cannot show a time after seen + t + period / 2.
  int early = 0;
  const Picture* worst = nullptr;
  std::int64_t previous = -1;
  int backwards = 0;
  for (const Picture& p : pictures) {
    if (p.shownMs < 0) continue;
    if (p.shownMs > seen + p.ptsMs + period / 2) {
      ++early;
      if (worst == nullptr || p.shownMs - p.ptsMs > worst->shownMs - worst->ptsMs) worst = &p;
    }
    if (p.shownMs < previous) ++backwards;
    previous = p.shownMs;
  }
  verdict(early == 0,
          std::to_string(early) + " pictures shown before their time" +
              (worst != nullptr
                   ? " (worst: clip time " + std::to_string(worst->ptsMs) + " ms shows " +
                         std::to_string(worst->shownMs - seen) + " ms after the clip existed)"
                   : ""));
  verdict(backwards == 0, std::to_string(backwards) + " pictures earlier than the one before");

  // The clip lasts until its last picture's period ends; the recording it
  // shows ran from before `seen` to the latest time shown in it.
  const std::int64_t duration = pictures.back().ptsMs + period;
  std::int64_t latestShown = -1;
  for (const Picture& p : pictures) latestShown = std::max(latestShown, p.shownMs);
  verdict(latestShown >= 0 && duration >= latestShown - seen,
          "the clip lasts " + std::to_string(duration) + " ms, the recording it shows at least " +
              std::to_string(latestShown - seen) + " ms");

  // Report: how far the time shown lags behind the clip's own time. The
  // clip's start on the clock is not known exactly, so each picture's lag is
  // given against the picture that lagged least.
  std::vector<std::int64_t> lag;
  for (const Picture& p : pictures) {
    if (p.shownMs >= 0) lag.push_back((p.ptsMs + seen) - p.shownMs);
  }
  std::sort(lag.begin(), lag.end());
  if (!lag.empty()) {
    const std::int64_t least = lag.front();
    for (std::int64_t& l : lag) l -= least;
    std::printf(
        "REPORT: %zu pictures in %lld ms of clip (%.1f a second, timer rate %.1f); time shown "
        "behind clip time, against the picture that lagged least (ms): median %lld, 95%% %lld, "
        "max %lld\n",
        pictures.size(), static_cast<long long>(duration),
        1000.0 * double(pictures.size()) / double(duration), 1000.0 / double(period),
        static_cast<long long>(lag[lag.size() / 2]),
        static_cast<long long>(lag[lag.size() * 95 / 100]), static_cast<long long>(lag.back()));
  }
  return failures == 0 ? 0 : 1;
}

std::string Title(Display* display, Window window) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
  std::string title;
  if (XGetWindowProperty(display, window, netName, 0, 1024, False, AnyPropertyType, &type, &format,
                         &count, &after, &data) == Success &&
      data != nullptr) {
    title.assign(reinterpret_cast<char*>(data), count);
  }
  if (data != nullptr) XFree(data);
  return title;
}

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// Whether a window whose title starts with `title` is on the screen: the
// window manager's client list, read afresh, and each window's map state (a
// window gone meanwhile is not shown; its error is ignored).
bool Shown(Display* display, const std::string& title) {
  const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
  Atom type;
  int format;
  unsigned long count = 0, after;
  unsigned char* data = nullptr;
  bool shown = false;
  if (XGetWindowProperty(display, DefaultRootWindow(display), clientList, 0, 4096, False,
                         XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    const Window* windows = reinterpret_cast<const Window*>(data);
    for (unsigned long i = 0; i < count && !shown; ++i) {
      XWindowAttributes attributes;
      shown = Title(display, windows[i]).rfind(title, 0) == 0 &&
              XGetWindowAttributes(display, windows[i], &attributes) != 0 &&
              attributes.map_state == IsViewable;
    }
  }
  if (data != nullptr) XFree(data);
  return shown;
}

// What a chord changes: the window's title (the recorder's state), or
// whether a window of the given title is shown.
std::string Observed(Display* display, Window window, const std::string& shownTitle) {
  if (shownTitle.empty()) return Title(display, window);
  return Shown(display, shownTitle) ? "shown" : "hidden";
}

// Holds `first` down, then types `second` and lets go of both; prints the
// milliseconds from the second key going down until Observed changes.
int Chord(Window window, const std::string& shownTitle, KeySym first, KeySym second) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 2;
  XSetErrorHandler(IgnoreXError);
  if (window != None) XSelectInput(display, window, PropertyChangeMask);
  const std::string before = Observed(display, window, shownTitle);
  const KeyCode held = XKeysymToKeycode(display, first);
  const KeyCode typed = XKeysymToKeycode(display, second);
  XTestFakeKeyEvent(display, held, True, CurrentTime);
  XSync(display, False);
  // The chord is complete once the second key goes down.
  const std::int64_t start = NowMs(0);
  XTestFakeKeyEvent(display, typed, True, CurrentTime);
  XTestFakeKeyEvent(display, typed, False, CurrentTime);
  XTestFakeKeyEvent(display, held, False, CurrentTime);
  XFlush(display);
  while (NowMs(0) - start < 10000) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
    }
    if (Observed(display, window, shownTitle) != before) {
      std::printf("%lld\n", static_cast<long long>(NowMs(0) - start));
      return 0;
    }
    usleep(1000);
  }
  std::printf("no change\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "now" && argc == 3) {
    std::printf("%lld\n", static_cast<long long>(NowMs(std::atoll(argv[2]))));
    return 0;
  }
  if (mode == "show" && argc == 3) return Show(std::atoll(argv[2]));
  if (mode == "check" && argc == 6) {
    return Check(argv[2], std::atoll(argv[3]), std::atoll(argv[4]), std::atoi(argv[5]));
  }
  if (mode == "chord" && argc == 3) {
    return Chord(std::strtoul(argv[2], nullptr, 0), "", XK_Control_L, XK_Shift_L);
  }
  if (mode == "view-chord" && argc == 3) return Chord(None, argv[2], XK_Shift_L, XK_Control_L);
  std::fprintf(stderr, "usage: see the comment at the top of clock_window.cpp\n");
  return 2;
}
