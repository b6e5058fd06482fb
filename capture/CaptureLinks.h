// The capture engine's view of the parts around it. Each link is a small
// interface that another part implements (the clip session, the still-image
// writer, the recorder's timers, the options view, the comment window). A
// link left null answers with the obvious default: no clip open, no dialog, no
// comment window, no periodic timer.
#pragma once

#include <cstdint>

#include "base/Frame.h"
#include "base/Geometry.h"

namespace framory {

// The clip session, as the capture engine sees it.
class MovieFrameSink {
 public:
  virtual ~MovieFrameSink() = default;
  // Hands one grabbed frame (file formats) or only the screen rectangle
  // (encoder outputs, `frame` null) to the open clip.
  virtual void DeliverMovieFrame(const Frame* frame, WindowHandle source,
                                 const Rect& screenRect) = 0;
  virtual bool ClipOpen() const = 0;
  // Stores the next frame of the open clip as a repeat of its previous one
  // (the screen did not change). False when that cannot be done (no frame
  // yet, another output type chosen, a writer without repeats): the caller
  // then grabs and delivers the frame in full.
  virtual bool RepeatMovieFrame() { return false; }
  virtual std::int32_t MovieWidth() const = 0;
  virtual std::int32_t MovieHeight() const = 0;
};

// The still-image writer: names the next picture and writes the frame to it.
class StillImageSink {
 public:
  virtual ~StillImageSink() = default;
  // Writes `frame` (with its palette on palette displays) as the next picture
  // file. A failed save leaves no file and pauses the recorder with the
  // error box.
  virtual void SaveStill(const Frame& frame, const Palette* palette) = 0;
  // Whether a result file name has been made (the "last result" is non-empty).
  virtual bool HasLastResult() const = 0;
};

// The recorder's timers as far as the capture target needs them.
class ShotScheduler {
 public:
  virtual ~ShotScheduler() = default;
  virtual bool PeriodicTimerRunning() const = 0;
  // Starts the one-shot delayed-shot timer unless it is already pending.
  virtual void ScheduleDelayedShot(std::int32_t milliseconds) = 0;
};

// The options view (main dialog).
class MainDialogView {
 public:
  virtual ~MainDialogView() = default;
  // The dialog's window, kNoWindow while it is not shown.
  virtual WindowHandle DialogWindow() const = 0;
  // Refreshes the title and buttons; does nothing while the dialog is not shown.
  virtual void RefreshTitle() = 0;
};

// The comment window.
class CommentWindowInfo {
 public:
  virtual ~CommentWindowInfo() = default;
  // kNoWindow while the comment window is closed.
  virtual WindowHandle CommentWindow() const = 0;
  virtual bool AllowCommentWindowAlone() const = 0;
};

struct CaptureLinks {
  MovieFrameSink* Clip = nullptr;
  StillImageSink* Stills = nullptr;
  ShotScheduler* Scheduler = nullptr;
  MainDialogView* Dialog = nullptr;
  CommentWindowInfo* Comment = nullptr;
};

}  // namespace framory
