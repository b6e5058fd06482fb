// The FFmpeg Windows-Media-Format-like library on its own, as a caller other
// than the WMV writer would use it: which profiles the manager finds at which
// version, the inputs a profile gives, what the writer refuses, and how a
// failure on the encoding thread gets back to the caller. Files are read back
// with ffprobe.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "support/ChildProcess.h"
#include "support/MediaProbe.h"
#include "support/TempDir.h"
#include "writers/WmFormatApi.h"

namespace framory {
namespace {

using testing::ProbeVideo;
using testing::RunInChild;
using testing::TempDir;

std::u16string Wide(const std::string& path) { return std::u16string(path.begin(), path.end()); }

// A writer for `path` with the 384 Kbps profile and a 32-bit bottom-up video
// input of width × height at 10 frames a second, writing begun.
struct Session {
  Session(const std::string& path, std::int32_t width, std::int32_t height) {
    if (library->CreateProfileManager(&manager) < 0) return;
    WmProfileManager2* manager2 = nullptr;
    if (manager->QueryInterface(WmGuids::IidProfileManager2, &manager2) < 0 ||
        manager2->SetSystemProfileVersion(kWmtVersion8) < 0 ||
        manager->LoadProfileByID(WmGuids::ProfileV80_384Video, &profile) < 0 ||
        library->CreateWriter(nullptr, &writer) < 0 || writer->SetProfile(*profile) < 0 ||
        writer->SetOutputFilename(Wide(path)) < 0 || writer->GetInputProps(1, &video) < 0) {
      return;
    }
    WmVideoInfoHeader info;
    info.AvgTimePerFrame = 1000000;
    info.BmiHeader.Width = width;
    info.BmiHeader.Height = height;
    info.BmiHeader.BitCount = 32;
    info.BmiHeader.SizeImage = static_cast<std::uint32_t>(width * height * 4);
    WmMediaType type;
    type.MajorType = WmGuids::MediaTypeVideo;
    type.SubType = WmGuids::SubtypeRgb32;
    type.FormatType = WmGuids::FormatVideoInfo;
    type.FormatBytes = sizeof info;
    type.Format = &info;
    begun = video->SetMediaType(type) >= 0 && writer->SetInputProps(1, *video) >= 0 &&
            writer->BeginWriting() >= 0;
    frameBytes = info.BmiHeader.SizeImage;
  }
  // Writes frame `n` (grain that changes every frame) at n × 100 ms.
  std::int32_t Write(int n) {
    std::shared_ptr<WmBuffer> sample;
    std::uint8_t* bytes = nullptr;
    std::uint32_t length = 0;
    if (writer->AllocateSample(frameBytes, &sample) < 0 ||
        sample->GetBufferAndLength(&bytes, &length) < 0 || length < frameBytes) {
      return WmResult::Fail;
    }
    std::uint32_t state = 2166136261u + static_cast<std::uint32_t>(n);
    for (std::uint32_t i = 0; i < frameBytes; ++i) {
      state = state * 1664525u + 1013904223u;
      bytes[i] = static_cast<std::uint8_t>(state >> 24);
    }
    return writer->WriteSample(1, static_cast<std::uint64_t>(n) * 1000000, 0, sample);
  }

