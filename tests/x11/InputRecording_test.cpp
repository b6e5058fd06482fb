// The input watch on a real X server: events are made by other processes
// (xdotool, a forked window maker) and reach the recorder through X RECORD
// and root window events, served by the Qt event loop of this process.
// Waits are "until a condition holds, or give up after a deadline"; no test
// asserts on timing.
// Qt and GoogleTest come before the X headers, whose macros (None, Bool,
// Status) clash with both.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include "platform/qt/QtSocketWatcher.h"
#include "platform/qt/QtTimerService.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Recorder.h"
#include "capture/InputWatch.h"
#include "support/HeldChild.h"
#include "support/ProgramLog.h"
#include "support/QtPump.h"
#include "support/RecorderFakes.h"

#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include "platform/x11/X11InputRecorder.h"
#include "platform/x11/X11WindowEvents.h"
#include "platform/x11/X11WindowSystem.h"

namespace framory {
namespace {

using namespace InputMessages;
using testing::App;
using testing::HeldChild;
using testing::PumpFor;
using testing::PumpUntil;

int Shell(const std::string& command) {
  testing::NoteShellCommand(command);
  return std::system(command.c_str());
}

// Passes the recorded events on to the input watch and keeps a copy.
class TeeSource : public InputEventSource, public InputEventSink {
 public:
  explicit TeeSource(InputEventSource& real) : real_(real) {}
  bool Install(InputEventSink& sink) override {
    next_ = &sink;
    return real_.Install(*this);
  }
  bool Remove() override { return real_.Remove(); }
  void JournalHookProc(int code, const InputEvent& event) override {
    events.push_back(event);
    next_->JournalHookProc(code, event);
  }
  void InputSourceLost() override { next_->InputSourceLost(); }
  bool Saw(std::uint32_t message, std::uint32_t key) const {
    for (const InputEvent& e : events) {
      if (e.Message == message && (e.ParamL & 0xFF) == key) return true;
    }
    return false;
  }
  std::vector<InputEvent> events;

 private:
  InputEventSource& real_;
  InputEventSink* next_ = nullptr;
};

// Counts how often the event loop wakes the sources up.
class CountingWatch : public SocketWatch {
 public:
  explicit CountingWatch(SocketWatch& inner) : inner_(inner) {}
  void Watch(int fd, std::function<void()> onReadable) override {
    inner_.Watch(fd, [this, onReadable] {
      ++wakeups;
      onReadable();
    });
  }
  void Unwatch(int fd) override { inner_.Unwatch(fd); }
  int wakeups = 0;

 private:
  SocketWatch& inner_;
};

// One entry of a rig's timeline: a window event as it reached the input
// watch, or a shot.
struct Moment {
  bool shot = false;
  bool pendingBefore = false;  // a delayed shot was pending before the event
  bool pendingAfter = false;   // ... and after the input watch had handled it
  int shotsBefore = 0, shotsAfter = 0;
  std::uint32_t event = 0;
  std::int64_t ms = 0;  // since the clock's start, for failure messages only
};

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The timeline as text: "+ms event" lines and "+ms shot" lines.
std::string Describe(const std::vector<Moment>& timeline) {
  std::string text;
  const std::int64_t start = timeline.empty() ? 0 : timeline.front().ms;
  for (const Moment& m : timeline) {
    char line[64];
    if (m.shot) {
      std::snprintf(line, sizeof line, "\n  +%lld ms shot", (long long)(m.ms - start));
    } else {
      std::snprintf(line, sizeof line, "\n  +%lld ms event 0x%04x%s", (long long)(m.ms - start),
                    m.event, m.pendingBefore ? " (shot pending)" : "");
    }
    text += line;
  }
  return text;
}

// Passes the window events on to the input watch and notes each in the
// timeline, with the delayed-shot state around it.
class WindowEventTee : public WindowEventSource, public WindowEventSink {
 public:
  WindowEventTee(WindowEventSource& real, std::vector<Moment>& timeline,
                 std::function<bool()> pending, const int& shots)
      : real_(real), timeline_(timeline), pending_(std::move(pending)), shots_(shots) {}
  bool Install(WindowEventSink& sink) override {
    next_ = &sink;
    return real_.Install(*this);
  }
  bool Remove() override { return real_.Remove(); }
  void WinEventProc(std::uint32_t event) override {
    Moment moment;
    moment.pendingBefore = pending_();
    moment.shotsBefore = shots_;
    next_->WinEventProc(event);
    moment.pendingAfter = pending_();
    moment.shotsAfter = shots_;
    moment.event = event;
    moment.ms = NowMs();
    timeline_.push_back(moment);
  }

