#include "platform/wayland/WlrScreenCopy.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace framory {

namespace {

// The wl_shm formats of 32-bit RGB (the little-endian words ARGB and XRGB
// are B, G, R, x in memory; ABGR and XBGR are R, G, B, x).
constexpr std::uint32_t kXbgr8888 = 0x34324258;  // 'XB24'
constexpr std::uint32_t kAbgr8888 = 0x34324241;  // 'AB24'

bool OrderOf(std::uint32_t format, StreamPixelOrder* order) {
  if (format == WL_SHM_FORMAT_ARGB8888 || format == WL_SHM_FORMAT_XRGB8888) {
    *order = StreamPixelOrder::Bgrx;
    return true;
  }
  if (format == kXbgr8888 || format == kAbgr8888) {
    *order = StreamPixelOrder::Rgbx;
    return true;
  }
  return false;
}

void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t version) {
  static_cast<WlrScreenCopy*>(data)->AddGlobal(registry, name, interface, version);
}
void GlobalRemoved(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {Global, GlobalRemoved};

void OutputGeometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                    std::int32_t, const char*, const char*, std::int32_t) {}
void OutputMode(void* data, wl_output* output, std::uint32_t flags, std::int32_t width,
                std::int32_t height, std::int32_t) {
  if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
    static_cast<WlrScreenCopy*>(data)->OutputModeIs(output, width, height);
  }
}
void OutputDone(void*, wl_output*) {}
void OutputScale(void*, wl_output*, std::int32_t) {}
void OutputName(void* data, wl_output* output, const char* name) {
  static_cast<WlrScreenCopy*>(data)->OutputNamed(output, name);
}
void OutputDescription(void*, wl_output*, const char*) {}
const wl_output_listener kOutputListener = {OutputGeometry, OutputMode, OutputDone,
                                            OutputScale,    OutputName, OutputDescription};

}  // namespace

// What the compositor said about the copy under way.
struct WlrScreenCopy::Copy {
  bool haveFormat = false;
  std::uint32_t format = 0;
  std::int32_t width = 0, height = 0, stride = 0;
  bool described = false;  // buffer_done, or the buffer event before version 3
  bool bottomUp = false;
  std::vector<Rect> damage;
  bool finished = false;
  bool ready = false;
};

struct WlrScreenCopy::Buffer {
  wl_buffer* buffer = nullptr;
  void* memory = MAP_FAILED;
  std::size_t size = 0;
  std::uint32_t format = 0;
  std::int32_t width = 0, height = 0, stride = 0;
};

namespace {

// The frame listener's data: the copy in progress.
template <typename C>
C* Of(void* data) {
  return static_cast<C*>(data);
}

}  // namespace

WlrScreenCopy::WlrScreenCopy(StreamScreen& screen) : screen_(screen) {}

WlrScreenCopy::~WlrScreenCopy() {
  Stop();
  Close();
}

std::string WlrScreenCopy::Error() const {
  std::lock_guard lock(errorMutex_);
  return error_;
}

void WlrScreenCopy::Fail(const std::string& why) {
  {
    std::lock_guard lock(errorMutex_);
    if (error_.empty()) error_ = why;
  }
  failed_ = true;
}

void WlrScreenCopy::AddGlobal(wl_registry* registry, std::uint32_t name, const char* interface,
                              std::uint32_t version) {
  if (std::strcmp(interface, wl_shm_interface.name) == 0 && shm_ == nullptr) {
    shm_ = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0 &&
             manager_ == nullptr) {
    managerVersion_ = std::min<std::uint32_t>(version, 3);
    manager_ = static_cast<zwlr_screencopy_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, managerVersion_));
  } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
    // Version 4 tells the output's name.
    auto* output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface,
                                                            std::min<std::uint32_t>(version, 4)));
    wl_output_add_listener(output, &kOutputListener, this);
    if (firstOutput_ == nullptr) firstOutput_ = output;
  }
}

void WlrScreenCopy::OutputModeIs(wl_output* output, std::int32_t width, std::int32_t height) {
  auto& mode = modes_[output];
  if (mode.first == width && mode.second == height) return;
  const bool changed = mode.first != 0;
  mode = {width, height};
  if (output != output_) return;
  modeWidth_ = width;
  modeHeight_ = height;
  if (changed) modeChanged_ = modeSeen_ = true;
}

void WlrScreenCopy::OutputNamed(wl_output* output, const char* name) {
  if (!wantedOutput_.empty() && name != nullptr && wantedOutput_ == name) output_ = output;
}

