#include "platform/wayland/PipeWireScreenStream.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace framory {

namespace {

// Room for the pointer metadata of a pointer image of w × h pixels.
constexpr std::int32_t PointerMetaSize(std::int32_t w, std::int32_t h) {
  return static_cast<std::int32_t>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + w * h * 4;
}

// How many damaged rectangles a picture may report before the producer
// falls back to reporting their bounding box.
constexpr std::int32_t kDamageRects = 16;

bool OrderOf(std::uint32_t format, StreamPixelOrder* order) {
  switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA:
      *order = StreamPixelOrder::Bgrx;
      return true;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA:
      *order = StreamPixelOrder::Rgbx;
      return true;
    default:
      return false;
  }
}

// PipeWire is initialised once for the process; it keeps that state until exit.
void InitPipeWire() {
  static const bool done = [] {
    pw_init(nullptr, nullptr);
    return true;
  }();
  (void)done;
}

void StateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
  static_cast<PipeWireScreenStream*>(data)->HandleState(
      state == PW_STREAM_STATE_ERROR, state == PW_STREAM_STATE_UNCONNECTED, error);
}

void ParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
  if (id == SPA_PARAM_Format) static_cast<PipeWireScreenStream*>(data)->HandleFormat(param);
}

void Process(void* data) { static_cast<PipeWireScreenStream*>(data)->HandleProcess(); }

void CoreError(void* data, std::uint32_t id, int /*seq*/, int /*res*/, const char* message) {
  // Errors about objects other than the core itself concern requests the
  // stream repeats or does not need.
  if (id == PW_ID_CORE) {
    static_cast<PipeWireScreenStream*>(data)->Fail(message != nullptr ? message : "PipeWire error");
  }
}

}  // namespace

struct PipeWireScreenStream::Listeners {
  pw_stream_events stream{};
  pw_core_events core{};
  spa_hook streamHook{};
  spa_hook coreHook{};
};

PipeWireScreenStream::PipeWireScreenStream(StreamScreen& screen) : screen_(screen) {}

PipeWireScreenStream::~PipeWireScreenStream() { Stop(); }

std::string PipeWireScreenStream::Error() const {
  std::lock_guard lock(errorMutex_);
  return error_;
}

void PipeWireScreenStream::Fail(const std::string& why) {
  {
    std::lock_guard lock(errorMutex_);
    if (error_.empty()) error_ = why;
  }
  failed_ = true;
}

bool PipeWireScreenStream::Start(int remoteFd, std::uint32_t node,
                                 const std::string& targetObject) {
  Stop();
  InitPipeWire();
  failed_ = false;
  {
    std::lock_guard lock(errorMutex_);
    error_.clear();
  }
  loop_ = pw_thread_loop_new("framory-screen", nullptr);
  if (loop_ == nullptr) {
    if (remoteFd >= 0) close(remoteFd);
    Fail("no PipeWire loop");
    return false;
  }
  context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
  if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) {
    if (remoteFd >= 0) close(remoteFd);
    Fail("no PipeWire context");
    Stop();
    return false;
  }

  pw_thread_loop_lock(loop_);
  core_ = remoteFd >= 0 ? pw_context_connect_fd(context_, remoteFd, nullptr, 0)
                        : pw_context_connect(context_, nullptr, 0);
  if (core_ == nullptr) {
    pw_thread_loop_unlock(loop_);
    Fail("cannot connect to PipeWire");
    Stop();
    return false;
  }
  listeners_ = new Listeners;
  listeners_->core.version = PW_VERSION_CORE_EVENTS;
  listeners_->core.error = CoreError;
  pw_core_add_listener(core_, &listeners_->coreHook, &listeners_->core, this);

  pw_properties* properties = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr);
  if (!targetObject.empty())
    pw_properties_set(properties, PW_KEY_TARGET_OBJECT, targetObject.c_str());
  stream_ = pw_stream_new(core_, "Framory", properties);
  if (stream_ == nullptr) {
    pw_thread_loop_unlock(loop_);
    Fail("cannot make a PipeWire stream");
    Stop();
    return false;
  }
  listeners_->stream.version = PW_VERSION_STREAM_EVENTS;
  listeners_->stream.state_changed = StateChanged;
  listeners_->stream.param_changed = ParamChanged;
  listeners_->stream.process = Process;
  pw_stream_add_listener(stream_, &listeners_->streamHook, &listeners_->stream, this);

  std::uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  spa_rectangle defaultSize{1920, 1080}, minSize{1, 1}, maxSize{16384, 16384};
  spa_fraction defaultRate{30, 1}, minRate{0, 1}, maxRate{1000, 1};
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                             SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
  const int result = pw_stream_connect(
      stream_, PW_DIRECTION_INPUT, targetObject.empty() ? node : PW_ID_ANY,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params,
      1);
  pw_thread_loop_unlock(loop_);
  if (result < 0) {
    Fail("cannot connect the PipeWire stream");
    Stop();
    return false;
  }
  return true;
}