 private:
  WindowEventSource& real_;
  std::vector<Moment>& timeline_;
  std::function<bool()> pending_;
  const int& shots_;
  WindowEventSink* next_ = nullptr;
};

struct LiveRig {
  explicit LiveRig(const std::string& display = {})
      : counting(sockets),
        input(counting, display),
        windowEvents(counting, display),
        tee(input),
        windowTee(
            windowEvents, timeline, [this] { return DelayedShotPending(); }, shots),
        pointer(display) {
    App();
    settings.SetTakeShotOnKey(false);
    recorder = std::make_unique<Recorder>(
        settings, testing::RecorderServices(timers, tray, boxes, pointer, lastError, [this] {
          ++shots;
          Moment moment;
          moment.shot = true;
          moment.pendingBefore = moment.pendingAfter = DelayedShotPending();
          moment.ms = NowMs();
          timeline.push_back(moment);
        }));
    timers.SetExpiryHandler([this](std::int32_t id) { recorder->OnTimer(id); });
    watch = std::make_unique<InputWatch>(settings, *recorder, poster, pointer, tee, windowTee);
    recorder->TogglePause();  // the program starts paused
  }
  ~LiveRig() { watch->StopHook(); }
  bool DelayedShotPending() const { return recorder && recorder->State().DelayedShotPending(); }
  void Resume() {
    if (recorder->Paused()) recorder->TogglePause();
  }
  // Sends a, waits for its release: every earlier event has been handled.
  bool Sync() {
    const std::size_t before = tee.events.size();
    Shell("xdotool key a");
    return PumpUntil([&] {
      for (std::size_t i = before; i < tee.events.size(); ++i) {
        if (tee.events[i].Message == KeyUp && (tee.events[i].ParamL & 0xFF) == 'A') return true;
      }
      return false;
    });
  }

