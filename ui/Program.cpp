#include "ui/Program.h"

#include <xcb/xcb.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QSessionManager>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "app/Application.h"
#include "app/ClipRecovery.h"
#include "app/EmergencyExit.h"
#include "app/InstanceChannel.h"
#include "app/Launchers.h"
#include "app/QuitSignals.h"
#include "app/Recorder.h"
#include "app/RecordingMeter.h"
#include "app/RemoteControl.h"
#include "app/SettingsStore.h"
#include "app/TrayState.h"
#include "base/LastError.h"
#include "capture/CaptureTarget.h"
#include "capture/ClipSession.h"
#include "capture/FrameGrabber.h"
#include "capture/InputWatch.h"
#include "capture/OutputNaming.h"
#include "capture/StillImageWriter.h"
#include "capture/StreamScreen.h"
#include "capture/StreamSizeCut.h"
#include "capture/StreamWindowSystem.h"
#include "capture/WriterFailureBoxes.h"
#include "platform/encoder/WmEncoderLibrary.h"
#include "platform/media/FfmpegAviFileLibrary.h"
#include "platform/media/FfmpegStreamOutput.h"
#include "platform/media/FfmpegWebMovieLibrary.h"
#include "platform/media/MediaLog.h"
#include "platform/media/WmFfmpegLibrary.h"
#include "platform/qt/DbusNotifications.h"
#include "platform/qt/DbusRemoteService.h"
#include "platform/qt/QtDesktopActions.h"
#include "platform/qt/QtMessageBoxService.h"
#include "platform/qt/QtShell.h"
#include "platform/qt/QtSocketWatcher.h"
#include "platform/qt/QtTimerService.h"
#include "platform/qt/QtWaitCursor.h"
#include "platform/sound/PulseClipSound.h"
#include "platform/wayland/WaylandScreenSource.h"
#include "platform/x11/X11InputRecorder.h"
#include "platform/x11/X11ScreenChanges.h"
#include "platform/x11/X11ScreenGrabber.h"
#include "platform/x11/X11WindowEvents.h"
#include "platform/x11/X11WindowSystem.h"
#include "ui/AreaMarker.h"
#include "ui/CommentWindowHost.h"
#include "ui/OptionsView.h"
#include "ui/ProjectDialogRun.h"
#include "ui/QtCommentChoosers.h"
#include "ui/ShellDialogServices.h"
#include "ui/UiState.h"
#include "writers/ClipJournal.h"
#include "writers/MovieWriterFactory.h"
#include "writers/StreamStatus.h"

// The icon resources live in a static library; they are registered by hand.
static void RegisterIconResources() { Q_INIT_RESOURCE(icons); }

namespace framory {

namespace {

// A file: address for a local path, bytes other than letters, digits, "/"
// and "-._~" percent-encoded (a folder name with a space stays one address).
std::string FileUrl(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char c : path) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || c == '/' ||
        c == '-' || c == '.' || c == '_' || c == '~') {
      url += c;
    } else {
      url += '%';
      url += kHex[b >> 4];
      url += kHex[b & 0xF];
    }
  }
  return url;
}

// The clip session's view of the recorder and the options view.
class RecorderClipHost : public ClipHost {
 public:
  explicit RecorderClipHost(Recorder& recorder) : recorder_(recorder) {}
  void SetView(OptionsView* view) { view_ = view; }

  void TogglePause() override { recorder_.TogglePause(); }
  bool Paused() const override { return recorder_.Paused(); }
  void ReportApiFailure(const std::string& name) override {
    recorder_.ReportApiFailure(name.c_str());
  }
  void RefreshMainDialogTitle() override {
    if (view_ != nullptr) view_->RefreshTitle();
  }
  void ClearMousePosSaved() override { recorder_.State().ClearMousePosSaved(); }
  void ClipEnded(const std::string& savedPath) override {
    recorder_.RecordingEnded(savedPath);
    if (remote_ != nullptr) remote_->FileWritten(savedPath);
  }
  void FileSaved(const std::string& savedPath) override {
    recorder_.NoticeSaved(savedPath);
    if (remote_ != nullptr) remote_->FileWritten(savedPath);
  }
  void SetRemote(RemoteControl* remote) { remote_ = remote; }

