// The screen of a wlroots compositor (sway and others) read through its
// screen-copy protocol, as grim does, for desktops whose ScreenCast portal is
// missing or refuses. A thread of its own, on a Wayland connection of its
// own, asks for one copy after another into a shared-memory buffer and hands
// each to a StreamScreen. After the first copy it asks for copies "with
// damage": the compositor answers only once something changed and says
// what, so a still screen costs nothing and its shots become repeats.
//
// The pointer is drawn in by the compositor when asked for (the protocol
// has no separate pointer image), so it cannot be moved or left out
// afterwards; SetDrawPointer applies from the next copy on.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "capture/StreamScreen.h"

struct wl_display;
struct wl_registry;
struct wl_shm;
struct wl_output;
struct zwlr_screencopy_manager_v1;

namespace framory {

class WlrScreenCopy {
 public:
  explicit WlrScreenCopy(StreamScreen& screen);
  ~WlrScreenCopy();
  WlrScreenCopy(const WlrScreenCopy&) = delete;
  WlrScreenCopy& operator=(const WlrScreenCopy&) = delete;

  // Connects to the compositor ($WAYLAND_DISPLAY) and checks that it offers
  // screen copies, shared memory and an output: the output named
  // `outputName`, else the first. False, with Error() saying why, when it
  // does not.
  bool Open(const std::string& outputName = {});
  // Starts copying on the thread.
  bool Start();
  void Stop();

  void SetDrawPointer(bool draw) { drawPointer_ = draw; }
  // Whether copying has stopped on an error since Start; Error() says why.
  bool Failed() const { return failed_.load(); }
  std::string Error() const;

  // The binding and output events, on whichever thread reads the connection.
  void AddGlobal(wl_registry* registry, std::uint32_t name, const char* interface,
                 std::uint32_t version);
  void OutputNamed(wl_output* output, const char* name);
  void OutputModeIs(wl_output* output, std::int32_t width, std::int32_t height);

 private:
  struct Copy;
  void Run();
  enum class CopyResult { Copied, Refused, Abandoned, Stop };
  // One copy into the buffer.
  CopyResult CopyOnce(bool withDamage);
  // Reads and dispatches events until `done` holds; false when stopped or
  // the connection broke.
  bool DispatchUntil(const std::function<bool()>& done);
  bool EnsureBuffer(std::uint32_t format, std::int32_t width, std::int32_t height,
                    std::int32_t stride);
  void DestroyBuffer();
  void Fail(const std::string& why);
  void Close();

  StreamScreen& screen_;
  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_shm* shm_ = nullptr;
  zwlr_screencopy_manager_v1* manager_ = nullptr;
  std::uint32_t managerVersion_ = 0;
  wl_output* output_ = nullptr;
  wl_output* firstOutput_ = nullptr;
  std::string wantedOutput_;
  // The chosen output's current mode, and whether it changed during a copy.
  std::int32_t modeWidth_ = 0;
  std::int32_t modeHeight_ = 0;
  bool modeChanged_ = false;
  // A mode change not yet seen by the copying loop.
  bool modeSeen_ = false;
  // The current mode of every output, as announced.
  std::map<wl_output*, std::pair<std::int32_t, std::int32_t>> modes_;
  // The size of the last copy.
  std::int32_t copiedWidth_ = 0;
  std::int32_t copiedHeight_ = 0;
  // The shared-memory buffer copies go into, remade when the size changes.
  struct Buffer;
  Buffer* buffer_ = nullptr;

  std::thread thread_;
  int stopFd_ = -1;
  std::atomic<bool> drawPointer_{true};
  std::atomic<bool> failed_{false};
  mutable std::mutex errorMutex_;
  std::string error_;
};

}  // namespace framory
