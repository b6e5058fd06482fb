// The options view driven by control id: the rate edit and its label, the
// radio group, trigger defaults, pause alignment, the title and the commands.
#include "ui/MainDialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "support/FakeDialogServices.h"
#include "support/QtGTestMain.h"
#include "ui/BroadcastTargetDialog.h"
#include "ui/DialogTemplate.h"
#include "ui/DialogText.h"
#include "ui/DialogUnits.h"
#include "ui/UiState.h"

namespace framory {
namespace {

using testing::FakeDesktop;
using testing::FakeDialogServices;

class MainDialogTest : public ::testing::Test {
 protected:
  MainDialogTest() : services(settings), launchers(desktop, "/opt/framory/framory", "") {}

  // A dialog after the first showing, so that the fill keeps the settings.
  std::unique_ptr<MainDialog> Open() {
    auto dialog = std::make_unique<MainDialog>(settings, services, launchers, state);
    dialog->SetCloseHandler([this] { ++closes; });
    dialog->RefreshTitle();
    return dialog;
  }
  std::unique_ptr<MainDialog> OpenLater() {
    state.FirstFill = false;
    return Open();
  }
  static bool Checked(const MainDialog& dialog, int id) {
    return FindControlAs<QAbstractButton>(&dialog, id)->isChecked();
  }
  static void Click(MainDialog& dialog, int id) {
    FindControlAs<QAbstractButton>(&dialog, id)->click();
  }
  static void Type(MainDialog& dialog, int id, const char* text) {
    FindControlAs<QLineEdit>(&dialog, id)->setText(QString::fromLatin1(text));
  }
  static QString Label(const MainDialog& dialog) {
    return FindControlAs<QLabel>(&dialog, 1027)->text();
  }

