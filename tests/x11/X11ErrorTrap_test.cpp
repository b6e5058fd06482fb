// X errors and a broken connection must become results, never an exit.
// GoogleTest comes before Xlib, whose None and Bool macros clash with it.
#include <gtest/gtest.h>

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ErrorTrap.h"

namespace framory {
namespace {

constexpr Window kNoSuchWindow = 0x7ffffff0;

TEST(X11ErrorTrap, ReportsErrorsOfRequestsSentInsideIt) {
  X11Connection connection;
  ASSERT_TRUE(connection.Valid());
  Display* display = connection.display();

  X11ErrorTrap clean(display);
  XWindowAttributes attributes;
  XGetWindowAttributes(display, connection.root(), &attributes);
  EXPECT_FALSE(clean.Failed()) << "a valid request must not fail";
  EXPECT_EQ(clean.ErrorCode(), 0);

  X11ErrorTrap trap(display);
  XMapWindow(display, kNoSuchWindow);
  ASSERT_TRUE(trap.Failed()) << "mapping a window that does not exist";
  EXPECT_EQ(trap.ErrorCode(), BadWindow);
  EXPECT_EQ(trap.RequestCode(), 8) << "X_MapWindow";
  EXPECT_TRUE(connection.Alive());
}

TEST(X11ErrorTrap, EarlierErrorsDoNotLeakIntoLaterTraps) {
  X11Connection connection;
  ASSERT_TRUE(connection.Valid());
  Display* display = connection.display();

  // An error from a request sent before the trap, not yet read from the wire.
  XMapWindow(display, kNoSuchWindow);
  X11ErrorTrap later(display);
  XNoOp(display);
  EXPECT_FALSE(later.Failed()) << "the failed request was sent before the trap";

  X11ErrorTrap outer(display);
  {
    X11ErrorTrap inner(display);
    XUnmapWindow(display, kNoSuchWindow);
    EXPECT_TRUE(inner.Failed());
  }
  X11ErrorTrap afterInner(display);
  XNoOp(display);
  EXPECT_FALSE(afterInner.Failed());
  EXPECT_TRUE(outer.Failed()) << "the outer trap spans the inner one's error";
}

TEST(X11ErrorTrap, BrokenConnectionMarksItDeadWithoutExiting) {
  X11Connection victim;
  X11Connection killer;
  ASSERT_TRUE(victim.Valid() && killer.Valid());
  Display* display = victim.display();

  // Give the victim a resource so that its client id is known, then have the
  // server drop the whole client.
  Window window = XCreateSimpleWindow(display, victim.root(), 0, 0, 10, 10, 0, 0, 0);
  XSync(display, False);
  XKillClient(killer.display(), window);
  XSync(killer.display(), False);

  X11ErrorTrap trap(display);
  XWindowAttributes attributes;
  XGetWindowAttributes(display, victim.root(), &attributes);
  EXPECT_TRUE(trap.Failed());
  EXPECT_EQ(trap.ErrorCode(), -1);
  EXPECT_FALSE(victim.Alive());
  EXPECT_TRUE(X11ErrorTrap::ConnectionDead(display));

  X11ErrorTrap afterwards(display);
  XNoOp(display);
  EXPECT_TRUE(afterwards.Failed()) << "every later trap on a dead connection fails";
  EXPECT_TRUE(killer.Alive());
}

}  // namespace
}  // namespace framory
