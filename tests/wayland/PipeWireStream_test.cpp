// session: pipewire
// The PipeWire screen source against a real producer: GStreamer's
// pipewiresink fed by videotestsrc, on a private PipeWire daemon. The
// reference pictures come from GStreamer itself (the same pattern written to
// a raw file), so what the stream delivers is compared with what the
// producer drew, pixel for pixel.
//
//  - each of the four 32-bit formats, at odd widths and heights: the whole
//    picture, a rectangle inside it and one reaching beyond it (black there);
//  - a producer that changes its picture size mid-clip: the clip of the old
//    size ends and one of the new size starts, each holding only its own
//    pictures (decoded by ffmpeg).
//
//  - a producer that sends damage and pointer metadata as a compositor does
//    (a small PipeWire source the test tells what to send): a change outside
//    the recorded area is stored as a repeat, one inside as a picture, and
//    the pointer is drawn where its metadata puts it.
//
// pipewiresink sends neither damage nor pointer metadata: each of its
// pictures counts as changed everywhere.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/Settings.h"
#include "capture/CaptureTarget.h"
#include "capture/ClipSession.h"
#include "capture/FrameGrabber.h"
#include "capture/OutputNaming.h"
#include "capture/StreamScreen.h"
#include "capture/StreamSizeCut.h"
#include "capture/StreamWindowSystem.h"
#include "capture/WriterFailureBoxes.h"
#include "platform/wayland/PipeWireScreenStream.h"
#include "support/ClipSessionFakes.h"
#include "support/MediaProbe.h"
#include "support/RecorderFakes.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"
#include "wayland/StreamTestSupport.h"
#include "writers/AviFileApi.h"
#include "writers/MovieWriterFactory.h"
#include "writers/WmFormatApi.h"

