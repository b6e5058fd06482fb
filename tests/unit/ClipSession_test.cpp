// The clip session against recording writers: movie size, clip start per
// output family, encoder-only shots, failure paths and texts, type changes,
// and the end of a clip with its sound-track merge.
#include "capture/ClipSession.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/ClipSessionFakes.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

namespace framory {
namespace {

using testing::FakeClipHost;
using testing::TempDir;
using testing::TestPicture;

using Log = std::vector<std::string>;

class FakeWriter : public MovieWriter {
 public:
  FakeWriter(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
  std::int32_t Prepare(const MovieFrame& frame) override {
    log_.push_back(name_ + " Prepare " + std::to_string(frame.Width()));
    return prepareResult;
  }
  std::int32_t AddFrame(const MovieFrame& frame) override {
    log_.push_back(name_ + " AddFrame");
    frames.push_back(frame.Pixel(frame.Width() / 2, frame.Height() / 2));
    if (duringAdd) duringAdd();           // e.g. a box's nested event loop
    if (addResult < 0) SetLastError(28);  // as a full disk reports itself
    return addResult;
  }
  std::int32_t RepeatFrame(const MovieFrame&) override {
    log_.push_back(name_ + " RepeatFrame");
    return repeatResult;
  }
  std::int32_t RepeatFrameAt(const MovieFrame& frame, std::int32_t position) override {
    repeatPositions.push_back(position);
    return RepeatFrame(frame);
  }
  std::int32_t AddFrameAt(const MovieFrame& frame, std::int32_t position) override {
    positions.push_back(position);
    return AddFrame(frame);
  }
  void Close() override { log_.push_back(name_ + " Close"); }
  std::int32_t CloseResult() const override { return closeResult; }
  std::int32_t StartResult() const override { return startResult; }

  std::int32_t startResult = kWriterOk;
  std::int32_t prepareResult = kWriterOk;
  std::int32_t addResult = kWriterOk;
  std::int32_t repeatResult = kWriterOk;
  std::function<void()> duringAdd;
  std::int32_t closeResult = kWriterOk;
  std::vector<std::uint32_t> frames;          // centre pixel of each frame added
  std::vector<std::int32_t> positions;        // of each frame placed by the clock
  std::vector<std::int32_t> repeatPositions;  // of each repeat placed by the clock

 private:
  Log& log_;
  std::string name_;
};

class FakeEncoder : public ScreenEncoder {
 public:
  explicit FakeEncoder(Log& log, bool writesFile = false) : log_(log), writesFile_(writesFile) {}
  ~FakeEncoder() override { log_.push_back("Encoder destroyed"); }
  void SetCaptureRect(const Rect& r) override {
    log_.push_back("SetCaptureRect " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                   std::to_string(r.right) + " " + std::to_string(r.bottom));
  }
  void SetFramesPerSecond(double fps) override {
    log_.push_back("Fps " + std::to_string(static_cast<int>(fps * 100)));
  }
  void SetRecordAudio(bool on) override {
    log_.push_back(std::string("Audio ") + (on ? "1" : "0"));
  }
  void SetRecordVideo(bool on) override {
    log_.push_back(std::string("Video ") + (on ? "1" : "0"));
  }
  void SetBroadcast(bool on) override {
    log_.push_back(std::string("Broadcast ") + (on ? "1" : "0"));
  }
  std::int32_t Configure(const std::string& path) override {
    log_.push_back("Configure " + path);
    // Like the real encoder, which makes its output file as it starts.
    if (writesFile_ && !path.empty()) testing::WriteWholeFile(path, "sound");
    return 0;
  }
  void StartEncoding() override { log_.push_back("Start"); }
  void PauseEncoding() override { log_.push_back("Pause"); }