  Settings settings;
  QtSocketWatcher sockets;
  CountingWatch counting;
  QtTimerService timers;
  X11InputRecorder input;
  X11WindowEvents windowEvents;
  TeeSource tee;
  std::vector<Moment> timeline;
  int shots = 0;
  WindowEventTee windowTee;
  TrayState tray;
  testing::FakeBoxes boxes;
  testing::FakePoster poster;
  X11WindowSystem pointer;
  ThreadLastErrorSource lastError;
  std::unique_ptr<Recorder> recorder;
  std::unique_ptr<InputWatch> watch;
};

TEST(InputRecording, ChordsToggleRecorderAndView) {
  LiveRig rig;
  ASSERT_TRUE(rig.watch->StartHook());
  ASSERT_TRUE(rig.recorder->Paused());

  Shell("xdotool keydown ctrl keydown shift keyup shift keyup ctrl");
  EXPECT_TRUE(PumpUntil([&] { return !rig.recorder->Paused(); })) << "Ctrl then Shift resumes";
  EXPECT_TRUE(rig.tee.Saw(KeyDown, 0x11));
  EXPECT_TRUE(rig.tee.Saw(KeyDown, 0x10));
  EXPECT_EQ(rig.tray.IconId(), kProgramIcon);

  rig.settings.SetTakeShotOnClick(true);
  Shell("xdotool keydown shift keydown ctrl keyup ctrl keyup shift");
  EXPECT_TRUE(PumpUntil([&] { return rig.poster.Count(MainWindowMessages::ToggleMainView) == 1; }))
      << "Shift then Ctrl posts the view toggle";
  EXPECT_TRUE(rig.recorder->Paused()) << "with an automatic trigger on, the view chord pauses";
  ASSERT_TRUE(rig.Sync());
  EXPECT_EQ(rig.poster.Count(MainWindowMessages::ToggleMainView), 1);
}

TEST(InputRecording, KeysAndButtonsArriveWithTheirMessagesAndCodes) {
  LiveRig rig;
  rig.settings.SetTakeShotOnKey(true);
  rig.settings.SetTakeShotOnPrintScreen(true);
  rig.settings.SetTakeShotOnClick(true);
  ASSERT_TRUE(rig.watch->StartHook());
  rig.Resume();

  Shell("xdotool key Print");
  ASSERT_TRUE(PumpUntil([&] { return rig.tee.Saw(KeyUp, 0x2C); }));
  EXPECT_TRUE(rig.tee.Saw(KeyDown, 0x2C));
  EXPECT_EQ(rig.shots, 2) << "Print Screen press and its release (key trigger)";

  Shell("xdotool key 5 ctrl+Pause");
  ASSERT_TRUE(PumpUntil([&] { return !rig.watch->JournalHookInstalled(); }));
  EXPECT_TRUE(rig.tee.Saw(KeyDown, '5'));
  EXPECT_TRUE(rig.tee.Saw(KeyUp, '5'));
  EXPECT_TRUE(rig.tee.Saw(KeyDown, 0x03)) << "Ctrl+Pause is Ctrl+Break";
  EXPECT_TRUE(rig.boxes.shown.empty());

  LiveRig mouse;
  mouse.settings.SetTakeShotOnClick(true);
  ASSERT_TRUE(mouse.watch->StartHook());
  mouse.Resume();
  Shell("xdotool mousemove 300 300 click 1 click 2 click 3 click 4 click 5");
  ASSERT_TRUE(mouse.Sync());
  std::vector<std::uint32_t> buttons;
  for (const InputEvent& e : mouse.tee.events) {
    if (e.Message >= 0x200 && e.Message <= 0x20E) buttons.push_back(e.Message);
  }
  EXPECT_EQ(buttons, (std::vector<std::uint32_t>{0x201, 0x202, 0x207, 0x208, 0x204, 0x205}))
      << "left, middle, right; the wheel is not recorded";
  EXPECT_EQ(mouse.shots, 3) << "presses take shots, releases do not";
}

TEST(InputRecording, KeysymsBecomeVirtualKeysAndSystemKeys) {
  using R = X11InputRecorder;
  EXPECT_EQ(R::VirtualKeyOf(XK_Shift_L), 0x10);
  EXPECT_EQ(R::VirtualKeyOf(XK_Shift_R), 0x10);
  EXPECT_EQ(R::VirtualKeyOf(XK_Control_R), 0x11);
  EXPECT_EQ(R::VirtualKeyOf(XK_Print), 0x2C);
  EXPECT_EQ(R::VirtualKeyOf(XK_a), 'A');
  EXPECT_EQ(R::VirtualKeyOf(XK_Z), 'Z');
  EXPECT_EQ(R::VirtualKeyOf(XK_7), '7');
  EXPECT_EQ(R::VirtualKeyOf(XK_F1), 0x70);
  EXPECT_EQ(R::VirtualKeyOf(XK_F12), 0x7B);
  EXPECT_EQ(R::VirtualKeyOf(XK_KP_3), 0x63);
  EXPECT_EQ(R::VirtualKeyOf(XK_Return), 0x0D);
  EXPECT_EQ(R::VirtualKeyOf(XK_Escape), 0x1B);

  const auto pause = R::TranslateKey(XK_Pause, true, false, false);
  const auto ctrlPause = R::TranslateKey(XK_Pause, true, true, false);
  ASSERT_TRUE(pause && ctrlPause);
  EXPECT_EQ(pause->ParamL, 0x13u);
  EXPECT_EQ(ctrlPause->ParamL, 0x03u) << "Ctrl+Pause is Break";
  EXPECT_EQ(ctrlPause->Message, KeyDown);

  EXPECT_EQ(R::TranslateKey(XK_Tab, true, false, true)->Message, SysKeyDown) << "Alt+Tab";
  EXPECT_EQ(R::TranslateKey(XK_Alt_L, false, false, true)->Message, SysKeyUp);
  EXPECT_EQ(R::TranslateKey(XK_F10, true, false, false)->Message, SysKeyDown);
  EXPECT_EQ(R::TranslateKey(XK_x, true, true, true)->Message, KeyDown) << "Ctrl+Alt+X";
  EXPECT_EQ(R::TranslateKey(XK_x, false, false, false)->Message, KeyUp);

  EXPECT_EQ(R::TranslateButton(1, true)->Message, LButtonDown);
  EXPECT_EQ(R::TranslateButton(3, false)->Message, RButtonUp);
  for (unsigned wheel = 4; wheel <= 9; ++wheel) {
    EXPECT_FALSE(R::TranslateButton(wheel, true).has_value()) << wheel;
  }
}

TEST(InputRecording, KeyWithoutVirtualKeyIsIgnored) {
  LiveRig rig;
  ASSERT_TRUE(rig.watch->StartHook());
  // A keycode given no keysym at all, pressed by another client.
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  int minCode = 0, maxCode = 0;
  XDisplayKeycodes(display, &minCode, &maxCode);
  int free = 0;
  for (int code = maxCode; code >= minCode && free == 0; --code) {
    if (XkbKeycodeToKeysym(display, code, 0, 0) == NoSymbol) free = code;
  }
  XCloseDisplay(display);
  ASSERT_NE(free, 0) << "no unmapped keycode on this server";
  EXPECT_FALSE(X11InputRecorder::TranslateKey(NoSymbol, true, false, false).has_value());
  EXPECT_FALSE(X11InputRecorder::TranslateKey(XF86XK_AudioMute, true, false, false).has_value());

  Shell("xdotool key " + std::to_string(free) + " XF86AudioMute");
  ASSERT_TRUE(rig.Sync());
  ASSERT_EQ(rig.tee.events.size(), 2u) << "only the sentinel key arrived";
  EXPECT_EQ(rig.tee.events[0].Message, KeyDown);
}

TEST(InputRecording, TwoRightClicksMarkTheArea) {
  LiveRig rig;
  ASSERT_TRUE(rig.watch->StartHook());
  rig.watch->ArmMarking(true);
  Shell("xdotool mousemove 500 400 click 3");
  ASSERT_TRUE(PumpUntil([&] { return rig.watch->MarkStep() == 2; }));
  Shell("xdotool mousemove 100 100 click 3");
  ASSERT_TRUE(PumpUntil([&] { return rig.watch->MarkStep() == 0; }));
  EXPECT_EQ(rig.watch->UserArea(), (Rect{100, 100, 500, 400}));
  EXPECT_TRUE(rig.settings.HasMarkUserArea());
  Shell("xdotool click 3");
  ASSERT_TRUE(rig.Sync());
  EXPECT_EQ(rig.poster.Count(MainWindowMessages::UserAreaDefined), 1);
}

// Forks a process that opens its own connection, creates and maps a window
// (200 × 150 at (50, 60), or covering the screen), then waits to be killed.
HeldChild SpawnWindowMaker(bool overrideRedirect = false, bool coverScreen = false) {
  return HeldChild([&](const std::function<void()>& hold) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = overrideRedirect;
    const int screen = DefaultScreen(display);
    const unsigned width = coverScreen ? unsigned(DisplayWidth(display, screen)) : 200;
    const unsigned height = coverScreen ? unsigned(DisplayHeight(display, screen)) : 150;
    Window window = XCreateWindow(display, DefaultRootWindow(display), coverScreen ? 0 : 50,
                                  coverScreen ? 0 : 60, width, height, 0, CopyFromParent,
                                  InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapWindow(display, window);
    XSync(display, False);
    hold();
  });
}

// The tests click and scroll with xdotool wherever the pointer is. On the
// bare root window openbox would open its menus or switch desktops and show
// a popup that it hides again later by itself: window events at a time no
// test controls, which could take shots in a later test. So the clicks land
// on a window of another process that covers the screen, for the whole run.
class ClickPad : public ::testing::Environment {
 public:
  void SetUp() override {
    pad_ = std::make_unique<HeldChild>(SpawnWindowMaker(true, true));
    ASSERT_TRUE(pad_->Ready());
  }
  void TearDown() override { pad_.reset(); }

