// Output naming: running numbers that skip existing files, independent
// counters for pictures and movies, the number limit, and how the project
// folder is joined.
#include "capture/OutputNaming.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "support/TempDir.h"

namespace framory {
namespace {

using testing::TempDir;
using testing::WriteWholeFile;

class OutputNamingTest : public ::testing::Test {
 protected:
  OutputNamingTest() {
    settings_.SetProjectDirectory(dir_.Path() + "/");
    settings_.SetProjectName("Project1");
    std::filesystem::create_directory(Folder());
  }
  std::string Folder() const { return dir_.Path() + "/Project1"; }
  void Touch(const std::string& name) { ASSERT_TRUE(WriteWholeFile(Folder() + "/" + name, "x")); }

  TempDir dir_;
  Settings settings_;
};

TEST_F(OutputNamingTest, ExistingPicturesAreSkippedAndTheCounterMovesPastTheResult) {
  Touch("pic0.png");
  Touch("pic1.png");
  settings_.SetOutputType(OutputTypes::Png);
  OutputNaming naming(settings_);
  const PictureName name = naming.PictureFileName();
  EXPECT_EQ(name.Path, Folder() + "/pic2.png");
  EXPECT_EQ(name.ImageFormat, ImageFormats::Png);
  EXPECT_EQ(naming.PictureCounter(), 3);
  EXPECT_EQ(naming.LastResult(), name.Path);
}

TEST_F(OutputNamingTest, GapsBelowAnExistingFileAreFilledFromTheCounterUpward) {
  Touch("pic5.png");
  settings_.SetOutputType(OutputTypes::Png);
  OutputNaming naming(settings_);
  EXPECT_EQ(naming.PictureFileName().Path, Folder() + "/pic0.png");
  EXPECT_EQ(naming.PictureFileName().Path, Folder() + "/pic1.png");
  // Numbers already handed out are never handed out again, written or not.
  for (int i = 2; i < 5; ++i) naming.PictureFileName();
  EXPECT_EQ(naming.PictureFileName().Path, Folder() + "/pic6.png") << "pic5.png exists";
}

TEST_F(OutputNamingTest, ExtensionAndFormatFollowTheOutputType) {
  struct Case {
    std::int32_t outputType;
    const char* extension;
    std::int32_t format;
  };
  const Case cases[] = {{OutputTypes::Bmp, ".bmp", ImageFormats::Bmp},
                        {OutputTypes::Jpg, ".jpg", ImageFormats::Jpg},
                        {OutputTypes::Pcx, ".pcx", ImageFormats::Pcx},
                        {OutputTypes::Png, ".png", ImageFormats::Png},
                        {7, ".bmp", ImageFormats::Bmp}};
  OutputNaming naming(settings_);
  int number = 0;
  for (const Case& c : cases) {
    settings_.SetOutputType(c.outputType);
    const PictureName name = naming.PictureFileName();
    EXPECT_EQ(name.Path, Folder() + "/pic" + std::to_string(number++) + c.extension)
        << "output type " << c.outputType;
    EXPECT_EQ(name.ImageFormat, c.format) << "output type " << c.outputType;
  }
}

TEST_F(OutputNamingTest, PicturesAndMoviesCountIndependently) {
  Touch("movie0.avi");
  OutputNaming naming(settings_);
  EXPECT_EQ(naming.PictureFileName().Path, Folder() + "/pic0.bmp");
  EXPECT_EQ(naming.MovieFileName(".avi"), Folder() + "/movie1.avi");
  EXPECT_EQ(naming.PictureFileName().Path, Folder() + "/pic1.bmp");
  // One movie counter for every movie extension.
  EXPECT_EQ(naming.MovieFileName(".wmv"), Folder() + "/movie2.wmv");
  EXPECT_EQ(naming.MovieCounter(), 3);
  EXPECT_EQ(naming.PictureCounter(), 2);
}

TEST_F(OutputNamingTest, ANewProjectFolderDoesNotResetTheCounters) {
  OutputNaming naming(settings_);
  for (int i = 0; i < 3; ++i) naming.MovieFileName(".avi");
  naming.PictureFileName();
  settings_.SetProjectName("Project2");
  std::filesystem::create_directory(dir_.Path() + "/Project2");
  EXPECT_EQ(naming.MovieFileName(".avi"), dir_.Path() + "/Project2/movie3.avi");
  EXPECT_EQ(naming.PictureFileName().Path, dir_.Path() + "/Project2/pic1.bmp");
}

TEST_F(OutputNamingTest, ADirectoryWithoutTrailingSeparatorJoinsDirectly) {
  settings_.SetProjectDirectory(dir_.Path() + "/Shots");
  OutputNaming naming(settings_);
  EXPECT_EQ(naming.PictureFileName().Path, dir_.Path() + "/ShotsProject1/pic0.bmp");
  EXPECT_EQ(naming.MovieFileName(".mov"), dir_.Path() + "/ShotsProject1/movie0.mov");
}

TEST_F(OutputNamingTest, AnUnreadableFileCountsAsFree) {
  Touch("pic0.bmp");
  const std::string path = Folder() + "/pic0.bmp";
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  if (std::FILE* probe = std::fopen(path.c_str(), "r")) {
    std::fclose(probe);
    GTEST_SKIP() << "running with permission to read mode-000 files (root); the unreadable "
                    "case is covered by UnopenableEntryCountsAsFree";
  }
  OutputNaming naming(settings_);
  EXPECT_EQ(naming.PictureFileName().Path, path);
}

TEST_F(OutputNamingTest, UnopenableEntryCountsAsFree) {
  // A name that exists in the folder but cannot be opened for reading, even
  // by root: a symbolic link to nothing.
  const std::string path = Folder() + "/pic0.bmp";
  ASSERT_EQ(symlink((dir_.Path() + "/missing/target").c_str(), path.c_str()), 0);
  ASSERT_TRUE(std::filesystem::is_symlink(path));
  OutputNaming naming(settings_);
  EXPECT_EQ(naming.PictureFileName().Path, path);
  EXPECT_EQ(naming.PictureCounter(), 1);
}

TEST_F(OutputNamingTest, TheNumberLimitGivesNoNameAndTheWriterWritesNothing) {
  OutputNaming naming(settings_);
  std::int32_t counter = OutputNaming::kNumberLimit - 2;
  const std::string base = Folder() + "/movie";
  Touch("movie99999997.avi");
  EXPECT_EQ(naming.NextFreeName(base, counter, ".avi"), base + "99999998.avi");
  EXPECT_EQ(counter, OutputNaming::kNumberLimit);
  EXPECT_EQ(naming.NextFreeName(base, counter, ".avi"), "") << "no number left below the limit";
  EXPECT_EQ(naming.LastResult(), "") << "an empty result is remembered as no result";
  EXPECT_EQ(counter, OutputNaming::kNumberLimit);

  std::int32_t beyond = OutputNaming::kNumberLimit + 5;
  EXPECT_EQ(naming.NextFreeName(base, beyond, ".avi"), "");
  EXPECT_EQ(beyond, OutputNaming::kNumberLimit + 5);
}

TEST_F(OutputNamingTest, NumbersAreWrittenWithoutLeadingZeros) {
  OutputNaming naming(settings_);
  std::int32_t counter = 1234567;
  EXPECT_EQ(naming.NextFreeName("/nonexistent/pic", counter, ".png"),
            "/nonexistent/pic1234567.png");
  EXPECT_EQ(counter, 1234568);
}

}  // namespace
}  // namespace framory
