// The stream screen between a producer thread and the frame grabber, without
// a producer: pictures stored bottom-up (as some compositors copy them) come
// out top-down with their changed rectangles turned the same way, and a
// picture that arrives after a shot latched its own counts for the next shot,
// not as seen.
#include "capture/StreamScreen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace framory {
namespace {

// A width × height BGRx picture, each row filled with the byte `row + 1`.
std::vector<std::uint8_t> RowNumbered(int width, int height) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    std::memset(pixels.data() + static_cast<std::size_t>(y) * width * 4, y + 1,
                static_cast<std::size_t>(width) * 4);
  }
  return pixels;
}

std::uint32_t At(const Frame& frame, int x, int y) {
  std::uint32_t v;
  std::memcpy(&v, frame.Row(y) + 4 * x, 4);
  return v;
}

TEST(StreamScreen, BottomUpPicturesAndTheirChangesAreTurnedTopDown) {
  StreamScreen screen;
  const std::vector<std::uint8_t> pixels = RowNumbered(8, 6);
  StreamPicture picture{pixels.data(), 8, 6, 32, StreamPixelOrder::Bgrx, true};
  ASSERT_TRUE(screen.Publish(picture, nullptr));
  Frame frame;
  ASSERT_TRUE(screen.Grab(StreamScreen::kStreamWindow, 0, 0, 8, 6, &frame));
  EXPECT_EQ(At(frame, 0, 0), 0x060606u) << "the last row in memory is the top one";
  EXPECT_EQ(At(frame, 7, 5), 0x010101u);

  const ShotView top{Rect{0, 0, 8, 2}, false, Point{}};
  const ShotView bottom{Rect{0, 4, 8, 6}, false, Point{}};
  screen.FrameTaken(top, nullptr);
  // Rows 0-1 in memory changed: the bottom two rows of the picture.
  const std::vector<Rect> changed = {Rect{0, 0, 8, 2}};
  ASSERT_TRUE(screen.Publish(picture, &changed));
  EXPECT_TRUE(screen.Unchanged(top)) << "the top of the picture did not change";
  screen.FrameTaken(bottom, nullptr);
  ASSERT_TRUE(screen.Publish(picture, &changed));
  EXPECT_FALSE(screen.Unchanged(bottom)) << "its bottom did";
}

TEST(StreamScreen, APictureArrivingAfterTheLatchWaitsForTheNextShot) {
  StreamScreen screen;
  const std::vector<std::uint8_t> first = RowNumbered(4, 4);
  std::vector<std::uint8_t> second(first.size(), 0xAA);
  const ShotView view{Rect{0, 0, 4, 4}, false, Point{}};
  ASSERT_TRUE(screen.Publish(StreamPicture{first.data(), 4, 4, 16, StreamPixelOrder::Bgrx, false},
                             nullptr));

  screen.Latch();
  ASSERT_TRUE(screen.Publish(StreamPicture{second.data(), 4, 4, 16, StreamPixelOrder::Rgbx, false},
                             nullptr));
  EXPECT_FALSE(screen.Unchanged(view));
  screen.FrameTaken(view, nullptr);
  Frame frame;
  ASSERT_TRUE(screen.Grab(StreamScreen::kStreamWindow, 0, 0, 4, 4, &frame));
  EXPECT_EQ(At(frame, 0, 0), 0x010101u) << "the shot shows the latched picture";
  screen.Unlatch();

  EXPECT_FALSE(screen.Unchanged(view)) << "the later picture is a change for the next shot";
  screen.FrameTaken(view, nullptr);
  ASSERT_TRUE(screen.Grab(StreamScreen::kStreamWindow, 0, 0, 4, 4, &frame));
  EXPECT_EQ(At(frame, 0, 0), 0xAAAAAAu);
  EXPECT_TRUE(screen.Unchanged(view)) << "nothing new since";
}

}  // namespace
}  // namespace framory
