// The one-recorder-per-display decision without a display: which spellings
// name the same display, where the private instance folder goes (and what is
// refused), the lock's verdicts, and the socket through which a second start
// reaches the running recorder, including starts made before it serves,
// clients that connect and never speak, and folder paths too long for a
// socket address; the remote commands on the same socket, answered before
// they are carried out.
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/InstanceChannel.h"
#include "app/SingleInstance.h"
#include "support/HeldChild.h"
#include "support/TempDir.h"

namespace framory {
namespace {

using testing::HeldChild;
using testing::TempDir;
using testing::WriteWholeFile;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

TEST(SingleInstance, SpellingsOfOneDisplayShareAKeyOtherDisplaysDoNot) {
  for (const char* same : {":0", ":0.0", ":0.1", "unix:0", "unix:0.0", "unix/:0", ":00"}) {
    EXPECT_EQ(DisplayKey(same), ":0") << same;
  }
  EXPECT_EQ(DisplayKey(":10.0"), ":10");
  EXPECT_NE(DisplayKey(":1"), DisplayKey(":10"));
  EXPECT_NE(DisplayKey(":1"), DisplayKey(":0"));
  EXPECT_EQ(DisplayKey("remote:10.0"), "remote:10") << "a remote display keeps its host";
  EXPECT_NE(DisplayKey("remote:0"), DisplayKey(":0"));
  EXPECT_EQ(DisplayKey("not a display"), "not a display");
  EXPECT_EQ(DisplayKey(":0.x"), ":0.x") << "a malformed screen number is not dropped";
}

TEST(SingleInstance, FolderIsPrivateUnderTheRuntimeDirOrElseUnderTheCache) {
  TempDir root;
  const std::string runtime = root.File("runtime");
  const std::string cache = root.File("cache");
  ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);

  InstanceEnvironment environment{runtime, cache, root.File("home")};
  EXPECT_EQ(InstanceFolder(environment), runtime + "/framory");
  EXPECT_EQ(ModeOf(runtime + "/framory"), 0700u);

  // A folder of ours that others may enter is tightened, not used as it is.
  ::chmod((runtime + "/framory").c_str(), 0755);
  EXPECT_EQ(InstanceFolder(environment), runtime + "/framory");
  EXPECT_EQ(ModeOf(runtime + "/framory"), 0700u);

  // A link in place of the folder is not followed (nor its target's rights
  // changed): the cache is used.
  const std::string elsewhere = root.File("elsewhere");
  ASSERT_EQ(::rmdir((runtime + "/framory").c_str()), 0);
  ASSERT_EQ(::mkdir(elsewhere.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(elsewhere.c_str(), 0777), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), (runtime + "/framory").c_str()), 0);
  EXPECT_EQ(InstanceFolder(environment), cache + "/framory/instances");
  EXPECT_EQ(ModeOf(elsewhere), 0777u);

  // A runtime folder others may enter is not private: the cache is used.
  ASSERT_EQ(::rmdir((cache + "/framory/instances").c_str()), 0);
  ::chmod(runtime.c_str(), 0755);
  EXPECT_EQ(InstanceFolder(environment), cache + "/framory/instances");
  EXPECT_EQ(ModeOf(cache + "/framory/instances"), 0700u);

  // Unset or relative XDG folders fall back to the home folder's cache.
  InstanceEnvironment relative{"run", "cache", root.File("home")};
  EXPECT_EQ(InstanceFolder(relative), root.File("home") + "/.cache/framory/instances");

  std::string problem;
  EXPECT_EQ(InstanceFolder(InstanceEnvironment{}, &problem), "");
  EXPECT_FALSE(problem.empty());
}

TEST(SingleInstance, TheLockDecidesPerDisplay) {
  TempDir folder;
  InstanceClaim first = InstanceClaim::Make(folder.Path(), ":0");
  ASSERT_EQ(first.What(), InstanceClaim::Outcome::First) << first.Problem();

  InstanceClaim second = InstanceClaim::Make(folder.Path(), "unix:0.0");
  EXPECT_EQ(second.What(), InstanceClaim::Outcome::AlreadyRunning);
  EXPECT_EQ(second.SocketPath(), first.SocketPath());

  InstanceClaim other = InstanceClaim::Make(folder.Path(), ":1");
  EXPECT_EQ(other.What(), InstanceClaim::Outcome::First) << "another display runs its own";
  EXPECT_NE(other.SocketPath(), first.SocketPath());

  // The socket file a crashed recorder leaves behind does not count.
  ASSERT_TRUE(WriteWholeFile(first.SocketPath(), ""));
  first = InstanceClaim();
  InstanceClaim next = InstanceClaim::Make(folder.Path(), ":0");
  EXPECT_EQ(next.What(), InstanceClaim::Outcome::First);

  EXPECT_EQ(InstanceClaim::Make("", ":0").What(), InstanceClaim::Outcome::Unavailable);
  EXPECT_EQ(InstanceClaim::Make(folder.File("missing"), ":0").What(),
            InstanceClaim::Outcome::Unavailable);
}

