// The comment window: border table and arrow geometry, the window's shape,
// layout and painting, the popup menu's single showing, the choosers'
// remembered state and cancelling, "Set Size to Movie Size", the backup file
// and the keyboard shortcuts. Choosers are answered by a script in place of a
// person.
#include "ui/CommentWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontDialog>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTextList>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>
#include <deque>
#include <filesystem>
#include <optional>

#include "support/ChildProcess.h"
#include "support/QtGTestMain.h"
#include "support/QtPump.h"
#include "support/TempDir.h"
#include "ui/CommentEdit.h"
#include "ui/CommentGeometry.h"
#include "ui/CommentMenu.h"
#include "ui/CommentWindowHost.h"
#include "ui/QtCommentChoosers.h"
#include "ui/RtfReader.h"

namespace framory {
namespace {

using testing::kChildFailed;
using testing::PumpUntil;
using testing::ReadWholeFile;
using testing::RunInChild;
using testing::TempDir;
using testing::WriteWholeFile;

// Answers each chooser from a queue (an empty answer is Cancel) and records
// what the window handed it.
class ScriptedChoosers : public CommentChoosers {
 public:
  std::deque<std::optional<CommentFont>> Fonts;
  std::deque<std::optional<std::uint32_t>> Colors;
  std::deque<std::optional<std::string>> Files;
  // Applied to the custom colours while the colour chooser "runs".
  std::function<void(CommentCustomColors&)> EditCustom;
  std::vector<std::optional<CommentFont>> FontStarts;
  std::vector<CommentCustomColors> CustomSeen;
  std::vector<std::string> Folders;

  bool ChooseFont(QWidget*, const CommentFont* start, CommentFont* chosen) override {
    FontStarts.push_back(start != nullptr ? std::optional<CommentFont>(*start) : std::nullopt);
    auto answer = Next(Fonts);
    if (answer) *chosen = *answer;
    return answer.has_value();
  }
  bool ChooseColor(QWidget*, CommentCustomColors& custom, std::uint32_t* chosen) override {
    CustomSeen.push_back(custom);
    if (EditCustom) EditCustom(custom);
    auto answer = Next(Colors);
    if (answer) *chosen = *answer;
    return answer.has_value();
  }
  bool ChooseSaveFile(QWidget*, const std::string& folder, std::string* path) override {
    return File(folder, path);
  }
  bool ChooseOpenFile(QWidget*, const std::string& folder, std::string* path) override {
    return File(folder, path);
  }

 private:
  template <typename T>
  static std::optional<T> Next(std::deque<std::optional<T>>& queue) {
    if (queue.empty()) return std::nullopt;
    auto answer = queue.front();
    queue.pop_front();
    return answer;
  }
  bool File(const std::string& folder, std::string* path) {
    Folders.push_back(folder);
    auto answer = Next(Files);
    if (answer) *path = *answer;
    return answer.has_value();
  }
};

class CommentWindowTest : public ::testing::Test {
 protected:
  CommentWindowTest() {
    services.Choosers = &choosers;
    services.ProjectFolder = [this] { return project.Path(); };
    services.SizeSource = [this] { return sizes; };
  }
  ~CommentWindowTest() override {
    if (window != nullptr) delete window.data();
  }

  CommentWindow& Open() {
    host = std::make_unique<CommentWindowHost>(services);
    host->Open();
    window = host->Window();
    return *window;
  }
  QString Text() const { return window->Edit()->toPlainText(); }
  std::string Backup() const { return project.File(CommentWindow::kBackupName); }

