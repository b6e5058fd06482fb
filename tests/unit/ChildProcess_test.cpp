// The child-process helpers many tests stand on: a child that crashes or is
// killed must come back as a failure, never as an empty report that a test
// could take for success, and a file-size limit must make writes fail
// without killing the child.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include "support/ChildProcess.h"
#include "support/HeldChild.h"
#include "support/TempDir.h"

namespace framory {
namespace {

using testing::HeldChild;
using testing::kChildFailed;
using testing::RunInChild;

TEST(ChildProcess, ReportsComeBackWholeAndFailedChildrenAreNoticed) {
  const std::string big(200000, 'r');  // more than a pipe holds at once
  EXPECT_EQ(RunInChild([&] { return big; }), big);
  EXPECT_EQ(RunInChild([] { return std::string(); }), "");
  EXPECT_EQ(RunInChild([]() -> std::string {
              raise(SIGSEGV);
              return "late";
            }),
            kChildFailed);
  EXPECT_EQ(RunInChild([]() -> std::string { std::exit(3); }), kChildFailed);
  EXPECT_EQ(testing::SplitLines("a\n\nb\nunfinished"), (std::vector<std::string>{"a", "", "b"}));

  const int status = testing::ChildWaitStatus([] { std::exit(7); });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
  EXPECT_EQ(WEXITSTATUS(testing::ChildWaitStatus([] {})), 99) << "a body that returns";
}

TEST(ChildProcess, FileSizeLimitFailsTheWriteAndTheChildGoesOn) {
  testing::TempDir dir;
  const std::string path = dir.File("limited");
  const std::string outcome = RunInChild(
      [&] {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) return std::string("no file");
        const std::string block(8192, 'x');
        std::string log;
        for (int i = 0; i < 3; ++i) {
          const ssize_t n = write(fd, block.data(), block.size());
          log += n < 0 ? (errno == EFBIG ? "EFBIG " : "error ") : std::to_string(n) + " ";
        }
        close(fd);
        return log;
      },
      10000);
  EXPECT_EQ(outcome, "8192 1808 EFBIG ") << "writes up to the limit, then fail";
  EXPECT_EQ(testing::ReadWholeFile(path).size(), 10000u) << "what fitted is kept";
}

TEST(HeldChild, HoldsUntilKilledAndTellsAChildThatNeverGotReady) {
  testing::TempDir dir;
  const std::string mark = dir.File("mark");
  HeldChild held([&](const std::function<void()>& hold) {
    testing::WriteWholeFile(mark, "set up");
    hold();
    testing::WriteWholeFile(mark, "went on");  // never reached
  });
  ASSERT_TRUE(held.Ready());
  EXPECT_EQ(testing::ReadWholeFile(mark), "set up");
  const int status = held.Kill();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(testing::ReadWholeFile(mark), "set up");
  EXPECT_EQ(held.Kill(), -1) << "reaped once";

  HeldChild quitter([](const std::function<void()>&) {});
  EXPECT_FALSE(quitter.Ready());
  const int quit = quitter.Kill();
  EXPECT_TRUE(WIFEXITED(quit)) << "it had ended by itself";
}

}  // namespace
}  // namespace framory