void PipeWireScreenStream::Stop() {
  if (loop_ != nullptr) pw_thread_loop_stop(loop_);
  // With the loop's thread gone, everything below is ours alone.
  if (stream_ != nullptr) {
    pw_stream_destroy(stream_);
    stream_ = nullptr;
  }
  if (core_ != nullptr) {
    pw_core_disconnect(core_);
    core_ = nullptr;
  }
  if (context_ != nullptr) {
    pw_context_destroy(context_);
    context_ = nullptr;
  }
  if (loop_ != nullptr) {
    pw_thread_loop_destroy(loop_);
    loop_ = nullptr;
  }
  delete listeners_;
  listeners_ = nullptr;
  formatKnown_ = false;
}

void PipeWireScreenStream::HandleState(bool failed, bool closed, const char* error) {
  if (failed) Fail(error != nullptr ? error : "the PipeWire stream failed");
  // Unconnected after having had a format: the producer went away.
  if (closed && formatKnown_) Fail("the screen stream was closed");
}

void PipeWireScreenStream::HandleFormat(const spa_pod* param) {
  if (param == nullptr) {
    formatKnown_ = false;
    return;
  }
  std::uint32_t mediaType = 0, mediaSubtype = 0;
  if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
      mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
    return;
  }
  spa_video_info_raw info{};
  if (spa_format_video_raw_parse(param, &info) < 0 || !OrderOf(info.format, &order_)) {
    Fail("the screen stream offers no 32-bit RGB format");
    return;
  }
  width_ = static_cast<std::int32_t>(info.size.width);
  height_ = static_cast<std::int32_t>(info.size.height);
  formatKnown_ = true;

  // Shared-memory buffers of packed rows, and the metadata we read.
  const std::int32_t stride = width_ * 4;
  std::uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const spa_pod* params[4];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
      SPA_POD_CHOICE_RANGE_Int(4, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
      SPA_PARAM_BUFFERS_size, SPA_POD_Int(stride * height_), SPA_PARAM_BUFFERS_stride,
      SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
  params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
      SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
      SPA_POD_Int(static_cast<int>(sizeof(spa_meta_header)))));
  params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
      SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(static_cast<int>(sizeof(spa_meta_region)) * kDamageRects,
                               static_cast<int>(sizeof(spa_meta_region)),
                               static_cast<int>(sizeof(spa_meta_region)) * kDamageRects)));
  params[3] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
      SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(PointerMetaSize(64, 64), PointerMetaSize(1, 1),
                               PointerMetaSize(256, 256))));
  pw_stream_update_params(stream_, params, 4);
}

