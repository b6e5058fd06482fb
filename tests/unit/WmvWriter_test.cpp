// The WMV writer against a recording Windows Media library: the calls it
// makes and their order, the video format it gives the input (bit rate,
// average frame time), the sample times and bytes, and how each failure ends.
// What the files look like is checked with the real library in
// tests/media/WmvFiles_test.cpp.
#include "writers/WmvWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/MovieFrame.h"
#include "capture/WriterFailureBoxes.h"
#include "support/RecorderFakes.h"
#include "writers/WidePath.h"

namespace framory {
namespace {

using testing::FakeBoxes;
using Log = std::vector<std::string>;

struct Faults {
  bool noProfileVersion = false;
  bool noVideoInput = false;
  int failWriteAt = -1;  // index of the sample whose write fails
};

struct Seen {
  Log log;
  WmMediaType type;
  WmVideoInfoHeader info;
  std::u16string path;
  std::vector<std::uint64_t> times;
  std::vector<std::vector<std::uint32_t>> samples;
};

class FakeProps : public WmMediaProps {
 public:
  FakeProps(Seen& seen, WmGuid type) : seen_(seen), type_(type) {}
  std::int32_t GetType(WmGuid* type) const override {
    *type = type_;
    return WmResult::Ok;
  }
  std::int32_t SetMediaType(const WmMediaType& type) override {
    seen_.log.push_back("SetMediaType");
    seen_.type = type;
    std::memcpy(&seen_.info, type.Format, sizeof seen_.info);
    return WmResult::Ok;
  }