namespace framory {
namespace {

using testing::Background;
using testing::WaitUntil;

// The pattern as GStreamer draws it in BGRx, as 0x00RRGGBB words.
std::vector<std::uint32_t> ReferencePicture(const std::string& pattern, int width, int height) {
  testing::TempDir dir;
  const std::string file = dir.File("ref.raw");
  testing::RunCommand("gst-launch-1.0 -q videotestsrc num-buffers=1 pattern=" + pattern +
                      " ! video/x-raw,format=BGRx,width=" + std::to_string(width) + ",height=" +
                      std::to_string(height) + " ! filesink location=" + testing::ShellQuote(file));
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::uint32_t> words;
  if (bytes.size() != static_cast<std::size_t>(width) * height * 4) return words;
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    words.push_back(static_cast<std::uint8_t>(bytes[i]) |
                    static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                    static_cast<std::uint8_t>(bytes[i + 2]) << 16);
  }
  return words;
}

// A pipewiresink node named `node` showing `pattern`.
std::unique_ptr<Background> Producer(const std::string& node, const std::string& pattern,
                                     const std::string& format, int width, int height) {
  return std::make_unique<Background>(std::vector<std::string>{
      "gst-launch-1.0", "-q", "videotestsrc", "pattern=" + pattern, "is-live=true", "!",
      "video/x-raw,format=" + format + ",width=" + std::to_string(width) +
          ",height=" + std::to_string(height) + ",framerate=20/1",
      "!", "pipewiresink", "mode=provide",
      "stream-properties=p,node.name=" + node + ",media.class=Video/Source"});
}

std::uint32_t PixelAt(const Frame& frame, int x, int y) {
  std::uint32_t v;
  std::memcpy(&v, frame.Row(y) + 4 * x, 4);
  return v & 0xFFFFFF;
}

struct Case {
  const char* pattern;
  const char* format;
  int width, height;
};

TEST(PipeWireStream, PicturesEqualTheProducersPatternInEveryFormatAndOddSizes) {
  const Case cases[] = {{"smpte100", "BGRx", 101, 67},
                        {"colors", "RGBx", 333, 17},
                        {"checkers-1", "BGRA", 7, 5},
                        {"colors", "RGBA", 161, 99}};
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " " + c.format + " " + " " + std::to_string(c.width) +
                 "x" + std::to_string(c.height));
    const std::vector<std::uint32_t> reference = ReferencePicture(c.pattern, c.width, c.height);
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(c.width) * c.height)
        << "GStreamer wrote the reference picture";
    const std::string node = "framory-pattern-" + std::to_string(round++);
    auto producer = Producer(node, c.pattern, c.format, c.width, c.height);
    ASSERT_TRUE(testing::WaitForNode(node)) << "the producer did not start";
    StreamScreen screen;
    PipeWireScreenStream stream(screen);
    ASSERT_TRUE(stream.Start(-1, 0, node)) << stream.Error();
    ASSERT_TRUE(WaitUntil([&] { return screen.PicturesPublished() >= 2 || stream.Failed(); }))
        << "no picture came";
    ASSERT_FALSE(stream.Failed()) << stream.Error();
    ASSERT_EQ(screen.Width(), c.width);
    ASSERT_EQ(screen.Height(), c.height);

    Frame frame;
    ASSERT_TRUE(screen.Grab(StreamScreen::kStreamWindow, 0, 0, c.width, c.height, &frame));
    ASSERT_EQ(frame.BitsPerPixel, 32);
    int wrong = 0;
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        if (PixelAt(frame, x, y) != reference[static_cast<std::size_t>(y) * c.width + x] &&
            wrong++ < 5) {
          ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << PixelAt(frame, x, y)
                        << " instead of " << reference[static_cast<std::size_t>(y) * c.width + x];
        }
      }
    }
    EXPECT_EQ(wrong, 0) << "pixels unlike the pattern";

    // A rectangle inside, from an odd corner.
    const int x0 = c.width / 3, y0 = c.height / 2, w = c.width - x0 - 1, h = c.height - y0;
    ASSERT_TRUE(screen.Grab(StreamScreen::kStreamWindow, x0, y0, w, h, &frame));
    EXPECT_EQ(PixelAt(frame, 0, 0), reference[static_cast<std::size_t>(y0) * c.width + x0]);
    EXPECT_EQ(PixelAt(frame, w - 1, h - 1),
              reference[static_cast<std::size_t>(y0 + h - 1) * c.width + x0 + w - 1]);
    // One reaching beyond the right and bottom edges: black there.
    ASSERT_TRUE(screen.Grab(StreamScreen::kStreamWindow, 1, 1, c.width + 4, c.height + 3, &frame));
    EXPECT_EQ(PixelAt(frame, 0, 0), reference[static_cast<std::size_t>(1) * c.width + 1]);
    EXPECT_EQ(PixelAt(frame, c.width - 2, c.height - 2),
              reference[static_cast<std::size_t>(c.height - 1) * c.width + c.width - 1]);
    EXPECT_EQ(PixelAt(frame, c.width + 3, 0), 0u);
    EXPECT_EQ(PixelAt(frame, 0, c.height + 2), 0u);
    stream.Stop();
  }
}