 private:
  Recorder& recorder_;
  OptionsView* view_ = nullptr;
  RemoteControl* remote_ = nullptr;
};

// The options view as the capture target sees it: its window is never
// resized, and a shot refreshes nothing else.
class OptionsViewLink : public MainDialogView {
 public:
  void SetView(OptionsView* view) { view_ = view; }
  WindowHandle DialogWindow() const override {
    if (view_ == nullptr || view_->Dialog() == nullptr) return kNoWindow;
    return static_cast<WindowHandle>(view_->Dialog()->winId());
  }
  void RefreshTitle() override {
    if (view_ != nullptr) view_->RefreshTitle();
  }

 private:
  OptionsView* view_ = nullptr;
};

// The comment window as the capture target sees it.
class CommentWindowLink : public CommentWindowInfo {
 public:
  explicit CommentWindowLink(const CommentWindowHost& host) : host_(host) {}
  WindowHandle CommentWindow() const override { return host_.Handle(); }
  bool AllowCommentWindowAlone() const override { return host_.AllowCommentWindowAlone(); }

 private:
  const CommentWindowHost& host_;
};

// Tells the window-event source which window ids are the toolkit's own: a
// window just created has no properties yet, so its id is the only clue.
void RegisterOwnWindows(X11WindowEvents& windowEvents) {
  const auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
  const xcb_setup_t* setup = connection != nullptr ? xcb_get_setup(connection) : nullptr;
  if (setup == nullptr) return;
  windowEvents.AddOwnClient(setup->resource_id_base, setup->resource_id_mask);
}

// The newest picture of the stream, copied, for marking an area on.
QImage FrozenPicture(StreamScreen& screen) {
  Frame frame;
  const std::int32_t width = screen.Width();
  const std::int32_t height = screen.Height();
  if (width <= 0 || height <= 0 ||
      !screen.Grab(StreamScreen::kStreamWindow, 0, 0, width, height, &frame)) {
    return {};
  }
  return QImage(frame.Pixels, frame.Width, frame.Height, frame.BytesPerLine, QImage::Format_RGB32)
      .copy();
}

}  // namespace