  TempDir project;
  ScriptedChoosers choosers;
  CommentSizeSource sizes;
  CommentWindowServices services;
  std::unique_ptr<CommentWindowHost> host;
  QPointer<CommentWindow> window;
};

TEST(CommentGeometry, BorderTableForTheDefaultAndAnOddSize) {
  // Style, margins L R T B, inset, and the three arrow points per size.
  struct Row {
    std::int32_t Style;
    CommentBorder Border;
    std::optional<std::array<Point, 3>> At320x200;
    std::optional<std::array<Point, 3>> At333x214;
  };
  const auto a = [](int x0, int y0, int x1, int y1, int x2, int y2) {
    return std::optional<std::array<Point, 3>>({Point{x0, y0}, Point{x1, y1}, Point{x2, y2}});
  };
  const Row rows[] = {
      {0, {0, 0, 0, 0, 0, 0}, {}, {}},
      {3, {3, 0, 0, 0, 0, 3}, {}, {}},
      {1, {1, 10, 0, 0, 0, 3}, a(10, 40, 1, 37, 10, 47), a(10, 42, 1, 39, 10, 49)},
      {2, {2, 10, 0, 0, 0, 3}, a(10, 160, 1, 163, 10, 153), a(10, 168, 1, 171, 10, 161)},
      {4, {4, 0, 0, 10, 0, 3}, a(64, 11, 54, 1, 57, 11), a(66, 11, 56, 1, 59, 11)},
      {5, {5, 0, 0, 10, 0, 3}, a(256, 11, 259, 1, 249, 11), a(266, 11, 269, 1, 259, 11)},
      {6, {6, 0, 10, 0, 0, 3}, a(310, 94, 320, 100, 310, 106), a(323, 101, 333, 107, 323, 113)},
  };
  for (const Row& row : rows) {
    const CommentBorder border = CommentBorderFor(row.Style);
    EXPECT_EQ(border, row.Border) << "style " << row.Style;
    const CommentArrow small = CommentArrowFor(border, 320, 200);
    const CommentArrow odd = CommentArrowFor(border, 333, 214);
    EXPECT_EQ(small.Exists(), row.At320x200.has_value()) << "style " << row.Style;
    if (row.At320x200) {
      EXPECT_EQ(small.Points(), *row.At320x200) << "style " << row.Style;
      EXPECT_EQ(odd.Points(), *row.At333x214) << "style " << row.Style;
    }
    EXPECT_TRUE(CommentWindowShape(border, small, 320, 200).empty() == !small.Exists());
  }
  // An unknown stored style reads as Simple.
  EXPECT_EQ(CommentBorderFor(42), CommentBorderFor(CommentBorderStyle::Simple));
}

TEST(CommentGeometry, MovieSizeKeepsTheWindowOnTheScreen) {
  CommentSizeSource clip{true, 640, 480, true, 100, 100};
  auto place = [](const CommentSizeSource& source, Point at) {
    return CommentMovieSizePlacement(source, at, 1024, 768);
  };
  EXPECT_EQ(place(clip, {900, 400}), (Rect{384, 288, 1024, 768}));
  EXPECT_EQ(place(clip, {10, 20}), (Rect{10, 20, 650, 500}));
  // Exactly at the right and bottom edges: no move.
  EXPECT_EQ(place(clip, {384, 288}), (Rect{384, 288, 1024, 768}));
  // Wider and taller than the screen: the screen's size, at 0 from any left
  // or top edge at 0 or beyond; a window off the left or top edge stays there.
  const CommentSizeSource huge{true, 3000, 2000, false, 0, 0};
  EXPECT_EQ(place(huge, {500, 300}), (Rect{0, 0, 1024, 768}));
  EXPECT_EQ(place(huge, {0, 0}), (Rect{0, 0, 1024, 768}));
  EXPECT_EQ(place(huge, {-30, -40}), (Rect{-30, -40, 994, 728}));
  // Without a clip the fixed resize size, when resizing is on; else nothing.
  EXPECT_EQ(place({false, 640, 480, true, 200, 100}, {1000, 700}), (Rect{824, 668, 1024, 768}));
  EXPECT_EQ(place({false, 640, 480, false, 200, 100}, {0, 0}), std::nullopt);
  EXPECT_EQ(place({true, 0, 480, true, 200, 100}, {0, 0}), std::nullopt);
  EXPECT_EQ(place({false, 0, 0, true, 200, -1}, {0, 0}), std::nullopt);
}

TEST_F(CommentWindowTest, OpensOnceWithTheHelpTextAndSimpleFrame) {
  CommentWindow& w = Open();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Comment"));
  EXPECT_EQ(w.size(), QSize(320, 200));
  EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(w.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_FALSE(w.TitleBarShown());
  EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(w.Edit()->geometry(), QRect(3, 3, 314, 194));
  EXPECT_TRUE(w.mask().isEmpty());
  EXPECT_TRUE(Text().startsWith(QStringLiteral("You can drag this top-most window")));
  EXPECT_TRUE(Text().contains(QStringLiteral("Ctrl 1 (or 2 or 5)\t\tSets line spacing.")));
  const QTextBlock bold = w.Edit()->document()->findBlockByNumber(2);
  EXPECT_EQ(bold.text(), QStringLiteral("Use the right mouse button for pop-up menu."));
  EXPECT_GE(bold.begin().fragment().charFormat().fontWeight(), QFont::Bold);

  // Painted: the olive 3-pixel frame runs round the client area.
  const QImage image = w.grab().toImage();
  for (QPoint p :
       {QPoint(0, 100), QPoint(2, 100), QPoint(160, 0), QPoint(319, 100), QPoint(160, 199)}) {
    EXPECT_EQ(image.pixelColor(p), QColor(128, 128, 0)) << p.x() << "," << p.y();
  }

  // Opening again only shows the same window; after closing, a new one starts
  // with the border that was chosen last and a fresh help text.
  w.RunCommand(CommentCommand::BorderTopLeft);
  w.Edit()->setPlainText(QStringLiteral("typed"));
  host->Open();
  EXPECT_EQ(host->Window(), &w);
  EXPECT_NE(host->Handle(), kNoWindow);
  w.RunCommand(CommentCommand::Close);
  ASSERT_TRUE(PumpUntil([this] { return host->Window() == nullptr; }));
  EXPECT_EQ(host->Handle(), kNoWindow);
  host->Open();
  window = host->Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(host->State().Border.Style, CommentBorderStyle::ArrowTopTowardLeft);
  EXPECT_EQ(window->Edit()->geometry(), QRect(3, 13, 314, 184));
  EXPECT_TRUE(Text().startsWith(QStringLiteral("You can drag")));
}

TEST_F(CommentWindowTest, ArrowBordersShapeTheWindowWhileTheTitleBarIsHidden) {
  CommentWindow& w = Open();
  w.RunCommand(CommentCommand::BorderRightMiddle);
  EXPECT_EQ(w.Edit()->geometry(), QRect(3, 3, 304, 194));
  // Frame plus the box round the arrow, nothing else.
  const QRegion expected = QRegion(0, 0, 310, 200) + QRegion(310, 94, 15, 17);
  EXPECT_EQ(w.mask(), expected);
  EXPECT_TRUE(w.mask().contains(QPoint(319, 100)));
  EXPECT_FALSE(w.mask().contains(QPoint(315, 50)));
  EXPECT_FALSE(w.mask().contains(QPoint(315, 150)));
  const QImage image = w.grab().toImage();
  EXPECT_EQ(image.pixelColor(315, 97), QColor(128, 128, 0)) << "arrow drawn";
  EXPECT_EQ(image.pixelColor(308, 50), QColor(128, 128, 0)) << "frame's right side";

  // A new size reshapes at once.
  w.resize(400, 300);
  PumpUntil([&w] { return w.size() == QSize(400, 300); }, 2);
  EXPECT_EQ(w.mask(), QRegion(0, 0, 390, 300) + QRegion(390, 144, 15, 17));

  // Showing the title bar restores the full rectangle; hiding it reshapes.
  w.RunCommand(CommentCommand::ToggleTitleBar);
  EXPECT_TRUE(w.TitleBarShown());
  EXPECT_FALSE(w.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(w.mask().isEmpty());
  w.RunCommand(CommentCommand::ToggleTitleBar);
  EXPECT_FALSE(w.TitleBarShown());
  EXPECT_FALSE(w.mask().isEmpty());

  // "None": no frame, no shape, the edit fills the window.
  w.RunCommand(CommentCommand::BorderNone);
  EXPECT_TRUE(w.mask().isEmpty());
  EXPECT_EQ(w.Edit()->geometry(), w.rect());
  const QImage plain = w.grab().toImage();
  EXPECT_NE(plain.pixelColor(1, 100), QColor(128, 128, 0));
}

TEST_F(CommentWindowTest, RightClickWhileTheMenuIsOpenIsIgnored) {
  CommentWindow& w = Open();
  int shown = 0;
  QStringList items;
  w.SetMenuRunner([&](QMenu& menu, const QPoint&) {
    ++shown;
    for (QAction* action : menu.actions()) items << action->text();
    // Right clicks in the margin and in the text while this one is open.
    QTest::mouseClick(&w, Qt::RightButton, {}, QPoint(1, 2));
    QTest::mouseClick(w.Edit()->viewport(), Qt::RightButton, {}, QPoint(20, 20));
    return CommentCommand::Italic;
  });
  QTest::mouseClick(&w, Qt::RightButton, {}, QPoint(1, 1));
  EXPECT_EQ(shown, 1);
  EXPECT_TRUE(w.Edit()->currentCharFormat().fontItalic()) << "the chosen command ran";
  EXPECT_EQ(items.first(), QStringLiteral("Font Effect"));
  EXPECT_EQ(items.last(), QStringLiteral("Close Comment Window"));
  // Once the menu is closed a right click in the text opens it again.
  QTest::mouseClick(w.Edit()->viewport(), Qt::RightButton, {}, QPoint(40, 30), 1000);
  EXPECT_EQ(shown, 2) << "the edit's click and, from within it, none more";
}

TEST_F(CommentWindowTest, FontChooserStartsFromTheRememberedFontAndCancelChangesNothing) {
  CommentWindow& w = Open();
  w.Edit()->selectAll();
  const CommentFont chosen{"DejaVu Serif", -24, 700, true, true, false, 0x0000FF, 0, 0x12};
  choosers.Fonts = {chosen, std::nullopt};
  w.RunCommand(CommentCommand::Font);
  ASSERT_EQ(choosers.FontStarts.size(), 1u);
  EXPECT_FALSE(choosers.FontStarts[0].has_value()) << "no font chosen yet";
  QTextCharFormat format = w.Edit()->currentCharFormat();
  EXPECT_EQ(format.fontFamilies().toStringList(), QStringList{QStringLiteral("DejaVu Serif")});
  EXPECT_GE(format.fontWeight(), QFont::Bold);
  EXPECT_TRUE(format.fontItalic());
  EXPECT_TRUE(format.fontUnderline());
  EXPECT_EQ(format.foreground().color(), QColor(0, 0, 255));
  EXPECT_DOUBLE_EQ(format.fontPointSize(), (1440 / w.logicalDpiX()) * 24 / 20.0);

  // Cancelled: the chooser started from the remembered font; nothing changed.
  w.RunCommand(CommentCommand::Font);
  ASSERT_EQ(choosers.FontStarts.size(), 2u);
  EXPECT_EQ(choosers.FontStarts[1], chosen);
  EXPECT_EQ(w.Edit()->currentCharFormat(), format);
  EXPECT_EQ(host->State().RememberedFont, chosen);
}

TEST_F(CommentWindowTest, ColourChoosersKeepTheirOwnCustomColours) {
  CommentWindow& w = Open();
  w.Edit()->selectAll();
  choosers.EditCustom = [](CommentCustomColors& custom) { custom[0] += 0x010101; };
  choosers.Colors = {0xFF0000, 0x00FF00, std::nullopt, 0x123456, std::nullopt};
  w.RunCommand(CommentCommand::FontColor);
  w.RunCommand(CommentCommand::FontColor);
  EXPECT_EQ(w.Edit()->currentCharFormat().foreground().color(), QColor(0, 255, 0))
      << "the second colour stays";
  w.RunCommand(CommentCommand::FontColor);  // cancelled
  EXPECT_EQ(w.Edit()->currentCharFormat().foreground().color(), QColor(0, 255, 0));
  w.RunCommand(CommentCommand::BackgroundColor);
  EXPECT_EQ(w.Edit()->palette().color(QPalette::Base), QColor(0x12, 0x34, 0x56));
  w.RunCommand(CommentCommand::BackgroundColor);  // cancelled: back to the system colour
  EXPECT_EQ(w.Edit()->palette().color(QPalette::Base),
            QApplication::palette().color(QPalette::Base));
  // Text chooser runs saw 0, 1, 2 in their first custom colour; the
  // background chooser's own set started from 0 again.
  ASSERT_EQ(choosers.CustomSeen.size(), 5u);
  EXPECT_EQ(choosers.CustomSeen[0][0], 0u);
  EXPECT_EQ(choosers.CustomSeen[1][0], 0x010101u);
  EXPECT_EQ(choosers.CustomSeen[2][0], 0x020202u);
  EXPECT_EQ(choosers.CustomSeen[3][0], 0u);
  EXPECT_EQ(choosers.CustomSeen[4][0], 0x010101u);
  EXPECT_EQ(host->State().TextCustomColors[0], 0x030303u);
}

TEST_F(CommentWindowTest, SaveAndLoadWriteTheBackupOnlyAfterSuccess) {
  CommentWindow& w = Open();
  TempDir elsewhere;
  const std::string saved = elsewhere.File("note.rtf");
  w.Edit()->setPlainText(QStringLiteral("first note"));

  // Cancelled choosers write nothing.
  w.RunCommand(CommentCommand::Save);
  w.RunCommand(CommentCommand::Load);
  EXPECT_FALSE(std::filesystem::exists(Backup()));

  choosers.Files = {saved};
  w.RunCommand(CommentCommand::Save);
  EXPECT_EQ(choosers.Folders.back(), project.Path()) << "choosers start in the project folder";
  ASSERT_TRUE(RtfReader::LooksLikeRtf(ReadWholeFile(saved)));
  EXPECT_EQ(ReadWholeFile(Backup()), ReadWholeFile(saved));

  // Clear, then load the saved file back.
  w.RunCommand(CommentCommand::Clear);
  EXPECT_EQ(Text(), QString());
  // What is typed next is 10-point Arial, as the empty document says.
  EXPECT_DOUBLE_EQ(w.Edit()->currentCharFormat().fontPointSize(), 10.0);
  EXPECT_EQ(w.Edit()->currentCharFormat().fontFamilies().toStringList(),
            QStringList{QStringLiteral("Arial")});
  std::filesystem::remove(Backup());
  choosers.Files = {saved};
  w.RunCommand(CommentCommand::Load);
  EXPECT_EQ(Text(), QStringLiteral("first note"));
  EXPECT_TRUE(std::filesystem::exists(Backup())) << "a successful load writes the backup";

  // A file that cannot be read leaves the text and writes no backup.
  std::filesystem::remove(Backup());
  choosers.Files = {elsewhere.File("missing.rtf"), elsewhere.Path()};
  w.RunCommand(CommentCommand::Load);
  w.RunCommand(CommentCommand::Load);
  EXPECT_EQ(Text(), QStringLiteral("first note"));
  EXPECT_FALSE(std::filesystem::exists(Backup()));

  // Plain text loads as text.
  ASSERT_TRUE(WriteWholeFile(elsewhere.File("plain.txt"), "line one\nline two\n"));
  choosers.Files = {elsewhere.File("plain.txt")};
  w.RunCommand(CommentCommand::Load);
  EXPECT_EQ(Text(), QStringLiteral("line one\nline two\n"));

  // A save that cannot write its file still leaves the old one whole.
  choosers.Files = {elsewhere.Path() + "/no/such/folder/x.rtf"};
  w.RunCommand(CommentCommand::Save);
  EXPECT_FALSE(std::filesystem::exists(elsewhere.Path() + "/no/such/folder/x.rtf"));
}

TEST_F(CommentWindowTest, SetSizeToMovieSizeUsesTheClipThenTheResizeSize) {
  CommentWindow& w = Open();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  w.move(screen.width() - 50, screen.height() - 40);
  sizes = {true, 240, 160, true, 100, 80};
  w.RunCommand(CommentCommand::MovieSize);
  EXPECT_EQ(w.frameGeometry(), QRect(screen.width() - 240, screen.height() - 160, 240, 160));
  sizes.ClipOpen = false;
  w.move(10, 10);
  w.RunCommand(CommentCommand::MovieSize);
  EXPECT_EQ(w.frameGeometry(), QRect(10, 10, 100, 80));
  sizes.ResizeFGWindow = false;
  w.RunCommand(CommentCommand::MovieSize);
  EXPECT_EQ(w.frameGeometry(), QRect(10, 10, 100, 80)) << "no size source: nothing happens";
}

TEST_F(CommentWindowTest, MoveShowsTheTitleBarOnlyForTheMove) {
  CommentWindow& w = Open();
  w.RunCommand(CommentCommand::BorderLeftTop);
  const QPoint start = w.pos();
  w.RunCommand(CommentCommand::Move);
  EXPECT_TRUE(w.TitleBarShown());
  EXPECT_TRUE(w.mask().isEmpty()) << "full rectangle while the title bar shows";
  QTest::keyClick(&w, Qt::Key_Right);
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_FALSE(w.TitleBarShown()) << "the temporary title bar goes again";
  EXPECT_EQ(w.pos(), start) << "Esc puts the window back";
  EXPECT_FALSE(w.mask().isEmpty());
  // A title bar the user showed stays after a move.
  w.RunCommand(CommentCommand::ToggleTitleBar);
  w.RunCommand(CommentCommand::Move);
  QTest::keyClick(&w, Qt::Key_Down);
  QTest::keyClick(&w, Qt::Key_Return);
  EXPECT_TRUE(w.TitleBarShown());
  EXPECT_EQ(w.pos(), start + QPoint(0, 8));
}

TEST_F(CommentWindowTest, EffectsSizesFocusOptionAndShortcuts) {
  CommentWindow& w = Open();
  CommentEdit* edit = w.Edit();
  edit->setPlainText(QStringLiteral("alpha beta"));
  edit->selectAll();
  w.RunCommand(CommentCommand::Bold);
  EXPECT_GE(edit->currentCharFormat().fontWeight(), QFont::Bold);
  w.RunCommand(CommentCommand::Bold);
  EXPECT_LT(edit->currentCharFormat().fontWeight(), QFont::DemiBold);
  w.RunCommand(CommentCommand::Strikeout);
  EXPECT_TRUE(edit->currentCharFormat().fontStrikeOut());
  w.RunCommand(CommentCommand::Size05);
  EXPECT_DOUBLE_EQ(edit->currentCharFormat().fontPointSize(), 36.0);
  w.RunCommand(CommentCommand::Size01);
  EXPECT_DOUBLE_EQ(edit->currentCharFormat().fontPointSize(), 7.2);

  w.RunCommand(CommentCommand::AllowAlone);
  EXPECT_TRUE(host->AllowCommentWindowAlone());
  w.RunCommand(CommentCommand::AvoidAlone);
  EXPECT_FALSE(host->AllowCommentWindowAlone());

  QTest::keyClick(edit, Qt::Key_E, Qt::ControlModifier);
  EXPECT_EQ(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  QTest::keyClick(edit, Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  QTest::keyClick(edit, Qt::Key_2, Qt::ControlModifier);
  EXPECT_EQ(edit->textCursor().blockFormat().lineHeight(), 200);
  QTest::keyClick(edit, Qt::Key_1, Qt::ControlModifier);
  EXPECT_EQ(edit->textCursor().blockFormat().lineHeightType(), QTextBlockFormat::SingleHeight);
  QTest::keyClick(edit, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_NE(edit->textCursor().block().textList(), nullptr);
  QTest::keyClick(edit, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(edit->textCursor().block().textList(), nullptr);
  QTest::keyClick(edit, Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_EQ(edit->currentCharFormat().verticalAlignment(), QTextCharFormat::AlignSubScript);
  QTest::keyClick(edit, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(edit->currentCharFormat().verticalAlignment(), QTextCharFormat::AlignSuperScript);
}

// What a recording shows of a freshly opened window: the help text from its
// first line, no scroll bar, and the shortcut lines in their columns.
TEST_F(CommentWindowTest, HelpTextOpensAtItsStartWithoutScrollBars) {
  CommentWindow& w = Open();
  CommentEdit* edit = w.Edit();
  ASSERT_TRUE(PumpUntil([&w] { return w.isVisible(); }));
  QCoreApplication::processEvents();
  EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_FALSE(edit->verticalScrollBar()->isVisible()) << "no scroll bar to be recorded";
  EXPECT_FALSE(edit->horizontalScrollBar()->isVisible());
  EXPECT_EQ(edit->textCursor().position(), 0) << "the caret starts before the text";
  EXPECT_EQ(edit->verticalScrollBar()->value(), 0) << "the first line shows";

  // The help text is taller than the window: it still scrolls with the caret
  // and with the wheel.
  ASSERT_GT(edit->verticalScrollBar()->maximum(), 0);
  const QRect viewport = edit->viewport()->rect();
  edit->moveCursor(QTextCursor::End);
  EXPECT_GT(edit->verticalScrollBar()->value(), 0);
  EXPECT_TRUE(viewport.contains(edit->cursorRect())) << "the caret at the end shows";
  edit->moveCursor(QTextCursor::Start);
  EXPECT_TRUE(viewport.contains(edit->cursorRect())) << "the caret at the start shows";
  const QPointF at(20, 20);
  QWheelEvent wheel(at, edit->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(edit->viewport(), &wheel);
  EXPECT_GT(edit->verticalScrollBar()->value(), 0) << "the wheel scrolls";
  EXPECT_FALSE(edit->verticalScrollBar()->isVisible());

  // Cleared or loaded contents start at their beginning too.
  w.RunCommand(CommentCommand::Clear);
  EXPECT_FALSE(edit->verticalScrollBar()->isVisible());
  EXPECT_EQ(edit->textCursor().position(), 0);
}

TEST_F(CommentWindowTest, TabsStopEveryHalfInchSoShortcutLinesKeepTheirColumns) {
  CommentWindow& w = Open();
  CommentEdit* edit = w.Edit();
  const double stop = edit->logicalDpiX() / 2.0;  // 720 twips
  EXPECT_DOUBLE_EQ(edit->tabStopDistance(), stop);
  ASSERT_TRUE(PumpUntil([&w] { return w.isVisible(); }));
  QCoreApplication::processEvents();

  // Where the action of each shortcut line starts, and in how many lines
  // the line is laid out.
  int checked = 0;
  for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next()) {
    const QString text = block.text();
    const int tabs = text.count(QLatin1Char('\t'));
    if (tabs == 0) continue;
    const int action = text.lastIndexOf(QLatin1Char('\t')) + 1;
    QTextLayout* layout = block.layout();
    ASSERT_NE(layout, nullptr);
    const QTextLine line = layout->lineForTextPosition(action);
    ASSERT_TRUE(line.isValid()) << text.toStdString();
    const double start = layout->lineAt(0).cursorToX(0);
    const double keys = layout->lineAt(0).cursorToX(text.indexOf(QLatin1Char('\t'))) - start;
    const double x = line.cursorToX(action) - start;
    // The first tab goes to the next stop after the keys, each further one a
    // stop on.
    const double expected = (std::floor(keys / stop) + tabs) * stop;
    EXPECT_NEAR(x, expected, 1.0) << text.toStdString() << ", keys " << keys << " wide";
    if (expected <= 3 * stop) {
      EXPECT_EQ(layout->lineCount(), 1) << text.toStdString() << " wraps";
    }
    ++checked;
  }
  EXPECT_EQ(checked, 10);

  // New contents keep the stops.
  w.RunCommand(CommentCommand::Clear);
  EXPECT_DOUBLE_EQ(edit->document()->defaultTextOption().tabStopDistance(), stop);
}

// The program's own font chooser, answered as a person would: a font and a
// colour from its "Color:" row, then Enter or Esc where the font is chosen.
// The text gets both, or nothing when cancelled.
TEST_F(CommentWindowTest, RealFontChooserOffersTheTextColour) {
  QtCommentChoosers real;
  services.Choosers = &real;
  CommentWindow& w = Open();
  w.Edit()->selectAll();
  std::string problems;
  // One chooser run: picks `colour`, then presses `key` in the font list
  // (inList) or elsewhere in the font part, as from its size field.
  const auto run = [&](const QString& colour, Qt::Key key, bool inList) {
    int answered = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr) return;
      if (++answered > 1) {
        // Still open after the answer: close it, so that the test goes on.
        problems += "the key left the chooser open; ";
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        return;
      }
      auto* fonts = qobject_cast<QFontDialog*>(modal);
      if (fonts == nullptr) fonts = modal->findChild<QFontDialog*>();
      if (fonts == nullptr) problems += "no font chooser; ";
      if (fonts != nullptr) {
        QFont font(QStringLiteral("DejaVu Serif"));
        font.setPointSize(20);
        font.setItalic(true);
        fonts->setCurrentFont(font);
      }
      QComboBox* colours = nullptr;
      for (QLabel* label : modal->findChildren<QLabel*>()) {
        if (label->text().remove(QLatin1Char('&')) == QStringLiteral("Color:")) {
          colours = qobject_cast<QComboBox*>(label->buddy());
        }
      }
      if (colours == nullptr) {
        problems += "no colour row; ";
        QTest::keyClick(modal, Qt::Key_Escape);
        return;
      }
      if (colours->currentText() != QStringLiteral("Black")) problems += "not black at first; ";
      colours->setCurrentIndex(colours->findText(colour));
      QWidget* target = fonts != nullptr ? fonts : modal;
      if (inList && fonts != nullptr && fonts->focusWidget() != nullptr) {
        target = fonts->focusWidget();
      }
      QTest::keyClick(target, key);
    });
    answer.start(10);
    w.RunCommand(CommentCommand::Font);
    answer.stop();
    if (answered != 1) problems += "answered " + std::to_string(answered) + " choosers; ";
  };

  run(QStringLiteral("Red"), Qt::Key_Return, true);
  EXPECT_EQ(problems, "");
  QTextCharFormat format = w.Edit()->currentCharFormat();
  EXPECT_EQ(format.foreground().color(), QColor(255, 0, 0));
  EXPECT_TRUE(format.fontItalic());
  EXPECT_EQ(host->State().RememberedFont.Color, 0xFF0000u);

  run(QStringLiteral("Blue"), Qt::Key_Return, false);
  EXPECT_EQ(problems, "");
  EXPECT_EQ(w.Edit()->currentCharFormat().foreground().color(), QColor(0, 0, 255));

  run(QStringLiteral("Lime"), Qt::Key_Escape, false);
  EXPECT_EQ(problems, "");
  EXPECT_EQ(w.Edit()->currentCharFormat().foreground().color(), QColor(0, 0, 255))
      << "cancelled: nothing changes";
  EXPECT_EQ(host->State().RememberedFont.Color, 0x0000FFu);
}

// A save that fails half-way (here: the file may not grow past 4 KiB) keeps
// the file it would have replaced, byte for byte, and leaves nothing beside.
TEST_F(CommentWindowTest, FailedSaveKeepsTheOldFileWhole) {
  CommentWindow& w = Open();
  TempDir elsewhere;
  const std::string saved = elsewhere.File("note.rtf");
  std::string old = "{\\rtf1\\ansi old note ";
  old += std::string(3000, 'o') + "}";
  ASSERT_TRUE(WriteWholeFile(saved, old));
  const std::string oldBackup = "{\\rtf1 old backup}";
  ASSERT_TRUE(WriteWholeFile(Backup(), oldBackup));
  QString big;
  for (int i = 0; i < 4000; ++i) big += QStringLiteral("new words ");
  w.Edit()->setPlainText(big);

  choosers.Files = {saved};
  const std::string child = RunInChild(
      [&] {
        w.RunCommand(CommentCommand::Save);
        return std::string("saved");
      },
      4096);
  ASSERT_EQ(child, "saved");
  EXPECT_EQ(ReadWholeFile(saved), old);
  EXPECT_EQ(ReadWholeFile(Backup()), oldBackup);
  for (const TempDir* dir : {&elsewhere, &project}) {
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir->Path())) {
      ++entries;
    }
    EXPECT_EQ(entries, 1) << "no half-written file left in " << dir->Path();
  }

  // Without the limit the same save replaces both.
  choosers.Files = {saved};
  w.RunCommand(CommentCommand::Save);
  EXPECT_NE(ReadWholeFile(saved).find("new words new words"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(Backup()), ReadWholeFile(saved));
}

}  // namespace
}  // namespace framory
