// The still-image writer: each frame becomes the next "pic" file in the
// format the output type asks for; with no name left nothing is written.
#include "capture/StillImageWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "support/ImageDecode.h"
#include "support/TempDir.h"

namespace framory {
namespace {

using namespace framory::testing;

struct TestFrame {
  std::vector<std::uint8_t> storage;
  Frame frame;

  TestFrame(int width, int height) : storage(static_cast<std::size_t>(width) * height * 4) {
    frame.Width = width;
    frame.Height = height;
    frame.BitsPerPixel = 32;
    frame.BytesPerLine = width * 4;
    frame.Pixels = storage.data();
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        std::uint8_t* p = &storage[(static_cast<std::size_t>(y) * width + x) * 4];
        p[0] = static_cast<std::uint8_t>(x * 20);  // blue
        p[1] = static_cast<std::uint8_t>(y * 30);  // green
        p[2] = 200;                                // red
      }
    }
  }
};

class StillImageWriterTest : public ::testing::Test {
 protected:
  StillImageWriterTest() {
    settings_.SetProjectDirectory(dir_.Path() + "/");
    settings_.SetProjectName("Shots");
    std::filesystem::create_directory(dir_.Path() + "/Shots");
  }
  std::string Pic(const std::string& name) const { return dir_.Path() + "/Shots/" + name; }

  TempDir dir_;
  Settings settings_;
};

TEST_F(StillImageWriterTest, EachFrameBecomesTheNextPictureInTheChosenFormat) {
  OutputNaming naming(settings_);
  StillImageWriter writer(naming);
  EXPECT_FALSE(writer.HasLastResult());
  TestFrame shot(7, 3);
  const struct {
    std::int32_t outputType;
    const char* name;
    const char* tool;
  } cases[] = {{OutputTypes::Bmp, "pic0.bmp", "bmptopnm"},
               {OutputTypes::Jpg, "pic1.jpg", "jpegtopnm"},
               {OutputTypes::Pcx, "pic2.pcx", "pcxtoppm"},
               {OutputTypes::Png, "pic3.png", "pngtopnm"}};
  for (const auto& c : cases) {
    settings_.SetOutputType(c.outputType);
    writer.SaveStill(shot.frame, nullptr);
    EXPECT_TRUE(writer.HasLastResult());
    EXPECT_EQ(naming.LastResult(), Pic(c.name));
    ASSERT_TRUE(std::filesystem::exists(Pic(c.name))) << c.name;
    if (!HaveTool(c.tool)) continue;
    RgbImage decoded;
    std::string error;
    ASSERT_TRUE(DecodeWithTool(c.tool, Pic(c.name), &decoded, &error)) << error;
    ASSERT_EQ(decoded.Width, 7);
    ASSERT_EQ(decoded.Height, 3);
    const int tolerance = c.outputType == OutputTypes::Jpg ? 40 : 0;
    EXPECT_NEAR(decoded.At(6, 2)[0], 200, tolerance) << c.name;
    EXPECT_NEAR(decoded.At(6, 2)[1], 60, tolerance) << c.name;
    EXPECT_NEAR(decoded.At(6, 2)[2], 120, tolerance) << c.name;
  }
}

TEST_F(StillImageWriterTest, PaletteFramesKeepTheirColoursButAreNoJpeg) {
  OutputNaming naming(settings_);
  StillImageWriter writer(naming);
  std::vector<std::uint8_t> indices(6 * 2);
  for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<std::uint8_t>(i * 20);
  Frame frame;
  frame.Width = 6;
  frame.Height = 2;
  frame.BitsPerPixel = 8;
  frame.BytesPerLine = 6;
  frame.Pixels = indices.data();
  Palette palette;
  for (int i = 0; i < 256; ++i) {
    palette.Entries[i] =
        PaletteEntry{static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i),
                     static_cast<std::uint8_t>(i / 3), 0};
  }
  settings_.SetOutputType(OutputTypes::Png);
  writer.SaveStill(frame, &palette);
  RgbImage decoded;
  PngFacts facts;
  std::string error;
  ASSERT_TRUE(DecodePng(Pic("pic0.png"), &decoded, &facts, &error)) << error;
  EXPECT_EQ(facts.ColorType, 3);
  EXPECT_EQ(facts.PaletteSize, 221) << "a small picture keeps entries up to index 220";
  const std::uint8_t* last = decoded.At(5, 1);  // index 220
  EXPECT_EQ(last[0], 35);
  EXPECT_EQ(last[1], 220);
  EXPECT_EQ(last[2], 73);

  settings_.SetOutputType(OutputTypes::Jpg);
  writer.SaveStill(frame, &palette);
  EXPECT_FALSE(std::filesystem::exists(Pic("pic1.jpg"))) << "a colour palette is no JPEG, and "
                                                            "no empty file is left";
}

TEST_F(StillImageWriterTest, WithNoNameLeftNothingIsWritten) {
  OutputNaming naming(settings_);
  naming.SetPictureCounter(OutputNaming::kNumberLimit);
  StillImageWriter writer(naming);
  TestFrame shot(4, 4);
  writer.SaveStill(shot.frame, nullptr);
  EXPECT_FALSE(writer.HasLastResult());
  EXPECT_TRUE(std::filesystem::is_empty(dir_.Path() + "/Shots"));
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "/Shots/pic99999999.bmp"));
}

TEST_F(StillImageWriterTest, AFailedSaveIsSilentAndTheNumberIsUsedUp) {
  settings_.SetProjectName("NoSuchFolder");
  OutputNaming naming(settings_);
  StillImageWriter writer(naming);
  TestFrame shot(2, 2);
  writer.SaveStill(shot.frame, nullptr);
  EXPECT_TRUE(writer.HasLastResult()) << "the name was made even though the file was not";
  EXPECT_EQ(naming.PictureCounter(), 1);
}

}  // namespace
}  // namespace framory
