// The broadcast's writer closed while the name of its server is being looked
// up, with a name server that takes the question and never answers: the
// resolver cannot be interrupted and only gives up after its timeout, and
// closing the writer (on the event loop) must not wait for it.
//
// The test runs in a mount and network namespace of its own, where
// /etc/resolv.conf names a name server on loopback that the test plays: it
// reads the question, which shows the look-up is under way, and answers
// nothing.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>

#include "base/MovieFrame.h"
#include "platform/media/FfmpegStreamOutput.h"
#include "platform/media/MediaLog.h"
#include "support/TempDir.h"
#include "writers/StreamWriter.h"

namespace framory {
namespace {

using Clock = std::chrono::steady_clock;

// How long the resolver waits for the name server's answer.
constexpr int kResolverTimeoutSeconds = 20;

bool LoopbackUp() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  ok = ok && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return ok;
}

class HungResolverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Made before any thread starts: a process with threads cannot leave
    // its mount namespace.
    static testing::TempDir dir;
    const std::string conf = dir.File("resolv.conf");
    std::ofstream(conf) << "nameserver 127.0.0.1\noptions timeout:" << kResolverTimeoutSeconds
                        << " attempts:1\n";
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
      problem_ = std::string("no namespaces here: ") + std::strerror(errno);
      return;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0 || !LoopbackUp()) {
      problem_ = std::string("the namespace could not be set up: ") + std::strerror(errno);
    }
  }
  void SetUp() override {
    if (!problem_.empty()) GTEST_SKIP() << problem_;
    QuietMediaLog();
  }
  static inline std::string problem_;
};

TEST_F(HungResolverTest, ClosingWhileTheNameIsLookedUpDoesNotWaitForTheResolver) {
  // The name server: takes questions and answers none.
  const int nameServer = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(nameServer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
      << std::strerror(errno);

  FfmpegStreamOutputLibrary library;
  StreamWriterParts parts;
  parts.Outputs = &library;
  StreamWriter writer(parts, "rtmp://stream-server.framory.test/live/key", 100);
  MovieFrame frame;
  ASSERT_TRUE(frame.Create(64, 48));
  ASSERT_EQ(writer.AddFrameAt(frame, 0), kWriterOk);

  // The question comes: the sending thread is in the resolver now. (A bound
  // on the waiting only; the look-up starts at once.)
  pollfd question{nameServer, POLLIN, 0};
  ASSERT_EQ(poll(&question, 1, 60'000), 1) << "the resolver never asked the name server";

  const auto start = Clock::now();
  writer.Close();
  const auto took = Clock::now() - start;
  std::printf("Close took %.1f ms while the resolver waits %d s\n",
              std::chrono::duration<double, std::milli>(took).count(), kResolverTimeoutSeconds);
  EXPECT_LT(took, std::chrono::seconds(kResolverTimeoutSeconds))
      << "closing waited for the resolver";
  EXPECT_EQ(writer.SentFrames(), 0);
  close(nameServer);
}

}  // namespace
}  // namespace framory
