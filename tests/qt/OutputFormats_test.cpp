// The table of output formats against the stages that read it: for every
// row, the format dialog's list, the clip session's file name and the writer
// the factory makes. A row added without its list text, its extension or
// its writer fails here.
#include "writers/OutputFormats.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "capture/ClipSession.h"
#include "capture/OutputNaming.h"
#include "platform/media/FfmpegAviFileLibrary.h"
#include "platform/media/FfmpegStreamOutput.h"
#include "platform/media/FfmpegWebMovieLibrary.h"
#include "platform/media/WmFfmpegLibrary.h"
#include "support/ClipSessionFakes.h"
#include "support/FakeDialogServices.h"
#include "support/QtGTestMain.h"
#include "support/TempDir.h"
#include "ui/DialogTemplate.h"
#include "ui/OutputFormatDialog.h"
#include "writers/MovieWriterFactory.h"

namespace framory {
namespace {

using testing::FakeClipHost;
using testing::FakeDesktop;
using testing::FakeDialogServices;
using testing::TempDir;
using testing::TestPicture;

// Writers that cannot start (no QuickTime here) report it; nothing is shown.
class QuietReports : public WriterReports {
 public:
  void Report(WriterFailure, std::int32_t) override {}
};

// The real factory with real AVI and WMV libraries; it notes the file
// name of every clip and whether the format's writer was made, then lets
// no clip start, so that nothing is written.
class NotingFactory : public MovieWriterFactory {
 public:
  explicit NotingFactory(WriterReports& reports) : MovieWriterFactory(&avi, &reports, 640, 480) {
    SetWmvLibrary(&wmv);
    SetStreamServices(&streams, nullptr);
    SetWebMovieLibrary(&web);
  }
  bool Supports(std::int32_t type) const override { return IsMovieOutputType(type); }
  std::unique_ptr<MovieWriter> CreateFileWriter(std::int32_t type, const std::string& path,
                                                std::int32_t timer) override {
    paths[type] = path;
    made[type] = MovieWriterFactory::CreateFileWriter(type, path, timer) != nullptr;
    return nullptr;
  }
  std::unique_ptr<ScreenEncoder> CreateEncoderSession() override {
    ++encoderSessions;
    return nullptr;
  }

  FfmpegAviFileLibrary avi;
  WmFfmpegLibrary wmv;
  FfmpegStreamOutputLibrary streams;
  FfmpegWebMovieLibrary web;
  std::map<std::int32_t, std::string> paths;
  std::map<std::int32_t, bool> made;
  int encoderSessions = 0;
};

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The rows of one list of the dialog, worked out from the table alone:
// the picture rows or the movie rows that have a list text, in the order
// the list box sorts them (by text).
std::vector<const OutputFormat*> ExpectedRows(bool pictures) {
  std::vector<const OutputFormat*> rows;
  for (const OutputFormat& f : OutputFormatTable()) {
    if (f.ListText != nullptr && (f.Family == OutputFamily::Pictures) == pictures)
      rows.push_back(&f);
  }
  std::sort(rows.begin(), rows.end(), [](const OutputFormat* a, const OutputFormat* b) {
    return QString::fromUtf8(a->ListText) < QString::fromUtf8(b->ListText);
  });
  return rows;
}

TEST(OutputFormatTable, EveryRowIsListedNamedAndWritten) {
  TempDir dir;
  Settings settings;
  settings.SetProjectDirectory(dir.Path() + "/");
  settings.SetProjectName("p");
  std::filesystem::create_directories(settings.ProjectFolder());
  FakeDialogServices services(settings);
  FakeDesktop desktop;
  Launchers launchers(desktop, "/opt/framory/framory", "");
  OutputNaming naming(settings);
  QuietReports reports;
  FakeClipHost host;
  NotingFactory factory(reports);
  ClipSession session(settings, naming, factory, host);
  const TestPicture picture = TestPicture::Pattern(64, 48, 1);

  std::vector<std::int32_t> codes;
  for (const OutputFormat& format : OutputFormatTable()) {
    const std::int32_t code = format.Code;
    SCOPED_TRACE("output type " + std::to_string(code));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), code), 0) << "one row per code";
    codes.push_back(code);
    ASSERT_EQ(FindOutputFormat(code), &format);