  Settings settings;
  FakeDialogServices services;
  FakeDesktop desktop;
  Launchers launchers;
  UiState state;
  int closes = 0;
};

TEST(RateLabelText, RendersEveryKindOfPeriod) {
  EXPECT_EQ(RateLabelText(100), "/ 1000 seconds (ca 10 frames per second)");
  EXPECT_EQ(RateLabelText(300), "/ 1000 seconds (ca 3.3 frames per second)");
  EXPECT_EQ(RateLabelText(999), "/ 1000 seconds (ca 1.0 frames per second)");
  EXPECT_EQ(RateLabelText(1000), "/ 1000 seconds (ca 1 frames per second)");
  EXPECT_EQ(RateLabelText(2000), "/ 1000 seconds (ca  every 2.0 seconds)");
  EXPECT_EQ(RateLabelText(150000), "/ 1000 seconds (ca  every 2.5 min)");
  EXPECT_EQ(RateLabelText(7200000), "/ 1000 seconds (ca  every 2.00 hr)");
  EXPECT_EQ(RateLabelText(0), "/ 1000 seconds (ca ");
  EXPECT_EQ(RateLabelText(-5), "/ 1000 seconds (ca ");
  EXPECT_EQ(RateLabelText(10), "/ 1000 seconds (ca 100 frames per second)");
}

TEST(DialogText, NumbersAreReadAsScanfReadsThem) {
  EXPECT_EQ(LeadingInteger("25abc"), 25);
  EXPECT_EQ(LeadingInteger("  -7"), -7);
  EXPECT_EQ(LeadingInteger("abc"), std::nullopt);
  EXPECT_EQ(LeadingInteger("-"), std::nullopt);
  EXPECT_EQ(LeadingInteger("99999999999"), 2147483647) << "clamped, not wrapped";
  EXPECT_EQ(TimerValueFromText("1234567890"), 1234567890);
  EXPECT_EQ(TimerValueFromText("12345678901"), std::nullopt) << "11 characters";
  EXPECT_EQ(TimerValueFromText("9999999999"), 2147483647);
  EXPECT_EQ(TimerValueFromText("0"), 10);
  EXPECT_EQ(WindowSizeFromText("12345"), 12345);
  EXPECT_EQ(WindowSizeFromText("123456"), std::nullopt);
  EXPECT_EQ(WindowSizeFromText(""), std::nullopt);
}

TEST(DialogText, TitleSuffixIsReplacedNotExtended) {
  const std::string once = TitleWithState("Desktop Framory Settings", true);
  EXPECT_EQ(once, "Desktop Framory Settings (Recording Paused)");
  EXPECT_EQ(TitleWithState(once, false), "Desktop Framory Settings (Recording Active)");
}

TEST_F(MainDialogTest, RateEditStoresRaisedValueButKeepsTheText) {
  auto dialog = OpenLater();
  Type(*dialog, 1016, "5");
  EXPECT_EQ(settings.TimerValue(), 10);
  EXPECT_EQ(Label(*dialog), "/ 1000 seconds (ca 100 frames per second)");
  EXPECT_EQ(FindControlAs<QLineEdit>(dialog.get(), 1016)->text(), "5");

  Type(*dialog, 1016, "12345678901");
  EXPECT_EQ(settings.TimerValue(), 10) << "11 characters are ignored";
  Type(*dialog, 1016, "2000");
  EXPECT_EQ(settings.TimerValue(), 2000);
  EXPECT_EQ(Label(*dialog), "/ 1000 seconds (ca  every 2.0 seconds)");
  Type(*dialog, 1016, "abc");
  Type(*dialog, 1016, "");
  EXPECT_EQ(settings.TimerValue(), 2000) << "letters and an empty text leave it";
  Type(*dialog, 1016, "300ms");
  EXPECT_EQ(settings.TimerValue(), 300);
}

TEST_F(MainDialogTest, TypingDigitsGoesThroughTheEditAsAPersonTypes) {
  auto dialog = OpenLater();
  auto* edit = FindControlAs<QLineEdit>(dialog.get(), 1016);
  edit->clear();
  QTest::keyClicks(edit, "2x5");
  EXPECT_EQ(edit->text(), "25") << "letters cannot be typed";
  EXPECT_EQ(settings.TimerValue(), 25);
}

TEST_F(MainDialogTest, ZeroPeriodFromTheStoreLeavesTheLabelOpen) {
  settings.SetTimerValue(0);
  auto dialog = OpenLater();
  EXPECT_EQ(Label(*dialog), "/ 1000 seconds (ca ");
  EXPECT_EQ(settings.TimerValue(), 0) << "the fill itself must not change the period";
}

TEST_F(MainDialogTest, SizeEditsTakeUpToFiveCharacters) {
  auto dialog = OpenLater();
  Type(*dialog, 1018, "800");
  Type(*dialog, 1019, "600px");
  EXPECT_EQ(settings.ResizeFGWindowX(), 800);
  EXPECT_EQ(settings.ResizeFGWindowY(), 600);
  Type(*dialog, 1018, "123456");
  Type(*dialog, 1019, "x");
  EXPECT_EQ(settings.ResizeFGWindowX(), 800);
  EXPECT_EQ(settings.ResizeFGWindowY(), 600);
}

TEST_F(MainDialogTest, InnerWindowIsRememberedAsItself) {
  {
    auto dialog = OpenLater();
    Click(*dialog, 1009);
    EXPECT_TRUE(settings.UseForegrounWindow());
    EXPECT_TRUE(settings.UseForegrounWindowInside());
    EXPECT_FALSE(settings.UseMainAppWindow());
    EXPECT_FALSE(settings.UseArea());
  }
  auto reopened = OpenLater();
  EXPECT_TRUE(Checked(*reopened, 1009));
  EXPECT_FALSE(Checked(*reopened, 1008));
  EXPECT_FALSE(Checked(*reopened, 1007));
}

TEST_F(MainDialogTest, OneRadioGroupButBothRowsStayShown) {
  settings.SetOutputType(BroadcastOutputType);
  auto dialog = OpenLater();
  Click(*dialog, 1006);
  EXPECT_TRUE(Checked(*dialog, 1042)) << "a focus click keeps Broadcast shown";
  EXPECT_TRUE(Checked(*dialog, 1006));
  for (int id : {1003, 1022, 1007, 1008, 1009, 1063}) EXPECT_FALSE(Checked(*dialog, id)) << id;
  EXPECT_TRUE(settings.UseDesktopWindow());
  EXPECT_EQ(settings.OutputType(), BroadcastOutputType);

  Click(*dialog, 1006);
  EXPECT_TRUE(Checked(*dialog, 1006)) << "clicking a checked radio button keeps it checked";
}

TEST_F(MainDialogTest, FirstShowingImposesTheFamilyTriggersLaterOnesKeepThem) {
  settings.SetOutputType(DefaultMovieOutputType);
  settings.SetTakeShotOnClick(true);
  settings.SetTakeShotOnKey(true);
  {
    auto dialog = Open();
    EXPECT_TRUE(Checked(*dialog, 1015));
    for (int id : {1011, 1012, 1013, 1014}) EXPECT_FALSE(Checked(*dialog, id)) << id;
    EXPECT_EQ(FindControlAs<QGroupBox>(dialog.get(), 1026)->title(), "Frame Rate");
    Click(*dialog, 1011);
  }
  auto second = Open();
  EXPECT_TRUE(Checked(*second, 1011)) << "the user's choice survives the next showing";
  EXPECT_TRUE(Checked(*second, 1015));
}

TEST_F(MainDialogTest, FirstShowingOfTheImageFamilyTicksOnlyPrintScreen) {
  settings.SetOutputType(OutputTypes::Png);
  settings.SetTakeShotOnTimer(true);
  auto dialog = Open();
  EXPECT_TRUE(Checked(*dialog, 1014));
  for (int id : {1011, 1012, 1013, 1015}) EXPECT_FALSE(Checked(*dialog, id)) << id;
  EXPECT_EQ(FindControlAs<QGroupBox>(dialog.get(), 1026)->title(), "Capture On");
  EXPECT_TRUE(Checked(*dialog, 1022));
}

TEST_F(MainDialogTest, BitmapFamilyLeavesRecorderActiveOnlyWithoutAutomaticTriggers) {
  settings.SetOutputType(DefaultMovieOutputType);
  settings.SetTakeShotOnTimer(false);
  settings.SetTakeShotOnKey(false);
  services.paused = false;
  auto dialog = OpenLater();
  Click(*dialog, 1022);
  EXPECT_FALSE(services.paused) << "only Ctrl-Print Screen: stays active";
  EXPECT_EQ(settings.OutputType(), OutputTypes::Png);
  EXPECT_TRUE(settings.TakeShotOnPrintScreen());
  EXPECT_GE(services.clipsEnded, 1);

  settings.SetTakeShotOnClick(true);
  Click(*dialog, 1022);
  EXPECT_TRUE(services.paused) << "with Mouse Click on it pauses";
}

TEST_F(MainDialogTest, TriggerBoxesAlignThePauseState) {
  settings.SetOutputType(OutputTypes::Png);
  settings.SetTakeShotOnClick(true);
  settings.SetTakeShotOnKey(false);
  services.paused = true;
  auto dialog = OpenLater();
  Click(*dialog, 1011);
  EXPECT_FALSE(settings.TakeShotOnClick());
  EXPECT_FALSE(Checked(*dialog, 1011));
  EXPECT_FALSE(services.paused) << "last automatic trigger off while paused: active";
  Click(*dialog, 1013);
  EXPECT_TRUE(settings.TakeShotOnKey());
  EXPECT_TRUE(services.paused) << "an automatic trigger on while active: paused";
  const int toggles = services.toggles;
  Click(*dialog, 1014);
  EXPECT_EQ(services.toggles, toggles) << "Ctrl-Print Screen is not an automatic trigger";
}

TEST_F(MainDialogTest, TitleShowsTheStateOnceAndFollowsTheClip) {
  auto dialog = OpenLater();
  services.onToggle = [&] { dialog->RefreshTitle(); };
  EXPECT_EQ(dialog->windowTitle(), "Desktop Framory Settings (Recording Paused)");
  services.TogglePause();
  dialog->RefreshTitle();
  EXPECT_EQ(dialog->windowTitle(), "Desktop Framory Settings (Recording Active)");

  EXPECT_FALSE(FindControl(dialog.get(), 1036)->isEnabled()) << "no last result yet";
  EXPECT_FALSE(FindControl(dialog.get(), 1034)->isEnabled());
  services.clipOpen = true;
  services.lastResult = "/tmp/movie0.avi";
  dialog->RefreshTitle();
  EXPECT_TRUE(FindControl(dialog.get(), 1034)->isEnabled());
  EXPECT_TRUE(FindControl(dialog.get(), 1036)->isEnabled());
  EXPECT_FALSE(FindControl(dialog.get(), 1037)->isEnabled());
  EXPECT_FALSE(FindControl(dialog.get(), 1016)->isEnabled());
}

TEST_F(MainDialogTest, PlayLastResultAnsweredNoChangesNothing) {
  services.clipOpen = true;
  services.paused = false;
  services.lastResult = "/tmp/movie0.avi";
  auto dialog = OpenLater();
  dialog->setWindowTitle("marker");
  services.answers = {MessageBoxResults::No};
  Click(*dialog, 1036);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].Caption, "Busy Recording to Movie Clip");
  EXPECT_EQ(services.boxes[0].Style, 0x4u | 0x40u | 0x1000u);
  EXPECT_FALSE(services.paused);
  EXPECT_EQ(services.clipsEnded, 0);
  EXPECT_TRUE(services.opened.empty());
  EXPECT_EQ(dialog->windowTitle(), "marker") << "not even the title is refreshed";

