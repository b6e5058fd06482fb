// Which thread enters QuickTime, and how failures met there come back.
//
// This program defines the Cinelink exports itself, so that the writer's
// calls land here first (a definition in the program wins over the
// library's): each one is noted with its thread and passed on to the real
// Cinelink, which drives the project's QuickTime.qts. A few can be made to
// fail, or to wait for the test, on the runtime's side of the writer.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/MovieFrame.h"
#include "bridge/Cinelink.h"
#include "capture/WriterFailureBoxes.h"
#include "support/ClipRecording.h"
#include "support/MediaProbe.h"
#include "support/QtAtomWalk.h"
#include "support/RecorderFakes.h"
#include "support/BuiltQuickTime.h"
#include "support/TempDir.h"
#include "writers/QtMovieWriter.h"

namespace {

struct Call {
  std::string routine;
  std::thread::id thread;
};

// What the exports below saw, and what they are told to do.
struct Probe {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Call> calls;
  int inside = 0;            // threads inside the runtime right now
  int mostInside = 0;        // the most there ever were at once
  int compressions = 0;      // CompressImage calls so far
  int failCompression = -1;  // this CompressImage call (0 first) fails
  int holdCompression = -1;  // this one waits until `released`
  bool holding = false;
  bool released = false;

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    calls.clear();
    inside = mostInside = compressions = 0;
    failCompression = holdCompression = -1;
    holding = released = false;
  }
};

Probe& TheProbe() {
  static Probe probe;
  return probe;
}

// Notes one call for as long as it runs.
class Entry {
 public:
  explicit Entry(const char* routine) {
    Probe& p = TheProbe();
    std::lock_guard<std::mutex> lock(p.mutex);
    p.calls.push_back({routine, std::this_thread::get_id()});
    p.mostInside = std::max(p.mostInside, ++p.inside);
  }
  ~Entry() {
    Probe& p = TheProbe();
    std::lock_guard<std::mutex> lock(p.mutex);
    --p.inside;
  }
};

void* Real(const char* routine) {
  static void* const library = dlopen(CINELINK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  void* address = library != nullptr ? dlsym(library, routine) : nullptr;
  if (address == nullptr) std::abort();
  return address;
}

}  // namespace