 private:
  std::unique_ptr<HeldChild> pad_;
};
::testing::Environment* const kClickPad = ::testing::AddGlobalTestEnvironment(new ClickPad);

// Checks a timeline against what the window-event trigger promises: an event
// never takes a shot at once, an event that finds a shot pending schedules
// none, and every shot is the one scheduled by an event that arrived after
// the previous shot. Returns how many shots events scheduled.
int ExpectShotsFollowTheirEvents(const std::vector<Moment>& timeline) {
  bool scheduled = false;
  int schedules = 0, shot = 0;
  for (const Moment& m : timeline) {
    if (m.shot) {
      ++shot;
      EXPECT_TRUE(scheduled) << "shot " << shot << " without an event since the shot before";
      EXPECT_FALSE(m.pendingAfter) << "shot " << shot << " left a shot pending";
      scheduled = false;
      continue;
    }
    EXPECT_EQ(m.shotsAfter, m.shotsBefore) << "a window event took a shot at once";
    if (m.pendingBefore) {
      EXPECT_TRUE(m.pendingAfter) << "an event while a shot was pending changed it";
    } else if (m.pendingAfter) {
      EXPECT_FALSE(scheduled) << "a second shot was scheduled before the first was taken";
      scheduled = true;
      ++schedules;
    }
  }
  EXPECT_FALSE(scheduled) << "the last scheduled shot was not taken";
  return schedules;
}

// Starts a rig whose window-event trigger is on and waits for quiet.
void StartWindowEventRig(LiveRig& rig) {
  rig.settings.SetTakeShotOnWinEvent(true);
  ASSERT_TRUE(rig.watch->StartHook());
  ASSERT_TRUE(rig.watch->WinEventHookInstalled());
  rig.Resume();
  PumpFor(300);  // let anything left from earlier tests settle
  ASSERT_TRUE(PumpUntil([&] { return !rig.DelayedShotPending(); }));
  rig.shots = 0;
  rig.timeline.clear();
}

// Stops watching and lets a shot still pending be taken.
void StopWindowEventRig(LiveRig& rig) {
  rig.watch->StopHook();
  EXPECT_TRUE(PumpUntil([&] { return !rig.DelayedShotPending(); }));
}

TEST(InputRecording, OverrideRedirectWindowGivesExactlyOneDelayedShot) {
  // No window manager handles an override-redirect window: its creation and
  // mapping are the only events, one burst, so exactly one shot.
  LiveRig rig;
  ASSERT_NO_FATAL_FAILURE(StartWindowEventRig(rig));
  HeldChild child = SpawnWindowMaker(true);
  ASSERT_TRUE(child.Ready());
  EXPECT_TRUE(PumpUntil([&] { return rig.shots >= 1; })) << "the new window takes a shot";
  // Give a second burst every chance to show up before counting.
  PumpFor(700);
  StopWindowEventRig(rig);
  EXPECT_EQ(rig.shots, 1) << Describe(rig.timeline);
  EXPECT_EQ(ExpectShotsFollowTheirEvents(rig.timeline), 1);
  child.Kill();
}

TEST(InputRecording, ManagedWindowShotsEachFollowANewEvent) {
  // The window manager frames, focuses and decorates a managed window on its
  // own schedule, so its events may come in more than one burst and take
  // more than one shot; each shot still answers an event that arrived after
  // the shot before it, and events while a shot is pending add none.
  LiveRig rig;
  ASSERT_NO_FATAL_FAILURE(StartWindowEventRig(rig));
  HeldChild child = SpawnWindowMaker();
  ASSERT_TRUE(child.Ready());
  EXPECT_TRUE(PumpUntil([&] { return rig.shots >= 1; })) << "the new window takes a shot";
  PumpFor(700);
  StopWindowEventRig(rig);
  EXPECT_GE(rig.shots, 1);
  EXPECT_EQ(ExpectShotsFollowTheirEvents(rig.timeline), rig.shots) << Describe(rig.timeline);
  child.Kill();
}

TEST(InputRecording, OwnWindowsAreSkipped) {
  LiveRig rig;
  rig.settings.SetTakeShotOnWinEvent(true);
  ASSERT_TRUE(rig.watch->StartHook());
  rig.Resume();
  PumpFor(300);
  rig.shots = 0;

  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  Window probe = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
  const unsigned long mask = 0x1FFFFF;  // the usual client id range of an X server
  rig.windowEvents.AddOwnClient(probe & ~mask, mask);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  Window own = XCreateWindow(display, DefaultRootWindow(display), 10, 10, 80, 80, 0, CopyFromParent,
                             InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
  XMapWindow(display, own);
  XMoveWindow(display, own, 40, 40);
  XUnmapWindow(display, own);
  XDestroyWindow(display, own);
  XDestroyWindow(display, probe);
  XSync(display, False);
  PumpFor(500);
  EXPECT_EQ(rig.shots, 0) << "events of this process's windows take no shot";

  // A window of this process made on another connection (outside the
  // registered id range), found by its _NET_WM_PID.
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  Window tagged = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 10, 10, 0, 0, 0);
  const unsigned long pid = static_cast<unsigned long>(getpid());
  XChangeProperty(other, tagged, XInternAtom(other, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  XSync(other, False);
  EXPECT_TRUE(rig.windowEvents.BelongsToThisProcess(tagged));
  XDestroyWindow(other, tagged);
  XSync(other, False);
  EXPECT_FALSE(rig.windowEvents.BelongsToThisProcess(tagged))
      << "a window that vanished is examined without harm";
  XCloseDisplay(other);
  XCloseDisplay(display);
}

Window ActiveWindow(Display* display) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  Window active = None;
  if (XGetWindowProperty(display, DefaultRootWindow(display),
                         XInternAtom(display, "_NET_ACTIVE_WINDOW", False), 0, 1, False, XA_WINDOW,
                         &type, &format, &items, &after, &data) == Success &&
      data != nullptr && items >= 1) {
    active = static_cast<Window>(reinterpret_cast<unsigned long*>(data)[0]);
  }
  if (data != nullptr) XFree(data);
  return active;
}

void Activate(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // from a pager: no focus-stealing prevention
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display);
}

TEST(InputRecording, OwnManagedWindowsAndTheirFramesAreSkipped) {
  LiveRig rig;
  rig.settings.SetTakeShotOnWinEvent(true);
  ASSERT_TRUE(rig.watch->StartHook());
  rig.Resume();

  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  Window probe = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
  const unsigned long mask = 0x1FFFFF;
  rig.windowEvents.AddOwnClient(probe & ~mask, mask);
  // Two ordinary windows of "this process", each put into a frame by the
  // window manager.
  Window first =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 100, 100, 200, 150, 0, 0, 0);
  Window second =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 400, 100, 200, 150, 0, 0, 0);
  XMapWindow(display, first);
  XMapWindow(display, second);
  XSync(display, False);
  auto framed = [&](Window w) {
    Window root = None, parent = None, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, w, &root, &parent, &children, &count)) return false;
    if (children != nullptr) XFree(children);
    return parent != root;
  };
  ASSERT_TRUE(PumpUntil([&] { return framed(first) && framed(second); }))
      << "the window manager frames both windows";
  // The empty frames' creation may count; let that settle.
  PumpFor(700);
  rig.shots = 0;

  XMoveWindow(display, first, 150, 180);
  XResizeWindow(display, second, 300, 200);
  XRaiseWindow(display, first);
  XStoreName(display, first, "renamed");
  XSync(display, False);
  Activate(display, first);
  ASSERT_TRUE(PumpUntil([&] { return ActiveWindow(display) == first; }));
  Activate(display, second);
  ASSERT_TRUE(PumpUntil([&] { return ActiveWindow(display) == second; }));
  PumpFor(500);
  EXPECT_EQ(rig.shots, 0) << "moving, restacking, renaming and activating our own windows";
  EXPECT_FALSE(rig.recorder->State().DelayedShotPending());

  // A foreign window becoming active still counts.
  HeldChild child = SpawnWindowMaker();
  ASSERT_TRUE(child.Ready());
  EXPECT_TRUE(PumpUntil([&] { return rig.shots >= 1; }));
  child.Kill();
  XDestroyWindow(display, first);
  XDestroyWindow(display, second);
  XDestroyWindow(display, probe);
  XCloseDisplay(display);
}