bool WlrScreenCopy::Open(const std::string& outputName) {
  Stop();
  Close();
  failed_ = false;
  wantedOutput_ = outputName;
  display_ = wl_display_connect(nullptr);
  if (display_ == nullptr) {
    Fail("no Wayland display");
    return false;
  }
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &kRegistryListener, this);
  // The globals, then the outputs' names.
  if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) {
    Fail("the Wayland display closed the connection");
    Close();
    return false;
  }
  if (output_ == nullptr) output_ = firstOutput_;
  // The chosen output's current mode (its events came before it was chosen).
  modeWidth_ = modes_[output_].first;
  modeHeight_ = modes_[output_].second;
  if (manager_ == nullptr) {
    Fail("the compositor offers no screen copies");
    Close();
    return false;
  }
  if (shm_ == nullptr || output_ == nullptr) {
    Fail("the compositor offers no output to copy");
    Close();
    return false;
  }
  return true;
}

bool WlrScreenCopy::Start() {
  if (display_ == nullptr || thread_.joinable()) return false;
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) {
    Fail("no event descriptor");
    return false;
  }
  screen_.SetPointerEmbedded(true);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void WlrScreenCopy::Stop() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) {
      // The descriptor is ours and cannot be full; nothing else to do.
    }
    thread_.join();
  }
  if (stopFd_ >= 0) {
    close(stopFd_);
    stopFd_ = -1;
  }
}

void WlrScreenCopy::Close() {
  DestroyBuffer();
  if (manager_ != nullptr) zwlr_screencopy_manager_v1_destroy(manager_);
  manager_ = nullptr;
  if (shm_ != nullptr) wl_shm_destroy(shm_);
  shm_ = nullptr;
  output_ = firstOutput_ = nullptr;  // go with the connection
  modes_.clear();
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  registry_ = nullptr;
  if (display_ != nullptr) wl_display_disconnect(display_);
  display_ = nullptr;
}

void WlrScreenCopy::Run() {
  // The first copy is taken at once; each later one waits for a change.
  // A refused copy (the output changing its mode under it) is taken again
  // whole; only several refusals in a row stop copying.
  constexpr int kRefusalsInARow = 3;
  constexpr int kWholeCopiesAfterModeChange = 30;
  bool withDamage = false;
  int refusals = 0;
  int wholeCopiesLeft = 0;
  for (;;) {
    const CopyResult result = CopyOnce(withDamage);
    if (result == CopyResult::Stop) return;
    if (modeSeen_) {
      modeSeen_ = false;
      wholeCopiesLeft = kWholeCopiesAfterModeChange;
    }
    if (result == CopyResult::Abandoned) {
      withDamage = false;
      continue;
    }
    refusals = result == CopyResult::Refused ? refusals + 1 : 0;
    if (refusals >= kRefusalsInARow) {
      Fail("the compositor could not copy the screen");
      return;
    }
    // Just after a mode change the compositor may still hand out pictures
    // of the old size: copies are taken whole until one has the new size
    // (either way round, for a rotated output), or enough were tried.
    const bool sizeSettled = modeWidth_ <= 0 ||
                             (copiedWidth_ == modeWidth_ && copiedHeight_ == modeHeight_) ||
                             (copiedWidth_ == modeHeight_ && copiedHeight_ == modeWidth_);
    if (sizeSettled) {
      wholeCopiesLeft = 0;
    } else if (wholeCopiesLeft > 0) {
      --wholeCopiesLeft;
    }
    withDamage = result == CopyResult::Copied && managerVersion_ >= 2 && wholeCopiesLeft == 0;
  }
}

bool WlrScreenCopy::DispatchUntil(const std::function<bool()>& done) {
  while (!done()) {
    while (wl_display_prepare_read(display_) != 0) {
      if (wl_display_dispatch_pending(display_) < 0) return false;
      if (done()) return true;
    }
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display_);
      Fail("the Wayland display closed the connection");
      return false;
    }
    pollfd fds[2] = {{wl_display_get_fd(display_), POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      wl_display_cancel_read(display_);
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) {
      wl_display_cancel_read(display_);
      return false;
    }
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) {
      Fail("the Wayland display closed the connection");
      return false;
    }
  }
  return true;
}

