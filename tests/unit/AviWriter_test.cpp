// The AVI writer against a recording AVI file library: what it asks the
// library for (stream header, codec options, format, samples), in which
// order it releases things, and how each failure ends.
#include "writers/AviWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/MovieFrame.h"
#include "base/Settings.h"
#include "capture/WriterFailureBoxes.h"
#include "support/ClipSessionFakes.h"
#include "support/RecorderFakes.h"
#include "writers/OutputFormats.h"

namespace framory {
namespace {

using testing::FakeBoxes;
using testing::TestPicture;
using Log = std::vector<std::string>;

struct Written {
  std::int32_t start, samples, bytes;
  std::uint32_t flags;
  std::vector<std::uint32_t> pixels;
};

class FakeStream : public AviStream {
 public:
  FakeStream(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
  ~FakeStream() override { log_.push_back("release " + name_); }
  std::int32_t SetFormat(std::int32_t position, const AviBitmapHeader& f) override {
    log_.push_back("format " + name_);
    formatPosition = position;
    format = f;
    return formatResult;
  }
  std::int32_t Write(std::int32_t start, std::int32_t samples, const void* data, std::int32_t bytes,
                     std::uint32_t flags) override {
    Written w{start, samples, bytes, flags, std::vector<std::uint32_t>(std::size_t(bytes) / 4)};
    std::memcpy(w.pixels.data(), data, std::size_t(bytes));
    writes.push_back(std::move(w));
    return writeResults.empty() ? AviResult::Ok : writeResults[writes.size() - 1];
  }
  std::int32_t Finish() override {
    log_.push_back("finish " + name_);
    return finishResult;
  }

  std::int32_t formatResult = AviResult::Ok;
  std::int32_t finishResult = AviResult::Ok;
  std::vector<std::int32_t> writeResults;  // one a write when given
  std::int32_t formatPosition = -1;
  AviBitmapHeader format;
  std::vector<Written> writes;

 private:
  Log& log_;
  std::string name_;
};

struct Failures {
  bool open = false, create = false, compress = false, format = false;
};

class FakeFile : public AviFile {
 public:
  FakeFile(Log& log, Failures& fail, FakeStream*& raw, AviStreamInfo& info)
      : log_(log), fail_(fail), raw_(raw), info_(info) {}
  ~FakeFile() override { log_.push_back("release file"); }
  std::int32_t CreateStream(std::unique_ptr<AviStream>* stream, const AviStreamInfo& i) override {
    log_.push_back("create stream");
    info_ = i;
    if (fail_.create) return AviResult::Memory;
    auto s = std::make_unique<FakeStream>(log_, "raw");
    if (fail_.format) s->formatResult = AviResult::BadFormat;
    raw_ = s.get();
    *stream = std::move(s);
    return AviResult::Ok;
  }

 private:
  Log& log_;
  Failures& fail_;
  FakeStream*& raw_;
  AviStreamInfo& info_;
};

class FakeLibrary : public AviFileLibrary {
 public:
  std::int32_t OpenFile(std::unique_ptr<AviFile>* file, const std::string& p,
                        std::uint32_t m) override {
    log.push_back("open");
    path = p;
    mode = m;
    if (fail.open) return AviResult::FileOpen;
    *file = std::make_unique<FakeFile>(log, fail, raw, info);
    return AviResult::Ok;
  }
  std::int32_t MakeCompressedStream(std::unique_ptr<AviStream>* compressed, AviStream& source,
                                    const AviCompressOptions& o) override {
    log.push_back("compress");
    EXPECT_EQ(&source, raw);
    options = o;
    if (fail.compress) return AviResult::NoCompressor;
    auto s = std::make_unique<FakeStream>(log, "codec");
    if (fail.format) s->formatResult = AviResult::BadFormat;
    codec = s.get();
    *compressed = std::move(s);
    return AviResult::Ok;
  }
  const AviStreamInfo& Info() const { return info; }

