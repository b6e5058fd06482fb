// Pieces the capture benchmarks share: CPU time of the benchmark itself, of
// a child and of the X server; a window of another process that keeps
// repainting; and the small services the recorder and the clip session need
// when they run outside the program.
#pragma once

// Qt before X11: Xlib defines macros (None, Status) that Qt's headers use.
#include <QCoreApplication>
#include <QTimer>

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Recorder.h"
#include "app/TrayState.h"
#include "base/LastError.h"
#include "base/MessageBoxService.h"
#include "base/Settings.h"
#include "capture/CaptureLinks.h"
#include "capture/CaptureTarget.h"
#include "capture/ClipSession.h"
#include "capture/FrameGrabber.h"
#include "capture/OutputNaming.h"
#include "capture/WriterFailureBoxes.h"
#include "platform/media/FfmpegAviFileLibrary.h"
#include "platform/media/FfmpegWebMovieLibrary.h"
#include "platform/qt/QtSocketWatcher.h"
#include "platform/qt/QtTimerService.h"
#include "platform/x11/X11ScreenChanges.h"
#include "platform/x11/X11ScreenGrabber.h"
#include "platform/x11/X11WindowSystem.h"
#include "writers/MovieWriterFactory.h"
#include "writers/WmFormatApi.h"

namespace framory::bench {

// User plus system seconds of a resource usage.
double CpuSeconds(const rusage& usage);

// The X server serving DISPLAY, found by its command line (Xvfb :N ...);
// -1 when there is none.
pid_t XServerPid();

// User and system CPU seconds of process `pid` so far (0 when unknown).
double ProcessCpuSeconds(pid_t pid);

// Runs `argv` and waits for it; its resource usage goes to `usage` (may be
// null). With `quiet`, its standard output is dropped. True when it exited 0.
bool Run(const std::vector<std::string>& argv, rusage* usage, bool quiet = true);

// A window of another process at (x, y) of the given size, whose stripes
// move and change colour at every repaint, about 50 times a second, so that
// every frame recorded differs there. Killed when destroyed.
class StripedWindow {
 public:
  StripedWindow() = default;
  StripedWindow(const StripedWindow&) = delete;
  StripedWindow& operator=(const StripedWindow&) = delete;
  ~StripedWindow();
  bool Start(int x, int y, int width, int height);

 private:
  pid_t pid_ = -1;
};

// Message boxes go to stderr under the benchmark's name, and are counted.
class PrintingBoxes : public MessageBoxService {
 public:
  explicit PrintingBoxes(std::string program) : program_(std::move(program)) {}
  int Show(const std::string& text, const std::string& caption, std::uint32_t flags) override;
  int shown = 0;

 private:
  std::string program_;
};

// The clip session's host: pauses and reports through the recorder.
class BenchClipHost : public ClipHost {
 public:
  explicit BenchClipHost(Recorder& recorder) : recorder_(recorder) {}
  void TogglePause() override { recorder_.TogglePause(); }
  void ReportApiFailure(const std::string& name) override {
    recorder_.ReportApiFailure(name.c_str());
  }
  void RefreshMainDialogTitle() override {}
  void ClearMousePosSaved() override { recorder_.State().ClearMousePosSaved(); }

 private:
  Recorder& recorder_;
};

// The capture target's scheduler: the recorder's timers.
class RecorderScheduler : public ShotScheduler {
 public:
  explicit RecorderScheduler(Recorder& recorder) : recorder_(recorder) {}
  bool PeriodicTimerRunning() const override { return recorder_.PeriodicTimerRunning(); }
  void ScheduleDelayedShot(std::int32_t milliseconds) override {
    recorder_.ScheduleDelayedShot(milliseconds);
  }

 private:
  Recorder& recorder_;
};

// What one recording cost.
struct RecordingCost {
  double cpuSeconds = 0;       // this process, every thread
  double serverSeconds = 0;    // the X server meanwhile
  double recordedSeconds = 0;  // wall time the recorder was active
  bool boxShown = false;       // a writer or the recorder showed a box
};

// Framory's capture path wired as the program wires it, outside the
// program: the recorder's periodic timer, the capture target, FrameGrabber
// over the X11 grabber, the clip session and the AVI, QuickTime, WMV, MP4
// and WebM writers. The caller fills `settings` before Record.
class BenchRecorder {
 public:
  explicit BenchRecorder(const std::string& program);
  BenchRecorder(const BenchRecorder&) = delete;
  BenchRecorder& operator=(const BenchRecorder&) = delete;

  bool Valid() { return windows.Valid() && screen.Valid(); }
  // Stores repeats of an unchanged screen, as the program does.
  void TrackScreenChanges();
  // Resumes the recorder, runs the event loop for `seconds`, pauses and ends
  // the clip; `server` is the X server's process.
  RecordingCost Record(int seconds, pid_t server);

  Settings settings;
  X11WindowSystem windows;
  X11ScreenGrabber screen;

 private:
  TrayState tray_;
  QtTimerService timers_;
  QtSocketWatcher sockets_;
  PrintingBoxes boxes_;
  WriterFailureBoxes writerBoxes_{boxes_};
  ThreadLastErrorSource lastError_;
  OutputNaming naming_{settings};
  FfmpegAviFileLibrary aviLibrary_;
  std::unique_ptr<WmFormatLibrary> wmLibrary_ = CreateWmFormatLibrary();
  FfmpegWebMovieLibrary webMovies_;
  MovieWriterFactory writers_;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<BenchClipHost> host_;
  std::unique_ptr<ClipSession> clip_;
  std::unique_ptr<RecorderScheduler> scheduler_;
  CaptureLinks links_;
  std::unique_ptr<CaptureTarget> target_;
  std::unique_ptr<FrameGrabber> grabber_;
  std::optional<X11ScreenChanges> changes_;
};

}  // namespace framory::bench
