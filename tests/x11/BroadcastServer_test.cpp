// The broadcast's HTTP server and its start points, without a display: the
// stream is real ASF written by the encoder's output from synthetic pictures,
// the viewers are plain sockets and ffprobe. The server listens on a port the
// system picks, so these tests do not need port 8080.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
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
    std::string bytes(stream.header.begin(), stream.header.end());
    for (std::size_t i = first; i < stream.packets.size(); ++i)
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

}  // namespace
}  // namespace framory
