// The broadcast's HTTP server and its start points, without a display: the
// stream is real ASF written by the encoder's output from synthetic pictures,
// the viewers are plain sockets and ffprobe, some of them hostile. The server
// listens on a port the system picks, so these tests do not need port 8080.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/encoder/AsfOutput.h"
#include "platform/encoder/AsfPacketScan.h"
#include "platform/encoder/BroadcastServer.h"
#include "support/EncoderProbe.h"
#include "support/TempDir.h"
#include "support/X11TestWindows.h"

namespace framory {
namespace {

// Keeps what the output hands a live sink.
struct CapturedStream : AsfLiveSink {
  void OnHeader(const std::uint8_t* data, std::size_t size) override {
    header.assign(data, data + size);
  }
  void OnPacket(const std::uint8_t* data, std::size_t size) override {
    packets.emplace_back(data, data + size);
  }
  std::vector<std::uint8_t> header;
  std::vector<std::vector<std::uint8_t>> packets;
};

// Two seconds of moving pictures, a key frame every 5, as a live ASF stream.
CapturedStream EncodeLive(int* keyFrames) {
  CapturedStream stream;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
  CodecContextHandle context(avcodec_alloc_context3(codec));
  context->width = 160;
  context->height = 120;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, 10};
  context->gop_size = 5;
  context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  EXPECT_EQ(avcodec_open2(context.get(), codec, nullptr), 0);
  AsfOutput output;
  const int index = output.AddStream(context.get());
  std::string why;
  EXPECT_EQ(output.OpenLive(&stream, &why), 0) << why;
  FrameHandle frame(av_frame_alloc());
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = 160;
  frame->height = 120;
  av_frame_get_buffer(frame.get(), 0);
  PacketHandle packet(av_packet_alloc());
  *keyFrames = 0;
  for (int n = 0; n <= 20; ++n) {
    if (n < 20) {
      av_frame_make_writable(frame.get());
      for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x)
          frame->data[0][y * frame->linesize[0] + x] = (x * y + n * 37) & 0xFF;
      frame->pts = n;
    }
    avcodec_send_frame(context.get(), n < 20 ? frame.get() : nullptr);
    while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
      *keyFrames += (packet->flags & AV_PKT_FLAG_KEY) != 0;
      output.Write(packet.get(), index, context->time_base);
      av_packet_unref(packet.get());
    }
  }
  output.Finish();
  return stream;
}

// A viewer may join at any packet where a key frame begins: header plus the
// packets from there decode, first picture a key frame, no error.
TEST(BroadcastServerTest, EveryStartPointFoundInTheStreamDecodes) {
  int keyFrames = 0;
  const CapturedStream stream = EncodeLive(&keyFrames);
  ASSERT_FALSE(stream.header.empty());
  ASSERT_GT(stream.packets.size(), 4u);
  testing::TempDir dir;
  int starts = 0;
  for (std::size_t first = 0; first < stream.packets.size(); ++first) {
    const auto& packet = stream.packets[first];
    ASSERT_EQ(packet.size(), static_cast<std::size_t>(kAsfPacketSize));
    if (!AsfPacketStartsKeyFrame(packet.data(), packet.size(), AsfOutput::StreamNumber(0)))
      continue;
    ++starts;
    // The first packet as the server hands it to a viewer who begins there.
    std::vector<std::uint8_t> begin = packet;
    ASSERT_TRUE(AsfPacketHideFramesBeforeKey(begin.data(), begin.size(), AsfOutput::StreamNumber(0)));
    std::string bytes(stream.header.begin(), stream.header.end());
    bytes.append(begin.begin(), begin.end());
    for (std::size_t i = first + 1; i < stream.packets.size(); ++i)
      bytes.append(stream.packets[i].begin(), stream.packets[i].end());
    const std::string path = dir.File("joined" + std::to_string(first) + ".asf");
    ASSERT_TRUE(testing::WriteWholeFile(path, bytes));
    const std::string types = testing::RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 " + path,
        true);
    EXPECT_EQ(types.substr(0, 2), "1\n") << "joined at packet " << first << ": " << types;
    EXPECT_EQ(types.find("rror"), std::string::npos) << types;
  }
  EXPECT_EQ(starts, keyFrames) << "one start point for each key frame";
}

