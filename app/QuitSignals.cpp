#include "app/QuitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace framory {

namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<int> g_writeFd{-1};
struct sigaction g_previous[sizeof kQuitSignals / sizeof kQuitSignals[0]];

extern "C" void OnQuitSignal(int signal) {
  const int saved = errno;
  const int fd = g_writeFd.load();
  if (fd >= 0) {
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe already holds a request; nothing is lost by dropping this.
    [[maybe_unused]] const ssize_t ignored = ::write(fd, &number, 1);
  }
  errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(SocketWatch& watch, std::function<void(int)> onQuit)
    : watch_(watch), onQuit_(std::move(onQuit)) {}

QuitSignals::~QuitSignals() {
  if (installed_) {
    for (std::size_t i = 0; i < sizeof kQuitSignals / sizeof kQuitSignals[0]; ++i) {
      sigaction(kQuitSignals[i], &g_previous[i], nullptr);
    }
    watch_.Unwatch(readFd_.Get());
    // The handler reaches the write end through the global only: once taken
    // out of it, no signal can write to it any more and it can be closed.
    UniqueFd(g_writeFd.exchange(-1)).Reset();
  }
}

bool QuitSignals::Install() {
  if (installed_ || g_writeFd.load() >= 0) return false;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  readFd_.Reset(fds[0]);
  g_writeFd.store(fds[1]);
  struct sigaction action = {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  // Slow calls interrupted by the signal go on by themselves.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < sizeof kQuitSignals / sizeof kQuitSignals[0]; ++i) {
    sigaction(kQuitSignals[i], &action, &g_previous[i]);
  }
  installed_ = true;
  watch_.Watch(readFd_.Get(), [this] { Drain(); });
  return true;
}

void QuitSignals::Drain() {
  unsigned char numbers[64];
  int last = 0;
  for (;;) {
    const ssize_t got = ::read(readFd_.Get(), numbers, sizeof numbers);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    last = numbers[got - 1];
  }
  if (last != 0 && onQuit_) onQuit_(last);
}

}  // namespace framory
