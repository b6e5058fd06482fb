// The live broadcast under fifty viewers for 60 s: the encoder serves a busy
// 1280 x 720 region at 10 pictures a second on port 8080, five viewers are
// ffmpeg players decoding it, forty-five only read and count bytes (one of
// them also keeps the stream, to tell how many pictures were made). Prints
// the CPU of the program (all of it, and the server's thread alone), and the
// bytes and pictures each viewer got.
//
//   tests/support/own-network.sh tests/support/with-xvfb.sh -- build/bench/broadcast_bench
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "capture/WriterFailureBoxes.h"
#include "platform/encoder/WmEncoderLibrary.h"
#include "writers/EncoderSession.h"

namespace {

constexpr int kWidth = 1280, kHeight = 720, kSeconds = 60, kDecoders = 5, kCounters = 45;
constexpr char kUrl[] = "http://127.0.0.1:8080/";

int Connect() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(8080);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// CPU seconds of this process's thread named `name` (0 when none).
double ThreadCpuSeconds(const std::string& name) {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string found;
    if (!std::getline(comm, found) || found != name) continue;
    std::ifstream in(task.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
      if (number == 14) utime = std::stoull(field);
      if (number == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
  }
  return 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr) {
    std::fprintf(stderr, "run inside an X session (tests/support/with-xvfb.sh)\n");
    return 2;
  }
  QCoreApplication application(argc, argv);
  char folder[] = "/tmp/framory-broadcast-bench.XXXXXX";
  if (mkdtemp(folder) == nullptr) return 2;
  const std::string dir = folder;
  framory::bench::StripedWindow stripes;
  if (!stripes.Start(0, 0, kWidth, kHeight)) return 2;

  framory::WmEncoderLibrary library;
  framory::bench::PrintingBoxes boxes("broadcast_bench");
  framory::WriterFailureBoxes reports{boxes};
  framory::EncoderSession session(library, reports);
  session.SetRecordAudio(false);
  session.SetFramesPerSecond(10.0);
  session.SetCaptureRect(framory::Rect{0, 0, kWidth, kHeight});
  session.SetBroadcast(true);
  if (session.Configure("") < 0) return 1;
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const double serverBefore = ThreadCpuSeconds("broadcast");
  session.StartEncoding();

  // The decoding viewers, in a shell of their own.
  std::ostringstream script;
  script << "cd '" << dir << "' || exit 1; for i in $(seq 1 " << kDecoders << "); do "
         << "(timeout " << kSeconds + 30 << " ffmpeg -nostdin -v error -i " << kUrl << " -t "
         << kSeconds << " -f framecrc - 2>decoder$i.err | grep -c '^0,' > decoder$i.frames) & "
         << "done; wait";
  {
    std::ofstream file(dir + "/decoders.sh");
    file << script.str() << "\n";
  }
  std::thread decoders([&] { std::system(("bash '" + dir + "/decoders.sh'").c_str()); });

  // The counting viewers: one thread polls them all.
  std::vector<int> fds;
  for (int i = 0; i < kCounters; ++i) {
    const int fd = Connect();
    if (fd < 0) {
      std::fprintf(stderr, "viewer %d could not connect\n", i + 1);
      return 1;
    }
    const std::string request = "GET / HTTP/1.0\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    fds.push_back(fd);
  }
  std::vector<long> counted(kCounters, 0);
  std::vector<bool> ended(kCounters, false);
  std::FILE* kept = std::fopen((dir + "/kept.asf").c_str(), "wb");
  std::size_t keptHeader = 0;  // HTTP header bytes not to keep
  const auto start = std::chrono::steady_clock::now();
  std::vector<char> buffer(1 << 16);
  std::string head;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(kSeconds)) {
    std::vector<pollfd> polled;
    for (int fd : fds) polled.push_back({fd, POLLIN, 0});
    if (poll(polled.data(), polled.size(), 200) <= 0) continue;
    for (int i = 0; i < kCounters; ++i) {
      if (ended[i] || !(polled[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = recv(fds[i], buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (n <= 0) {
        ended[i] = n == 0 || (errno != EAGAIN && errno != EINTR);
        continue;
      }
      counted[i] += n;
      if (i != 0) continue;
      if (keptHeader == 0) {
        head.append(buffer.data(), n);
        const std::size_t end = head.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        keptHeader = end + 4;
        std::fwrite(head.data() + keptHeader, 1, head.size() - keptHeader, kept);
        continue;
      }
      std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), kept);
    }
  }
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  const double serverCpu = ThreadCpuSeconds("broadcast") - serverBefore;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fclose(kept);
  for (int fd : fds) close(fd);
  decoders.join();
  session.PauseEncoding();

  const std::string probe =
      "ffprobe -v quiet -count_frames -select_streams v:0 -show_entries "
      "stream=nb_read_frames -of csv=p=0 '" +
      dir + "/kept.asf'";
  // The kept stream ends where the benchmark stopped reading, most likely
  // inside a picture: its last one may not decode, quietly.
  long made = -1;
  if (std::FILE* pipe = popen(probe.c_str(), "r")) {
    if (std::fscanf(pipe, "%ld", &made) != 1) made = -1;
    pclose(pipe);
  }
  std::printf("%d s of a busy %dx%d region at 10 fps, %d viewers (%d decoding, %d counting)\n",
              kSeconds, kWidth, kHeight, kDecoders + kCounters, kDecoders, kCounters);
  std::printf(
      "program CPU: %.2f s in %.1f s wall (%.0f %% of a core), counting viewers "
      "included\n",
      framory::bench::CpuSeconds(after) - framory::bench::CpuSeconds(before), wall,
      100 * (framory::bench::CpuSeconds(after) - framory::bench::CpuSeconds(before)) / wall);
  std::printf("broadcast server thread CPU: %.2f s (%.1f %% of a core)\n", serverCpu,
              100 * serverCpu / wall);
  std::printf("pictures in the kept stream: %ld\n", made);
  std::vector<long> sorted = counted;
  std::sort(sorted.begin(), sorted.end());
  std::printf("bytes per counting viewer: min %ld, median %ld, max %ld (%d ended early)\n",
              sorted.front(), sorted[sorted.size() / 2], sorted.back(),
              static_cast<int>(std::count(ended.begin(), ended.end(), true)));
  for (int i = 1; i <= kDecoders; ++i) {
    const std::string base = dir + "/decoder" + std::to_string(i);
    const std::string errors = ReadFile(base + ".err");
    std::printf("decoder %d: %ld pictures, %s\n", i, std::atol(ReadFile(base + ".frames").c_str()),
                errors.empty() ? "no errors" : ("errors: " + errors.substr(0, 200)).c_str());
  }
  std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
