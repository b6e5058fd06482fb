#include "app/RecorderCommands.h"

#include <iterator>

#include "writers/OutputFormats.h"

namespace framory {

using namespace MessageBoxFlags;

// The players and the address command are the ones a Linux machine has.
const char* const kBroadcastInstructions =
    "Once you press Ctrl and then Shift to start recording, clients over a\nnetwork will be able "
    "to receive the broadcast by starting VLC, mpv or any player that reads a network "
    "stream\nand opening the following url from it: "
    "http://YourIPAddressOrMachineName:8080"
    ". \nYou can run ip addr in a terminal to obtain your IP address or use the machine "
    "name.";

namespace {

// The output type a change to the picture family starts with.
constexpr std::int32_t kPicturesOnFamilyChange = OutputTypes::Png;

// A boolean settings field by its getter and setter.
struct Flag {
  bool (Settings::*Get)() const;
  void (Settings::*Set)(bool);
};

// In the order of the Trigger values.
constexpr Flag kTriggerFlags[] = {
    {&Settings::TakeShotOnClick, &Settings::SetTakeShotOnClick},
    {&Settings::TakeShotOnPrintScreen, &Settings::SetTakeShotOnPrintScreen},
    {&Settings::TakeShotOnTimer, &Settings::SetTakeShotOnTimer},
    {&Settings::TakeShotOnWinEvent, &Settings::SetTakeShotOnWinEvent},
    {&Settings::TakeShotOnKey, &Settings::SetTakeShotOnKey}};
// In the order of the Option values.
constexpr Flag kOptionFlags[] = {
    {&Settings::SizeWindowToMovieSize, &Settings::SetSizeWindowToMovieSize},
    {&Settings::ResizeFGWindow, &Settings::SetResizeFGWindow},
    {&Settings::RestoreMouse, &Settings::SetRestoreMouse},
    {&Settings::PutCursorInBitmap, &Settings::SetPutCursorInBitmap}};

static_assert(std::size(kTriggerFlags) == static_cast<std::size_t>(Trigger::Key) + 1);
static_assert(std::size(kOptionFlags) == static_cast<std::size_t>(Option::PutCursorInBitmap) + 1);

void Invert(Settings& s, const Flag& flag) { (s.*flag.Set)(!(s.*flag.Get)()); }

CommandResult TitleChanged(bool refill) {
  CommandResult result;
  result.Refill = refill;
  result.RefreshTitle = true;
  return result;
}

}  // namespace

bool TriggerOn(const Settings& s, Trigger trigger) {
  return (s.*kTriggerFlags[static_cast<int>(trigger)].Get)();
}

bool OptionOn(const Settings& s, Option option) {
  return (s.*kOptionFlags[static_cast<int>(option)].Get)();
}

std::optional<OutputChoice> OutputChoiceOf(std::int32_t outputType) {
  const OutputFormat* format = FindOutputFormat(outputType);
  if (format == nullptr) return std::nullopt;
  switch (format->Family) {
    case OutputFamily::Pictures:
      return OutputChoice::Pictures;
    case OutputFamily::Broadcast:
      return OutputChoice::Broadcast;
    default:
      return OutputChoice::Movie;
  }
}

RecorderCommands::RecorderCommands(Settings& settings, CommandHost& host, MessageBoxService& boxes)
    : settings_(settings), host_(host), boxes_(boxes) {}

CommandResult RecorderCommands::Apply(const RecorderCommand& command) {
  return std::visit([this](const auto& c) { return Run(c); }, command);
}

void RecorderCommands::AlignPause() {
  if (host_.AnyTriggerEnabled() != host_.Paused()) host_.TogglePause();
}

void RecorderCommands::PauseIfActive() {
  if (!host_.Paused()) host_.TogglePause();
}

void RecorderCommands::EndClipAndForgetResized() {
  host_.EndClip();
  host_.ForgetResizedWindow();
}

CommandResult RecorderCommands::Run(const Commands::SwitchTrigger& command) {
  Invert(settings_, kTriggerFlags[static_cast<int>(command.Which)]);
  AlignPause();
  return {};
}

CommandResult RecorderCommands::Run(const Commands::SwitchOption& command) {
  Invert(settings_, kOptionFlags[static_cast<int>(command.Which)]);
  // A position saved at the last pause is not restored after this change.
  if (command.Which == Option::RestoreMouse) host_.ClearMousePosSaved();
  return {};
}

CommandResult RecorderCommands::Run(const Commands::ChooseOutputFamily& command) {
  switch (command.Family) {
    case OutputChoice::Movie:
      // Left paused: the new clip starts with the user's Ctrl+Shift.
      PauseIfActive();
      EndClipAndForgetResized();
      settings_.SetTakeShotOnTimer(true);
      settings_.SetTakeShotOnPrintScreen(false);
      settings_.SetOutputType(DefaultMovieOutputType);
      break;
    case OutputChoice::Broadcast:
      PauseIfActive();
      EndClipAndForgetResized();
      settings_.SetTakeShotOnTimer(true);
      settings_.SetTakeShotOnPrintScreen(false);
      settings_.SetOutputType(BroadcastOutputType);
      boxes_.Show(kBroadcastInstructions, "Instructions", IconInformation | SystemModal);
      break;
    case OutputChoice::Pictures:
      // Pictures on Ctrl-Print Screen alone keep the recorder active.
      if (host_.AnyTriggerEnabled() && !host_.Paused()) host_.TogglePause();
      EndClipAndForgetResized();
      settings_.SetTakeShotOnTimer(false);
      settings_.SetTakeShotOnPrintScreen(true);
      settings_.SetOutputType(kPicturesOnFamilyChange);
      AlignPause();
      break;
  }
  return TitleChanged(true);
}

CommandResult RecorderCommands::Run(const Commands::ChooseFocus& command) {
  SetCaptureFocus(settings_, command.Focus);
  CommandResult result;
  if (command.Focus == CaptureFocus::Area) result.Then = Commands::OfferAreaMarking{};
  return result;
}

CommandResult RecorderCommands::Run(const Commands::OfferAreaMarking&) {
  const int answer = boxes_.Show(
      "Would you like to mark the area for focus now?\n(If not, then the previously defined area "
      "or the entire desktop area will be used.)",
      "Record User Specified Desktop Area", YesNo | IconQuestion | SystemModal);
  CommandResult result;
  if (answer != MessageBoxResults::Yes) {
    result.Declined = true;
    return result;
  }
  if (host_.MarksByDragging()) {
    host_.ArmMarking(true);
    return result;
  }
  boxes_.Show(
      "Right after you close this dialog box, right mouse click\nonce at one corner of the area "
      "(anywhere on the screen)\nand then right mouse click once again at opposite corner of the "
      "area.\nThe next two right mouse button clicks will define the area.",
      "How To Set User Specified Desktop Area", IconInformation | SystemModal);
  host_.ArmMarking(true);
  return result;
}

CommandResult RecorderCommands::Run(const Commands::LeaveView&) {
  // Without an automatic trigger nothing would start the recording again
  // but the chord; leaving the view resumes it.
  if (!host_.AnyTriggerEnabled() && host_.Paused()) host_.TogglePause();
  return {};
}

CommandResult RecorderCommands::Run(const Commands::NewClip&) {
  if (host_.ClipOpen()) {
    PauseIfActive();
    EndClipAndForgetResized();
    boxes_.Show("When Recording Resumes a New Movie Clip Will be Recorded.",
                "Starting New Movie Clip", IconInformation | SystemModal);
  }
  return TitleChanged(false);
}

CommandResult RecorderCommands::Run(const Commands::EndClipToView&) {
  if (host_.ClipOpen()) {
    const int answer = boxes_.Show(
        "Do you wish to end the current movie clip so you can view it?\nIf you say "
        "yes, the recorder will also go into pause mode.",
        "Busy Recording to Movie Clip", YesNo | IconInformation | SystemModal);
    if (answer != MessageBoxResults::Yes) {
      CommandResult result;
      result.Declined = true;
      return result;
    }
    PauseIfActive();
    EndClipAndForgetResized();
  }
  return TitleChanged(false);
}

CommandResult RecorderCommands::Run(const Commands::ImposeFamilyTriggers&) {
  // Movies and the broadcast start on the timer, pictures on Ctrl-Print
  // Screen, with every other trigger off. TakeShotOnAuto is not one of the
  // view's triggers and stays as loaded.
  const bool movie = !IsPictureOutputType(settings_.OutputType());
  settings_.SetTakeShotOnTimer(movie);
  settings_.SetTakeShotOnKey(false);
  settings_.SetTakeShotOnPrintScreen(!movie);
  settings_.SetTakeShotOnWinEvent(false);
  settings_.SetTakeShotOnClick(false);
  return {};
}

}  // namespace framory