  Log log;
  Failures fail;
  std::string path;
  std::uint32_t mode = 0;
  AviCompressOptions options;
  AviStreamInfo info;
  FakeStream* raw = nullptr;
  FakeStream* codec = nullptr;
};

MovieFrame FrameOf(const TestPicture& p) {
  MovieFrame m;
  EXPECT_TRUE(m.Create(p.frame.Width, p.frame.Height));
  EXPECT_TRUE(m.Compose(p.frame));
  return m;
}

struct AviWriterTest : ::testing::Test {
  std::unique_ptr<AviWriter> Make(std::int32_t type, std::int32_t period = 100,
                                  const std::string& path = "/tmp/movie0.avi") {
    auto w = std::make_unique<AviWriter>(library, reports, path, 320, 200);
    w->SetFramePeriod(period);
    w->SetCodec(FindOutputFormat(type)->Codec);
    return w;
  }
  FakeLibrary library;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
};

TEST_F(AviWriterTest, FirstFrameOpensTheFileWithTheStreamHeaderAndCodec) {
  auto w = Make(OutputTypes::AviDivx);
  EXPECT_TRUE(library.log.empty()) << "nothing is opened before the first frame";
  EXPECT_EQ(w->State(), AviWriter::kReady);
  const TestPicture p = TestPicture::Pattern(400, 100, 1);
  EXPECT_EQ(w->AddFrame(FrameOf(p)), kWriterOk);
  EXPECT_EQ(w->State(), AviWriter::kWriting);
  EXPECT_EQ(library.log, (Log{"open", "create stream", "compress", "format codec"}));
  EXPECT_EQ(library.path, "/tmp/movie0.avi");
  EXPECT_EQ(library.mode, 0x1001u);

  const AviStreamInfo& info = library.Info();
  EXPECT_EQ(info.Type, 0x73646976u);
  EXPECT_EQ(info.Handler, 0x58564944u) << "DIVX";
  EXPECT_EQ(info.Scale, 100u);
  EXPECT_EQ(info.Rate, 1000u);
  EXPECT_EQ(info.Quality, -1);
  EXPECT_EQ(info.SuggestedBufferSize, 400u * 200u * 4u) << "larger of screen and frame each way";
  EXPECT_EQ(info.Frame.Right, 400);
  EXPECT_EQ(info.Frame.Bottom, 100);
  EXPECT_EQ(info.Name, "Video Stream");

  EXPECT_EQ(library.options.Type, 0x73646976u);
  EXPECT_EQ(library.options.Handler, 0x58564944u);
  EXPECT_EQ(library.options.KeyFrameEvery, 15u);
  EXPECT_EQ(library.options.Flags, 0x0Cu);
  EXPECT_EQ(library.options.Quality, 0u);
  EXPECT_EQ(library.options.BytesPerSecond, 0u);

  const AviBitmapHeader& f = library.codec->format;
  EXPECT_EQ(library.codec->formatPosition, 0);
  EXPECT_EQ(f.Size, 40u);
  EXPECT_EQ(f.Width, 400);
  EXPECT_EQ(f.Height, -100) << "the codec stream reads the clip's top-down rows in place";
  EXPECT_EQ(f.Planes, 1);
  EXPECT_EQ(f.BitCount, 32);
  EXPECT_EQ(f.Compression, 0u);
  EXPECT_EQ(f.SizeImage, 400u * 100u * 4u);
}

TEST_F(AviWriterTest, HandlerCodeIsTheLastFlagSetAndPeriodZeroMeansOnePerSecond) {
  AviWriter w(library, reports, "/tmp/m.avi", 0, 0);
  EXPECT_EQ(w.HandlerCode(), FourCC::Mpg4);
  w.SetCodec(FourCC::Divx);
  w.SetCodec(FourCC::Wmv3);
  EXPECT_EQ(w.HandlerCode(), FourCC::Wmv3);
  w.SetCodec(FourCC::Xvid);
  EXPECT_EQ(w.HandlerCode(), FourCC::Xvid);
  w.SetCodec(FindOutputFormat(OutputTypes::AviWmv3)->Codec);
  EXPECT_EQ(w.HandlerCode(), FourCC::Wmv3);
  w.SetCodec(FindOutputFormat(OutputTypes::AviXvid)->Codec);
  EXPECT_EQ(w.HandlerCode(), FourCC::Xvid);
  w.SetCodec(FindOutputFormat(OutputTypes::AviMpg4)->Codec);
  EXPECT_EQ(w.HandlerCode(), FourCC::Mpg4);

  w.SetFramePeriod(0);
  EXPECT_EQ(w.AddFrame(FrameOf(TestPicture::Pattern(8, 8, 0))), kWriterOk);
  EXPECT_EQ(library.Info().Scale, 1u);
  EXPECT_EQ(library.Info().Rate, 1u);
  EXPECT_EQ(library.Info().SuggestedBufferSize, 8u * 8u * 4u) << "no screen size given";
}

TEST_F(AviWriterTest, UncompressedFramesGoBottomUpToTheStreamItself) {
  auto w = Make(OutputTypes::AviUncompressed, 40);
  const TestPicture a = TestPicture::Pattern(6, 4, 1);
  const TestPicture b = TestPicture::Pattern(6, 4, 2);
  EXPECT_EQ(w->AddFrame(FrameOf(a)), kWriterOk);
  EXPECT_EQ(w->AddFrame(FrameOf(b)), kWriterOk);
  EXPECT_EQ(library.log, (Log{"open", "create stream", "format raw"}));
  EXPECT_EQ(library.Info().Handler, FourCC::Mpg4) << "the header still names MPG4";
  EXPECT_EQ(library.Info().Scale, 40u);
  ASSERT_EQ(library.raw->writes.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const Written& wr = library.raw->writes[i];
    const TestPicture& p = i == 0 ? a : b;
    EXPECT_EQ(wr.start, i);
    EXPECT_EQ(wr.samples, 1);
    EXPECT_EQ(wr.bytes, 6 * 4 * 4);
    EXPECT_EQ(wr.flags, 0u);
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(wr.pixels[(3 - y) * 6 + x], p.pixels[y * 6 + x] | 0xFF000000u)
            << x << "," << y << ": the colour, with an opaque fourth byte";
      }
    }
  }
  EXPECT_EQ(w->FrameIndex(), 2);
}

TEST_F(AviWriterTest, CloseReleasesCodecStreamThenStreamThenFile) {
  auto w = Make(OutputTypes::AviXvid);
  ASSERT_EQ(w->AddFrame(FrameOf(TestPicture::Pattern(8, 8, 0))), kWriterOk);
  library.log.clear();
  w->Close();
  EXPECT_EQ(library.log, (Log{"finish codec", "release codec", "release raw", "release file"}))
      << "the stream that carries the frames finishes first";
  EXPECT_EQ(w->State(), AviWriter::kClosed);
  w->Close();
  w.reset();
  EXPECT_EQ(library.log.size(), 4u) << "closing again releases nothing twice";
}

TEST_F(AviWriterTest, PlacedFramesGoToTheirPositionsAndCloseTellsOfLateFailures) {
  auto w = Make(OutputTypes::AviUncompressed);
  const MovieFrame frame = FrameOf(TestPicture::Pattern(8, 8, 0));
  ASSERT_EQ(w->AddFrameAt(frame, 0), kWriterOk);
  EXPECT_EQ(w->AddFrameAt(frame, 7), kWriterOk);
  EXPECT_EQ(w->AddFrameAt(frame, 3), kWriterOk) << "a position already passed becomes the next";
  EXPECT_EQ(w->AddFrame(frame), kWriterOk);
  ASSERT_EQ(library.raw->writes.size(), 4u);
  EXPECT_EQ(library.raw->writes[1].start, 7);
  EXPECT_EQ(library.raw->writes[2].start, 8);
  EXPECT_EQ(library.raw->writes[3].start, 9);
  EXPECT_EQ(w->CloseResult(), kWriterOk);

  // A frame the library's worker lost after its write returned: the close
  // says so.
  library.raw->finishResult = AviResult::FileWrite;
  w->Close();
  EXPECT_EQ(w->CloseResult(), kWriterFail);
  EXPECT_EQ(library.log.back(), "release file");
}

TEST_F(AviWriterTest, WriterWithoutFramesOpensNothing) {
  Make(OutputTypes::AviMpg4).reset();
  EXPECT_TRUE(library.log.empty());
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(AviWriterTest, EveryOpenFailureShowsTheBoxAndClosesForGood) {
  struct Case {
    const char* what;
    Failures fail;
    Log released;
  };
  const Case cases[] = {
      {"file", {.open = true}, {}},
      {"stream", {.create = true}, {"release file"}},
      {"codec", {.compress = true}, {"release raw", "release file"}},
      {"format", {.format = true}, {"release codec", "release raw", "release file"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    library = FakeLibrary{};
    library.fail = c.fail;
    boxes.shown.clear();
    auto w = Make(OutputTypes::AviMpg4);
    EXPECT_EQ(w->AddFrame(FrameOf(TestPicture::Pattern(8, 8, 0))), kWriterFail);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Error Occured While Rendering the Movie");
    EXPECT_EQ(boxes.shown[0].caption, "Error");
    EXPECT_EQ(boxes.shown[0].flags, MessageBoxFlags::IconError);
    EXPECT_EQ(w->State(), AviWriter::kClosed);
    Log tail(library.log.end() - std::ptrdiff_t(c.released.size()), library.log.end());
    EXPECT_EQ(tail, c.released) << "what was made is released before the box";

    const std::size_t calls = library.log.size();
    EXPECT_EQ(w->AddFrame(FrameOf(TestPicture::Pattern(8, 8, 1))), kWriterFail);
    EXPECT_EQ(boxes.shown.size(), 1u) << "no second box";
    EXPECT_EQ(library.log.size(), calls) << "no second attempt";
  }
}

TEST_F(AviWriterTest, OverlongPathIsRefusedLikeAFileThatCannotBeCreated) {
  auto w = Make(OutputTypes::AviMpg4, 100, "/tmp/" + std::string(255, 'a'));
  EXPECT_EQ(w->AddFrame(FrameOf(TestPicture::Pattern(8, 8, 0))), kWriterFail);
  EXPECT_EQ(boxes.shown.size(), 1u);
  EXPECT_TRUE(library.log.empty()) << "the library is never asked";
}

TEST_F(AviWriterTest, FailedWriteKeepsWritingAtTheNextIndex) {
  auto w = Make(OutputTypes::AviDivx);
  const MovieFrame frame = FrameOf(TestPicture::Pattern(8, 8, 0));
  ASSERT_EQ(w->AddFrame(frame), kWriterOk);
  library.codec->writeResults = {AviResult::Ok, AviResult::FileWrite, AviResult::Ok};
  EXPECT_EQ(w->AddFrame(frame), kWriterFail);
  EXPECT_EQ(w->State(), AviWriter::kWriting);
  EXPECT_EQ(w->AddFrame(frame), kWriterOk);
  ASSERT_EQ(library.codec->writes.size(), 3u);
  EXPECT_EQ(library.codec->writes[1].start, 1);
  EXPECT_EQ(library.codec->writes[2].start, 2);
  EXPECT_TRUE(boxes.shown.empty()) << "write failures are reported by the clip session";

  // A frame of another size than the stream was set up for is refused.
  EXPECT_EQ(w->AddFrame(FrameOf(TestPicture::Pattern(400, 300, 0))), kWriterFail);
  EXPECT_EQ(library.codec->writes.size(), 3u);
}

}  // namespace
}  // namespace framory
