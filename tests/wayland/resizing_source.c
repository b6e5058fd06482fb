/* A PipeWire video source for the tests whose picture changes size while it
 * runs: solid-colour BGRx pictures of the first size and colour, then, after
 * a number of pictures, of the second size and colour. The new size is
 * offered the way a screen-sharing compositor offers a new output mode: the
 * stream's format is offered anew and the link renegotiates it. The node is
 * named for the tests to find.
 *
 *   resizing_source NODE W1 H1 RGB1 COUNT W2 H2 RGB2
 *
 * RGB values are hexadecimal (ff0000 is red). Runs until killed. */
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct Source {
  struct pw_main_loop* loop;
  struct pw_stream* stream;
  struct spa_hook listener;
  struct spa_source* timer;
  int width, height;
  unsigned colour;
  int sent, after;
  int nextWidth, nextHeight;
  unsigned nextColour;
  int changed;
};

static const struct spa_pod* FormatParam(struct spa_pod_builder* b, int width, int height) {
  struct spa_rectangle size = SPA_RECTANGLE(width, height);
  struct spa_fraction rate = SPA_FRACTION(20, 1);
  return spa_pod_builder_add_object(
      b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format, SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size,
      SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate));
}

static void ParamChanged(void* data, uint32_t id, const struct spa_pod* param) {
  struct Source* s = data;
  if (id != SPA_PARAM_Format || param == NULL) return;
  struct spa_video_info_raw info;
  if (spa_format_video_raw_parse(param, &info) < 0) return;
  uint8_t buffer[512];
  struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const struct spa_pod* params[1];
  const int stride = (int)info.size.width * 4;
  params[0] = spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
      SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
      SPA_PARAM_BUFFERS_size, SPA_POD_Int(stride * (int)info.size.height), SPA_PARAM_BUFFERS_stride,
      SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd));
  pw_stream_update_params(s->stream, params, 1);
  s->width = (int)info.size.width;
  s->height = (int)info.size.height;
  /* The new colour comes with the new size, so that each size has one. */
  if (s->changed) s->colour = s->nextColour;
}

static void Process(void* data) {
  struct Source* s = data;
  struct pw_buffer* b = pw_stream_dequeue_buffer(s->stream);
  if (b == NULL) return;
  struct spa_data* d = &b->buffer->datas[0];
  const int stride = s->width * 4;
  if (d->data != NULL && (uint32_t)(stride * s->height) <= d->maxsize) {
    uint32_t* pixels = d->data;
    for (int i = 0; i < s->width * s->height; ++i) pixels[i] = s->colour;
    d->chunk->offset = 0;
    d->chunk->stride = stride;
    d->chunk->size = (uint32_t)(stride * s->height);
    ++s->sent;
  }
  pw_stream_queue_buffer(s->stream, b);
}

static void Tick(void* data, uint64_t expirations) {
  (void)expirations;
  struct Source* s = data;
  if (!s->changed && s->sent >= s->after) {
    s->changed = 1;
    uint8_t buffer[512];
    struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const struct spa_pod* params[1] = {FormatParam(&b, s->nextWidth, s->nextHeight)};
    pw_stream_update_params(s->stream, params, 1);
    printf("changed\n");
    fflush(stdout);
  }
  pw_stream_trigger_process(s->stream);
}

static const struct pw_stream_events kEvents = {PW_VERSION_STREAM_EVENTS,
                                                .param_changed = ParamChanged, .process = Process};

int main(int argc, char** argv) {
  if (argc != 9) {
    fprintf(stderr, "usage: resizing_source NODE W1 H1 RGB1 COUNT W2 H2 RGB2\n");
    return 2;
  }
  pw_init(&argc, &argv);
  struct Source s = {0};
  s.width = atoi(argv[2]);
  s.height = atoi(argv[3]);
  s.colour = (unsigned)strtoul(argv[4], NULL, 16);
  s.after = atoi(argv[5]);
  s.nextWidth = atoi(argv[6]);
  s.nextHeight = atoi(argv[7]);
  s.nextColour = (unsigned)strtoul(argv[8], NULL, 16);
  s.loop = pw_main_loop_new(NULL);
  s.stream = pw_stream_new_simple(
      pw_main_loop_get_loop(s.loop), "resizing-source",
      pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, argv[1], NULL),
      &kEvents, &s);
  uint8_t buffer[512];
  struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const struct spa_pod* params[1] = {FormatParam(&b, s.width, s.height)};
  if (pw_stream_connect(s.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                        PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS, params, 1) < 0) {
    fprintf(stderr, "resizing_source: cannot connect\n");
    return 2;
  }
  s.timer = pw_loop_add_timer(pw_main_loop_get_loop(s.loop), Tick, &s);
  struct timespec period = {0, 50 * 1000 * 1000};
  pw_loop_update_timer(pw_main_loop_get_loop(s.loop), s.timer, &period, &period, false);
  pw_main_loop_run(s.loop);
  return 0;
}