// The clip of a stream whose picture grows mid-clip: the frame grabber,
// the clip session and the AVI writer, shot by hand as the periodic timer
// would.
TEST(PipeWireStream, ASizeChangeEndsTheClipAndTheNextClipHasTheNewSize) {
  testing::TempDir dir;
  Settings settings;
  settings.SetProjectDirectory(dir.Path() + "/");
  settings.SetProjectName("clips");
  std::filesystem::create_directories(settings.ProjectFolder());
  settings.SetOutputType(OutputTypes::AviUncompressed);
  settings.SetTimerValue(50);
  settings.SetTakeShotOnTimer(true);
  settings.SetPutCursorInBitmap(true);
  SetCaptureFocus(settings, CaptureFocus::Desktop);
  OutputNaming naming{settings};
  testing::FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  testing::FakeClipHost host;
  std::unique_ptr<AviFileLibrary> avi = CreateAviFileLibrary();
  MovieWriterFactory factory{avi.get(), &reports, 1920, 1080};
  ClipSession session{settings, naming, factory, host};
  StreamScreen screen;
  StreamWindowSystem windows(screen);
  CaptureLinks links;
  links.Clip = &session;
  CaptureTarget target{settings, windows, links};
  FrameGrabber grabber{settings, screen, target, links};
  grabber.SetChangeWatch(&screen);
  StreamSizeCut cut(screen, session, [&session] { session.EndClip(); });

  // 200 × 120 red for 20 pictures, then 160 × 100 blue.
  Background producer(
      {RESIZING_SOURCE, "framory-resizing", "200", "120", "dc0000", "20", "160", "100", "0000e6"});
  ASSERT_TRUE(producer.Started());
  ASSERT_TRUE(testing::WaitForNode("framory-resizing")) << "the producer did not start";
  PipeWireScreenStream stream(screen);
  ASSERT_TRUE(stream.Start(-1, 0, "framory-resizing")) << stream.Error();
  ASSERT_TRUE(WaitUntil([&] { return screen.Width() > 0 || stream.Failed(); }));
  ASSERT_EQ(screen.Width(), 200);
  int shotsAfter = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        cut.BeforeShot();
        grabber.TakeShot();
        cut.AfterShot();
        if (screen.Width() == 160) ++shotsAfter;
        return shotsAfter >= 10 || stream.Failed();
      },
      60))
      << "the producer's size never changed";
  ASSERT_FALSE(stream.Failed()) << stream.Error();
  session.EndClip();
  stream.Stop();
  ASSERT_FALSE(host.paused) << "no writer failure";

  const std::string first = settings.ProjectFolder() + "/movie0.avi";
  const std::string second = settings.ProjectFolder() + "/movie1.avi";
  const testing::VideoProbe one = testing::ProbeVideo(first);
  const testing::VideoProbe two = testing::ProbeVideo(second);
  ASSERT_TRUE(one.Ok && two.Ok) << "two clips were written";
  EXPECT_EQ(one.Width, 200);
  EXPECT_EQ(one.Height, 120);
  EXPECT_EQ(two.Width, 160);
  EXPECT_EQ(two.Height, 100);
  EXPECT_FALSE(std::filesystem::exists(settings.ProjectFolder() + "/movie2.avi"));
  const auto red = testing::DecodeFrames(first, 200, 120);
  const auto blue = testing::DecodeFrames(second, 160, 100);
  ASSERT_FALSE(red.empty());
  ASSERT_FALSE(blue.empty());
  for (std::size_t i = 0; i < red.size(); ++i) {
    EXPECT_EQ(red[i][0], 0xDC0000u) << "first clip, picture " << i;
    EXPECT_EQ(red[i].back(), 0xDC0000u) << "first clip, picture " << i;
  }
  for (std::size_t i = 0; i < blue.size(); ++i) {
    EXPECT_EQ(blue[i][0], 0x0000E6u) << "second clip, picture " << i;
    EXPECT_EQ(blue[i].back(), 0x0000E6u) << "second clip, picture " << i;
  }
}

