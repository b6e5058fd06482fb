// The live broadcast (output type 30) on Xvfb: an EncoderSession over the
// real encoder serves the region on TCP port 8080, and ffmpeg processes
// started here play it over HTTP, as a viewer's player would. Each test
// starts its own broadcast; the tests of this file hold the port8080 lock.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "capture/WriterFailureBoxes.h"
#include "platform/encoder/WmEncoderLibrary.h"
#include "support/EncoderProbe.h"
#include "support/RecorderFakes.h"
#include "support/TempDir.h"
#include "support/X11TestWindows.h"
#include "writers/EncoderSession.h"

namespace framory {
namespace {

constexpr int kPort = 8080;
constexpr char kUrl[] = "http://127.0.0.1:8080/";
constexpr int kWidth = 320, kHeight = 240;

using testing::RunCommand;

int Connect() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Decoded video frames of `count` frames read from the broadcast by ffmpeg,
// as RGB24 bytes.
std::string PlayFrames(int count) {
  return RunCommand("timeout 60 ffmpeg -nostdin -v error -i " + std::string(kUrl) + " -frames:v " +
                    std::to_string(count) + " -f rawvideo -pix_fmt rgb24 -");
}

// Paints noise over the broadcast region 20 times a second, from a thread
// with an X connection of its own, so that every picture of the stream is a
// big one.
class NoisePainter {
 public:
  NoisePainter(int x, int y, int width, int height) : thread_([=] { Run(x, y, width, height); }) {}
  ~NoisePainter() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run(int x, int y, int width, int height) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    const Window window =
        XCreateWindow(display, RootWindow(display, screen), x, y, width, height, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapRaised(display, window);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    XImage* image = XCreateImage(
        display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap, 0,
        static_cast<char*>(std::malloc(width * height * 4)), width, height, 32, 0);
    std::mt19937 random(8080);
    while (!stop_) {
      auto* pixels = reinterpret_cast<std::uint32_t*>(image->data);
      for (int i = 0; i < width * height; ++i) pixels[i] = random();
      XPutImage(display, window, gc, image, 0, 0, 0, 0, width, height);
      XSync(display, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    XDestroyImage(image);
    XFreeGC(display, gc);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
  }

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class BroadcastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(windows.Valid());
    colour = windows.Pixel(0, 160, 0);
    ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(100, 100, kWidth, kHeight, colour, true)));
    ASSERT_TRUE(windows.WaitForScreenPixel(110, 110, colour));
  }

  void StartBroadcast() {
    session = std::make_unique<EncoderSession>(library, reports);
    session->SetCaptureRect(Rect{100, 100, 100 + kWidth, 100 + kHeight});
    session->SetFramesPerSecond(10.0);
    session->SetRecordAudio(false);
    session->SetBroadcast(true);
    ASSERT_EQ(session->Configure(""), 0);
    session->StartEncoding();
    ASSERT_TRUE(boxes.shown.empty());
  }