TEST(InputRecording, WhilePausedOnlyChordsMarkingAndCtrlBreakWork) {
  LiveRig rig;
  rig.settings.SetTakeShotOnKey(true);
  rig.settings.SetTakeShotOnPrintScreen(true);
  rig.settings.SetTakeShotOnClick(true);
  rig.settings.SetTakeShotOnWinEvent(true);
  ASSERT_TRUE(rig.watch->StartHook());
  ASSERT_TRUE(rig.recorder->Paused());

  HeldChild child = SpawnWindowMaker(true);
  Shell("xdotool key Print b click 1");
  ASSERT_TRUE(rig.Sync());
  PumpFor(300);
  EXPECT_EQ(rig.shots, 0);
  EXPECT_FALSE(rig.recorder->State().DelayedShotPending());
  child.Kill();

  rig.watch->ArmMarking(true);
  Shell("xdotool mousemove 20 30 click 3");
  EXPECT_TRUE(PumpUntil([&] { return rig.watch->MarkStep() == 2; })) << "marking works paused";

  Shell("xdotool keydown shift keydown ctrl keyup ctrl keyup shift");
  EXPECT_TRUE(PumpUntil([&] { return rig.poster.Count(MainWindowMessages::ToggleMainView) == 1; }));
  EXPECT_TRUE(rig.recorder->Paused());

  Shell("xdotool key ctrl+Pause");
  EXPECT_TRUE(PumpUntil([&] { return !rig.watch->JournalHookInstalled(); }));
  EXPECT_FALSE(rig.watch->WinEventHookInstalled());
  Shell("xdotool keydown ctrl keydown shift keyup shift keyup ctrl");
  PumpFor(500);
  EXPECT_TRUE(rig.recorder->Paused()) << "after Ctrl+Break the chords are gone";
}

TEST(InputRecording, QuietDesktopWakesNothingWhilePaused) {
  // Both sources are served by socket notifiers: with nobody typing, clicking
  // or changing windows, the event loop must sleep instead of calling them
  // over and over (a notifier left readable would spin it thousands of times
  // a second).
  LiveRig rig;
  ASSERT_TRUE(rig.watch->StartHook());
  ASSERT_TRUE(rig.recorder->Paused());
  PumpFor(300);  // whatever the start-up itself stirred
  rig.counting.wakeups = 0;
  rig.tee.events.clear();

  QEventLoop loop;
  QTimer::singleShot(2000, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_TRUE(rig.tee.events.empty());
  EXPECT_LE(rig.counting.wakeups, 10) << "the sources were woken without anything to read";

  // Still served: one key press and release come through.
  ASSERT_TRUE(rig.Sync());
  EXPECT_GE(rig.counting.wakeups, 1);
}

}  // namespace
}  // namespace framory
