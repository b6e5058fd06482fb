// The screen as a stream of pictures that some other component produces on a
// thread of its own (a PipeWire stream, a compositor's screen copies), made
// to look like a display to the frame grabber. The producer hands over each
// new picture with what changed in it and the pointer; the GUI thread takes
// the newest picture when it grabs, and learns from what was handed over
// whether a shot would show anything new.
//
// Three picture buffers: the producer fills one of its own, then swaps it
// with the newest under a lock held only for the swap; a grab swaps the
// newest into the one the GUI thread reads. Neither side ever waits for the
// other's copying, and the frame handed out is a view of the GUI's buffer,
// which stays put until the next grab.
//
// Another thread (the screen encoder's, which captures at its own pace) may
// copy out the newest picture too: it takes hold of the picture under the
// lock and copies outside it. The pictures are shared for that; a producer
// whose spare buffer is still held by such a copy fills a new one instead.
//
// Pictures arrive as 32-bit pixels in one of the two byte orders streams
// offer (B, G, R, x and R, G, B, x; the fourth byte, alpha or padding, is
// ignored) and are kept as the frame grabber's usual 0x00RRGGBB words.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/Frame.h"
#include "base/Geometry.h"
#include "capture/ScreenChangeLog.h"
#include "capture/ScreenChangeWatch.h"
#include "capture/ScreenGrabber.h"

namespace framory {

// The byte order of a 32-bit pixel in memory.
enum class StreamPixelOrder { Bgrx, Rgbx };

// One picture as a producer sees it; the pixels are read during Publish only.
struct StreamPicture {
  const std::uint8_t* Pixels = nullptr;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t Stride = 0;  // bytes from one row to the next
  StreamPixelOrder Order = StreamPixelOrder::Bgrx;
  bool BottomUp = false;  // the first row in memory is the bottom one
};

class StreamScreen : public ScreenGrabber, public ScreenChangeWatch {
 public:
  // The one "window" a stream has: the whole picture.
  static constexpr WindowHandle kStreamWindow = 1;

  // ----- producer side, from any one thread -----
  // A new picture. `changed` lists the rectangles that differ from the
  // previous picture (in its pixels, right and bottom exclusive); null when
  // that is not known, which counts the whole picture as changed. A picture
  // of another size always counts as changed everywhere. False (and nothing
  // kept) for a picture without pixels or of an impossible size.
  bool Publish(const StreamPicture& picture, const std::vector<Rect>* changed);
  // Where the pointer is in the picture, or that it is hidden or outside.
  void PublishPointer(bool visible, Point position);
  // A new pointer image (premultiplied ARGB).
  void PublishPointerImage(const CursorImage& image);
  // Whether the producer draws the pointer into the pictures itself; then
  // no pointer is drawn over them.
  void SetPointerEmbedded(bool embedded);

  // ----- GUI thread -----
  // Takes the newest picture for the shot about to be made: its size is
  // what Width and Height say and what the next Grab reads, however many
  // pictures arrive meanwhile, and changes reported with later pictures
  // stay pending for the shots after. Without it each Grab takes the
  // newest picture there is.
  void Latch();
  // Ends the latch (the shot is over): the newest picture counts again.
  void Unlatch();
  // The size of the picture the next grab reads, 0 × 0 before the first one.
  std::int32_t Width() const;
  std::int32_t Height() const;
  // The pointer's position in the picture; (-1, -1) while it is hidden,
  // outside or drawn in by the producer.
  Point PointerPosition() const;
  // How many pictures have been published so far.
  std::uint64_t PicturesPublished() const;

  // Grabs from the newest picture: `source` must be kStreamWindow and the
  // rectangle is in the picture's pixels; parts outside it are black.
  bool Grab(WindowHandle source, std::int32_t x, std::int32_t y, std::int32_t width,
            std::int32_t height, Frame* frame) override;
  void ReleaseFrame() override {}
  bool IsPaletteDisplay() override { return false; }
  bool ReadPalette(WindowHandle, Palette*) override { return false; }
  bool CurrentCursor(CursorImage* cursor) override;

  // ----- any other thread -----
  // The size of the newest picture, 0 × 0 before the first one.
  void NewestSize(std::int32_t* width, std::int32_t* height) const;
  // Copies the rectangle (x, y, width, height) of the newest picture into
  // `pixels`: width × height 0x00RRGGBB words, rows top-down, black where it
  // reaches beyond the picture. Neither the producer nor the GUI thread
  // waits for the copy. False before the first picture or for an
  // impossible rectangle.
  bool CopyNewest(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                  std::vector<std::uint32_t>* pixels) const;

  bool Unchanged(const ShotView& view) override;
  bool FrameTaken(const ShotView& view, std::vector<Rect>* drawn) override;
  void Forget() override;

 private:
  struct Picture {
    std::vector<std::uint32_t> Pixels;  // 0x00RRGGBB, rows top-down, no gaps
    std::int32_t Width = 0;
    std::int32_t Height = 0;
  };
  // Moves what the producer reported into the change log: everything, or
  // while a picture is latched only what came with it and before.
  void TakeReports();
  // Under mutex_: makes the newest picture the one grabs read.
  void TakeNewest();

  mutable std::mutex mutex_;
  // Under mutex_: the newest picture and what was reported since the GUI
  // last looked. newest_ is the newest only while fresh_; otherwise the GUI's
  // reading_ is.
  std::shared_ptr<Picture> newest_ = std::make_shared<Picture>();
  bool fresh_ = false;
  std::uint64_t published_ = 0;
  // The size of the last picture published (newest_ may hold an older one
  // once a grab has swapped buffers).
  std::int32_t publishedWidth_ = 0;
  std::int32_t publishedHeight_ = 0;
  // Each change with the number of the picture that brought it.
  struct Report {
    std::uint64_t Picture;
    Rect Area;
  };
  std::vector<Report> reportedChanges_;
  std::uint64_t newestNumber_ = 0;
  std::uint64_t readingNumber_ = 0;
  bool latched_ = false;
  bool pointerImageChanged_ = false;
  bool pointerVisible_ = false;
  Point pointer_;
  CursorImage pointerImage_;
  bool pointerEmbedded_ = false;

  // The producer's own buffer, filled outside the lock; swapped with
  // newest_, and replaced there if a copy still holds what came back.
  std::shared_ptr<Picture> filling_ = std::make_shared<Picture>();
  // The GUI thread's: the picture the last grab read, and the black-edged
  // copy of a rectangle that reaches beyond it.
  // Swapped only under mutex_, and its pixels only read, so a copy may read
  // it beside the GUI thread.
  std::shared_ptr<Picture> reading_ = std::make_shared<Picture>();
  std::vector<std::uint32_t> clipped_;
  ScreenChangeLog log_;
};

}  // namespace framory