  services.answers = {MessageBoxResults::Yes};
  services.openSucceeds = false;
  Click(*dialog, 1036);
  EXPECT_TRUE(services.paused);
  EXPECT_EQ(services.clipsEnded, 1);
  ASSERT_EQ(services.opened.size(), 1u);
  EXPECT_EQ(services.opened[0], "/tmp/movie0.avi");
  ASSERT_EQ(services.boxes.size(), 3u);
  EXPECT_EQ(services.boxes[2].Text, "Unable to open the last file result.");
  EXPECT_EQ(services.boxes[2].Caption, "Unable to Open");
}

TEST_F(MainDialogTest, AreaAsksAndArmsTheMarkingOnYesOnly) {
  auto dialog = OpenLater();
  services.answers = {MessageBoxResults::No};
  Click(*dialog, 1063);
  EXPECT_TRUE(settings.UseArea());
  EXPECT_FALSE(settings.UseMainAppWindow());
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].Caption, "Record User Specified Desktop Area");
  EXPECT_EQ(services.boxes[0].Style, 0x4u | 0x20u | 0x1000u);
  EXPECT_TRUE(services.armed.empty());

  services.answers = {MessageBoxResults::Yes};
  Click(*dialog, 1063);
  ASSERT_EQ(services.boxes.size(), 3u);
  EXPECT_EQ(services.boxes[2].Caption, "How To Set User Specified Desktop Area");
  EXPECT_EQ(services.armed, std::vector<bool>{true});
  EXPECT_TRUE(Checked(*dialog, 1063));
  EXPECT_TRUE(Checked(*dialog, 1022)) << "the output row is shown again";
}

