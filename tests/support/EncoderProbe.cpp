#include "support/EncoderProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/ProgramLog.h"

namespace framory::testing {
namespace {

std::vector<std::pair<std::string, std::string>> SetVariables(
    const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<std::pair<std::string, std::string>> saved;
  for (const auto& [name, value] : values) {
    const char* old = std::getenv(name.c_str());
    saved.emplace_back(name, old != nullptr ? std::string("=") + old : std::string());
    setenv(name.c_str(), value.c_str(), 1);
  }
  return saved;
}

void RestoreVariables(const std::vector<std::pair<std::string, std::string>>& saved) {
  for (const auto& [name, value] : saved) {
    if (value.empty())
      unsetenv(name.c_str());
    else
      setenv(name.c_str(), value.substr(1).c_str(), 1);
  }
}

}  // namespace

std::vector<std::string> StreamList(const std::string& path) {
  std::istringstream lines(
      RunCommand("ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 " +
                 ShellQuote(path)));
  std::vector<std::string> streams;
  for (std::string line; std::getline(lines, line);) {
    // csv gives "codec_name,codec_type".
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    streams.push_back(line.substr(comma + 1) + ":" + line.substr(0, comma));
  }
  return streams;
}

std::vector<double> VideoFrameTimes(const std::string& path) {
  std::istringstream lines(
      RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 " +
                 ShellQuote(path)));
  std::vector<double> times;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line != "N/A") times.push_back(std::atof(line.c_str()));
  }
  return times;
}

double StreamSeconds(const std::string& path, const std::string& type) {
  std::istringstream lines(RunCommand("ffprobe -v error -select_streams " + type +
                                      ":0 -show_entries packet=pts_time,duration_time -of "
                                      "csv=p=0 " +
                                      ShellQuote(path)));
  double first = -1, last = 0;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t comma = line.find(',');
    const double pts = std::atof(line.substr(0, comma).c_str());
    const double duration = comma == std::string::npos ? 0 : std::atof(line.c_str() + comma + 1);
    if (first < 0) first = pts;
    last = std::max(last, pts + duration);
  }
  return first < 0 ? 0 : last - first;
}

double MeanVolumeDb(const std::string& path) {
  const std::string out = RunCommand("ffmpeg -hide_banner -nostats -i " + ShellQuote(path) +
                                         " -map 0:a:0 -af volumedetect -f null -",
                                     true);
  const std::size_t at = out.find("mean_volume:");
  if (at == std::string::npos) return -1000;
  return std::atof(out.c_str() + at + 12);
}

PulseServer::PulseServer(const std::string& folder) {
  const std::string socket = folder + "/pulse-native";
  const std::string script = folder + "/test.pa";
  std::ofstream(script) << "load-module module-native-protocol-unix socket=" << socket
                        << " auth-anonymous=1\n"
                        << "load-module module-null-sink sink_name=testsink\n"
                        << "load-module module-sine-source frequency=440 source_name=testtone\n"
                        << "set-default-source testtone\n";
  saved_ = SetVariables({{"PULSE_SERVER", "unix:" + socket},
                         {"PULSE_RUNTIME_PATH", folder + "/pulse-runtime"},
                         {"PULSE_STATE_PATH", folder + "/pulse-state"},
                         {"PULSE_COOKIE", folder + "/pulse-cookie"}});
  NoteProgram("pulseaudio");
  NoteShellCommand("pactl info");
  pid_ = fork();
  if (pid_ == 0) {
    setenv("HOME", folder.c_str(), 1);
    const std::string log = folder + "/pulse.log";
    std::freopen(log.c_str(), "w", stderr);
    std::freopen("/dev/null", "w", stdout);
    execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
           "--use-pid-file=no", "-F", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid_ < 0) return;
  for (int i = 0; i < 150 && !running_; ++i) {
    running_ = std::system("pactl info >/dev/null 2>&1") == 0;
    if (!running_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

PulseServer::~PulseServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  RestoreVariables(saved_);
}

NoPulseServer::NoPulseServer(const std::string& folder) {
  saved_ = SetVariables({{"PULSE_SERVER", "unix:" + folder + "/nobody-listens"},
                         {"PULSE_RUNTIME_PATH", folder + "/pulse-runtime"}});
}

NoPulseServer::~NoPulseServer() { RestoreVariables(saved_); }

std::string HttpExchange(int port, const std::string& request, std::size_t limit) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return {};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    // The server may answer and close before the whole request is sent.
    std::size_t sent = 0;
    while (sent < request.size()) {
      const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char buffer[4096];
    while (answer.size() < limit && std::chrono::steady_clock::now() < deadline) {
      pollfd pfd{fd, POLLIN, 0};
      if (poll(&pfd, 1, 200) <= 0) continue;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return answer;
}

}  // namespace framory::testing