 private:
  Seen& seen_;
  WmGuid type_;
};

class FakeBuffer : public WmBuffer {
 public:
  explicit FakeBuffer(std::uint32_t bytes) : bytes_(bytes) {}
  std::int32_t GetBufferAndLength(std::uint8_t** buffer, std::uint32_t* length) override {
    *buffer = bytes_.data();
    *length = static_cast<std::uint32_t>(bytes_.size());
    return WmResult::Ok;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

class FakeManager : public WmProfileManager, public WmProfileManager2 {
 public:
  FakeManager(Seen& seen, const Faults& faults) : seen_(seen), faults_(faults) {}
  std::int32_t QueryInterface(const WmGuid& iid, WmProfileManager2** manager2) override {
    seen_.log.push_back("QueryInterface");
    *manager2 = iid == WmGuids::IidProfileManager2 ? this : nullptr;
    return *manager2 != nullptr ? WmResult::Ok : WmResult::NoInterface;
  }
  std::int32_t LoadProfileByID(const WmGuid& id, std::unique_ptr<WmProfile>* profile) override {
    seen_.log.push_back(id == WmGuids::ProfileV80_56Video ? "Load 56" : "Load other");
    *profile = std::make_unique<Profile>();
    return WmResult::Ok;
  }
  std::int32_t SetSystemProfileVersion(std::uint32_t version) override {
    seen_.log.push_back("SetSystemProfileVersion " + std::to_string(version));
    return faults_.noProfileVersion ? WmResult::InvalidArg : WmResult::Ok;
  }
  std::int32_t GetSystemProfileVersion(std::uint32_t* version) const override {
    *version = kWmtVersion8;
    return WmResult::Ok;
  }

 private:
  struct Profile : WmProfile {
    std::int32_t GetStreamCount(std::uint32_t* count) const override {
      *count = 2;
      return WmResult::Ok;
    }
  };
  Seen& seen_;
  const Faults& faults_;
};

class FakeWriter : public WmWriter {
 public:
  FakeWriter(Seen& seen, const Faults& faults) : seen_(seen), faults_(faults) {}
  ~FakeWriter() override { seen_.log.push_back("Release writer"); }
  std::int32_t SetProfile(const WmProfile&) override {
    seen_.log.push_back("SetProfile");
    return WmResult::Ok;
  }
  std::int32_t SetOutputFilename(const std::u16string& path) override {
    seen_.log.push_back("SetOutputFilename");
    seen_.path = path;
    return WmResult::Ok;
  }
  std::int32_t GetInputCount(std::uint32_t* count) override {
    *count = 3;
    return WmResult::Ok;
  }
  std::int32_t GetInputProps(std::uint32_t input, std::unique_ptr<WmMediaProps>* props) override {
    // Inputs: 0 audio, 1 video (or a second audio), 2 video.
    const WmGuid types[] = {
        WmGuids::MediaTypeAudio,
        faults_.noVideoInput ? WmGuids::MediaTypeAudio : WmGuids::MediaTypeVideo,
        faults_.noVideoInput ? WmGuids::Null : WmGuids::MediaTypeVideo};
    *props = std::make_unique<FakeProps>(seen_, types[input]);
    return WmResult::Ok;
  }
  std::int32_t SetInputProps(std::uint32_t input, const WmMediaProps&) override {
    seen_.log.push_back("SetInputProps " + std::to_string(input));
    return WmResult::Ok;
  }
  std::int32_t BeginWriting() override {
    seen_.log.push_back("BeginWriting");
    return WmResult::Ok;
  }
  std::int32_t AllocateSample(std::uint32_t bytes, std::shared_ptr<WmBuffer>* sample) override {
    *sample = std::make_shared<FakeBuffer>(bytes);
    return WmResult::Ok;
  }
  std::int32_t WriteSample(std::uint32_t input, std::uint64_t time, std::uint32_t,
                           const std::shared_ptr<WmBuffer>& sample) override {
    seen_.log.push_back("WriteSample " + std::to_string(input));
    std::uint8_t* bytes = nullptr;
    std::uint32_t length = 0;
    sample->GetBufferAndLength(&bytes, &length);
    std::vector<std::uint32_t> pixels(length / 4);
    std::memcpy(pixels.data(), bytes, length);
    seen_.samples.push_back(std::move(pixels));
    seen_.times.push_back(time);
    return static_cast<int>(seen_.times.size()) - 1 == faults_.failWriteAt ? WmResult::WriteFault
                                                                           : WmResult::Ok;
  }
  std::int32_t EndWriting() override {
    seen_.log.push_back("EndWriting");
    return WmResult::Ok;
  }

 private:
  Seen& seen_;
  const Faults& faults_;
};

class FakeLibrary : public WmFormatLibrary {
 public:
  std::int32_t CreateProfileManager(std::unique_ptr<WmProfileManager>* manager) override {
    seen.log.push_back("CreateProfileManager");
    *manager = std::make_unique<FakeManager>(seen, faults);
    return WmResult::Ok;
  }
  std::int32_t CreateWriter(void* certificate, std::unique_ptr<WmWriter>* writer) override {
    seen.log.push_back(certificate == nullptr ? "CreateWriter" : "CreateWriter with certificate");
    *writer = std::make_unique<FakeWriter>(seen, faults);
    return WmResult::Ok;
  }
  Seen seen;
  Faults faults;
};

// A movie frame whose rows each hold their own number.
MovieFrame NumberedRows(std::int32_t width, std::int32_t height) {
  MovieFrame frame;
  frame.Create(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) frame.Row(y)[x] = static_cast<std::uint32_t>(y);
  }
  return frame;
}

TEST(WmvWriter, PreparesUpToTheFileNameThenBeginsWithTheFirstFrame) {
  FakeLibrary library;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  WmvWriter writer(library, reports, "/tmp/movie0.wmv", WmGuids::ProfileV80_56Video, 1024, 768);
  writer.SetFrameRate(100);
  EXPECT_EQ(writer.State(), WmvWriter::kReady);
  EXPECT_EQ(library.seen.path, u"/tmp/movie0.wmv");
  const MovieFrame frame = NumberedRows(1024, 768);
  EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
  EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
  EXPECT_EQ(writer.State(), WmvWriter::kWriting);
  writer.Close();
  writer.Close();
  EXPECT_EQ(
      library.seen.log,
      (Log{"CreateProfileManager", "QueryInterface", "SetSystemProfileVersion 524288", "Load 56",
           "CreateWriter", "SetProfile", "SetOutputFilename", "SetMediaType", "SetInputProps 1",
           "BeginWriting", "WriteSample 1", "WriteSample 1", "EndWriting", "Release writer"}))
      << "the first video input is used; the file is ended once";
  EXPECT_TRUE(boxes.shown.empty());

  const WmMediaType& type = library.seen.type;
  EXPECT_TRUE(type.MajorType == WmGuids::MediaTypeVideo);
  EXPECT_TRUE(type.SubType == WmGuids::SubtypeRgb32);
  EXPECT_TRUE(type.FormatType == WmGuids::FormatVideoInfo);
  EXPECT_EQ(type.FormatBytes, 88u);
  EXPECT_FALSE(type.FixedSizeSamples);
  EXPECT_FALSE(type.TemporalCompression);
  const WmVideoInfoHeader& info = library.seen.info;
  EXPECT_EQ(info.BitRate, 251658240u) << "1024 x 768 x 32 bits x 10 frames a second";
  EXPECT_EQ(info.AvgTimePerFrame, 1000000);
  EXPECT_EQ(info.Source.Right, 1024);
  EXPECT_EQ(info.Target.Bottom, 768);
  EXPECT_EQ(info.BmiHeader.Width, 1024);
  EXPECT_EQ(info.BmiHeader.Height, 768) << "rows bottom-up";
  EXPECT_EQ(info.BmiHeader.BitCount, 32);
  EXPECT_EQ(info.BmiHeader.Compression, kWmBiRgb);
  EXPECT_EQ(info.BmiHeader.SizeImage, 1024u * 768u * 4u);

  ASSERT_EQ(library.seen.samples.size(), 2u);
  ASSERT_EQ(library.seen.samples[0].size(), 1024u * 768u);
  EXPECT_EQ(library.seen.samples[0].front(), 767u) << "the sample starts with the bottom row";
  EXPECT_EQ(library.seen.samples[0].back(), 0u);
}

TEST(WmvWriter, SampleTimesAndFrameTimeFollowTheRate) {
  struct Case {
    std::int32_t period;
    std::int64_t avgTimePerFrame;
    std::vector<std::uint64_t> times;  // 100-ns units
  };
  // At 1000 / 30 frames a second the stamps fall just short of the
  // multiples of 30 ms, and never run ahead of them.
  for (const Case& c : {Case{30, 299999, {0, 290000, 590000, 890000, 1190000}},
                        Case{200, 2000000, {0, 2000000, 4000000, 6000000, 8000000}},
                        Case{0, 5000000, {0, 5000000, 10000000, 15000000, 20000000}}}) {
    SCOPED_TRACE("period " + std::to_string(c.period));
    FakeLibrary library;
    FakeBoxes boxes;
    WriterFailureBoxes reports{boxes};
    WmvWriter writer(library, reports, "/tmp/m.wmv", WmGuids::ProfileV80_384Video, 0, 0);
    writer.SetFrameRate(c.period);  // 0 keeps 2 frames a second
    const MovieFrame frame = NumberedRows(8, 4);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(writer.AddFrame(frame), kWriterOk);
    EXPECT_EQ(library.seen.info.AvgTimePerFrame, c.avgTimePerFrame);
    EXPECT_EQ(library.seen.times, c.times);
  }
  for (std::int32_t n = 0; n < 100000; n += 7) {
    EXPECT_LE(WmvWriter::SampleTimeOf(n, 1000.0 / 30), std::int64_t{n} * 30) << n;
  }
}

// File names are bytes: a folder made under a Latin-1 locale, or any other
// name that is not UTF-8, reaches the library and comes back byte for byte.
TEST(WmvWriter, FileNamesThatAreNotUtf8ReachTheLibraryByteForByte) {
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  const std::vector<std::string> names = {
      "/tmp/caf\xe9/movie0.wmv",                  // Latin-1
      "/tmp/\xff\xfe.wmv",                        // bytes that never start UTF-8
      "/tmp/\xc3\xa9t\xe9/\xf0\x9f\x8e\xa5.wmv",  // UTF-8 and Latin-1 mixed, a 4-byte character
      "/tmp/\xed\xa0\x80\xed\xb2\x80.wmv",        // surrogates written as UTF-8
      "/tmp/\xc0\xaf\xe0\x80\xaf.wmv",            // overlong forms of "/"
      "/tmp/cut\xe2\x82",                         // a sequence cut off at the end
      "/tmp/\xdc\x80.wmv",                        // UTF-8 for U+0700, next to the carried range
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    FakeLibrary library;
    WmvWriter writer(library, reports, name, WmGuids::ProfileV80_384Video, 0, 0);
    EXPECT_EQ(writer.State(), WmvWriter::kReady);
    EXPECT_EQ(writer.StartResult(), kWriterOk);
    std::string back;
    ASSERT_TRUE(WideToPath(library.seen.path, &back));
    EXPECT_EQ(back, name);
  }
  // Well-formed UTF-8 arrives as plain UTF-16, as any library expects it.
  EXPECT_EQ(PathToWide("/tmp/caf\xc3\xa9/\xf0\x9f\x8e\xa5"), u"/tmp/caf\u00e9/\U0001F3A5");
  std::string refused;
  EXPECT_FALSE(WideToPath(u"/tmp/\xDC10", &refused)) << "a surrogate no byte stands for";
  EXPECT_TRUE(boxes.shown.empty());
}

TEST(WmvWriter, FailuresLeaveTheWriterClosed) {
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  const MovieFrame frame = NumberedRows(8, 4);
  {
    FakeLibrary library;
    library.faults.noProfileVersion = true;
    WmvWriter writer(library, reports, "/tmp/m.wmv", WmGuids::ProfileV80_384Video, 0, 0);
    EXPECT_EQ(writer.State(), WmvWriter::kClosed);
    EXPECT_EQ(library.seen.log.back(), "SetSystemProfileVersion 524288") << "nothing after it";
  }
  {
    FakeLibrary library;
    library.faults.noVideoInput = true;
    WmvWriter writer(library, reports, "/tmp/m.wmv", WmGuids::ProfileV80_384Video, 0, 0);
    EXPECT_EQ(writer.State(), WmvWriter::kClosed) << "a profile without video";
    EXPECT_EQ(writer.AddFrame(frame), kWriterFail);
  }
  {
    FakeLibrary library;
    WmvWriter writer(library, reports, "/" + std::string(2047, 'a'), WmGuids::ProfileV80_384Video,
                     0, 0);
    EXPECT_EQ(writer.State(), WmvWriter::kClosed) << "a path too long";
    EXPECT_LT(writer.StartResult(), 0);
    EXPECT_TRUE(library.seen.path.empty());
  }
  {
    // A path of 2047 units and its terminator still fit.
    FakeLibrary library;
    WmvWriter writer(library, reports, "/" + std::string(2046, 'a'), WmGuids::ProfileV80_384Video,
                     0, 0);
    EXPECT_EQ(writer.State(), WmvWriter::kReady);
  }
  {
    FakeLibrary library;
    library.faults.failWriteAt = 1;
    WmvWriter writer(library, reports, "/tmp/m.wmv", WmGuids::ProfileV80_384Video, 0, 0);
    EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
    EXPECT_EQ(writer.AddFrame(frame), kWriterFail);
    EXPECT_EQ(writer.State(), WmvWriter::kClosed);
    EXPECT_EQ(writer.AddFrame(frame), kWriterFail);
    EXPECT_EQ(library.seen.times.size(), 2u) << "nothing reaches the library once closed";
    EXPECT_EQ(library.seen.log.back(), "Release writer");
    EXPECT_EQ(library.seen.log[library.seen.log.size() - 2], "EndWriting");
  }
  {
    // A frame of another size than the clip began with is refused.
    FakeLibrary library;
    WmvWriter writer(library, reports, "/tmp/m.wmv", WmGuids::ProfileV80_384Video, 0, 0);
    EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
    EXPECT_EQ(writer.AddFrame(NumberedRows(16, 4)), kWriterFail);
    EXPECT_EQ(library.seen.times.size(), 1u);
  }
  EXPECT_TRUE(boxes.shown.empty()) << "profile and input problems show no box";
}

}  // namespace
}  // namespace framory
