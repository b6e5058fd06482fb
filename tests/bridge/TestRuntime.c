/* A runtime for the bridge tests. It appends "init <flag>" and "term" lines
 * to the file named by CINELINK_TEST_LOG, so a test can count QuickTime
 * initialisations across loads and unloads, and keeps the arguments of the
 * last recorded call for TestRuntimeLastCall() and the selector of the last
 * call of any routine for TestRuntimeLastSelector(). Copies built with
 * TEST_RUNTIME_ID name themselves in their init line ("init <flag> <id>"),
 * so a test that puts several on the search path sees which one was bound. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "TestRuntimeRecord.h"
#include "bridge/Cinelink.h"

#define EXPORT __attribute__((visibility("default")))
#define HIDDEN __attribute__((visibility("hidden")))

#ifndef TEST_INIT_RESULT
#define TEST_INIT_RESULT 0
#endif

HIDDEN uint32_t gTestLastSelector;
static TestCall gLastCall;

static void Log(const char* line) {
  const char* path = getenv("CINELINK_TEST_LOG");
  if (path == NULL) return;
  FILE* f = fopen(path, "a");
  if (f == NULL) return;
  fputs(line, f);
  fputc('\n', f);
  fclose(f);
}

HIDDEN OSErr TestInitialize(int32_t flag) {
  char line[64];
#ifdef TEST_RUNTIME_ID
  snprintf(line, sizeof line, "init %d %s", (int)flag, TEST_RUNTIME_ID);
#else
  snprintf(line, sizeof line, "init %d", (int)flag);
#endif
  Log(line);
  return TEST_INIT_RESULT;
}

HIDDEN void TestTerminate(void) { Log("term"); }

HIDDEN OSErr TestAddMediaSample(Media theMedia, Handle dataIn, int32_t inOffset, uint32_t size,
                                TimeValue durationPerSample, SampleDescriptionHandle desc,
                                int32_t numberOfSamples, int16_t sampleFlags,
                                TimeValue* sampleTime) {
  memset(&gLastCall, 0, sizeof gLastCall);
  gLastCall.selector = gTestLastSelector;
  gLastCall.integers[0] = (int64_t)(intptr_t)theMedia;
  gLastCall.integers[1] = (int64_t)(intptr_t)dataIn;
  gLastCall.integers[2] = inOffset;
  gLastCall.integers[3] = size;
  gLastCall.integers[4] = durationPerSample;
  gLastCall.integers[5] = (int64_t)(intptr_t)desc;
  gLastCall.integers[6] = numberOfSamples;
  gLastCall.integers[7] = sampleFlags;
  gLastCall.integers[8] = (int64_t)(intptr_t)sampleTime;
  if (sampleTime != NULL) *sampleTime = 4242;
  return 7;
}

HIDDEN OSErr TestGetMaxCompressionSize(PixMapHandle src, const Rect* srcRect, int16_t colorDepth,
                                       CodecQ quality, CodecType cType, CompressorComponent codec,
                                       int32_t* size) {
  memset(&gLastCall, 0, sizeof gLastCall);
  gLastCall.selector = gTestLastSelector;
  gLastCall.integers[0] = (int64_t)(intptr_t)src;
  gLastCall.integers[1] = (int64_t)(intptr_t)srcRect;
  gLastCall.integers[2] = colorDepth;
  gLastCall.integers[3] = quality;
  gLastCall.integers[4] = cType;
  gLastCall.integers[5] = (int64_t)(intptr_t)codec;
  gLastCall.integers[6] = (int64_t)(intptr_t)size;
  if (size != NULL) *size = 123456;
  return 0;
}

/* Reached through FixRatio's selector by a caller that passes eight doubles
 * to a variadic prototype; reads them the way any variadic callee does, which
 * only works when AL and xmm0-xmm7 arrived as the caller set them. */
HIDDEN int32_t TestVariadic(int32_t first, ...) {
  memset(&gLastCall, 0, sizeof gLastCall);
  gLastCall.selector = gTestLastSelector;
  gLastCall.integers[0] = first;
  va_list args;
  va_start(args, first);
  for (int i = 0; i < 8; ++i) gLastCall.doubles[i] = va_arg(args, double);
  va_end(args);
  return first;
}

EXPORT const TestCall* TestRuntimeLastCall(void) { return &gLastCall; }
EXPORT uint32_t TestRuntimeLastSelector(void) { return gTestLastSelector; }

#ifndef TEST_OMIT_CALL_COMPONENT
EXPORT int32_t _CallComponent(void) { return -1; }
#endif
#ifndef TEST_OMIT_CALL_COMPONENT_WITH_STORAGE
EXPORT int32_t _CallComponentFunctionWithStorage(void) { return -1; }
#endif