TEST_F(MainDialogTest, BroadcastPausesShowsInstructionsAndSetsTheType) {
  services.paused = false;
  auto dialog = OpenLater();
  Click(*dialog, 1042);
  EXPECT_TRUE(services.paused);
  EXPECT_EQ(settings.OutputType(), BroadcastOutputType);
  EXPECT_TRUE(settings.TakeShotOnTimer());
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].Caption, "Instructions");
  EXPECT_NE(services.boxes[0].Text.find(":8080"), std::string::npos);
  EXPECT_NE(services.boxes[0].Text.find(". \nYou can run ip addr in a terminal"),
            std::string::npos);
  EXPECT_NE(services.boxes[0].Text.find("VLC, mpv or any player that reads a network stream"),
            std::string::npos);
  EXPECT_EQ(services.boxes[0].Text.find("Windows"), std::string::npos)
      << "no Windows program is named on Linux";
  EXPECT_TRUE(Checked(*dialog, 1042));
  EXPECT_FALSE(Checked(*dialog, 1003));
}

TEST_F(MainDialogTest, RecordMovieClipsGoesToTheDefaultMovieTypePaused) {
  settings.SetOutputType(OutputTypes::Jpg);
  services.paused = false;
  auto dialog = OpenLater();
  Click(*dialog, 1003);
  EXPECT_EQ(settings.OutputType(), DefaultMovieOutputType);
  EXPECT_TRUE(services.paused);
  EXPECT_TRUE(settings.TakeShotOnTimer());
  EXPECT_FALSE(settings.TakeShotOnPrintScreen());
  EXPECT_EQ(FindControlAs<QGroupBox>(dialog.get(), 1026)->title(), "Frame Rate");
}