// A clip of the top-left quarter of a 160 × 120 stream whose producer
// reports what changed and where the pointer is: shots of an unchanged area
// are repeats, whatever changed elsewhere.
TEST(PipeWireStream, DamageAndPointerMetadataDecideWhatIsStoredAndWhereThePointerIsDrawn) {
  testing::TempDir dir;
  Settings settings;
  settings.SetProjectDirectory(dir.Path() + "/");
  settings.SetProjectName("clips");
  std::filesystem::create_directories(settings.ProjectFolder());
  settings.SetOutputType(OutputTypes::AviUncompressed);
  settings.SetTimerValue(50);
  settings.SetTakeShotOnTimer(true);
  settings.SetPutCursorInBitmap(true);
  SetCaptureFocus(settings, CaptureFocus::Area);
  settings.SetHasMarkUserArea(true);
  settings.SetUserArea(Rect{0, 0, 79, 59});
  OutputNaming naming{settings};
  testing::FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  testing::FakeClipHost host;
  std::unique_ptr<AviFileLibrary> avi = CreateAviFileLibrary();
  MovieWriterFactory factory{avi.get(), &reports, 1920, 1080};
  ClipSession session{settings, naming, factory, host};
  StreamScreen screen;
  StreamWindowSystem windows(screen);
  CaptureLinks links;
  links.Clip = &session;
  CaptureTarget target{settings, windows, links};
  FrameGrabber grabber{settings, screen, target, links};
  grabber.SetChangeWatch(&screen);

  Background producer({SCRIPTED_SOURCE, "framory-scripted", "160", "120"}, true);
  ASSERT_TRUE(producer.Started());
  ASSERT_TRUE(testing::WaitForNode("framory-scripted")) << "the producer did not start";
  PipeWireScreenStream stream(screen);
  ASSERT_TRUE(stream.Start(-1, 0, "framory-scripted")) << stream.Error();
  ASSERT_TRUE(WaitUntil([&] { return screen.PicturesPublished() >= 1 || stream.Failed(); }));
  ASSERT_FALSE(stream.Failed()) << stream.Error();
  // The producer repeats its first picture until told something: the
  // pointer's first place (outside the area) ends that, and once it is
  // here every repeat sent before it is too.
  producer.Write("cursor 150 110");
  ASSERT_TRUE(WaitUntil([&] { return windows.CursorPos() == Point{150, 110}; }));
  ASSERT_TRUE(stream.PointerMetadata()) << "the producer's pointer metadata was agreed on";
  const std::uint64_t first = screen.PicturesPublished();
  const auto shoot = [&](int count) {
    for (int i = 0; i < count; ++i) grabber.TakeShot();
  };
  shoot(5);                                     // slot 0 a picture, 1-4 repeats
  producer.Write("paint 120 90 20 20 ff0000");  // outside the area
  ASSERT_TRUE(WaitUntil([&] { return screen.PicturesPublished() == first + 1; }));
  shoot(5);                                    // repeats: nothing changed in the area
  producer.Write("paint 10 10 20 20 0000ff");  // inside
  ASSERT_TRUE(WaitUntil([&] { return screen.PicturesPublished() == first + 2; }));
  shoot(5);                        // slot 10 a picture
  producer.Write("cursor 40 30");  // a pointer update, no pixels
  ASSERT_TRUE(WaitUntil([&] { return windows.CursorPos() == Point{40, 30}; }));
  EXPECT_EQ(screen.PicturesPublished(), first + 2) << "a buffer without pixels is no picture";
  shoot(5);  // slot 15 a picture with the pointer
  session.EndClip();
  stream.Stop();
  ASSERT_FALSE(host.paused) << "no writer failure";

  const std::string path = settings.ProjectFolder() + "/movie0.avi";
  const std::vector<std::uint32_t> chunks = testing::AviIndexChunkSizes(path);
  ASSERT_EQ(chunks.size(), 20u) << "one slot per shot";
  std::vector<std::size_t> storedSlots;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (chunks[i] > 0) storedSlots.push_back(i);
  }
  // The AVI writer ends a clip with a picture, so the last slot is one too.
  EXPECT_EQ(storedSlots, (std::vector<std::size_t>{0, 10, 15, 19}))
      << "pictures only where the area or the pointer changed";
  const auto pictures = testing::DecodeFrames(path, 80, 60);
  ASSERT_EQ(pictures.size(), storedSlots.size());
  const auto at = [](const std::vector<std::uint32_t>& p, int x, int y) {
    return p[static_cast<std::size_t>(y) * 80 + x];
  };
  EXPECT_EQ(at(pictures[0], 15, 15), 0x808080u);
  EXPECT_EQ(at(pictures[1], 15, 15), 0x0000FFu) << "the blue square";
  EXPECT_EQ(at(pictures[1], 45, 35), 0x808080u) << "no pointer while it is outside the area";
  EXPECT_EQ(at(pictures[2], 15, 15), 0x0000FFu);
  EXPECT_EQ(at(pictures[2], 40, 30), 0xFFFFFFu) << "the pointer's hot spot";
  EXPECT_EQ(at(pictures[2], 55, 45), 0xFFFFFFu) << "the pointer's far corner";
  EXPECT_EQ(at(pictures[2], 56, 46), 0x808080u) << "beyond the pointer";
  EXPECT_EQ(at(pictures[2], 39, 29), 0x808080u) << "before the pointer";
}

}  // namespace
}  // namespace framory
