#include "ui/MainDialog.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>

#include "app/CommandHost.h"
#include "app/Launchers.h"
#include "app/RecorderCommands.h"
#include "ui/DialogServices.h"
#include "ui/DialogTemplate.h"
#include "ui/DialogText.h"
#include "ui/OutputFormatDialog.h"
#include "ui/ToolsDialog.h"
#include "ui/UiState.h"

namespace framory {

namespace {

using K = ControlKind;
using namespace MessageBoxFlags;

constexpr int kRecordMovie = 1003;
constexpr int kCaptureBitmaps = 1022;
constexpr int kBroadcast = 1042;
constexpr int kFormatSettings = 1037;
constexpr int kDesktop = 1006;
constexpr int kMainWindow = 1007;
constexpr int kForeground = 1008;
constexpr int kInnerWindow = 1009;
constexpr int kArea = 1063;
constexpr int kCapturePeriodically = 1015;
constexpr int kRateEdit = 1016;
constexpr int kPrintScreen = 1014;
constexpr int kMouseClick = 1011;
constexpr int kWindowsEvent = 1012;
constexpr int kAnyKey = 1013;
constexpr int kShowCursor = 1010;
constexpr int kRestoreMouse = 1033;
constexpr int kResizeWindows = 1017;
constexpr int kWidthEdit = 1018;
constexpr int kHeightEdit = 1019;
constexpr int kNewProject = 1028;
constexpr int kNewClip = 1034;
constexpr int kPlayLast = 1036;
constexpr int kBrowseResults = 1021;
constexpr int kStopAndExit = 2;
constexpr int kTools = 1035;
constexpr int kOpenComment = 1029;
constexpr int kHide = 1;
constexpr int kRateLabel = 1027;
constexpr int kCaptureGroup = 1026;
constexpr int kSizeToMovie = 1067;
constexpr int kChordHint = 1068;
constexpr int kViewHint = 1069;

// The Wayland session's lines in place of the chord hints: why the input
// triggers are unavailable, and what still works.
constexpr char kWaylandTriggersText[] =
    "Wayland gives programs no clicks, keys, window events or Print Screen: only the timer "
    "works.";
constexpr char kWaylandChordsText[] =
    "The Ctrl and Shift chords work only while a window of an X11 program has the focus.";

constexpr int kRadioButtons[] = {kRecordMovie, kCaptureBitmaps, kBroadcast,   kDesktop,
                                 kMainWindow,  kForeground,     kInnerWindow, kArea};

struct TriggerBox {
  int Id;
  Trigger Which;
};
constexpr TriggerBox kTriggerBoxes[] = {{kMouseClick, Trigger::Click},
                                        {kPrintScreen, Trigger::PrintScreen},
                                        {kCapturePeriodically, Trigger::Timer},
                                        {kWindowsEvent, Trigger::WinEvent},
                                        {kAnyKey, Trigger::Key}};

struct OptionBox {
  int Id;
  Option Which;
};
constexpr OptionBox kOptionBoxes[] = {{kSizeToMovie, Option::SizeWindowToMovieSize},
                                      {kResizeWindows, Option::ResizeFGWindow},
                                      {kRestoreMouse, Option::RestoreMouse},
                                      {kShowCursor, Option::PutCursorInBitmap}};

struct FocusButton {
  int Id;
  CaptureFocus Focus;
};
constexpr FocusButton kFocusButtons[] = {{kDesktop, CaptureFocus::Desktop},
                                         {kMainWindow, CaptureFocus::MainWindow},
                                         {kForeground, CaptureFocus::ForegroundWindow},
                                         {kInnerWindow, CaptureFocus::InnerWindow},
                                         {kArea, CaptureFocus::Area}};

struct FamilyButton {
  int Id;
  OutputChoice Family;
};
constexpr FamilyButton kFamilyButtons[] = {{kRecordMovie, OutputChoice::Movie},
                                           {kCaptureBitmaps, OutputChoice::Pictures},
                                           {kBroadcast, OutputChoice::Broadcast}};

// The recorder command of a control that has one.
std::optional<RecorderCommand> CommandOf(int id) {
  for (const TriggerBox& box : kTriggerBoxes) {
    if (box.Id == id) return Commands::SwitchTrigger{box.Which};
  }
  for (const OptionBox& box : kOptionBoxes) {
    if (box.Id == id) return Commands::SwitchOption{box.Which};
  }
  for (const FocusButton& button : kFocusButtons) {
    if (button.Id == id) return Commands::ChooseFocus{button.Focus};
  }
  for (const FamilyButton& button : kFamilyButtons) {
    if (button.Id == id) return Commands::ChooseOutputFamily{button.Family};
  }
  if (id == kNewClip) return Commands::NewClip{};
  return std::nullopt;
}

// The dialog's services as the recorder commands see them: the commands'
// boxes are this dialog's boxes.
class DialogCommandHost : public CommandHost, public MessageBoxService {
 public:
  explicit DialogCommandHost(DialogServices& services) : services_(services) {}
  bool Paused() const override { return services_.Paused(); }
  void TogglePause() override { services_.TogglePause(); }
  bool AnyTriggerEnabled() const override { return services_.AnyTriggerEnabled(); }
  void ClearMousePosSaved() override { services_.ClearMousePosSaved(); }
  bool ClipOpen() const override { return services_.ClipOpen(); }
  void EndClip() override { services_.EndClip(); }
  void ForgetResizedWindow() override { services_.ForgetResizedWindow(); }
  void ArmMarking(bool arm) override { services_.ArmMarking(arm); }
  bool MarksByDragging() const override { return services_.MarksByDragging(); }
  int Show(const std::string& text, const std::string& caption, std::uint32_t flags) override {
    return services_.MessageBox(text, caption, flags);
  }