 private:
  Log& log_;
  bool writesFile_;
};

// The failures told to the user, with the thread each was told on.
struct ToldFailures : WriterReports {
  void Report(WriterFailure failure, std::int32_t reason) override {
    told.push_back({failure, reason, std::this_thread::get_id()});
  }
  struct Told {
    WriterFailure failure;
    std::int32_t reason;
    std::thread::id thread;
  };
  std::vector<Told> told;
};

// Makes recording writers for every family; Supports() follows `supported`.
class FakeFactory : public MovieWriterFactory {
 public:
  FakeFactory() : MovieWriterFactory(nullptr, &failures) {}
  bool Supports(std::int32_t type) const override {
    return type != unsupportedType && ((type >= 10 && type <= 19) || type == 30);
  }
  std::unique_ptr<MovieWriter> CreateFileWriter(std::int32_t type, const std::string& path,
                                                std::int32_t timer) override {
    const std::string name = std::filesystem::path(path).filename().string();
    log.push_back("Create " + std::to_string(type) + " " + name + " " + std::to_string(timer));
    auto writer = std::make_unique<FakeWriter>(log, name);
    if (!prepareResults.empty()) {
      writer->prepareResult = prepareResults.front();
      prepareResults.erase(prepareResults.begin());
    }
    writer->addResult = addResult;
    writer->startResult = startResult;
    writer->repeatResult = repeatResult;
    writer->duringAdd = duringAdd;
    last = writer.get();
    return writer;
  }
  std::unique_ptr<ScreenEncoder> CreateEncoderSession() override {
    log.push_back("Encoder created");
    return std::make_unique<FakeEncoder>(log, encodersWriteFiles);
  }
  bool MergeSoundTrack(const std::string& video, const std::string& audio,
                       const std::string& merged, WriterReports& reports) override {
    namespace fs = std::filesystem;
    if (duringMerge) duringMerge();
    if (mergeFailure != WriterFailure::NoFailure) reports.Report(mergeFailure, mergeReason);
    log.push_back("Merge " + fs::path(video).filename().string() + " " +
                  fs::path(audio).filename().string() + " " + fs::path(merged).filename().string());
    return mergeResult;
  }

  Log log;
  FakeWriter* last = nullptr;
  std::vector<std::int32_t> prepareResults;
  std::int32_t addResult = kWriterOk;
  std::int32_t startResult = kWriterOk;
  std::int32_t repeatResult = kWriterOk;
  std::function<void()> duringAdd;
  bool mergeResult = true;
  // Run on the merge's thread; a failure it reports there.
  std::function<void()> duringMerge;
  WriterFailure mergeFailure = WriterFailure::NoFailure;
  std::int32_t mergeReason = 0;
  ToldFailures failures;
  bool encodersWriteFiles = false;
  std::int32_t unsupportedType = -1;
};

struct ClipSessionTest : ::testing::Test {
  ClipSessionTest() {
    settings.SetProjectDirectory(dir.Path() + "/");
    settings.SetProjectName("p");
    std::filesystem::create_directories(settings.ProjectFolder());
    settings.SetOutputType(OutputTypes::AviMpg4);
  }
  void Shoot(std::int32_t width, std::int32_t height, int seed = 1) {
    TestPicture p = TestPicture::Pattern(width, height, seed);
    session.DeliverMovieFrame(&p.frame, 42, Rect{-1, -1, -1, -1});
  }
  void ShootEncoder(const Rect& r) { session.DeliverMovieFrame(nullptr, kNoWindow, r); }
  bool Has(const std::string& entry) const {
    for (const auto& e : writers.log)
      if (e == entry) return true;
    return false;
  }