    // The dialog opened on this type lists its family's rows, sorted, with
    // their texts; the type's own row is selected, and choosing a row
    // chooses its type. The
    // broadcast has no row and is shown, greyed, on the screen encoder's.
    settings.SetOutputType(code);
    settings.SetStreamServerAddress("rtmp://127.0.0.1/live/key");
    const bool pictures = format.Family == OutputFamily::Pictures;
    const std::vector<const OutputFormat*> rows = ExpectedRows(pictures);
    {
      OutputFormatDialog dialog(settings, services, launchers);
      auto* list = FindControlAs<QListWidget>(&dialog, 1005);
      ASSERT_EQ(list->count(), static_cast<int>(rows.size()));
      for (int i = 0; i < list->count(); ++i) {
        EXPECT_EQ(list->item(i)->text().toStdString(), rows[i]->ListText) << "row " << i;
      }
      const std::int32_t shown = format.ListText != nullptr ? code : ScreenEncoderOutputType;
      ASSERT_GE(list->currentRow(), 0);
      EXPECT_EQ(rows[list->currentRow()]->Code, shown);
      EXPECT_EQ(list->isEnabled(), format.ListText != nullptr);
      EXPECT_EQ(FindControlAs<QCheckBox>(&dialog, 1043)->isEnabled(), format.SoundAllowed)
          << "the sound box follows the row";
      EXPECT_EQ(settings.OutputType(), code) << "opening the dialog changes nothing";
      if (list->isEnabled()) {
        for (int i = list->count() - 1; i >= 0; --i) {
          list->setCurrentRow(i);
          EXPECT_EQ(settings.OutputType(), rows[i]->Code) << "row " << i;
        }
        settings.SetOutputType(code);
      }
    }
    if (format.MergesSoundTrack) EXPECT_TRUE(format.SoundAllowed);
    if (format.Family == OutputFamily::Broadcast) {
      EXPECT_EQ(format.ListText, nullptr);
    } else {
      ASSERT_NE(format.ListText, nullptr) << "every type but the broadcast has a row";
    }

    // Pictures are named with the row's extension; a movie clip's file
    // too, and a file writer is made for it.
    if (pictures) {
      ASSERT_NE(format.Extension, nullptr);
      EXPECT_TRUE(EndsWith(naming.PictureFileName().Path, format.Extension));
      continue;
    }
    const int sessionsBefore = factory.encoderSessions;
    session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{0, 0, 64, 48});
    session.EndClip();
    if (IsEncoderOutputType(code)) {
      EXPECT_EQ(factory.encoderSessions, sessionsBefore + 1) << "the encoder records it";
      EXPECT_EQ(factory.paths.count(code), 0u);
    } else {
      ASSERT_EQ(factory.paths.count(code), 1u) << "the clip asks for its writer";
      if (code == OutputTypes::StreamServer) {
        // The stream's writer makes no file: it is given the server's address.
        EXPECT_EQ(format.Extension, nullptr);
        EXPECT_EQ(factory.paths[code], settings.StreamServerAddress());
      } else {
        ASSERT_NE(format.Extension, nullptr);
        EXPECT_TRUE(EndsWith(factory.paths[code], format.Extension)) << factory.paths[code];
      }
      EXPECT_TRUE(factory.made[code]) << "a writer is made for every movie row";
    }
    if (format.Family == OutputFamily::ScreenEncoder) {
      EXPECT_TRUE(EndsWith(naming.LastResult(), format.Extension)) << naming.LastResult();
    }
  }
  for (std::int32_t code : {-1, 4, 9, 29, 32, 1000}) {
    EXPECT_FALSE(IsKnownOutputType(code)) << code;
    EXPECT_TRUE(OutputFormatDialog::ListText(code).isEmpty()) << code;
  }
}

}  // namespace
}  // namespace framory