#define FORWARD(Result, Name, Params, Args)                                   \
  extern "C" Result Name Params {                                             \
    const Entry entry(#Name);                                                 \
    static const auto real = reinterpret_cast<Result(*) Params>(Real(#Name)); \
    return real Args;                                                         \
  }

FORWARD(OSErr, AddMediaSample,
        (Media m, Handle data, int32_t offset, uint32_t size, TimeValue duration,
         SampleDescriptionHandle desc, int32_t count, int16_t flags, TimeValue* time),
        (m, data, offset, size, duration, desc, count, flags, time))
FORWARD(OSErr, AddMovieResource, (Movie m, int16_t ref, int16_t* id, ConstStr255Param name),
        (m, ref, id, name))
FORWARD(OSErr, BeginMediaEdits, (Media m), (m))
FORWARD(OSErr, CloseMovieFile, (int16_t ref), (ref))
FORWARD(OSErr, CreateMovieFile,
        (const FSSpec* file, OSType creator, ScriptCode script, int32_t flags, int16_t* ref,
         Movie* movie),
        (file, creator, script, flags, ref, movie))
FORWARD(void, DisposeGWorld, (GWorldPtr world), (world))
FORWARD(void, DisposeHandle, (Handle h), (h))
FORWARD(void, DisposeMovie, (Movie m), (m))
FORWARD(OSErr, EndMediaEdits, (Media m), (m))
FORWARD(OSErr, EnterMovies, (void), ())
FORWARD(void, ExitMovies, (void), ())
FORWARD(OSErr, FSMakeFSSpec, (int16_t volume, int32_t folder, ConstStr255Param name, FSSpec* file),
        (volume, folder, name, file))
FORWARD(Fixed, FixRatio, (int16_t numer, int16_t denom), (numer, denom))
FORWARD(void, GetGWorld, (CGrafPtr * port, GDHandle* device), (port, device))
FORWARD(OSErr, GetMaxCompressionSize,
        (PixMapHandle src, const Rect* rect, int16_t depth, CodecQ quality, CodecType type,
         CompressorComponent codec, int32_t* size),
        (src, rect, depth, quality, type, codec, size))
FORWARD(TimeValue, GetMediaDuration, (Media m), (m))
FORWARD(void, HLock, (Handle h), (h))
FORWARD(OSErr, InitializeQTML, (int32_t flag), (flag))
FORWARD(OSErr, InsertMediaIntoTrack,
        (Track t, TimeValue start, TimeValue mediaTime, TimeValue duration, Fixed rate),
        (t, start, mediaTime, duration, rate))
FORWARD(void, MoveHHi, (Handle h), (h))
FORWARD(OSErr, NewGWorldFromHBITMAP,
        (GWorldPtr * world, CTabHandle table, GDHandle device, GWorldFlags flags, void* bitmap,
         void* dc),
        (world, table, device, flags, bitmap, dc))
FORWARD(Handle, NewHandle, (Size bytes), (bytes))
FORWARD(Track, NewMovieTrack, (Movie m, Fixed width, Fixed height, int16_t volume),
        (m, width, height, volume))
FORWARD(Media, NewTrackMedia,
        (Track t, OSType type, TimeScale scale, Handle dataRef, OSType dataRefType),
        (t, type, scale, dataRef, dataRefType))
FORWARD(void, SetGWorld, (CGrafPtr port, GDHandle device), (port, device))
FORWARD(void, TerminateQTML, (void), ())
FORWARD(void, c2pstrcpy, (Str255 dst, const char* src), (dst, src))

// Fails or holds the compression the test names.
extern "C" OSErr CompressImage(PixMapHandle src, const Rect* rect, CodecQ quality, CodecType type,
                               ImageDescriptionHandle desc, Ptr data) {
  const Entry entry("CompressImage");
  Probe& p = TheProbe();
  {
    std::unique_lock<std::mutex> lock(p.mutex);
    const int index = p.compressions++;
    if (index == p.failCompression) return -8960;  // codecErr
    if (index == p.holdCompression) {
      p.holding = true;
      p.changed.notify_all();
      p.changed.wait(lock, [&p] { return p.released; });
    }
  }
  static const auto real =
      reinterpret_cast<OSErr (*)(PixMapHandle, const Rect*, CodecQ, CodecType,
                                 ImageDescriptionHandle, Ptr)>(Real("CompressImage"));
  return real(src, rect, quality, type, desc, data);
}

namespace framory {
namespace {

using testing::DecodeFrames;
using testing::FakeBoxes;
using testing::MeanDifference;
using testing::ProbePacketDurations;
using testing::ProbeVideo;
using testing::TempDir;
using testing::WalkQtAtoms;

void UseBuiltRuntime() { testing::UseBuiltQuickTime(QUICKTIME_RUNTIME_DIR); }

std::vector<Call> CallsSoFar() {
  std::lock_guard<std::mutex> lock(TheProbe().mutex);
  return TheProbe().calls;
}

std::set<std::thread::id> ThreadsOf(const std::vector<Call>& calls) {
  std::set<std::thread::id> threads;
  for (const Call& call : calls) threads.insert(call.thread);
  return threads;
}

bool Made(const std::vector<Call>& calls, const std::string& routine) {
  return std::any_of(calls.begin(), calls.end(),
                     [&](const Call& call) { return call.routine == routine; });
}

TEST(QtMovieWriterThread, EveryRuntimeCallIsMadeOnTheWritersOwnThreadOneThreadAtATime) {
  UseBuiltRuntime();
  TheProbe().Reset();
  TempDir dir;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  MovieFrame frameA, frameB;
  ASSERT_TRUE(frameA.Create(64, 48));
  ASSERT_TRUE(frameB.Create(32, 32));
  {
    // Two clips open at once, each with its own runtime thread.
    QtMovieWriter a(reports, dir.File("a.mov"), 0, 0);
    QtMovieWriter b(reports, dir.File("b.mov"), 0, 0);
    ASSERT_EQ(a.Prepare(frameA), kWriterOk) << a.LastError();
    ASSERT_EQ(b.Prepare(frameB), kWriterOk) << b.LastError();
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(a.AddFrame(frameA), kWriterOk);
      EXPECT_EQ(b.AddFrame(frameB), kWriterOk);
    }
    EXPECT_EQ(a.RepeatFrame(frameA), kWriterOk);
    a.Close();
    EXPECT_EQ(a.CloseResult(), kWriterOk);
  }
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(ProbeVideo(dir.File("a.mov")).FrameCount, 6);
  EXPECT_EQ(ProbeVideo(dir.File("b.mov")).FrameCount, 6);

  const std::vector<Call> calls = CallsSoFar();
  for (const char* routine :
       {"InitializeQTML", "EnterMovies", "NewGWorldFromHBITMAP", "CreateMovieFile",
        "GetMaxCompressionSize", "CompressImage", "AddMediaSample", "AddMovieResource",
        "CloseMovieFile", "ExitMovies", "TerminateQTML"}) {
    EXPECT_TRUE(Made(calls, routine)) << routine;
  }
  for (const Call& call : calls) {
    EXPECT_NE(call.thread, std::this_thread::get_id()) << call.routine << " on the caller's thread";
  }
  EXPECT_EQ(ThreadsOf(calls).size(), 2u) << "one thread per writer";
  std::lock_guard<std::mutex> lock(TheProbe().mutex);
  EXPECT_EQ(TheProbe().mostInside, 1) << "the runtime is entered by one thread at a time";
}

// AddFrame hands the frame's copy over and returns while it is compressed;
// the next AddFrame adds its sample once it is done.
TEST(QtMovieWriterThread, FramesAreCompressedWhileTheCallerGoesOnFromACopy) {
  UseBuiltRuntime();
  TheProbe().Reset();
  TempDir dir;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  MovieFrame frame;
  ASSERT_TRUE(frame.Create(64, 48));
  const std::vector<std::uint32_t> white(64 * 48, 0x00FFFFFF), red(64 * 48, 0x00FF0000),
      black(64 * 48, 0);
  auto paint = [&frame](const std::vector<std::uint32_t>& picture) {
    std::copy(picture.begin(), picture.end(), frame.Row(0));
  };
  const std::string path = dir.File("held.mov");
  QtMovieWriter writer(reports, path, 0, 0);
  writer.SetFramePeriod(100);
  ASSERT_EQ(writer.Prepare(frame), kWriterOk);
  TheProbe().holdCompression = 1;
  paint(white);
  EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
  paint(red);
  EXPECT_EQ(writer.AddFrame(frame), kWriterOk) << "returns while the frame is compressed";
  {
    std::unique_lock<std::mutex> lock(TheProbe().mutex);
    TheProbe().changed.wait(lock, [] { return TheProbe().holding; });
  }
  // The frame changes while its compression waits: the copy handed over
  // is what is compressed.
  paint(black);
  {
    std::lock_guard<std::mutex> lock(TheProbe().mutex);
    TheProbe().released = true;
  }
  TheProbe().changed.notify_all();
  EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
  writer.Close();
  EXPECT_EQ(writer.CloseResult(), kWriterOk);
  EXPECT_EQ(ProbePacketDurations(path), (std::vector<std::int64_t>{100, 100, 100}));
  const auto decoded = DecodeFrames(path, 64, 48);
  ASSERT_EQ(decoded.size(), 3u);
  EXPECT_LT(MeanDifference(decoded[0], white), 6.0);
  EXPECT_LT(MeanDifference(decoded[1], red), 6.0) << "the frame as it was handed over";
  EXPECT_LT(MeanDifference(decoded[2], black), 6.0);
}

TEST(QtMovieWriterThread, AFrameThatCannotBeCompressedIsReportedOnceByTheNextAddFrameOrClose) {
  UseBuiltRuntime();
  TempDir dir;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  MovieFrame frame;
  ASSERT_TRUE(frame.Create(48, 32));
  {
    // The second frame fails on the runtime thread; its AddFrame has
    // returned already, so the third one says so and takes nothing. The
    // clip goes on with the fourth, and its end reports nothing more.
    TheProbe().Reset();
    TheProbe().failCompression = 1;
    const std::string path = dir.File("middle.mov");
    QtMovieWriter writer(reports, path, 0, 0);
    writer.SetFramePeriod(50);
    ASSERT_EQ(writer.Prepare(frame), kWriterOk);
    EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
    EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
    EXPECT_EQ(writer.AddFrame(frame), kWriterFail) << "the failure of the frame before";
    EXPECT_EQ(writer.State(), QtMovieWriter::kEditing);
    EXPECT_EQ(writer.AddFrame(frame), kWriterOk) << "reported once";
    writer.Close();
    EXPECT_EQ(writer.CloseResult(), kWriterOk);
    EXPECT_EQ(ProbePacketDurations(path), (std::vector<std::int64_t>{50, 50}))
        << "the first and the fourth frame";
  }
  {
    // The last frame fails: the clip's end reports it, and the movie holds
    // the frames before it.
    TheProbe().Reset();
    TheProbe().failCompression = 2;
    const std::string path = dir.File("last.mov");
    QtMovieWriter writer(reports, path, 0, 0);
    ASSERT_EQ(writer.Prepare(frame), kWriterOk);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
    writer.Close();
    EXPECT_EQ(writer.CloseResult(), kWriterFail);
    EXPECT_NE(WalkQtAtoms(path).Find("moov"), nullptr);
    EXPECT_EQ(ProbeVideo(path).FrameCount, 2);
  }
  EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
}  // namespace framory