 private:
  DialogServices& services_;
};

}  // namespace

MainDialog::MainDialog(Settings& settings, DialogServices& services, Launchers& launchers,
                       UiState& state, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      services_(services),
      launchers_(launchers),
      state_(state) {
  BuildDialog(
      this, QString::fromLatin1(kTitle), 317, 214,
      {
          {kRecordMovie, K::RadioButton, "Record Movie Clips", 15, 18, 76, 10},
          {kCaptureBitmaps, K::RadioButton, "Capture a Series of Bitmap Files", 92, 18, 117, 10},
          {kBroadcast, K::RadioButton, "Broadcast", 210, 18, 48, 10},
          {kFormatSettings, K::PushButton, "Settings..", 259, 16, 43, 14},
          {kDesktop, K::RadioButton, "Desktop", 15, 50, 42, 10},
          {kMainWindow, K::RadioButton, "Main Window", 62, 50, 58, 10},
          {kForeground, K::RadioButton, "Foreground Window", 125, 50, 81, 10},
          {kInnerWindow, K::RadioButton, "Inner Window", 211, 50, 59, 10},
          {kArea, K::RadioButton, "Area", 275, 50, 31, 10},
          {kCapturePeriodically, K::CheckBox, "Capture periodically", 15, 94, 79, 10},
          {kRateEdit, K::NumberEdit, "", 102, 77, 40, 14},
          {kPrintScreen, K::CheckBox, "Ctrl-Print Screen", 97, 94, 69, 10},
          {kMouseClick, K::CheckBox, "Mouse Click", 15, 79, 53, 10},
          {kWindowsEvent, K::CheckBox, "Windows Event", 169, 94, 65, 10},
          {kAnyKey, K::CheckBox, "Any key pressed", 237, 94, 69, 10},
          {kShowCursor, K::CheckBox, "Show Mouse Cursor", 16, 123, 79, 10},
          {kRestoreMouse, K::CheckBox, "Restore Mouse Position on Resume", 16, 135, 128, 10},
          {kResizeWindows, K::CheckBox, "Resize Windows to", 119, 123, 76, 10},
          {kWidthEdit, K::NumberEdit, "", 197, 121, 40, 14},
          {kHeightEdit, K::NumberEdit, "", 258, 121, 40, 14},
          {kNewProject, K::PushButton, "New Project", 7, 155, 56, 14},
          {kNewClip, K::PushButton, "New / End Movie Clip", 67, 155, 73, 14},
          {kPlayLast, K::PushButton, "Play / View Last Result", 162, 155, 83, 14},
          {kBrowseResults, K::PushButton, "Browse Results", 249, 155, 61, 14},
          {kStopAndExit, K::PushButton, "Stop and Exit", 7, 193, 56, 14},
          {kTools, K::PushButton, "Tools..", 67, 193, 73, 14},
          {kOpenComment, K::PushButton, "Open Comment Window", 162, 193, 83, 14},
          {kHide, K::DefaultPushButton, "Hide this Window", 249, 193, 61, 14},
          {kNoControlId, K::GroupBox, "Output Type", 7, 7, 303, 28},
          {kNoControlId, K::GroupBox, "Focus Camera On", 7, 39, 303, 26},
          {kRateLabel, K::Static, "/ 1000 seconds.", 148, 79, 154, 8},
          {kCaptureGroup, K::GroupBox, "Capture On", 7, 68, 303, 41},
          {kNoControlId, K::GroupBox, "Other Options", 7, 112, 303, 39},
          {kNoControlId, K::Static, "by", 243, 123, 9, 8},
          {kChordHint, K::StaticCentered,
           "Hold Ctrl and press Shift to start, pause or resume recording at any time from "
           "anywhere.",
           15, 173, 286, 8},
          {kViewHint, K::StaticCentered,
           "Hold Shift and press Ctrl to show or hide this view. This may also pause recording.",
           27, 181, 263, 8},
          {kNoControlId, K::Static, "Rate:", 77, 79, 19, 8},
          {kSizeToMovie, K::CheckBox, "Resize Windows to Existing Movie Size", 150, 135, 138, 10},
      });

  for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
    const int id = button->property("controlId").toInt();
    if (id == kNoControlId) continue;
    const bool radio = std::find(std::begin(kRadioButtons), std::end(kRadioButtons), id) !=
                       std::end(kRadioButtons);
    connect(button, &QAbstractButton::clicked, this,
            [this, id, radio] { radio ? RadioClicked(id) : Command(id); });
  }
  for (int id : {kRateEdit, kWidthEdit, kHeightEdit}) {
    connect(FindControlAs<QLineEdit>(this, id), &QLineEdit::textChanged, this,
            [this, id] { EditChanged(id); });
  }

  Fill();
  if (state_.WaylandSession) ShowWaylandLimits();
  CenterOnScreen(this);
}

void MainDialog::ShowWaylandLimits() {
  // The boxes keep their settings, which still apply to X11 windows; they
  // cannot be changed here, and say why when pointed at.
  for (const TriggerBox& box : kTriggerBoxes) {
    if (box.Which == Trigger::Timer) continue;
    QWidget* control = FindControl(this, box.Id);
    control->setEnabled(false);
    control->setToolTip(QString::fromLatin1(kWaylandTriggersText));
  }
  FindControlAs<QLabel>(this, kChordHint)->setText(QString::fromLatin1(kWaylandTriggersText));
  FindControlAs<QLabel>(this, kViewHint)->setText(QString::fromLatin1(kWaylandChordsText));
}

void MainDialog::SetChecked(int id, bool checked) {
  FindControlAs<QAbstractButton>(this, id)->setChecked(checked);
}

void MainDialog::SetOutputButtons() {
  const std::optional<OutputChoice> family = OutputChoiceOf(settings_.OutputType());
  for (const FamilyButton& button : kFamilyButtons) SetChecked(button.Id, button.Family == family);
}

void MainDialog::SetFocusButtons() {
  const CaptureFocus focus = CaptureFocusOf(settings_);
  for (const FocusButton& button : kFocusButtons) SetChecked(button.Id, button.Focus == focus);
}

void MainDialog::Fill() {
  filling_ = true;
  SetOutputButtons();
  if (state_.FirstFill) Run(Commands::ImposeFamilyTriggers{});
  const bool movie = IsMovieOutputType(settings_.OutputType());
  FindControlAs<QGroupBox>(this, kCaptureGroup)
      ->setTitle(movie ? QStringLiteral("Frame Rate") : QStringLiteral("Capture On"));

  for (const TriggerBox& box : kTriggerBoxes) SetChecked(box.Id, TriggerOn(settings_, box.Which));
  for (const OptionBox& box : kOptionBoxes) SetChecked(box.Id, OptionOn(settings_, box.Which));
  SetFocusButtons();

  FindControlAs<QLineEdit>(this, kWidthEdit)->setText(QString::number(settings_.ResizeFGWindowX()));
  FindControlAs<QLineEdit>(this, kHeightEdit)
      ->setText(QString::number(settings_.ResizeFGWindowY()));
  FindControlAs<QLineEdit>(this, kRateEdit)->setText(QString::number(settings_.TimerValue()));
  RebuildRateLabel();
  state_.FirstFill = false;
  filling_ = false;
}

void MainDialog::RebuildRateLabel() {
  FindControlAs<QLabel>(this, kRateLabel)
      ->setText(QString::fromStdString(RateLabelText(settings_.TimerValue())));
}

void MainDialog::RefreshTitle() {
  if (refreshingTitle_) return;
  refreshingTitle_ = true;
  const bool clipOpen = services_.ClipOpen();
  FindControl(this, kFormatSettings)->setEnabled(!clipOpen);
  FindControl(this, kNewClip)->setEnabled(clipOpen);
  FindControl(this, kPlayLast)->setEnabled(!services_.LastResult().empty());
  FindControl(this, kRateEdit)->setEnabled(!clipOpen);
  setWindowTitle(
      QString::fromStdString(TitleWithState(windowTitle().toStdString(), services_.Paused())));
  refreshingTitle_ = false;
}

int MainDialog::Ask(const char* text, const char* caption, unsigned style) {
  return services_.MessageBox(text, caption, style);
}

void MainDialog::RadioClicked(int id) {
  // One group of eight automatic radio buttons: the clicked one is checked
  // and the seven others cleared; the command then restores the other row.
  for (int other : kRadioButtons) SetChecked(other, other == id);
  Command(id);
}

void MainDialog::EditChanged(int id) {
  if (filling_) return;
  const std::string text = FindControlAs<QLineEdit>(this, id)->text().toStdString();
  if (id == kRateEdit) {
    if (const auto value = TimerValueFromText(text)) {
      settings_.SetTimerValue(*value);
      RebuildRateLabel();
    }
  } else if (const auto size = WindowSizeFromText(text)) {
    id == kWidthEdit ? settings_.SetResizeFGWindowX(*size) : settings_.SetResizeFGWindowY(*size);
  }
}

void MainDialog::reject() { Command(kStopAndExit); }

void MainDialog::closeEvent(QCloseEvent* event) {
  // Left to QDialog the close would reject the dialog and so end the program.
  event->ignore();
  if (isVisible()) Command(kHide);
}

void MainDialog::CloseSelf() {
  hide();
  if (closeHandler_) closeHandler_();
}

CommandResult MainDialog::Run(RecorderCommand command) {
  DialogCommandHost host(services_);
  RecorderCommands commands(settings_, host, host);
  for (;;) {
    CommandResult result = commands.Apply(command);
    ShowResult(command, result);
    if (!result.Then) return result;
    command = *result.Then;
  }
}

void MainDialog::ShowResult(const RecorderCommand& command, const CommandResult& result) {
  if (const auto* trigger = std::get_if<Commands::SwitchTrigger>(&command)) {
    for (const TriggerBox& box : kTriggerBoxes) {
      if (box.Which == trigger->Which) SetChecked(box.Id, TriggerOn(settings_, box.Which));
    }
  } else if (const auto* option = std::get_if<Commands::SwitchOption>(&command)) {
    for (const OptionBox& box : kOptionBoxes) {
      if (box.Which == option->Which) SetChecked(box.Id, OptionOn(settings_, box.Which));
    }
  } else if (std::holds_alternative<Commands::ChooseFocus>(command)) {
    // The focus click cleared the output row of the one radio group.
    SetFocusButtons();
    SetOutputButtons();
  }
  if (result.Refill) Fill();
  if (result.RefreshTitle) RefreshTitle();
}

void MainDialog::Command(int id) {
  if (const std::optional<RecorderCommand> command = CommandOf(id)) {
    Run(*command);
    return;
  }
  switch (id) {
    case kHide:
      CloseSelf();
      Run(Commands::LeaveView{});
      break;
    case kStopAndExit:
      state_.ExitRequested = true;
      CloseSelf();
      services_.PostMainMessage(kDestroyWindowMessage);
      break;
    case kBrowseResults:
      services_.OpenPath(settings_.ProjectFolder());
      break;
    case kNewProject:
      CloseSelf();
      services_.PostMainMessage(MainWindowMessages::NewProject);
      break;
    case kOpenComment:
      services_.PostMainMessage(MainWindowMessages::OpenCommentWindow);
      break;
    case kTools:
      RunOwnedDialog(new ToolsDialog(settings_, services_, launchers_, this));
      break;
    case kPlayLast:
      PlayLastResult();
      break;
    case kFormatSettings:
      RunOwnedDialog(new OutputFormatDialog(settings_, services_, launchers_, this));
      break;
    default:
      break;
  }
}

void MainDialog::RunOwnedDialog(QDialog* owned) {
  // The options view can be closed from the modal dialog's own event loop
  // (the tray, the key chord); it then takes the owned dialog with it, so
  // that dialog lives on the heap and is deleted here only if it still
  // exists. Nothing of this dialog is touched after the run.
  QPointer<QDialog> guard(owned);
  owned->exec();
  delete guard.data();
}

void MainDialog::PlayLastResult() {
  if (Run(Commands::EndClipToView{}).Declined) return;
  const std::string last = services_.LastResult();
  const FailureBox failure{"Unable to open the last file result.", "Unable to Open",
                           IconInformation | SystemModal};
  if (!last.empty() && !services_.OpenPath(last, failure)) {
    Ask(failure.Text.c_str(), failure.Caption.c_str(), failure.Style);
  }
}

}  // namespace framory