  std::unique_ptr<WmFormatLibrary> library = CreateWmFormatLibrary();
  std::unique_ptr<WmProfileManager> manager;
  std::unique_ptr<WmProfile> profile;
  std::unique_ptr<WmWriter> writer;
  std::unique_ptr<WmMediaProps> video;
  std::uint32_t frameBytes = 0;
  bool begun = false;
};

TEST(WmFormatLayer, ProfilesInputsAndRefusals) {
  std::unique_ptr<WmFormatLibrary> library = CreateWmFormatLibrary();
  std::unique_ptr<WmProfileManager> manager;
  ASSERT_EQ(library->CreateProfileManager(&manager), WmResult::Ok);
  std::unique_ptr<WmProfile> profile;
  EXPECT_LT(manager->LoadProfileByID(WmGuids::ProfileV80_56Video, &profile), 0)
      << "the manager starts at version 9, which lists no version 8 profile";
  WmProfileManager2* manager2 = nullptr;
  EXPECT_EQ(manager->QueryInterface(WmGuids::MediaTypeVideo, &manager2), WmResult::NoInterface);
  ASSERT_EQ(manager->QueryInterface(WmGuids::IidProfileManager2, &manager2), WmResult::Ok);
  ASSERT_EQ(manager2->SetSystemProfileVersion(kWmtVersion8), WmResult::Ok);
  EXPECT_LT(manager->LoadProfileByID(WmGuids::SubtypeRgb32, &profile), 0) << "not a profile";
  for (const WmGuid& id : {WmGuids::ProfileV80_384Video, WmGuids::ProfileV80_56Video,
                           WmGuids::ProfileV80_700PALVideo}) {
    EXPECT_EQ(manager->LoadProfileByID(id, &profile), WmResult::Ok);
  }

  std::unique_ptr<WmWriter> writer;
  ASSERT_EQ(library->CreateWriter(nullptr, &writer), WmResult::Ok);
  std::uint32_t count = 0;
  EXPECT_LT(writer->GetInputCount(&count), 0) << "no profile yet";
  EXPECT_LT(writer->BeginWriting(), 0) << "nothing set up";
  ASSERT_EQ(writer->SetProfile(*profile), WmResult::Ok);
  ASSERT_EQ(writer->GetInputCount(&count), WmResult::Ok);
  ASSERT_EQ(count, 2u);
  std::unique_ptr<WmMediaProps> audio, video;
  WmGuid type;
  ASSERT_EQ(writer->GetInputProps(0, &audio), WmResult::Ok);
  ASSERT_EQ(audio->GetType(&type), WmResult::Ok);
  EXPECT_TRUE(type == WmGuids::MediaTypeAudio);
  ASSERT_EQ(writer->GetInputProps(1, &video), WmResult::Ok);
  ASSERT_EQ(video->GetType(&type), WmResult::Ok);
  EXPECT_TRUE(type == WmGuids::MediaTypeVideo);
  EXPECT_LT(writer->GetInputProps(2, &video), 0);
  EXPECT_LT(writer->SetOutputFilename(u"/tmp/\xD800x.wmv"), 0) << "an unpaired surrogate";

  // A palette format, an odd width and a missing format block are refused.
  WmVideoInfoHeader info;
  info.AvgTimePerFrame = 1000000;
  info.BmiHeader.Width = 64;
  info.BmiHeader.Height = 48;
  info.BmiHeader.BitCount = 8;
  WmMediaType media;
  media.MajorType = WmGuids::MediaTypeVideo;
  media.SubType = WmGuids::SubtypeRgb8;
  media.FormatType = WmGuids::FormatVideoInfo;
  media.FormatBytes = sizeof info;
  media.Format = &info;
  TempDir dir;
  ASSERT_EQ(writer->SetOutputFilename(Wide(dir.File("a.wmv"))), WmResult::Ok);
  ASSERT_EQ(video->SetMediaType(media), WmResult::Ok);
  ASSERT_EQ(writer->SetInputProps(1, *video), WmResult::Ok);
  EXPECT_LT(writer->BeginWriting(), 0) << "8-bit palette input";
  info.BmiHeader.BitCount = 32;
  info.BmiHeader.Width = 63;
  media.SubType = WmGuids::SubtypeRgb32;
  ASSERT_EQ(video->SetMediaType(media), WmResult::Ok);
  ASSERT_EQ(writer->SetInputProps(1, *video), WmResult::Ok);
  EXPECT_LT(writer->BeginWriting(), 0) << "odd width";
  media.Format = nullptr;
  EXPECT_LT(video->SetMediaType(media), 0) << "no format block";

  // Audio takes no sample; a sample shorter than a frame is refused.
  Session session(dir.File("b.wmv"), 64, 48);
  ASSERT_TRUE(session.begun);
  std::shared_ptr<WmBuffer> sample;
  ASSERT_EQ(session.writer->AllocateSample(session.frameBytes, &sample), WmResult::Ok);
  EXPECT_EQ(session.writer->WriteSample(0, 0, 0, sample), WmResult::NotImplemented);
  ASSERT_EQ(session.writer->AllocateSample(session.frameBytes - 4, &sample), WmResult::Ok);
  EXPECT_EQ(session.writer->WriteSample(1, 0, 0, sample), WmResult::InvalidArg);
  EXPECT_EQ(session.Write(0), WmResult::Ok);
  EXPECT_EQ(session.Write(0), WmResult::InvalidArg) << "a stamp not later than the last";
  EXPECT_EQ(session.Write(1), WmResult::Ok) << "and the file goes on";
  EXPECT_EQ(session.writer->EndWriting(), WmResult::Ok);
  EXPECT_EQ(ProbeVideo(dir.File("b.wmv")).FrameCount, 2);
}

TEST(WmFormatLayer, EncodingFailureComesBackThroughALaterWriteAndEndWriting) {
  TempDir dir;
  const std::string path = dir.File("full.wmv");
  const std::string text = RunInChild(
      [&] {
        std::string message = "no session";
        {
          Session session(path, 320, 240);
          if (session.begun) {
            int failed = -1;
            for (int n = 0; n < 400 && failed < 0; ++n) {
              if (session.Write(n) < 0) failed = n;
            }
            const std::int32_t ended = session.writer->EndWriting();
            message = std::to_string(failed) + " " + (ended < 0 ? "ended-failed" : "ended-ok");
          }
        }
        return message;
      },
      128 * 1024);
  ASSERT_NE(text, testing::kChildFailed) << "the writing child crashed";
  const std::size_t space = text.find(' ');
  ASSERT_NE(space, std::string::npos) << text;
  EXPECT_GT(std::stoi(text.substr(0, space)), 0) << "a later write reports the failure";
  EXPECT_EQ(text.substr(space + 1), "ended-failed") << "and so does EndWriting";
  EXPECT_EQ(ProbeVideo(path).CodecName, "wmv2") << "the frames before the failure stay readable";
}

}  // namespace
}  // namespace framory
