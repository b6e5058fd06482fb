#include "BenchSupport.h"

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace framory::bench {

namespace {

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

}  // namespace

double CpuSeconds(const rusage& usage) { return Seconds(usage.ru_utime) + Seconds(usage.ru_stime); }

pid_t XServerPid() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr) return -1;
  const std::string wanted = display;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    std::string arg0, arg1;
    std::getline(in, arg0, '\0');
    std::getline(in, arg1, '\0');
    if (arg0.find("Xvfb") != std::string::npos && arg1 == wanted) return std::stoi(name);
  }
  return -1;
}

double ProcessCpuSeconds(pid_t pid) {
  if (pid <= 0) return 0;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number == 14) utime = std::stoull(field);
    if (number == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool Run(const std::vector<std::string>& argv, rusage* usage, bool quiet) {
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (quiet) std::freopen("/dev/null", "w", stdout);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (child < 0) return false;
  int status = 0;
  rusage ignored{};
  if (wait4(child, &status, 0, usage != nullptr ? usage : &ignored) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool StripedWindow::Start(int x, int y, int width, int height) {
  pid_ = fork();
  if (pid_ != 0) return pid_ > 0;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) _exit(1);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
  Window window =
      XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                    static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWOverrideRedirect | CWBackPixel, &attributes);
  XMapWindow(display, window);
  GC gc = XCreateGC(display, window, 0, nullptr);
  for (unsigned long step = 0;; ++step) {
    for (int stripe = 0; stripe < width; stripe += 16) {
      const unsigned long shade = (static_cast<unsigned long>(stripe) * 3 + step * 7) & 0xFF;
      XSetForeground(display, gc, (shade << 16) | ((255 - shade) << 8) | ((shade * 5) & 0xFF));
      XFillRectangle(display, window, gc, (stripe + static_cast<int>(step) * 4) % width, 0, 16,
                     static_cast<unsigned>(height));
    }
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

StripedWindow::~StripedWindow() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

int PrintingBoxes::Show(const std::string& text, const std::string& caption, std::uint32_t) {
  std::fprintf(stderr, "%s: box \"%s\": %s\n", program_.c_str(), caption.c_str(), text.c_str());
  ++shown;
  return MessageBoxResults::Ok;
}

BenchRecorder::BenchRecorder(const std::string& program)
    : boxes_(program),
      writers_(&aviLibrary_, &writerBoxes_, windows.ScreenWidth(), windows.ScreenHeight()) {
  writers_.SetWmvLibrary(wmLibrary_.get());
  writers_.SetWebMovieLibrary(&webMovies_);
  Recorder::Services services;
  services.Timers = &timers_;
  services.Tray = &tray_;
  services.Boxes = &boxes_;
  services.Windows = &windows;
  services.LastError = &lastError_;
  services.TakeShot = [this] {
    if (grabber_ != nullptr) grabber_->TakeShot();
  };
  recorder_ = std::make_unique<Recorder>(settings, services);
  host_ = std::make_unique<BenchClipHost>(*recorder_);
  clip_ = std::make_unique<ClipSession>(settings, naming_, writers_, *host_);
  recorder_->SetEncoder(clip_.get());
  scheduler_ = std::make_unique<RecorderScheduler>(*recorder_);
  links_.Clip = clip_.get();
  links_.Scheduler = scheduler_.get();
  target_ = std::make_unique<CaptureTarget>(settings, windows, links_);
  grabber_ = std::make_unique<FrameGrabber>(settings, screen, *target_, links_);
  timers_.SetExpiryHandler([this](std::int32_t id) { recorder_->OnTimer(id); });
}

void BenchRecorder::TrackScreenChanges() {
  changes_.emplace(screen.Connection(), sockets_);
  if (!changes_->Tracking()) std::fprintf(stderr, "no DAMAGE: screen changes are not tracked\n");
  grabber_->SetChangeWatch(&*changes_);
}

RecordingCost BenchRecorder::Record(int seconds, pid_t server) {
  RecordingCost cost;
  rusage before{}, after{};
  const double serverBefore = ProcessCpuSeconds(server);
  getrusage(RUSAGE_SELF, &before);
  if (!recorder_->Paused()) recorder_->TogglePause();
  const auto resumed = std::chrono::steady_clock::now();
  recorder_->TogglePause();  // resumes: the periodic timer starts
  QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, QCoreApplication::instance(),
                     [] { QCoreApplication::quit(); });
  QCoreApplication::exec();
  if (!recorder_->Paused()) recorder_->TogglePause();
  cost.recordedSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - resumed).count();
  clip_->EndClip();  // finishes the file
  getrusage(RUSAGE_SELF, &after);
  cost.serverSeconds = ProcessCpuSeconds(server) - serverBefore;
  cost.cpuSeconds = CpuSeconds(after) - CpuSeconds(before);
  cost.boxShown = boxes_.shown > 0;
  return cost;
}

}  // namespace framory::bench