// The lock goes with the process that holds it: a killed recorder leaves it
// free, and a program the recorder started (a player, a file manager), which
// may outlive it, never inherits it.
TEST(SingleInstance, AKilledRecorderOrAProgramItStartedDoNotKeepTheLock) {
  TempDir folder;
  {
    HeldChild recorder([&folder](const std::function<void()>& hold) {
      InstanceClaim claim = InstanceClaim::Make(folder.Path(), ":3");
      if (claim.What() == InstanceClaim::Outcome::First) hold();
    });
    ASSERT_TRUE(recorder.Ready());
    EXPECT_EQ(InstanceClaim::Make(folder.Path(), ":3").What(),
              InstanceClaim::Outcome::AlreadyRunning);
    recorder.Kill();
    EXPECT_EQ(InstanceClaim::Make(folder.Path(), ":3").What(), InstanceClaim::Outcome::First);
  }

  InstanceClaim claim = InstanceClaim::Make(folder.Path(), ":4");
  ASSERT_EQ(claim.What(), InstanceClaim::Outcome::First);
  pid_t launched = -1;
  char sleepName[] = "sleep";
  char seconds[] = "60";
  char* arguments[] = {sleepName, seconds, nullptr};
  ASSERT_EQ(::posix_spawnp(&launched, "sleep", nullptr, nullptr, arguments, environ), 0);
  claim = InstanceClaim();
  EXPECT_EQ(InstanceClaim::Make(folder.Path(), ":4").What(), InstanceClaim::Outcome::First)
      << "the started program holds the lock";
  ::kill(launched, SIGKILL);
  ::waitpid(launched, nullptr, 0);
}