TEST_F(MainDialogTest, EscStopsAndExitsEnterHides) {
  settings.SetTakeShotOnKey(false);
  settings.SetTakeShotOnTimer(false);
  auto dialog = OpenLater();
  dialog->show();
  QTest::keyClick(dialog.get(), Qt::Key_Return);
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(services.paused) << "hidden with no automatic trigger: recording resumes";
  EXPECT_TRUE(services.posted.empty());

  auto second = OpenLater();
  second->show();
  QTest::keyClick(second.get(), Qt::Key_Escape);
  EXPECT_EQ(closes, 2);
  EXPECT_TRUE(state.ExitRequested);
  EXPECT_EQ(services.posted, std::vector<std::uint32_t>{kDestroyWindowMessage});
}

TEST_F(MainDialogTest, WindowManagerCloseHidesInsteadOfExiting) {
  settings.SetTakeShotOnKey(false);
  settings.SetTakeShotOnTimer(false);
  auto dialog = OpenLater();
  dialog->show();
  // What the window manager's × delivers: a spontaneous close event.
  QCloseEvent close;
  QApplication::sendEvent(dialog.get(), &close);
  EXPECT_FALSE(close.isAccepted()) << "the dialog is left to its owner, not closed by Qt";
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(state.ExitRequested);
  EXPECT_TRUE(services.posted.empty()) << "no destroy message: the program keeps running";
  EXPECT_FALSE(services.paused) << "as Hide: with no automatic trigger recording resumes";

  // Closing it while hidden does nothing more.
  EXPECT_FALSE(dialog->close());
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(services.posted.empty());
}

TEST_F(MainDialogTest, ButtonsPostToTheMainWindow) {
  auto dialog = OpenLater();
  Click(*dialog, 1029);
  EXPECT_EQ(closes, 0) << "the comment window request keeps the view";
  Click(*dialog, 1028);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(services.posted, (std::vector<std::uint32_t>{1028, 1027}));
}

TEST_F(MainDialogTest, RestoreMouseBoxForgetsTheSavedPosition) {
  auto dialog = OpenLater();
  const bool before = settings.RestoreMouse();
  Click(*dialog, 1033);
  EXPECT_EQ(settings.RestoreMouse(), !before);
  EXPECT_EQ(services.mousePosCleared, 1);
}

TEST_F(MainDialogTest, NewClipEndsAnOpenClipOnly) {
  auto dialog = OpenLater();
  Click(*dialog, 1034);
  EXPECT_EQ(services.clipsEnded, 0);
  EXPECT_TRUE(services.boxes.empty());
  services.clipOpen = true;
  services.paused = false;
  dialog->RefreshTitle();
  Click(*dialog, 1034);
  EXPECT_EQ(services.clipsEnded, 1);
  EXPECT_TRUE(services.paused);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].Text, "When Recording Resumes a New Movie Clip Will be Recorded.");
  EXPECT_EQ(services.boxes[0].Caption, "Starting New Movie Clip");
}

TEST_F(MainDialogTest, ViewClosedWhileAnOwnedDialogRunsTakesThatDialogAlong) {
  for (int id : {1035, 1037}) {
    state.FirstFill = false;
    QPointer<MainDialog> dialog = new MainDialog(settings, services, launchers, state);
    dialog->show();
    // The view is closed from inside the modal dialog's loop, as the tray
    // or the key chord may do; its deletion then happens in that loop.
    QTimer::singleShot(0, dialog.data(), [&dialog] { dialog->deleteLater(); });
    dialog->Command(id);
    EXPECT_TRUE(dialog.isNull()) << id << ": the view and its modal dialog are gone";
  }
}

TEST_F(MainDialogTest, ControlsSitAtTheirTemplatePlacesOnTheDialogBrush) {
  auto dialog = OpenLater();
  const DialogUnits units(DialogUnits::DialogFont());
  EXPECT_EQ(FindControl(dialog.get(), 1036)->geometry(), units.Rect(162, 155, 83, 14));
  EXPECT_EQ(FindControl(dialog.get(), 1016)->geometry(), units.Rect(102, 77, 40, 14));
  EXPECT_EQ(dialog->size(), QSize(units.X(317), units.Y(214)));
  EXPECT_EQ(dialog->palette().color(QPalette::Window), QColor(229, 241, 249));
  EXPECT_EQ(FindControlAs<QAbstractButton>(dialog.get(), 1)->text(), "Hide this Window");
  EXPECT_EQ(FindControlAs<QAbstractButton>(dialog.get(), 2)->text(), "Stop and Exit");
}

