/* A PipeWire video source for the tests that sends what a screen-sharing
 * compositor sends besides pixels: the region that changed (damage
 * metadata) and the pointer (cursor metadata, its image once, then only its
 * position, in buffers without pixels), one buffer per line read from
 * standard input:
 *
 *   paint X Y W H RRGGBB   fill a rectangle; the buffer reports only it changed
 *   cursor X Y             the pointer's hot spot moved there; no pixels
 *
 * The picture starts grey (808080) and is sent whole again and again until
 * the first command comes (a consumer just linked may miss the first ones). The pointer's image is
 * a 16 × 16 opaque white square with its hot spot at the top-left corner.
 *
 *   scripted_source NODE W H */
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define POINTER_SIDE 16
#define POINTER_META_SIZE                                            \
  (sizeof(struct spa_meta_cursor) + sizeof(struct spa_meta_bitmap) + \
   POINTER_SIDE * POINTER_SIDE * 4)

struct Source {
  struct pw_main_loop* loop;
  struct pw_stream* stream;
  int width, height;
  uint32_t* picture;
  int streaming;
  int sentFirst;
  /* What the next buffer carries. */
  int pending;
  int commanded;
  int paintX, paintY, paintW, paintH;
  int pointerMoved, pointerX, pointerY, pointerImageSent;
  char line[256];
  size_t lineLength;
};

static void ParamChanged(void* data, uint32_t id, const struct spa_pod* param) {
  struct Source* s = data;
  if (id != SPA_PARAM_Format || param == NULL) return;
  uint8_t buffer[1024];
  struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const struct spa_pod* params[4];
  const int stride = s->width * 4;
  params[0] = spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
      SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
      SPA_PARAM_BUFFERS_size, SPA_POD_Int(stride * s->height), SPA_PARAM_BUFFERS_stride,
      SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd));
  params[1] =
      spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                                 SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
                                 SPA_POD_Int(sizeof(struct spa_meta_header)));
  params[2] = spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
      SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(sizeof(struct spa_meta_region) * 4, sizeof(struct spa_meta_region),
                               sizeof(struct spa_meta_region) * 16));
  params[3] = spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
      SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(POINTER_META_SIZE, POINTER_META_SIZE, 1 << 20));
  pw_stream_update_params(s->stream, params, 4);
}

static void StateChanged(void* data, enum pw_stream_state old, enum pw_stream_state state,
                         const char* error) {
  (void)old;
  (void)error;
  struct Source* s = data;
  s->streaming = state == PW_STREAM_STATE_STREAMING;
  /* The whole first picture as soon as someone watches. */
  if (s->streaming && !s->sentFirst) {
    s->pending = 1;
    pw_stream_trigger_process(s->stream);
  }
}

static void Process(void* data) {
  struct Source* s = data;
  if (!s->pending) return;
  struct pw_buffer* b = pw_stream_dequeue_buffer(s->stream);
  if (b == NULL) return;
  s->pending = 0;
  struct spa_buffer* buf = b->buffer;
  struct spa_data* d = &buf->datas[0];
  const int stride = s->width * 4;
  struct spa_meta_header* header = spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(*header));
  if (header != NULL) memset(header, 0, sizeof *header);

  int sendPixels = !s->sentFirst || s->paintW > 0;
  struct spa_meta* damage = spa_buffer_find_meta(buf, SPA_META_VideoDamage);
  if (damage != NULL) {
    struct spa_meta_region* r = spa_meta_first(damage);
    memset(damage->data, 0, damage->size);
    if (!s->sentFirst) {
      r->region = SPA_REGION(0, 0, (uint32_t)s->width, (uint32_t)s->height);
    } else if (s->paintW > 0) {
      r->region = SPA_REGION(s->paintX, s->paintY, (uint32_t)s->paintW, (uint32_t)s->paintH);
    }
  }
  if (sendPixels && d->data != NULL) {
    memcpy(d->data, s->picture, (size_t)stride * s->height);
    d->chunk->offset = 0;
    d->chunk->stride = stride;
    d->chunk->size = (uint32_t)(stride * s->height);
  } else {
    d->chunk->size = 0;
  }

  struct spa_meta_cursor* cursor = spa_buffer_find_meta_data(buf, SPA_META_Cursor, sizeof(*cursor));
  if (cursor != NULL) {
    if (!s->pointerMoved) {
      cursor->id = 0; /* hidden until the first move */
    } else {
      cursor->id = 1;
      cursor->flags = 0;
      cursor->position.x = s->pointerX;
      cursor->position.y = s->pointerY;
      cursor->hotspot.x = 0;
      cursor->hotspot.y = 0;
      cursor->bitmap_offset = 0;
      if (!s->pointerImageSent) {
        s->pointerImageSent = 1;
        cursor->bitmap_offset = sizeof(struct spa_meta_cursor);
        struct spa_meta_bitmap* bitmap =
            SPA_PTROFF(cursor, cursor->bitmap_offset, struct spa_meta_bitmap);
        bitmap->format = SPA_VIDEO_FORMAT_BGRA;
        bitmap->size.width = POINTER_SIDE;
        bitmap->size.height = POINTER_SIDE;
        bitmap->stride = POINTER_SIDE * 4;
        bitmap->offset = sizeof(struct spa_meta_bitmap);
        memset(SPA_PTROFF(bitmap, bitmap->offset, uint8_t), 0xff, POINTER_SIDE * POINTER_SIDE * 4);
      }
    }
  }
  s->sentFirst = 1;
  s->paintW = 0;
  pw_stream_queue_buffer(s->stream, b);
}

