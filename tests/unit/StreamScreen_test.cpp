// The stream screen between a producer thread and the frame grabber, without
// a producer: pictures stored bottom-up (as some compositors copy them) come
// out top-down with their changed rectangles turned the same way, and a
// picture that arrives after a shot latched its own counts for the next shot,
// not as seen; and another thread (the screen encoder's) copying pictures out
// gets the newest one, whole, while the producer and the GUI thread go on.
#include "capture/StreamScreen.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
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

// A width × height picture of one grey value.
std::vector<std::uint8_t> Flat(int width, int height, std::uint8_t value) {
  return std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4, value);
}

bool Publish(StreamScreen& screen, const std::vector<std::uint8_t>& pixels, int width, int height) {
  StreamPicture picture;
  picture.Pixels = pixels.data();
  picture.Width = width;
  picture.Height = height;
  picture.Stride = width * 4;
  return screen.Publish(picture, nullptr);
}

TEST(StreamScreen, ACopyOutGetsTheNewestPictureWholeBesideTheProducerAndTheGrabs) {
  StreamScreen screen;
  std::vector<std::uint32_t> copy;
  EXPECT_FALSE(screen.CopyNewest(0, 0, 4, 4, &copy)) << "nothing before the first picture";

  // The newest, whether or not the GUI thread has taken it for a grab.
  ASSERT_TRUE(Publish(screen, Flat(8, 6, 0x11), 8, 6));
  Frame frame;
  ASSERT_TRUE(screen.Grab(StreamScreen::kStreamWindow, 0, 0, 8, 6, &frame));
  ASSERT_TRUE(screen.CopyNewest(0, 0, 8, 6, &copy));
  EXPECT_EQ(copy.front(), 0x111111u) << "the picture the grab took";
  ASSERT_TRUE(Publish(screen, Flat(8, 6, 0x22), 8, 6));
  ASSERT_TRUE(screen.CopyNewest(0, 0, 8, 6, &copy));
  EXPECT_EQ(copy.back(), 0x222222u) << "the picture not yet grabbed";
  // A rectangle reaching beyond the picture (it shrank under the encoder's
  // region) is black there.
  ASSERT_TRUE(screen.CopyNewest(6, 4, 4, 4, &copy));
  ASSERT_EQ(copy.size(), 16u);
  EXPECT_EQ(copy[0], 0x222222u);
  EXPECT_EQ(copy[1 * 4 + 1], 0x222222u);
  EXPECT_EQ(copy[2], 0u);
  EXPECT_EQ(copy[2 * 4], 0u);

  // A producer, the GUI thread grabbing and another thread copying, all at
  // once: every picture each of them sees is one whole picture, never parts
  // of two.
  // Every picture from here on covers the 40 × 48 pixels read.
  ASSERT_TRUE(Publish(screen, Flat(64, 48, 0x33), 64, 48));
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (int i = 0; i < 3000; ++i) {
      const std::uint8_t value = static_cast<std::uint8_t>(i % 250 + 1);
      // Every tenth picture of another size, so buffers are reallocated too.
      const int width = i % 10 == 0 ? 40 : 64;
      Publish(screen, Flat(width, 48, value), width, 48);
    }
    done = true;
  });
  int tornCopies = 0, tornGrabs = 0;
  std::thread copier([&] {
    std::vector<std::uint32_t> pixels;
    while (!done) {
      if (!screen.CopyNewest(0, 0, 40, 48, &pixels)) continue;
      for (const std::uint32_t p : pixels) {
        if (p != pixels[0]) {
          ++tornCopies;
          break;
        }
      }
    }
  });
  while (!done) {
    if (!screen.Grab(StreamScreen::kStreamWindow, 0, 0, 40, 48, &frame)) continue;
    const std::uint32_t first = At(frame, 0, 0);
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 40; ++x) {
        if (At(frame, x, y) != first) {
          ++tornGrabs;
          y = 48;
          break;
        }
      }
    }
  }
  producer.join();
  copier.join();
  EXPECT_EQ(tornCopies, 0) << "copies mixing two pictures";
  EXPECT_EQ(tornGrabs, 0) << "grabs mixing two pictures";
}

}  // namespace
}  // namespace framory