// One data packet as the muxer lays it out: several payloads, each with a
// one-byte stream field, a one-byte object number, a four-byte offset and
// eight bytes of replicated data.
struct PayloadSpec {
  int stream;
  bool key;
  std::uint32_t offset;
};
std::vector<std::uint8_t> BuildPacket(const std::vector<PayloadSpec>& payloads) {
  std::vector<std::uint8_t> packet = {0x82, 0x00, 0x00,  // error correction
                                      0x09,              // several payloads, byte padding size
                                      0x5D,              // property flags
                                      0x00,              // padding
                                      0, 0, 0, 0, 0, 0,  // send time, duration
                                      static_cast<std::uint8_t>(0x80 | payloads.size())};
  std::uint8_t object = 1;
  for (const PayloadSpec& p : payloads) {
    packet.push_back(static_cast<std::uint8_t>((p.key ? 0x80 : 0) | p.stream));
    packet.push_back(object++);
    for (int i = 0; i < 4; ++i) packet.push_back(static_cast<std::uint8_t>(p.offset >> (8 * i)));
    packet.push_back(8);
    for (int i = 0; i < 8; ++i) packet.push_back(0x11);
    packet.push_back(4);
    packet.push_back(0);
    for (int i = 0; i < 4; ++i) packet.push_back(0xAB);
  }
  packet.resize(kAsfPacketSize, 0);
  return packet;
}

// A viewer beginning at a packet where a key frame begins behind the tail
// of one picture and the whole of another must not be handed those two:
// its decoder would start on a picture it cannot decode.
TEST(BroadcastServerTest, PicturesBeforeTheKeyFrameOfAStartPacketAreHidden) {
  const int video = AsfOutput::StreamNumber(0);
  const int audio = video == 1 ? 2 : 1;
  std::vector<std::uint8_t> packet = BuildPacket({{video, false, 1200},  // tail of a picture
                                                  {audio, true, 0},
                                                  {video, false, 0},  // a whole picture
                                                  {video, true, 0},   // the key frame
                                                  {video, false, 0}});
  const std::vector<std::uint8_t> original = packet;
  ASSERT_TRUE(AsfPacketStartsKeyFrame(packet.data(), packet.size(), video));
  ASSERT_TRUE(AsfPacketHideFramesBeforeKey(packet.data(), packet.size(), video));
  // Kept: the sound, the key frame and the picture after it, in order and
  // byte for byte, behind a header whose padding size grew to two bytes.
  auto payload = [&](int i) {
    return std::vector<std::uint8_t>(original.begin() + 13 + 21 * i,
                                     original.begin() + 13 + 21 * (i + 1));
  };
  std::vector<std::uint8_t> expected;
  for (int i : {1, 3, 4}) {
    const auto bytes = payload(i);
    expected.insert(expected.end(), bytes.begin(), bytes.end());
  }
  ASSERT_EQ(packet.size(), original.size());
  EXPECT_EQ(packet[3], 0x11) << "several payloads, two-byte padding size";
  EXPECT_EQ(packet[13] & 0x3F, 3) << "three payloads left";
  EXPECT_EQ(std::vector<std::uint8_t>(packet.begin() + 14, packet.begin() + 14 + 63), expected);
  EXPECT_EQ(packet[5] | packet[6] << 8, 3200 - 14 - 63) << "the padding grew";
  EXPECT_TRUE(std::all_of(packet.begin() + 14 + 63, packet.end(), [](int b) { return b == 0; }));
  // The packet still begins the key frame, and one without a key frame is
  // left as it is.
  EXPECT_TRUE(AsfPacketStartsKeyFrame(packet.data(), packet.size(), video));
  std::vector<std::uint8_t> plain = BuildPacket({{video, false, 0}, {video, true, 300}});
  const std::vector<std::uint8_t> plainCopy = plain;
  EXPECT_FALSE(AsfPacketHideFramesBeforeKey(plain.data(), plain.size(), video));
  EXPECT_EQ(plain, plainCopy);
}