int RunProgram(int argc, char** argv, InstanceServer* instances,
               const std::vector<std::string>& busNames) {
  // A file-size limit (ulimit -f) must not kill the recorder in the middle
  // of a picture or a clip: with SIGXFSZ ignored the write fails with EFBIG,
  // which the writers report like a full disk.
  std::signal(SIGXFSZ, SIG_IGN);
  QuietMediaLog();
  QApplication application(argc, argv);
  RegisterIconResources();
  // The dialogs come and go; the program lives on in the tray.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName(QStringLiteral("Framory"));

  Settings settings;
  TrayState tray;
  QtTimerService timers;
  QtSocketWatcher sockets;
  QtMessageBoxService boxes;
  QtShell shell(tray);
  X11WindowSystem windows;
  X11ScreenGrabber screen;
  ThreadLastErrorSource lastError;

  OutputNaming naming(settings);
  StillImageWriter stills(naming);
  FfmpegAviFileLibrary aviLibrary;
  // Open clips are journalled, so that one cut short by a crash is repaired
  // at the next start.
  ClipJournal journal(ClipJournal::DefaultFolder());
  // The writers report their failures; these boxes show them. The WMV boxes
  // for a missing component point at the help page's section on the
  // packages that provide the codecs.
  WriterFailureBoxes writerBoxes(
      boxes, FileUrl(ProgramFileWithExtension(OwnProgramPath(), ".html")) + "#windows-media");
  MovieWriterFactory writers(&aviLibrary, &writerBoxes, windows.ScreenWidth(),
                             windows.ScreenHeight());
  WmFfmpegLibrary wmLibrary;
  writers.SetWmvLibrary(&wmLibrary);
  writers.SetJournal(&journal);
  WmEncoderLibrary encoders;
  QtWaitCursor waitCursor;
  writers.SetEncoderServices(&encoders);
  // The MP4 and WebM clips, with their sound read from the sound server
  // (the microphone, the desktop's sound or both, as "Sound from:" says).
  FfmpegWebMovieLibrary webMovies;
  writers.SetWebMovieLibrary(&webMovies);
  PulseClipSoundSource clipSound;
  writers.SetClipSoundSource(&clipSound);
  // The broadcast to a streaming server; its sound comes from the same
  // source as the MP4 and WebM clips' sound.
  FfmpegStreamOutputLibrary streams;
  StreamStatus streamStatus;
  writers.SetStreamServices(&streams, &streamStatus);

  // The tray tip's time and size while recording, and the desktop
  // notification for each saved clip.
  SteadyClock meterClock;
  RecordingMeter meter(meterClock);
  QtDesktopActions desktop;
  DbusNotifications notices(desktop);

  // Every shot goes through here; set once all parts exist.
  std::function<void()> takeShot;
  Recorder::Services recorderServices;
  recorderServices.Meter = &meter;
  recorderServices.Notices = &notices;
  recorderServices.Stream = &streamStatus;
  recorderServices.Timers = &timers;
  recorderServices.Tray = &tray;
  recorderServices.Boxes = &boxes;
  recorderServices.Windows = &windows;
  recorderServices.LastError = &lastError;
  recorderServices.TakeShot = [&takeShot] {
    if (takeShot) takeShot();
  };
  Recorder recorder(settings, recorderServices);

  RecorderClipHost clipHost(recorder);
  stills.SetHost(&clipHost);
  ClipSession clip(settings, naming, writers, clipHost);
  clip.SetMergeServices(&waitCursor, &shell);
  recorder.SetEncoder(&clip);

  // The remote control: the chords' commands and the state, for desktop
  // shortcuts and scripts (framory --toggle-recording, ...).
  RemoteControl remote(settings, recorder, shell, [&clip] { return clip.ClipFile(); });
  clipHost.SetRemote(&remote);
  naming.SetNameObserver([&meter, &remote](const std::string& path, bool picture) {
    meter.FileNamed(path, picture);
    if (picture) remote.FileWritten(path);
  });

  X11InputRecorder input(sockets);
  X11WindowEvents windowEvents(sockets);
  RegisterOwnWindows(windowEvents);
  InputWatch watch(settings, recorder, shell, windows, input, windowEvents);

  // The comment window takes its starting folder and backup place from the
  // project, and "Set Size to Movie Size" the open clip's size.
  QtCommentChoosers commentChoosers;
  CommentWindowServices commentServices;
  commentServices.Choosers = &commentChoosers;
  commentServices.ProjectFolder = [&settings] { return settings.ProjectFolder(); };
  commentServices.SizeSource = [&settings, &clip] {
    return CommentSizeSource{
        clip.ClipOpen(),           clip.MovieWidth(),          clip.MovieHeight(),
        settings.ResizeFGWindow(), settings.ResizeFGWindowX(), settings.ResizeFGWindowY()};
  };
  CommentWindowHost comment(commentServices);
  CommentWindowLink commentLink(comment);

  OptionsViewLink viewLink;
  CaptureLinks links;
  links.Comment = &commentLink;
  links.Clip = &clip;
  links.Stills = &stills;
  links.Scheduler = &watch;
  links.Dialog = &viewLink;
  CaptureTarget target(settings, windows, links);
  FrameGrabber frameGrabber(settings, screen, target, links);
  // FRAMORY_SCREEN_CHANGES=0 turns change tracking off (every shot grabs
  // the whole region), for comparing the cost of both ways.
  const char* tracking = std::getenv("FRAMORY_SCREEN_CHANGES");
  const bool trackChanges = tracking == nullptr || std::string(tracking) != "0";
  std::optional<X11ScreenChanges> screenChanges;
  if (trackChanges) screenChanges.emplace(screen.Connection(), sockets);
  if (screenChanges && screenChanges->Tracking()) frameGrabber.SetChangeWatch(&*screenChanges);

  // In a Wayland session X11 shows only XWayland's windows: the screen comes
  // from the desktop's ScreenCast portal or the compositor's screen copies
  // instead, chosen while the program starts. Until the choice is made no
  // picture is taken; without either, X11 capture goes on for what it sees.
  const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
  StreamScreen streamScreen;
  StreamWindowSystem streamWindows(streamScreen);
  CaptureTarget streamTarget(settings, streamWindows, links);
  FrameGrabber streamGrabber(settings, streamScreen, streamTarget, links);
  streamGrabber.SetChangeWatch(&streamScreen);
  StreamSizeCut sizeCut(streamScreen, clip, [&clip] { clip.EndClip(); });
  std::optional<WaylandScreenSource> waylandSource;
  if (waylandDisplay != nullptr && *waylandDisplay != '\0') {
    waylandSource.emplace(streamScreen, settings);
  }
  bool streamFailureShown = false;
  takeShot = [&] {
    const WaylandScreenSource::Way way =
        waylandSource ? waylandSource->Current() : WaylandScreenSource::Way::Unavailable;
    if (way == WaylandScreenSource::Way::Asking) return;
    if (way == WaylandScreenSource::Way::Portal || way == WaylandScreenSource::Way::ScreenCopy) {
      const std::string failure = waylandSource->Failure();
      if (!failure.empty()) {
        if (!streamFailureShown) {
          streamFailureShown = true;
          recorder.ReportErrorAndPause(WaylandScreenSource::kStoppedText, failure.c_str());
        }
        return;
      }
      waylandSource->SetDrawPointer(settings.PutCursorInBitmap());
      sizeCut.BeforeShot();
      streamGrabber.TakeShot();
      sizeCut.AfterShot();
      return;
    }
    frameGrabber.TakeShot();
  };

  const char* searchPath = std::getenv("PATH");
  Launchers launchers(desktop, OwnProgramPath(), searchPath != nullptr ? searchPath : "");
  launchers.SetLateFailureHandler(
      [&boxes](const FailureBox& box) { boxes.Show(box.Text, box.Caption, box.Style); });
  UiState uiState;
  ShellDialogServices::Parts parts;
  parts.Control = &recorder;
  parts.Clip = &clip;
  parts.Target = &target;
  parts.Input = &watch;
  parts.Naming = &naming;
  parts.Poster = &shell;
  parts.Boxes = &boxes;
  parts.Desktop = &desktop;
  // On Wayland the area is dragged out over a frozen picture of the stream;
  // where capture fell back to X11, it is marked there by clicks.
  if (waylandSource) {
    parts.DraggingMarks = [&uiState] { return uiState.WaylandSession; };
    parts.MarkByDragging = [&streamScreen, &settings, &shell] {
      const QImage picture = FrozenPicture(streamScreen);
      if (picture.isNull()) return;
      auto* marker = new AreaMarker(picture, [&settings, &shell](const Rect& area) {
        settings.SetUserArea(area);
        settings.SetHasMarkUserArea(true);
        shell.PostMessage(MainWindowMessages::UserAreaDefined);
      });
      marker->showFullScreen();
      marker->activateWindow();
    };
  }
  ShellDialogServices services(parts);
  OptionsView view(settings, services, launchers, uiState);
  // Started once the options view exists: the choice may come at once (no
  // portal on the bus) or while the view is shown, and greys its triggers
  // only when the Wayland source is the one in use.
  if (waylandSource) {
    waylandSource->Start([&](WaylandScreenSource::Way way, const std::string&) {
      if (way == WaylandScreenSource::Way::Portal || way == WaylandScreenSource::Way::ScreenCopy) {
        uiState.WaylandSession = true;
        // The screen encoder's file and broadcast record the same screen.
        encoders.SetScreenStream(&streamScreen);
        if (MainDialog* dialog = view.Dialog()) dialog->ShowWaylandLimits();
      } else if (way == WaylandScreenSource::Way::Unavailable) {
        boxes.Show(WaylandScreenSource::kNoCaptureText, "Framory", MessageBoxFlags::IconWarning);
      } else if (way == WaylandScreenSource::Way::Declined) {
        boxes.Show(WaylandScreenSource::kDeclinedText, "Framory", MessageBoxFlags::IconWarning);
      }
    });
  }
  recorder.SetOptionsView(&view);
  clipHost.SetView(&view);
  viewLink.SetView(&view);
  ProjectDialogRun projectRun(settings, services, launchers, uiState);

  Application::Steps steps;
  steps.LoadSettings = [](Settings& s) { LoadSettings(s); };
  steps.SaveSettings = [](const Settings& s) { SaveSettings(s); };
  steps.StartHook = [&watch] { return watch.StartHook(); };
  steps.StopHook = [&watch] { return watch.StopHook(); };
  steps.EndClip = [&clip] { clip.EndClip(); };
  steps.RunProjectDialog = [&projectRun] { return projectRun.Run(); };
  steps.RecoverClips = [&journal, &boxes] { ClipRecovery(journal, boxes).Run(); };
  steps.OpenCommentWindow = [&comment] { comment.Open(); };
  steps.ShowProjectDialog = [&projectRun] { projectRun.BringForward(); };
  Application shellLogic(settings, recorder, timers, shell, boxes, shell, std::move(steps));

  timers.SetExpiryHandler([&shellLogic](std::int32_t id) { shellLogic.HandleTimer(id); });
  boxes.SetSysModalHandler([&watch, &remote](bool active) {
    watch.SysModalChanged(active);
    remote.SetModalBox(active);
  });
  shell.SetMessageHandler([&shellLogic, &clip](std::uint32_t message, std::int32_t lParam) {
    // The end of a sound-track merge, posted from the merge's thread, is
    // the clip session's to finish.
    if (message == MainWindowMessages::SoundTrackMerged) {
      clip.SoundTrackMerged();
      return;
    }
    shellLogic.HandleMessage(message, lParam);
  });

  // A quit signal, or a session manager asking the program to save its
  // work, goes the way of "Stop and Exit": the destroy message ends the loop
  // and the shut-down below finishes the clip and saves the settings.
  QuitSignals quitSignals(sockets, [&shell](int) { shell.PostMessage(kDestroyWindowMessage); });
  quitSignals.Install();
  QObject::connect(&application, &QGuiApplication::commitDataRequest, &shell,
                   [&shell](QSessionManager&) { shell.PostMessage(kDestroyWindowMessage); });

  // A second start on this display asks for the options view, a remote
  // command for what it names, on the session bus or the instance socket.
  // Serving starts before the welcome dialog, so a start made while it is
  // open is answered too (by bringing the dialog forward); it stops before
  // the shell goes.
  struct StopServing {
    InstanceServer* server;
    ~StopServing() {
      if (server != nullptr) server->Close();
    }
  } stopServing{instances};
  if (instances != nullptr) {
    instances->Serve(
        sockets,
        [&remote](RemoteCommand command) -> std::optional<RemoteReply> {
          return remote.Check(command);
        },
        [&remote](RemoteCommand command) { remote.Carry(command); });
  }
  DbusRemoteService remoteService(remote);
  std::string busProblem;
  // Without a session bus the socket alone serves, which is said nowhere:
  // that is the normal case of a bare X session.
  if (!busNames.empty() && SessionBusConfigured() && !remoteService.Start(busNames, &busProblem)) {
    std::fprintf(stderr, "framory: %s; remote commands reach this recorder through its socket\n",
                 busProblem.c_str());
  }
  // The state is compared each time the event loop has done its work and
  // is about to wait: every change is announced once, whatever made it.
  remote.SetStateListener(
      [&remoteService](const RemoteState& state) { remoteService.Announce(state); });
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                   &remoteService, [&remote] { remote.Refresh(); });

  if (!shellLogic.Start()) return 0;
  // When the X server goes away, Qt's X connection ends the process with
  // exit(1) from inside the loop (our own connections only mark themselves
  // dead); the settings and the open clip are then saved from the exit
  // handler, with no call into Qt or X.
  EmergencyExit::Arm([&settings, &clip] {
    SaveSettings(settings);
    clip.FinishFiles();
  });
  const int code = QApplication::exec();
  // The name goes at once, with the answer to a Quit sent before it; the
  // settings and the clip are finished after.
  remoteService.Stop();
  shellLogic.ShutDown();
  // The clip ended at shut-down may still be merging its sound track.
  clip.WaitForMerges();
  EmergencyExit::Disarm();
  return code;
}

}  // namespace framory