static void Command(struct Source* s, const char* line) {
  int x, y, w, h;
  unsigned colour;
  /* The whole picture has been seen by now (the tests wait for it): a repeat
   * asked for by the last tick but not yet sent must not go out with this
   * command's buffer, which carries pixels only for a paint. */
  s->commanded = 1;
  s->sentFirst = 1;
  if (sscanf(line, "paint %d %d %d %d %x", &x, &y, &w, &h, &colour) == 5) {
    for (int row = y; row < y + h && row < s->height; ++row)
      for (int column = x; column < x + w && column < s->width; ++column)
        s->picture[row * s->width + column] = colour;
    s->paintX = x;
    s->paintY = y;
    s->paintW = w;
    s->paintH = h;
  } else if (sscanf(line, "cursor %d %d", &x, &y) == 2) {
    s->pointerMoved = 1;
    s->pointerX = x;
    s->pointerY = y;
  } else {
    return;
  }
  s->pending = 1;
  pw_stream_trigger_process(s->stream);
}

/* A buffer asked for while none was free goes out on the next tick. */
static void Tick(void* data, uint64_t expirations) {
  (void)expirations;
  struct Source* s = data;
  if (s->streaming && !s->commanded) {
    s->sentFirst = 0;
    s->pending = 1;
  }
  if (s->pending && s->streaming) pw_stream_trigger_process(s->stream);
}

static void Input(void* data, int fd, uint32_t mask) {
  struct Source* s = data;
  (void)mask;
  char c;
  while (read(fd, &c, 1) == 1) {
    if (c == '\n') {
      s->line[s->lineLength] = '\0';
      Command(s, s->line);
      s->lineLength = 0;
      return; /* one command a wake-up; the rest stays readable */
    }
    if (s->lineLength + 1 < sizeof s->line) s->line[s->lineLength++] = c;
  }
  pw_main_loop_quit(s->loop); /* end of input */
}

static const struct pw_stream_events kEvents = {PW_VERSION_STREAM_EVENTS,
                                                .state_changed = StateChanged,
                                                .param_changed = ParamChanged, .process = Process};

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: scripted_source NODE W H\n");
    return 2;
  }
  pw_init(&argc, &argv);
  struct Source s;
  memset(&s, 0, sizeof s);
  s.width = atoi(argv[2]);
  s.height = atoi(argv[3]);
  s.picture = malloc((size_t)s.width * s.height * 4);
  for (int i = 0; i < s.width * s.height; ++i) s.picture[i] = 0x808080;
  s.loop = pw_main_loop_new(NULL);
  s.stream = pw_stream_new_simple(
      pw_main_loop_get_loop(s.loop), "scripted-source",
      pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, argv[1], NULL),
      &kEvents, &s);
  uint8_t buffer[512];
  struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  struct spa_rectangle size = SPA_RECTANGLE((uint32_t)s.width, (uint32_t)s.height);
  struct spa_fraction rate = SPA_FRACTION(0, 1);
  const struct spa_pod* params[1] = {spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format, SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size,
      SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate))};
  if (pw_stream_connect(s.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                        PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS, params, 1) < 0) {
    fprintf(stderr, "scripted_source: cannot connect\n");
    return 2;
  }
  pw_loop_add_io(pw_main_loop_get_loop(s.loop), 0, SPA_IO_IN, false, Input, &s);
  struct spa_source* timer = pw_loop_add_timer(pw_main_loop_get_loop(s.loop), Tick, &s);
  struct timespec period = {0, 50 * 1000 * 1000};
  pw_loop_update_timer(pw_main_loop_get_loop(s.loop), timer, &period, &period, false);
  pw_main_loop_run(s.loop);
  return 0;
}
