// A descriptor closed twice may close another part's file that reused its
// number; one left open leaks. The owner must close exactly once, whoever
// holds it last.
#include "base/UniqueFd.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <utility>

namespace framory {
namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

int OpenNull() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

TEST(UniqueFd, ClosesOnceWhoeverHoldsItLast) {
  const int fd = OpenNull();
  ASSERT_GE(fd, 0);
  {
    UniqueFd first(fd);
    UniqueFd second(std::move(first));
    EXPECT_FALSE(first.Valid());
    UniqueFd third;
    third = std::move(second);
    second.Reset();  // holds nothing any more: closes nothing
    EXPECT_TRUE(IsOpen(fd)) << "moved, not closed";
    third.Reset(fd);  // the same descriptor again is kept, not closed
    EXPECT_TRUE(IsOpen(fd));
    EXPECT_EQ(third.Get(), fd);
  }
  EXPECT_FALSE(IsOpen(fd)) << "closed when its last owner went";

  const int other = OpenNull();
  ASSERT_GE(other, 0);
  UniqueFd owner(other);
  EXPECT_EQ(owner.Close(), 0);
  EXPECT_FALSE(IsOpen(other));
  EXPECT_EQ(owner.Close(), 0) << "nothing held: nothing closed again";

  const int released = OpenNull();
  ASSERT_GE(released, 0);
  {
    UniqueFd given(released);
    EXPECT_EQ(given.Release(), released);
  }
  EXPECT_TRUE(IsOpen(released)) << "released to a new owner";
  UniqueFd(released).Reset();
  EXPECT_FALSE(IsOpen(released));
}

}  // namespace
}  // namespace framory