// The top of a group box's frame as drawn: the first row, going down its
// right edge (the caption stays to the left), that is not the dialog brush.
int FrameTop(const QImage& image, const QGroupBox* group) {
  const QRgb brush = DialogBrushColor().rgb();
  for (int y = group->y(); y <= group->geometry().bottom(); ++y) {
    for (int x = group->geometry().right() - 2; x <= group->geometry().right(); ++x) {
      if (image.pixel(x, y) != brush) return y;
    }
  }
  return -1;
}

TEST_F(MainDialogTest, GroupFramesRunAboveTheControlsTheyHold) {
  auto dialog = OpenLater();
  dialog->show();
  const DialogUnits units(DialogUnits::DialogFont());
  const QImage image = dialog->grab().toImage();
  ASSERT_EQ(image.size(), dialog->size());
  int checked = 0;
  for (QGroupBox* group : dialog->findChildren<QGroupBox*>()) {
    const int frameTop = FrameTop(image, group);
    ASSERT_GE(frameTop, 0) << group->title().toStdString() << ": a frame is drawn";
    EXPECT_LE(frameTop - group->y(), units.BaseY() / 2 + 1)
        << group->title().toStdString() << ": the frame starts half a line down";
    for (QWidget* control : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (qobject_cast<QGroupBox*>(control) != nullptr) continue;
      if (!group->geometry().contains(control->geometry().topLeft())) continue;
      ++checked;
      EXPECT_GT(control->y(), frameTop)
          << control->objectName().toStdString() << " in " << group->title().toStdString();
    }
  }
  EXPECT_GT(checked, 20) << "the controls of the four groups were looked at";
}

}  // namespace
}  // namespace framory

namespace framory {
namespace {

// Below the broadcast instructions the view offers the two broadcasts; the
// address field does not show the key once left, a mistyped address keeps
// the choice open, and OK on a good one makes the broadcast go to the server.
TEST_F(MainDialogTest, BroadcastOffersViewersOrAStreamingServerBelowTheInstructions) {
  settings.SetOutputType(DefaultMovieOutputType);
  auto dialog = OpenLater();
  Click(*dialog, 1042);
  ASSERT_EQ(services.boxes.size(), 1u) << "the instructions first";
  auto* targets = dialog->findChild<BroadcastTargetDialog*>();
  ASSERT_NE(targets, nullptr);
  EXPECT_TRUE(targets->isVisible());
  auto button = [&](const char* text) {
    for (QRadioButton* radio : targets->findChildren<QRadioButton*>()) {
      if (radio->text() == QString::fromUtf8(text)) return radio;
    }
    return static_cast<QRadioButton*>(nullptr);
  };
  QRadioButton* viewers = button("To viewers on this network (HTTP port 8080)");
  QRadioButton* server = button("To a streaming server:");
  ASSERT_NE(viewers, nullptr);
  ASSERT_NE(server, nullptr);
  EXPECT_TRUE(viewers->isChecked()) << "the broadcast chosen is the one on port 8080";
  auto* address = targets->findChild<QLineEdit*>(QStringLiteral("streamServerAddress"));
  ASSERT_NE(address, nullptr);
  EXPECT_FALSE(address->isEnabled());
  auto* remember = targets->findChild<QCheckBox*>();
  ASSERT_NE(remember, nullptr);
  EXPECT_EQ(remember->text(), QStringLiteral("Remember the address"));

  server->click();
  EXPECT_TRUE(address->isEnabled());
  EXPECT_NE(address->echoMode(), QLineEdit::Normal) << "the key is not left on the screen";
  address->setText(QStringLiteral("rtmp://live.example/app"));
  targets->accept();
  EXPECT_TRUE(targets->isVisible()) << "an address without a key is not taken";
  ASSERT_EQ(services.boxes.size(), 2u);
  EXPECT_EQ(settings.OutputType(), BroadcastOutputType);

  address->setText(QStringLiteral("rtmp://live.example/app/K3Y"));
  remember->setChecked(true);
  targets->accept();
  EXPECT_EQ(settings.OutputType(), OutputTypes::StreamServer);
  EXPECT_EQ(settings.StreamServerAddress(), "rtmp://live.example/app/K3Y");
  EXPECT_TRUE(settings.RememberStreamServerAddress());
  EXPECT_TRUE(Checked(*dialog, 1042)) << "Broadcast stays the family button";
  EXPECT_FALSE(targets->isVisible());
}

}  // namespace
}  // namespace framory