int ConnectTo(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int small = 4096;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
  const std::string request = "GET / HTTP/1.0\r\n\r\n";
  send(fd, request.data(), request.size(), 0);
  return fd;
}

// A viewer that stops reading is dropped once its queue passes the bound;
// one that reads keeps getting everything.
TEST(BroadcastServerTest, ViewerThatStopsReadingIsDroppedAndTheOtherKeepsUp) {
  BroadcastServer server;
  std::string why;
  ASSERT_TRUE(server.Listen(0, &why)) << why;
  const std::vector<std::uint8_t> header(100, 0x11), packet(kAsfPacketSize, 0x22);
  server.OnHeader(header.data(), header.size());
  const int stalled = ConnectTo(server.Port());
  const int reader = ConnectTo(server.Port());
  ASSERT_GE(stalled, 0);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(X11TestWindows::WaitFor([&] { return server.ViewerCount() == 2; }));
  std::size_t sent = 0, received = 0;
  char buffer[65536];
  const std::size_t total = 3 * BroadcastServer::kMaxQueuedBytes;
  auto drain = [&] {
    ssize_t n;
    while ((n = recv(reader, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) received += n;
  };
  while (sent < total) {
    server.OnPacket(packet.data(), packet.size());
    sent += packet.size();
    // The reading viewer keeps up: it lets no more than 256 KB pile up.
    drain();
    if (sent > received + 256 * 1024) {
      ASSERT_TRUE(X11TestWindows::WaitFor([&] {
        drain();
        return sent <= received + 128 * 1024 + header.size() + 64;
      })) << "the reading viewer stopped receiving";
    }
  }
  EXPECT_TRUE(X11TestWindows::WaitFor([&] {
    ssize_t n;
    while ((n = recv(reader, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) received += n;
    return server.ViewerCount() == 1 && received >= sent + header.size();
  })) << server.ViewerCount()
      << " viewers, " << received << " of " << sent << " bytes";
  close(stalled);
  close(reader);
}

// A connected socket to the server at 127.0.0.1 (or ::1 for AF_INET6), or -1.
int Dial(int port, int family = AF_INET) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_storage address{};
  socklen_t length;
  if (family == AF_INET6) {
    auto& six = reinterpret_cast<sockaddr_in6&>(address);
    six.sin6_family = AF_INET6;
    six.sin6_addr = in6addr_loopback;
    six.sin6_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof six;
  } else {
    auto& four = reinterpret_cast<sockaddr_in&>(address);
    four.sin_family = AF_INET;
    four.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    four.sin_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof four;
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Everything the server sends on `fd` until it closes (bounded in time, at
// most `limit` bytes).
std::string ReadToEnd(int fd, std::size_t limit = 1 << 20) {
  std::string answer;
  char buffer[65536];
  for (int idle = 0; idle < 100 && answer.size() < limit;) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 200) <= 0) {
      ++idle;
      continue;
    }
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  return answer;
}

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

// The server's thread, found by its name among this process's threads, as
// its open stat file (so it can be read while descriptors run out).
int OpenServerThreadStat() {
  DIR* tasks = opendir("/proc/self/task");
  int found = -1;
  while (dirent* entry = tasks && found < 0 ? readdir(tasks) : nullptr) {
    const std::string dir = std::string("/proc/self/task/") + entry->d_name;
    std::ifstream comm(dir + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "broadcast")
      found = open((dir + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (tasks) closedir(tasks);
  return found;
}

// The scheduler state letter and the CPU seconds of a thread.
std::pair<char, double> ThreadState(int statFd) {
  char text[1024];
  const ssize_t size = pread(statFd, text, sizeof text - 1, 0);
  const std::string stat(text, size > 0 ? static_cast<std::size_t>(size) : 0);
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return {'?', 0.0};
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  char state = '?';
  long long utime = 0, stime = 0;
  fields >> state;
  for (int i = 0; i < 10; ++i) fields >> field;  // ppid .. cmajflt
  fields >> utime >> stime;
  return {state, static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK)};
}

// Whether the server's thread waits for events: it is seen asleep in most of
// 40 looks. A thread that spins is always running or ready to run.
bool ServerThreadWaits(int statFd) {
  int asleep = 0;
  for (int i = 0; i < 40; ++i) {
    asleep += ThreadState(statFd).first == 'S';
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return asleep > 20;
}

// A client that sends its request and shuts its sending side at once (one
// that is done talking, or a hostile one) gets its answer, and
// the server closes the connection then: it neither keeps it for the drain
// time nor spins on the hang-up meanwhile. First driven round by round
// without the thread, then through the listening server.
TEST(BroadcastServerTest, HalfClosedClientIsClosedAfterItsAnswer) {
  for (const char* request : {"HEAD / HTTP/1.0\r\n\r\n", "BOGUS\r\n\r\n"}) {
    BroadcastServer server;
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    ASSERT_EQ(send(pair[0], request, std::strlen(request), 0),
              static_cast<ssize_t>(std::strlen(request)));
    shutdown(pair[0], SHUT_WR);
    server.AdoptConnection(pair[1], "peer");
    for (int round = 0; round < 4; ++round) server.ServeOnce(0);
    EXPECT_EQ(server.ConnectionCount(), 0u) << request << " still held after four rounds";
    const std::string answer = ReadToEnd(pair[0]);
    EXPECT_EQ(answer.rfind("HTTP/1.0 ", 0), 0u) << answer;
    close(pair[0]);
  }

  BroadcastServer server;
  std::string why;
  ASSERT_TRUE(server.Listen(0, &why)) << why;
  int thread = -1;
  ASSERT_TRUE(X11TestWindows::WaitFor([&] { return (thread = OpenServerThreadStat()) >= 0; }));
  const double cpuBefore = ThreadState(thread).second;
  for (int i = 0; i < 20; ++i) {
    const int fd = Dial(server.Port());
    ASSERT_GE(fd, 0);
    const std::string request = i % 2 ? "HEAD / HTTP/1.0\r\n\r\n" : "GET /x HTTP/1.0\r\n\r\n";
    ASSERT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    shutdown(fd, SHUT_WR);
    const std::string answer = ReadToEnd(fd);
    EXPECT_EQ(StatusLine(answer), i % 2 ? "HTTP/1.0 200 OK" : "HTTP/1.0 404 Not Found");
    close(fd);
  }
  EXPECT_TRUE(ServerThreadWaits(thread)) << "the server thread spins after half-closed clients";
  EXPECT_TRUE(X11TestWindows::WaitFor([&] { return server.ConnectionCount() == 0; }));
  std::cout << "server thread CPU for 20 half-closed clients: "
            << ThreadState(thread).second - cpuBefore << " s\n";
  close(thread);
}

// Out of descriptors, accept() fails while the connection stays queued: the
// server rests instead of spinning on it, and serves the connection once
// descriptors are free again.
TEST(BroadcastServerTest, AcceptFailingForWantOfDescriptorsNeitherSpinsNorStops) {
  BroadcastServer server;
  std::string why;
  ASSERT_TRUE(server.Listen(0, &why)) << why;
  int thread = -1;
  ASSERT_TRUE(X11TestWindows::WaitFor([&] { return (thread = OpenServerThreadStat()) >= 0; }));
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  // Take every descriptor below a lowered limit, then connect one more.
  const int waiting = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(waiting, 0);
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(waiting + 8);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> fillers;
  for (int fd; (fd = dup(0)) >= 0;) fillers.push_back(fd);
  const double cpuBefore = ThreadState(thread).second;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // No ASSERT until the limit is back.
  EXPECT_EQ(connect(waiting, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "HEAD / HTTP/1.0\r\n\r\n";
  EXPECT_EQ(send(waiting, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  const bool waits = ServerThreadWaits(thread);
  const double cpu = ThreadState(thread).second - cpuBefore;
  for (int fd : fillers) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_TRUE(waits) << "the server thread spins while accept() fails";
  std::cout << "server thread CPU while accept() failed: " << cpu << " s\n";
  EXPECT_EQ(StatusLine(ReadToEnd(waiting)), "HTTP/1.0 200 OK");
  close(waiting);
  close(thread);
}

// Hundreds of connections from the viewers' own address that never finish a
// request, opened again and again, cannot keep a viewer out: each viewer
// that asks meanwhile gets the stream.
TEST(BroadcastServerTest, ConnectionsThatNeverAskCannotCrowdOutViewers) {
  BroadcastServer server;
  std::string why;
  ASSERT_TRUE(server.Listen(0, &why)) << why;
  const std::vector<std::uint8_t> header(100, 0x11);
  server.OnHeader(header.data(), header.size());
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  ASSERT_GE(limit.rlim_max, 4000u) << "the test needs 4000 descriptors";
  if (limit.rlim_cur < 4000) {
    limit.rlim_cur = 4000;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  }
  std::vector<int> silent, viewers;
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < BroadcastServer::kMaxViewers + 40; ++i) {
      const int fd = Dial(server.Port());
      ASSERT_GE(fd, 0);
      send(fd, "GET / HTTP/1.1\r\n", 16, 0);
      silent.push_back(fd);
    }
    const int viewer = Dial(server.Port());
    ASSERT_GE(viewer, 0);
    const std::string request = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_EQ(send(viewer, request.data(), request.size(), 0),
              static_cast<ssize_t>(request.size()));
    std::string answer;
    char buffer[4096];
    while (answer.find("\r\n\r\n") == std::string::npos) {
      pollfd pfd{viewer, POLLIN, 0};
      if (poll(&pfd, 1, 10000) <= 0) break;
      const ssize_t n = recv(viewer, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(StatusLine(answer), "HTTP/1.0 200 OK") << "round " << round;
    viewers.push_back(viewer);
  }
  EXPECT_EQ(server.ViewerCount(), viewers.size());
  EXPECT_LE(server.ConnectionCount(), viewers.size() + BroadcastServer::kMaxPending);
  for (int fd : silent) close(fd);
  for (int fd : viewers) close(fd);
}

// The stream is served on IPv6 as well as on IPv4, on the same port.
TEST(BroadcastServerTest, ServesOnIpv6AndIpv4) {
  const int probe = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 loopback{};
  loopback.sin6_family = AF_INET6;
  loopback.sin6_addr = in6addr_loopback;
  const bool ipv6 =
      probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) == 0;
  if (probe >= 0) close(probe);
  if (!ipv6) GTEST_SKIP() << "this system has no IPv6 loopback";
  BroadcastServer server;
  std::string why;
  ASSERT_TRUE(server.Listen(0, &why)) << why;
  for (int family : {AF_INET6, AF_INET}) {
    const int fd = Dial(server.Port(), family);
    ASSERT_GE(fd, 0) << (family == AF_INET6 ? "::1" : "127.0.0.1") << " refused";
    const std::string request = "HEAD / HTTP/1.0\r\n\r\n";
    send(fd, request.data(), request.size(), 0);
    EXPECT_EQ(StatusLine(ReadToEnd(fd)), "HTTP/1.0 200 OK");
    close(fd);
  }
}

// Encodes a busy 1920 x 1080 screen as the screen encoder does (Windows
// Media Video 8 at the fixed quantiser 3, a key frame every 3 s at 10
// pictures a second) into a live sink, one picture per call: over smooth
// shading, a band of noise a sixth of the screen high moves down every
// picture, so every picture costs most of a key frame.
class BusyScreenEncoder {
 public:
  explicit BusyScreenEncoder(AsfLiveSink* sink) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
    context_.reset(avcodec_alloc_context3(codec));
    context_->width = kWidth;
    context_->height = kHeight;
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->time_base = AVRational{1, 10};
    context_->gop_size = 30;
    context_->max_b_frames = 0;
    context_->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_GLOBAL_HEADER;
    context_->global_quality = FF_QP2LAMBDA * 3;
    EXPECT_EQ(avcodec_open2(context_.get(), codec, nullptr), 0);
    index_ = output_.AddStream(context_.get());
    std::string why;
    EXPECT_EQ(output_.OpenLive(sink, &why), 0) << why;
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = kWidth;
    frame_->height = kHeight;
    av_frame_get_buffer(frame_.get(), 0);
  }
  void Encode() {
    av_frame_make_writable(frame_.get());
    const int band = static_cast<int>(pts_ * 97 % (kHeight - kBand));
    for (int plane = 0; plane < 3; ++plane) {
      const int scale = plane ? 2 : 1;
      for (int y = 0; y < kHeight / scale; ++y) {
        std::uint8_t* row = frame_->data[plane] + y * frame_->linesize[plane];
        const bool noisy = y * scale >= band && y * scale < band + kBand;
        for (int x = 0; x < kWidth / scale; ++x)
          row[x] = noisy ? static_cast<std::uint8_t>(random_())
                         : static_cast<std::uint8_t>(plane ? 128 : (x + y) / 12);
      }
    }
    frame_->pts = pts_++;
    Send(frame_.get());
  }
  void Finish() {
    Send(nullptr);
    output_.Finish();
  }

 private:
  static constexpr int kWidth = 1920, kHeight = 1080, kBand = kHeight / 6;
  void Send(AVFrame* frame) {
    avcodec_send_frame(context_.get(), frame);
    while (avcodec_receive_packet(context_.get(), packet_.get()) == 0) {
      output_.Write(packet_.get(), index_, context_->time_base);
      av_packet_unref(packet_.get());
    }
  }
  CodecContextHandle context_;
  AsfOutput output_;
  int index_ = 0;
  FrameHandle frame_{av_frame_alloc()};
  PacketHandle packet_{av_packet_alloc()};
  std::mt19937 random_{20261208};
  std::int64_t pts_ = 0;
};

// Hands the stream on to the server and keeps it, with where key frames
// begin, for checking what a viewer got.
struct RecordingSink : AsfLiveSink {
  void OnHeader(const std::uint8_t* data, std::size_t size) override {
    header.assign(data, data + size);
    server->OnHeader(data, size);
  }
  void OnPacket(const std::uint8_t* data, std::size_t size) override {
    if (AsfPacketStartsKeyFrame(data, size, AsfOutput::StreamNumber(0))) {
      keyStarts.push_back(packets.size());
      sinceKey = 0;
    }
    std::lock_guard<std::mutex> lock(mutex);
    packets.append(reinterpret_cast<const char*>(data), size);
    sinceKey += size;
    server->OnPacket(data, size);
  }
  BroadcastServer* server = nullptr;
  std::string header;
  std::mutex mutex;
  std::string packets;
  std::vector<std::size_t> keyStarts;
  std::size_t sinceKey = 0;
};

// A viewer who joins while more has been sent since the last key frame than
// its queue may hold (a busy full-HD screen) still gets the answer, the
// header and the stream from a key frame on, which decodes without error.
TEST(BroadcastServerTest, LateJoinerOfABusyFullHdStreamStartsAtAKeyFrame) {
  BroadcastServer server;
  server.SetVideoStreamNumber(AsfOutput::StreamNumber(0));
  std::string why;
  ASSERT_TRUE(server.Listen(0, &why)) << why;
  RecordingSink sink;
  sink.server = &server;
  BusyScreenEncoder encoder(&sink);
  int pictures = 0;
  while (sink.keyStarts.empty() || sink.sinceKey <= BroadcastServer::kMaxQueuedBytes) {
    encoder.Encode();
    ASSERT_LT(++pictures, 30) << "the key-frame interval ended before 4 MiB";
  }
  std::cout << sink.sinceKey << " bytes since the key frame after " << pictures << " pictures\n";

  const int viewer = Dial(server.Port());
  ASSERT_GE(viewer, 0);
  const std::string request = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_EQ(send(viewer, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  std::mutex mutex;
  std::string received;
  std::atomic<bool> ended{false};
  std::thread reader([&] {
    char buffer[65536];
    for (;;) {
      pollfd pfd{viewer, POLLIN, 0};
      if (poll(&pfd, 1, 100) <= 0) {
        if (ended) break;
        continue;
      }
      const ssize_t n = recv(viewer, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(mutex);
      received.append(buffer, static_cast<std::size_t>(n));
    }
    ended = true;
  });
  const std::string answer(
      "HTTP/1.0 200 OK\r\nServer: Framory\r\nContent-Type: video/x-ms-asf\r\n"
      "Cache-Control: no-cache\r\nPragma: no-cache\r\nConnection: close\r\n\r\n");
  const std::size_t preamble = answer.size() + sink.header.size();
  EXPECT_TRUE(X11TestWindows::WaitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return received.size() >= preamble || ended;
  })) << "nothing arrives";
  // Two more key frames: the viewer sees at least a whole interval.
  const std::size_t keys = sink.keyStarts.size();
  while (sink.keyStarts.size() < keys + 2) encoder.Encode();
  encoder.Finish();
  // Everything from some key frame on arrives.
  std::size_t from = std::string::npos;
  EXPECT_TRUE(X11TestWindows::WaitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t start : sink.keyStarts)
      if (received.size() == preamble + sink.packets.size() - start) from = start;
    return from != std::string::npos || ended;
  })) << received.size()
      << " bytes received";
  ended = true;
  reader.join();
  close(viewer);
  ASSERT_NE(from, std::string::npos) << "the viewer got " << received.size() << " bytes";
  EXPECT_EQ(received.compare(0, answer.size(), answer), 0);
  EXPECT_EQ(received.compare(answer.size(), sink.header.size(), sink.header), 0);
  // The first packet as a viewer beginning there gets it, then the rest as
  // they were sent.
  std::string first = sink.packets.substr(from, kAsfPacketSize);
  AsfPacketHideFramesBeforeKey(reinterpret_cast<std::uint8_t*>(first.data()), first.size(),
                               AsfOutput::StreamNumber(0));
  EXPECT_EQ(received.compare(preamble, kAsfPacketSize, first), 0);
  EXPECT_EQ(received.compare(preamble + kAsfPacketSize, std::string::npos, sink.packets,
                             from + kAsfPacketSize),
            0);

  testing::TempDir dir;
  const std::string path = dir.File("joined.asf");
  ASSERT_TRUE(testing::WriteWholeFile(path, received.substr(answer.size())));
  const std::string types = testing::RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 " + path,
      true);
  EXPECT_EQ(types.substr(0, 2), "1\n") << types.substr(0, 200);
  EXPECT_EQ(types.find("rror"), std::string::npos) << types.substr(0, 400);
  EXPECT_GE(std::count(types.begin(), types.end(), '\n'), 10);
}

}  // namespace
}  // namespace framory
