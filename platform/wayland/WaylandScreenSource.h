// Where the screen comes from in a Wayland session, chosen once at start-up:
// the desktop's ScreenCast portal (a PipeWire stream, asking the user the
// first time); where the portal is missing or fails, the screen copies of a
// wlroots compositor; otherwise nothing, and the program records only what
// XWayland shows. A user who declines the portal's question is not asked
// around: that answer stands until the next start.
//
// The pictures go to the StreamScreen given; the choice is told to
// `chosen` once, on the GUI thread, after the portal has answered.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/Settings.h"
#include "capture/StreamScreen.h"

namespace framory {

class PipeWireScreenStream;
class ScreenCastPortal;
class WlrScreenCopy;

class WaylandScreenSource {
 public:
  enum class Way { Asking, Portal, ScreenCopy, Declined, Unavailable };

  // What the user is told when no screen can be had, when the question was
  // declined, and when the running source stopped (%s: how).
  static constexpr char kNoCaptureText[] =
      "This desktop offers no screen capture to programs. Framory can record only the "
      "windows of X11 programs (XWayland) here.";
  static constexpr char kDeclinedText[] =
      "Sharing the screen was declined. Framory records only the windows of X11 programs "
      "(XWayland) until it is started again.";
  static constexpr char kStoppedText[] = "The screen stream stopped: %s";

  WaylandScreenSource(StreamScreen& screen, Settings& settings);
  ~WaylandScreenSource();
  WaylandScreenSource(const WaylandScreenSource&) = delete;
  WaylandScreenSource& operator=(const WaylandScreenSource&) = delete;

  // Starts choosing. `why` says what the portal answered (and, for Unavailable,
  // why screen copies were not had either).
  void Start(std::function<void(Way way, const std::string& why)> chosen);
  Way Current() const { return way_; }
  // Whether the portal let the user pick a window instead of a screen.
  bool OffersWindows() const;
  // Whether the pointer is drawn into screen copies (the portal's stream
  // brings it as metadata or drawn in, as the desktop offers).
  void SetDrawPointer(bool draw);
  // Why the running source stopped, empty while it runs.
  std::string Failure() const;

 private:
  void TryScreenCopies(const std::string& portalAnswer);
  void Choose(Way way, const std::string& why);

  StreamScreen& screen_;
  Settings& settings_;
  std::function<void(Way, const std::string&)> chosen_;
  Way way_ = Way::Asking;
  std::unique_ptr<ScreenCastPortal> portal_;
  std::unique_ptr<PipeWireScreenStream> stream_;
  std::unique_ptr<WlrScreenCopy> copies_;
};

}  // namespace framory