  X11TestWindows windows;
  unsigned long colour = 0;
  testing::FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  WmEncoderLibrary library;
  std::unique_ptr<EncoderSession> session;
};

TEST_F(BroadcastTest, ViewerPlaysTheLiveScreen) {
  StartBroadcast();
  const std::string pixels = PlayFrames(3);
  ASSERT_EQ(pixels.size(), 3u * kWidth * kHeight * 3);
  const std::size_t centre = (static_cast<std::size_t>(kHeight / 2) * kWidth + kWidth / 2) * 3;
  const std::size_t last = 2u * kWidth * kHeight * 3 + centre;
  EXPECT_NEAR(static_cast<unsigned char>(pixels[last]), 0, 24);
  EXPECT_NEAR(static_cast<unsigned char>(pixels[last + 1]), 160, 24);
  EXPECT_NEAR(static_cast<unsigned char>(pixels[last + 2]), 0, 24);

  // What changes on the screen reaches the viewers.
  const unsigned long blue = windows.Pixel(0, 0, 200);
  ASSERT_TRUE(windows.MapAndWait(windows.CreateSolid(100, 100, kWidth, kHeight, blue, true)));
  ASSERT_TRUE(windows.WaitForScreenPixel(110, 110, blue));
  const std::string later = PlayFrames(30);
  ASSERT_EQ(later.size(), 30u * kWidth * kHeight * 3);
  const std::size_t lastLater = 29u * kWidth * kHeight * 3 + centre;
  EXPECT_NEAR(static_cast<unsigned char>(later[lastLater + 2]), 200, 24);
}

// What a set of viewers got from one broadcast of `seconds` seconds:
// `decoders` ffmpeg players decoding it (their stderr kept), `counters`
// curl clients counting bytes, and one client keeping the whole stream for
// as many pictures as the encoder made meanwhile.
struct ViewerReport {
  int made = 0;  // pictures in the kept stream's first `seconds` seconds
  long keptBytes = 0;
  std::vector<int> decoded;
  std::vector<std::string> errors;
  std::vector<long> counted;
};

ViewerReport WatchWithViewers(int decoders, int counters, int seconds) {
  testing::TempDir dir;
  std::ostringstream script;
  script << "cd " << testing::ShellQuote(dir.Path()) << " || exit 1; "
         << "(curl -s --max-time " << seconds + 4 << " -o whole.asf " << kUrl << ") & "
         << "for i in $(seq 1 " << decoders << "); do (timeout 60 ffmpeg -nostdin -v error -i "
         << kUrl << " -t " << seconds << " -f framecrc - 2>decoder$i.err | grep -c '^0,' "
         << "> decoder$i.frames) & done; "
         << "for i in $(seq 1 " << counters << "); do (curl -s --max-time " << seconds + 2
         << " -o /dev/null -w '%{size_download}' " << kUrl << " > counter$i.bytes) & done; "
         << "wait";
  RunCommand("bash -c " + testing::ShellQuote(script.str()));
  ViewerReport report;
  const std::vector<double> times = testing::VideoFrameTimes(dir.File("whole.asf"));
  for (double time : times) report.made += time - times.front() < seconds - 0.05;
  report.keptBytes = static_cast<long>(testing::ReadWholeFile(dir.File("whole.asf")).size());
  for (int i = 1; i <= decoders; ++i) {
    report.decoded.push_back(std::atoi(
        testing::ReadWholeFile(dir.File("decoder" + std::to_string(i) + ".frames")).c_str()));
    report.errors.push_back(
        testing::ReadWholeFile(dir.File("decoder" + std::to_string(i) + ".err")));
  }
  for (int i = 1; i <= counters; ++i)
    report.counted.push_back(std::atol(
        testing::ReadWholeFile(dir.File("counter" + std::to_string(i) + ".bytes")).c_str()));
  return report;
}

// Each decoding viewer got at least 90 % of the pictures made, without a
// decode error.
void ExpectDecodersKeptUp(const ViewerReport& report) {
  ASSERT_GT(report.made, 0) << "the kept stream holds no pictures";
  for (std::size_t i = 0; i < report.decoded.size(); ++i) {
    EXPECT_GE(report.decoded[i] * 10, report.made * 9)
        << "decoder " << i + 1 << ": " << report.decoded[i] << " of " << report.made << " pictures";
    EXPECT_EQ(report.errors[i], "") << "decoder " << i + 1;
  }
}

// Twenty viewers at once for ten seconds of a busy region (kept short: the
// decoders share this machine): four decode, sixteen only count bytes.
TEST_F(BroadcastTest, TwentyViewersAtOnceAllGetTheStream) {
  NoisePainter painter(100, 100, kWidth, kHeight);
  StartBroadcast();
  const ViewerReport report = WatchWithViewers(4, 16, 10);
  ExpectDecodersKeptUp(report);
  for (std::size_t i = 0; i < report.counted.size(); ++i)
    EXPECT_GT(report.counted[i], 1 << 20) << "counter " << i + 1 << " got too little";
  std::cout << report.made << " pictures made, " << report.keptBytes << " bytes kept\n";
}

// A viewer that asks for the stream and then never reads is dropped once its
// queue is full; the viewers playing meanwhile still get at least 90 % of the
// pictures.
TEST_F(BroadcastTest, ViewerThatNeverReadsIsDroppedAndDoesNotStallOthers) {
  NoisePainter painter(100, 100, kWidth, kHeight);
  StartBroadcast();
  const int stalled = socket(AF_INET, SOCK_STREAM, 0);
  const int small = 4096;
  setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  ASSERT_EQ(send(stalled, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  const ViewerReport report = WatchWithViewers(2, 2, 10);
  ExpectDecodersKeptUp(report);
  // Twice the queue bound went out meanwhile: the stalled viewer's queue
  // overflowed long ago, so reading it now ends where the server closed it.
  ASSERT_GT(report.keptBytes, 2 * 4 * 1024 * 1024) << "the stream was not busy enough";
  long got = 0;
  bool closed = false;
  char buffer[65536];
  while (!closed && got < 64L * 1024 * 1024) {
    pollfd pfd{stalled, POLLIN, 0};
    if (poll(&pfd, 1, 5000) <= 0) break;
    const ssize_t n = recv(stalled, buffer, sizeof buffer, 0);
    closed = n <= 0;
    got += n > 0 ? n : 0;
  }
  EXPECT_TRUE(closed) << "the stalled viewer still gets the stream after " << got << " bytes";
  close(stalled);
}

TEST_F(BroadcastTest, OnlyTheStreamIsServedAndBadRequestsGetErrors) {
  StartBroadcast();
  auto status = [](const std::string& answer) { return answer.substr(0, answer.find("\r\n")); };
  EXPECT_EQ(status(testing::HttpExchange(kPort, "NONSENSE\r\n\r\n")), "HTTP/1.0 400 Bad Request");
  EXPECT_EQ(status(testing::HttpExchange(kPort, "GET / HTTP/9.9\r\n\r\n")),
            "HTTP/1.0 400 Bad Request");
  EXPECT_EQ(status(testing::HttpExchange(kPort, "GET /etc/passwd HTTP/1.1\r\n\r\n")),
            "HTTP/1.0 404 Not Found");
  EXPECT_EQ(status(testing::HttpExchange(kPort, "GET /../framory.html HTTP/1.0\r\n\r\n")),
            "HTTP/1.0 404 Not Found");
  EXPECT_EQ(status(testing::HttpExchange(kPort, "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n")),
            "HTTP/1.0 405 Method Not Allowed");
  const std::string longLine = "GET /" + std::string(1024 * 1024, 'a');
  EXPECT_EQ(status(testing::HttpExchange(kPort, longLine)), "HTTP/1.0 414 URI Too Long");
  const std::string manyHeaders = "GET / HTTP/1.1\r\n" + std::string(20000, 'h') + ": x\r\n\r\n";
  EXPECT_EQ(status(testing::HttpExchange(kPort, manyHeaders)),
            "HTTP/1.0 431 Request Header Fields Too Large");
  // A stream answer: the ASF header object follows the HTTP header.
  const std::string stream = testing::HttpExchange(kPort, "GET / HTTP/1.0\r\n\r\n", 8192);
  ASSERT_EQ(status(stream), "HTTP/1.0 200 OK");
  const std::size_t body = stream.find("\r\n\r\n") + 4;
  const unsigned char asfHeaderGuid[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
  ASSERT_GT(stream.size(), body + 8);
  EXPECT_EQ(stream.compare(body, 8, reinterpret_cast<const char*>(asfHeaderGuid), 8), 0);
  // After all of that the broadcast still plays.
  EXPECT_EQ(PlayFrames(2).size(), 2u * kWidth * kHeight * 3);
}

// Pausing the recorder pauses the stream: a connected viewer gets nothing
// more until the resume, then the stream goes on.
TEST_F(BroadcastTest, PauseHoldsTheStreamAndResumeContinuesIt) {
  StartBroadcast();
  const int viewer = Connect();
  ASSERT_GE(viewer, 0);
  const std::string request = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_GT(send(viewer, request.data(), request.size(), 0), 0);
  std::atomic<long> received{0};
  std::atomic<bool> done{false};
  std::thread reader([&] {
    char buffer[65536];
    while (!done) {
      pollfd pfd{viewer, POLLIN, 0};
      if (poll(&pfd, 1, 100) <= 0) continue;
      const ssize_t n = recv(viewer, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received += n;
    }
  });
  auto growsWithin = [&](int ms) {
    const long before = received;
    return X11TestWindows::WaitFor([&] { return received > before; }, ms);
  };
  EXPECT_TRUE(growsWithin(15000)) << "no stream before the pause";
  session->PauseEncoding();
  // Once what was on its way has arrived, nothing more comes.
  EXPECT_TRUE(X11TestWindows::WaitFor([&] { return !growsWithin(1500); }, 20000));
  EXPECT_FALSE(growsWithin(2000)) << "the stream went on while paused";
  session->StartEncoding();
  EXPECT_TRUE(growsWithin(15000)) << "the stream did not resume";
  done = true;
  reader.join();
  close(viewer);
}

// Another program holding the port: the broadcast cannot start, and the
// user is told so; nothing hangs.
TEST_F(BroadcastTest, PortAlreadyTakenFailsWithTheBox) {
  const int holder = socket(AF_INET, SOCK_STREAM, 0);
  // Earlier tests' connections may linger in TIME_WAIT on the port.
  const int on = 1;
  setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  session = std::make_unique<EncoderSession>(library, reports);
  session->SetRecordAudio(false);
  session->SetBroadcast(true);
  EXPECT_LT(session->Configure(""), 0);
  ASSERT_EQ(boxes.shown.size(), 1u);
  // The box says why, and sends nobody to a download.
  EXPECT_EQ(boxes.shown[0].text,
            "Unable to use the screen encoder. TCP port 8080, on which the broadcast is served, is "
            "taken by another program.");
  session->StartEncoding();
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text, "Unable to start using Windows Media Encoder 9.");
  session.reset();
  close(holder);
}

}  // namespace
}  // namespace framory