// Serves the watched descriptors the way the event loop does, from the
// test's own thread, while a second start asks from another thread.
class LoopSocketWatch : public SocketWatch {
 public:
  void Watch(int fd, std::function<void()> onReadable) override { watched_[fd] = onReadable; }
  void Unwatch(int fd) override { watched_.erase(fd); }
  std::size_t Count() const { return watched_.size(); }
  // Serves until `done` is set; each wait is bounded so a lost wake-up
  // cannot hang the test.
  void ServeUntil(const std::atomic<bool>& done) {
    while (!done) {
      std::vector<pollfd> fds;
      for (const auto& entry : watched_) fds.push_back(pollfd{entry.first, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
      for (const pollfd& p : fds) {
        const auto found = watched_.find(p.fd);
        if ((p.revents & (POLLIN | POLLHUP)) != 0 && found != watched_.end()) {
          const auto callback = found->second;
          callback();
        }
      }
    }
  }

 private:
  std::map<int, std::function<void()>> watched_;
};

// Runs `before` and then the link's request on another thread (a second
// start), while the server is served here; returns the link's answer.
bool AskWhileServing(LoopSocketWatch& watch, InstanceLink& link,
                     const std::function<void()>& before = {}) {
  std::atomic<bool> done{false};
  bool answered = false;
  std::thread asker([&] {
    if (before) before();
    answered = link.AskToShow();
    done = true;
  });
  watch.ServeUntil(done);
  asker.join();
  return answered;
}

int ConnectTo(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(InstanceChannel, ShowRequestsReachTheRunningRecorderOverAStaleSocketFile) {
  TempDir folder;
  const std::string path = folder.File("display.socket");
  ASSERT_TRUE(WriteWholeFile(path, "left by a crash"));
  LoopSocketWatch watch;
  int shows = 0;
  {
    InstanceServer server;
    std::string problem;
    ASSERT_TRUE(server.Listen(path, &problem)) << problem;
    // A start made before the recorder serves waits for it.
    const int early = ConnectTo(path);
    ASSERT_GE(early, 0);
    ASSERT_EQ(::send(early, "show\n", 5, MSG_NOSIGNAL), 5);
    server.Serve(watch, [&shows] { ++shows; });

    SocketInstanceLink link(path, 5000);
    EXPECT_TRUE(AskWhileServing(watch, link));
    EXPECT_TRUE(AskWhileServing(watch, link));
    EXPECT_EQ(shows, 3) << "the early start and two more";
    char answer[16] = {};
    EXPECT_EQ(::recv(early, answer, sizeof answer - 1, 0), 6);
    EXPECT_STREQ(answer, "shown\n");
    ::close(early);
    EXPECT_EQ(watch.Count(), 1u) << "answered connections are closed and unwatched";
  }
  EXPECT_EQ(watch.Count(), 0u);
  EXPECT_NE(::access(path.c_str(), F_OK), 0) << "the socket goes with the server";
}

TEST(InstanceChannel, OtherRequestsAndSilentClientsDoNotShowOrBlock) {
  TempDir folder;
  const std::string path = folder.File("display.socket");
  LoopSocketWatch watch;
  int shows = 0;
  InstanceServer server;
  ASSERT_TRUE(server.Listen(path));
  server.Serve(watch, [&shows] { ++shows; });
  SocketInstanceLink link(path, 5000);
  std::vector<int> clients;

  // A request that is not "show", and one that never ends its line.
  EXPECT_TRUE(AskWhileServing(watch, link, [&] {
    const int wrong = ConnectTo(path);
    ::send(wrong, "showall\n", 8, MSG_NOSIGNAL);
    const int endless = ConnectTo(path);
    const std::string flood(200, 's');
    ::send(endless, flood.data(), flood.size(), MSG_NOSIGNAL);
    clients = {wrong, endless};
  }));
  EXPECT_EQ(shows, 1) << "only the real request shows the view";

  // Clients that connect and never speak, more than the server keeps open.
  EXPECT_TRUE(AskWhileServing(watch, link, [&] {
    for (int i = 0; i < 12; ++i) clients.push_back(ConnectTo(path));
  })) << "a real request is still answered";
  EXPECT_EQ(shows, 2);
  for (const int fd : clients) ::close(fd);
}

// A socket address holds a path of 107 bytes; an instance folder under a
// long home folder needs more, and must work all the same.
TEST(InstanceChannel, ASocketDeepInALongFolderPathIsReached) {
  TempDir root;
  std::string folder = root.Path();
  while (folder.size() < 150) {
    folder += "/a-rather-long-folder-name";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  }
  const std::string path = folder + "/display:0@host.socket";
  LoopSocketWatch watch;
  int shows = 0;
  InstanceServer server;
  std::string problem;
  ASSERT_TRUE(server.Listen(path, &problem)) << problem;
  server.Serve(watch, [&shows] { ++shows; });
  EXPECT_EQ(::access(path.c_str(), F_OK), 0) << "the socket is made where it was asked";
  SocketInstanceLink link(path, 5000);
  EXPECT_TRUE(AskWhileServing(watch, link));
  EXPECT_EQ(shows, 1);
}

// A command that shows a box runs a nested event loop until the user
// answers; its caller must have its answer before that, not time out.
TEST(InstanceChannel, RemoteCommandsAreAnsweredBeforeTheyAreCarriedOut) {
  TempDir folder;
  const std::string path = folder.File("display.socket");
  LoopSocketWatch watch;
  InstanceServer server;
  ASSERT_TRUE(server.Listen(path));
  const std::string statusText = "paused; output type 3 (PNG pictures); file /a b/pic1.png";
  std::mutex mutex;
  std::condition_variable changed;
  bool answered = false;
  std::vector<std::string> carried;
  std::vector<bool> answeredFirst;
  server.Serve(
      watch,
      [&](RemoteCommand command) -> std::optional<RemoteReply> {
        if (command == RemoteCommand::TakeShot) {
          return RemoteReply{RemoteReply::Kind::Refused, "Framory is paused; no shot was taken"};
        }
        return RemoteReply{RemoteReply::Kind::Done,
                           command == RemoteCommand::GetStatus ? statusText : ""};
      },
      [&](RemoteCommand command) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(20), [&] { return answered; });
        carried.push_back(RemoteRequestWord(command));
        answeredFirst.push_back(answered);
      });
  SocketInstanceLink link(path, 10000);
  const auto ask = [&](RemoteCommand command) {
    answered = false;
    std::atomic<bool> done{false};
    RemoteReply reply;
    std::thread asker([&] {
      reply = link.Ask(command);
      {
        std::lock_guard<std::mutex> lock(mutex);
        answered = true;
      }
      changed.notify_all();
      done = true;
    });
    watch.ServeUntil(done);
    asker.join();
    return reply;
  };

  const RemoteReply status = ask(RemoteCommand::GetStatus);
  EXPECT_EQ(status.What, RemoteReply::Kind::Done);
  EXPECT_EQ(status.Text, statusText) << "the line arrives whole, spaces in the path and all";
  const RemoteReply toggled = ask(RemoteCommand::ToggleRecording);
  EXPECT_EQ(toggled.What, RemoteReply::Kind::Done);
  const RemoteReply shot = ask(RemoteCommand::TakeShot);
  EXPECT_EQ(shot.What, RemoteReply::Kind::Refused);
  EXPECT_EQ(shot.Text, "Framory is paused; no shot was taken");
  EXPECT_EQ(carried, (std::vector<std::string>{"status", "toggle-recording"}))
      << "a refused command is not carried out";
  EXPECT_EQ(answeredFirst, (std::vector<bool>{true, true}));
}

TEST(InstanceChannel, NoRecorderBehindTheSocketIsNotRunningNotSilence) {
  TempDir folder;
  EXPECT_EQ(SocketInstanceLink(folder.File("none.socket"), 5000).Ask(RemoteCommand::GetStatus).What,
            RemoteReply::Kind::NotRunning);
  // The socket file a killed recorder left: nobody listens on it.
  const std::string left = folder.File("left.socket");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, left.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  EXPECT_EQ(SocketInstanceLink(left, 5000).Ask(RemoteCommand::Quit).What,
            RemoteReply::Kind::NotRunning);
}

}  // namespace
}  // namespace framory