  TempDir dir;
  Settings settings;
  OutputNaming naming{settings};
  FakeFactory writers;
  FakeClipHost host;
  testing::ManualClock clock;
  ClipSession session{settings, naming, writers, host, &clock};
};

TEST_F(ClipSessionTest, TimerDrivenClipsPlaceFramesByTheClockWithoutPausedTime) {
  settings.SetTakeShotOnTimer(true);
  settings.SetTimerValue(40);
  Shoot(64, 48);
  for (double delay : {40.0, 0.0, 130.0}) {
    clock.AdvanceMilliseconds(delay);
    Shoot(64, 48);
  }
  // Paused for five seconds; the resumed timer shoots a period later.
  clock.AdvanceMilliseconds(20);
  session.RecorderPauseChanged(true);
  clock.AdvanceMilliseconds(5000);
  session.RecorderPauseChanged(false);
  clock.AdvanceMilliseconds(40);
  // A changed period reaches the next clip, not this one.
  settings.SetTimerValue(1000);
  Shoot(64, 48);
  ASSERT_NE(writers.last, nullptr);
  EXPECT_EQ(writers.last->positions, (std::vector<std::int32_t>{0, 1, 2, 4, 6}));
  EXPECT_EQ(writers.last->frames.size(), 5u);

  // The next clip starts again at 0, on its own period.
  session.EndClip();
  Shoot(64, 48);
  clock.AdvanceMilliseconds(1000);
  Shoot(64, 48);
  EXPECT_EQ(writers.last->positions, (std::vector<std::int32_t>{0, 1}));
}

TEST_F(ClipSessionTest, FramesLostAfterTheirAppendAreReportedWhenTheClipEnds) {
  Shoot(64, 48);
  ASSERT_NE(writers.last, nullptr);
  writers.last->closeResult = kWriterFail;
  session.EndClip();
  EXPECT_EQ(host.reports, (Log{"AVI file unable to append frame. Pausing recorder."}));
  EXPECT_TRUE(host.paused);

  // A session destroyed with its clip open closes it without telling anyone.
  FakeClipHost quietHost;
  {
    ClipSession other(settings, naming, writers, quietHost, &clock);
    TestPicture p = TestPicture::Pattern(64, 48, 1);
    other.DeliverMovieFrame(&p.frame, 42, Rect{-1, -1, -1, -1});
    writers.last->closeResult = kWriterFail;
  }
  EXPECT_TRUE(quietHost.reports.empty());
}

TEST_F(ClipSessionTest, RepeatsTakeTheirPlaceOnlyWhenTheWriterStoresThem) {
  settings.SetTakeShotOnTimer(true);
  settings.SetTimerValue(40);
  Shoot(64, 48);
  ASSERT_NE(writers.last, nullptr);
  clock.AdvanceMilliseconds(40);
  EXPECT_TRUE(session.RepeatMovieFrame());
  EXPECT_EQ(writers.last->repeatPositions, (std::vector<std::int32_t>{1}));
  // A writer that cannot store a repeat leaves the position to the whole
  // frame that is shot instead.
  writers.last->repeatResult = kWriterRepeatUnsupported;
  clock.AdvanceMilliseconds(40);
  EXPECT_FALSE(session.RepeatMovieFrame());
  Shoot(64, 48);
  EXPECT_EQ(writers.last->repeatPositions, (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(writers.last->positions, (std::vector<std::int32_t>{0, 2}));
}

TEST_F(ClipSessionTest, WithoutTheTimerEveryShotIsTheNextFrame) {
  settings.SetTakeShotOnTimer(false);
  Shoot(64, 48);
  clock.AdvanceMilliseconds(5000);
  Shoot(64, 48);
  ASSERT_NE(writers.last, nullptr);
  EXPECT_TRUE(writers.last->positions.empty()) << "appended, not placed";
  EXPECT_EQ(writers.last->frames.size(), 2u);
}

TEST_F(ClipSessionTest, FramesOfTheMovieSizeReachTheWriterWhetherLentOrComposed) {
  // Compressed AVI reads a frame of the movie's size in place; uncompressed
  // AVI gets it composed (zero fourth byte). The writer sees the same picture.
  for (std::int32_t type : {OutputTypes::AviDivx, OutputTypes::AviUncompressed}) {
    SCOPED_TRACE(type);
    settings.SetOutputType(type);
    TestPicture p = TestPicture::Pattern(64, 48, 4);
    p.At(32, 24) = 0xAB123456;  // a grabbed pixel with something in its pad byte
    session.DeliverMovieFrame(&p.frame, 42, Rect{-1, -1, -1, -1});
    TestPicture q = TestPicture::Pattern(64, 48, 5);
    session.DeliverMovieFrame(&q.frame, 42, Rect{-1, -1, -1, -1});
    ASSERT_NE(writers.last, nullptr);
    ASSERT_EQ(writers.last->frames.size(), 2u);
    EXPECT_EQ(writers.last->frames[0] & 0xFFFFFF, 0x123456u);
    EXPECT_EQ(writers.last->frames[1], q.At(32, 24));
    if (type == OutputTypes::AviUncompressed) {
      EXPECT_EQ(writers.last->frames[0], 0x123456u);
    }
    session.EndClip();
  }
}

TEST_F(ClipSessionTest, StartsIdleAndIgnoresPictureTypes) {
  EXPECT_FALSE(session.ClipOpen());
  EXPECT_FALSE(session.ClipStarted());
  EXPECT_EQ(session.LastClipOutputType(), -1);
  EXPECT_EQ(session.MovieWidth(), 0);
  settings.SetOutputType(OutputTypes::Png);
  Shoot(100, 100);
  EXPECT_FALSE(session.ClipOpen());
  EXPECT_EQ(session.LastClipOutputType(), -1);
  EXPECT_TRUE(writers.log.empty());
}

TEST_F(ClipSessionTest, FirstFrameFixesTheMovieSizeInMultiplesOfFour) {
  Shoot(1024, 768);
  EXPECT_EQ(session.MovieWidth(), 1024);
  EXPECT_EQ(session.MovieHeight(), 768);
  EXPECT_TRUE(session.ClipOpen());
  EXPECT_TRUE(session.ClipStarted());
  EXPECT_EQ(writers.log, (Log{"Create 10 movie0.avi 100", "movie0.avi AddFrame"}));
  EXPECT_EQ(host.log, (Log{"Title"}));
  session.EndClip();

  TestPicture p = TestPicture::Pattern(641, 481, 2);
  session.DeliverMovieFrame(&p.frame, 42, Rect{-1, -1, -1, -1});
  EXPECT_EQ(session.MovieWidth(), 644);
  EXPECT_EQ(session.MovieHeight(), 484);
  EXPECT_EQ(session.Buffer().Pixel(0, 0), 0u);
  EXPECT_EQ(session.Buffer().Pixel(1, 1), p.pixels[0]) << "centred at (1, 1)";
  EXPECT_EQ(writers.log.back(), "movie1.avi AddFrame");

  // The size stays for the clip: a larger window is scaled down into it.
  Shoot(2000, 1000);
  EXPECT_EQ(session.MovieWidth(), 644);
  EXPECT_EQ(session.MovieHeight(), 484);
  EXPECT_EQ(writers.last->frames.size(), 2u);
}

TEST_F(ClipSessionTest, ResizeSettingsGiveTheMovieSizeAndZeroFallsBack) {
  settings.SetResizeFGWindow(true);
  settings.SetResizeFGWindowX(640);
  settings.SetResizeFGWindowY(480);
  TestPicture p = TestPicture::Pattern(641, 481, 3);
  session.DeliverMovieFrame(&p.frame, 42, Rect{-1, -1, -1, -1});
  EXPECT_EQ(session.MovieWidth(), 640);
  EXPECT_EQ(session.MovieHeight(), 480);
  EXPECT_EQ(session.Buffer().Pixel(639, 479), p.pixels[480 * 641 + 640]) << "stretched";
  session.EndClip();

  // A size of 0 falls back to 640 for the height and 480 for the width.
  settings.SetResizeFGWindowX(0);
  settings.SetResizeFGWindowY(0);
  Shoot(100, 100);
  EXPECT_EQ(session.MovieWidth(), 480);
  EXPECT_EQ(session.MovieHeight(), 640);
  session.EndClip();

  settings.SetResizeFGWindowX(201);
  settings.SetResizeFGWindowY(0);
  Shoot(100, 100);
  EXPECT_EQ(session.MovieWidth(), 204);
  EXPECT_EQ(session.MovieHeight(), 640);
}

TEST_F(ClipSessionTest, AviTypesPassTheirTypeAndPeriodToTheWriter) {
  settings.SetTimerValue(40);
  for (std::int32_t type = OutputTypes::AviMpg4; type <= OutputTypes::AviXvid; ++type) {
    settings.SetOutputType(type);
    Shoot(64, 64);
    EXPECT_EQ(writers.log.back(), "movie" + std::to_string(type - 10) + ".avi AddFrame");
    EXPECT_TRUE(
        Has("Create " + std::to_string(type) + " movie" + std::to_string(type - 10) + ".avi 40"));
  }
  // Each type change ended the previous clip at the next shot.
  EXPECT_TRUE(Has("movie3.avi Close"));
  EXPECT_FALSE(Has("movie4.avi Close"));
}

TEST_F(ClipSessionTest, TypeChangeEndsTheClipAndStartsTheNewOneWithTheSameShot) {
  Shoot(320, 240);
  settings.SetOutputType(OutputTypes::WmvV80_384Video);
  host.log.clear();
  writers.log.clear();
  Shoot(160, 120, 4);
  EXPECT_EQ(writers.log,
            (Log{"movie0.avi Close", "Create 16 movie1.wmv 100", "movie1.wmv AddFrame"}));
  EXPECT_EQ(host.log, (Log{"Title", "ClearMouse", "Title"}));
  EXPECT_EQ(session.MovieWidth(), 160) << "the new clip takes the size of its first frame";
  EXPECT_EQ(session.LastClipOutputType(), OutputTypes::WmvV80_384Video);
}

TEST_F(ClipSessionTest, FailedQuickTimeStartKeepsTheClipOpenAndRetries) {
  settings.SetOutputType(OutputTypes::QuickTimeMov);
  writers.prepareResults = {kWriterFail, kWriterOk};
  Shoot(100, 60);
  EXPECT_EQ(writers.log,
            (Log{"Create 15 movie0.mov 100", "movie0.mov Prepare 100", "movie0.mov Close"}));
  EXPECT_EQ(host.reports, (Log{"Unable to initialize Quicktime graphics world."}));
  EXPECT_TRUE(session.ClipOpen()) << "the frame buffer survives the failed start";
  EXPECT_FALSE(session.ClipStarted());

  writers.log.clear();
  Shoot(300, 300);
  EXPECT_EQ(writers.log,
            (Log{"Create 15 movie1.mov 100", "movie1.mov Prepare 100", "movie1.mov AddFrame"}));
  EXPECT_TRUE(session.ClipStarted());
  EXPECT_EQ(session.MovieWidth(), 100) << "the buffer of the failed start is kept";
}

TEST_F(ClipSessionTest, UnsupportedTypeDoesNotStartNorUseANumber) {
  writers.unsupportedType = OutputTypes::WmvV80_56Video;
  settings.SetOutputType(OutputTypes::WmvV80_56Video);
  Shoot(100, 100);
  EXPECT_TRUE(writers.log.empty());
  EXPECT_TRUE(host.reports.empty());
  EXPECT_TRUE(session.ClipOpen());
  EXPECT_FALSE(session.ClipStarted());
  EXPECT_EQ(naming.MovieCounter(), 0);
}

TEST_F(ClipSessionTest, FrameBufferThatCannotBeMadeIsReportedAndRetried) {
  settings.SetResizeFGWindow(true);
  settings.SetResizeFGWindowX(100000);
  settings.SetResizeFGWindowY(100000);
  Shoot(64, 64);
  EXPECT_EQ(host.reports, (Log{"A movie frame of 100000 x 100000 pixels is larger than 8188 x "
                               "8188, the largest the encoders take. Unable to create bitmap."}));
  EXPECT_EQ(host.codes, (std::vector<std::uint32_t>{27})) << "EFBIG";
  EXPECT_FALSE(session.ClipOpen());
  EXPECT_FALSE(session.ClipStarted());
  EXPECT_EQ(session.MovieWidth(), 0);
  EXPECT_TRUE(writers.log.empty());

  settings.SetResizeFGWindowX(-8);  // a negative size is no better
  settings.SetResizeFGWindowY(64);
  Shoot(64, 64);
  ASSERT_EQ(host.reports.size(), 2u);
  EXPECT_EQ(host.reports[1], "Unable to create bitmap.");

  // The largest size the encoders take is made.
  settings.SetResizeFGWindowX(8188);
  settings.SetResizeFGWindowY(8);
  Shoot(64, 64);
  EXPECT_EQ(host.reports.size(), 2u);
  EXPECT_EQ(session.MovieWidth(), 8188);
  session.EndClip();

  settings.SetResizeFGWindow(false);
  Shoot(64, 64);
  EXPECT_TRUE(session.ClipStarted());
}

TEST_F(ClipSessionTest, AppendFailurePausesThenReportsWithTheFamilyText) {
  struct Case {
    std::int32_t type;
    const char* text;
  };
  for (const Case& c :
       {Case{OutputTypes::AviXvid, "AVI file unable to append frame. Pausing recorder."},
        Case{OutputTypes::WmvV80_700PALVideo, "AVI file unable to append frame. Pausing recorder."},
        Case{OutputTypes::QuickTimeMov, "Unable to append frame to quicktime movie."}}) {
    SCOPED_TRACE(c.type);
    settings.SetOutputType(c.type);
    writers.addResult = kWriterFail;
    host = FakeClipHost{};
    writers.log.clear();
    Shoot(64, 64);
    // Paused first, then the clip is finished with what it holds, then the
    // box with the writer's own error number.
    EXPECT_EQ(host.log, (Log{"Title", "TogglePause", "Title", "ClearMouse",
                             std::string("Report ") + c.text}));
    EXPECT_EQ(host.codes, (std::vector<std::uint32_t>{28}));
    EXPECT_TRUE(host.paused);
    ASSERT_GE(writers.log.size(), 2u);
    EXPECT_EQ(writers.log.back().substr(writers.log.back().size() - 5), "Close");
    EXPECT_FALSE(session.ClipOpen()) << "the failed clip is ended";
    EXPECT_FALSE(session.ClipStarted());

    // Resumed with writing working again: the next clip, the next number.
    const std::int32_t next = naming.MovieCounter();
    writers.addResult = kWriterOk;
    host.paused = false;
    Shoot(64, 64);
    EXPECT_TRUE(session.ClipStarted());
    EXPECT_NE(writers.log[writers.log.size() - 2].find("movie" + std::to_string(next) + "."),
              std::string::npos)
        << writers.log[writers.log.size() - 2];
    EXPECT_EQ(host.reports.size(), 1u);
    session.EndClip();
  }
}

// A failing writer shows a box whose nested event loop keeps the capture
// timer firing: the shot taken there is dropped, so the clip is not ended
// under the writer and the recorder ends paused after one report.
TEST_F(ClipSessionTest, ShotDuringTheWritersOwnBoxIsDropped) {
  settings.SetOutputType(OutputTypes::AviUncompressed);
  writers.addResult = kWriterFail;
  writers.duringAdd = [this] { Shoot(64, 64, 2); };
  Shoot(64, 64);
  int adds = 0;
  for (const std::string& line : writers.log) adds += line.find("AddFrame") != std::string::npos;
  EXPECT_EQ(adds, 1);
  EXPECT_EQ(host.reports.size(), 1u);
  EXPECT_TRUE(host.paused);
  EXPECT_FALSE(session.ClipOpen());
}

TEST_F(ClipSessionTest, ScreenEncoderShotsOnlyPassTheRectangle) {
  settings.SetOutputType(OutputTypes::ScreenEncoder);
  settings.SetTimerValue(40);
  settings.SetRecordSound(true);
  ShootEncoder(Rect{10, 20, 330, 260});
  EXPECT_EQ(writers.log, (Log{"Encoder created", "SetCaptureRect 10 20 330 260", "Fps 2500",
                              "Audio 1", "Configure " + settings.ProjectFolder() + "/movie0.wmv",
                              "Start", "SetCaptureRect 10 20 330 260"}));
  EXPECT_TRUE(session.ClipOpen());
  EXPECT_EQ(session.MovieWidth(), 0) << "no frame buffer for the encoder";
  writers.log.clear();
  ShootEncoder(Rect{0, 0, 100, 100});
  EXPECT_EQ(writers.log, (Log{"SetCaptureRect 0 0 100 100"}));

  session.PauseEncoding();
  session.StartEncoding();
  EXPECT_TRUE(session.Exists());
  EXPECT_EQ(writers.log.back(), "Start");
  session.EndClip();
  EXPECT_FALSE(session.Exists());
  EXPECT_EQ(writers.log.back(), "Encoder destroyed");
}

TEST_F(ClipSessionTest, BroadcastMakesNoName) {
  settings.SetOutputType(OutputTypes::Broadcast);
  settings.SetTimerValue(0);
  ShootEncoder(Rect{0, 0, 640, 480});
  EXPECT_EQ(writers.log, (Log{"Encoder created", "SetCaptureRect 0 0 640 480", "Audio 0",
                              "Broadcast 1", "Configure ", "Start", "SetCaptureRect 0 0 640 480"}))
      << "no frame rate is set for a period of 0";
  EXPECT_EQ(naming.MovieCounter(), 0);
  EXPECT_TRUE(session.ClipOpen());
}

TEST_F(ClipSessionTest, WmvClipWithSoundRecordsAndMergesTheSoundTrack) {
  settings.SetOutputType(OutputTypes::WmvV80_384Video);
  settings.SetRecordSound(true);
  Shoot(64, 64);
  const std::string folder = settings.ProjectFolder() + "/";
  EXPECT_EQ(session.PendingVideoFile(), folder + "movie0.wmv");
  EXPECT_EQ(session.PendingAudioFile(), folder + "movie1.wmv");
  EXPECT_EQ(writers.log,
            (Log{"Create 16 movie0.wmv 100", "Encoder created", "Audio 1", "Video 0",
                 "Configure " + folder + "movie1.wmv", "Start", "movie0.wmv AddFrame"}))
      << "frames go to the WMV writer, not to the encoder";

  // The writers would have written these files.
  ASSERT_TRUE(testing::WriteWholeFile(folder + "movie0.wmv", "video"));
  ASSERT_TRUE(testing::WriteWholeFile(folder + "movie1.wmv", "sound"));
  writers.log.clear();
  session.EndClip();
  session.WaitForMerges();
  EXPECT_EQ(writers.log, (Log{"movie0.wmv Close", "Encoder destroyed",
                              "Merge movie0.wmv movie1.wmv movie2.wmv"}));
  EXPECT_FALSE(std::filesystem::exists(folder + "movie0.wmv"));
  EXPECT_FALSE(std::filesystem::exists(folder + "movie1.wmv"));
  EXPECT_TRUE(session.PendingVideoFile().empty());
  EXPECT_TRUE(session.PendingAudioFile().empty());
  EXPECT_FALSE(session.ClipOpen());

  // A failed merge leaves both files where they are.
  writers.mergeResult = false;
  Shoot(64, 64);
  EXPECT_EQ(session.PendingVideoFile(), folder + "movie3.wmv");
  ASSERT_TRUE(testing::WriteWholeFile(folder + "movie3.wmv", "video"));
  ASSERT_TRUE(testing::WriteWholeFile(folder + "movie4.wmv", "sound"));
  session.EndClip();
  session.WaitForMerges();
  EXPECT_TRUE(Has("Merge movie3.wmv movie4.wmv movie5.wmv"));
  EXPECT_TRUE(std::filesystem::exists(folder + "movie3.wmv"));
  EXPECT_TRUE(std::filesystem::exists(folder + "movie4.wmv"));
  EXPECT_TRUE(session.PendingAudioFile().empty());
}

// Posts from any thread; the test waits for a number of messages.
class WaitablePoster : public MessagePoster {
 public:
  void PostMessage(std::uint32_t message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(message);
    posted_.notify_all();
  }
  std::vector<std::uint32_t> WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    posted_.wait(lock, [&] { return messages_.size() >= count; });
    return messages_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::vector<std::uint32_t> messages_;
};

struct CountingCursor : WaitCursor {
  void Show() override { ++shown; }
  void Restore() override { ++restored; }
  int shown = 0, restored = 0;
};

// The merge of a WMV clip's sound runs beside the caller: EndClip returns
// while it runs, with the wait cursor shown and both source files kept. Its
// end is posted; only when the caller finishes it are the sources deleted
// (after success), the failure it reported shown (on the caller's thread)
// and the cursor restored.
TEST_F(ClipSessionTest, SoundMergeRunsBesideTheCallerAndEndsThroughAPostedMessage) {
  WaitablePoster poster;
  CountingCursor cursor;
  session.SetMergeServices(&cursor, &poster);
  settings.SetOutputType(OutputTypes::WmvV80_384Video);
  settings.SetRecordSound(true);
  const std::string folder = settings.ProjectFolder() + "/";
  namespace fs = std::filesystem;

  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  writers.duringMerge = [released] { released.wait(); };
  Shoot(64, 64);
  ASSERT_TRUE(testing::WriteWholeFile(folder + "movie0.wmv", "video"));
  ASSERT_TRUE(testing::WriteWholeFile(folder + "movie1.wmv", "sound"));
  session.EndClip();  // returns with the merge still held by the test
  EXPECT_TRUE(session.Merging());
  EXPECT_EQ(cursor.shown, 1);
  EXPECT_EQ(cursor.restored, 0);
  EXPECT_TRUE(fs::exists(folder + "movie0.wmv") && fs::exists(folder + "movie1.wmv"));
  session.SoundTrackMerged();  // a message that comes early finishes nothing
  EXPECT_TRUE(session.Merging());
  release.set_value();
  EXPECT_EQ(poster.WaitFor(1), (std::vector<std::uint32_t>{MainWindowMessages::SoundTrackMerged}));
  EXPECT_TRUE(fs::exists(folder + "movie0.wmv")) << "the caller deletes, once it finishes";
  session.SoundTrackMerged();
  EXPECT_FALSE(session.Merging());
  EXPECT_EQ(cursor.restored, 1);
  EXPECT_FALSE(fs::exists(folder + "movie0.wmv"));
  EXPECT_FALSE(fs::exists(folder + "movie1.wmv"));

  // A refused merge keeps both files; its reason is told on this thread.
  writers.duringMerge = nullptr;
  writers.mergeResult = false;
  writers.mergeFailure = WriterFailure::MergeRefused;
  writers.mergeReason = -5;
  Shoot(64, 64);
  ASSERT_TRUE(testing::WriteWholeFile(session.PendingVideoFile(), "video"));
  const std::string video = session.PendingVideoFile(), sound = session.PendingAudioFile();
  ASSERT_TRUE(testing::WriteWholeFile(sound, "sound"));
  session.EndClip();
  poster.WaitFor(2);
  EXPECT_TRUE(writers.failures.told.empty()) << "nothing is shown from the merge's thread";
  session.SoundTrackMerged();
  ASSERT_EQ(writers.failures.told.size(), 1u);
  EXPECT_EQ(writers.failures.told[0].failure, WriterFailure::MergeRefused);
  EXPECT_EQ(writers.failures.told[0].reason, -5);
  EXPECT_EQ(writers.failures.told[0].thread, std::this_thread::get_id());
  EXPECT_TRUE(fs::exists(video) && fs::exists(sound));
  EXPECT_EQ(cursor.shown, 2);
  EXPECT_EQ(cursor.restored, 2);
}

// "Record Sound as Well" beside a WMV writer that failed: no sound session
// for a writer that failed while being made, and no merge (nor a sound file
// left on its own) for one whose first frame failed. Either way the user
// sees the one pause box of the failed append.
TEST_F(ClipSessionTest, NoSoundIsKeptBesideAWmvWriterThatFailed) {
  settings.SetOutputType(OutputTypes::WmvV80_384Video);
  settings.SetRecordSound(true);
  writers.encodersWriteFiles = true;
  writers.addResult = kWriterFail;
  const std::string folder = settings.ProjectFolder() + "/";

  writers.startResult = kWriterFail;  // e.g. the Windows Media component is missing
  Shoot(64, 64);
  EXPECT_FALSE(Has("Encoder created")) << "no sound for a writer that failed at once";
  EXPECT_EQ(host.reports, (Log{"AVI file unable to append frame. Pausing recorder."}));
  EXPECT_FALSE(session.Exists());

  host = FakeClipHost{};
  writers.log.clear();
  writers.startResult = kWriterOk;  // made, but its first frame fails (no file)
  Shoot(64, 64);
  EXPECT_TRUE(Has("Encoder created"));
  for (const std::string& entry : writers.log) {
    EXPECT_NE(entry.rfind("Merge", 0), 0u) << "no pictures to join: " << entry;
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder)) << "no sound-only file is left";
  EXPECT_EQ(host.reports, (Log{"AVI file unable to append frame. Pausing recorder."}));
  EXPECT_TRUE(session.PendingAudioFile().empty());

  // A clip whose frames were written still merges its sound as always.
  writers.addResult = kWriterOk;
  host.paused = false;
  Shoot(64, 64);
  const std::string video = session.PendingVideoFile();
  ASSERT_TRUE(testing::WriteWholeFile(video, "video"));
  session.EndClip();
  session.WaitForMerges();
  EXPECT_TRUE(Has("Merge movie3.wmv movie4.wmv movie5.wmv"));
}

TEST_F(ClipSessionTest, AviAndQuickTimeClipsNeverRecordSound) {
  settings.SetRecordSound(true);
  for (std::int32_t type : {OutputTypes::AviMpg4, OutputTypes::QuickTimeMov}) {
    settings.SetOutputType(type);
    Shoot(64, 64);
    EXPECT_FALSE(session.Exists());
    EXPECT_TRUE(session.PendingAudioFile().empty());
  }
  EXPECT_FALSE(Has("Encoder created"));
}

TEST_F(ClipSessionTest, EndClipWithNothingOpenOnlyRefreshesAndClearsTheMouse) {
  session.EndClip();
  EXPECT_EQ(host.log, (Log{"Title", "ClearMouse"}));
  EXPECT_TRUE(writers.log.empty());

  Shoot(64, 64);
  host.log.clear();
  session.EndClip();
  EXPECT_EQ(host.log, (Log{"Title", "ClearMouse"}));
  EXPECT_EQ(writers.log.back(), "movie0.avi Close");
  EXPECT_FALSE(session.ClipOpen());
  EXPECT_FALSE(session.ClipStarted());
  EXPECT_EQ(session.MovieWidth(), 0);
  EXPECT_EQ(session.MovieHeight(), 0);
}

}  // namespace
}  // namespace framory

namespace framory {
namespace {

TEST_F(ClipSessionTest, RepeatsGoToTheWriterOnlyOnceTheClipHasAFrame) {
  EXPECT_FALSE(session.RepeatMovieFrame()) << "no clip";
  Shoot(64, 48);
  ASSERT_TRUE(session.RepeatMovieFrame());
  EXPECT_EQ(writers.log.back(), "movie0.avi RepeatFrame");

  // A new output type must start its own clip with a real frame.
  settings.SetOutputType(OutputTypes::AviDivx);
  EXPECT_FALSE(session.RepeatMovieFrame());
  EXPECT_EQ(writers.log.back(), "movie0.avi RepeatFrame");

  // After the clip ended, the next one starts with a real frame as well.
  settings.SetOutputType(OutputTypes::AviMpg4);
  session.EndClip();
  EXPECT_FALSE(session.RepeatMovieFrame());
  Shoot(64, 48);
  EXPECT_TRUE(session.RepeatMovieFrame());
}

TEST_F(ClipSessionTest, AWriterWithoutRepeatsGetsFullFramesAndAFailedRepeatPauses) {
  writers.repeatResult = kWriterRepeatUnsupported;
  Shoot(64, 48);
  EXPECT_FALSE(session.RepeatMovieFrame()) << "the caller grabs and adds the frame instead";
  session.EndClip();

  writers.repeatResult = kWriterFail;
  Shoot(64, 48);
  host.log.clear();
  EXPECT_TRUE(session.RepeatMovieFrame()) << "the shot was handled, by failing";
  EXPECT_EQ(host.log, (Log{"TogglePause", "Title", "ClearMouse",
                           "Report AVI file unable to append frame. Pausing recorder."}));
  EXPECT_FALSE(session.ClipOpen()) << "a failed repeat ends the clip like a failed frame";
}

}  // namespace
}  // namespace framory