WlrScreenCopy::CopyResult WlrScreenCopy::CopyOnce(bool withDamage) {
  static const zwlr_screencopy_frame_v1_listener kFrameListener = {
      // buffer
      [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width,
         std::uint32_t height, std::uint32_t stride) {
        auto* copy = Of<WlrScreenCopy::Copy>(data);
        StreamPixelOrder order;
        if (!copy->haveFormat && OrderOf(format, &order)) {
          copy->haveFormat = true;
          copy->format = format;
          copy->width = static_cast<std::int32_t>(width);
          copy->height = static_cast<std::int32_t>(height);
          copy->stride = static_cast<std::int32_t>(stride);
        }
      },
      // flags
      [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
        Of<WlrScreenCopy::Copy>(data)->bottomUp =
            (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
      },
      // ready
      [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {
        Of<WlrScreenCopy::Copy>(data)->ready = true;
        Of<WlrScreenCopy::Copy>(data)->finished = true;
      },
      // failed
      [](void* data, zwlr_screencopy_frame_v1*) { Of<WlrScreenCopy::Copy>(data)->finished = true; },
      // damage
      [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t x, std::uint32_t y,
         std::uint32_t width, std::uint32_t height) {
        Of<WlrScreenCopy::Copy>(data)->damage.push_back(
            Rect{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                 static_cast<std::int32_t>(x + width), static_cast<std::int32_t>(y + height)});
      },
      // linux_dmabuf
      [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {},
      // buffer_done
      [](void* data, zwlr_screencopy_frame_v1*) {
        Of<WlrScreenCopy::Copy>(data)->described = true;
      },
  };

  Copy copy;
  modeChanged_ = false;
  zwlr_screencopy_frame_v1* frame =
      zwlr_screencopy_manager_v1_capture_output(manager_, drawPointer_ ? 1 : 0, output_);
  zwlr_screencopy_frame_v1_add_listener(frame, &kFrameListener, &copy);
  // Before version 3 the buffer event is the whole description.
  const bool describedByDone = managerVersion_ >= 3;
  if (!DispatchUntil(
          [&] { return copy.finished || (describedByDone ? copy.described : copy.haveFormat); })) {
    zwlr_screencopy_frame_v1_destroy(frame);
    return CopyResult::Stop;
  }
  if (copy.finished && !copy.ready) {
    zwlr_screencopy_frame_v1_destroy(frame);
    return CopyResult::Refused;
  }
  if (!copy.haveFormat) {
    zwlr_screencopy_frame_v1_destroy(frame);
    Fail("the compositor offers no 32-bit RGB shared-memory copy");
    return CopyResult::Stop;
  }
  if (!EnsureBuffer(copy.format, copy.width, copy.height, copy.stride)) {
    zwlr_screencopy_frame_v1_destroy(frame);
    Fail("no shared memory for the screen copy");
    return CopyResult::Stop;
  }
  if (withDamage) {
    zwlr_screencopy_frame_v1_copy_with_damage(frame, buffer_->buffer);
  } else {
    zwlr_screencopy_frame_v1_copy(frame, buffer_->buffer);
  }
  // A copy waiting for a change is never answered once the output has a
  // new mode: it is dropped and the next one taken whole, at the new size.
  const bool running = DispatchUntil([&] { return copy.finished || modeChanged_; });
  zwlr_screencopy_frame_v1_destroy(frame);
  if (!running) return CopyResult::Stop;
  if (!copy.finished) return CopyResult::Abandoned;
  if (!copy.ready) return CopyResult::Refused;
  copiedWidth_ = copy.width;
  copiedHeight_ = copy.height;
  StreamPixelOrder order = StreamPixelOrder::Bgrx;
  OrderOf(copy.format, &order);
  StreamPicture picture;
  picture.Pixels = static_cast<const std::uint8_t*>(buffer_->memory);
  picture.Width = copy.width;
  picture.Height = copy.height;
  picture.Stride = copy.stride;
  picture.Order = order;
  picture.BottomUp = copy.bottomUp;
  // Damage is reported only for copies with damage; a first copy is new
  // everywhere.
  screen_.Publish(picture, withDamage && !copy.damage.empty() ? &copy.damage : nullptr);
  return CopyResult::Copied;
}

bool WlrScreenCopy::EnsureBuffer(std::uint32_t format, std::int32_t width, std::int32_t height,
                                 std::int32_t stride) {
  if (buffer_ != nullptr && buffer_->format == format && buffer_->width == width &&
      buffer_->height == height && buffer_->stride == stride) {
    return true;
  }
  DestroyBuffer();
  if (width <= 0 || height <= 0 || stride < width * 4) return false;
  const std::size_t size = static_cast<std::size_t>(stride) * height;
  const int fd = memfd_create("framory-screen", MFD_CLOEXEC);
  if (fd < 0) return false;
  if (ftruncate(fd, static_cast<off_t>(size)) < 0) {
    close(fd);
    return false;
  }
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    close(fd);
    return false;
  }
  wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, static_cast<std::int32_t>(size));
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
  wl_shm_pool_destroy(pool);
  close(fd);
  buffer_ = new Buffer;
  buffer_->buffer = buffer;
  buffer_->memory = memory;
  buffer_->size = size;
  buffer_->format = format;
  buffer_->width = width;
  buffer_->height = height;
  buffer_->stride = stride;
  return true;
}

void WlrScreenCopy::DestroyBuffer() {
  if (buffer_ == nullptr) return;
  if (buffer_->buffer != nullptr) wl_buffer_destroy(buffer_->buffer);
  if (buffer_->memory != MAP_FAILED) munmap(buffer_->memory, buffer_->size);
  delete buffer_;
  buffer_ = nullptr;
}

}  // namespace framory