void PipeWireScreenStream::ReadPointer(spa_buffer* buffer) {
  auto* cursor = static_cast<spa_meta_cursor*>(
      spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
  if (cursor == nullptr) return;
  pointerMetadata_ = true;
  if (!spa_meta_cursor_is_valid(cursor)) {
    screen_.PublishPointer(false, Point{});
    return;
  }
  // The position is the hot spot's, in the picture.
  screen_.PublishPointer(true, Point{cursor->position.x, cursor->position.y});
  if (cursor->bitmap_offset < sizeof(spa_meta_cursor)) return;  // the same image as before
  auto* bitmap = SPA_PTROFF(cursor, cursor->bitmap_offset, spa_meta_bitmap);
  StreamPixelOrder order;
  const std::int32_t width = static_cast<std::int32_t>(bitmap->size.width);
  const std::int32_t height = static_cast<std::int32_t>(bitmap->size.height);
  if (!OrderOf(bitmap->format, &order) || width <= 0 || height <= 0 || width > 1024 ||
      height > 1024 || bitmap->stride < width * 4) {
    return;
  }
  // Pointer images come with straight alpha; ours are premultiplied.
  const bool alpha =
      bitmap->format == SPA_VIDEO_FORMAT_BGRA || bitmap->format == SPA_VIDEO_FORMAT_RGBA;
  const auto* pixels = SPA_PTROFF(bitmap, bitmap->offset, const std::uint8_t);
  CursorImage image;
  image.Width = width;
  image.Height = height;
  image.XHot = cursor->hotspot.x;
  image.YHot = cursor->hotspot.y;
  image.Argb.resize(static_cast<std::size_t>(width) * height);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* p = pixels + static_cast<std::ptrdiff_t>(y) * bitmap->stride;
    for (std::int32_t x = 0; x < width; ++x, p += 4) {
      std::uint32_t r = order == StreamPixelOrder::Bgrx ? p[2] : p[0];
      std::uint32_t g = p[1];
      std::uint32_t b = order == StreamPixelOrder::Bgrx ? p[0] : p[2];
      const std::uint32_t a = alpha ? p[3] : 255;
      r = (r * a + 127) / 255;
      g = (g * a + 127) / 255;
      b = (b * a + 127) / 255;
      image.Argb[static_cast<std::size_t>(y) * width + x] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  screen_.PublishPointerImage(image);
}

void PipeWireScreenStream::HandleProcess() {
  pw_buffer* newest = nullptr;
  while (pw_buffer* next = pw_stream_dequeue_buffer(stream_)) {
    if (newest != nullptr) pw_stream_queue_buffer(stream_, newest);
    newest = next;
  }
  if (newest == nullptr) return;
  spa_buffer* buffer = newest->buffer;

  const auto* header = static_cast<const spa_meta_header*>(
      spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
  const bool corrupted = header != nullptr && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED) != 0;
  const spa_data& data = buffer->datas[0];
  // A buffer without pixels brings only a pointer update.
  if (!corrupted && formatKnown_ && buffer->n_datas > 0 && data.data != nullptr &&
      data.chunk != nullptr && data.chunk->size > 0 &&
      (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) == 0) {
    const std::int32_t stride = data.chunk->stride > 0 ? data.chunk->stride : width_ * 4;
    const std::uint32_t offset = data.chunk->offset % std::max<std::uint32_t>(data.maxsize, 1);
    if (offset + static_cast<std::uint64_t>(stride) * (height_ - 1) +
            static_cast<std::uint64_t>(width_) * 4 <=
        data.maxsize) {
      std::vector<Rect> changed;
      bool damageKnown = false;
      if (spa_meta* damage = spa_buffer_find_meta(buffer, SPA_META_VideoDamage)) {
        spa_meta_region* region;
        spa_meta_for_each(region, damage) {
          if (!spa_meta_region_is_valid(region)) break;
          const spa_region& r = region->region;
          changed.push_back(Rect{r.position.x, r.position.y,
                                 r.position.x + static_cast<std::int32_t>(r.size.width),
                                 r.position.y + static_cast<std::int32_t>(r.size.height)});
        }
        // Metadata with no region filled in tells nothing: the whole
        // picture counts as changed rather than wrongly as still.
        damageKnown = !changed.empty();
      }
      StreamPicture picture;
      picture.Pixels = static_cast<const std::uint8_t*>(data.data) + offset;
      picture.Width = width_;
      picture.Height = height_;
      picture.Stride = stride;
      picture.Order = order_;
      screen_.Publish(picture, damageKnown ? &changed : nullptr);
    }
  }
  // The pointer after the picture of the same buffer: whoever sees where the
  // pointer went also sees the picture that came with it.
  ReadPointer(buffer);
  pw_stream_queue_buffer(stream_, newest);
}

}  // namespace framory
